#!/bin/sh
# Ctrl+C during the transform of varlox.exe under wine, which turns a SIGINT sent to the
# program's process into the console's Ctrl+C: the run removes its temporaries, so the
# folder holds only the input again, the messages written so far are out, and the status
# is Windows' Ctrl+C status 0xC000013A (58, its low byte, as wine reports it). A test
# inside wine cannot send that Ctrl+C (the program has no console of its own there), so
# this one runs on the build machine and starts the program under wine.
#
# Usage: sh tests/wine_interrupt.sh VARLOX_EXE MAKE_SAMPLE_EXE WINE [ARG...]
# WINEPREFIX and WINEDEBUG come from the caller, as for the rest of the suite. Status 0
# when every check passed, 1 when one failed.

varlox=$1
make_sample=$2
shift 2

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

mkdir "$work/run"
# A picture whose transform takes seconds, so that the interrupt falls inside it.
(cd "$work/run" && "$@" "$make_sample" big.bmp 2048 </dev/null >/dev/null 2>"$work/sample.err") ||
    { echo "FAIL: make_sample: $(cat "$work/sample.err")"; exit 1; }

# Every stream of the program goes to a file: a wine process left holding the test's
# output would keep ctest waiting.
(cd "$work/run" && exec "$@" "$varlox" big.bmp </dev/null >"$work/out" 2>"$work/err") &
pid=$!

# temporaries: how many of the run's hidden temporaries are in the folder.
temporaries() {
    set -- "$work/run"/.*.tmp
    if [ -e "$1" ]; then echo $#; else echo 0; fi
}

# The five temporaries appear just before the transform starts.
appeared=
tries=0
while [ "$tries" -lt 600 ]; do
    if [ "$(temporaries)" = 5 ]; then
        appeared=1
        break
    fi
    sleep 0.1
    tries=$((tries + 1))
done
[ -n "$appeared" ] || fail "the run's five temporaries did not appear within 60 s"

if kill -INT "$pid" 2>/dev/null; then
    wait "$pid"
    status=$?
    [ "$status" = 58 ] || fail "interrupted: status $status, not 58 (0xC000013A)"
else
    wait "$pid"
    fail "varlox.exe ended with status $? before it was interrupted"
fi

left=$(cd "$work/run" && find . -mindepth 1 ! -name big.bmp)
[ -z "$left" ] || fail "left behind: $left"
grep -q 'VARLOX version' "$work/err" || fail "the banner is not on standard error: $(cat "$work/err")"

[ "$failures" = 0 ] || exit 1
echo "an interrupted run under wine leaves only its input, with status 58"
