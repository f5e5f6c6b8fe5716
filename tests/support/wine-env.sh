# Sourced by the scripts that run Windows programs: one Wine prefix inside the
# build tree, quiet, without the Mono and Gecko prompts, on our own X display.
#
# The build tree says which Windows programs it holds (CMake writes qz-arch:
# x86 or x64). For an x64 build only Wine's 64-bit loader is used: Debian's
# `wine` wrapper, and wineboot, winepath and msiexec, which go through it,
# start the 32-bit loader whenever wine32 is installed, and on a kernel
# without 32-bit support that fails (or runs under an emulator, if one is
# registered). The functions below replace those commands for the scripts
# that source this file.
: "${QZ_BUILD_DIR:?QZ_BUILD_DIR must name the build directory}"
mkdir -p "$QZ_BUILD_DIR"
QZ_BUILD_DIR="$(cd "$QZ_BUILD_DIR" && pwd)"
export WINEPREFIX="${QZ_WINEPREFIX:-$QZ_BUILD_DIR/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export QZ_DISPLAY="${QZ_DISPLAY:-:97}"
export DISPLAY="$QZ_DISPLAY"

QZ_ARCH="$(cat "$QZ_BUILD_DIR/qz-arch" 2>/dev/null || echo x86)"
export QZ_ARCH
if [ "$QZ_ARCH" = x64 ]; then
    QZ_WINE=/usr/lib/wine/wine64
    [ -x "$QZ_WINE" ] || QZ_WINE="$(command -v wine64 || echo /usr/lib/wine/wine64)"
    # A 64-bit Wine process that starts another one hands this on.
    export WINELOADER="$QZ_WINE"
    export WINEARCH=win64
else
    QZ_WINE="$(command -v wine || echo wine)"
fi
export QZ_WINE

wine() { "$QZ_WINE" "$@"; }
wineboot() { "$QZ_WINE" wineboot.exe "$@"; }
winepath() { "$QZ_WINE" winepath.exe "$@"; }
msiexec() { "$QZ_WINE" msiexec.exe "$@"; }
