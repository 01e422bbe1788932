#!/usr/bin/env bash
# Whole runs of varlox on generated pictures of side 256, 512 and 1024 (or the sides
# given as arguments): wall time and peak memory of each, next to the time of the
# transform alone on the same side, so the share spent outside the transform shows.
#
# Usage: bench/run_sizes.sh [BUILD_DIR] [SIDE...]
set -euo pipefail
build=${1:-build}
shift || true
sides=("$@")
[ ${#sides[@]} -gt 0 ] || sides=(256 512 1024)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%-6s %10s %12s %14s %16s\n' side wall_s peak_MiB planes_MiB transform_s
for n in "${sides[@]}"; do
  "$build/examples/make_sample" "$work/s$n.bmp" "$n"
  /usr/bin/time -f '%e %M' -o "$work/time" "$build/app/varlox" "$work/s$n.bmp" 2>/dev/null
  read -r wall rss_kb <"$work/time"
  transform=$("$build/bench/bench_transform" "$n")
  awk -v n="$n" -v w="$wall" -v r="$rss_kb" -v t="$transform" 'BEGIN {
    printf "%-6d %10.3f %12.1f %14.1f %16.3f\n", n, w, r / 1024, 16 * n * n / 1048576, t }'
done
