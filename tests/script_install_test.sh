#!/bin/sh
# A companion script finds its own files (varlox-trap.sh, and varlox-plot's
# varlox-plot.awk) however it is started: from the source tree, from a prefix this build
# is installed into (cmake --install), through the PATH, by a relative path, from its own
# folder, through a link from another folder (absolute, relative, or a chain of links);
# and where its files are missing it says which, and where it looked. A run that found
# its files gets as far as reading its input, which does not exist: "Could not read"
# (or, where gnuplot or ImageMagick is missing, its refusal for that).
#
# Usage: sh tests/script_install_test.sh CMAKE BUILD_DIR SOURCE_DIR SCRIPT
# Status 0 when every case passed, 1 when one failed.

cmake=$1
build=$2
source=$(cd "$3" && pwd)
script=$4
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    { echo "FAIL: cmake --install: $(tail -n 3 "$work/install.log")"; exit 1; }
case $script in
    varlox-plot) files="varlox-plot.awk varlox-trap.sh" input=$work/none.csv ;;
    *) files="varlox-trap.sh" input=$work/none.png ;;
esac
for file in $files; do
    [ -f "$prefix/share/varlox/$file" ] || fail "cmake --install put no $file in share/varlox"
done

# The ways in: links from a folder of their own, and copies of the script with none of
# its files beside it, or (varlox-plot) one of its two.
mkdir "$work/links" "$work/alone" "$work/some"
ln -s "$prefix/bin/$script" "$work/links/absolute"
ln -s "../prefix/bin/$script" "$work/links/relative"
ln -s absolute "$work/links/chain"
cp "$source/app/$script" "$work/alone/$script"
cp "$source/app/$script" "$work/some/$script"
cp "$source/app/varlox-trap.sh" "$work/some/"
missing() {  # missing FOLDER: the refusal of the script in FOLDER without its files
    echo "$script's own files ($(echo "$files" | sed 's/ /, /')) are neither in $1 nor in $1/../share/varlox"
}

# how;folder to start in;command;what it must say ("found": that it found its files)
{
    cat <<EOF
the source tree;$work;sh "$source/app/$script";found
the prefix;$work;"$prefix/bin/$script";found
the PATH;$work;PATH="$prefix/bin:\$PATH" $script;found
a relative path;$prefix;bin/$script;found
its own folder;$prefix/bin;sh $script;found
an absolute link;$work;"$work/links/absolute";found
a relative link;$work/links;./relative;found
a chain of links;$work;sh "$work/links/chain";found
alone;$work;sh "$work/alone/$script";$(missing "$work/alone")
EOF
    if [ "$script" = varlox-plot ]; then
        echo "without varlox-plot.awk;$work;sh \"$work/some/$script\";$(missing "$work/some")"
    fi
} >"$work/cases"
while IFS=';' read -r how folder command message; do
    (cd "$folder" && eval "$command \"\$input\"") >/dev/null 2>"$work/err" </dev/null
    status=$?
    said=$(cat "$work/err")
    if [ "$message" = found ]; then
        case $said in
            "Error: Could not read $input" | *"is not installed"*) [ "$status" -eq 1 ] && continue ;;
        esac
        fail "$how: status $status, said: $said"
    elif [ "$status" -ne 1 ] || [ "$said" != "Error: $message" ]; then
        fail "$how: status $status, said \"$said\", not \"Error: $message\""
    fi
done <"$work/cases"

[ "$failures" -eq 0 ] && echo "$script finds its files however it is started"
[ "$failures" -eq 0 ]
