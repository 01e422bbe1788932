#!/bin/sh
# varlox-plot on profiles made by varlox itself: the bundled sample and a grating of a
# known period. Checks the PNG's pixel size and that it is not blank, the text an SVG plot
# carries (title, labels, the count of rows left out), CR LF profiles, the output's mode,
# every refusal (one message, status 1, no file left behind) and an interruption.
#
# Usage: sh tests/test_plot.sh VARLOX_EXE SOURCE_DIR
# Status 0 when every check passed, 1 when one failed, 77 (skipped) without gnuplot.

varlox=$1
plot=$(cd "$2" && pwd)/app/varlox-plot
. "$2/tests/interrupt_cases.sh"
sample=$2/examples/sample.bmp
command -v gnuplot >/dev/null 2>&1 || { echo "gnuplot is not installed: skipped"; exit 77; }
sh=$(command -v sh)

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# missing WHAT: a check that needs WHAT is left out; where VARLOX_REQUIRE_TOOLS is set (CI
# installs everything), that is a failure.
missing() {
    if [ -n "${VARLOX_REQUIRE_TOOLS:-}" ]; then fail "$1 is missing"; else echo "note: $1 is missing"; fi
}

# write_grating FILE SIDE: a 24-bit grey BMP holding a cosine grating of 10 cycles per
# side along the direction (6, 8), plus reproducible noise; sides that are multiples of 4
# need no row padding.
write_grating() {
    # shellcheck disable=SC2059  # the format is the file: octal escapes, one per byte
    printf "$(awk -v n="$2" '
        function le(v, bytes,   i) { for (i = 0; i < bytes; i++) { printf "\\%03o", v % 256; v = int(v / 256) } }
        BEGIN {
            printf "BM"; le(54 + n * n * 3, 4); le(0, 4); le(54, 4)
            le(40, 4); le(n, 4); le(n, 4); le(1, 2); le(24, 2); le(0, 4); le(n * n * 3, 4)
            le(0, 4); le(0, 4); le(0, 4); le(0, 4)
            x = 1
            for (r = 0; r < n; r++) for (c = 0; c < n; c++) {
                x = (x * 69069 + 1) % 4294967296
                v = int(128 + 80 * cos(2 * 3.141592653589793 * (6 * c + 8 * r) / n) + (x / 4294967296 - 0.5) * 48)
                le(v, 1); le(v, 1); le(v, 1)
            }
        }')" >"$1"
}

# png_size FILE: "WIDTH HEIGHT" from the IHDR chunk, or "not a PNG".
png_size() {
    od -An -tu1 -N24 "$1" | awk '
        { for (i = 1; i <= NF; i++) b[n++] = $i }
        END {
            if (n < 24 || b[0] != 137 || b[1] != 80 || b[2] != 78 || b[3] != 71 ||
                b[12] != 73 || b[13] != 72 || b[14] != 68 || b[15] != 82) { print "not a PNG"; exit }
            print ((b[16] * 256 + b[17]) * 256 + b[18]) * 256 + b[19], ((b[20] * 256 + b[21]) * 256 + b[22]) * 256 + b[23]
        }'
}

# png_drawn FILE: succeeds when the picture has at least 4 colours and between 3% and
# 50% of its pixels are not white: lines, text and axes on a white ground.
png_drawn() {
    gnuplot -e "set table '$work/pixels'; plot '$1' binary filetype=png with rgbimage" 2>/dev/null &&
        awk '/^ *[0-9]/ { n++; seen[$3 " " $4 " " $5] = 1; if ($3 $4 $5 != "255255255") ink++ }
             END { for (c in seen) colours++; exit !(colours >= 4 && ink > n * 3 / 100 && ink < n / 2) }' \
            "$work/pixels"
}

# no_leftovers DIR: no temporary file of varlox-plot is left in DIR.
no_leftovers() {
    for left in "$1"/.varlox-plot.*; do
        [ -e "$left" ] && return 1
    done
    return 0
}

# Profiles: the sample (side 256) and the grating (side 128), whose power peaks at bin 20.
mkdir "$work/a" "$work/b" "$work/crlf"
cp "$sample" "$work/a/sample.bmp"
write_grating "$work/b/grating.bmp" 128
"$varlox" "$work/a/sample.bmp" 2>/dev/null || { echo "FAIL: varlox on the sample"; exit 1; }
"$varlox" "$work/b/grating.bmp" 2>/dev/null || { echo "FAIL: varlox on the grating"; exit 1; }
peak=$(awk -F, 'NR > 4 && $3 + 0 > max { max = $3 + 0; bin = $1 } END { print bin }' "$work/b/grating.csv")
[ "$peak" = 20 ] || fail "the grating's power peaks at bin $peak, not 20 (10 cycles per side)"

# The default name beside the profile; the mode a new file gets under the umask.
(umask 022 && "$sh" "$plot" "$work/a/sample.csv" 2>/dev/null) || fail "plot of the sample"
png=$work/a/sample-profile.png
[ "$(png_size "$png")" = "800 500" ] || fail "sample plot size: $(png_size "$png")"
png_drawn "$png" || fail "sample plot is blank"
case $(ls -l "$png") in -rw-r--r--*) ;; *) fail "sample plot's mode: $(ls -l "$png")" ;; esac
no_leftovers "$work/a" || fail "temporary file left beside the sample plot"

# Two profiles into a named output.
"$sh" "$plot" "$work/a/sample.csv" "$work/b/grating.csv" "$work/compare.png" 2>/dev/null ||
    fail "comparison plot"
[ "$(png_size "$work/compare.png")" = "800 500" ] || fail "comparison size: $(png_size "$work/compare.png")"
# A named output's ending chooses the format, whatever --svg says.
"$sh" "$plot" --svg "$work/a/sample.csv" "$work/named.png" 2>/dev/null || fail "plot to a named PNG"
[ "$(png_size "$work/named.png")" = "800 500" ] || fail "--svg with OUTPUT.png: $(png_size "$work/named.png")"
png_drawn "$work/compare.png" || fail "comparison plot is blank"

