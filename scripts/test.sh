#!/usr/bin/env bash
# Installs what is missing, builds, runs every test under Wine, then checks
# the shipped 32-bit qz-setup.exe and the distribution kit (QZ_KIT_CHECK=0
# leaves the kit out), and runs the test kit (scripts/test-kit.sh) as a
# Windows user would, in a fresh prefix, comparing its report with the CTest
# run (QZ_TEST_KIT_CHECK=0 leaves it out).
#
# The suite runs against the 32-bit build (x86) where this machine's kernel
# runs 32-bit code, and against the 64-bit build of the same sources (x64,
# under wine64 only) where it does not. QZ_TEST_ARCH=x86|x64 forces one.
# Extra arguments go to ctest (then the product check is left out).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build32="${QZ_BUILD_DIR:-$root/build}"
build64="${QZ_BUILD_DIR_X64:-$root/build-x64}"
began=$(date +%s)
elapsed() { echo "$(($(date +%s) - began)) s"; }

# The probe needs a host C compiler, which this kind of machine has; the
# configuration is named first, before anything is installed.
command -v cc >/dev/null || "$root/scripts/setup.sh"
. "$root/tests/support/host/native-ia32.sh"

qz_choose_config "$build32/host" "${QZ_TEST_ARCH:-}" QZ_TEST_ARCH || exit 2
if [ $arch = x86 ]; then
    tested="$build32"
    echo "== configuration x86: the suite runs against the 32-bit build in $tested ($why)"
else
    tested="$build64"
    echo "== configuration x64: the suite runs against the 64-bit build in $tested under wine64 only ($why)"
fi
if [ $# -eq 0 ] && [ "${QZ_PRODUCT_CHECK:-1}" != 0 ]; then
    case "${QZ_PRODUCT_RUN:-}" in
        native) how="natively (forced by QZ_PRODUCT_RUN)" ;;
        qemu) how="under qemu-user (forced by QZ_PRODUCT_RUN)" ;;
        *) how="$([ $native = yes ] && echo natively || echo 'under qemu-user')" ;;
    esac
    echo "== then the shipped 32-bit qz-setup.exe is checked: statically, and end to end $how"
    [ "${QZ_KIT_CHECK:-1}" != 0 ] && echo "== and the kit (scripts/kit.sh, signed with a throwaway certificate) is made and checked"
    [ "${QZ_TEST_KIT_CHECK:-1}" != 0 ] && echo "== and the test kit (scripts/test-kit.sh) runs through cmd.exe in a fresh prefix"
else
    echo "== the check of the shipped 32-bit qz-setup.exe is left out (ctest arguments given, or QZ_PRODUCT_CHECK=0)"
fi

"$root/scripts/setup.sh"
cmake -S "$root" -B "$tested" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$([ $arch = x86 ] && echo i686 || echo x86_64).cmake" >/dev/null
cmake --build "$tested" -j"$(nproc)"
if [ $arch = x64 ]; then
    # The product itself: only the program, from the same sources.
    cmake -S "$root" -B "$build32" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
    cmake --build "$build32" -j"$(nproc)" --target qz-setup
fi
echo "== built after $(elapsed)"

"$root/tests/support/wine-prefix.sh" "$tested"
trap '"$root/tests/support/wine-prefix.sh" "$tested" stop' EXIT
# One test at a time: installations and dialogs are machine-wide. Each test
# program's exit status and time go to wine-runs.log (tests/support/wine-run.sh).
: >"$tested/wine-runs.log"
suite=0
# Each test's result also goes to ctest-results.xml, which the test kit's
# check compares its report with.
ctest --test-dir "$tested" --output-on-failure --timeout 600 --output-junit "$tested/ctest-results.xml" "$@" ||
    suite=$?
"$root/tests/support/wine-prefix.sh" "$tested" stop
trap - EXIT
echo "== suite ($arch) ended after $(elapsed)"

product=0
if [ $# -eq 0 ] && [ "${QZ_PRODUCT_CHECK:-1}" != 0 ]; then
    "$root/tests/support/check-product.sh" "$build32" "$tested" || product=$?
    echo "== product check ended after $(elapsed)"
else
    echo "== product check left out (ctest arguments given, or QZ_PRODUCT_CHECK=0)"
fi

kit=0
if [ $# -eq 0 ] && [ "${QZ_KIT_CHECK:-1}" != 0 ]; then
    "$root/tests/support/check-kit.sh" "$tested" || kit=$?
    echo "== kit check ended after $(elapsed)"
else
    echo "== kit check left out (ctest arguments given, or QZ_KIT_CHECK=0)"
fi

testkit=0
if [ $# -eq 0 ] && [ "${QZ_TEST_KIT_CHECK:-1}" != 0 ]; then
    "$root/tests/support/check-test-kit.sh" "$tested" || testkit=$?
    echo "== test kit check ended after $(elapsed)"
else
    echo "== test kit check left out (ctest arguments given, or QZ_TEST_KIT_CHECK=0)"
fi

if [ $suite -ne 0 ] || [ $product -ne 0 ] || [ $kit -ne 0 ] || [ $testkit -ne 0 ]; then
    echo "== FAILED: suite $suite, product check $product, kit check $kit, test kit check $testkit (configuration $arch, $(elapsed))"
    exit 1
fi
echo "== passed: configuration $arch, $(elapsed)"
