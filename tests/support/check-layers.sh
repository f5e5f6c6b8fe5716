#!/usr/bin/env bash
# Fails when a source file includes a header from a folder above its own.
# The folders stack from the bottom up:
#   diag, system, resources   (one layer: they may use each other)
#   msi, settings, language, planning, install, bootstrapper and rsc (the
#   resource-module builder, a program of its own beside the bootstrapper)
# A folder may include its own layer's headers and any below it.
set -uo pipefail
src="${1:-$(cd "$(dirname "$0")/../../src" && pwd)}"

rank() {
    case "$1" in
    diag | system | resources) echo 0 ;;
    msi) echo 1 ;;
    settings) echo 2 ;;
    language) echo 3 ;;
    planning) echo 4 ;;
    install) echo 5 ;;
    bootstrapper | rsc) echo 6 ;;
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
