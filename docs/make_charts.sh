#!/bin/sh
# Measures accuracy and speed with the module in BUILD_FOLDER and draws the
# charts into OUTPUT_FOLDER (default docs). Run from the repository root:
#   sh docs/make_charts.sh build [docs]
set -eu
build=$1
out=${2:-docs}
octave="octave-cli --no-gui --norc --no-history -q"
export OPENBLAS_NUM_THREADS=1   # the idioms on one core, like korvane
$octave docs/measure_accuracy.m "$build" "$out/accuracy.dat"
$octave docs/measure_speed.m "$build" "$out/speed.dat"
gnuplot -e "dir='$out'" docs/plot_figures.gp
test -s "$out/accuracy.png" && test -s "$out/speed.png"
