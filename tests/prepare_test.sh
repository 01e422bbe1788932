#!/bin/sh
# Tests of varlox-prepare on pictures made here with ImageMagick: gratings with the same
# period P along both axes, in non-square colour, grey, 16-bit, two-page, rotated and
# offset (a page position stored in the file) pictures. The prepared BMP must be square, 24-bit and unpadded, and varlox's profile must
# peak at bin 2N/P for a prepared side N (bin i is i/2 cycles across the picture), with no
# second peak (a resample that stretches one axis more than the other gives two). Then
# the refusals: each must end with status 1, its message, and no output file. Height
# maps must hold the source's samples: the whole picture, or the square asked for.
#
# Usage: prepare_test.sh VARLOX SOURCE_DIR. Exit status 77 (skipped) without ImageMagick.
set -u
varlox=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
prepare=$(cd "$2" && pwd)/app/varlox-prepare
. "$2/tests/interrupt_cases.sh"

# Skipped exactly where varlox-prepare refuses to run for want of ImageMagick (no magick,
# nor both convert and identify: a convert of another program without identify is not
# ImageMagick): the script itself is asked. It looks for ImageMagick before it reads
# its input, so a picture that does not exist gets that refusal, or "Could not read".
said=$(sh "$prepare" "$2/tests/no such picture.png" 2>&1 </dev/null)
case $said in
    *"Error: ImageMagick is not installed"*)
        echo "ImageMagick is not installed, as varlox-prepare says: skipped"
        exit 77 ;;
esac
# The ImageMagick the script runs: magick (ImageMagick 7) first, else convert and identify.
if command -v magick >/dev/null 2>&1; then
    im="magick" identify="magick identify"
else
    im="convert" identify="identify"
fi

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failed=0
fail() {
    echo "FAIL: $1"
    failed=$((failed + 1))
}

