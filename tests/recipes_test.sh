#!/bin/sh
# Runs a batch recipe exactly as the README shows it (the text between
# "<!-- recipe: NAME" and "<!-- end of recipe -->"), twice, on a folder of pictures with
# upper- and lower-case extensions, a space in a name, a leading dash, a subfolder, a
# file that is not a picture and a file that is not a .bmp. Both runs must process the
# same pictures, leave out the outputs of the first (and of a varlox-view run between
# them), write every picture's outputs and log, and name and count the one failure.
#
#   folder    the xargs recipe, on this machine, with varlox-view's summaries gathered
#             into one table (and refused, in a third run, when their headers differ)
#   ssh       the GNU parallel recipe over ssh: the test starts an sshd of its own on a
#             free port of 127.0.0.1 and reaches it under two host names, so that every
#             picture is really copied to a "host", processed there and its outputs
#             copied back; the remote work directories must be gone afterwards. Both
#             sides have homes of their own in the test's folder, so that GNU parallel's
#             caches and work directories never touch the real ~/.parallel
#   slurm     the Slurm job array, on a one-node cluster the test starts (munged,
#             slurmctld, slurmd from tests/slurm_cluster.sh), then the failure listing
#             once the array has ended
# Whatever the test starts, it stops however it ends. The ssh and slurm tests need root
# (sshd's privilege separation, slurmd's jobs).
#
# Usage: recipes_test.sh VARLOX SOURCE_DIR folder|ssh|slurm
# Exit status 77 (skipped) when what a recipe needs is missing.
set -u
varlox=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
view=$(dirname "$varlox")/varlox-view
src=$(cd "$2" && pwd)
recipe=$3

skip() {
    echo "$1: skipped"
    exit 77
}
need() {  # need TOOL WHAT: skip when TOOL is not on the PATH
    command -v "$1" >/dev/null 2>&1 || skip "$2 is not installed"
}
case $recipe in
    ssh)
        parallel --version 2>/dev/null | grep -q 'GNU parallel' || skip "GNU parallel is not installed"
        need rsync "rsync (GNU parallel copies with it)"
        need ssh-keygen "the OpenSSH client (openssh-client)"
        [ -x /usr/sbin/sshd ] || skip "the OpenSSH server (openssh-server) is not installed"
        [ "$(id -u)" -eq 0 ] || skip "sshd needs root for its privilege separation" ;;
    slurm)
        for tool in munged slurmctld slurmd sbatch squeue; do
            need "$tool" "Slurm (munge, slurmctld, slurmd, slurm-client)"
        done
        [ "$(id -u)" -eq 0 ] || skip "slurmd needs root to start jobs" ;;
esac

