#!/usr/bin/env bash
# Runs one Windows program of the build under Wine (the test emulator).
# Wine's own error messages (its debug channel err, of the program and of
# every process it starts) go to standard error, which CTest shows with a
# failed test; QZ_WINEDEBUG replaces that setting (e.g. err+all,+msi). Each
# run's exit status and time are appended to wine-runs.log in the build tree,
# and a run that fails within a second, when Wine may not have started the
# program at all, says so.
# Usage: wine-run.sh BUILD_DIR PROGRAM [ARGS...]
export QZ_BUILD_DIR="$1"
shift
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/wine-env.sh"
[ -f "$WINEPREFIX/.qz-ready" ] || "$here/wine-prefix.sh" "$QZ_BUILD_DIR" || exit 1
export WINEDEBUG="${QZ_WINEDEBUG:--all,err+all}"
began=$(date +%s%N)
qz_wine "$@"
status=$?
ms=$((($(date +%s%N) - began) / 1000000))
printf '%s status %d after %d ms: %s\n' "$(date +%FT%T)" "$status" "$ms" "$*" >>"$QZ_BUILD_DIR/wine-runs.log"
if [ "$status" -ne 0 ] && [ "$ms" -lt 1000 ]; then
    echo "wine-run: ${1##*/} ended with status $status after $ms ms: Wine may not have started it" \
        "(its own messages, if any, are above)" >&2
fi
exit "$status"
