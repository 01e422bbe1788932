#!/bin/sh
# The program's folders form layers, from the bottom: system, image, spectrum, analysis,
# app. A file may include headers of its own folder and of the folders below it, never of
# one above. The compiler cannot see this (every folder is reached from the project's
# root), so this check reads every #include "folder/..." line of the five folders and
# names each upward one. Usage: check_layers.sh [SOURCE-ROOT]; status 1 on any upward
# include, 2 when a folder is missing.
root=${1:-.}
layers="system image spectrum analysis app"

rank() {
    n=0
    for l in $layers; do
        [ "$l" = "$1" ] && { echo "$n"; return; }
        n=$((n + 1))
    done
    echo -1
}

status=0
for folder in $layers; do
    [ -d "$root/$folder" ] || { echo "check_layers: no folder $root/$folder" >&2; exit 2; }
    own=$(rank "$folder")
    for file in "$root/$folder"/*.h "$root/$folder"/*.cpp; do
        [ -f "$file" ] || continue
        # Each line: the line number and the included folder.
        bad=$(awk '/^[ \t]*#[ \t]*include[ \t]*"[^"\/]+\// {
                  s = $0; sub(/^[^"]*"/, "", s); sub(/\/.*/, "", s); print FNR " " s }' "$file" |
            while read -r line target; do
                r=$(rank "$target")
                if [ "$r" -gt "$own" ]; then
                    echo "${file#"$root"/}:$line: $folder/ includes $target/, a layer above it"
                fi
            done)
        if [ -n "$bad" ]; then
            printf '%s\n' "$bad"
            status=1
        fi
    done
done
[ "$status" -eq 0 ] && echo "check_layers: no folder includes from a layer above it"
exit "$status"
