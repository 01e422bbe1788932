#!/usr/bin/env bash
# Remakes the README's figures from the tool's own outputs on the bundled sample:
# PNG copies of the input and the four spectrum pictures, and a plot of the radial
# profile. Needs ImageMagick (convert) and gnuplot:
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

gnuplot <<PLOT
set terminal pngcairo size 720,400 font ",10" noenhanced
set output "docs/sample-profile.png"
set datafile separator ","
set key top right
set xlabel "bin i (radius i/2 samples from the centre; i/2 cycles across the picture)"
set ylabel "rescaled mean (0 to 1)"
set logscale y
set format y "%g"
set yrange [1e-6:2]
set grid
plot "$work/sample.csv" using 1:(\$2 > 0 ? \$2 : NaN) with linespoints pt 7 ps 0.5 title "amplitude", \
     "$work/sample.csv" using 1:(\$3 > 0 ? \$3 : NaN) with linespoints pt 7 ps 0.5 title "power"
PLOT
echo "figures written to docs/"
