#!/usr/bin/env bash
# Makes the kit a publisher downloads: dist/qz-setup-<version>.zip and
# dist/SHA256SUMS (sha256sum -c format). Installs what it needs and builds
# both configurations (the 32-bit and the 64-bit programs). The zip holds
#   qz-setup.exe        the 32-bit product
#   x64/qz-setup.exe    the 64-bit build, for Windows without its 32-bit part
#   qz-rsc.exe          the 32-bit resource-module builder
#   x64/qz-rsc.exe      its 64-bit build
#   notices/            the copyright files of the Debian packages whose
#                       libraries the programs link in statically
#   samples/            qz-setup.dat, answers.rsp, messages.txt (the
#                       built-in messages, dumped under Wine by qz-rsc), and
#                       folder-check/ (the folder check of the manual's
#                       sample folder: the document and its winget manifests)
#   MANUAL.md, README.md
# The executables are stripped, then signed and verified when a certificate
# is given, then zipped:
#   QZ_SIGN_CERT + QZ_SIGN_KEY (PEM files), or QZ_SIGN_PKCS12: the certificate
#   QZ_SIGN_PASSWORD_FILE   the key's password, read from that file
#   QZ_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamping service (optional)
#   QZ_SIGN_TSA_CA          the CA file its time stamps are verified against:
#                           by default the system's CA bundle
#   QZ_SIGN_CA              the CA file the signatures are verified against:
#                           by default the certificate itself when it is
#                           self-signed, else the system's CA bundle
# QZ_DIST_DIR chooses another output folder (a relative one from the current
# folder); QZ_BUILD_DIR, QZ_BUILD_DIR_X64 and QZ_TEST_ARCH as for
# scripts/test.sh (the configuration whose qz-rsc makes the dump under Wine).
#
# A run first removes the kit it made before (the zip and SHA256SUMS), so that
# a failed run leaves nothing that could be shipped by mistake.
#
# An unsigned kit is reproducible: two made from the same commit are the same
# bytes. Every time in it (the programs' PE time stamps, the zip's entries) is
# SOURCE_DATE_EPOCH, by default the time of the commit that is checked out;
# the zip's entries are in a fixed order with fixed modes. QZ_KIT_RELINK=1
# links the programs again even when their time stamps are right already.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build32="${QZ_BUILD_DIR:-$root/build}"
build64="${QZ_BUILD_DIR_X64:-$root/build-x64}"
dist="${QZ_DIST_DIR:-$root/dist}"
began=$(date +%s)
say() { echo "kit: $*"; }
fail() {
    echo "kit: FAILED: $*" >&2
    exit 1
}

# The kit of an earlier run goes first: a run that fails leaves none behind.
mkdir -p "$dist" || fail "cannot make the output folder $dist"
dist="$(cd "$dist" && pwd)"
for old in "$dist"/qz-setup-*.zip "$dist/SHA256SUMS"; do
    [ -e "$old" ] || continue
    rm -f "$old" || fail "cannot remove the earlier kit's $old"
    say "removed the earlier kit's $(basename "$old")"
done

# The one time of the kit.
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    [[ "$SOURCE_DATE_EPOCH" =~ ^[0-9]+$ ]] || fail "SOURCE_DATE_EPOCH must be seconds since 1970: $SOURCE_DATE_EPOCH"
    epoch_from="SOURCE_DATE_EPOCH"
elif SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct 2>/dev/null)" && [ -n "$SOURCE_DATE_EPOCH" ]; then
    epoch_from="the commit $(git -C "$root" rev-parse --short HEAD)"
    git -C "$root" diff --quiet HEAD 2>/dev/null || say "warning: the tree has changes that are not committed"
else
    fail "no commit to take the kit's time from: set SOURCE_DATE_EPOCH"
fi
# The zip's times are DOS times, from 1980 on.
[ "$SOURCE_DATE_EPOCH" -ge 315532800 ] || fail "SOURCE_DATE_EPOCH is before 1980: $SOURCE_DATE_EPOCH"
export SOURCE_DATE_EPOCH
say "every time in the kit is $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'), from $epoch_from"

