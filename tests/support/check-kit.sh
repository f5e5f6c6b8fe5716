#!/usr/bin/env bash
# Checks the distribution kit as a publisher and an administrator get it:
# scripts/kit.sh signs it with a throwaway code-signing certificate that
# openssl makes here (a PEM key, and a PKCS#12 file with a password file),
# then:
# - the signatures verify against that certificate, and a byte changed
#   inside the signed range makes verification fail;
# - Wine's WinVerifyTrust accepts the signed program and gives
#   TRUST_E_BAD_DIGEST for the changed one;
# - a CA that did not issue the certificate stops the kit with the reason,
#   and removes the kit an earlier run left in its folder; a kit without a
#   certificate says it is unsigned;
# - two unsigned kits of one commit are the same bytes (the second made into
#   a relative QZ_DIST_DIR): every time in them is the commit's, and the
#   zip's entries come in order, each with the same mode;
# - sha256sum -c passes;
# - the zip unpacks into an empty folder, holding what it should with the
#   project's version, and the notices of what the programs link in
#   statically (each a copyright file of the Debian package it came from,
#   the GCC runtime's, winpthreads' and nlohmann-json's among them); a
#   package is added, and an unattended installation
#   and removal run from there: qz-setup.exe where this machine runs 32-bit
#   code, x64/qz-setup.exe elsewhere;
# - the manual's examples pass with the kit's program and samples.
# Usage: check-kit.sh TOOLS_BUILD_DIR (the tested build, whose tools run the checks)
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
tools_build="$(cd "$1" && pwd)"
began=$(date +%s)
status=0
say() { echo "kit check: $*"; }
check() { # DESCRIPTION COMMAND...
    local what="$1"
    shift
    if "$@"; then
        say "ok   $what"
    else
        say "FAIL $what"
        status=1
    fi
}

