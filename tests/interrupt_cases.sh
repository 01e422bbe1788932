# Sourced by the companion scripts' tests: ends a script in the middle of its work with
# signals a shell reports by its status, and checks the status and what was left.
#
#   interrupt_signals
#       the signals tried, by name (or by number where the shell has no name for one,
#       as dash for Linux's 16); HUP INT QUIT TERM unless the test sets it first. A
#       signal this shell does not know is not tried, with a note.
#   interrupt_each MARKER CHECK COMMAND...
#       for each of interrupt_signals in turn: starts COMMAND in the background, waits
#       (up to 10 s) for the file MARKER, which a stand-in tool of the test makes while
#       the script waits for it, sends the signal, then makes MARKER.sent (a stand-in
#       may wait for that instead of sleeping long enough), and calls `fail` unless the
#       status is the shell's for that signal, 128 plus its number (129, 130, 131, 143
#       for the first four on every system); then runs CHECK with the signal's name.
#       COMMAND starts with every signal at its default action (env --default-signal,
#       coreutils 8.31): a background job of a script starts with INT and QUIT ignored,
#       the test's own caller may have ignored others (PIPE, say), and a script cannot
#       catch a signal ignored when it started. Without it INT and QUIT are not tried,
#       which is a failure where VARLOX_REQUIRE_TOOLS is set.
#   interrupt_by SIGNALS MARKER CHECK COMMAND...
#       the same for the signals of the list SIGNALS (names without SIG, or numbers)
#   interrupt_number NAME, signal_number NAME
#       prints the number of signal NAME in this shell, or fails.

interrupt_signals=${interrupt_signals:-HUP INT QUIT TERM}

interrupt_number() {
    case $1 in
        '' | *[!0-9]*) ;;
        *) kill -l "$1" >/dev/null 2>&1 && { echo "$1"; return 0; }; return 1 ;;
    esac
    interrupt_n=1
    while [ "$interrupt_n" -lt 128 ]; do
        interrupt_name=$(kill -l "$interrupt_n" 2>/dev/null)
        [ "${interrupt_name#SIG}" = "$1" ] && { echo "$interrupt_n"; return 0; }
        interrupt_n=$((interrupt_n + 1))
    done
    return 1
}

signal_number() { interrupt_number "$@"; }

interrupt_by() {
    signals=$1 marker=$2 check=$3
    shift 3
    defaults=
    env --default-signal true 2>/dev/null && defaults="env --default-signal"
    for sig in $signals; do
        if ! number=$(interrupt_number "$sig"); then
            echo "note: this shell knows no signal $sig: not tried"
            continue
        fi
        want=$((128 + number))
        if [ -z "$defaults" ] && { [ "$sig" = INT ] || [ "$sig" = QUIT ]; }; then
            if [ -n "${VARLOX_REQUIRE_TOOLS:-}" ]; then
                fail "env --default-signal (coreutils 8.31) is missing: SIG$sig is not tried"
            else
                echo "note: env --default-signal (coreutils 8.31) is missing: SIG$sig is not tried"
            fi
            continue
        fi
        rm -f "$marker" "$marker.sent"
        $defaults "$@" 2>/dev/null &
        pid=$!
        i=0
        while ! [ -e "$marker" ] && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        kill -"$sig" "$pid"
        : >"$marker.sent"
        wait "$pid"
        status=$?
        [ "$status" -eq "$want" ] || fail "ended by SIG$sig: status $status, want $want"
        "$check" "$sig"
    done
    rm -f "$marker" "$marker.sent"
}

interrupt_each() {
    interrupt_by "$interrupt_signals" "$@"
}
