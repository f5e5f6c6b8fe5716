#!/usr/bin/env bash
# Makes the kit a publisher downloads: dist/qz-setup-<version>.zip and
# dist/SHA256SUMS (sha256sum -c format). Installs what it needs and builds
# both configurations (the 32-bit and the 64-bit programs). The zip holds
#   qz-setup.exe        the 32-bit product
#   x64/qz-setup.exe    the 64-bit build, for Windows without its 32-bit part
#   qz-rsc.exe          the 32-bit resource-module builder
#   samples/            qz-setup.dat, answers.rsp, and messages.txt (the
#                       built-in messages, dumped under Wine by qz-rsc)
#   MANUAL.md, README.md
# The executables are stripped, then signed and verified when a certificate
# is given, then zipped:
#   QZ_SIGN_CERT + QZ_SIGN_KEY (PEM files), or QZ_SIGN_PKCS12: the certificate
#   QZ_SIGN_PASSWORD_FILE   the key's password, read from that file
#   QZ_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamping service (optional)
#   QZ_SIGN_CA              the CA file the signatures are verified against:
#                           by default the certificate itself when it is
#                           self-signed, else the system's CA bundle
# QZ_DIST_DIR chooses another output folder; QZ_BUILD_DIR, QZ_BUILD_DIR_X64
# and QZ_TEST_ARCH as for scripts/test.sh (the configuration whose qz-rsc
# makes the dump under Wine).
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
build() { # BUILD_DIR TOOLCHAIN
    cmake -S "$root" -B "$1" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$2.cmake" >/dev/null
    cmake --build "$1" -j"$(nproc)" --target qz-setup qz-rsc >/dev/null
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
# Edited on Windows: Windows line ends.
for sample in qz-setup.dat answers.rsp; do
    sed 's/\r$//; s/$/\r/' "$root/samples/$sample" >"$stage/samples/$sample"
done
cp "$root/MANUAL.md" "$root/README.md" "$stage/"

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
stop_prefix

# ---------------------------------------------------------------- sign, verify
executables=(qz-setup.exe x64/qz-setup.exe qz-rsc.exe)
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
mkdir -p "$dist"
zip="qz-setup-$version.zip"
rm -f "$dist/$zip" "$dist/SHA256SUMS"
(cd "$stage" && cmake -E tar cf "$dist/$zip" --format=zip --mtime="${QZ_KIT_MTIME:-2026-01-01 00:00:00 UTC}" \
    qz-setup.exe x64 qz-rsc.exe samples MANUAL.md README.md)
(cd "$dist" && sha256sum "$zip" >SHA256SUMS)
say "wrote $dist/$zip ($(stat -c %s "$dist/$zip") bytes) and $dist/SHA256SUMS$([ -z "$signer" ] && echo ", UNSIGNED") after $(($(date +%s) - began)) s"