command -v cc >/dev/null || "$root/scripts/setup.sh"
. "$root/tests/support/host/native-ia32.sh"
qz_choose_config "$build32/host" "${QZ_TEST_ARCH:-}" QZ_TEST_ARCH || exit 2
"$root/scripts/setup.sh"

# ---------------------------------------------------------------- signing set-up
system_ca=/etc/ssl/certs/ca-certificates.crt
sign_args=()
signer=""
if [ -n "${QZ_SIGN_PKCS12:-}" ]; then
    [ -r "$QZ_SIGN_PKCS12" ] || fail "QZ_SIGN_PKCS12: cannot read $QZ_SIGN_PKCS12"
    sign_args=(-pkcs12 "$QZ_SIGN_PKCS12")
    signer="$QZ_SIGN_PKCS12"
elif [ -n "${QZ_SIGN_CERT:-}" ] || [ -n "${QZ_SIGN_KEY:-}" ]; then
    [ -n "${QZ_SIGN_CERT:-}" ] && [ -n "${QZ_SIGN_KEY:-}" ] || fail "QZ_SIGN_CERT and QZ_SIGN_KEY go together"
    [ -r "$QZ_SIGN_CERT" ] || fail "QZ_SIGN_CERT: cannot read $QZ_SIGN_CERT"
    [ -r "$QZ_SIGN_KEY" ] || fail "QZ_SIGN_KEY: cannot read $QZ_SIGN_KEY"
    sign_args=(-certs "$QZ_SIGN_CERT" -key "$QZ_SIGN_KEY")
    signer="$QZ_SIGN_CERT"
fi
if [ -n "$signer" ]; then
    # The password comes from its file, never from the command line, where
    # process lists and logs would show it.
    if [ -n "${QZ_SIGN_PASSWORD_FILE:-}" ]; then
        [ -r "$QZ_SIGN_PASSWORD_FILE" ] || fail "QZ_SIGN_PASSWORD_FILE: cannot read $QZ_SIGN_PASSWORD_FILE"
        sign_args+=(-readpass "$QZ_SIGN_PASSWORD_FILE")
    fi
    sign_args+=(-h sha256 -n "QZ Setup")
    [ -n "${QZ_SIGN_TIMESTAMP_URL:-}" ] && sign_args+=(-ts "$QZ_SIGN_TIMESTAMP_URL")
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The certificate of the signer, in PEM, to tell whether it is self-signed.
signer_certificate() {
    if [ -n "${QZ_SIGN_PKCS12:-}" ]; then
        local pass=()
        [ -n "${QZ_SIGN_PASSWORD_FILE:-}" ] && pass=(-passin "file:$QZ_SIGN_PASSWORD_FILE") || pass=(-passin pass:)
        openssl pkcs12 -in "$QZ_SIGN_PKCS12" -nokeys -clcerts "${pass[@]}" 2>/dev/null |
            openssl x509 -out "$work/signer.pem" 2>/dev/null || return 1
    else
        openssl x509 -in "$QZ_SIGN_CERT" -out "$work/signer.pem" 2>/dev/null || return 1
    fi
    echo "$work/signer.pem"
}
if [ -n "$signer" ]; then
    certificate="$(signer_certificate)" || fail "cannot read the certificate of $signer"
    if [ -n "${QZ_SIGN_CA:-}" ]; then
        ca="$QZ_SIGN_CA"
    elif [ "$(openssl x509 -in "$certificate" -noout -subject | sed 's/^subject=//')" = \
        "$(openssl x509 -in "$certificate" -noout -issuer | sed 's/^issuer=//')" ]; then
        ca="$certificate"
    else
        ca="$system_ca"
    fi
    say "signing with $signer (SHA-256, \"QZ Setup\"$([ -n "${QZ_SIGN_TIMESTAMP_URL:-}" ] && echo ", time-stamped by $QZ_SIGN_TIMESTAMP_URL")); verifying against $ca"
else
    say "no certificate given (QZ_SIGN_CERT and QZ_SIGN_KEY, or QZ_SIGN_PKCS12): the kit is UNSIGNED"
fi

