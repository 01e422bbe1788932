# shellcheck shell=sh
# varlox-trap.sh: sourced by varlox-plot and varlox-prepare, which remove what they made
# however they end. It lies beside them in the source tree, and in ../share/varlox from
# an installed one's folder.
#
#   trap_exit FUNCTION
#       runs FUNCTION when the script exits, and makes every signal that would end the
#       process, and that a script may catch, end it through that exit instead, with
#       the status a shell gives that signal: 128 plus its number, which differs between
#       systems and is looked up (kill -l N names signal N). Those that stop or continue
#       the process or are ignored by default are left alone, and so are the ones whose
#       default differs between systems: IO (ignored on the BSDs) and the signals a
#       shell knows only by number are caught on Linux only, where they end a process.
#       KILL cannot be caught, and a signal ignored when the script started stays
#       ignored (trap cannot change that).
#
#       FUNCTION runs with the signals caught ignored, and so do the commands it starts:
#       a second signal would otherwise end the script halfway through it, as its trap's
#       exit skips the rest, or, sent to the process group (as a terminal's Ctrl-C is),
#       kill the rm that is removing a scratch folder; and the status stays the first
#       signal's.

trap_caught=
trap_function=

trap_exit() {
    trap_function=$1
    trap trap_exit_run EXIT
    case $(uname -s 2>/dev/null) in Linux) trap_linux=1 ;; *) trap_linux=0 ;; esac
    # One line "NUMBER NAME" per signal up to 127, whose status still fits in a byte; the
    # name is empty where the shell has none (bash prints no name, nor a line end, for
    # those, hence the line end before each number).
    trap_signals=$(n=1; while [ "$n" -lt 128 ]; do printf '\n%s ' "$n"; kill -l "$n" 2>/dev/null; n=$((n + 1)); done)
    while read -r trap_number trap_name; do
        trap_name=${trap_name#SIG}
        case $trap_name in
            HUP | INT | QUIT | ILL | TRAP | ABRT | BUS | EMT | FPE | SEGV | SYS | USR1 | USR2 | \
                PIPE | ALRM | TERM | STKFLT | XCPU | XFSZ | VTALRM | PROF | PWR | LOST | RTMIN* | RTMAX*) ;;
            IO | POLL | [0-9]*) [ "$trap_linux" -eq 1 ] || continue ;;
            *) continue ;;
        esac
        # shellcheck disable=SC2064  # the status is fixed now, for this signal
        trap "exit $((128 + trap_number))" "$trap_name" 2>/dev/null && trap_caught="$trap_caught $trap_name"
    done <<EOF
$trap_signals
EOF
}

# shellcheck disable=SC2317  # run by the exit trap
trap_exit_run() {
    # shellcheck disable=SC2086  # a list of signal names, split on purpose
    [ -z "$trap_caught" ] || trap '' $trap_caught
    "$trap_function"
}
