# Sourced by the companion scripts' tests: ends a script in the middle of its work with
# each signal a shell reports by its status, and checks the status and what was left.
#
#   interrupt_each MARKER CHECK COMMAND...
#       for SIGHUP, SIGINT, SIGQUIT and SIGTERM in turn: starts COMMAND in the
#       background, waits (up to 10 s) for the file MARKER, which a stand-in tool of the
#       test makes while the script waits for it, sends the signal, and calls `fail`
#       unless the status is the shell's for that signal (129, 130, 131, 143); then runs
#       CHECK with the signal's name. A background job of a script starts with INT and
#       QUIT ignored, so those two are set back to their default with env
#       --default-signal (coreutils 8.31); without it they are not tried, which is a
#       failure where VARLOX_REQUIRE_TOOLS is set.
interrupt_each() {
    marker=$1 check=$2
    shift 2
    defaults=
    env --default-signal=INT true 2>/dev/null && defaults="env --default-signal=INT,QUIT"
    for case in HUP:129 INT:130 QUIT:131 TERM:143; do
        sig=${case%:*} want=${case#*:}
        if [ -z "$defaults" ] && { [ "$sig" = INT ] || [ "$sig" = QUIT ]; }; then
            if [ -n "${VARLOX_REQUIRE_TOOLS:-}" ]; then
                fail "env --default-signal (coreutils 8.31) is missing: SIG$sig is not tried"
            else
                echo "note: env --default-signal (coreutils 8.31) is missing: SIG$sig is not tried"
            fi
            continue
        fi
        rm -f "$marker"
        $defaults "$@" 2>/dev/null &
        pid=$!
        i=0
        while ! [ -e "$marker" ] && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        kill -"$sig" "$pid"
        wait "$pid"
        status=$?
        [ "$status" -eq "$want" ] || fail "ended by SIG$sig: status $status, want $want"
        "$check" "$sig"
    done
}
