#!/bin/sh
# Fails when any of the given object files or modules contains a fused
# multiply-add instruction (x86 FMA3/FMA4, AArch64 fmadd/fmla and kin) or x87
# arithmetic: results must round the product before the sum, and round every
# operation to double, every time.
# Usage: check_arithmetic_instructions.sh OBJDUMP FILE...
# A FILE argument may hold several paths separated by ';' (a CMake list).
set -eu
objdump=$1
shift
files=$(printf '%s\n' "$@" | tr ';' '\n')
count=$(printf '%s\n' "$files" | grep -c .)
status=0
newline='
'
IFS=$newline
for file in $files; do
  listing=$("$objdump" -d --no-show-raw-insn "$file")
  fused=$(echo "$listing" |
          grep -E -i '[[:space:]](v?f(n?m(add|sub)[0-9a-z]*)|fmla|fmls)[[:space:]]' || true)
  x87=$(echo "$listing" |
        grep -E -i '[[:space:]]f(i?(add|sub|subr|mul|div|divr)[lsp]?|sqrt|ld[lst]?|stp[lst]?)[[:space:]]' || true)
  # AArch64's fadd, fmul and kin are plain IEEE operations, not x87. Its
  # fused forms: scalar, vector and SVE, with any arrangement suffix
  # (fmla.2d in Apple's syntax).
  case $(echo "$listing" | sed -n 's/.*file format //p' | head -n 1) in
    *aarch64* | *arm64*)
      fused=$(echo "$listing" |
              grep -E -i '[[:space:]]fn?m(add|sub|ad|sb|la|ls)[0-9a-z]*([.][0-9a-z]+)?[[:space:]]' ||
              true)
      x87=""
      ;;
  esac
  for kind in "fused multiply-add:$fused" "x87 arithmetic:$x87"; do
    hits=${kind#*:}
    if [ -n "$hits" ]; then
      echo "${kind%%:*} in $file:"
      echo "$hits" | head -20
      status=1
    fi
  done
done
[ $status -eq 0 ] && echo "no fused multiply-add and no x87 arithmetic in $count files"
exit $status
