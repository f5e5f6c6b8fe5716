#!/usr/bin/env bash
# Checks the shipped 32-bit qz-setup.exe on any machine:
# - statically: PE32, GUI, import table, manifest, and string tables equal to
#   those of the tested build's qz-setup.exe;
# - end to end, with the tested build's tools (qz-product-check.exe): a
#   refused command line, an unattended installation and removal, a failing
#   package. Natively where this machine runs 32-bit code, otherwise under
#   qemu-user: then an i386 binfmt_misc handler is registered for this check
#   only. Where the kernel gives a user namespace a binfmt_misc instance of
#   its own (Linux 6.7 on), the check runs in such a namespace and the handler
#   reaches only its processes; elsewhere it is registered machine-wide and
#   removed afterwards, also when the check fails. Only qz-setup.exe itself
#   runs emulated; the tools are the tested build's (64-bit there).
#
# Usage: check-product.sh PRODUCT_BUILD_DIR TOOLS_BUILD_DIR
# QZ_PRODUCT_RUN=native|qemu forces how the end-to-end runs are made.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
product_build="$(cd "$1" && pwd)"
tools_build="$(cd "$2" && pwd)"
product="$product_build/bin/qz-setup.exe"
. "$here/host/native-ia32.sh"

status=0
say() { echo "product check: $*"; }

# ---------------------------------------------------------------- static
# (once: not again in the private namespace the emulated part runs in)
if [ -z "${QZ_BINFMT_SCOPE:-}" ]; then
    say "static checks of $product"
    "$here/check-binary.sh" "$product" x86 "$(cat "$tools_build/qz-version")" | sed 's/^/  /'
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
fi

# ---------------------------------------------------------------- how to run it
native=no
qz_native_ia32 "$tools_build/host" && native=yes
mode="${QZ_PRODUCT_RUN:-}"
if [ -z "$mode" ]; then
    if [ $native = yes ]; then mode=native; else mode=qemu; fi
fi
case "$mode" in
    native)
        if [ $native = no ]; then
            say "QZ_PRODUCT_RUN=native refused: this machine's kernel runs no 32-bit code"
            exit 1
        fi
        timeout_ms=120000
        ;;
    qemu) timeout_ms=900000 ;;
    *)
        say "QZ_PRODUCT_RUN must be native or qemu, not '$mode'"
        exit 2
        ;;
esac

# ---------------------------------------------------------------- qemu-user
binfmt=/proc/sys/fs/binfmt_misc
entry="$binfmt/qz-i386"
mounted_binfmt=no
registered=no
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# A private binfmt_misc instance: the rest of the check runs again inside a
# new user and mount namespace, where the handler is seen by nothing else.
private_binfmt_works() {
    unshare --user --map-root-user --mount sh -c "mount -t binfmt_misc none $binfmt" 2>/dev/null
}
if [ "$mode" = qemu ] && [ -z "${QZ_BINFMT_SCOPE:-}" ]; then
    if private_binfmt_works; then
        say "running the emulated part in a private user namespace with a binfmt_misc instance of its own"
        QZ_BINFMT_SCOPE=private QZ_STATIC_STATUS=$status exec unshare --user --map-root-user --mount "$0" "$@"
    fi
    say "this kernel gives no private binfmt_misc instance: the handler is registered machine-wide"
fi
if [ "${QZ_BINFMT_SCOPE:-}" = private ]; then
    sudo=""
    status="${QZ_STATIC_STATUS:-0}"
fi
unregister() {
    if [ $registered = yes ] && [ -e "$entry" ]; then
        echo -1 | $sudo tee "$entry" >/dev/null && say "removed the i386 binfmt_misc handler again"
    fi
    registered=no
    if [ $mounted_binfmt = yes ]; then
        $sudo umount "$binfmt" 2>/dev/null || true
        mounted_binfmt=no
    fi
}
register_qemu() {
    local qemu
    qemu="$(command -v qemu-i386-static || true)"
    if [ -z "$qemu" ]; then
        say "qemu-i386-static is missing (package qemu-user-static)"
        return 1
    fi
    if [ "${QZ_BINFMT_SCOPE:-}" = private ]; then
        # A fresh instance, private to this namespace; it ends with it.
        mount -t binfmt_misc none "$binfmt" || { say "cannot mount a private binfmt_misc"; return 1; }
    elif [ ! -e "$binfmt/register" ]; then
        $sudo mkdir -p "$binfmt" 2>/dev/null
        $sudo mount -t binfmt_misc binfmt_misc "$binfmt" || { say "cannot mount binfmt_misc"; return 1; }
        mounted_binfmt=yes
    fi
    # Left over from an interrupted check: ours, so remove it first.
    [ -e "$entry" ] && echo -1 | $sudo tee "$entry" >/dev/null
    # i386 ELF executables and shared objects; the F flag opens the
    # interpreter now, so it works inside any mount namespace.
    printf '%s' ':qz-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' |
        $sudo tee "$binfmt/register" >/dev/null || { say "cannot register the i386 handler"; return 1; }
    registered=yes
    if [ "${QZ_BINFMT_SCOPE:-}" = private ]; then
        say "registered an i386 binfmt_misc handler ($qemu) in the private instance: 32-bit programs of this check run under qemu-user, the rest of the machine is unaffected"
    else
        say "registered an i386 binfmt_misc handler ($qemu) for this check only: every 32-bit program on this machine runs under qemu-user until it is removed"
    fi
}
trap unregister EXIT
trap 'unregister; exit 130' INT TERM