# ---------------------------------------------------------------- build
# The PE time stamp of a program, in seconds since 1970.
pe_stamp() {
    local header
    header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tu4 -j$((header + 8)) -N4 "$1" | tr -d ' '
}
build() { # BUILD_DIR TOOLCHAIN
    cmake -S "$root" -B "$1" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$2.cmake" >/dev/null
    cmake --build "$1" -j"$(nproc)" --target qz-setup qz-rsc >/dev/null
    # The linker stamps a program (and the module template qz-rsc.exe
    # carries) with SOURCE_DATE_EPOCH: what was linked at another time is
    # linked again.
    local template="$1/generated/qz-rsc-template.dll" relink=no
    for program in "$1/bin/qz-setup.exe" "$1/bin/qz-rsc.exe" "$template"; do
        [ "$(pe_stamp "$program")" = "$SOURCE_DATE_EPOCH" ] || relink=yes
    done
    [ "${QZ_KIT_RELINK:-0}" = 1 ] && relink=yes
    if [ $relink = yes ]; then
        rm -f "$1/bin/qz-setup.exe" "$1/bin/qz-rsc.exe" "$template"
        cmake --build "$1" -j"$(nproc)" --target qz-setup qz-rsc >/dev/null
    fi
    for program in "$1/bin/qz-setup.exe" "$1/bin/qz-rsc.exe" "$template"; do
        [ "$(pe_stamp "$program")" = "$SOURCE_DATE_EPOCH" ] || fail "the linker did not stamp $program with SOURCE_DATE_EPOCH"
    done
}
build "$build32" i686
build "$build64" x86_64
version="$(cat "$build32/qz-version")"
[ "$version" = "$(cat "$build64/qz-version")" ] || fail "the two builds have different versions"
say "version $version, both configurations built after $(($(date +%s) - began)) s"

# ---------------------------------------------------------------- stage
stage="$work/kit"
mkdir -p "$stage/x64" "$stage/samples"
i686-w64-mingw32-strip -o "$stage/qz-setup.exe" "$build32/bin/qz-setup.exe"
i686-w64-mingw32-strip -o "$stage/qz-rsc.exe" "$build32/bin/qz-rsc.exe"
x86_64-w64-mingw32-strip -o "$stage/x64/qz-setup.exe" "$build64/bin/qz-setup.exe"
x86_64-w64-mingw32-strip -o "$stage/x64/qz-rsc.exe" "$build64/bin/qz-rsc.exe"
for exe in qz-setup.exe qz-rsc.exe x64/qz-setup.exe x64/qz-rsc.exe; do
    [ "$(pe_stamp "$stage/$exe")" = "$SOURCE_DATE_EPOCH" ] || fail "stripping changed the time stamp of $exe"
done
# Edited on Windows: Windows line ends.
for sample in qz-setup.dat answers.rsp; do
    sed 's/\r$//; s/$/\r/' "$root/samples/$sample" >"$stage/samples/$sample"
done
cp "$root/MANUAL.md" "$root/README.md" "$stage/"

# What the programs link in statically (the C++ runtime and libgcc, the
# MinGW-w64 C runtime, winpthreads, nlohmann-json) travels with its notice:
# the copyright file of each Debian package the builds took it from, as
# notices/<package>.txt, with Windows line ends.
mkdir -p "$stage/notices"
notice_packages() {
    local triplet lib file
    for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
        for lib in libstdc++.a libgcc.a libgcc_eh.a libwinpthread.a libmingw32.a libmsvcrt.a; do
            file="$(readlink -f "$("$triplet-g++-posix" -print-file-name="$lib")")"
            [ -f "$file" ] || fail "$triplet-g++-posix does not find $lib"
            dpkg -S "$file" | sed 's/:.*//; s/, /\n/g'
        done
    done
    dpkg -S "$(readlink -f /usr/include/nlohmann/json.hpp)" | sed 's/:.*//'
}
packages="$(notice_packages | sort -u)" || fail "the packages of the static libraries cannot be named"
for package in $packages; do
    copyright="/usr/share/doc/$package/copyright"
    [ -f "$copyright" ] || fail "$package has no copyright file ($copyright)"
    sed 's/\r$//; s/$/\r/' "$copyright" >"$stage/notices/$package.txt"