# existing FILE...: those of FILE that exist (unmatched globs name nothing); status 1 if
# none. (ls fails as soon as one of its names is missing, so it cannot tell.)
existing() {
    found=1
    for f in "$@"; do
        if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\n' "$f"; found=0; fi
    done
    return $found
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

# le FILE OFFSET COUNT: COUNT bytes from OFFSET as a little-endian number, whatever the
# host's byte order.
le() {
    od -An -tu1 -j "$2" -N "$3" "$1" | awk '{ for (i = 1; i <= NF; i++) { v += $i * m; m *= 256 } }
        BEGIN { m = 1 } END { printf "%.0f", v }'
}
# The BMP header's fields varlox checks, as "BM WIDTH HEIGHT BITS COMPRESSION".
bmp_fields() {
    printf '%s %s %s %s %s\n' "$(od -An -c -N2 "$1" | tr -d ' ')" "$(le "$1" 18 4)" \
        "$(le "$1" 22 4)" "$(le "$1" 28 2)" "$(le "$1" 30 4)"
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
wide.png;20;--at 0,0;400;cropped the 400 x 400 square at column 0, row 0
wide.png;20;--at 150,50 --side 200;200;cropped the 200 x 200 square at column 150, row 50
wide.png;20;--at=250,100;300;cropped the 300 x 300 square at column 250, row 100
tall.png;15;--at 0,150 --side=300;300;the 300 x 300 square at column 0, row 150
EOF
existing two-[0-9]*.bmp && fail "a multi-page file gave one BMP per page"

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
mkdir policy limits dir.bmp
ln -s dir.bmp dirlink.bmp
$im -size 40x30 xc:'gray(50%)' -depth 8 flat.png
$im wide.png sgi:sgi.png
cat >policy/policy.xml <<'EOF'
<policymap>
  <policy domain="coder" rights="none" pattern="PNG" />
</policymap>
EOF
cat >limits/policy.xml <<'EOF'
<policymap>
  <policy domain="resource" name="width" value="100"/>
</policymap>
EOF
# A decompression bomb: a 140 KB PNG of 12000 x 12000 black pixels. Its header is within
# the width and height limits, its pixels beyond the others, which are set here (a
# system's own may be laxer). ImageMagick would not make it, so it is put together here:
# its rows of zeros deflate a thousandfold with gzip, whose trailer also gives the CRC-32
# that ends each chunk (the same checksum).
be32() {  # be32 N: N as 4 bytes, most significant first
    # shellcheck disable=SC2059 # the format is octal escapes
    printf "$(printf '\\%03o' $(($1 >> 24 & 255)) $(($1 >> 16 & 255)) $(($1 >> 8 & 255)) $(($1 & 255)))"
}
png_chunk() {  # png_chunk FILE: FILE (a chunk's type and data) with its length and CRC
    be32 $(($(wc -c <"$1") - 4))
    cat "$1"
    # shellcheck disable=SC2059 # the format is octal escapes
    printf "$(gzip -c <"$1" | tail -c 8 | od -An -tu1 -N4 | awk '{ printf "\\%03o\\%03o\\%03o\\%03o", $4, $3, $2, $1 }')"
}
bytes=$((12000 * 12001))  # a filter byte and 12000 samples a row, all 0
{ printf IHDR; be32 12000; be32 12000; printf '\010\000\000\000\000'; } >ihdr  # 8-bit grey
head -c "$bytes" /dev/zero | gzip -9 -n -c >zeros.gz
# zlib's form of the deflated data: its header, gzip's data between its 10-byte header
# and 8-byte trailer, and the Adler-32 of the zeros.
{ printf 'IDAT\170\332'; tail -c +11 zeros.gz | head -c $(($(wc -c <zeros.gz) - 18)); be32 $(((bytes % 65521) << 16 | 1)); } >idat
printf IEND >iend
{ printf '\211PNG\r\n\032\n'; png_chunk ihdr; png_chunk idat; png_chunk iend; } >bomb.png
rm -f ihdr zeros.gz idat iend
[ "$($identify -ping -format '%w %h' bomb.png)" = "12000 12000" ] || fail "the bomb is not a 12000 x 12000 PNG"
mkdir bomb
cat >bomb/policy.xml <<'EOF'
<policymap>
  <policy domain="resource" name="width" value="16KP"/>
  <policy domain="resource" name="height" value="16KP"/>
  <policy domain="resource" name="area" value="32MP"/>
  <policy domain="resource" name="memory" value="64MiB"/>
  <policy domain="resource" name="map" value="128MiB"/>
  <policy domain="resource" name="disk" value="256MiB"/>
</policymap>
EOF
while IFS=';' read -r env args message; do
    rm -f wide.bmp text.bmp missing.bmp flat.bmp bomb.bmp
    # shellcheck disable=SC2086 # words split on purpose
    env $env /bin/sh "$prepare" $args >/dev/null 2>err.txt </dev/null
    status=$?
    [ $status -eq 1 ] || fail "$args: status $status, want 1"
    grep -qF -- "$message" err.txt || fail "$args: no '$message' in: $(cat err.txt)"
    existing wide.bmp text.bmp missing.bmp flat.bmp bomb.bmp out.png .varlox-prepare.* dir.bmp/* &&
        fail "$args: left a file"
done <<'EOF'
;missing.png;Error: Could not read missing.png
;text.png;Error: text.png is not a picture ImageMagick can read
;sgi.png;Error: sgi.png is in the format ImageMagick calls SGI, which varlox-prepare does not read: it reads only BMP, GIF
;--side 401 wide.png;Error: --side 401 is larger than the picture (600 x 400)
;--side 0 wide.png;Error: --side must be at least 1
;--side 12x wide.png;Error: --side takes a whole number
;wide.png out.png;Error: the output out.png must end in .bmp
;same.bmp;Error: same.bmp would overwrite the input file
;wide.png a.bmp b.bmp;Error: too many arguments
;--at 600,0 wide.png;Error: --at 600,0 lies outside the picture (600 x 400
;--at 300,100 --side 301 wide.png;Error: --side 301 from --at 300,100 does not fit in the picture (600 x 400); the largest square there has side 300
;--at 5 wide.png;Error: --at takes the square's top-left corner as X,Y
;--at 5,x wide.png;Error: --at takes a whole number of pixels, not 'x'
;--window blackman wide.png;Error: --window takes hann or tukey[:A], not 'blackman'
;--window tukey:1.5 wide.png;Error: --window tukey:A takes a fraction A, 0 < A <= 1, not '1.5'
;--window tukey:0 wide.png;Error: --window tukey:A takes a fraction A, 0 < A <= 1, not '0'
;wide.png dir.bmp;Error: Could not write to dir.bmp: it is a directory
;wide.png dirlink.bmp;Error: Could not write to dirlink.bmp: it is a directory
;flat.png;Error: the grey levels of flat.bmp would span only 1 of 256 (127 to 127): too few for a spectrum; --stretch maps
;--stretch flat.png;Error: flat.png holds a single level
MAGICK_CONFIGURE_PATH=limits;wide.png;Error: ImageMagick's resource limits refuse wide.png: it is wider than the width limit, 100P
MAGICK_CONFIGURE_PATH=bomb;bomb.png;Error: ImageMagick's resource limits refuse bomb.png: its 12000 x 12000 pixels need more than they allow (area 32MP, memory 64MiB, map 128MiB, disk 256MiB;
MAGICK_CONFIGURE_PATH=bomb;--stretch bomb.png;Error: ImageMagick's resource limits refuse bomb.png: its 12000 x 12000 pixels need more than they allow (area 32MP, memory 64MiB, map 128MiB, disk 256MiB;
;;Usage: varlox-prepare
PATH=/nonexistent;wide.png;Error: ImageMagick is not installed
MAGICK_CONFIGURE_PATH=policy;wide.png;Error: ImageMagick's security policy does not allow reading wide.png
EOF

# An option given an empty value, as a separate word or after '=': refused, nothing written.
for opt in --side --at --window; do
    for form in separate joined; do
        rm -f wide.bmp
        if [ $form = separate ]; then
            sh "$prepare" "$opt" '' wide.png 2>err.txt </dev/null
        else
            sh "$prepare" "$opt=" wide.png 2>err.txt </dev/null
        fi
        status=$?
        [ $status -eq 1 ] || fail "$opt with an empty value ($form): status $status, want 1"
        grep -qxF "Error: $opt needs a value, not an empty one" err.txt ||
            fail "$opt with an empty value ($form): $(cat err.txt)"
        existing wide.bmp .varlox-prepare.* && fail "$opt with an empty value ($form): left a file"
    done
done

# Names are taken literally. ImageMagick expands %d and [...] in names and reads "png:"
# or "msl:" as a format: each name below must give exactly the picture it names. The
# pictures are made through standard output so that ImageMagick never sees the names;
# a red one under the odd name and a blue one where the expansion would lead.
mkdir names && cd names || exit 1
red() { $im -size 40x30 gradient:red-black png:-; }
blue() { $im -size 40x30 gradient:blue-black png:-; }
# is_red BMP: the prepared picture is the red one (red channel above blue at a pixel).
is_red() {
    $im - -format '%[fx:p{10,10}.r > p{10,10}.b]' info: <"$1" 2>/dev/null | grep -q '^1$'
}
odd=$(printf 'bytes\377\376.png')
mkdir run0 'run%d' out0 'out%d'
blue >scan0.png
blue >run0/scan.png
while IFS=';' read -r input output; do
    red >"$input"
    before=$(find . | LC_ALL=C sort)
    if [ -n "$output" ]; then
        sh "$prepare" -- "$input" "$output" 2>../err.txt </dev/null
        status=$?
    else
        sh "$prepare" -- "$input" 2>../err.txt </dev/null
        status=$?
        output=${input%.png}.bmp
    fi
    after=$(find . | LC_ALL=C sort)
    new=$(printf '%s\n' "$after" | LC_ALL=C grep -vxF "$before")
    [ $status -eq 0 ] || { fail "name $input: status $status: $(cat ../err.txt)"; continue; }
    [ "$new" = "./$output" ] || fail "name $input: made $(printf '%s' "$new" | tr '\n' ' '), want only ./$output"
    is_red "$output" || fail "name $input: $output is not the picture $input names"
    rm -f "./$output"
done <<EOF
scan%d.png;
scan%d.png;renamed%d.bmp
run%d/scan.png;
scan%d.png;out%d/x.bmp
brick%20detail.png;
x[0].png;
png:x.png;
msl:x.png;
@x.png;
ephemeral:x.png;
url:x.png;
http:x.png;
text:x.png;
-x.png;
a b.png;
$odd;
EOF
ls run0 out0 | grep -q bmp && fail "a name with %d wrote into the folder its expansion names"
cd .. || exit 1

# Drawings and scripts that would make ImageMagick read a private picture (red), fetch
# an address, or write a file: each is refused, by name of its kind, and neither reads
# nor writes anything. With the check of the first bytes blinded (a dd that reads
# nothing), the security policy varlox-prepare gives ImageMagick must refuse them alone.
mkdir attack blind && cd attack || exit 1
private=$work/attack/private.png stolen=$work/attack/stolen.png
printf '#!/bin/sh\nexit 0\n' >"$work/blind/dd"
chmod +x "$work/blind/dd"
svg() {  # svg HREF: an SVG that shows the picture at HREF
    printf '<?xml version="1.0"?>\n<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" width="40" height="30">\n'
    printf '<image x="0" y="0" width="40" height="30" xlink:href="%s"/></svg>\n' "$1"
}
svg "$private" >svg-file.png
svg "file://$private" >svg-url.png
svg "ephemeral:$private" >svg-ephemeral.png
svg "http://127.0.0.1:9/private.png" >svg-http.png
svg "text:$private" >svg-text.png
svg "msl:$work/attack/msl.png" >svg-msl.png
printf '\357\273\277  <svg width="40" height="30"><image width="40" height="30" href="%s"/></svg>\n' "$private" >svg-bom.png
printf 'push graphic-context\nviewbox 0 0 40 30\nimage over 0,0 40,30 "%s"\npop graphic-context\n' "$private" >mvg.png
printf 'viewbox 0 0 40 30 image over 0,0 40,30 "ephemeral:%s"\n' "$private" >mvg-ephemeral.png
printf '<?xml version="1.0"?>\n<image>\n<read filename="%s"/>\n<write filename="%s"/>\n</image>\n' \
    "$private" "$stolen" >msl.png
printf '%%!PS\n(%s) (r) file\nshowpage\n' "$private" >ps.png
printf '%%PDF-1.4\n%%%s\n' "$private" >pdf.png
printf '\305\320\323\306\036\000\000\000' >eps.png
while IFS=';' read -r file kind; do
    for mode in plain blind; do
        red >"$private"
        rm -f "$stolen" "${file%.png}.bmp"
        if [ $mode = blind ]; then
            PATH="$work/blind:$PATH" sh "$prepare" "$file" 2>../err.txt </dev/null
        else
            sh "$prepare" "$file" 2>../err.txt </dev/null
        fi
        status=$?
        [ $status -eq 1 ] || fail "$file ($mode): status $status, want 1: $(cat ../err.txt)"
        if [ $mode = plain ]; then
            grep -q "^Error: $file holds $kind .*: varlox-prepare reads only raster pictures" ../err.txt ||
                fail "$file: the refusal does not name $kind: $(cat ../err.txt)"
        fi
        existing "${file%.png}.bmp" "$stolen" .varlox-prepare.* && fail "$file ($mode): left a file"
        [ -s "$private" ] || fail "$file ($mode): the private picture is gone"
    done
done <<'EOF'
svg-file.png;SVG
svg-url.png;SVG
svg-ephemeral.png;SVG
svg-http.png;SVG
svg-text.png;SVG
svg-msl.png;SVG
svg-bom.png;SVG
mvg.png;MVG
mvg-ephemeral.png;MVG
msl.png;MSL
ps.png;PostScript
pdf.png;PDF
eps.png;EPS
EOF
# The stand-in dd blinds the check indeed: without it the SVG would be let through.
PATH="$work/blind:$PATH" sh "$prepare" svg-file.png 2>../err.txt </dev/null
grep -q 'holds SVG' ../err.txt && fail "the stand-in dd does not blind the check of the first bytes"
cd .. || exit 1

# A grating whose period does not divide the side leaks power out of the rings of its
# peak; a window must cut that share at least tenfold. The share is taken from varlox's
# power profile: the rows more than 8 bins (4 samples of radius) from the peak.
grating 256 256 19 leak.png -depth 8
leakage() {  # leakage BMP: "PEAK SHARE"
    "$varlox" "$1" >/dev/null 2>&1 || { echo "0 1"; return; }
    awk -F, 'NR > 4 { p[$1 + 0] = $3 + 0; if ($3 + 0 > top) { top = $3 + 0; peak = $1 + 0 } }
        END { for (i in p) { all += p[i]; if (i + 0 < peak - 8 || i + 0 > peak + 8) out += p[i] }
              printf "%d %.6f\n", peak, out / all }' "${1%.bmp}.csv"
}
sh "$prepare" leak.png plain.bmp 2>/dev/null || fail "leak.png without a window"
for window in hann tukey tukey:1; do
    sh "$prepare" --window "$window" leak.png "window-$window.bmp" 2>err.txt ||
        { fail "--window $window: $(cat err.txt)"; continue; }
    grep -q 'applied a .* window.* around' err.txt || fail "--window $window is not reported: $(cat err.txt)"
done
set -- $(leakage plain.bmp)
plain_peak=$1 plain_share=$2
for window in hann tukey; do
    set -- $(leakage "window-$window.bmp")
    [ "$1" = "$plain_peak" ] || fail "--window $window moved the peak from bin $plain_peak to $1"
    awk -v a="$plain_share" -v b="$2" 'BEGIN { exit !(b * 10 <= a) }' ||
        fail "--window $window: leakage $2 against $plain_share without a window"
    echo "leakage outside the peak's rings: $plain_share without a window, $2 with $window"
done
[ "$plain_peak" = 27 ] || [ "$plain_peak" = 26 ] || fail "the grating of period 19 peaks at bin $plain_peak"
cmp -s window-hann.bmp window-tukey:1.bmp || fail "--window tukey:1 differs from --window hann"
# The window's output is grey: its three channels are equal everywhere.
[ "$($im window-hann.bmp -fx 'abs(r - g) + abs(g - b)' -format '%[max]' info:)" = 0 ] ||
    fail "the windowed picture is not grey"

# A 16-bit picture whose levels lie in 0 to 255 of 65535 becomes flat in 8 bits: refused
# with the span and the way out, then accepted with --stretch, its grating at its bin.
grating 256 256 16 tile16.png -depth 16
$im tile16.png -evaluate multiply 0.0039 -depth 16 low.tif
sh "$prepare" low.tif 2>err.txt
status=$?
[ $status -eq 1 ] || fail "a flat 16-bit picture: status $status"
grep -q 'would span only .* of 256 .*--stretch' err.txt || fail "flat 16-bit picture: $(cat err.txt)"
[ -e low.bmp ] && fail "a refused flat picture left low.bmp"
sh "$prepare" --stretch low.tif 2>err.txt || fail "--stretch: $(cat err.txt)"
grep -q 'stretched levels [0-9]* to [0-9]* (of 0 to 65535) linearly onto 0 to 255' err.txt ||
    fail "--stretch is not reported with its range: $(cat err.txt)"
check_square low.bmp 256 16 "--stretch low.tif"

# Height maps. samples16 FILE SKIP and floats FILE SKIP: the samples of FILE after SKIP
# bytes, one a line: 16-bit big-endian integers, or 32-bit little-endian floats decoded
# from their bits (whatever the host's byte order).
samples16() {
    od -An -v -tu1 -j "$2" "$1" | awk '{ for (i = 1; i <= NF; i++) if (h == "") h = $i; else { print h * 256 + $i; h = "" } }'
}
floats() {
    od -An -v -tu1 -j "$2" "$1" | awk '{ for (i = 1; i <= NF; i++) { b[n++] = $i; if (n == 4) {
            e = (b[3] % 128) * 2 + int(b[2] / 128); m = (b[2] % 128) * 65536 + b[1] * 256 + b[0]
            v = (e == 0) ? m * 2 ^ -149 : (1 + m / 2 ^ 23) * 2 ^ (e - 127)
            printf "%.9g\n", (b[3] >= 128) ? -v : v; n = 0 } } }'
}
# header_is FILE TEXT: FILE begins with the bytes of TEXT (printf escapes).
header_is() {
    # shellcheck disable=SC2059 # TEXT holds printf's escapes
    printf "$2" >want.hdr
    dd if="$1" of=got.hdr bs="$(wc -c <want.hdr)" count=1 2>/dev/null
    cmp -s want.hdr got.hdr
}
# A 16-bit grey source with thousands of levels, and the crops it gives as 16-bit PGM
# and as PFM: the PGM holds the source's own samples, the PFM the same over 65535 as
# floats, bottom row first. The names' endings are matched whatever their case.
$im -size 300x240 xc: -fx 'i * 0.37 + j * 0.061 - floor(i * 0.37 + j * 0.061)' -colorspace gray -depth 16 deep16.png
$im deep16.png -crop 128x128+10+20 -depth 16 -endian MSB gray:- >deep16.gray
for out in deep16.pgm deep16.PGM deep16.pfm deep16.Pfm; do
    rm -f "$out"
    sh "$prepare" --at 10,20 --side 128 deep16.png "$out" 2>err.txt || { fail "$out: $(cat err.txt)"; continue; }
    case $out in
        *.[pP][gG][mM])
            header_is "$out" 'P5\n128 128\n65535\n' || fail "$out: header $(od -c got.hdr | head -2)"
            tail -c +18 "$out" | cmp -s - deep16.gray || fail "$out: the samples are not the source's"
            [ "$(wc -c <"$out")" -eq $((17 + 128 * 128 * 2)) ] || fail "$out: $(wc -c <"$out") bytes"
            levels=$(samples16 "$out" 17 | sort -u | wc -l)
            [ "$levels" -gt 256 ] || fail "$out: only $levels distinct levels"
            grep -q 'wrote .*16-bit grey PGM' err.txt || fail "$out: $(cat err.txt)" ;;
        *)
            header_is "$out" 'Pf\n128 128\n-1.0\n' || fail "$out: header $(od -c got.hdr | head -2)"
            [ "$(wc -c <"$out")" -eq $((16 + 128 * 128 * 4)) ] || fail "$out: $(wc -c <"$out") bytes"
            samples16 deep16.gray 0 >want.txt
            floats "$out" 16 >got.txt
            worst=$(awk -v n=128 'NR == FNR { v[NR - 1] = $1 / 65535; next }
                { i = FNR - 1; r = int(i / n); c = i % n; d = $1 - v[(n - 1 - r) * n + c]
                  if (d < 0) d = -d; if (d > worst) worst = d; count++ }
                END { printf "%g %d", worst, count }' want.txt got.txt)
            [ "$worst" = "0 16384" ] || awk -v w="${worst% *}" -v c="${worst#* }" 'BEGIN { exit !(w < 1e-7 && c == 16384) }' ||
                fail "$out: floats off by $worst (largest difference, count)" ;;
    esac
done
# An 8-bit grey source, 256 x 320 and kept whole: each level v becomes v * 257 exactly.
sh "$prepare" grey.png grey.pgm 2>err.txt || fail "grey.pgm: $(cat err.txt)"
grep -q '8-bit levels scaled to 16 bits exactly' err.txt || fail "grey.pgm is not reported as scaled: $(cat err.txt)"
$im grey.png -depth 8 gray:- | od -An -v -tu1 | tr -s ' ' '\n' | grep . >want.txt
samples16 grey.pgm 17 >got.txt
paste -d ' ' want.txt got.txt | awk '$2 != $1 * 257 { bad++ } END { exit !(NR == 256 * 320 && bad == 0) }' ||
    fail "grey.pgm: the samples are not 257 times the source's"
# A window computed at 16 bits: the windowed PGM of an 8-bit source keeps levels between
# the 8-bit ones and agrees with the windowed BMP within one of its steps.
sh "$prepare" --window hann leak.png window.pgm 2>err.txt || fail "--window hann to PGM: $(cat err.txt)"
$im window-hann.bmp -depth 8 gray:- | od -An -v -tu1 | tr -s ' ' '\n' | grep . >want.txt
samples16 window.pgm 17 >got.txt
paste -d ' ' want.txt got.txt | awk '{ d = $2 / 257 - $1; if (d < 0) d = -d; if (d > worst) worst = d
        if ($2 % 257) between++ } END { exit !(NR == 65536 && worst <= 1 && between > NR / 2) }' ||
    fail "the windowed PGM does not follow the windowed BMP at a finer step"

# The flat-picture refusal counts levels at the output's depth: 1 of 65536 for a flat
# 8-bit picture (50% grey, 127 * 257); low.tif, flat as a BMP, has dozens; tiny.tif's
# grey, the mean of levels 0 to 3, spans 2 of 65536, refused until stretched.
$im tile16.png -evaluate multiply 0.00005 -depth 16 tiny.tif
while IFS=';' read -r options input output want message; do
    rm -f "$output"
    # shellcheck disable=SC2086 # options split on purpose
    sh "$prepare" $options "$input" "$output" 2>err.txt </dev/null
    status=$?
    label="$options $input $output"
    [ $status -eq "$want" ] || fail "$label: status $status, want $want: $(cat err.txt)"
    grep -qF -- "$message" err.txt || fail "$label: no '$message' in: $(cat err.txt)"
    if [ "$want" -eq 0 ]; then existing "$output" >/dev/null || fail "$label: no $output"
    else existing "$output" .varlox-prepare.* && fail "$label: left a file"; fi
done <<'EOF'
;flat.png;flat.pgm;1;Error: the grey levels of flat.pgm would span only 1 of 65536 (32639 to 32639): too few for a spectrum; --stretch maps the picture's own range onto 0 to 65535
;flat.png;flat.pfm;1;Error: the grey levels of flat.pfm would span only 1 of 65536 (32639 to 32639)
;low.tif;low.pgm;0;wrote low.pgm: 256 x 256, 16-bit grey PGM
;tiny.tif;tiny.pgm;1;would span only 2 of 65536 (1 to 2): too few for a spectrum; --stretch maps
--stretch;tiny.tif;tiny.pgm;0;stretched levels 0 to 3 (of 0 to 65535) linearly onto 0 to 65535
--stretch;tiny.tif;tiny.pfm;0;stretched levels 0 to 3 (of 0 to 65535) linearly onto 0 to 1
--window=tukey;wide.png;wide.pfm;0;the output is grey
EOF

# A height map holds the whole picture, in any shape, unless --side or --at asks for a
# square; a BMP stays the centred square. Sources: 16-bit grey maps of thousands of
# levels, one wide and one tall, and the wide one stored on its side (turned a quarter
# anticlockwise) with an orientation tag that turns it back. Each output must have the
# size the row names and hold the source's samples in the box the row names (the PFM's
# over 65535 as floats, bottom row first; the BMP's reduced to 8 bits).
map_fx='i * 0.37 + j * 0.061 - floor(i * 0.37 + j * 0.061)'
$im -size 96x64 xc: -fx "$map_fx" -colorspace gray -depth 16 rect.png
$im -size 48x80 xc: -fx "$map_fx" -colorspace gray -depth 16 tallmap.png
$im rect.png -rotate -90 -orient RightTop rect-turned.tif
[ "$($identify -format '%w %h %[orientation]' rect-turned.tif)" = "64 96 RightTop" ] ||
    fail "rect-turned.tif is not stored on its side with its orientation tag"
while IFS=';' read -r input source options output w h x y note; do
    label="$options $input $output"
    rm -f "$output"
    # shellcheck disable=SC2086 # options split on purpose
    sh "$prepare" $options "$input" "$output" 2>err.txt </dev/null || { fail "$label: $(cat err.txt)"; continue; }
    grep -qF -- "$note" err.txt || fail "$label: no '$note' in: $(cat err.txt)"
    grep -qF -- "wrote $output: $w x $h," err.txt || fail "$label: the size written is not reported: $(cat err.txt)"
    case $output in
        *.bmp)
            [ "$(bmp_fields "$output")" = "BM $w $h 24 0" ] || fail "$label: header $(bmp_fields "$output")"
            $im "$source" -crop "${w}x$h+$x+$y" +repage -depth 8 gray:- >want.gray
            $im "$output" -channel R -separate +channel -depth 8 gray:- | cmp -s - want.gray ||
                fail "$label: not the $w x $h square at column $x, row $y" ;;
        *.pgm | *.PGM)
            header_is "$output" "P5\n$w $h\n65535\n" || fail "$label: header $(od -c got.hdr | head -2)"
            skip=$(wc -c <want.hdr)
            [ "$(wc -c <"$output")" -eq $((skip + w * h * 2)) ] || fail "$label: $(wc -c <"$output") bytes"
            $im "$source" -crop "${w}x$h+$x+$y" +repage -depth 16 -endian MSB gray:- >want.gray
            tail -c +$((skip + 1)) "$output" | cmp -s - want.gray ||
                fail "$label: the samples are not the source's from column $x, row $y" ;;
        *)
            header_is "$output" "Pf\n$w $h\n-1.0\n" || fail "$label: header $(od -c got.hdr | head -2)"
            skip=$(wc -c <want.hdr)
            [ "$(wc -c <"$output")" -eq $((skip + w * h * 4)) ] || fail "$label: $(wc -c <"$output") bytes"
            $im "$source" -crop "${w}x$h+$x+$y" +repage -depth 16 -endian MSB gray:- >want.gray
            samples16 want.gray 0 >want.txt
            floats "$output" "$skip" >got.txt
            worst=$(awk -v w="$w" -v h="$h" 'NR == FNR { v[NR - 1] = $1 / 65535; next }
                { i = FNR - 1; r = int(i / w); c = i % w; d = $1 - v[(h - 1 - r) * w + c]
                  if (d < 0) d = -d; if (d > worst) worst = d; count++ }
                END { printf "%g %d", worst, count }' want.txt got.txt)
            awk -v d="${worst% *}" -v c="${worst#* }" -v n=$((w * h)) 'BEGIN { exit !(d < 1e-7 && c == n) }' ||
                fail "$label: floats off by $worst (largest difference, count), want below 1e-7 and $((w * h))" ;;
    esac
done <<'EOF'
rect.png;rect.png;;rect.pgm;96;64;0;0;kept the whole picture: 96 x 64, nothing cropped
rect.png;rect.png;;rect.pfm;96;64;0;0;kept the whole picture: 96 x 64, nothing cropped
tallmap.png;tallmap.png;;tallmap.PGM;48;80;0;0;kept the whole picture: 48 x 80, nothing cropped
tallmap.png;tallmap.png;;tallmap.pfm;48;80;0;0;kept the whole picture: 48 x 80, nothing cropped
rect-turned.tif;rect.png;;turned.pgm;96;64;0;0;kept the whole picture: 96 x 64, nothing cropped
rect-turned.tif;rect.png;;turned.pfm;96;64;0;0;orientation tag (RightTop)
rect.png;rect.png;--side 40;side.pgm;40;40;28;12;cropped the centred 40 x 40 square at column 28, row 12
rect.png;rect.png;--at 10,5;at.pfm;59;59;10;5;cropped the 59 x 59 square at column 10, row 5
tallmap.png;tallmap.png;--at 8,30 --side 32;at.pgm;32;32;8;30;cropped the 32 x 32 square at column 8, row 30
rect-turned.tif;rect.png;--side 64;turned-side.pfm;64;64;16;0;cropped the centred 64 x 64 square at column 16, row 0
rect.png;rect.png;;rect.bmp;64;64;16;0;cropped the centred 64 x 64 square at column 16, row 0
tallmap.png;tallmap.png;;tallmap.bmp;48;48;0;16;cropped the centred 48 x 48 square at column 0, row 16
EOF

# A window over a whole wide map tapers each axis over its own length: a Tukey window
# (A = 0.5) is 0 on the first row and column, 1/2 an eighth of its axis in from either
# end (columns 12 and 84 of 96, rows 8 and 56 of 64), 1 in the middle, the product of
# the two at a corner; each sample becomes w g + (1 - w) m around the level m reported.
# Off by more than 2 of 65535 is a fault: a square window of the shorter side laid over
# the map puts other weights at columns 12 and 84.
sh "$prepare" --window tukey rect.png window-rect.pgm 2>err.txt || fail "--window tukey rect.png: $(cat err.txt)"
grep -qF 'wrote window-rect.pgm: 96 x 64,' err.txt || fail "--window tukey rect.png: $(cat err.txt)"
level=$(sed -n 's/.*mean grey level under it, \([0-9.]*\) of 65535.*/\1/p' err.txt)
[ -n "$level" ] || fail "--window tukey rect.png: no level reported: $(cat err.txt)"
$im rect.png -depth 16 -endian MSB gray:- >rect.gray
samples16 rect.gray 0 >source.txt
samples16 window-rect.pgm 15 >got.txt
while read -r col row weight; do
    awk -v i=$((row * 96 + col)) -v w="$weight" -v m="${level:-0}" 'NR == FNR { if (FNR - 1 == i) g = $1; next }
        FNR - 1 == i { d = $1 - (w * g + (1 - w) * m); found = 1; exit }
        END { exit !(found && d <= 2 && d >= -2) }' source.txt got.txt ||
        fail "--window tukey on 96 x 64: column $col, row $row is not weighted $weight"
done <<'EOF'
0 32 0
48 0 0
12 32 0.5
84 32 0.5
48 8 0.5
48 56 0.5
12 8 0.25
48 32 1
EOF

# Floating-point TIFF. float_tiff W H FILE EXPRESSION: a W x H grey TIFF of 32-bit
# little-endian floats, uncompressed, one strip, the sample at column i, row j being
# awk's EXPRESSION of i and j (exact in a float, so that the file holds it as it is).
# ImageMagick without HDRI cannot write such a file faithfully, so it is put together
# here: a header, ten directory entries (size, 32 bits, no compression, black at 0, the
# strip's place and length, one sample a pixel, floats), then the samples.
float_tiff() {
    awk -v w="$1" -v h="$2" '
        function le(v, n,   k) { for (k = 0; k < n; k++) { printf "\\%03o", v % 256; v = int(v / 256) } }
        function entry(tag, type, value) {
            le(tag, 2); le(type, 2); le(1, 4)
            if (type == 3) { le(value, 2); le(0, 2) } else le(value, 4)
        }
        function f32(v,   s, e) {  # the bits of v as a float, for v zero or normal
            if (v == 0) return 0
            s = 0; if (v < 0) { s = 2147483648; v = -v }
            for (e = 0; v >= 2; e++) v /= 2
            for (; v < 1; e--) v *= 2
            return s + (e + 127) * 8388608 + (v - 1) * 8388608
        }
        BEGIN {
            printf "II*\\000"; le(8, 4); le(10, 2)
            entry(256, 3, w); entry(257, 3, h); entry(258, 3, 32); entry(259, 3, 1); entry(262, 3, 1)
            entry(273, 4, 8 + 2 + 10 * 12 + 4); entry(277, 3, 1); entry(278, 3, h); entry(279, 4, w * h * 4)
            entry(339, 3, 3); le(0, 4); printf "\n"
            for (j = 0; j < h; j++) { for (i = 0; i < w; i++) le(f32('"$4"'), 4); printf "\n" }
        }' | while IFS= read -r line; do
        # shellcheck disable=SC2059 # the line is octal escapes
        printf "$line"
    done >"$3"
}
# fine.tif: 0.25 and up in steps of 2^-20, some 16 times finer than ImageMagick's 16-bit
# step; heights.tif: (i - 48) / 32 + j / 4096, below 0 left of column 48, above 1 right
# of column 79 (its centred square, columns 16 to 79, only below 0).
float_tiff 96 64 fine.tif '0.25 + (j * 96 + i) / 1048576'
float_tiff 96 64 heights.tif '(i - 48) / 32 + j / 4096'
$im rect.png -depth 32 int32.tif
$im rect.png -define quantum:format=floating-point -depth 32 unit.pfm
[ "$($identify -format '%w %h %z %[quantum:format]' fine.tif 2>/dev/null)" = "96 64 32 floating-point" ] ||
    fail "fine.tif is not a 96 x 64 TIFF of 32-bit floats"
[ "$($identify -format '%z %[quantum:format]' int32.tif 2>/dev/null)" = "32 " ] ||
    fail "int32.tif is not a TIFF of 32-bit integers"
# Without HDRI a PFM of floats would be rounded and cut off: refused, pointing to
# varlox-view. To 16 or 8 bits, floats in 0 to 1 are the levels meant, rounded as said;
# a TIFF's floats outside 0 to 1 in the part kept would be cut off: refused (a PFM's
# within 0 to 1, which ImageMagick wrote, go through). With HDRI the PFM keeps them.
# Rows: the build (q16, hdri or any), options, input, output, status, text.
if $im -version | grep -q HDRI; then build=hdri; else build=q16; fi
while IFS=';' read -r builds options input output want message; do
    case " $builds " in *" $build "* | *" any "*) ;; *) continue ;; esac
    label="$options $input $output"
    rm -f "$output"
    # shellcheck disable=SC2086 # options split on purpose
    sh "$prepare" $options "$input" "$output" 2>err.txt </dev/null
    status=$?
    [ $status -eq "$want" ] || fail "$label: status $status, want $want: $(cat err.txt)"
    grep -qF -- "$message" err.txt || fail "$label: no '$message' in: $(cat err.txt)"
    if [ "$want" -eq 0 ]; then existing "$output" >/dev/null || fail "$label: no $output"
    else existing "$output" .varlox-prepare.* && fail "$label: left a file"; fi
