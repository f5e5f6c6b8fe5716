#!/usr/bin/env bash
# Installs what is missing, builds qz-setup.exe and shows what it does under
# Wine: a refused command line, a run that opens its log but has no package,
# and a real installation, repair and removal of a sample package.
#
# It runs the shipped 32-bit program where this machine runs 32-bit code, and
# the 64-bit build of the same sources where it does not (under an emulator
# every start of the 32-bit program would take about a minute).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The probe needs a host C compiler, which this kind of machine has; the
# configuration is named first, before anything is installed.
command -v cc >/dev/null || "$root/scripts/setup.sh"
. "$root/tests/support/host/native-ia32.sh"
if qz_native_ia32 "${QZ_BUILD_DIR:-$root/build}/host"; then
    build="${QZ_BUILD_DIR:-$root/build}"
    toolchain="$root/cmake/mingw-i686.cmake"
    echo "qz-setup demo: the shipped 32-bit qz-setup.exe ($build/bin), under Wine"
else
    build="${QZ_BUILD_DIR_X64:-$root/build-x64}"
    toolchain="$root/cmake/mingw-x86_64.cmake"
    echo "qz-setup demo: this machine's kernel runs no 32-bit code, so this demo runs the 64-bit build" \
        "of the same sources ($build/bin) under wine64"
fi
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$build" -j"$(nproc)" --target qz-setup qz-run qz-make-package >/dev/null

"$root/tests/support/wine-prefix.sh" "$build"
trap '"$root/tests/support/wine-prefix.sh" "$build" stop' EXIT
export QZ_BUILD_DIR="$build"
. "$root/tests/support/wine-env.sh"

demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp "$build/bin/qz-setup.exe" "$demo/"
winpath() { winepath -w "$1" 2>/dev/null; }
setup="$(winpath "$demo/qz-setup.exe")"
# qz-run prints the text viewer dialogs (and closes them) and the exit code as Windows sees it.
run() { wine "$build/bin/qz-run.exe" --cwd "$(winpath "$demo")" "$setup" "$@" 2>/dev/null | tr -d '\r'; }
show_exit_file() { echo "-- exit file $1:"; tr -d '\r' <"$demo/$1"; echo; }
show_log() {
    echo "-- bootstrap log $1 (first and last lines):"
    python3 "$root/tests/support/show-log.py" "$demo/$1" >"$demo/log.txt"
    head -n 8 "$demo/log.txt"
    echo "   [...]"
    tail -n 3 "$demo/log.txt"
}

echo "== qz-setup.exe /p            (the value of /p is missing: the command line is refused)"
run /p
echo

echo "== qz-setup.exe /l logs\\first.log QZ_SETUP_MODE=UNATTENDED /e first.txt   (no package named)"
run /l 'logs\first.log' QZ_SETUP_MODE=UNATTENDED /e first.txt
show_exit_file first.txt
show_log logs/first.log
echo

wine "$build/bin/qz-make-package.exe" "$(winpath "$demo/QZ Sample.msi")" "QZ Sample" x64 2>/dev/null | tr -d '\r'
for step in install repair remove; do
    mode=UNATTENDED
    [ "$step" = remove ] && mode=UNATTENDED_UNINSTALL
    echo "== $step: qz-setup.exe /f \"QZ Sample.msi\" /l logs\\$step.log /e $step.txt QZ_SETUP_MODE=$mode"
    run /f "QZ Sample.msi" /l "logs\\$step.log" /e "$step.txt" QZ_SETUP_MODE=$mode
    show_exit_file "$step.txt"
    show_log "logs/$step.log"
    echo
done
echo "Note: Wine's installer writes its own log from the start of the shared log file (Windows appends),"
echo "so after an installation the log begins with the installer's lines."
