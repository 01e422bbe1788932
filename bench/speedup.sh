#!/bin/sh
# The whole run against the literal per-line transform of the same plane, both measured
# in one run of varlox_bench: medians of REPS repetitions (default 5) of Whole/SIDE and
# Literal/SIDE, processor time, for side 256 and 512 or the sides given. The literal
# transform takes about 7 s at 512 and a minute at 1024 per repetition.
#
# Usage: bench/speedup.sh [BUILD_DIR] [REPS] [SIDE...]
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
reps=${1:-5}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] || set -- 256 512
sides=$(echo "$@" | tr ' ' '|')
VARLOX_BENCH_SIDES="$*" "$build/bench/varlox_bench" --benchmark_filter="^(Whole|Literal)/($sides)(/|\$)" \
  --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
  --benchmark_format=csv 2>/dev/null | awk -F, '
  # names like "Whole/512/real_time_median"; a single repetition has no aggregates
  /^"(Whole|Literal)\// && $1 !~ /_(mean|stddev|cv)"$/ {
    name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
    split(name, part, "/"); kind = part[1]; side = part[2]
    t[kind, side] = $4; sides[side] = 1   # cpu_time, milliseconds
  }
  END {
    printf "%-6s %14s %14s %9s\n", "side", "whole_ms", "literal_ms", "speed-up"
    for (s in sides) printf "%-6d %14.2f %14.1f %9.1f\n", s, t["Whole", s], t["Literal", s], t["Literal", s] / t["Whole", s]
  }' | sort -n