done <<'EOF'
q16;;fine.tif;fine.pfm;1;Error: fine.tif holds 32-bit floating-point samples, which this ImageMagick (16 bits per sample, without HDRI) rounds to 65536 levels and cuts off below 0 and above 1, so fine.pfm would not keep their values: varlox-view reads the TIFF itself
q16;;heights.tif;heights.pfm;1;Error: heights.tif holds 32-bit floating-point samples, which this ImageMagick (16 bits per sample
q16;--at 48,0 --side 32;heights.tif;heights.pfm;1;Error: heights.tif holds 32-bit floating-point samples, which this ImageMagick (16 bits per sample
hdri;;fine.tif;fine.pfm;0;wrote fine.pfm: 96 x 64, 32-bit float grey PFM
any;;fine.tif;fine.pgm;0;32-bit floating-point samples reduced to 16 bits
any;;heights.tif;heights.pgm;1;Error: heights.tif holds floating-point samples below 0 and above 1 in the whole picture, which ImageMagick cuts off at 0 and 1 as it reads them, so heights.pgm would not show them: varlox-view reads the TIFF itself
any;;heights.tif;heights.bmp;1;Error: heights.tif holds floating-point samples below 0 in that square
any;--at 64,0 --side 32;heights.tif;heights.pgm;1;Error: heights.tif holds floating-point samples above 1 in that square
any;--at 48,0 --side 32;heights.tif;heights.pgm;0;32-bit floating-point samples reduced to 16 bits
q16;;int32.tif;int32.pfm;0;32-bit samples reduced to 16 bits (this ImageMagick's depth, without HDRI)
q16;;unit.pfm;unit-again.pfm;1;Error: unit.pfm holds 32-bit floating-point samples, which this ImageMagick (16 bits per sample, without HDRI) rounds to 65536 levels and cuts off below 0 and above 1, so unit-again.pfm would not keep their values: varlox-view reads the PFM itself
any;;unit.pfm;unit.bmp;0;32-bit floating-point samples reduced to 8 bits
EOF
# The floats' own values where they are kept: level round(65535 v) in the PGM (within
# one, ImageMagick's rounding), v itself in a PFM of an HDRI build (bottom row first).
while IFS=';' read -r builds file w h x0 expression; do
    case " $builds " in *" $build "* | *" any "*) ;; *) continue ;; esac
    [ -e "$file" ] || { fail "no $file to read the floats back from"; continue; }
    skip=$(head -n 3 "$file" | wc -c)
    case $file in
        *.pfm) floats "$file" "$skip" >got.txt; tolerance=0.0000001 scale=1 ;;
        *) samples16 "$file" "$skip" >got.txt; tolerance=1 scale=65535 ;;
    esac
    awk -v w="$w" -v h="$h" -v x0="$x0" -v t="$tolerance" -v s="$scale" '
        { k = NR - 1; i = k % w + x0; j = int(k / w); if (s == 1) j = h - 1 - j
          v = '"$expression"'; d = $1 - (s == 1 ? v : int(v * s + 0.5)); if (d < 0) d = -d
          if (d > worst) worst = d }
        END { exit !(NR == w * h && worst <= t) }' got.txt ||
        fail "$file does not hold the floats of its TIFF"
