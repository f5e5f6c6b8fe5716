#!/usr/bin/env bash
# Runs one Windows program of the build under Wine (the test emulator).
# Usage: wine-run.sh BUILD_DIR PROGRAM [ARGS...]
export QZ_BUILD_DIR="$1"
shift
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/wine-env.sh"
[ -f "$WINEPREFIX/.qz-ready" ] || "$here/wine-prefix.sh" "$QZ_BUILD_DIR" || exit 1
exec "$QZ_WINE" "$@"
