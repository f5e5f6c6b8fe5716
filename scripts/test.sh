#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QZ_BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"

"$root/tests/support/wine-prefix.sh" "$build"
trap '"$root/tests/support/wine-prefix.sh" "$build" stop' EXIT
# One test at a time: installations and dialogs are machine-wide.
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"