done <<'EOF'
any;fine.pgm;96;64;0;0.25 + (j * 96 + i) / 1048576
any;heights.pgm;32;32;48;(i - 48) / 32 + j / 4096
hdri;fine.pfm;96;64;0;0.25 + (j * 96 + i) / 1048576
EOF

# The ImageMagick that stand-ins hand their work on to.
if command -v magick >/dev/null 2>&1; then
    real_convert=$(command -v magick) real_identify="$(command -v magick) identify"
else
    real_convert=$(command -v convert) real_identify=$(command -v identify)
fi

# The header of the BMP written is read a byte at a time. With an od that reads its wider
# units big-endian, as it does on such a host, a good BMP still passes; each variant
# below of a good 258 x 258 BMP (whose sizes have two non-zero bytes) is refused. A
# stand-in magick hands the variant over as ImageMagick's output.
grating 258 258 6 square258.png -depth 8
sh "$prepare" square258.png good258.bmp 2>err.txt || fail "square258.png: $(cat err.txt)"
real_od=$(command -v od)
mkdir bigendian crafted
cat >bigendian/od <<EOF
#!/bin/sh
exec $real_od --endian=big "\$@"
EOF
cat >crafted/magick <<EOF
#!/bin/sh
if [ "\$1" = identify ]; then shift; exec $real_identify "\$@"; fi
for last; do :; done
if [ "\$last" = BMP3:- ]; then exec cat "$work/variant.bmp"; fi
exec $real_convert "\$@"
EOF
chmod +x bigendian/od crafted/magick
[ "$(printf 'BM\001\002\003\004' | PATH="$work/bigendian:$PATH" od -An -tu4 -j2 | tr -d ' ')" = 16909060 ] ||
    fail "the stand-in od does not read big-endian"
