#!/usr/bin/env bash
# Checks a built executable itself: a program of the expected architecture
# (x86: PE32, i386; x64: PE32+, x86-64) whose import table names only DLLs
# that Windows always takes from the system directory, and whose manifest
# names that architecture and the project's version (padded to four parts).
# qz-setup.exe (the default) is a GUI program whose manifest asks for
# administrator rights, the common controls of version 6 and DPI awareness;
# with --tool, qz-rsc.exe is a console program that runs as its invoker.
# Usage: check-binary.sh [--tool] EXE [x86|x64] [VERSION]
set -u
tool=no
if [ "${1:-}" = --tool ]; then
    tool=yes
    shift
fi
exe="$1"
arch="${2:-x86}"
version="${3:-}"
case "$arch" in
    x86) format='pei-i386'; manifest_arch='x86'; objdump=i686-w64-mingw32-objdump ;;
    x64) format='pei-x86-64'; manifest_arch='amd64'; objdump=x86_64-w64-mingw32-objdump ;;
    *) echo "unknown architecture: $arch"; exit 2 ;;
esac
fail=0
headers="$($objdump -p "$exe")"
grep -q "file format $format\$" <<<"$headers" || { echo "not a $format image"; fail=1; }
if [ $tool = yes ]; then
    grep -Eq 'Subsystem[[:space:]]+0*3[[:space:]]' <<<"$headers" || { echo "not a console (subsystem 3) program"; fail=1; }
else
    grep -Eq 'Subsystem[[:space:]]+0*2[[:space:]]' <<<"$headers" || { echo "not a GUI (subsystem 2) program"; fail=1; }
fi
# Known DLLs: loaded from the system directory whatever lies beside the exe.
known='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|msvcrt|comdlg32|shlwapi|rpcrt4|ws2_32|imm32|setupapi|ntdll)\.dll$'
imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z')"
echo "format: $format; imports: $(echo $imports)"
[ -n "$imports" ] || { echo "no import table found"; fail=1; }
for dll in $imports; do
    grep -Eq "$known" <<<"$dll" || { echo "imports a DLL that can be planted beside the executable: $dll"; fail=1; }
done
manifest="$(strings -n 8 "$exe" | tr -d '\r')"
level="$(grep -o 'requestedExecutionLevel[^>]*' <<<"$manifest" | head -n 1)"
identity="$(grep -o 'assemblyIdentity[^>]*' <<<"$manifest" | head -n 1)"
echo "manifest: $identity; $level"
grep -q "processorArchitecture=\"$manifest_arch\"" <<<"$identity" ||
    { echo "manifest does not name the architecture $manifest_arch"; fail=1; }
if [ $tool = yes ]; then
    # A program whose version names "Setup" would otherwise be taken for an installer and elevated.
    grep -q 'level="asInvoker"' <<<"$level" || { echo "manifest does not ask to run as the invoker"; fail=1; }
else
    grep -q 'level="requireAdministrator"' <<<"$level" || { echo "manifest does not request administrator rights"; fail=1; }
    grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' <<<"$manifest" ||
        { echo "manifest does not ask for the common controls of version 6"; fail=1; }
    grep -q '<dpiAwareness[^>]*>PerMonitorV2, System</dpiAwareness>' <<<"$manifest" ||
        { echo "manifest does not declare per-monitor (v2) DPI awareness"; fail=1; }
    grep -q '<dpiAware[^>]*>true</dpiAware>' <<<"$manifest" ||
        { echo "manifest does not declare DPI awareness for older systems"; fail=1; }
fi
if [ -n "$version" ]; then
    grep -q "version=\"$version.0\"" <<<"$identity" ||
        { echo "manifest does not name the version $version.0"; fail=1; }
fi
[ $fail -eq 0 ] && echo "binary checks passed"
exit $fail
