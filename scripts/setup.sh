#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12): the MinGW-w64 cross
# compiler, Wine (32- and 64-bit), msitools, Xvfb, GoogleTest's sources, CMake.
# Does nothing when everything is there already.
set -uo pipefail

packages=(wine wine32:i386 wine64 fonts-wine g++-mingw-w64-i686-posix g++-mingw-w64-i686 msitools wixl
          xvfb xauth googletest cmake fonts-wqy-microhei)
need=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || need+=("$package")
done

if [ ${#need[@]} -eq 0 ]; then
    exit 0
fi

echo "setup: installing ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo dpkg --add-architecture i386
# One i386 index is not available here: apt-get update exits 100 and the rest is fine.
$sudo apt-get update -qq || true
$sudo apt-get install -y -qq -t bookworm --no-install-recommends "${packages[@]}" >/dev/null
status=$?
if [ $status -ne 0 ]; then
    echo "setup: apt-get install failed ($status)" >&2
    exit $status
fi
