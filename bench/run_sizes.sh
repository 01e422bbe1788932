#!/bin/sh
# Whole runs of varlox on generated pictures of side 256, 512 and 1024 (or the sides
# given as arguments): wall time and peak memory of each, next to the time of the
# centred spectrum alone on the same side (Stage/spectrum of varlox_bench, processor
# time), so the share spent outside the transform shows.
#
# Usage: bench/run_sizes.sh [BUILD_DIR] [SIDE...]
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] || set -- 256 512 1024
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

printf '%-6s %10s %12s %14s %16s\n' side wall_s peak_MiB planes_MiB spectrum_s
for n in "$@"; do
  "$build/examples/make_sample" "$work/s$n.bmp" "$n"
  /usr/bin/time -f '%e %M' -o "$work/time" "$build/app/varlox" "$work/s$n.bmp" 2>/dev/null
  read -r wall rss_kb <"$work/time"
  # CSV columns: name,iterations,real_time,cpu_time,time_unit,...
  spectrum=$(VARLOX_BENCH_SIDES=$n "$build/bench/varlox_bench" --benchmark_filter="^Stage/spectrum/$n\$" \
    --benchmark_format=csv 2>/dev/null | awk -F, '/^"Stage/ { print $4 / 1000 }')
  awk -v n="$n" -v w="$wall" -v r="$rss_kb" -v t="$spectrum" 'BEGIN {
    printf "%-6d %10.3f %12.1f %14.1f %16.4f\n", n, w, r / 1024, 16 * n * n / 1048576, t }'
done
