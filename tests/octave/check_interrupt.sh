#!/bin/sh
# Ctrl-C during a long pairwise call: an interactive Octave session, fed
# through a pipe, starts a call of seconds and gets SIGINT 0.3 s in. The
# call must stop without a result, and the same session must then run a
# small call correctly. How soon it stopped is printed, not judged. CALL
# is the long call on a and b (default: korvane(a, b)).
#   check_interrupt.sh MODULE_FOLDER OCTAVE WORK_FOLDER [CALL]
set -eu
module=$1
octave=$2
work=$3
long_call=${4:-"korvane(a, b)"}
rm -rf "$work"
mkdir -p "$work"
pipe="$work/commands"
out="$work/session.log"
mkfifo "$pipe"

"$octave" --no-gui --norc --no-history -q --interactive < "$pipe" > "$out" 2>&1 &
pid=$!
exec 3> "$pipe"
# 3.2 * 10^10 entry-coordinate steps, seconds on any machine, in blocks of
# 256 columns of b for korvane (a few tens of milliseconds each).
printf '%s\n' "addpath('$module'); a = zeros(2000, 1000); b = zeros(2000, 16000); disp('call started'); fflush(stdout); C = $long_call; disp('call finished');" >&3
tries=0
while ! grep -q 'call started' "$out"; do
  tries=$((tries + 1))
  if [ $tries -gt 600 ] || ! kill -0 $pid 2> /dev/null; then
    echo "FAILED: the session did not start the call"
    cat "$out"
    exit 1
  fi
  sleep 0.1
done
sleep 0.3
sent=$(date +%s.%N)
kill -INT $pid
printf '%s\n' "printf('stopped %.3f s after the signal\n', time() - $sent); fflush(stdout);" >&3
printf '%s\n' "if exist('C'), disp('result assigned'), end" >&3
printf '%s\n' "if isequal(korvane([0 3; 0 4], [1; 1]), [2; 13]), disp('session usable'), end" >&3
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
