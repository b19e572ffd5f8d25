#!/bin/sh
# Makes the Octave package archive korvane-<version>.tar.gz in the given
# folder (default: build): DESCRIPTION, COPYING, INDEX, the help file in
# inst/, and in src/ the sources with a Makefile that builds the module with
# mkoctfile. Install in Octave with: pkg install korvane-<version>.tar.gz
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-build}
mkdir -p "$out"
out=$(cd "$out" && pwd)
version=$(sed -n 's/^Version: *//p' "$root/package/DESCRIPTION")
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
package="$staging/korvane"
mkdir -p "$package/inst" "$package/src/kernels"
cp "$root/package/DESCRIPTION" "$root/package/INDEX" "$root/package/post_install.m" \
   "$root/COPYING" "$package/"
cp "$root/gateway/korvane.m" "$package/inst/"
cp "$root/package/src/Makefile" "$root/gateway/korvane_gateway.cpp" "$root/gateway/call_checks.hpp" \
   "$package/src/"
cp "$root"/kernels/*.cpp "$root"/kernels/*.hpp "$package/src/kernels/"
tar -C "$staging" -czf "$out/korvane-$version.tar.gz" korvane
echo "$out/korvane-$version.tar.gz"