while IFS=';' read -r label offset bytes want; do
    cp good258.bmp variant.bmp
    if [ "$offset" = cut ]; then
        dd if=good258.bmp of=variant.bmp bs="$bytes" count=1 2>/dev/null
    elif [ -n "$offset" ]; then
        # shellcheck disable=SC2059 # the bytes are octal escapes for printf
        printf "$bytes" | dd of=variant.bmp bs=1 seek="$offset" conv=notrunc 2>/dev/null
    fi
    rm -f out258.bmp
    PATH="$work/bigendian:$work/crafted:$PATH" sh "$prepare" square258.png out258.bmp 2>err.txt
    status=$?
    if [ "$want" = 0 ]; then
        [ $status -eq 0 ] && cmp -s out258.bmp good258.bmp || fail "BMP check, $label: status $status: $(cat err.txt)"
    else
        [ $status -eq 1 ] || fail "BMP check, $label: status $status, want 1"
        grep -q "^Error: ImageMagick wrote a file varlox cannot read" err.txt || fail "BMP check, $label: $(cat err.txt)"
        [ -e out258.bmp ] && fail "BMP check, $label: left out258.bmp"
    fi
done <<'EOF'
good;;;0
top-down rows, height -258;22;\376\376\377\377;1
width 259;18;\003\001\000\000;1
height 2 * 65536 + 258;22;\002\001\002\000;1
32 bits per pixel;28;\040\000;1
bit fields (compression 3);30;\003\000\000\000;1
not BM;0;BA;1
ends inside the compression field;cut;32;1
EOF

