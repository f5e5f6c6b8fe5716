#!/usr/bin/env bash
# Installs what is missing, builds qz-setup.exe and shows what it does today
# under Wine: a refused command line, and a run that opens a bootstrap log.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QZ_BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target qz-setup qz-run >/dev/null

"$root/tests/support/wine-prefix.sh" "$build"
trap '"$root/tests/support/wine-prefix.sh" "$build" stop' EXIT
export QZ_BUILD_DIR="$build"
. "$root/tests/support/wine-env.sh"

demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp "$build/bin/qz-setup.exe" "$demo/"
run() { wine "$build/bin/qz-run.exe" "$@" 2>/dev/null | tr -d '\r'; }
winpath() { winepath -w "$1" 2>/dev/null; }

echo "== qz-setup.exe /p   (a value is missing: the command line is refused)"
run "$(winpath "$demo/qz-setup.exe")" /p
echo

echo "== qz-setup.exe /l logs\\demo.log QZ_SETUP_MODE=UNATTENDED /e result.txt"
run "$(winpath "$demo/qz-setup.exe")" /l 'logs\demo.log' QZ_SETUP_MODE=UNATTENDED /e result.txt
echo "-- exit file result.txt:"
tr -d '\r' <"$demo/result.txt"; echo
echo "-- bootstrap log logs/demo.log (UTF-16LE):"
iconv -f UTF-16LE -t UTF-8 "$demo/logs/demo.log" | tr -d '\r'
