#!/bin/sh
# Before and after: builds the kernels library of revision REV and that of
# this working tree (uncommitted changes included) the same way, links
# bench/kernel_timing.cpp against each, runs the two drivers alternately in
# five rounds (five more for a shape that looks more than 5% slower) and
# prints a markdown table of the best time of each per shape, after / before,
# and their geometric mean over all shapes.
#
#   bench/compare_kernels.sh REV [BUILD_DIR]
#
# BUILD_DIR (default: a temporary folder, removed at the end) holds REV's
# sources and both builds; given, it is kept and reused. TIMING_PREFIX, if
# set, is put before every timed run, e.g. to hold a lock and pin a core:
#   TIMING_PREFIX="flock /tmp/bench.lock taskset -c 1" bench/compare_kernels.sh 2547a23
# CMAKE_FLAGS adds configure options to both builds; CXX picks the compiler.
# Exit status: 1 when the two give different bits at any shape, 2 when the
# geometric mean is more than 3% slower or a shape more than 5% slower.
set -eu
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 REV [BUILD_DIR]" >&2
  exit 64
fi
rev=$1
root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse --verify "$rev^{commit}")
work=${2:-$(mktemp -d)}
[ $# -eq 2 ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
work=$(cd "$work" && pwd)
cxx=${CXX:-c++}

# Only the kernels library, in Release, with each tree's own compiler flags;
# at low priority, so as to disturb other timings on the machine less.
build_kernels() {  # source-dir build-dir
  # shellcheck disable=SC2086 # CMAKE_FLAGS is a list of options
  if ! cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
    -DKORVANE_BUILD_TESTS=OFF -DKORVANE_BUILD_BENCH=OFF -DKORVANE_BUILD_OCTAVE=OFF \
    -DKORVANE_BUILD_MATLAB=OFF ${CMAKE_FLAGS:-} >"$2.log" 2>&1 ||
    ! nice -n 19 cmake --build "$2" -j2 --target korvane_kernels >>"$2.log" 2>&1; then
    echo "$0: building the kernels in $1 failed; see $2.log" >&2
    exit 1
  fi
  lib=$(find "$2" -name 'libkorvane_kernels.a' -o -name 'korvane_kernels.lib' | head -n 1)
  nice -n 19 "$cxx" -std=c++17 -O2 -ffp-contract=off -I"$1/kernels" "$root/bench/kernel_timing.cpp" \
    "$lib" -o "$2/kernel_timing"
}

rm -rf "$work/before-src"
mkdir -p "$work/before-src"
git -C "$root" archive "$commit" | tar -x -C "$work/before-src"
echo "Building the kernels of $rev ($commit) and of $root" >&2
build_kernels "$work/before-src" "$work/before"
build_kernels "$root" "$work/after"

: >"$work/times"
rounds() {  # shapes to run (all when none), as kind/D/n_a/n_b
  for round in 1 2 3 4 5; do
    echo "Round $round of 5${1:+, again for $*}" >&2
    order="before after"  # each side first in every other round
    [ $((round % 2)) -eq 1 ] || order="after before"
    for side in $order; do
      # shellcheck disable=SC2086 # TIMING_PREFIX is a command and its arguments
      ${TIMING_PREFIX:-} "$work/$side/kernel_timing" "$@" >"$work/round"
      sed "s/^/$side /" "$work/round" >>"$work/times"
    done
  done
}

# Lines "side kind D n_a n_b seconds checksum" in, the table out; with list=1
# only the shapes more than 5% slower, as the driver's arguments.
# shellcheck disable=SC2016 # the fields are awk's
table='
  { key = $2 " (" $3 "," $4 "," $5 ")"; name[key] = $2 "/" $3 "/" $4 "/" $5
    if (!(key in seen)) { seen[key] = 1; order[++n] = key }
    if (!((key, $1) in best) || $6 < best[key, $1]) best[key, $1] = $6
    if ((key in sum) && sum[key] != $7) differ[key] = 1
    sum[key] = $7; runs[key]++ }
  END {
    if (!list) {
      print "| shape (D, n_a, n_b) | before (ms) | after (ms) | after/before | |"
      print "|---|---:|---:|---:|---|"
    }
    status = 0; log_sum = 0
    for (s = 1; s <= n; ++s) {
      key = order[s]; r = best[key, "after"] / best[key, "before"]; log_sum += log(r); note = ""
      if (list) { if (r > 1.05) print name[key]; continue }
      if (runs[key] > 10) note = "best of " runs[key] / 2 " rounds"
      if (r > 1.05) { note = note (note ? "; " : "") "more than 5% slower"; if (!status) status = 2 }
      if (key in differ) { note = "DIFFERENT BITS"; status = 1 }
      printf "| %s | %.4f | %.4f | %.3f | %s |\n", key, 1e3 * best[key, "before"],
             1e3 * best[key, "after"], r, note
    }
    if (list) exit 0
    g = exp(log_sum / n)
    printf "| geometric mean | | | %.3f | %s |\n", g, (g > 1.03 ? "more than 3% slower" : "")
    if (g > 1.03 && !status) status = 2
    exit status
  }'

# A shape that looks slower is timed in five more rounds before it counts.
rounds
slower=$(awk -v list=1 "$table" "$work/times")
# shellcheck disable=SC2086 # one argument per shape
[ -z "$slower" ] || rounds $slower

cpu=$(LC_ALL=C lscpu 2>/dev/null |
  awk -F: '/^Model name/ {gsub(/^ +/, "", $2); m = $2}
           /^CPU family/ {gsub(/ /, "", $2); f = $2}
           /^Model:/ {gsub(/ /, "", $2); n = $2}
           END {if (m != "") printf "%s, CPU family %s, model %s", m, f, n}')
echo "Before: $rev ($commit); after: the working tree of $root. CPU: ${cpu:-unknown}."
echo "Best of 5 interleaved rounds (10 where a shape looked slower), CPU time per call."
echo
awk "$table" "$work/times"
