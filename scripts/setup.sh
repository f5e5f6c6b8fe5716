#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12): the MinGW-w64 cross
# compiler, Wine (32- and 64-bit), msitools, Xvfb, GoogleTest's sources, CMake.
# Does nothing when everything is there already.
set -uo pipefail

need=()
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix g++-mingw-w64-i686)
command -v wine >/dev/null || need+=(wine wine32:i386 wine64)
[ -e /usr/lib/wine/wine ] || [ -e /usr/lib/i386-linux-gnu/wine ] || need+=(wine32:i386)
command -v wixl >/dev/null || need+=(wixl)
command -v msibuild >/dev/null || need+=(msitools)
command -v Xvfb >/dev/null || need+=(xvfb xauth)
command -v cmake >/dev/null || need+=(cmake)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
[ -f /usr/share/fonts/truetype/wqy/wqy-microhei.ttc ] || need+=(fonts-wqy-microhei)

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
$sudo apt-get install -y -qq -t bookworm --no-install-recommends \
    wine wine32:i386 wine64 g++-mingw-w64-i686-posix g++-mingw-w64-i686 msitools wixl \
    xvfb xauth googletest cmake fonts-wqy-microhei >/dev/null
status=$?
if [ $status -ne 0 ]; then
    echo "setup: apt-get install failed ($status)" >&2
    exit $status
fi