# ImageMagick's messages are shown once each with the tool's prefix; those about
# metadata are kept back. A stand-in magick says two things twice while it reads, and
# hands the work on to the real ImageMagick.
mkdir fakebin
cat >fakebin/magick <<EOF
#!/bin/sh
for n in 1 2; do
    echo "identify-im6.q16: iCCP: known incorrect sRGB profile \\\`-' @ warning/png.c/MagickPNGWarningHandler/1654." >&2
    echo "identify-im6.q16: a warning of the decoder \\\`-' @ warning/coders/x.c/Y/1." >&2
done
if [ "\$1" = identify ]; then shift; exec $real_identify "\$@"; fi
exec $real_convert "\$@"
EOF
chmod +x fakebin/magick
PATH="$work/fakebin:$PATH" sh "$prepare" wide.png said.bmp 2>err.txt || fail "with a talkative ImageMagick: $(cat err.txt)"
[ "$(grep -c 'varlox-prepare: ImageMagick says: a warning of the decoder$' err.txt)" = 1 ] ||
    fail "a warning of ImageMagick is not shown exactly once: $(cat err.txt)"
grep -q 'iCCP' err.txt && fail "a harmless iCCP warning was shown: $(cat err.txt)"

# Ended while ImageMagick converts by any signal that ends a process unless caught (the
# real-time ones by their first and last; on Linux also IO and STKFLT, which dash knows
# only as 16): the shell's status for it, and nothing left.
cat >fakebin/magick <<EOF
#!/bin/sh
if [ "\$1" = identify ]; then shift; exec $real_identify "\$@"; fi
: >"$work/converting"
i=0
while ! [ -e "$work/converting.sent" ] && [ \$i -lt 100 ]; do sleep 0.1; i=\$((i + 1)); done
EOF
late_output_left_nothing() {
    existing late.bmp .varlox-prepare.* && fail "ended by SIG$1: left a file"
    rm -rf late.bmp .varlox-prepare.*
}
interrupt_signals="HUP INT QUIT ILL TRAP ABRT BUS FPE USR1 SEGV USR2 PIPE ALRM TERM XCPU XFSZ
    VTALRM PROF PWR SYS RTMIN RTMAX"
