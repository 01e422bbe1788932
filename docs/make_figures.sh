#!/usr/bin/env bash
# Remakes the README's figures from the tool's own outputs on the bundled sample:
# PNG copies of the input and the four spectrum pictures, and plots of the radial
# profile by app/varlox-plot. Needs ImageMagick (convert) and gnuplot:
#   sudo apt-get install -y imagemagick gnuplot-nox
#
# Usage: docs/make_figures.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp examples/sample.bmp "$work/sample.bmp"
"$build/app/varlox" "$work/sample.bmp"
convert "$work/sample.bmp" docs/sample.png
for kind in as-bw as-tg ps-bw ps-tg; do
  convert "$work/sample-$kind.bmp" "docs/sample-$kind.png"
  # The centre 64 x 64 samples, enlarged 4 times without smoothing, where the peaks are.
  convert "$work/sample-$kind.bmp" -crop 64x64+96+96 +repage -filter point -resize 256x256 \
    "docs/sample-$kind-centre.png"
done

# The radial profile, and beside it the same texture made at half the side.
app/varlox-plot "$work/sample.csv" docs/sample-profile.png
"$build/examples/make_sample" "$work/small.bmp" 128
"$build/app/varlox" "$work/small.bmp"
app/varlox-plot "$work/sample.csv" "$work/small.csv" docs/sample-compare.png
echo "figures written to docs/"
