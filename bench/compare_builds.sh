#!/bin/sh
# Whole runs of two builds of varlox side by side (for instance before and after a
# change), taking turns on the same pictures, and both against the literal per-line
# transform of the same plane (Literal/SIDE of the second build's varlox_bench).
# Medians of REPS measurements (default 5) of processor time per run (user + system;
# each measurement repeats small sides enough times to be timed to a few per cent) and
# of peak memory;
# the literal transform runs only for sides up to LITERAL_MAX (default 512; it takes
# about a minute at 1024).
#
# Usage: [LITERAL_MAX=N] bench/compare_builds.sh OLD_BUILD NEW_BUILD [REPS] [SIDE...]
set -eu
[ $# -ge 2 ] || { echo "Usage: $0 OLD_BUILD NEW_BUILD [REPS] [SIDE...]" >&2; exit 2; }
old=$1
new=$2
shift 2
reps=${1:-5}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] || set -- 256 512 1024
literal_max=${LITERAL_MAX:-512}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-6s %9s %9s %7s %9s %9s %10s %11s %11s\n' side old_cpu_s new_cpu_s old/new \
  old_MiB new_MiB literal_s literal/old literal/new
for n in "$@"; do
  "$new/examples/make_sample" "$work/s$n.bmp" "$n"
  : >"$work/old"
  : >"$work/new"
  # Runs per measurement: about a second of work, at least one.
  inner=$(awk -v n="$n" 'BEGIN { k = int(1024 * 1024 * 1024 / (n * n * n)); print (k < 1) ? 1 : (k > 50) ? 50 : k }')
  i=0
  while [ "$i" -lt "$reps" ]; do
    for b in old new; do
      eval "exe=\$$b/app/varlox"
      /usr/bin/time -f '%U %S %M' -o "$work/time" sh -c \
        'k=0; while [ "$k" -lt "$1" ]; do "$2" "$3" 2>/dev/null; k=$((k + 1)); done' \
        sh "$inner" "$exe" "$work/s$n.bmp"
      awk -v k="$inner" '{ print ($1 + $2) / k, $3 }' "$work/time" >>"$work/$b"
    done
    i=$((i + 1))
  done
  old_cpu=$(cut -d' ' -f1 "$work/old" | median)
  new_cpu=$(cut -d' ' -f1 "$work/new" | median)
  old_kb=$(cut -d' ' -f2 "$work/old" | median)
  new_kb=$(cut -d' ' -f2 "$work/new" | median)
  literal=0
  if [ "$n" -le "$literal_max" ]; then
    # CSV columns: name,iterations,real_time,cpu_time,...; times in milliseconds.
    literal=$(VARLOX_BENCH_SIDES=$n "$new/bench/varlox_bench" --benchmark_filter="^Literal/$n(/|\$)" \
      --benchmark_repetitions="$reps" --benchmark_format=csv 2>/dev/null |
      awk -F, '/^"Literal/ && $1 !~ /_(mean|median|stddev|cv)"$/ { print $4 / 1000 }' | median)
  fi
  awk -v n="$n" -v o="$old_cpu" -v w="$new_cpu" -v ok="$old_kb" -v nk="$new_kb" -v l="$literal" 'BEGIN {
    lo = (l > 0) ? sprintf("%.0f", l / o) : "-"; ln = (l > 0) ? sprintf("%.0f", l / w) : "-"
    ls = (l > 0) ? sprintf("%.2f", l) : "-"
    printf "%-6d %9.4f %9.4f %7.2f %9.1f %9.1f %10s %11s %11s\n", n, o, w, o / w, ok / 1024, nk / 1024, ls, lo, ln }'
done