# The SVG's text: title, key labels, and the rows at 0 counted from the profile itself.
zeros() {  # zeros FILE COLUMN: the rows whose value in COLUMN is 0
    awk -F, -v c="$2" 'NR > 4 && $c + 0 == 0 { n++ } END { print n + 0 }' "$1"
}
rows() { if [ "$1" -eq 1 ]; then echo "1 row"; else echo "$1 rows"; fi; }
za=$(zeros "$work/a/sample.csv" 2)
zp=$(zeros "$work/a/sample.csv" 3)
zg=$(zeros "$work/b/grating.csv" 3)
"$sh" "$plot" --svg "$work/a/sample.csv" 2>/dev/null || fail "SVG plot of the sample"
"$sh" "$plot" "$work/a/sample.csv" "$work/b/grating.csv" "$work/compare.svg" 2>/dev/null ||
    fail "SVG comparison"
while IFS='|' read -r file text; do
    grep -qF ">$text<" "$file" || fail "$file lacks \"$text\""
done <<EOF
$work/a/sample-profile.svg|Radial profile of sample.csv
$work/a/sample-profile.svg|amplitude
$work/a/sample-profile.svg|power
$work/a/sample-profile.svg|Left out, being 0 (a log axis has no 0): $(rows "$za") of amplitude, $(rows "$zp") of power
$work/compare.svg|Radial profiles (power) of sample.csv, grating.csv
$work/compare.svg|grating.csv
$work/compare.svg|Left out, being 0 (a log axis has no 0): $(rows "$zp") of sample.csv, $(rows "$zg") of grating.csv
EOF

# A profile with CR LF line ends plots exactly as the original.
sed 's/$/\r/' "$work/a/sample.csv" >"$work/crlf/sample.csv"
"$sh" "$plot" --svg "$work/crlf/sample.csv" 2>/dev/null || fail "plot of a CR LF profile"
cmp -s "$work/crlf/sample-profile.svg" "$work/a/sample-profile.svg" ||
    fail "a CR LF profile plots differently"

# Refusals. A fake gnuplot that writes part of its output and fails; a PATH without gnuplot.
mkdir "$work/bin" "$work/failbin" "$work/out.png" "$work/r"
for tool in awk sed mktemp chmod mv rm; do
    ln -s "$(command -v "$tool")" "$work/bin/$tool"
done
cat >"$work/failbin/gnuplot" <<'EOF'
#!/bin/sh
out=$(sed -n 's/^set output "\(.*\)"$/\1/p')
echo partial >"$out"
echo "line 9: an error of the fake gnuplot" >&2
exit 1
EOF
chmod +x "$work/failbin/gnuplot"
# The four lines that open varlox's profile, as varlox wrote them.
header=$(sed -n 1,4p "$work/a/sample.csv")
r=$work/r
printf '%s\n' "$header" >"$r/header.csv"
printf '%s\n2,0.000000e+00,0.000000e+00\n3,0.000000e+00,0.000000e+00\n' "$header" >"$r/zero.csv"
sed '4s/amplitude/amp/' "$work/a/sample.csv" >"$r/wording.csv"
sed '3d' "$work/a/sample.csv" >"$r/noempty.csv"
sed '10s/.*/8,1.0,0.5/' "$work/a/sample.csv" >"$r/row.csv"
sed '7{h;d};8G' "$work/a/sample.csv" >"$r/order.csv"
cp "$work/a/sample.csv" "$r/profile.png"
echo "earlier plot" >"$r/kept.png"

# refuse PATH EXPECTED OUTPUT ARGUMENTS...: status 1, EXPECTED as the only line on
# standard error, OUTPUT not created (or, if it existed, unchanged), no temporary left.
refuse() {
    path=$1 expected=$2 output=$3
    shift 3
    existed=no
    before=
    if [ -e "$output" ]; then existed=yes; before=$(cat "$output" 2>/dev/null); fi
    PATH=$path "$sh" "$plot" "$@" 2>"$work/err" >/dev/null
    status=$?
    got=$(cat "$work/err")
    [ "$status" -eq 1 ] || fail "$expected: status $status"
    [ "$got" = "$expected" ] || fail "expected \"$expected\", got \"$got\""
    if [ "$existed" = yes ]; then
        [ "$(cat "$output" 2>/dev/null)" = "$before" ] || fail "$expected: $output was changed"
    elif [ -e "$output" ]; then
        fail "$expected: $output was left behind"
    fi
    no_leftovers "${output%/*}" || fail "$expected: temporary file left behind"
}
s=$work/a/sample
usage="Usage: varlox-plot [--svg] [--amplitude | --power | --psd] [--depth DECADES] FILE.csv... [OUTPUT.png | OUTPUT.svg]"
refuse "$PATH" "Error: $s.bmp is not a varlox profile (line 1)" "$s-profile.png" "$s.bmp"
refuse "$PATH" "Error: $r/wording.csv is not a varlox profile (line 4)" "$r/wording-profile.png" "$r/wording.csv"
refuse "$PATH" "Error: $r/noempty.csv is not a varlox profile (line 3)" "$r/noempty-profile.png" "$r/noempty.csv"
refuse "$PATH" "Error: $r/row.csv is not a varlox profile (line 10)" "$r/row-profile.png" "$r/row.csv"
refuse "$PATH" "Error: $r/order.csv is not a varlox profile (line 8)" "$r/order-profile.png" "$r/order.csv"
refuse "$PATH" "Error: $r/header.csv has no rows to plot" "$r/header-profile.png" "$r/header.csv"
refuse "$PATH" "Error: $r/zero.csv has no value above 0 to plot" "$r/zero-profile.png" "$r/zero.csv"
refuse "$PATH" "Error: Could not read $r/none.csv" "$r/x.png" "$s.csv" "$r/none.csv" "$r/x.png"
refuse "$PATH" "Error: Could not write to $work/missing/x.png" "$work/missing/x.png" "$s.csv" "$work/missing/x.png"
refuse "$PATH" "Error: Could not write to $work/out.png" "$work/out.png" "$s.csv" "$work/out.png"
refuse "$PATH" "Error: $r/profile.png would overwrite the profile $r/profile.png" "$r/profile.png" "$r/profile.png" "$r/profile.png"
refuse "$PATH" "$usage" "$s-profile.png" --bogus "$s.csv"
refuse "$PATH" "$usage" "$s-profile.png"
refuse "$work/bin" "Error: gnuplot is not installed (on Debian: apt-get install gnuplot-nox)" "$r/kept.png" "$s.csv" "$r/kept.png"
refuse "$work/failbin:$PATH" "Error: gnuplot could not draw $r/kept.png: line 9: an error of the fake gnuplot" "$r/kept.png" "$s.csv" "$r/kept.png"

