#!/bin/sh
# Ctrl-C during a long pairwise call, a long weighted one and a long
# korvane_smallest: an interactive Octave session, fed through a pipe,
# starts each call of seconds and gets SIGINT 0.3 s in. Each call must stop without a result,
# and the same session must then run small calls correctly. How soon each
# stopped is printed, not judged.
#   check_interrupt.sh MODULE_FOLDER OCTAVE WORK_FOLDER
set -eu
module=$1
octave=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
pipe="$work/commands"
out="$work/session.log"
mkfifo "$pipe"

"$octave" --no-gui --norc --no-history -q --interactive < "$pipe" > "$out" 2>&1 &
pid=$!
exec 3> "$pipe"
# Pairwise: 3.2 * 10^10 entry-coordinate steps, seconds on any machine, in
# blocks of 256 columns of b (a few tens of milliseconds each). Weighted:
# 1.6 * 10^10 pair-coordinate steps, in blocks of a's points (about 10 ms).
# korvane_smallest: the pairwise call's steps, between its blocks.
printf '%s\n' "addpath('$module'); a = zeros(2000, 1000); b = zeros(2000, 16000);" >&3
printf '%s\n' "a2 = zeros(2000); b2 = zeros(2000, 4000); Q = zeros(2000, 4000);" >&3
for call in "C = korvane(a, b);" "c = korvane(a2, b2, Q);" "d = korvane_smallest(a, b, 5);"; do
  name=${call%% =*}
  printf '%s\n' "disp('call of $name started'); fflush(stdout); $call disp('call finished');" >&3
  tries=0
  while ! grep -q "call of $name started" "$out"; do
    tries=$((tries + 1))
    if [ $tries -gt 600 ] || ! kill -0 $pid 2> /dev/null; then
      echo "FAILED: the session did not start the call of $name"
      cat "$out"
      exit 1
    fi
    sleep 0.1
  done
  sleep 0.3
  sent=$(date +%s.%N)
  kill -INT $pid
  printf '%s\n' "printf('$name: stopped %.3f s after the signal\n', time() - $sent); fflush(stdout);" >&3
  printf '%s\n' "if exist('$name'), disp('result assigned'), end" >&3
done
printf '%s\n' "if isequal(korvane([0 3; 0 4], [1; 1]), [2; 13]) && isequal(korvane([0 3; 0 4], [1; 1], [2; 1]), [6; 11]), disp('session usable'), end" >&3
printf '%s\n' "exit(0)" >&3
exec 3>&-
status=0
wait $pid || status=$?

cat "$out"
if [ $status -ne 0 ] || grep -q 'call finished\|result assigned' "$out" || ! grep -q 'session usable' "$out"; then
  echo "FAILED: the call was not interrupted, or the session did not recover (status $status)"
  exit 1
fi
echo "interrupted, and the session went on"
