# Sourced: qz_native_ia32 tells whether this machine's kernel runs 32-bit x86
# code natively (status 0) or not (status 1), with the probe built by the host
# compiler into the folder given as $1. An emulator registered with
# binfmt_misc does not fool it: the probe switches to the 32-bit code segment
# inside a 64-bit process, which no binfmt handler sees.
qz_native_ia32() {
    local out="$1"
    local here
    here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
    mkdir -p "$out"
    if [ ! -x "$out/ia32-probe" ] || [ "$here/ia32-probe.c" -nt "$out/ia32-probe" ]; then
        cc -O1 -mno-red-zone -o "$out/ia32-probe" "$here/ia32-probe.c" || return 2
    fi
    timeout 10 "$out/ia32-probe" >/dev/null 2>&1
    case $? in
        0) return 0 ;;
        *) return 1 ;;
    esac
}
