#!/usr/bin/env bash
# Makes the test kit: the suite packed to run on a Windows machine (10 or 11,
# x64) with nothing else installed there. Builds the configuration first
# (QZ_TEST_ARCH=x86|x64, the same choice as scripts/test.sh), then writes
# dist/qz-tests-<version>-<arch>.zip (QZ_DIST_DIR chooses another folder),
# which unpacks into one folder:
#   run-tests.cmd       runs every test program and writes report.txt
#   README.txt          the two steps and what the report holds
#   tests/              the test programs, the tested qz-setup.exe and
#                       qz-rsc.exe, the test tools, the custom-action and
#                       planted DLLs and the test resource module
#   tests/source/       what the tests read from the source tree: MANUAL.md
#                       and samples/
# The packages, transforms and patches the tests use are made by the test
# programs themselves through the installer, so nothing else is needed.
# QZ_TEST_KIT_NO_BUILD=1 packs the build as it stands.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build32="${QZ_BUILD_DIR:-$root/build}"
build64="${QZ_BUILD_DIR_X64:-$root/build-x64}"
dist="${QZ_DIST_DIR:-$root/dist}"
say() { echo "test-kit: $*"; }
fail() {
    echo "test-kit: FAILED: $*" >&2
    exit 1
}

command -v cc >/dev/null || "$root/scripts/setup.sh"
. "$root/tests/support/host/native-ia32.sh"
qz_choose_config "$build32/host" "${QZ_TEST_ARCH:-}" QZ_TEST_ARCH || exit 2
build="$([ $arch = x86 ] && echo "$build32" || echo "$build64")"
if [ "${QZ_TEST_KIT_NO_BUILD:-0}" != 1 ]; then
    "$root/scripts/setup.sh"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$([ $arch = x86 ] && echo i686 || echo x86_64).cmake" >/dev/null
    cmake --build "$build" -j"$(nproc)"
fi
bin="$build/bin"
[ -f "$build/qz-version" ] || fail "no build in $build"
version="$(cat "$build/qz-version")"
ls "$bin"/qz-tests-*.exe >/dev/null 2>&1 || fail "no test programs in $bin"

mkdir -p "$dist" || fail "cannot make the output folder $dist"
dist="$(cd "$dist" && pwd)"
name="qz-tests-$version-$arch"
stage="$build/test-kit/$name"
rm -rf "$build/test-kit"
mkdir -p "$stage/tests/source"

# Everything the build put beside the test programs, the benchmark's programs aside.
for file in "$bin"/*; do
    case "$(basename "$file")" in
        qz-bench-*) ;;
        *.exe | *.dll | *.rsc) cp "$file" "$stage/tests/" ;;
    esac
done
for needed in qz-setup.exe qz-rsc.exe qz-kit-run.exe test-module.rsc; do
    [ -f "$stage/tests/$needed" ] || fail "the build has no $needed"
done
cp "$root/MANUAL.md" "$stage/tests/source/"
cp -r "$root/samples" "$stage/tests/source/"
cp "$root/tests/support/kit/run-tests.cmd" "$stage/"
cp "$root/tests/support/kit/README.txt" "$stage/"
# Windows reads these two with its own line ends.
sed -i 's/\r\?$/\r/' "$stage/run-tests.cmd" "$stage/README.txt"

rm -f "$dist/$name.zip"
python3 - "$build/test-kit" "$name" "$dist/$name.zip.part" <<'PYTHON' || fail "cannot write the zip"
import os, sys, zipfile
base, name, target = sys.argv[1:4]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
    for folder, dirs, files in os.walk(os.path.join(base, name)):
        dirs.sort()
        for file in sorted(files):
            path = os.path.join(folder, file)
            archive.write(path, os.path.relpath(path, base))
PYTHON
mv "$dist/$name.zip.part" "$dist/$name.zip"
say "made $dist/$name.zip ($(du -h "$dist/$name.zip" | cut -f1), $(ls "$stage/tests"/qz-tests-*.exe | wc -l) test programs, configuration $arch)"
