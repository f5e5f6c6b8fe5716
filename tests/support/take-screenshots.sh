#!/usr/bin/env bash
# Takes the README's screenshots under Xvfb, once, by hand:
#   tests/support/take-screenshots.sh BUILD_DIR [OUTPUT_DIR]
# - docs/language-dialog-fr-96.png and -192.png: the language dialog of a
#   French user started as qz-setup.exe /p "Sample Agent" with a French
#   transform beside it, at 96 and 192 pixels per inch (100 % and 200 %);
# - docs/viewer-no-package-fr-96.png and -192.png: the text viewer of the same
#   user's attended run whose package name matches nothing;
# - docs/viewer-no-package.png: that viewer for an English user, at 96.
# The prefix's LogPixels is set for each scale and given back at the end.
# Needs ImageMagick (import, convert), called by full path: a stand-in named
# convert may come first on PATH.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:?usage: take-screenshots.sh BUILD_DIR [OUTPUT_DIR]}" && pwd)"
out="${2:-$root/docs}"
mkdir -p "$out"
for tool in /usr/bin/import /usr/bin/convert; do
    [ -x "$tool" ] || { echo "needs ImageMagick ($tool)" >&2; exit 1; }
done

"$root/tests/support/wine-prefix.sh" "$build"
export QZ_BUILD_DIR="$build"
. "$root/tests/support/wine-env.sh"

# On the prefix's drive C, so that the viewer names a folder as a user's would.
work="$WINEPREFIX/drive_c/Sample Agent Setup"
rm -rf "$work"
mkdir -p "$work"
cp "$build/bin/qz-setup.exe" "$work/"
winpath() { winepath -w "$1" 2>/dev/null; }
wine "$build/bin/qz-make-package.exe" "$(winpath "$work/Sample Agent x64.msi")" "QZ Sample Agent" x64 >/dev/null 2>&1
wine "$build/bin/qz-make-package.exe" "$(winpath "$work/Sample Agent x86.msi")" "QZ Sample Agent" Intel >/dev/null 2>&1
wine "$build/bin/qz-make-transform.exe" "$(winpath "$work/Sample Agent fr.mst")" 1036 \
    "ProductName=QZ Agent exemple" >/dev/null 2>&1

# Starts qz-setup through qz-run, which keeps each dialog open for a while;
# once qz-run has printed a dialog, the screen is taken and cut to what is on it.
shoot() {
    local name="$1"
    shift
    local printed="$work/$name.txt"
    wine "$build/bin/qz-run.exe" --keep-dialog-ms 2500 --cwd "$(winpath "$work")" "$(winpath "$work/qz-setup.exe")" \
        "$@" >"$printed" 2>/dev/null &
    local runner=$!
    for _ in $(seq 1 100); do
        grep -q -- "---- .*dialog" "$printed" 2>/dev/null && break
        sleep 0.1
    done
    sleep 0.5
    /usr/bin/import -display "$QZ_DISPLAY" -window root "$work/$name-screen.png"
    /usr/bin/convert "$work/$name-screen.png" -trim +repage "$out/$name.png"
    wait "$runner"
    tr -d '\r' <"$printed"
    echo "-> $out/$name.png"
}

remove() {
    wine "$build/bin/qz-run.exe" --cwd "$(winpath "$work")" "$(winpath "$work/qz-setup.exe")" \
        /p "Sample Agent" QZ_SETUP_MODE=UNATTENDED_UNINSTALL /e removed.txt >/dev/null 2>&1
}
scale() { wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1; }
trap 'wine reg delete "HKCU\\Control Panel\\Desktop" /v LogPixels /f >/dev/null 2>&1; rm -rf "$work"' EXIT

for dpi in 96 192; do
    scale $dpi
    # bash itself may not know the locale: its warnings go.
    (LC_ALL=fr_FR.UTF-8 shoot language-dialog-fr-$dpi /p "Sample Agent") 2>/dev/null
    remove # the run installed the package: a fresh installation asks again
    (LC_ALL=fr_FR.UTF-8 shoot viewer-no-package-fr-$dpi /p "Sample Agnet") 2>/dev/null
done
scale 96
shoot viewer-no-package /p "Sample Agnet"
