#!/bin/sh
# Fails when any of the given object files or modules contains a fused
# multiply-add instruction (x86 FMA3/FMA4, AArch64 fmadd/fmla and kin): the
# results must round the product before the sum, every time.
set -eu
status=0
for file in "$@"; do
  hits=$(objdump -d --no-show-raw-insn "$file" |
         grep -E -i '[[:space:]](v?f(n?m(add|sub)[0-9a-z]*)|fmla|fmls)[[:space:]]' || true)
  if [ -n "$hits" ]; then
    echo "fused multiply-add in $file:"
    echo "$hits" | head -20
    status=1
  fi
done
[ $status -eq 0 ] && echo "no fused multiply-add in $# files"
exit $status