# Full profiles (varlox-view's): absolute means out to the corner, the zero frequency
# left out and said so, marks where varlox's profile ends and at half the side, and
# cycles per metre on the top axis when the profile has them. A profile of each kind in
# one plot is refused.
view=$(dirname "$varlox")/varlox-view
mkdir "$work/full"
cp "$work/b/grating.bmp" "$work/full/grating.bmp"
"$view" --length 0.05 "$work/full/grating.bmp" 2>/dev/null || fail "varlox-view on the grating"
"$sh" "$plot" --svg "$work/full/grating-full.csv" 2>/dev/null || fail "SVG plot of a full profile"
while IFS='|' read -r text; do
    grep -qF ">$text<" "$work/full/grating-full-profile.svg" || fail "the full profile's plot lacks \"$text\""
done <<EOF
Full radial profile of grating-full.csv
mean amplitude and mean power (absolute)
cycles per metre (the side is 0.05 m)
varlox's profile ends
side / 2
Left out: the zero frequency (bin 0)
EOF
"$view" "$work/full/grating.bmp" 2>/dev/null || fail "varlox-view without --length"
"$sh" "$plot" "$work/full/grating-full.csv" "$work/full/plain.png" 2>/dev/null || fail "plot of a full profile"
[ "$(png_size "$work/full/plain.png")" = "800 500" ] || fail "full profile plot size: $(png_size "$work/full/plain.png")"
png_drawn "$work/full/plain.png" || fail "the full profile's plot is blank"
refuse "$PATH" "Error: $work/full/grating-full.csv and $s.csv are profiles of two kinds (varlox's rescaled one, varlox-view's full one): plot them apart" \
    "$work/full/mixed.png" "$work/full/grating-full.csv" "$s.csv" "$work/full/mixed.png"
sed '3s/,[^,]*$/,x/' "$work/full/grating-full.csv" >"$work/full/broken-full.csv"
refuse "$PATH" "Error: $work/full/broken-full.csv is not a varlox profile (line 3)" \
    "$work/full/broken-full-profile.png" "$work/full/broken-full.csv"

