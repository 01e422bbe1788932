#!/bin/sh
# The companion scripts' tests are skipped (status 77) exactly where their script refuses
# to run for want of a tool, and at once: a test that goes on where its script cannot
# run fails by the hundred, and slowly. Each case hides the tools of the table from a
# PATH that holds every other command of this machine (links in a folder of their own),
# puts stand-ins first that share only a tool's name (a convert of another program, say),
# checks that the script refuses with its message, and that the test then ends with 77
# within 20 seconds.
#
# Usage: sh tests/script_skips_test.sh VARLOX SOURCE_DIR
# Status 0 when every case passed, 1 when one failed.

varlox=$1
source=$(cd "$2" && pwd)
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Every command on the PATH, the first of each name as the PATH finds it, less the tools
# the cases take away.
hidden="convert identify magick gnuplot"
mkdir "$work/path" "$work/standins"
rest=$PATH
while [ -n "$rest" ]; do
    dir=${rest%%:*}
    case $rest in *:*) rest=${rest#*:} ;; *) rest= ;; esac
    case $dir in /*) ;; *) continue ;; esac
    [ -d "$dir" ] || continue
    # ln links what it can and refuses the names linked already from earlier folders.
    ln -s "$dir"/* "$work/path/" 2>/dev/null
done
for tool in $hidden; do rm -f "$work/path/$tool"; done
# A stand-in: a program of the same name that is not the tool.
cat >"$work/standins/tool" <<'EOF'
#!/bin/sh
echo "${0##*/}: a program of another kind that shares the name" >&2
exit 1
EOF
chmod +x "$work/standins/tool"

# script;its test;stand-ins first on the PATH;what the script says
while IFS=';' read -r script test standins message; do
    label="$test with ${standins:-no stand-in}"
    rm -rf "${work:?}/first"
    mkdir "$work/first"
    for tool in $standins; do ln -s "$work/standins/tool" "$work/first/$tool"; done
    case $script in
        varlox-plot) input=$work/profile.csv ;;
        *) input=$work/picture.png ;;
    esac
    PATH="$work/first:$work/path" sh "$source/app/$script" "$input" >/dev/null 2>"$work/err" </dev/null
    status=$?
    if [ "$status" -ne 1 ] || ! grep -qF "Error: $message" "$work/err"; then
        fail "$label: $script does not refuse with \"$message\" (status $status): $(cat "$work/err")"
    fi
    start=$(date +%s)
    PATH="$work/first:$work/path" timeout 60 sh "$source/tests/$test" "$varlox" "$source" >"$work/out" 2>&1 </dev/null
    status=$?
    took=$(($(date +%s) - start))
    [ "$status" -eq 77 ] || fail "$label: status $status, not 77 (skipped); it said: $(tail -n 3 "$work/out")"
    [ "$took" -le 20 ] || fail "$label: took $took s to end"
done <<'EOF'
varlox-prepare;prepare_test.sh;convert;ImageMagick is not installed
varlox-prepare;prepare_test.sh;identify;ImageMagick is not installed
varlox-prepare;prepare_test.sh;;ImageMagick is not installed
varlox-plot;test_plot.sh;;gnuplot is not installed
EOF

[ "$failures" -eq 0 ] && echo "every script test is skipped where its script cannot run"
[ "$failures" -eq 0 ]
