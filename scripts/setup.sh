#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12): the MinGW-w64 cross
# compilers (i686 and x86_64), Wine (32- and 64-bit), msitools, Xvfb,
# GoogleTest's sources, CMake, a host C compiler (for a small probe) and
# qemu-user (to run the 32-bit program on a kernel without 32-bit support),
# osslsigncode and openssl (to sign the kit, and to test its signatures),
# nlohmann-json3-dev (the header-only JSON library the plan is written with),
# for the benchmark NSIS (the peer it builds) and strace (it counts the
# log's writes), and python3-jsonschema and python3-yaml (the winget manifests'
# schema check).
# Does nothing when everything is there already.
set -uo pipefail

packages=(wine wine32:i386 wine64 fonts-wine g++-mingw-w64-i686-posix g++-mingw-w64-i686
          g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64 msitools wixl xvfb xauth googletest cmake
          fonts-wqy-microhei gcc libc6-dev qemu-user-static osslsigncode openssl nlohmann-json3-dev
          nsis strace python3-jsonschema python3-yaml)
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