work="$(mktemp -d)"
cleanup() {
    "$here/wine-prefix.sh" "$tools_build" stop >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# ---------------------------------------------------------------- certificates
certs="$work/certs"
mkdir -p "$certs"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=QZ Kit Check Publisher" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$certs/key.pem" -out "$certs/cert.pem" >/dev/null 2>&1 || { say "openssl cannot make a certificate"; exit 1; }
printf 'kit check password\n' >"$certs/password.txt"
openssl pkcs12 -export -in "$certs/cert.pem" -inkey "$certs/key.pem" -passout "file:$certs/password.txt" \
    -out "$certs/cert.p12" >/dev/null 2>&1 || { say "openssl cannot make a PKCS#12 file"; exit 1; }

# ---------------------------------------------------------------- the kits
kit() { # NAME [VAR=VALUE...]: runs scripts/kit.sh into $work/NAME, its output in $work/NAME.log
    local name="$1"
    shift
    env QZ_DIST_DIR="$work/$name" "$@" "$root/scripts/kit.sh" >"$work/$name.log" 2>&1
}
kit_into() { # FOLDER NAME [VAR=VALUE...]: the same into FOLDER, named relative to $work
    local folder="$1" name="$2"
    shift 2
    (cd "$work" && env QZ_DIST_DIR="$folder" "$@" "$root/scripts/kit.sh" >"$work/$name.log" 2>&1)
}
start=$(date +%s)
kit pem QZ_SIGN_CERT="$certs/cert.pem" QZ_SIGN_KEY="$certs/key.pem"
pem=$?
say "kit signed with a PEM key made in $(($(date +%s) - start)) s"
sed 's/^/  /' "$work/pem.log"
check "the kit signed with a PEM certificate and key is made" [ $pem -eq 0 ]
kit p12 QZ_SIGN_PKCS12="$certs/cert.p12" QZ_SIGN_PASSWORD_FILE="$certs/password.txt"
check "the kit signed from a PKCS#12 file with a password file is made" [ $? -eq 0 ]
kit unsigned
check "a kit without a certificate is made, and says it is unsigned" \
    sh -c "grep -q 'the kit is UNSIGNED' '$work/unsigned.log' && test -s '$work/unsigned/SHA256SUMS'"
kit_into again again QZ_KIT_RELINK=1
again=$?
check "a second unsigned kit, its programs linked again, is made into a relative QZ_DIST_DIR" \
    sh -c "[ $again -eq 0 ] && test -s '$work/again/SHA256SUMS'"
check "the two unsigned kits of one commit are the same bytes" \
    sh -c "cmp '$work/unsigned/SHA256SUMS' '$work/again/SHA256SUMS' && cmp '$work/unsigned/'*.zip '$work/again/'*.zip"
# A failed run into the folder that holds the kit just made.
kit_into again wrongca QZ_SIGN_CERT="$certs/cert.pem" QZ_SIGN_KEY="$certs/key.pem" \
    QZ_SIGN_CA=/etc/ssl/certs/ca-certificates.crt
wrongca=$?
check "a CA that did not issue the certificate stops the kit, with the reason, and no zip" \
    sh -c "[ $wrongca -ne 0 ] && grep -q 'does not verify against' '$work/wrongca.log' && ! ls '$work/again/'*.zip >/dev/null 2>&1"
check "the failed run removed the earlier kit of its folder (no zip, no SHA256SUMS)" \
    sh -c "[ -z \"\$(ls -A '$work/again')\" ]"

dist="$work/pem"
version="$(cat "$tools_build/qz-version")"
zip="$dist/qz-setup-$version.zip"
check "sha256sum -c passes" sh -c "cd '$dist' && sha256sum -c SHA256SUMS >/dev/null"

# ---------------------------------------------------------------- unpacked
unpacked="$work/unpacked"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip")
listing="$(cd "$unpacked" && find . -type f ! -path './notices/*' | sort | tr '\n' ' ')"
expected="./MANUAL.md ./README.md ./qz-rsc.exe ./qz-setup.exe ./samples/answers.rsp ./samples/folder-check/folder-check.json ./samples/folder-check/winget/Publisher.Product.installer.yaml ./samples/folder-check/winget/Publisher.Product.locale.en-US.yaml ./samples/folder-check/winget/Publisher.Product.yaml ./samples/messages.txt ./samples/qz-setup.dat ./x64/qz-rsc.exe ./x64/qz-setup.exe "
check "the zip holds the programs, the samples and the documents" [ "$listing" = "$expected" ]
[ "$listing" = "$expected" ] || say "  it holds: $listing"
# The notices of what the programs link in statically: each a package's
# copyright file as Debian installed it (with Windows line ends), and among
# them the GCC runtime's, the MinGW-w64 runtime's with winpthreads, and
# nlohmann-json's.
notices_ok=yes
for notice in "$unpacked"/notices/*.txt; do
    package="$(basename "$notice" .txt)"
    if ! sed 's/\r$//' "$notice" | cmp -s - "/usr/share/doc/$package/copyright"; then
        say "  $notice is not the copyright file of $package"
        notices_ok=no
    fi
done
check "the notices are the copyright files of the packages the builds used" [ $notices_ok = yes ]
check "the GCC runtime's notice is in the kit" grep -qs 'GCC RUNTIME LIBRARY EXCEPTION' "$unpacked"/notices/*.txt
check "the MinGW-w64 runtime's notice, with winpthreads, is in the kit" grep -qis 'winpthreads' "$unpacked"/notices/*.txt
check "nlohmann-json's notice is in the kit" grep -qs 'Niels Lohmann' "$unpacked"/notices/*.txt
check "samples/messages.txt is the dump of the built-in messages" \
    grep -q '^1033 124 Package named %s for processor %s not found in %s directory.$' "$unpacked/samples/messages.txt"
# The folder check of the manual's sample folder: no error, and the product
# codes the manual's recipes name, per architecture.
check "samples/folder-check is the sample folder's check: no error, the manual's product codes" python3 - \
    "$unpacked/samples/folder-check/folder-check.json" <<'PYTHON'
import json, sys
document = json.load(open(sys.argv[1], encoding="utf-8"))
codes = {package["architecture"]: package["productCode"] for package in document["deployment"]["packages"]}
sys.exit(0 if document["summary"]["errors"] == 0 and codes == {
    "x86": "{A3F2B7C4-1D5E-4F6A-8B9C-0E7D6C5B4A39}", "x64": "{6D1C3A52-7F0B-4E8A-9C41-2B5E8D7A1F30}"} else 1)
PYTHON

# Every time in the unsigned kit is the commit's: the zip's entries (in
# order, each with the same mode) and the programs' PE time stamps.
commit_time="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}"
entries="$(python3 - "$work/unsigned/qz-setup-$version.zip" "$commit_time" <<'PYTHON'
import sys, time, zipfile
names, odd = [], []
with zipfile.ZipFile(sys.argv[1]) as archive:
    for entry in archive.infolist():
        names.append(entry.filename)
        # A zip entry keeps its time in two-second steps: an odd second is the one before.
        if entry.date_time != time.gmtime(int(sys.argv[2]) // 2 * 2)[:6] or entry.external_attr >> 16 != 0o100644 or entry.extra:
            odd.append(entry.filename)
print("in order" if names == sorted(names) else "out of order", " ".join(odd) or "none odd")
PYTHON
)"
check "the unsigned zip's entries are in order, each with the commit's time and one mode ($entries)" \
    [ "$entries" = "in order none odd" ]
pe_stamp() {
    local header
    header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tu4 -j$((header + 8)) -N4 "$1" | tr -d ' '
}
unsigned_unpacked="$work/unsigned-unpacked"
mkdir -p "$unsigned_unpacked"
(cd "$unsigned_unpacked" && cmake -E tar xf "$work/unsigned/qz-setup-$version.zip")
for exe in qz-setup.exe x64/qz-setup.exe qz-rsc.exe x64/qz-rsc.exe; do
    check "the PE time stamp of $exe is the commit's" [ "$(pe_stamp "$unsigned_unpacked/$exe")" = "$commit_time" ]
done

for exe in qz-setup.exe x64/qz-setup.exe qz-rsc.exe x64/qz-rsc.exe; do
    check "the signature of $exe verifies against the certificate" \
        sh -c "osslsigncode verify -CAfile '$certs/cert.pem' -in '$unpacked/$exe' >/dev/null 2>&1"
done
# The DOS stub's text lies inside the signed range; the PE checksum does not.
changed="$work/changed-qz-setup.exe"
cp "$unpacked/qz-setup.exe" "$changed"
printf 'X' | dd of="$changed" bs=1 seek=$((0x4E)) conv=notrunc status=none
check "a byte changed inside the signed range fails verification" \
    sh -c "! osslsigncode verify -CAfile '$certs/cert.pem' -in '$changed' >/dev/null 2>&1"

# ---------------------------------------------------------------- under Wine
"$here/wine-prefix.sh" "$tools_build" >/dev/null
export QZ_BUILD_DIR="$tools_build"
. "$here/wine-env.sh"
winpath() { winepath -w "$1" 2>/dev/null | tr -d '\r'; }
tool() { wine "$tools_build/bin/$1" "${@:2}" 2>/dev/null | tr -d '\r'; }

for exe in qz-setup.exe x64/qz-setup.exe qz-rsc.exe x64/qz-rsc.exe; do
    found="$(tool qz-version-info.exe "$(winpath "$unpacked/$exe")" | grep '^FileVersion=')"
    check "the version resource of $exe says $version ($found)" [ "$found" = "FileVersion=$version" ]
done
# Wine's WinVerifyTrust checks the digest but not the root, so it accepts the
# throwaway certificate. Windows answers CERT_E_UNTRUSTEDROOT (0x800B0109) for
# it unless it is installed as a trusted root (the row TrustOfUntrustedRoot of
# tests/support/platform_deviations.cpp); the digest check holds on both.
trust="$(tool qz-verify-trust.exe "$(winpath "$unpacked/qz-setup.exe")")"
check "WinVerifyTrust accepts the signed qz-setup.exe ($trust)" [ "$trust" = 0x00000000 ]
trust="$(tool qz-verify-trust.exe "$(winpath "$changed")")"
check "WinVerifyTrust gives TRUST_E_BAD_DIGEST for the changed one ($trust)" [ "$trust" = 0x80096010 ]

# An unattended installation and removal from the unpacked kit.
if [ "$(cat "$tools_build/qz-arch")" = x86 ]; then program="qz-setup.exe"; else program="x64/qz-setup.exe"; fi
folder="$(dirname "$unpacked/$program")"
tool qz-make-package.exe "$(winpath "$folder/Kit Agent x64.msi")" "QZ Kit Agent" x64 >/dev/null
tool qz-make-package.exe "$(winpath "$folder/Kit Agent x86.msi")" "QZ Kit Agent" Intel >/dev/null
installed="$WINEPREFIX/drive_c/Program Files/QZ Kit Agent/readme.txt"
run_kit() { # ARGUMENTS...: prints the exit code as Windows sees it
    tool qz-run.exe --cwd "$(winpath "$folder")" "$(winpath "$unpacked/$program")" "$@" | sed -n 's/^exit code: //p'
}
code="$(run_kit /p "Kit Agent" QZ_SETUP_MODE=UNATTENDED /e exit.txt)"
check "$program from the kit installs unattended (exit $code)" \
    sh -c "[ '$code' = 0 ] && [ -f '$installed' ] && head -c 6 '$folder/exit.txt' | grep -q '^0'"
code="$(run_kit /p "Kit Agent" QZ_SETUP_MODE=UNATTENDED_UNINSTALL /e exit.txt)"
check "$program from the kit removes it again (exit $code)" sh -c "[ '$code' = 0 ] && [ ! -e '$installed' ]"

# The manual's examples, with the kit's program and samples.
QZ_MANUAL_SETUP_EXE="$(winpath "$unpacked/$program")" QZ_MANUAL_SAMPLES="$(winpath "$unpacked/samples")\\" \
    wine "$tools_build/bin/qz-tests-manual.exe" >"$work/manual.log" 2>&1
manual=$?
check "the manual's examples pass with the kit's $program and samples" [ $manual -eq 0 ]
[ $manual -eq 0 ] || tr -d '\r' <"$work/manual.log" | tail -n 30 | sed 's/^/  /'

if [ $status -eq 0 ]; then say "passed after $(($(date +%s) - began)) s"; else say "FAILED after $(($(date +%s) - began)) s"; fi
exit $status