# Interrupted while gnuplot draws, by any signal whose default ends a process: the
# temporary file beside the output and the scratch folder (made in TMPDIR) go, no output
# appears, and the status is the one a shell gives for that signal. The signals whose
# default is to stop, continue or be ignored leave the plot to finish.
cat >"$work/failbin/gnuplot" <<EOF
#!/bin/sh
out=\$(sed -n 's/^set output "\\(.*\\)"\$/\\1/p')
echo partial >"\$out"
: >"$work/drawing"
sleep 0.5
EOF
mkdir "$work/scratch"
late_plot_left_nothing() {
    [ ! -e "$r/late.png" ] || fail "plot interrupted by SIG$1 left its output"
    no_leftovers "$r" || fail "plot interrupted by SIG$1 left its temporary file"
    [ -z "$(ls -A "$work/scratch")" ] || fail "plot interrupted by SIG$1 left its scratch folder"
    rm -rf "$work/scratch"/*
}
interrupt_by "HUP INT QUIT ILL TRAP ABRT BUS FPE USR1 SEGV USR2 PIPE ALRM TERM XCPU XFSZ VTALRM PROF IO PWR SYS RTMIN RTMAX" \
    "$work/drawing" late_plot_left_nothing \
    env PATH="$work/failbin:$PATH" TMPDIR="$work/scratch" "$sh" "$plot" "$s.csv" "$r/late.png"
# Left to finish, the plot is the fake gnuplot's partial file.
for sig in WINCH URG CHLD CONT; do
    rm -f "$work/drawing" "$r/late.png"
    env PATH="$work/failbin:$PATH" "$sh" "$plot" "$s.csv" "$r/late.png" 2>/dev/null &
    pid=$!
    i=0
    while ! [ -e "$work/drawing" ] && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    kill -s "$sig" "$pid"
    wait "$pid"
    status=$?
    [ "$status" -eq 0 ] && [ -s "$r/late.png" ] || fail "SIG$sig ended the plot (status $status)"
done
rm -f "$r/late.png"

# A message keeps its backslashes (printf, not echo).
mkdir "$work/back"
cp "$s.bmp" "$work/back/C:\\cases\\new.csv"
(cd "$work/back" && "$sh" "$plot" 'C:\cases\new.csv' 2>"$work/err")
[ "$(cat "$work/err")" = 'Error: C:\cases\new.csv is not a varlox profile (line 1)' ] ||
    fail "a name with backslashes: $(cat "$work/err")"

# Linear time. A profile of 100,000 rows takes little more than one of 200: reading it
# must not grow with the square of its length (that took minutes).
now() { date +%s.%N; }
long_profile() {  # long_profile FILE ROWS
    awk -v rows="$2" -v h="$header" 'BEGIN {
        print h
        for (i = 2; i < rows + 2; i++) printf "%d,%.6e,%.6e\n", i, 1 / i, 1 / (i * i)
    }' >"$1"
}
mkdir "$work/long"
long_profile "$work/long/short.csv" 200
long_profile "$work/long/long.csv" 100000
t0=$(now)
"$sh" "$plot" "$work/long/short.csv" 2>/dev/null || fail "plot of a 200-row profile"
t1=$(now)
"$sh" "$plot" "$work/long/long.csv" 2>/dev/null || fail "plot of a 100,000-row profile"
t2=$(now)
awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN {
    short = b - a; long = c - b
    printf "200 rows: %.2f s, 100,000 rows: %.2f s\n", short, long
    exit !(long < 20 * short + 6) }' || fail "a 100,000-row profile takes too long against a 200-row one"

# A file without line ends is refused at once, however long it is.
{ printf '%s\n' "$header"; head -c 20000000 /dev/zero | tr '\0' 7; } >"$work/long/unended.csv"
for endless in /dev/zero "$work/long/unended.csv"; do
    t0=$(now)
    timeout 20 "$sh" "$plot" "$endless" "$work/long/endless.png" 2>"$work/err"
    status=$?
    t1=$(now)
    [ "$status" -eq 1 ] || fail "$endless: status $status, want 1 (124: still reading after 20 s)"
    grep -q 'is not a varlox profile' "$work/err" || fail "$endless: $(cat "$work/err")"
    awk -v a="$t0" -v b="$t1" 'BEGIN { exit !(b - a < 2) }' || fail "$endless took over 2 s to refuse"
done

# Plots started as a shell starts a job in a terminal's foreground: as the leader of a
# process group of its own, every signal at its default action, and signalled there (as
# a terminal's Ctrl-C is sent) or to the script alone (kill -INT PID).
if command -v setsid >/dev/null 2>&1 && env --default-signal true 2>/dev/null; then
    a=$work/alone
    mkdir "$a" "$a/scratch" "$a/realbin" "$a/hangbin" "$a/slowrm"
    # alone COMMAND...: starts COMMAND so, in the background; its pid goes to $pid and
    # $a/pid and, once it has ended, its status to $a/status.
    alone() {
        rm -f "$a/pid" "$a/status" "$a/err"
        (
            setsid env --default-signal "$@" 2>"$a/err" &
            echo "$!" >"$a/pid.new" && mv "$a/pid.new" "$a/pid"
            wait "$!"
            echo "$?" >"$a/status.new" && mv "$a/status.new" "$a/status"
        ) &
        i=0
        while ! [ -e "$a/pid" ] && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        pid=$(cat "$a/pid")
    }
    # ended LABEL: waits up to 10 s for the command started by alone to end, and fails
    # (killing its process group) when it does not; its status goes to $status.
    ended() {
        i=0
        while ! [ -e "$a/status" ] && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        if ! [ -e "$a/status" ]; then
            fail "$1: still running 10 s after the signal"
            kill -s KILL -- "-$pid" 2>/dev/null
        fi
        wait
        status=$(cat "$a/status" 2>/dev/null) || status=none
    }
    # left_nothing LABEL OUTPUT: no output, no temporary beside it, an empty scratch folder
    # and nothing said; the folder is emptied for the next run.
    left_nothing() {
        [ ! -e "$2" ] || fail "$1: the output was written"
        no_leftovers "${2%/*}" || fail "$1: left its temporary file"
        [ -z "$(ls -A "$a/scratch")" ] || fail "$1: left its scratch folder"
        [ ! -s "$a/err" ] || fail "$1: said $(cat "$a/err")"
        rm -rf "${a:?}/scratch/"* "$2" "${2%/*}"/.varlox-plot.*
    }
    # running PID: the process is running, not gone and not a zombie (whose parent has
    # died, and which waits for init to reap it).
    running() {
        if [ -d /proc/self ]; then
            state=$(cut -d ' ' -f 3 "/proc/$1/stat" 2>/dev/null)
            [ -n "$state" ] && [ "$state" != Z ]
        else
            kill -s 0 "$1" 2>/dev/null
        fi
    }
    # kill_to WHOM SIGNAL: the signal to the script alone or to its process group.
    kill_to() {
        if [ "$1" = group ]; then kill -s "$2" -- "-$pid"; else kill -s "$2" "$pid"; fi 2>/dev/null
    }

    # Interrupted while gnuplot draws. Ctrl-C reaches gnuplot too, which handles SIGINT
    # itself: it gives the plot up with status 1, or hangs in its handler. kill -INT
    # leaves it drawing. Either way the plot must end at once with status 130, say
    # nothing, and leave neither its scratch folder nor its temporary nor a gnuplot
    # running. The real gnuplot, 20 times each way, the signal at 0 to 80 ms into its run
    # (which takes about 0.2 s); a stand-in marks its start and notes its pid, then
    # becomes gnuplot.
    long_profile "$a/profile.csv" 3000
    cat >"$a/realbin/gnuplot" <<EOF
#!/bin/sh
echo \$\$ >"$a/gnuplot.pid"
: >"$a/drawing"
exec $(command -v gnuplot) "\$@"
EOF
    chmod +x "$a/realbin/gnuplot"
    for whom in group script; do
        round=0 early=0
        while [ "$round" -lt 20 ]; do
            round=$((round + 1))
            label="SIGINT to the $whom while gnuplot draws (round $round)"
            rm -f "$a/drawing" "$a/gnuplot.pid"
            alone env PATH="$a/realbin:$PATH" TMPDIR="$a/scratch" "$sh" "$plot" "$a/profile.csv" "$a/plot.png"
            i=0
            while ! [ -e "$a/drawing" ] && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
            sleep "0.0$((round % 5 * 2))"
            kill_to "$whom" INT
            ended "$label"
            if [ "$status" = 0 ] && [ "$(png_size "$a/plot.png")" = "800 500" ]; then
                # gnuplot was done before the signal came: the plot stands.
                early=$((early + 1))
                rm -f "$a/plot.png"
                [ -z "$(ls -A "$a/scratch")" ] || fail "$label: ended, but left its scratch folder"
                continue
            fi
            [ "$status" = 130 ] || fail "$label: status $status, want 130"
            left_nothing "$label" "$a/plot.png"
            if running "$(cat "$a/gnuplot.pid")"; then
                fail "$label: gnuplot is still running"
                kill -s KILL "$(cat "$a/gnuplot.pid")"
            fi
        done
        [ "$early" -le 10 ] || fail "SIGINT to the $whom: $early of 20 plots were done before the signal came"
    done

    # A stand-in for gnuplot in the state gnuplot can be left in by SIGINT: drawing on,
    # and heeding no other signal. (Started in the background, it cannot even catch
    # SIGINT: the plot must stop it itself.)
    cat >"$a/hangbin/gnuplot" <<EOF
#!/bin/sh
trap 'trap "" HUP INT QUIT TERM; while :; do sleep 1; done' INT
echo \$\$ >"$a/gnuplot.pid"
: >"$a/drawing"
while :; do sleep 0.1; done
EOF
    chmod +x "$a/hangbin/gnuplot"
    for whom in group script; do
        label="SIGINT to the $whom while gnuplot hangs"
        rm -f "$a/drawing" "$a/gnuplot.pid"
        alone env PATH="$a/hangbin:$PATH" TMPDIR="$a/scratch" "$sh" "$plot" "$s.csv" "$a/plot.png"
        i=0
        while ! [ -e "$a/drawing" ] && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        kill_to "$whom" INT
        ended "$label"
        [ "$status" = 130 ] || fail "$label: status $status, want 130"
        left_nothing "$label" "$a/plot.png"
        if running "$(cat "$a/gnuplot.pid")"; then
            fail "$label: gnuplot is still running"
            kill -s KILL "$(cat "$a/gnuplot.pid")"
        fi
    done

    # A second signal while the cleanup removes what the plot made: the cleanup goes on to
    # the end, and the status is the first signal's. A stand-in rm holds the cleanup's
    # first removal until the test has sent the second signal.
    cat >"$a/slowrm/rm" <<EOF
#!/bin/sh
if ! [ -e "$a/removing" ]; then
    : >"$a/removing"
    i=0
    while ! [ -e "$a/removing.sent" ] && [ \$i -lt 100 ]; do sleep 0.1; i=\$((i + 1)); done
fi
exec $(command -v rm) "\$@"
EOF
    chmod +x "$a/slowrm/rm"
    while read -r first second whom; do
        label="SIG$first, then SIG$second to the $whom during the cleanup"
        rm -f "$work/drawing" "$a/removing" "$a/removing.sent"
        alone env PATH="$a/slowrm:$work/failbin:$PATH" TMPDIR="$a/scratch" "$sh" "$plot" "$s.csv" "$a/plot.png"
        i=0
        while ! [ -e "$work/drawing" ] && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        kill -s "$first" "$pid"
        i=0
        while ! [ -e "$a/removing" ] && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        kill_to "$whom" "$second"
        : >"$a/removing.sent"
        ended "$label"
        want=$((128 + $(signal_number "$first")))
        [ "$status" = "$want" ] || fail "$label: status $status, want $want"
        left_nothing "$label" "$a/plot.png"
    done <<'EOF'
INT TERM script
INT TERM group
TERM INT script
HUP INT group
EOF
else
    missing "setsid (util-linux) or env --default-signal (coreutils 8.31), so a plot interrupted as in a terminal is not tried"
fi

# Names that gnuplot could misread: quotes alone and in pairs (its own escaping of '' fails
# on two in a row), a backquoted command, a macro, backslashes, format directives, a
# leading dash, a semicolon and a hash, non-ASCII letters. Each plots alone and all in one
# plot, the name shown as it is, and nothing is run.
mkdir "$work/hostile"
while IFS= read -r name; do
    cp "$s.csv" "$work/hostile/$name"
    (cd "$work/hostile" && "$sh" "$plot" --svg "./$name" 2>"$work/err") || fail "plot of $name: $(cat "$work/err")"
    grep -qF ">Radial profile of $name<" "$work/hostile/${name%.csv}-profile.svg" 2>/dev/null ||
        fail "the plot of $name lacks its name in the title"
done <<'EOF'
a''b.csv
it's.csv
''''.csv
"quoted".csv
a`touch pwned`b.csv
@macro $HOME.csv
back\slash\\n.csv
%s%n\101.csv
-dash.csv
semi;colon #hash.csv
é ü.csv
EOF
(cd "$work/hostile" && "$sh" "$plot" ./*.csv all.svg 2>"$work/err") || fail "plot of all the hostile names: $(cat "$work/err")"
for name in "$work/hostile"/*.csv; do
    grep -qF ">${name##*/}<" "$work/hostile/all.svg" || fail "the key lacks ${name##*/}"
done
[ ! -e "$work/hostile/pwned" ] || fail "a backquoted command in a name was run"

# Spectral densities (--psd) of full profiles made here for one surface, whose psd is
# 1e-3 f^-3 in z^2 px^2 at f cycles per pixel: sides 128 and 512 without a length, 256
# with a side of 0.0512 m (psd in z^2 m^2, 0.2 mm pixels), the 512 one falling to 1e-46
# (rounding noise) from bin 300. Drawn against cycles per pixel the three lie on one
# curve; a summary beside the 256 one adds its fit.
# full_profile FILE SIDE LENGTH(0: none) [NOISE_FROM_BIN]
full_profile() {
    awk -v n="$2" -v len="$3" -v noise="${4:-0}" 'BEGIN {
        half = int(n / 2); last = int(2 * sqrt(2) * half)
        a = (len > 0) ? len / n : 1
        printf "bin,cycles_per_side,cycles_per_pixel,%smean_amplitude,mean_power,weight,psd,psd_sd\n", (len > 0 ? "cycles_per_metre," : "")
        for (b = 0; b <= last; b++) {
            cps = b / 2; cpp = cps / n
            p = (b == 0) ? 5 : 1e-3 * cpp ^ -3
            if (noise && b >= noise) p = 1e-46
            printf "%d,%.17g,%.17g,", b, cps, cpp
            if (len > 0) printf "%.17g,", cps / len
            printf "%.17g,%.17g,%d,%.17g,%.17g\n", sqrt(p * n * n), p * n * n, (b ? 8 * b : 1), p * a * a, p * a * a / 2
        }
    }' >"$1"
}
# svg_points FILE PLOT: the "x y" points of the PLOT-th curve of an SVG plot: the first
# path of its first group (the second holds its sample in the key), over several lines.
svg_points() {
    awk -v id="gnuplot_plot_$2" '
        /id="gnuplot_plot_/ { inside = !done && index($0, "id=\"" id "\""); if (inside) done = 1 }
        inside { text = text " " $0 }
        END {
            if (!match(text, /d=.M[^'"'"']*/)) exit
            d = substr(text, RSTART + 3, RLENGTH - 3)
            while (match(d, /[0-9.]+,[0-9.]+/)) {
                pair = substr(d, RSTART, RLENGTH); sub(",", " ", pair); print pair
                d = substr(d, RSTART + RLENGTH)
            }
        }' "$1"
}
# same_curve A B: every point of B at an x where A has one lies within 0.05 of A's.
same_curve() {
    awk 'NR == FNR { y[$1] = $2; next } ($1 in y) { shared++; d = $2 - y[$1]; if (d > 0.05 || d < -0.05) bad++ }
         END { exit !(shared >= 2 && !bad) }' "$1" "$2"
}
mkdir "$work/psd"
full_profile "$work/psd/s128-full.csv" 128 0
full_profile "$work/psd/s256-full.csv" 256 0.0512
full_profile "$work/psd/s512-full.csv" 512 0 300
# The fit over bins 10 to 200 of the 256 one, in its cycles per metre (bin / 2 / 0.0512).
printf '%s\n%s\n' 'picture,side,pixel_size,rms,psd_slope,psd_slope_error,hurst,fit_from,fit_to,rows' \
    'a,b.bmp,256,0.0002,3.1,-3,0.02,0.5,97.65625,1953.125,191' >"$work/psd/s256-summary.csv"
noise=$(awk -F, 'NR > 1 && $1 >= 300 { n++ } END { print n }' "$work/psd/s512-full.csv")
p=$work/psd
"$sh" "$plot" --psd "$p/s128-full.csv" "$p/s256-full.csv" "$p/s512-full.csv" "$p/all.svg" 2>/dev/null || fail "psd plot"
"$sh" "$plot" --psd --depth 60 "$p/s512-full.csv" "$p/deep.svg" 2>/dev/null || fail "psd plot, --depth 60"
# The summary as varlox-view writes it, with the intercept: psd = 1e-3 (f a)^-3 a^2 at f
# cycles per metre for pixels of a = 0.2 mm, 5 f^-3. The picture's name is quoted.
printf '%s\n%s\n' 'picture,side,pixel_size,rms,psd_slope,psd_slope_error,hurst,fit_from,fit_to,rows,psd_intercept' \
    '"a,b.bmp",256,0.0002,3.1,-3,0.02,0.5,97.65625,1953.125,191,5' >"$p/s256-summary.csv"
"$sh" "$plot" --psd "$p/s256-full.csv" "$p/metres.svg" 2>/dev/null || fail "psd plot in metres"
# A summary of every column varlox-view writes, its numbers at full length (more than 256
# bytes of them) after a long picture name, quoted: a row of 1,000 bytes, read whole.
cp "$p/s256-full.csv" "$p/wide-full.csv"
fields=,256,0.00020000000000000001,3.1000000000000001e-09,-3.0000000000000004,0.020000000000000004
fields=$fields,0.50000000000000022,97.656249999999986,1953.1250000000002,191,5.0000000000000009
fields=$fields,150.00546654973431,60.005466549734308,0.036465612106388143,16.002095640940347,149.9904217948401
picture=$(awk -v n=$((1000 - 2 - ${#fields})) 'BEGIN { s = "scans/a,b/"; while (length(s) < n) s = s "x"; print s }')
{
    echo picture,side,pixel_size,rms,psd_slope,psd_slope_error,hurst,fit_from,fit_to,rows,psd_intercept,direction_deg,lay_deg,aspect,peak_period_px,peak_direction_deg
    printf '"%s"%s\n' "$picture" "$fields"
} >"$p/wide-summary.csv"
[ "$(sed -n 2p "$p/wide-summary.csv" | tr -d '\n' | wc -c)" -eq 1000 ] || fail "the summary's row is not 1,000 bytes long"
"$sh" "$plot" --psd "$p/wide-full.csv" "$p/wide.svg" 2>"$work/err" || fail "psd plot with a summary row of 1,000 bytes: $(cat "$work/err")"
"$sh" "$plot" "$p/s128-full.csv" "$p/s256-full.csv" "$p/sides.svg" 2>/dev/null || fail "plot of two sides"
while IFS='|' read -r file text; do
    grep -qF ">$text<" "$p/$file" || fail "$file lacks \"$text\""
done <<EOF
all.svg|Power spectral densities of s128-full.csv, s256-full.csv, s512-full.csv
all.svg|s256-full.csv fit, slope -3 ± 0.02, H 0.5
all.svg|Left out: the zero frequency (bin 0); more than 12 decades below the largest value: $noise rows of s512-full.csv
all.svg|spatial frequency: cycles per pixel
all.svg|period in pixels
deep.svg|Left out: the zero frequency (bin 0)
metres.svg|spatial frequency: cycles per metre
metres.svg|period in metres
metres.svg|fit, slope -3 ± 0.02, H 0.5
wide.svg|fit, slope -3 ± 0.02, H 0.5
sides.svg|side 128 / 2; varlox's profile ends (side 256)
sides.svg|varlox's profile ends (side 128)
sides.svg|side 256 / 2
EOF
for k in 1 2 3 4; do svg_points "$p/all.svg" "$k" >"$p/curve$k"; done
same_curve "$p/curve1" "$p/curve2" || fail "the psd of side 256 in z^2 m^2 does not overlay side 128's"
same_curve "$p/curve3" "$p/curve2" || fail "the psd of side 256 in z^2 m^2 does not overlay side 512's"
same_curve "$p/curve2" "$p/curve4" || fail "the fit's ends are not on the profile it was fitted to"
svg_points "$p/metres.svg" 1 >"$p/curve1"
svg_points "$p/metres.svg" 2 >"$p/curve2"
same_curve "$p/curve1" "$p/curve2" || fail "the fit of the summary's intercept is not on the profile"
[ "$(wc -l <"$p/curve4")" -eq 2 ] || fail "the fit is not drawn from fit_from to fit_to"
# A long name is wrapped in the title: no line of text runs wider than the picture.
long=$(printf 'scan-%s' 0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 0123456789)-full.csv
cp "$p/s128-full.csv" "$p/$long"
"$sh" "$plot" "$p/s256-full.csv" "$p/$long" "$p/long.svg" 2>/dev/null || fail "plot of a long name"
awk '/<text/ { t = $0; gsub(/<[^>]*>/, "", t); gsub(/^[ \t]+|[ \t]+$/, "", t); if (length(t) > 80) { print t; bad = 1 } } END { exit bad }' "$p/long.svg" >"$work/err" ||
    fail "a title line runs wider than the picture: $(cat "$work/err")"
grep -qF ">scan-${long#scan-}" "$p/long.svg" && fail "a long name is drawn on one line"
old=$work/full/grating-full.csv
refuse "$PATH" "Error: $old has no psd to plot (--psd takes varlox-view's full profiles with a psd column)" \
    "$p/x.png" --psd "$old" "$p/x.png"
refuse "$PATH" "Error: $s.csv is varlox's rescaled profile, which has no psd: --psd takes varlox-view's full profiles" \
    "$p/x.png" --psd "$s.csv" "$p/x.png"
for bad in x 0 -1 1.2.3; do
    refuse "$PATH" "Error: --depth takes a number of decades, above 0 and at most 300, not '$bad'" "$p/x.png" --depth "$bad" "$p/s128-full.csv" "$p/x.png"
done
sed 's/psd_slope/slope/' "$p/s256-summary.csv" >"$p/bad-summary.csv"
cp "$p/s256-full.csv" "$p/bad-full.csv"
refuse "$PATH" "Error: $p/bad-summary.csv is not a varlox-view summary" "$p/x.png" --psd "$p/bad-full.csv" "$p/x.png"

# Angular spectra (made here: psd 1 + 100 exp(-((d - 30) / 3)^2), a peak at 30 degrees)
# and a peaks file, whose peak of period 16 pixels at 30 degrees is marked on the
# angular plot and on the radial one.
awk 'BEGIN { print "direction_deg,mean_power,psd,weight"
    for (d = 0; d < 180; d++) { p = 1 + 100 * exp(-((d - 30) / 3) ^ 2); printf "%d,%.17g,%.17g,%d\n", d, 10 * p, p, 40 } }' \
    >"$p/s-angles.csv"
printf '%s\n%s\n' 'rank,cycles_per_side,cycles_per_pixel,period_px,direction_deg,amplitude,power_share' \
    '1,8,0.0625,16,30,12.5,0.4' >"$p/s128-peaks.csv"
"$sh" "$plot" "$p/s-angles.csv" "$p/s128-peaks.csv" "$p/angles.svg" 2>/dev/null || fail "plot of an angular spectrum"
cp "$p/s-angles.csv" "$p/t-angles.csv"
"$sh" "$plot" --power "$p/s-angles.csv" "$p/t-angles.csv" "$p/power.svg" 2>/dev/null || fail "plot of angular power"
"$sh" "$plot" --psd "$p/s128-full.csv" "$p/s128-peaks.csv" "$p/peaks.svg" 2>/dev/null || fail "psd plot with peaks"
while IFS='|' read -r file text; do
    grep -qF ">$text<" "$p/$file" || fail "$file lacks \"$text\""
done <<EOF
angles.svg|Angular spectrum (psd) of s-angles.csv
angles.svg|16 px
power.svg|Angular spectra (power) of s-angles.csv, t-angles.csv
peaks.svg|16 px
EOF
# The peak's mark lies where the curve peaks (angular) and at the bin of its frequency.
svg_points "$p/angles.svg" 1 | awk '$2 < y || NR == 1 { y = $2; x = $1 } END { print x }' >"$p/top"
grep -q "d='M$(cat "$p/top")," "$p/angles.svg" || fail "the peak at 30 degrees is not marked at the curve's top"
refuse "$PATH" "Error: $p/s-angles.csv and $p/s128-full.csv are an angular spectrum and a radial profile: plot them apart" \
    "$p/x.png" "$p/s-angles.csv" "$p/s128-full.csv" "$p/x.png"
refuse "$PATH" "Error: $p/s-angles.csv is an angular spectrum, which has no amplitude: draw its psd, or its power with --power" \
    "$p/x.png" --amplitude "$p/s-angles.csv" "$p/x.png"
refuse "$PATH" "Error: $p/s128-peaks.csv holds peaks only: give the profile or angular spectrum to mark them on" \
    "$p/x.png" "$p/s128-peaks.csv" "$p/x.png"
# Peaks without cycles per metre on a plot against them: the peaks file is named, wherever
# it stands among the files.
refuse "$PATH" "Error: s128-peaks.csv has no cycles per metre, which the other files are drawn against" \
    "$p/x.png" --psd "$p/s128-peaks.csv" "$p/s256-full.csv" "$p/x.png"

# A fit is dashed in its profile's colour: in all.svg the fit (plot 4) is s256's (plot 2).
svg_stroke() {  # svg_stroke FILE PLOT: the stroke of the PLOT-th curve's first path, and "dashed"
    awk -v id="gnuplot_plot_$2\"" 'index($0, id) { on = 1 } on && /<path stroke=/ {
        match($0, /stroke=.rgb\([^)]*\)/); s = substr($0, RSTART, RLENGTH); gsub(/ /, "", s)
        print s, (index($0, "stroke-dasharray") ? "dashed" : "solid"); exit }' "$1"
}
[ "$(svg_stroke "$p/all.svg" 4)" = "$(svg_stroke "$p/all.svg" 2 | sed 's/solid$/dashed/')" ] ||
    fail "the fit is drawn $(svg_stroke "$p/all.svg" 4), its profile $(svg_stroke "$p/all.svg" 2)"

# Peak labels that do not overlap, and name every peak: five peaks within 4 degrees, and
# 6% apart in frequency. A label upright is about 13 pixels wide and 6.5 pixels a
# character long, hanging down from its anchor.
awk 'BEGIN { print "rank,cycles_per_side,cycles_per_pixel,period_px,direction_deg"
    for (i = 0; i < 5; i++) printf "%d,%.17g,%.17g,%.17g,%d\n", i + 1, 8 * 1.06 ^ i, 8 * 1.06 ^ i / 128, 16 / 1.06 ^ i, 30 + i }' \
    >"$p/close-peaks.csv"
"$sh" "$plot" "$p/s-angles.csv" "$p/close-peaks.csv" "$p/close-angles.svg" 2>/dev/null || fail "plot of close peaks"
"$sh" "$plot" --psd "$p/s128-full.csv" "$p/close-peaks.csv" "$p/close-psd.svg" 2>/dev/null || fail "psd plot of close peaks"
for file in close-angles.svg close-psd.svg; do
    awk '/rotate\(-90\)/ && /fill="rgb\(176,48,48\)"/ { match($0, /translate\([0-9.]+,[0-9.]+/); split(substr($0, RSTART + 10, RLENGTH - 10), at, ",")
            getline; t = $0; gsub(/<[^>]*>|^[ \t]+/, "", t); n++; x[n] = at[1]; y[n] = at[2]; len[n] = length(t) * 6.5 }
        END { for (i = 1; i <= n; i++) for (j = 1; j < i; j++) {
                dx = x[i] - x[j]; if (dx < 0) dx = -dx
                if (dx < 13 && y[i] < y[j] + len[j] && y[j] < y[i] + len[i]) { print "labels " j " and " i " overlap"; bad = 1 } }
              exit bad }' "$p/$file" >"$work/err" || fail "$file: $(cat "$work/err")"
    for period in 16 15.1 14.2 13.4 12.7; do
        grep -q "[>; ]$period px[;<]" "$p/$file" || fail "$file does not label the peak of $period px"
    done
done

# The height unit of the summary beside a profile names the psd's axis; profiles of two
# units, or one without, keep z.
sed '1s/$/,height_unit/; 2s/$/,nm/' "$p/s256-summary.csv" >"$p/u-summary.csv"
cp "$p/s256-full.csv" "$p/u-full.csv"
"$sh" "$plot" --psd "$p/u-full.csv" "$p/unit.svg" 2>/dev/null || fail "psd plot with a height unit"
"$sh" "$plot" --psd "$p/u-full.csv" "$p/s256-full.csv" "$p/units.svg" 2>/dev/null || fail "psd plot of two units"
while IFS='|' read -r file text; do
    grep -qF ">$text<" "$p/$file" || fail "$file lacks \"$text\""
done <<EOF
unit.svg|psd (nm
units.svg|psd (z
EOF

# An autocorrelation exp(-(r / 8)^2) in pixels, whose Sal at threshold 0.2 is 8 sqrt(ln 5)
# = 10.15 pixels: its mark stands where the drawn curve crosses the threshold's line.
awk 'BEGIN { print "ring,distance_px,mean_acf,lags,direction_deg,crossing_px,capped"
    for (r = 0; r < 180; r++) printf "%d,%d,%.17g,%d,%d,10.149,0\n", r, r, exp(-(r / 8) ^ 2), 4 * r + (r == 0), r }' >"$p/g-acf.csv"
printf '%s\n%s\n' 'picture,psd_slope,fit_from,fit_to,sal,str,acf_threshold' 'g.x3p,,,,10.149,1,0.2' >"$p/g-summary.csv"
"$sh" "$plot" "$p/g-acf.csv" "$p/acf.svg" 2>/dev/null || fail "plot of an autocorrelation"
for text in 'Sal 10.1 px' 'threshold 0.2' 'Autocorrelation of g-acf.csv'; do
    grep -qF ">$text<" "$p/acf.svg" || fail "acf.svg lacks \"$text\""
done
svg_points "$p/acf.svg" 1 >"$p/acf-curve"
# The dashed paths: the threshold's line across the graph, the Sal mark upright.
grep -o "stroke-dasharray='[^']*'  d='M[0-9.]*,[0-9.]* L[0-9.]*,[0-9.]*" "$p/acf.svg" |
    awk -F"[ ,LM']+" '$6 == $8 { print "y", $6 } $5 == $7 { print "x", $5 }' >"$p/acf-marks"
crossing=$(awk -v y="$(awk '$1 == "y" { print $2; exit }' "$p/acf-marks")" \
    'NR > 1 && ($2 - y) * (py - y) <= 0 { print px + ($1 - px) * (y - py) / ($2 - py); exit } { px = $1; py = $2 }' "$p/acf-curve")
sal_x=$(awk '$1 == "x" { print $2; exit }' "$p/acf-marks")
awk -v a="${crossing:-0}" -v b="${sal_x:-9999}" 'BEGIN { exit !(a - b < 1.5 && b - a < 1.5) }' ||
    fail "the Sal mark at x = $sal_x is not where the curve crosses the threshold, x = $crossing"
printf '%s\n' 'ring,distance_m,mean_acf,lags,direction_deg,crossing_m,capped' '0,0,1,1,0,,' '1,1e-6,0.5,4,1,,' >"$p/m-acf.csv"
refuse "$PATH" "Error: $p/g-acf.csv and $p/s128-full.csv are an autocorrelation and a spectrum: plot them apart" \
    "$p/x.png" "$p/g-acf.csv" "$p/s128-full.csv" "$p/x.png"
refuse "$PATH" "Error: $p/g-acf.csv and $p/m-acf.csv measure lags in pixels and in metres: plot them apart" \
    "$p/x.png" "$p/g-acf.csv" "$p/m-acf.csv" "$p/x.png"
refuse "$PATH" "Error: $p/g-acf.csv is an autocorrelation, which has no psd: draw it without --psd" \
    "$p/x.png" --psd "$p/g-acf.csv" "$p/x.png"

# varlox-view's own measurement of the grating (10 cycles per side along (6, 8), a period
# of 12.8 pixels): its psd with the fit of its summary and the strongest peak marked with
# that period, and its angular spectrum with the same mark.
mkdir "$work/measured"
cp "$work/b/grating.bmp" "$work/measured/g.bmp"
"$view" --fit 2:40 --peaks 1 --acf "$work/measured/g.bmp" 2>/dev/null || fail "varlox-view measuring the grating"
m=$work/measured
"$sh" "$plot" --psd "$m/g-full.csv" "$m/g-peaks.csv" "$m/psd.svg" 2>/dev/null || fail "psd plot of a measured profile"
"$sh" "$plot" "$m/g-angles.csv" "$m/g-peaks.csv" "$m/angles.svg" 2>/dev/null || fail "plot of a measured angular spectrum"
for file in psd.svg angles.svg; do
    grep -qF '>12.8 px<' "$m/$file" || fail "$file does not mark the grating's period of 12.8 px"
done
grep -qF '>fit, slope ' "$m/psd.svg" || fail "the measured profile's plot lacks its fit"
"$sh" "$plot" "$m/g-acf.csv" "$m/acf.svg" 2>/dev/null || fail "plot of a measured autocorrelation"
grep -qF '>Sal ' "$m/acf.svg" || fail "the measured autocorrelation's plot lacks its Sal"

# SVG that an XML parser accepts whatever the file names hold: bytes that are not UTF-8,
# a control character, markup and the end of a CDATA section.
if command -v xmllint >/dev/null 2>&1; then
    mkdir "$work/names"
    for name in "$(printf 'bad\377\376name.csv')" "$(printf 'ctl\001.csv')" 'tag<b>&amp;.csv' 'end]]>.csv'; do
        cp "$s.csv" "$work/names/$name"
        (cd "$work/names" && "$sh" "$plot" --svg "$name" 2>/dev/null) || fail "SVG plot of $name"
    done
    (cd "$work/names" && "$sh" "$plot" ./*.csv all.svg 2>/dev/null) || fail "SVG plot of all the names"
    for svgfile in "$work/names"/*.svg; do
        xmllint --noout "$svgfile" 2>"$work/err" || fail "$svgfile is not well-formed: $(head -n 2 "$work/err")"
    done
    grep -qF "bad$(printf '\357\277\275\357\277\275')name" "$work/names/all.svg" ||
        fail "bytes that are not UTF-8 are not shown as U+FFFD"
    grep -qF 'end]]&gt;' "$work/names/all.svg" || fail "the end of a CDATA section is not escaped"
else
    missing "xmllint (Debian: libxml2-utils), so the SVG is not checked by a parser"
fi

[ "$failures" -eq 0 ] && echo "varlox-plot: all checks passed"
[ "$failures" -eq 0 ]
