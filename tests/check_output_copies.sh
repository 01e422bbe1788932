#!/bin/sh
# The programs' output tables (app/output_table.h) are the one home of each output's
# suffix in the C++ code. Scripts cannot read them, so the README's recipes, the recipes'
# test and CI keep copies; this check compares every copy with the tables:
#   - the ssh recipe brings back exactly varlox's outputs (--return {.}SUFFIX);
#   - every recipe's find leaves out every picture varlox and varlox-view write;
#   - the lists of varlox's outputs in tests/recipes_test.sh and .ci/run hold exactly
#     varlox's suffixes.
# Usage: check_output_copies.sh [SOURCE-ROOT]; status 1 when a copy disagrees.
root=${1:-.}
table=$root/app/output_table.h
status=0
disagree() { echo "check_output_copies: $*"; status=1; }

# suffixes NAME: the suffixes of the rows of table kNAME, one a line, in the table's order.
suffixes() {
    awk -v name="$1" '
        $0 ~ "constexpr OutputRow " name "\\[" { inside = 1; next }
        inside && /^};/ { inside = 0 }
        inside && /^[ \t]*\{"/ { s = $0; sub(/^[ \t]*\{"/, "", s); sub(/".*/, "", s); print s }' "$table"
}
sorted() { printf '%s\n' "$@" | sort; }

varlox=$(suffixes kVarloxOutputs)
view=$(suffixes kViewOutputs)
[ "$(printf '%s\n' "$varlox" | wc -l)" -eq 5 ] || disagree "$table: varlox's table does not have 5 rows"
[ -n "$view" ] || disagree "$table: no rows for varlox-view"

# The recipes as the README gives them: the lines between each recipe marker and its end.
recipes=$(awk '/<!-- recipe:/ { on = 1; next } /<!-- end of recipe -->/ { on = 0 } on' "$root/README.md")

# The ssh recipe's --return list, less the log.
returned=$(printf '%s\n' "$recipes" | grep -o -- '--return {\.}[^ ]*' | sed 's/^--return {\.}//')
[ "$(sorted $returned)" = "$(sorted $varlox)" ] ||
    disagree "README's parallel recipe returns '$(echo $returned)', varlox writes '$(echo $varlox)'"

# Every find in the recipes must leave out every BMP either program writes.
printf '%s\n' "$recipes" | awk '/find scans/ { f = $0; while (f ~ /\\$/) { getline l; f = f " " l }; print f }' >"${TMPDIR:-/tmp}/varlox-finds.$$"
finds=0
while read -r find_line; do
    finds=$((finds + 1))
    patterns=$(printf '%s\n' "$find_line" | grep -o "! -name '[^']*'" | sed "s/^! -name '//; s/'\$//")
    for suffix in $varlox $view; do
        case $suffix in *.bmp) ;; *) continue ;; esac
        left_out=no
        for p in $patterns; do
            # shellcheck disable=SC2254
            case "scan$suffix" in $p) left_out=yes ;; esac
        done
        [ "$left_out" = yes ] || disagree "a find in README's recipes would process the outputs ending in $suffix"
    done
done <"${TMPDIR:-/tmp}/varlox-finds.$$"
rm -f "${TMPDIR:-/tmp}/varlox-finds.$$"
[ "$finds" -ge 3 ] || disagree "README: $finds recipes with a find, expected 3"

# The scripts' own lists of varlox's five outputs.
listed=$(grep 'for out in' "$root/tests/recipes_test.sh" | grep -o '"\$base[^"]*"' | sed 's/^"\$base//; s/"$//')
[ "$(sorted $listed)" = "$(sorted $varlox)" ] ||
    disagree "tests/recipes_test.sh checks '$(echo $listed)', varlox writes '$(echo $varlox)'"
listed=$(grep -o 'outs=([^)]*)' "$root/.ci/run" | sed 's/^outs=(//; s/)$//' | tr ' ' '\n' | sed 's/^sample//')
[ "$(sorted $listed)" = "$(sorted $varlox)" ] ||
    disagree ".ci/run compares '$(echo $listed)', varlox writes '$(echo $varlox)'"

[ "$status" -eq 0 ] && echo "check_output_copies: every copy agrees with the output tables"
exit "$status"
