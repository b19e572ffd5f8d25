#!/bin/sh
# Runs a command with single-thread OpenBLAS (Debian's libopenblas0-serial)
# in place of the system's BLAS, for that command alone. The system default
# is left as it is: where the package is not installed, its .deb is unpacked
# into build/openblas-serial instead of installed (installing it would make
# it the default BLAS for every program).
# Usage: scripts/with-openblas.sh COMMAND [ARGUMENT...]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
openblas=/usr/lib/$multiarch/openblas-serial
if [ ! -e "$openblas/libblas.so.3" ]; then
  unpacked=$root/build/openblas-serial
  openblas=$unpacked/usr/lib/$multiarch/openblas-serial
  if [ ! -e "$openblas/libblas.so.3" ]; then
    mkdir -p "$unpacked"
    if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
    (cd "$unpacked" && { apt-get download -q libopenblas0-serial ||
                         { $sudo apt-get update -qq && apt-get download -q libopenblas0-serial; }; })
    dpkg-deb -x "$unpacked"/libopenblas0-serial_*.deb "$unpacked"
  fi
fi
LD_LIBRARY_PATH=$openblas${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
OPENBLAS_NUM_THREADS=1
export LD_LIBRARY_PATH OPENBLAS_NUM_THREADS
exec "$@"
