#!/bin/sh
# Fails when any of the given object files or modules contains a fused
# multiply-add instruction (x86 FMA3/FMA4, AArch64 fmadd/fmla and kin) or x87
# arithmetic: results must round the product before the sum, and round every
# operation to double, every time.
#
# With --exact-add-fma REGISTERS, the files may hold one kind of fused
# instruction: the packed-double vfmadd that the pairwise tiles issue as an
# exact add (a multiplier of 1.0), on the registers named (zmm for the AVX-512
# object, ymm for the AVX2 + FMA3 one, 'ymm|zmm' for modules linking both).
# Any other fused form (scalar, xmm, other registers, subtracting or negated)
# still fails. That the multiplier is 1.0 is for the kernel tests to show.
# Usage: check_arithmetic_instructions.sh OBJDUMP [--exact-add-fma REGISTERS] FILE...
# A FILE argument may hold several paths separated by ';' (a CMake list).
set -eu
objdump=$1
shift
exact_add_fma=no
if [ "${1:-}" = --exact-add-fma ]; then
  exact_add_fma=yes
  registers=$2
  shift 2
fi
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
  if [ $exact_add_fma = yes ] && [ -n "$fused" ]; then
    # Operands: the registers named, or a memory operand (possibly a {1toN}
    # broadcast) for one;
    # GNU objdump writes no space after the commas, llvm-objdump one.
    fused=$(echo "$fused" |
            grep -E -v -i '[[:space:]]vfmadd(132|213|231)pd[[:space:]]+(-?(0x)?[0-9a-f]*\(%[a-z0-9]+(,[[:space:]]*%[a-z0-9]+)?(,[[:space:]]*[1248])?\)(\{1to[48]\})?|%('"$registers"')[0-9]+),[[:space:]]*%('"$registers"')[0-9]+,[[:space:]]*%('"$registers"')[0-9]+([[:space:]]+#.*)?$' ||
            true)
  fi
  # Mnemonics right after the address, so that a jump target such as fadd
  # (a hex address) is not taken for one.
  x87=$(echo "$listing" |
        grep -E -i '^[[:space:]]*[0-9a-f]+:[[:space:]]+f(i?(add|sub|subr|mul|div|divr)[lsp]?|sqrt|ld[lst]?|stp[lst]?)[[:space:]]' || true)
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
if [ $status -eq 0 ]; then
  if [ $exact_add_fma = yes ]; then
    echo "no fused multiply-add but the $registers exact add, and no x87 arithmetic, in $count files"
  else
    echo "no fused multiply-add and no x87 arithmetic in $count files"
  fi
fi
exit $status
