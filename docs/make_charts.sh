#!/bin/sh
# Measures accuracy and speed with the module in BUILD_FOLDER and draws the
# charts into OUTPUT_FOLDER (default docs). Run from the repository root:
#   sh docs/make_charts.sh build [docs]
# Octave runs on single-thread OpenBLAS (scripts/with-openblas.sh), the BLAS
# of a user who wants the idioms fast, on one core like korvane; the data
# files and the charts name the BLAS and the CPU they were measured on.
set -eu
build=$1
out=${2:-docs}
root=$(cd "$(dirname "$0")/.." && pwd)
octave="sh $root/scripts/with-openblas.sh octave-cli --no-gui --norc --no-history -q"
echo "accuracy: $out/accuracy.dat"
$octave "$root/docs/measure_accuracy.m" "$build" "$out/accuracy.dat"
echo "speed: $out/speed.dat"
$octave "$root/docs/measure_speed.m" "$build" "$out/speed.dat"
gnuplot -e "dir='$out'" "$root/docs/plot_figures.gp"
test -s "$out/accuracy.png" && test -s "$out/speed.png"
