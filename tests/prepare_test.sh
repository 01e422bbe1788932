#!/bin/sh
# Tests of varlox-prepare on pictures made here with ImageMagick: gratings with the same
# period P along both axes, in non-square colour, grey, 16-bit, two-page, rotated and
# offset (a page position stored in the file) pictures. The prepared BMP must be square, 24-bit and unpadded, and varlox's profile must
# peak at bin 2N/P for a prepared side N (bin i is i/2 cycles across the picture), with no
# second peak (a resample that stretches one axis more than the other gives two). Then
# the refusals: each must end with status 1, its message, and no output file.
#
# Usage: prepare_test.sh VARLOX SOURCE_DIR. Exit status 77 (skipped) without ImageMagick.
set -u
varlox=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
prepare=$(cd "$2" && pwd)/app/varlox-prepare

if command -v magick >/dev/null 2>&1; then
    im="magick" identify="magick identify"
elif command -v convert >/dev/null 2>&1; then
    im="convert" identify="identify"
else
    echo "ImageMagick is not installed: skipped"
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

# grating W H P FILE [OPTIONS...]: W x H picture, period P pixels along both axes. One
# period is computed with -fx and tiled, which is exact and much faster than -fx on the
# whole picture. Channels differ (red, green, blue with different phases and contrasts),
# so a picture made in colour stays colour.
grating() {
    w=$1 h=$2 p=$3 file=$4
    shift 4
    $im -size "${p}x$p" xc: \
        -channel R -fx "0.5+0.2*sin(2*pi*i/$p)+0.2*sin(2*pi*j/$p)" \
        -channel G -fx "0.5+0.1*cos(2*pi*i/$p)+0.1*cos(2*pi*j/$p)" \
        -channel B -fx "0.4+0.15*sin(2*pi*i/$p)-0.15*sin(2*pi*j/$p)" +channel "$work/tile.png" &&
        $im -size "${w}x$h" "tile:$work/tile.png" "$@" "$file"
}

# The BMP header's fields varlox checks, as "BM WIDTH HEIGHT BITS COMPRESSION".
bmp_fields() {
    printf '%s %s %s %s\n' "$(od -An -c -N2 "$1" | tr -d ' ')" \
        "$(od -An -tu4 -j18 -N8 "$1" | tr -s ' ' | sed 's/^ //')" \
        "$(od -An -tu2 -j28 -N2 "$1" | tr -d ' ')" "$(od -An -tu4 -j30 -N4 "$1" | tr -d ' ')"
}