work=$(mktemp -d) || exit 1
sshd_pid=
made_privsep=
cleanup() {
    if [ -n "$sshd_pid" ]; then
        # The shared connections would otherwise linger for their ControlPersist time.
        for host in host-a host-b; do ssh -F "$work/ssh/config" -O exit "$host" 2>/dev/null; done
        kill "$sshd_pid" 2>/dev/null
    fi
    [ "$recipe" = slurm ] && sh "$src/tests/slurm_cluster.sh" stop "$work/cluster"
    [ -n "$made_privsep" ] && rmdir /run/sshd 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
cd "$work" || exit 1
nl='
'
failed=0
fail() {
    echo "FAIL: $1"
    failed=$((failed + 1))
}

# A recipe's text: the indented lines between its markers, indentation removed.
extract() {  # extract NAME FILE
    sed -n "/^<!-- recipe: $1 /,/^<!-- end of recipe -->/p" "$src/README.md" | sed -n 's/^    //p' >"$2"
    [ -s "$2" ] || { echo "FAIL: no recipe '$1' in README.md"; exit 1; }
    echo "--- the recipe '$1', as in README.md:"
    cat "$2"
}
if [ "$recipe" = ssh ]; then extract parallel recipe.sh; else extract "$recipe" recipe.sh; fi
[ "$recipe" = slurm ] && extract slurm-failures failures.sh

# The installed program is called by name, so put it first on the PATH. The recipe runs
# with a home and a temporary folder of its own, so that what its tools keep there (GNU
# parallel its cache in ~/.parallel) stays in the test's folder.
mkdir bin home tmp
ln -s "$varlox" bin/varlox
ln -s "$view" bin/varlox-view
PATH=$work/bin:$PATH
HOME=$work/home
TMPDIR=$work/tmp
export PATH HOME TMPDIR

mkdir -p scans/sub
for name in a.bmp B.BMP "sub/with space.Bmp" sub/-dash.bmp; do
    cp "$src/examples/sample.bmp" "scans/$name"
done
echo "not a picture" >scans/broken.bmp
cp "$src/examples/sample.bmp" scans/notes.txt
# Every .bmp above, whatever its case; the failure is broken.bmp.
printf '%s\n' scans/B.BMP scans/a.bmp scans/broken.bmp "scans/sub/-dash.bmp" "scans/sub/with space.Bmp" >want.txt

if [ "$recipe" = ssh ]; then
    # An sshd of the test's own: host key, authorized key, configuration and pid file in
    # $work/ssh, a free port of 127.0.0.1, varlox first on the PATH of its sessions, which
    # start in a home of their own, $work/remote (HOME, and the folder the command runs
    # in, as a login would). The client reaches it as host-a and host-b, with a job limit
    # of one each, through an ssh configuration that GNU parallel is told to use
    # (PARALLEL_SSH).
    mkdir -m 700 ssh remote
    cat >ssh/session <<'EOF'
#!/bin/sh
# The login of the test's sshd: the command the client sent, run by the user's shell
# from the session's home.
cd "$HOME" || exit 1
if [ -n "${SSH_ORIGINAL_COMMAND:-}" ]; then exec "$SHELL" -c "$SSH_ORIGINAL_COMMAND"; fi
exec "$SHELL" -l
EOF
    chmod 755 ssh/session
    ssh-keygen -q -t ed25519 -N '' -f ssh/host_key && ssh-keygen -q -t ed25519 -N '' -f ssh/id || exit 1
    cp ssh/id.pub ssh/authorized_keys
    while :; do
        port=$(($(od -An -N2 -tu2 /dev/urandom) % 30000 + 20000))
        [ -z "$(ss -Htln "sport = :$port" 2>/dev/null)" ] && break
    done
    cat >ssh/sshd_config <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $work/ssh/host_key
AuthorizedKeysFile $work/ssh/authorized_keys
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin yes
StrictModes no
UsePAM no
PidFile $work/ssh/sshd.pid
SetEnv PATH=$work/bin:/usr/local/bin:/usr/bin:/bin HOME=$work/remote
ForceCommand '$work/ssh/session'
EOF
    cat >ssh/config <<EOF
Host host-a host-b
    HostName 127.0.0.1
    Port $port
    User $(id -un)
    IdentityFile $work/ssh/id
    IdentitiesOnly yes
    StrictHostKeyChecking no
    UserKnownHostsFile $work/ssh/known_hosts
    BatchMode yes
    LogLevel ERROR
    ControlMaster auto
    ControlPath $work/ssh/master-%C
    ControlPersist 60
EOF
    # sshd's privilege separation needs its directory, which only a running system
    # service would have made; it is removed again at the end if made here.
    [ -d /run/sshd ] || { mkdir -m 755 /run/sshd && made_privsep=1; }
    /usr/sbin/sshd -D -f "$work/ssh/sshd_config" -E "$work/ssh/sshd.log" &
    sshd_pid=$!
    i=0
    until ssh -F "$work/ssh/config" host-a true 2>/dev/null; do
        i=$((i + 1))
        [ "$i" -lt 100 ] || { echo "FAIL: sshd did not come up: $(tail -n 3 ssh/sshd.log)"; exit 1; }
        sleep 0.1
    done
    where=$(ssh -F "$work/ssh/config" host-a 'pwd; echo ~')
    [ "$where" = "$work/remote$nl$work/remote" ] || fail "a session starts in $(printf '%s' "$where" | tr '\n' ' '), not in $work/remote"
    PARALLEL_SSH="ssh -F $work/ssh/config"
    export PARALLEL_SSH
    printf '1/host-a\n1/host-b\n' >hosts.txt
fi
if [ "$recipe" = slurm ]; then
    conf=$(sh "$src/tests/slurm_cluster.sh" start "$work/cluster") || { echo "FAIL: no cluster: $conf"; exit 1; }
    eval "$conf"
fi

# The pictures a run processed, one per line, sorted.
processed() {
    if [ "$recipe" = slurm ]; then
        for log in varlox-*.log; do head -n 1 "$log"; done
    else
        sed 's/^ok //; s/^FAILED //' varlox-run.txt
    fi | LC_ALL=C sort
}

for run in 1 2; do
    # Between the runs, varlox-view's outputs join the folder: its picture must not be
    # taken for an input either.
    if [ "$run" = 2 ]; then
        "$view" scans/a.bmp 2>/dev/null || fail "varlox-view on scans/a.bmp"
        [ -s scans/a-as-log.bmp ] || fail "varlox-view wrote no scans/a-as-log.bmp"
    fi
    start=$(date +%s)
    sh recipe.sh >summary.txt 2>recipe-err.txt
    if [ "$recipe" = slurm ]; then
        # The array has ended when none of its tasks is queued or running.
        job=$(sed -n 's/^Submitted batch job \([0-9][0-9]*\)$/\1/p' summary.txt)
        [ -n "$job" ] || fail "run $run: sbatch said: $(cat summary.txt recipe-err.txt)"
        i=0
        while [ -n "$job" ] && [ -n "$(squeue -h -j "$job" 2>/dev/null)" ]; do
            i=$((i + 1))
            [ "$i" -lt 600 ] || { fail "run $run: the array did not end within 60 s"; break; }
            sleep 0.1
        done
        sh failures.sh >summary.txt 2>>recipe-err.txt
    fi
    echo "--- run $run printed (in $(($(date +%s) - start)) s):"
    cat summary.txt recipe-err.txt
    processed >processed-$run.txt
    diff want.txt processed-$run.txt >/dev/null ||
        fail "run $run processed: $(tr '\n' ' ' <processed-$run.txt), want: $(tr '\n' ' ' <want.txt)"
    tail -n 1 summary.txt | grep -Eq '^1 of 5 pictures failed$' ||
        fail "run $run: last line '$(tail -n 1 summary.txt)' does not count one failure of five"
    grep -q '^FAILED scans/broken.bmp$' summary.txt || fail "run $run: the failure is not named by its picture"
    while read -r picture; do
        [ "$picture" = scans/broken.bmp ] && continue
        base=${picture%.*}
        for out in "$base-as-bw.bmp" "$base-as-tg.bmp" "$base-ps-bw.bmp" "$base-ps-tg.bmp" "$base.csv"; do
            [ -s "$out" ] || fail "run $run: no $out"
        done
        if [ "$recipe" = slurm ]; then
            log=$(grep -lxF -- "$picture" varlox-*.log | head -n 1)
            [ -n "$log" ] && grep -q 'completed successfully' "$log" || fail "run $run: no log of $picture says success"
        else
            grep -q 'completed successfully' "$picture.log" || fail "run $run: $picture.log does not say success"
        fi
        rm -f "$base.csv"
    done <want.txt
    if [ "$recipe" = slurm ]; then
        grep -lxF scans/broken.bmp varlox-*.log | xargs grep -l 'is not a bitmap image' >/dev/null ||
            fail "run $run: the broken picture's log lacks the reason"
    else
        grep -q 'is not a bitmap image' scans/broken.bmp.log || fail "run $run: broken.bmp.log lacks the reason"
    fi
    [ -e scans/notes.csv ] && fail "run $run: a file not ending in .bmp was processed"
    # The folder recipe gathers the summaries of the pictures it measured into one table:
    # the header of varlox-view's summaries once, then one row per picture, named as
    # the recipe gave it.
    if [ "$recipe" = folder ]; then
        [ "$(head -n 1 summary.csv 2>/dev/null)" = "$(head -n 1 scans/a-summary.csv)" ] ||
            fail "run $run: summary.csv does not start with the summaries' header"
        tail -n +2 summary.csv | cut -d, -f1 | LC_ALL=C sort >gathered.txt
        grep -vxF scans/broken.bmp want.txt | diff - gathered.txt >/dev/null ||
            fail "run $run: summary.csv has rows of $(tr '\n' ' ' <gathered.txt)"
        awk -F, 'NR == 1 { n = NF } NF != n { exit 1 }' summary.csv || fail "run $run: summary.csv has rows of other lengths"
    fi
done

# Summaries whose headers differ are not gathered: the recipe names the one that differs
# and leaves no table.
if [ "$recipe" = folder ]; then
    rm bin/varlox-view
    cat >bin/varlox-view <<EOF
#!/bin/sh
"$view" "\$@" || exit
case \$* in *"with space.Bmp") sed -i '1s/,rms,/,rms_z,/' "scans/sub/with space-summary.csv" ;; esac
EOF
    chmod +x bin/varlox-view
    sh recipe.sh >summary.txt 2>recipe-err.txt
    grep -qxF "scans/sub/with space-summary.csv: its header differs from the others'" recipe-err.txt ||
        fail "different headers: the recipe said $(cat recipe-err.txt)"
    [ ! -e summary.csv ] && [ ! -e summary.tmp ] || fail "different headers: a table was left"
fi

if [ "$recipe" = ssh ]; then
    # The jobs' work directories, in ~/.parallel/tmp of the host, are removed with the
    # folders above them once empty: nothing is left in the remote home.
    left=$(cd remote && find . -mindepth 1)
    [ -z "$left" ] || fail "left in the remote home: $(printf '%s\n' "$left" | tr '\n' ' ')"
    for host in host-a host-b; do
        cut -f2 varlox-jobs.txt | grep -qx "$host" || fail "no job ran on $host"
    done
fi

[ $failed -eq 0 ] || { echo "$failed check(s) failed"; exit 1; }
echo "the $recipe recipe processed the same 5 pictures twice"
