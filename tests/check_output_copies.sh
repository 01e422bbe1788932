#!/bin/sh
# The programs' output tables (app/output_table.h) are the one home of each output's
# suffix in the C++ code. Scripts cannot read them, so the README's recipes, the recipes'
# test and CI keep copies; this check compares every copy with the tables:
#   - the ssh recipe brings back exactly varlox's outputs (--return {.}SUFFIX);
#   - every recipe's find leaves out every picture varlox and varlox-view write;
#   - the lists of varlox's outputs in tests/recipes_test.sh and .ci/run hold exactly
#     varlox's suffixes.
# varlox-plot recognises the files it draws by their headers, which the C++ code writes:
#   - varlox-plot.awk's copy of the lines that open varlox's profile is the text
#     app/profile.cpp writes;
#   - every column varlox-plot.awk looks up by name is a column the programs write.
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

# The lines that open varlox's profile: the string literals of profile_write_header, and
# varlox-plot.awk's varlox_header[1..4].
written=$(awk '
    /^int profile_write_header\(/ { on = 1 }
    on {
        line = $0
        while (match(line, /"([^"\\]|\\.)*"/)) {
            text = text substr(line, RSTART + 1, RLENGTH - 2); line = substr(line, RSTART + RLENGTH)
        }
    }
    on && /^}/ { exit }
    END { gsub(/\\n/, "\n", text); printf "%s", text }' "$root/app/profile.cpp")
plot_awk=$root/app/varlox-plot.awk
copied=$(sed -n 's/^ *varlox_header\[[0-9]\] = "\(.*\)"$/\1/p' "$plot_awk")
[ -n "$written" ] && [ "$copied" = "$written" ] ||
    disagree "$plot_awk checks varlox's profile opening with '$copied', app/profile.cpp writes '$written'"

# The columns varlox-plot.awk looks up by name, each somewhere in a header the C++ code
# writes: a name between quotes or commas and a comma, a line end or a quote.
names=$(grep -o -e 'has("[a-z_]*")' -e 'col\["[a-z_]*"\]' -e 'value("[a-z_]*")' -e '"[a-z_]*" in col' \
    -e '\^[a-z_]*,' -e 'h\[1\] != "[a-z_]*"' "$plot_awk" | grep -o '[a-z_][a-z_]*' |
    grep -v -x -e has -e col -e value -e in -e h | sort -u)
[ "$(printf '%s\n' "$names" | wc -l)" -ge 10 ] || disagree "$plot_awk: only '$(echo $names)' found as column names"
for name in $names; do
    cat "$root"/analysis/*.cpp "$root"/app/*.cpp | grep -q -E "[\",]$name(,|\\\\n|\")" ||
        disagree "$plot_awk reads a column $name, which no header of the programs names"
done

[ "$status" -eq 0 ] && echo "check_output_copies: every copy agrees with the output tables and the headers"
exit "$status"