if [ "$mode" = qemu ]; then
    register_qemu || exit 1
fi

# ---------------------------------------------------------------- the prefix
export QZ_BUILD_DIR="$tools_build"
if [ "$(cat "$tools_build/qz-arch" 2>/dev/null)" = x64 ]; then
    # The suite's prefix has no 32-bit half: a prefix of its own, whose
    # 32-bit half wineboot sets up natively, or under qemu (minutes).
    export QZ_WINEPREFIX="$tools_build/wineprefix-product"
    export QZ_PREFIX_WOW64=1
fi
. "$here/wine-env.sh"
if [ ! -f "$WINEPREFIX/.qz-ready" ]; then
    say "creating the Wine prefix $WINEPREFIX with its 32-bit half ($mode)"
fi
start=$(date +%s)
"$here/wine-prefix.sh" "$tools_build" || { say "cannot set up the Wine prefix"; exit 1; }
say "Wine prefix ready after $(($(date +%s) - start)) s"
stop_prefix() { "$here/wine-prefix.sh" "$tools_build" stop >/dev/null 2>&1 || true; }
trap 'stop_prefix; unregister' EXIT

winpath() { winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# String tables: the same as the tested build's (whose tables the suite checks).
strings_tool="$tools_build/bin/qz-strings.exe"
wine "$strings_tool" "$(winpath "$tools_build/bin/qz-setup.exe")" 2>/dev/null | tr -d '\r' >"$tools_build/strings-tested.txt"
wine "$strings_tool" "$(winpath "$product")" 2>/dev/null | tr -d '\r' >"$tools_build/strings-product.txt"
count="$(wc -l <"$tools_build/strings-product.txt")"
languages="$(cut -d' ' -f1 "$tools_build/strings-product.txt" | sort -u | tr '\n' ' ')"
if [ "$count" -gt 0 ] && cmp -s "$tools_build/strings-tested.txt" "$tools_build/strings-product.txt"; then
    say "string tables: $count strings in languages $languages- the same as the tested build's"
else
    say "string tables differ from the tested build's ($count strings):"
    diff "$tools_build/strings-tested.txt" "$tools_build/strings-product.txt" | head -n 20
    status=1
fi

# The version resource: the same as the tested build's (which the suite checks).
wine "$tools_build/bin/qz-version-info.exe" "$(winpath "$tools_build/bin/qz-setup.exe")" 2>/dev/null | tr -d '\r' >"$tools_build/version-tested.txt"
wine "$tools_build/bin/qz-version-info.exe" "$(winpath "$product")" 2>/dev/null | tr -d '\r' >"$tools_build/version-product.txt"
if grep -q '^FileVersion=' "$tools_build/version-product.txt" &&
    cmp -s "$tools_build/version-tested.txt" "$tools_build/version-product.txt"; then
    say "version resource: $(grep '^FileVersion=' "$tools_build/version-product.txt") - the same as the tested build's"
else
    say "version resource differs from the tested build's:"
    diff "$tools_build/version-tested.txt" "$tools_build/version-product.txt" | head -n 20
    status=1
fi

# ---------------------------------------------------------------- end to end
say "end-to-end runs of the 32-bit qz-setup.exe ($mode; time-out $((timeout_ms / 1000)) s per run)"
start=$(date +%s)
wine "$tools_build/bin/qz-product-check.exe" --timeout-ms "$timeout_ms" "$(winpath "$product")" 2>/dev/null |
    sed -u 's/\r$//; s/^/  /'
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
say "end-to-end runs took $(($(date +%s) - start)) s"

if [ $status -eq 0 ]; then say "passed"; else say "FAILED"; fi
exit $status