# check_square BMP N P LABEL: square N x N 24-bit BMP, no constant border, varlox's
# amplitude peak at bin 2N/P and nothing above a tenth of it elsewhere.
check_square() {
    bmp=$1 n=$2 p=$3 label=$4
    fields=$(bmp_fields "$bmp")
    [ "$fields" = "BM $n $n 24 0" ] || fail "$label: header $fields, want BM $n $n 24 0"
    # -trim's box shrinks when a border row or column has one colour (padding does).
    box=$($im "$bmp" -format '%@' info:)
    [ "$box" = "${n}x$n+0+0" ] || fail "$label: constant border, content box $box"
    "$varlox" "$bmp" >/dev/null 2>&1 || { fail "$label: varlox refused the prepared picture"; return; }
    csv=${bmp%.*}.csv
    want=$((2 * n / p))
    peaks=$(awk -F, -v want="$want" '
        NR > 4 && $2 > top { top = $2; bin = $1 }
        NR > 4 && ($1 < want - 1 || $1 > want + 1) && $2 > other { other = $2; obin = $1 }
        END { printf "%d %d %.3f", bin, obin, other }' "$csv")
    # shellcheck disable=SC2086 # three numbers, split on purpose
    set -- $peaks
    [ "$1" = "$want" ] || fail "$label: profile peak at bin $1, want $want"
    awk -v v="$3" 'BEGIN { exit !(v < 0.1) }' || fail "$label: second peak at bin $2 reaches $3"
}

# The cases: name, picture options, period, varlox-prepare options, side wanted, notes
# wanted on standard error (a |-separated list of fixed strings).
grating 600 400 20 wide.png -depth 8
grating 256 320 16 grey.png -colorspace gray -depth 8
grating 500 300 25 deep.tif -depth 16
grating 300 240 12 page1.png -depth 8
grating 300 240 30 page2.png -depth 8
$im page1.png page2.png two.tif
cp wide.png ./-dash.png
grating 300 200 20 offset.png -depth 8 -repage 400x300+30+20
grating 300 450 15 tall.png -depth 8
grating 300 200 20 turned.tif -depth 8 -orient RightTop
[ "$($identify -format '%[colorspace] %z' grey.png)" = "Gray 8" ] ||
    fail "the grey test picture is not an 8-bit grey file"

while IFS=';' read -r input period options side notes; do
    label="$input $options"
    out=./${input%.*}.bmp
    # shellcheck disable=SC2086 # options split on purpose
    sh "$prepare" $options "$input" 2>err.txt </dev/null
    status=$?
    if [ $status -ne 0 ]; then
        fail "$label: status $status: $(cat err.txt)"
        continue
    fi
    check_square "$out" "$side" "$period" "$label"
    printf '%s\n' "$notes" | tr '|' '\n' | while read -r note; do
        grep -qF -- "$note" err.txt || echo "FAIL: $label: no note '$note' in: $(cat err.txt)"
    done | grep . && failed=$((failed + 1))
    rm -f "$out"
done <<'EOF'
wide.png;20;;400;600 x 400 pixels|centred 400 x 400 square at column 100, row 0|wrote wide.bmp
wide.png;20;--side 200;200;centred 200 x 200 square at column 200, row 100
grey.png;16;;256;256 x 320 pixels|column 0, row 32
deep.tif;25;;300;16-bit samples reduced to 8 bits|grey levels now span
two.tif;12;;240;used the first of 2 pages|column 30, row 0
tall.png;15;--side=300;300;300 x 450 pixels|column 0, row 75
turned.tif;20;;200;orientation tag (RightTop)|column 0, row 50
-dash.png;20;--;400;wrote -dash.bmp
offset.png;20;;200;column 50, row 0
EOF
ls two-[0-9]*.bmp 2>/dev/null && fail "a multi-page file gave one BMP per page"

# Controls: the earlier advice (a forced 512 x 512 resize; an extent that pads the short
# side) fails these checks, so the checks can tell a resample or padding from a crop.
$im wide.png -resize '512x512!' -type TrueColor BMP3:stretched.bmp
$im wide.png -gravity center -extent 512x512 -type TrueColor BMP3:padded.bmp
check_square stretched.bmp 512 20 stretched | grep -q 'second peak' ||
    fail "the check does not see the two peaks of a stretched picture"
check_square padded.bmp 512 20 padded | grep -q 'constant border' ||
    fail "the check does not see the padding of an extended picture"

# Refusals: status 1, the message, no output.
cp page1.png same.bmp 2>/dev/null
echo "not a picture" >text.png
mkdir policy
cat >policy/policy.xml <<'EOF'
<policymap>
  <policy domain="coder" rights="none" pattern="PNG" />
</policymap>
EOF
while IFS=';' read -r env args message; do
    rm -f wide.bmp text.bmp missing.bmp
    # shellcheck disable=SC2086 # words split on purpose
    env $env /bin/sh "$prepare" $args >/dev/null 2>err.txt </dev/null
    status=$?
    [ $status -eq 1 ] || fail "$args: status $status, want 1"
    grep -qF -- "$message" err.txt || fail "$args: no '$message' in: $(cat err.txt)"
    ls wide.bmp text.bmp missing.bmp out.png .varlox-prepare.* 2>/dev/null && fail "$args: left a file"
done <<'EOF'
;missing.png;Error: Could not read missing.png
;text.png;Error: text.png is not a picture ImageMagick can read
;--side 401 wide.png;Error: --side 401 is larger than the picture (600 x 400)
;--side 0 wide.png;Error: --side must be at least 1
;--side 12x wide.png;Error: --side takes a whole number
;wide.png out.png;Error: the output out.png must end in .bmp
;same.bmp;Error: same.bmp would overwrite the input file
;wide.png a.bmp b.bmp;Error: too many arguments
;;Usage: varlox-prepare
PATH=/nonexistent;wide.png;Error: ImageMagick is not installed
MAGICK_CONFIGURE_PATH=policy;wide.png;Error: ImageMagick's security policy does not allow reading wide.png
EOF

[ $failed -eq 0 ] || { echo "$failed check(s) failed"; exit 1; }
echo "all varlox-prepare checks passed"
