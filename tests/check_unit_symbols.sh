#!/bin/sh
# Fails when an instruction-set unit's object defines code with vague
# linkage: an inline function, a class's member or a template instance of
# namespace scope that the compiler did not inline. The linker keeps one copy
# of such a function for the whole module, and the copy it keeps may come
# from a unit built for other instructions, which the CPU in use may lack.
# Weak data (the type descriptions that UBSan's checks emit) holds no code.
# Usage: check_unit_symbols.sh NM FILE...
# A FILE argument may hold several paths separated by ';' (a CMake list).
set -eu
nm=$1
shift
files=$(printf '%s\n' "$@" | tr ';' '\n')
status=0
newline='
'
IFS=$newline
for file in $files; do
  # GNU nm's type for weak definitions other than data.
  shared=$("$nm" -C --defined-only "$file" | awk '$2 == "W"' || true)
  if [ -n "$shared" ]; then
    echo "code of vague linkage in $file:"
    echo "$shared" | head -20
    status=1
  fi
done
if [ $status -eq 0 ]; then
  echo "no code of vague linkage in $(printf '%s\n' "$files" | grep -c .) files"
fi
exit $status
