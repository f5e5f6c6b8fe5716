#!/usr/bin/env bash
# Checks the built executable itself: a 32-bit GUI program whose import table
# names only DLLs that Windows always takes from the system directory, and
# whose manifest asks for administrator rights.
set -u
exe="$1"
fail=0
headers="$(i686-w64-mingw32-objdump -p "$exe")"
grep -q 'file format pei-i386' <<<"$headers" || { echo "not a PE32 (i386) image"; fail=1; }
grep -Eq 'Subsystem[[:space:]]+0*2[[:space:]]' <<<"$headers" || { echo "not a GUI (subsystem 2) program"; fail=1; }
# Known DLLs: loaded from the system directory whatever lies beside the exe.
known='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|msvcrt|comdlg32|shlwapi|rpcrt4|ws2_32|imm32|setupapi|ntdll)\.dll$'
imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z')"
echo "imports: $(echo $imports)"
[ -n "$imports" ] || { echo "no import table found"; fail=1; }
for dll in $imports; do
    grep -Eq "$known" <<<"$dll" || { echo "imports a DLL that can be planted beside the executable: $dll"; fail=1; }
done
manifest="$(strings -n 8 "$exe" | tr -d '\r' | grep -o 'requestedExecutionLevel[^>]*' | head -n 1)"
echo "manifest: $manifest"
grep -q 'level="requireAdministrator"' <<<"$manifest" || { echo "manifest does not request administrator rights"; fail=1; }
[ $fail -eq 0 ] && echo "binary checks passed"
exit $fail
