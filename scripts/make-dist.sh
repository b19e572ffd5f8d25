#!/bin/sh
# Makes the Octave package archive korvane-<version>.tar.gz in the given
# folder (default: build): DESCRIPTION, COPYING, INDEX, and in src/ the
# sources of korvane.oct, korvane_smallest.oct and korvane_info.oct, their
# help files and a Makefile that builds the oct-files with mkoctfile and puts
# the help files beside them (src/FILES lists what pkg copies from src/: the
# oct-files); the examples in doc/examples/. Install in Octave with:
# pkg install korvane-<version>.tar.gz
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-build}
mkdir -p "$out"
out=$(cd "$out" && pwd)
version=$(sed -n 's/^Version: *//p' "$root/package/DESCRIPTION")
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
package="$staging/korvane"
mkdir -p "$package/src/kernels"
cp "$root/package/DESCRIPTION" "$root/package/INDEX" "$root/COPYING" "$package/"
cp "$root/package/src/Makefile" "$root/package/src/FILES" "$root/gateway/korvane_oct.cpp" \
   "$root/gateway/call_checks.hpp" "$root/gateway/octave_arguments.hpp" "$root/gateway/korvane.m" \
   "$root/scripts/korvane_help_header.m" "$package/src/"
cp "$root/gateway/korvane_smallest_oct.cpp" "$root/gateway/smallest_checks.hpp" \
   "$root/gateway/korvane_smallest.m" "$package/src/"
cp "$root/gateway/korvane_info_oct.cpp" "$root/gateway/korvane_info.hpp" \
   "$root/gateway/korvane_info.m" "$package/src/"
cp "$root"/kernels/*.cpp "$root"/kernels/*.hpp "$package/src/kernels/"
# pkg install copies doc/ into the installed package's folder.
mkdir -p "$package/doc/examples"
cp "$root"/examples/*.m "$package/doc/examples/"
tar -C "$staging" -czf "$out/korvane-$version.tar.gz" korvane
echo "$out/korvane-$version.tar.gz"
