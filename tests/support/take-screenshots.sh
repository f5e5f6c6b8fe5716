#!/usr/bin/env bash
# Takes the README's screenshots under Xvfb, once, by hand:
#   tests/support/take-screenshots.sh BUILD_DIR [OUTPUT_DIR]
# - docs/language-dialog-fr.png: the language dialog of a French user started
#   as qz-setup.exe /p "Sample Agent" with a French transform beside it;
# - docs/viewer-no-package.png: the text viewer of an attended run whose
#   package name matches nothing.
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

(LC_ALL=fr_FR.UTF-8 shoot language-dialog-fr /p "Sample Agent") 2>/dev/null # bash itself may not know the locale
shoot viewer-no-package /p "Sample Agnet"
# The first run installed the package: remove it again.
wine "$build/bin/qz-run.exe" --cwd "$(winpath "$work")" "$(winpath "$work/qz-setup.exe")" \
    /p "Sample Agent" QZ_SETUP_MODE=UNATTENDED_UNINSTALL /e removed.txt >/dev/null 2>&1
rm -rf "$work"
