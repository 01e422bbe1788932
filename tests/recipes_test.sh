#!/bin/sh
# Runs a batch recipe exactly as the README shows it (the text between
# "<!-- recipe: NAME" and "<!-- end of recipe -->"), twice, on a folder of pictures with
# upper- and lower-case extensions, a space in a name, a subfolder, a file that is not a
# picture and a file that is not a .bmp. Both runs must process the same pictures, leave
# out the outputs of the first (and of a varlox-view run between them), write every
# picture's outputs, and count one failure.
#
# Usage: recipes_test.sh VARLOX SOURCE_DIR folder|parallel
# Exit status 77 (skipped) for "parallel" without GNU parallel.
set -u
varlox=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
view=$(dirname "$varlox")/varlox-view
src=$(cd "$2" && pwd)
recipe=$3

if [ "$recipe" = parallel ] && ! parallel --version 2>/dev/null | grep -q 'GNU parallel'; then
    echo "GNU parallel is not installed: skipped"
    exit 77
fi

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failed=0
fail() {
    echo "FAIL: $1"
    failed=$((failed + 1))
}

# The recipe's text: the indented lines between its markers, indentation removed.
sed -n "/^<!-- recipe: $recipe /,/^<!-- end of recipe -->/p" "$src/README.md" |
    sed -n 's/^    //p' >recipe.sh
[ -s recipe.sh ] || { echo "FAIL: no recipe '$recipe' in README.md"; exit 1; }
echo "--- the recipe, as in README.md:"
cat recipe.sh

# The installed program is called by name, so put it first on the PATH.
mkdir bin
ln -s "$varlox" bin/varlox
PATH=$work/bin:$PATH
export PATH
echo : >hosts.txt

mkdir -p scans/sub
for name in a.bmp B.BMP "sub/with space.Bmp" sub/-dash.bmp; do
    cp "$src/examples/sample.bmp" "scans/$name"
done
echo "not a picture" >scans/broken.bmp
cp "$src/examples/sample.bmp" scans/notes.txt
# Every .bmp above, whatever its case; the failure is broken.bmp.
printf '%s\n' scans/B.BMP scans/a.bmp scans/broken.bmp "scans/sub/-dash.bmp" "scans/sub/with space.Bmp" >want.txt

# The pictures a run processed, one per line, sorted.
processed() {
    if [ "$recipe" = folder ]; then
        sed 's/^ok //; s/^FAILED //' varlox-run.txt
    else
        awk -F '\t' 'NR > 1 { sub(/^varlox /, "", $9); print $9 }' varlox-jobs.txt | sed "s/^'\(.*\)'$/\1/"
    fi | LC_ALL=C sort
}

for run in 1 2; do
    # Between the runs, varlox-view's outputs join the folder: its picture must not be
    # taken for an input either.
    if [ "$run" = 2 ]; then
        "$view" scans/a.bmp 2>/dev/null || fail "varlox-view on scans/a.bmp"
        [ -s scans/a-as-log.bmp ] || fail "varlox-view wrote no scans/a-as-log.bmp"
    fi
    sh recipe.sh >summary.txt 2>recipe-err.txt
    echo "--- run $run printed:"
    cat summary.txt recipe-err.txt
    processed >processed-$run.txt
    diff want.txt processed-$run.txt >/dev/null ||
        fail "run $run processed: $(tr '\n' ' ' <processed-$run.txt), want: $(tr '\n' ' ' <want.txt)"
    tail -n 1 summary.txt | grep -Eq '^1 (of 5 pictures )?failed$' ||
        fail "run $run: last line '$(tail -n 1 summary.txt)' does not count one failure"
    grep -q 'broken.bmp' summary.txt || fail "run $run: the failure is not named"
    while read -r picture; do
        [ "$picture" = scans/broken.bmp ] && continue
        base=${picture%.*}
        for out in "$base-as-bw.bmp" "$base-as-tg.bmp" "$base-ps-bw.bmp" "$base-ps-tg.bmp" "$base.csv"; do
            [ -s "$out" ] || fail "run $run: no $out"
        done
        if [ "$recipe" = folder ]; then
            grep -q 'completed successfully' "$picture.log" || fail "run $run: $picture.log does not say success"
        else
            grep -q "^$picture	The calculation has been completed successfully" varlox.log ||
                fail "run $run: varlox.log has no success line naming $picture"
        fi
        rm -f "$base.csv"
    done <want.txt
    if [ "$recipe" = folder ]; then
        grep -q 'is not a bitmap image' scans/broken.bmp.log || fail "run $run: broken.bmp.log lacks the reason"
    fi
    [ -e scans/notes.csv ] && fail "run $run: a file not ending in .bmp was processed"
done

[ $failed -eq 0 ] || { echo "$failed check(s) failed"; exit 1; }
echo "the $recipe recipe processed the same 5 pictures twice"
