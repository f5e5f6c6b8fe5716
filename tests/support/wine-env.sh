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

# Every Wine process starts without address-space randomization (the
# personality flag is inherited by the processes Wine starts in turn).
# Debian's Wine has no preloader: its 64-bit loader, linked at 0x7d000000,
# reserves Windows' fixed ranges only after the C library has made its heap,
# and the kernel puts that heap anywhere up to 1 GiB above the loader. About
# one start in five thousand it lands on the shared user data page
# (0x7ffe0000): the process ends at once with status 1 and says why only on
# Wine's err channel, which WINEDEBUG=-all silences ("failed to map the shared
# user data: c0000018"); a child started so fails with error 1359. Without
# randomization the heap starts right after the loader, far below every fixed
# range.
if setarch -R true 2>/dev/null; then
    QZ_FIXED_LAYOUT="setarch -R"
else
    QZ_FIXED_LAYOUT=""
    echo "wine-env: setarch -R is refused here: Wine processes start with a random layout, and now and then one fails to start" >&2
fi
export QZ_FIXED_LAYOUT

qz_wine() { $QZ_FIXED_LAYOUT "$QZ_WINE" "$@"; }
wine() { qz_wine "$@"; }
wineboot() { qz_wine wineboot.exe "$@"; }
winepath() { qz_wine winepath.exe "$@"; }
msiexec() { qz_wine msiexec.exe "$@"; }
