#!/usr/bin/env bash
# Launcher of the robustness test program. Its fault cases need a read-only
# directory and a full disk; the tests run as root and Wine enforces no ACLs,
# so file modes stop nothing. This script makes both with mounts in the
# machine's mount namespace (so the wineserver and every Wine process see
# them) before it starts the program under Wine, and takes them down again
# however the program ends. Mounts a killed run left behind are taken down
# first. Where mounting is refused, the status file says why and the cases
# that need it skip, naming the reason.
#   <build>/robust-mounts/ro     read-only bind mount of ro-source (holds probe.txt)
#   <build>/robust-mounts/full   a 256 KiB tmpfs, drive R: of the Wine prefix
# Usage: robust-mounts.sh BUILD_DIR PROGRAM [ARGS...]
set -u
export QZ_BUILD_DIR="$1"
shift
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/wine-env.sh"
root="$QZ_BUILD_DIR/robust-mounts"
drive="$WINEPREFIX/dosdevices/r:"
mkdir -p "$root"
exec 8>"$root.lock"
flock 8

take_down() {
    [ -L "$drive" ] && [ "$(readlink "$drive")" = "$root/full" ] && rm -f "$drive"
    for place in "$root/ro" "$root/full"; do
        if mountpoint -q "$place" 2>/dev/null; then
            umount "$place" 2>/dev/null || umount -l "$place" 2>/dev/null
        fi
    done
    rm -f "$root/status"
}
take_down
trap take_down EXIT
trap 'exit 130' INT TERM HUP

mkdir -p "$root/ro-source" "$root/ro" "$root/full"
printf 'read-only probe\r\n' >"$root/ro-source/probe.txt"
status=""
if why="$(mount --bind "$root/ro-source" "$root/ro" 2>&1 && mount -o remount,bind,ro "$root/ro" 2>&1)"; then
    if touch "$root/ro/write-probe" 2>/dev/null; then
        rm -f "$root/ro/write-probe"
        status+="readonly=refused: the read-only bind mount still accepts writes"$'\n'
    else
        status+="readonly=ok"$'\n'
    fi
else
    status+="readonly=refused: mount: ${why//$'\n'/ }"$'\n'
fi
if why="$(mount -t tmpfs -o size=256k,mode=0777 qz-robust-full "$root/full" 2>&1)"; then
    if [ -e "$drive" ] && ! [ -L "$drive" ]; then
        status+="fulldrive=refused: $drive exists and is not ours"$'\n'
    else
        rm -f "$drive"
        ln -s "$root/full" "$drive"
        status+="fulldrive=ok R:"$'\n'
    fi
else
    status+="fulldrive=refused: mount: ${why//$'\n'/ }"$'\n'
fi
printf '%s' "$status" >"$root/status"

"$here/wine-run.sh" "$QZ_BUILD_DIR" "$@"
