#!/bin/sh
# The cluster example against a real octave-pserver on this machine: one
# server, reached through localhost only, runs the blocks, whose parts must
# equal one local call bit for bit; a further call must run in the server's
# processes (not this one, and as the server's user). The server does not
# reuse its ports (12501, 12502), so this first waits until both are free.
# It refuses to run as root: as root, it is started as nobody (65534) from a
# folder that user can write, with copies of the modules it can read.
# Unauthenticated (--no-auth, no TLS): for a trusted network only, such as
# this machine's loopback. The server is stopped by its process id.
#   check_cluster.sh MODULE_FOLDER OCTAVE EXAMPLE
set -eu
modules=$1
octave=$2
example=$3
pserver=/usr/libexec/octave-pserver
[ -x "$pserver" ] || { echo "FAILED: $pserver not found (Debian: octave-parallel)"; exit 1; }

bound_ports() {
  ss -Htan '( sport = :12501 or sport = :12502 )' | grep -c . || true
}
tries=0
while [ "$(bound_ports)" -ne 0 ]; do
  tries=$((tries + 1))
  if [ $tries -gt 180 ]; then
    echo "FAILED: ports 12501 and 12502 still in use after 180 s:"
    ss -Htanp '( sport = :12501 or sport = :12502 )'
    exit 1
  fi
  sleep 1
done

work=$(mktemp -d)
server=
cleanup() {
  if [ -n "$server" ] && kill -0 "$server" 2> /dev/null; then
    for child in $(ps -o pid= --ppid "$server"); do kill "$child" 2> /dev/null || true; done
    kill "$server" 2> /dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/modules" "$work/home"
cp "$modules"/korvane.oct "$modules"/korvane.m "$modules"/korvane_smallest.oct \
   "$modules"/korvane_smallest.m "$work/modules/"
chmod -R a+rX "$work"
run_as=
if [ "$(id -u)" -eq 0 ]; then
  chown 65534:65534 "$work/home"
  run_as="setpriv --reuid=65534 --regid=65534 --clear-groups"
fi
(cd "$work/home" && HOME="$work/home" OCTAVE_PATH="$work/modules" \
   $run_as "$pserver" --octave-binary="$octave" --no-auth > "$work/server.log" 2>&1)

# The server puts itself in the background: its id is the listener's.
tries=0
while :; do
  server=$(ss -Hltnp 'sport = :12501' | sed -n 's/.*"octave-pserver",pid=\([0-9]*\).*/\1/p' | head -n 1)
  [ -n "$server" ] && break
  tries=$((tries + 1))
  if [ $tries -gt 300 ]; then
    echo "FAILED: the server did not start listening"
    cat "$work/server.log"
    exit 1
  fi
  sleep 0.1
done
user=$(ps -o uid= -p "$server" | tr -d ' ')
echo "octave-pserver running as pid $server, user $user"

status=0
timeout 240 "$octave" --no-gui --norc --no-history -q --eval "
  addpath('$modules');
  hosts = {'localhost'};
  connect_options = struct('use_tls', false);
  run('$example');
  failed = ~same_bits || any(pids == getpid());
  connections = pconnect(hosts, connect_options);
  where = netcellfun(connections, @(x) [getpid(); getuid()], {1, 2}, 'UniformOutput', false);
  sclose(connections);
  where = [where{:}];
  printf('a further call ran in processes %s as user %d\n', num2str(unique(where(1, :))), where(2, 1));
  failed = failed || any(where(1, :) == getpid()) || any(where(2, :) ~= $user);
  exit(failed);" || status=$?

for child in $(ps -o pid= --ppid "$server"); do kill "$child" 2> /dev/null || true; done
kill "$server"
tries=0
while kill -0 "$server" 2> /dev/null; do
  tries=$((tries + 1))
  [ $tries -gt 100 ] && { echo "FAILED: the server did not stop"; exit 1; }
  sleep 0.1
done
server=
echo "server stopped"
if [ $status -ne 0 ]; then
  echo "FAILED: the cluster run (status $status)"
  cat "$work/server.log"
  exit 1
fi
echo "cluster run equal to one call, in the server's processes"
