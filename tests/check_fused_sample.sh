#!/bin/sh
# The arithmetic check must fail on OBJECT and report each MNEMONIC in it.
# Usage: check_fused_sample.sh CHECK OBJDUMP OBJECT MNEMONIC...
set -u
check=$1
objdump=$2
object=$3
shift 3
if report=$(sh "$check" "$objdump" "$object"); then
  echo "$report"
  echo "the check passed an object with fused multiply-adds"
  exit 1
fi
echo "$report"
for mnemonic in "$@"; do
  if ! echo "$report" | grep -E -q "[[:space:]]$mnemonic[[:space:]]"; then
    echo "not reported: $mnemonic"
    exit 1
  fi
done
