#!/usr/bin/env bash
# Makes sure the test platform is up: an X server (Xvfb) for dialogs, the Wine
# prefix (created once, ~15 s) and one persistent wineserver for the test run.
# Usage: wine-prefix.sh BUILD_DIR [stop]
set -euo pipefail
export QZ_BUILD_DIR="$1"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/wine-env.sh"

if [ "${2:-}" = stop ]; then
    wineserver -k 2>/dev/null || true
    if [ -f "$QZ_BUILD_DIR/xvfb.pid" ]; then
        kill "$(cat "$QZ_BUILD_DIR/xvfb.pid")" 2>/dev/null || true
        rm -f "$QZ_BUILD_DIR/xvfb.pid"
    fi
    exit 0
fi

mkdir -p "$QZ_BUILD_DIR"
exec 9>"$QZ_BUILD_DIR/.wine.lock"
flock 9

# The X server: dialogs are real windows on it. A server killed without
# clean-up leaves its lock and socket behind: only a live one counts.
display_no="${QZ_DISPLAY#:}"
x_lock="/tmp/.X$display_no-lock"
if ! { [ -e "$x_lock" ] && kill -0 "$(tr -dc '0-9' <"$x_lock")" 2>/dev/null; }; then
    rm -f "$x_lock" "/tmp/.X11-unix/X$display_no"
    setsid Xvfb "$QZ_DISPLAY" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 9>&- &
    echo $! >"$QZ_BUILD_DIR/xvfb.pid"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display_no" ] && break; sleep 0.1; done
fi

if [ ! -f "$WINEPREFIX/.qz-ready" ]; then
    rm -rf "$WINEPREFIX"
    if [ "$QZ_ARCH" = x64 ] && [ "${QZ_PREFIX_WOW64:-0}" != 1 ]; then
        # wineboot sets up the 32-bit half of a 64-bit prefix by starting a
        # 32-bit program. This prefix has none (QZ_PREFIX_WOW64=1 asks for
        # it, for running the 32-bit product): the 32-bit loader is hidden in
        # a private mount namespace, so that step fails at once instead of
        # running 32-bit code, natively or under an emulator registered with
        # binfmt_misc. Without the namespace the step fails the same way on a
        # kernel without 32-bit support, unless an emulator is registered.
        loader32="$(dirname "$QZ_WINE")/wine"
        if [ -e "$loader32" ] && unshare --mount --propagation private true 2>/dev/null; then
            unshare --mount --propagation private sh -c 'mount --bind /dev/null "$1" && shift && exec "$@"' \
                sh "$loader32" $QZ_FIXED_LAYOUT "$QZ_WINE" wineboot.exe -i </dev/null >/dev/null 2>&1 9>&-
        else
            [ -e "$loader32" ] && grep -qs '^enabled' /proc/sys/fs/binfmt_misc/*i386* &&
                echo "wine-prefix: warning: an i386 binfmt_misc handler is registered; wineboot may start its 32-bit step under it" >&2
            wineboot -i </dev/null >/dev/null 2>&1 9>&-
        fi
    else
        wineboot -i </dev/null >/dev/null 2>&1 9>&-
    fi
    wineserver -w
    if [ "${QZ_PREFIX_WOW64:-0}" = 1 ] && [ ! -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
        echo "wine-prefix: $WINEPREFIX has no 32-bit half (syswow64 is empty)" >&2
        exit 1
    fi
    # No window manager: unmanaged windows, or every hidden window stalls.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null 2>&1
    # CJK text in the rich edit control: Wine's own fonts plus a CJK font.
    fonts="$WINEPREFIX/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    for f in /usr/share/wine/fonts/*.tt[fc]; do
        [ -e "$f" ] || continue
        case "$(basename "$f")" in tahoma*) ;; *) cp -f "$f" "$fonts/" ;; esac
    done
    if [ -f /usr/share/fonts/truetype/wqy/wqy-microhei.ttc ]; then
        cp -f /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$fonts/"
        for face in Tahoma Arial "MS Shell Dlg" "MS Shell Dlg 2"; do
            wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "WenQuanYi Micro Hei" /f \
                </dev/null >/dev/null 2>&1
        done
    fi
    wineserver -w
    touch "$WINEPREFIX/.qz-ready"
fi

# One wineserver for the whole run: each Wine process then starts in ~50 ms.
setsid wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
# Start Wine's own services now, detached from any caller's pipes: a program
# whose output is captured (CTest) would otherwise hand its pipe to them, and
# the reader would wait for them forever.
wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
