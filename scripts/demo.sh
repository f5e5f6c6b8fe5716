#!/usr/bin/env bash
# Installs what is missing, builds qz-setup.exe and shows what it does under
# Wine. Beside the program lie two packages whose product names contain
# "Sample Agent" (one for x64, one for x86) and a French language transform.
# The program is started with nothing but the package name:
#   qz-setup.exe /p "Sample Agent"               attended, by a French user: the
#                                                language dialog, then the installation
#   qz-setup.exe /p "Sample Agent" /e exit.txt   unattended (the exit file makes it so)
# and then with a name that matches nothing, and with a refused command line.
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
# QZ_TEST_ARCH=x86|x64 forces the configuration, as for scripts/test.sh.
qz_choose_config "${QZ_BUILD_DIR:-$root/build}/host" "${QZ_TEST_ARCH:-}" QZ_TEST_ARCH || exit 2
if [ $arch = x86 ]; then
    build="${QZ_BUILD_DIR:-$root/build}"
    toolchain="$root/cmake/mingw-i686.cmake"
    echo "qz-setup demo: the shipped 32-bit qz-setup.exe ($build/bin), under Wine ($why)"
elif [ $native = yes ]; then
    build="${QZ_BUILD_DIR_X64:-$root/build-x64}"
    toolchain="$root/cmake/mingw-x86_64.cmake"
    echo "qz-setup demo: the 64-bit build of the same sources ($build/bin) under wine64 ($why)"
else
    build="${QZ_BUILD_DIR_X64:-$root/build-x64}"
    toolchain="$root/cmake/mingw-x86_64.cmake"
    echo "qz-setup demo: this machine's kernel runs no 32-bit code, so this demo runs the 64-bit build" \
        "of the same sources ($build/bin) under wine64"
fi
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$build" -j"$(nproc)" --target qz-setup qz-run qz-make-package qz-make-transform >/dev/null

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
# qz-run prints the dialogs (the text viewer, closed with OK; the language dialog, answered with OK)
# and the exit code as Windows sees it.
run() { wine "$build/bin/qz-run.exe" --cwd "$(winpath "$demo")" "$setup" "$@" 2>/dev/null | tr -d '\r'; }
show_exit_file() { echo "-- exit file $1:"; tr -d '\r' <"$demo/$1"; echo; }
unixpath() { winepath -u "$1" 2>/dev/null; }
# The bootstrap log, read with show-log.py (UTF-16, with Wine's installer log over its start).
show_log() {
    echo "-- bootstrap log $1 (first and last lines):"
    python3 "$root/tests/support/show-log.py" "$(unixpath "$1")" >"$demo/log.txt"
    head -n 8 "$demo/log.txt"
    echo "   [...]"
    tail -n 3 "$demo/log.txt"
}
# With no /l the log is %TEMP%\<package name>_install.log.
temp="$(wine cmd.exe /c echo %TEMP% 2>/dev/null | tr -d '\r')"
default_log="$temp\\Sample Agent_install.log"
rm -f "$(unixpath "$default_log")"

echo "== the folder: qz-setup.exe, two packages for \"Sample Agent\" and a French transform"
wine "$build/bin/qz-make-package.exe" "$(winpath "$demo/Sample Agent x64.msi")" "QZ Sample Agent" x64 2>/dev/null | tr -d '\r'
wine "$build/bin/qz-make-package.exe" "$(winpath "$demo/Sample Agent x86.msi")" "QZ Sample Agent" Intel 2>/dev/null | tr -d '\r'
wine "$build/bin/qz-make-transform.exe" "$(winpath "$demo/Sample Agent fr.mst")" 1036 \
    "ProductName=QZ Agent exemple" 2>/dev/null | tr -d '\r'
echo

echo "== qz-setup.exe /p \"Sample Agent\"   (attended, by a French user: LC_ALL=fr_FR.UTF-8)"
echo "   What the user sees: the language dialog, answered with OK; then the installer, and no viewer"
echo "   because the installation succeeds."
(LC_ALL=fr_FR.UTF-8 run /p "Sample Agent") 2>/dev/null # bash itself may not know the locale
show_log "$default_log"
echo

echo "== qz-setup.exe /p \"Sample Agent\" /e exit.txt   (unattended: nothing shown; a repair, since it is installed)"
run /p "Sample Agent" /e exit.txt
show_exit_file exit.txt
show_log "$default_log"
echo

echo "== qz-setup.exe /p \"Sample Agnet\"   (attended; the name matches no package: the viewer says why)"
run /p "Sample Agnet"
echo

echo "== qz-setup.exe /p   (the value of /p is missing: the command line is refused)"
run /p
echo

echo "== clean-up: qz-setup.exe /p \"Sample Agent\" QZ_SETUP_MODE=UNATTENDED_UNINSTALL /e removed.txt"
run /p "Sample Agent" QZ_SETUP_MODE=UNATTENDED_UNINSTALL /e removed.txt
show_exit_file removed.txt
echo "Note: Wine's installer writes its own log from the start of the shared log file (Windows appends),"
echo "so after an installation the log begins with the installer's lines."