[ "$(uname -s)" = Linux ] && interrupt_signals="$interrupt_signals IO 16"
interrupt_each "$work/converting" late_output_left_nothing \
    env PATH="$work/fakebin:$PATH" sh "$prepare" wide.png late.bmp

# A second signal while the cleanup removes the scratch folder, sent to the script alone
# or to its process group (as a terminal's Ctrl-C is): the cleanup goes on to the end,
# and the status is the first signal's. The run leads a process group of its own, every
# signal at its default action; a stand-in rm holds the removal until the second signal
# has been sent.
if command -v setsid >/dev/null 2>&1 && env --default-signal true 2>/dev/null; then
    mkdir slowrm
    cat >slowrm/rm <<EOF
#!/bin/sh
: >"$work/removing"
i=0
while ! [ -e "$work/removing.sent" ] && [ \$i -lt 100 ]; do sleep 0.1; i=\$((i + 1)); done
exec $(command -v rm) "\$@"
EOF
    chmod +x slowrm/rm
    while read -r first second whom; do
        label="SIG$first, then SIG$second to the $whom during the cleanup"
        rm -f "$work/converting" "$work/converting.sent" "$work/removing" "$work/removing.sent"
        setsid env --default-signal env PATH="$work/slowrm:$work/fakebin:$PATH" sh "$prepare" wide.png late.bmp 2>/dev/null &
        pid=$!
        i=0
        while ! [ -e "$work/converting" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        kill -s "$first" "$pid"
        : >"$work/converting.sent"
        i=0
        while ! [ -e "$work/removing" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        if [ "$whom" = group ]; then kill -s "$second" -- "-$pid"; else kill -s "$second" "$pid"; fi
        : >"$work/removing.sent"
        wait "$pid"
        status=$?
        want=$((128 + $(signal_number "$first")))
        [ $status -eq $want ] || fail "$label: status $status, want $want"
        existing late.bmp .varlox-prepare.* && fail "$label: left a file"
        rm -rf late.bmp .varlox-prepare.*
    done <<'EOF'
INT TERM script
INT TERM group
HUP INT group
EOF
else
    echo "note: setsid (util-linux) or env --default-signal (coreutils 8.31) is missing: a second signal during the cleanup is not tried"
fi

[ $failed -eq 0 ] || { echo "$failed check(s) failed"; exit 1; }
echo "all varlox-prepare checks passed"
