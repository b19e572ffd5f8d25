# Draws accuracy.png and speed.png from the measured data in accuracy.dat
# and speed.dat, in the folder `dir` (default docs). From the repository root:
#   gnuplot docs/plot_figures.gp        (or: make docs, which measures first)
#   gnuplot -e "dir='elsewhere'" docs/plot_figures.gp
if (!exists("dir")) dir = "docs"
# The caption names where the data were measured: the data files' header
# lines "# Octave: ", "# BLAS: " and "# CPU: ".
header(file, name) = system("sed -n 's/^# ".name.": //p' '".file."'")
machine(file) = "Octave ".header(file, "Octave").", BLAS: ".header(file, "BLAS")."\nCPU: ".header(file, "CPU")
# Whether korvane had any negative entry or non-zero self-distance.
stats dir."/accuracy.dat" using 5:6 nooutput
korvane_clean = (STATS_max_x == 0 && STATS_max_y == 0)
set terminal pngcairo size 960,460 font "Sans,10"
set grid
set key top left

set output dir."/accuracy.png"
set multiplot layout 1,2 title "Squared distances of 400 random points (D = 16) in a unit cube shifted away from the origin\n".machine(dir."/accuracy.dat") noenhanced
set logscale x
set format x "10^{%L}"
set xlabel "offset of the data from the origin"
set logscale y
set format y "10^{%L}"
set ylabel "largest error of any distance"
set title "largest error of the GEMM idiom, against korvane"
plot dir."/accuracy.dat" using 1:($2 > 0 ? $2 : NaN) with linespoints lw 2 pt 7 title "GEMM idiom  sum(a.^2)'+sum(b.^2)-2*a'*b" noenhanced
unset logscale y
set format y "%g"
set ylabel "entries out of 160,000"
set yrange [0:*]
set title "negative distances and non-zero self-distances"
set logscale y
set format y "10^{%L}"
set yrange [0.5:300000]
if (korvane_clean) {
  plot dir."/accuracy.dat" using 1:($3 > 0 ? $3 : NaN) with linespoints lw 2 pt 7 title "GEMM: negative entries", \
       "" using 1:($4 > 0 ? $4 : NaN) with linespoints lw 2 pt 5 title "GEMM: non-zero self-distances (of 400)", \
       "" using 1:(0.7) with lines lw 3 dt 2 title "korvane: none of either, at every offset"
} else {
  plot dir."/accuracy.dat" using 1:($3 > 0 ? $3 : NaN) with linespoints lw 2 pt 7 title "GEMM: negative entries", \
       "" using 1:($4 > 0 ? $4 : NaN) with linespoints lw 2 pt 5 title "GEMM: non-zero self-distances (of 400)", \
       "" using 1:($5 > 0 ? $5 : NaN) with linespoints lw 2 pt 9 title "korvane: negative entries", \
       "" using 1:($6 > 0 ? $6 : NaN) with linespoints lw 2 pt 11 title "korvane: non-zero self-distances"
}
unset multiplot

set output dir."/speed.png"
set size 1,1
set title "1000 x 1000 squared distances in Octave, one core\n".machine(dir."/speed.dat") noenhanced
set key top left
set xlabel "dimension D"
set ylabel "CPU time (ms, least of several calls)"
set logscale xy
set format x "%g"
set format y "%g"
set yrange [0.1:2000]
set xrange [1.6:640]
set xtics (2, 4, 8, 16, 32, 64, 128, 256, 512)
plot dir."/speed.dat" using 1:2 with linespoints lw 3 pt 7 title "korvane (exact)", \
     "" using 1:3 with linespoints lw 2 pt 5 title "plain loops, compiled MEX (exact)", \
     "" using 1:4 with linespoints lw 2 pt 9 title "GEMM idiom (inexact, can be negative)", \
     "" using 1:5 with linespoints lw 2 pt 13 title "broadcasting idiom (exact)"