done
say "notices of $(echo $packages | wc -w) packages: $(echo $packages)"

# The built-in messages, dumped from the kit's qz-setup.exe by the qz-rsc of
# this machine's configuration.
if [ "$arch" = x86 ]; then tools="$build32"; else tools="$build64"; fi
"$root/tests/support/wine-prefix.sh" "$tools" >/dev/null
stop_prefix() { "$root/tests/support/wine-prefix.sh" "$tools" stop >/dev/null 2>&1 || true; }
trap 'stop_prefix; rm -rf "$work"' EXIT
(
    export QZ_BUILD_DIR="$tools"
    . "$root/tests/support/wine-env.sh"
    winpath() { winepath -w "$1" 2>/dev/null | tr -d '\r'; }
    wine "$tools/bin/qz-rsc.exe" dump "$(winpath "$stage/qz-setup.exe")" "$(winpath "$stage/samples/messages.txt")" \
        </dev/null 2>&1 | tr -d '\r' | sed 's/^/  /'
    exit "${PIPESTATUS[0]}"
) || fail "qz-rsc could not dump the messages"
[ -s "$stage/samples/messages.txt" ] || fail "qz-rsc wrote no messages"

# The folder check of the manual's sample folder (its two packages, with the
# manual's product and upgrade codes, qz-setup.exe and samples/qz-setup.dat),
# made as a publisher makes it, by the kit's program of this machine's
# configuration, for an English user: samples/folder-check/ holds the
# document and its winget manifests. The folder and TEMP are put as the
# manual shows them, so that the kit stays the same bytes on this machine.
if [ "$arch" = x86 ]; then checker="$stage/qz-setup.exe"; else checker="$stage/x64/qz-setup.exe"; fi
cmake --build "$tools" -j"$(nproc)" --target qz-make-package >/dev/null || fail "the sample packages' maker cannot be built"
sample="$work/Sample Agent Setup"
mkdir -p "$sample" "$stage/samples/folder-check/winget"
cp "$checker" "$sample/qz-setup.exe"
cp "$stage/samples/qz-setup.dat" "$sample/"
(
    export QZ_BUILD_DIR="$tools"
    . "$root/tests/support/wine-env.sh"
    winpath() { winepath -w "$1" 2>/dev/null | tr -d '\r'; }
    make_package() { # FILE PLATFORM PRODUCT-CODE UPGRADE-CODE
        env LC_ALL=en_US.UTF-8 wine "$tools/bin/qz-make-package.exe" "$(winpath "$sample/$1")" "QZ Sample Agent" "$2" "$3" "$4" \
            </dev/null >/dev/null 2>&1 || exit 1
    }
    make_package "Sample Agent x64.msi" x64 "{6D1C3A52-7F0B-4E8A-9C41-2B5E8D7A1F30}" "{5B7E2C91-0D4A-4C6F-A8E3-71F9B2D4C605}"
    make_package "Sample Agent x86.msi" Intel "{A3F2B7C4-1D5E-4F6A-8B9C-0E7D6C5B4A39}" "{C0E4A7B2-9F13-4D58-B6A1-2E8D5C7F9034}"
    cd "$sample" || exit 1
    env LC_ALL=en_US.UTF-8 wine "$sample/qz-setup.exe" /p "Sample Agent" QZ_SETUP_PLAN=folder-check.json "QZ_SETUP_PLAN_AS=*" </dev/null >/dev/null 2>&1
    code=$?
    [ $code -eq 0 ] || echo "kit: the folder check of the sample folder ended with $code" >&2
    echo "$(winpath "$sample/")" >"$work/sample-folder"
    wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r' >"$work/sample-temp"
    exit $code
) || fail "the folder check of the sample folder failed"
python3 - "$sample/folder-check.json" "$stage/samples/folder-check/folder-check.json" \
    "$(cat "$work/sample-folder")" "$(cat "$work/sample-temp")" <<'PYTHON' || fail "the folder check's document cannot be read"
