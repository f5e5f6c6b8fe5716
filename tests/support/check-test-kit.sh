#!/usr/bin/env bash
# Proves the test kit under Wine, as a Windows user would run it: makes the
# kit of the build (scripts/test-kit.sh, without building again), unpacks it
# into a fresh folder of a fresh Wine prefix, runs run-tests.cmd through
# cmd.exe and compares its report with the CTest run of the same build
# (ctest-results.xml, which scripts/test.sh writes): each test program must
# come to the same result in both, passed or skipped or failed. A program
# passes in the kit as a whole when none of its tests failed; tests that
# need the Linux host (mounts made around the program) skip there and pass
# under CTest, which leaves the program's result the same.
# Usage: check-test-kit.sh BUILD_DIR [PROGRAM...]   (none: every program)
set -uo pipefail
build="$(cd "$1" && pwd)"
shift
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
began=$(date +%s)
say() { echo "test-kit check: $*"; }
fail() {
    echo "test-kit check: FAILED: $*" >&2
    exit 1
}
results="$build/ctest-results.xml"
[ -f "$results" ] || fail "no CTest results in $results (scripts/test.sh writes them)"
arch="$(cat "$build/qz-arch" 2>/dev/null || echo x86)"

work="$build/test-kit-check"
rm -rf "$work"
mkdir -p "$work/dist"
QZ_TEST_KIT_NO_BUILD=1 QZ_TEST_ARCH="$arch" QZ_BUILD_DIR="$build" QZ_BUILD_DIR_X64="$build" \
    QZ_DIST_DIR="$work/dist" "$root/scripts/test-kit.sh" || fail "the kit was not made"
zip="$(ls "$work"/dist/qz-tests-*.zip)"

# A prefix of its own, made for this check.
export QZ_WINEPREFIX="$work/wineprefix"
"$here/wine-prefix.sh" "$build" || fail "no fresh Wine prefix"
trap '"$here/wine-prefix.sh" "$build" stop' EXIT
QZ_BUILD_DIR="$build" . "$here/wine-env.sh"
folder="$WINEPREFIX/drive_c/qz-test-kit"
[ ! -e "$folder" ] || fail "$folder exists in a fresh prefix"
mkdir -p "$folder"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$folder" ||
    fail "cannot unpack $zip"
kit="$(basename "$zip" .zip)"
say "unpacked $(basename "$zip") into C:\\qz-test-kit\\$kit of a fresh prefix; running run-tests.cmd${*:+ for $*}"
export WINEDEBUG=-all
(cd "$folder" && qz_wine cmd.exe /c "C:\\qz-test-kit\\$kit\\run-tests.cmd" "$@" </dev/null)
status=$?
report="$folder/$kit/report.txt"
[ -f "$report" ] || fail "run-tests.cmd wrote no report (status $status)"
tr -d '\r' <"$report" | sed -n '1,/^Ended:/p'
say "run-tests.cmd ended with status $status after $(($(date +%s) - began)) s"

ctest --test-dir "$build" --show-only=json-v1 >"$work/tests.json" || fail "ctest cannot list the tests"
python3 - "$results" "$work/tests.json" "$report" "$status" <<'PYTHON'
import json, re, sys
import xml.etree.ElementTree as ET
results, listing, report, status = sys.argv[1:5]

# Which program each CTest test runs.
program_of = {}
for test in json.load(open(listing))["tests"]:
    for part in test.get("command", []):
        m = re.search(r"(qz-tests-[a-z]+)\.exe$", part)
        if m:
            program_of[test["name"]] = m.group(1)
            break

# Each program's result under CTest: failed if one of its tests failed,
# skipped if every one skipped, else passed.
ctest = {}
for case in ET.parse(results).getroot().iter("testcase"):
    program = program_of.get(case.get("name"))
    if not program:
        continue
    # CTest writes a skipped test as "notrun" with a <skipped> element; one
    # that did not run for another reason counts as failed.
    state = case.get("status", "run")
    if state == "disabled":
        continue
    if case.find("failure") is not None or state == "fail":
        state = "failed"
    elif case.find("skipped") is not None or state == "skipped":
        state = "skipped"
    elif state == "notrun":
        state = "failed"
    else:
        state = "passed"
    ctest.setdefault(program, []).append(state)
def verdict(states):
    if "failed" in states:
        return "failed"
    return "skipped" if all(s == "skipped" for s in states) else "passed"

kit = {}
for line in open(report, encoding="utf-8", errors="replace"):
    m = re.match(r"(qz-tests-[a-z]+): (passed|skipped|failed) in ", line)
    if m:
        kit[m.group(1)] = m.group(2)
if not kit:
    sys.exit("test-kit check: FAILED: the report names no test program")

bad = 0
for program in sorted(kit):
    if program not in ctest:
        print(f"  {program}: {kit[program]} in the kit, not in the CTest run: not compared")
        continue
    expected = verdict(ctest[program])
    same = expected == kit[program]
    bad += not same
    print(f"  {program}: kit {kit[program]}, CTest {expected} ({len(ctest[program])} tests)"
          + ("" if same else "  <-- differs"))
failed = any(v == "failed" for v in kit.values())
if (int(status) != 0) != failed:
    print(f"test-kit check: FAILED: run-tests.cmd ended with {status}, the report says "
          + ("a program failed" if failed else "none failed"))
    bad += 1
compared = sum(1 for p in kit if p in ctest)
if compared == 0:
    sys.exit("test-kit check: FAILED: no program of the report was in the CTest run")
if bad:
    sys.exit(f"test-kit check: FAILED: {bad} difference(s) between the kit's report and the CTest run")
print(f"test-kit check: the kit's report agrees with the CTest run for {compared} test programs")
PYTHON
