#!/usr/bin/env bash
# Fails when a source file includes a header from a folder above its own.
# The folders stack from the bottom up:
#   system, resources   (one layer: the handle owners, files and paths, the
#                        installer binding, the exception types and raise
#                        operations; the string tables and their ids)
#   diag                (the message catalogue and the log stand on system:
#                        system never includes diag, and a raise reaches the
#                        log only through the reporter the log installs)
#   msi, settings, language, planning, install, bootstrapper and rsc (the
#   resource-module builder, a program of its own beside the bootstrapper)
# A folder may include its own layer's headers and any below it.
set -uo pipefail
src="${1:-$(cd "$(dirname "$0")/../../src" && pwd)}"

rank() {
    case "$1" in
    system | resources) echo 0 ;;
    diag) echo 1 ;;
    msi) echo 2 ;;
    settings) echo 3 ;;
    language) echo 4 ;;
    planning) echo 5 ;;
    install) echo 6 ;;
    bootstrapper | rsc) echo 7 ;;
    *) echo "" ;;
    esac
}

status=0
checked=0
while IFS= read -r file; do
    folder="${file#"$src"/}"
    folder="${folder%%/*}"
    own=$(rank "$folder")
    if [ -z "$own" ]; then
        echo "layers: $file is in a folder that has no layer: $folder" >&2
        status=1
        continue
    fi
    while IFS= read -r line; do
        number="${line%%:*}"
        header="${line#*:}"
        header="${header#*\"}"
        header="${header%%\"*}"
        case "$header" in
        */*) target="${header%%/*}" ;;
        *) continue ;; # a header of the file's own folder
        esac
        theirs=$(rank "$target")
        if [ -z "$theirs" ]; then
            echo "layers: ${file#"$src"/}:$number includes \"$header\" from a folder that has no layer" >&2
            status=1
        elif [ "$theirs" -gt "$own" ]; then
            echo "layers: ${file#"$src"/}:$number: $folder/ includes \"$header\" from a layer above it" >&2
            status=1
        fi
        checked=$((checked + 1))
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.rc' \) | sort)

if [ "$checked" -eq 0 ]; then
    echo "layers: no includes found under $src" >&2
    exit 1
fi
[ $status -eq 0 ] && echo "layers: every include goes to its own layer or below"
exit $status
