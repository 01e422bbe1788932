# Sourced by the companion scripts' tests: ends a script in the middle of its work with
# signals a shell reports by its status, and checks the status and what was left.
#
#   interrupt_each MARKER CHECK COMMAND...
#       interrupt_by "HUP INT QUIT TERM" MARKER CHECK COMMAND...
#   interrupt_by SIGNALS MARKER CHECK COMMAND...
#       for each signal of the list SIGNALS (names without SIG, as kill takes them) in
#       turn: starts COMMAND in the background, waits (up to 10 s) for the file MARKER,
#       which a stand-in tool of the test makes while the script waits for it, sends the
#       signal, and calls `fail` unless the status is the shell's for that signal (128 +
#       its number: 129 for HUP, 138 for USR1 on Linux); then runs CHECK with the
#       signal's name. A background job of a script starts with INT and QUIT ignored,
#       and the test's own caller may have ignored others (PIPE, say), so every signal
#       is set back to its default with env --default-signal (coreutils 8.31); without
#       it INT and QUIT are not tried, which is a failure where VARLOX_REQUIRE_TOOLS is
#       set.
#   signal_number NAME
#       prints the number of the signal NAME on this system (from the shell's kill -l).
signal_number() {
    sn=1
    while [ "$sn" -lt 128 ]; do
        [ "$(kill -l "$sn" 2>/dev/null)" = "$1" ] && { echo "$sn"; return 0; }
        sn=$((sn + 1))
    done
    return 1
}

interrupt_by() {
    signals=$1 marker=$2 check=$3
    shift 3
    defaults=
    env --default-signal true 2>/dev/null && defaults="env --default-signal"
    for sig in $signals; do
        if [ -z "$defaults" ] && { [ "$sig" = INT ] || [ "$sig" = QUIT ]; }; then
            if [ -n "${VARLOX_REQUIRE_TOOLS:-}" ]; then
                fail "env --default-signal (coreutils 8.31) is missing: SIG$sig is not tried"
            else
                echo "note: env --default-signal (coreutils 8.31) is missing: SIG$sig is not tried"
            fi
            continue
        fi
        number=$(signal_number "$sig") || { fail "no signal $sig here"; continue; }
        want=$((128 + number))
        rm -f "$marker"
        $defaults "$@" 2>/dev/null &
        pid=$!
        i=0
        while ! [ -e "$marker" ] && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        kill -s "$sig" "$pid"
        wait "$pid"
        status=$?
        [ "$status" -eq "$want" ] || fail "ended by SIG$sig: status $status, want $want"
        "$check" "$sig"
    done
}

interrupt_each() {
    interrupt_by "HUP INT QUIT TERM" "$@"
}
