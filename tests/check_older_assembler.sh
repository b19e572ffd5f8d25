#!/bin/sh
# The CMake route with an assembler from before binutils 2.38: a stand-in
# compiler (the real one, failing wherever -Wa,-muse-unaligned-vector-move is
# passed, as such an assembler does) configures the project. The configure
# must say so in one line and leave the AVX2 and AVX-512 units out.
#   check_older_assembler.sh CMAKE SOURCE_ROOT TOOLCHAIN_FILE COMPILER WORK_FOLDER
set -eu
cmake=$1
root=$2
toolchain=$3
compiler=$4
work=$5
rm -rf "$work"
mkdir -p "$work"
cat > "$work/older-assembler-g++" << EOF
#!/bin/sh
for arg in "\$@"; do
  if [ "\$arg" = -Wa,-muse-unaligned-vector-move ]; then
    echo "as: unrecognized option '-muse-unaligned-vector-move'" >&2
    exit 1
  fi
done
exec "$compiler" "\$@"
EOF
chmod +x "$work/older-assembler-g++"
cat > "$work/toolchain.cmake" << EOF
include("$toolchain")
set(CMAKE_CXX_COMPILER "$work/older-assembler-g++")
EOF
"$cmake" -S "$root" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
      -DKORVANE_BUILD_TESTS=OFF -DKORVANE_BUILD_BENCH=OFF -DKORVANE_BUILD_OCTAVE=OFF \
      -DKORVANE_BUILD_MATLAB=OFF > "$work/configure.log" 2>&1 || {
  cat "$work/configure.log"
  echo "FAILED: the configure failed"
  exit 1
}
said=$(grep -c 'does not accept -Wa,-muse-unaligned-vector-move (binutils before 2.38).*portable kernels only' \
       "$work/configure.log" || true)
units=$(grep -l 'avx2_kernels\|avx512_weighted' \
        "$work/build/kernels/CMakeFiles/korvane_kernels.dir/build.make" || true)
status=0
[ "$said" -eq 1 ] || { echo "FAILED: the configure said so in $said lines, not one"; status=1; }
[ -z "$units" ] || { echo "FAILED: the AVX units are still built"; status=1; }
[ -f "$work/build/kernels/CMakeFiles/korvane_kernels.dir/build.make" ] ||
  { echo "FAILED: no kernels to build"; status=1; }
grep 'korvane: the assembler' "$work/configure.log"
[ $status -eq 0 ] && echo "portable kernels only, said once"
exit $status
