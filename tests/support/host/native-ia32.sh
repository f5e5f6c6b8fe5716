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

# qz_choose_config PROBE_DIR FORCED NAME sets `native` (yes or no), `arch`
# (x86 or x64) and `why`: the machine's native configuration, or FORCED, the
# value of the setting called NAME. Says why and returns 2 for a value that
# is neither, and for x86 on a machine that cannot run 32-bit code natively
# (under an emulator every start of a 32-bit program takes about a minute).
qz_choose_config() {
    native=no
    qz_native_ia32 "$1" && native=yes
    case "$2" in
        "")
            if [ $native = yes ]; then
                arch=x86 why="this machine runs 32-bit code natively"
            else
                arch=x64 why="this machine's kernel runs no 32-bit code (a switch to the 32-bit code segment faults)"
            fi
            ;;
        x86)
            if [ $native = no ]; then
                echo "$3=x86 refused: this machine's kernel runs no 32-bit code, and under an emulator" >&2
                echo "this would take hours. Set it to x64, or leave it unset to choose by the machine." >&2
                return 2
            fi
            arch=x86 why="forced by $3=x86"
            ;;
        x64) arch=x64 why="forced by $3=x64" ;;
        *)
            echo "$3 must be x86 or x64, not '$2'" >&2
            return 2
            ;;
    esac
}
