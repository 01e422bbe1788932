#!/bin/sh
# A Slurm cluster of one node on 127.0.0.1, made of files in one folder: for the test of
# the README's Slurm recipe, and for anyone who wants to rehearse a job on their own
# machine before sending it to a real cluster. munged, slurmctld and slurmd run from a
# key, sockets, a configuration, state and logs of their own, on free ports of
# 127.0.0.1; nothing outside the folder is read or changed (no /etc/slurm, no
# /etc/munge, no accounting, no cgroups).
#
# Usage (as root, which slurmd needs to start jobs):
#   sh tests/slurm_cluster.sh start DIR   starts the cluster (DIR is made if missing) and
#                                         prints the line to use it: export SLURM_CONF=...
#   sh tests/slurm_cluster.sh stop DIR    stops it; DIR and its logs stay
# Exit status 0, or 1 after a message (with the end of the daemon's log when one did not
# come up).
set -u

fail() {
    printf 'slurm_cluster: %s\n' "$1" >&2
    exit 1
}

[ $# -eq 2 ] || fail "usage: slurm_cluster.sh start|stop DIR"
action=$1
dir=$2

# stop_daemon NAME: ends the daemon whose pid file is DIR/NAME.pid, waiting up to 10 s.
stop_daemon() {
    pidfile=$dir/$1.pid
    [ -s "$pidfile" ] || return 0
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || { rm -f "$pidfile"; return 0; }
    i=0
    while kill -0 "$pid" 2>/dev/null && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    kill -9 "$pid" 2>/dev/null
    rm -f "$pidfile"
}

if [ "$action" = stop ]; then
    stop_daemon slurmd
    stop_daemon slurmctld
    stop_daemon munged
    exit 0
fi
[ "$action" = start ] || fail "usage: slurm_cluster.sh start|stop DIR"

[ "$(id -u)" -eq 0 ] || fail "slurmd starts jobs as their users, so the cluster needs root"
for tool in munged slurmctld slurmd sinfo; do
    command -v "$tool" >/dev/null 2>&1 ||
        fail "$tool is not installed (Debian: apt-get install munge slurmctld slurmd slurm-client)"
done
command -v ss >/dev/null 2>&1 || fail "ss is not installed (Debian: apt-get install iproute2)"

mkdir -p "$dir" || fail "Could not make $dir"
dir=$(cd "$dir" && pwd)
chmod 700 "$dir"
mkdir -p "$dir/state" "$dir/spool" "$dir/munge"
chmod 700 "$dir/munge"

# free_port: a port of 127.0.0.1 that nothing listens on.
free_port() {
    while :; do
        port=$(($(od -An -N2 -tu2 /dev/urandom) % 30000 + 20000))
        [ -z "$(ss -Htln "sport = :$port")" ] && [ "$port" != "${taken:-}" ] && break
    done
    taken=$port
    printf '%s' "$port"
}
ctld_port=$(free_port)
slurmd_port=$(free_port)

# munge authenticates the daemons and the commands to each other with a key of its own.
[ -s "$dir/munge/munge.key" ] || {
    dd if=/dev/urandom of="$dir/munge/munge.key" bs=1024 count=1 2>/dev/null &&
        chmod 400 "$dir/munge/munge.key"
} || fail "Could not make the munge key"
munged --force --key-file="$dir/munge/munge.key" --socket="$dir/munge/munge.socket" \
    --pid-file="$dir/munged.pid" --log-file="$dir/munged.log" --seed-file="$dir/munge/seed" ||
    fail "munged did not start: $(tail -n 3 "$dir/munged.log" 2>/dev/null)"

cpus=$(nproc)
cat >"$dir/slurm.conf" <<EOF
# A cluster of one node, varlox-node, on 127.0.0.1 (made by slurm_cluster.sh).
ClusterName=rehearsal
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$dir/munge/munge.socket
CredType=cred/munge
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MaxArraySize=1001
NodeName=varlox-node NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=rehearsal Nodes=varlox-node Default=YES MaxTime=INFINITE State=UP
EOF
SLURM_CONF=$dir/slurm.conf
export SLURM_CONF

slurmctld -c -f "$SLURM_CONF" || fail "slurmctld did not start: $(tail -n 5 "$dir/slurmctld.log" 2>/dev/null)"
slurmd -f "$SLURM_CONF" -N varlox-node || fail "slurmd did not start: $(tail -n 5 "$dir/slurmd.log" 2>/dev/null)"

# Up when the node is idle: a few seconds.
i=0
while [ "$(sinfo -h -N -o %t 2>/dev/null)" != idle ]; do
    i=$((i + 1))
    if [ "$i" -gt 300 ]; then
        fail "the node did not come up within 30 s: $(tail -n 5 "$dir/slurmd.log" "$dir/slurmctld.log" 2>/dev/null)"
    fi
    sleep 0.1
done
printf 'export SLURM_CONF=%s\n' "$SLURM_CONF"
