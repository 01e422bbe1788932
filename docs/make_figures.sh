#!/usr/bin/env bash
# Remakes the README's figures from the tools' own outputs: on the bundled sample, PNG
# copies of the input and the four spectrum pictures and plots of the radial profile by
# app/varlox-plot; on a photograph, scikit-image's camera.png (CC0, by Lav Varshney),
# varlox's linear amplitude picture beside varlox-view's log picture, the same with a
# Hann window, and the full profiles. Needs ImageMagick (convert) and gnuplot, and for
# the photograph python3-skimage:
#   sudo apt-get install -y imagemagick gnuplot-nox python3-skimage
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
# A photograph: linear against log, the leakage cross with and without a window, and
# the full profiles of both.
camera=/usr/lib/python3/dist-packages/skimage/data/camera.png
if [ -f "$camera" ]; then
  app/varlox-prepare "$camera" "$work/camera.bmp"
  app/varlox-prepare --window hann "$camera" "$work/camera-hann.bmp"
  "$build/app/varlox" "$work/camera.bmp"
  "$build/app/varlox-view" "$work/camera.bmp"
  "$build/app/varlox-view" "$work/camera-hann.bmp"
  # Half size: the pictures are 512 x 512.
  convert "$work/camera.bmp" -resize 50% docs/camera.png
  convert "$work/camera-hann.bmp" -resize 50% docs/camera-hann.png
  for picture in camera-as-bw camera-as-log camera-hann-as-log; do
    convert "$work/$picture.bmp" -resize 50% "docs/$picture.png"
  done
  app/varlox-plot "$work/camera-full.csv" "$work/camera-hann-full.csv" docs/camera-full-profiles.png
else
  echo "no $camera (python3-skimage): the photograph's figures are left as they are"
fi
echo "figures written to docs/"