import json, sys
source, target, folder, temp = sys.argv[1:5]
temp = temp.rstrip("\\") + "\\"
def put(value):
    if isinstance(value, str):
        return value.replace(folder, "C:\\Sample Agent Setup\\").replace(temp, "C:\\Users\\admin\\AppData\\Local\\Temp\\")
    if isinstance(value, list):
        return [put(item) for item in value]
    if isinstance(value, dict):
        return {key: put(item) for key, item in value.items()}
    return value
with open(source, encoding="utf-8") as file:
    document = put(json.load(file))
with open(target, "w", encoding="utf-8", newline="\r\n") as file:
    json.dump(document, file, indent=2, ensure_ascii=False)
    file.write("\n")
PYTHON
for manifest in "$sample/folder-check.json.winget"/*.yaml; do
    [ -f "$manifest" ] || fail "the folder check wrote no winget manifests"
    sed 's/\r$//; s/$/\r/' "$manifest" >"$stage/samples/folder-check/winget/$(basename "$manifest")"
done
say "the folder check of the sample folder: $(python3 -c 'import json,sys; s=json.load(open(sys.argv[1]))["summary"]; print(s["errors"], "errors,", s["warnings"], "warnings,", s["notes"], "notes")' "$stage/samples/folder-check/folder-check.json")"
stop_prefix

# ---------------------------------------------------------------- sign, verify
executables=(qz-setup.exe x64/qz-setup.exe qz-rsc.exe x64/qz-rsc.exe)
if [ -n "$signer" ]; then
    for exe in "${executables[@]}"; do
        osslsigncode sign "${sign_args[@]}" -in "$stage/$exe" -out "$stage/$exe.signed" >"$work/sign.log" 2>&1 ||
            fail "signing $exe: $(tail -n 3 "$work/sign.log" | tr '\n' ' ')"
        mv "$stage/$exe.signed" "$stage/$exe"
    done
    verify_args=(-CAfile "$ca")
    [ -n "${QZ_SIGN_TIMESTAMP_URL:-}" ] && verify_args+=(-TSA-CAfile "${QZ_SIGN_TSA_CA:-$system_ca}")
    for exe in "${executables[@]}"; do
        # Its exit code alone is not enough: a failed time-stamp check still exits 0.
        if ! osslsigncode verify "${verify_args[@]}" -in "$stage/$exe" >"$work/verify.log" 2>&1 ||
            ! grep -q '^Signature verification: ok' "$work/verify.log" ||
            { [ -n "${QZ_SIGN_TIMESTAMP_URL:-}" ] &&
                ! grep -q '^Timestamp Server Signature verification: ok' "$work/verify.log"; }; then
            fail "the signature of $exe does not verify against $ca: $(grep -iE 'fail|error|mismatch' "$work/verify.log" | head -n 3 | tr '\n' ' ')"
        fi
        say "signed and verified: $exe"
    done
fi

# ---------------------------------------------------------------- zip
# Entries in a fixed order, each with the kit's time and the same mode, and
# nothing else of the machine that made it (owners, other times).
zip="qz-setup-$version.zip"
if ! python3 - "$stage" "$dist/$zip.part" "$SOURCE_DATE_EPOCH" <<'PYTHON'
import os, sys, time, zipfile
stage, target, epoch = sys.argv[1], sys.argv[2], int(sys.argv[3])
when = time.gmtime(epoch)[:6]
names = sorted(os.path.relpath(os.path.join(folder, name), stage).replace(os.sep, "/")
               for folder, _, files in os.walk(stage) for name in files)
with zipfile.ZipFile(target, "w") as archive:
    for name in names:
        entry = zipfile.ZipInfo(name, date_time=when)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 3  # Unix, for the mode below
        entry.external_attr = 0o100644 << 16
        with open(os.path.join(stage, name), "rb") as source:
            archive.writestr(entry, source.read(), compresslevel=9)
PYTHON
then
    rm -f "$dist/$zip.part"
    fail "cannot write the zip"
fi
mv "$dist/$zip.part" "$dist/$zip"
(cd "$dist" && sha256sum "$zip" >SHA256SUMS)
say "wrote $dist/$zip ($(stat -c %s "$dist/$zip") bytes) and $dist/SHA256SUMS$([ -z "$signer" ] && echo ", UNSIGNED") after $(($(date +%s) - began)) s"
