#!/bin/sh
# korvane_info's instruction set, in Octave through the given module folder,
# must be the one kernel_tests finds active on this CPU.
#   check_info_instruction_set.sh KERNEL_TESTS OCTAVE MODULE_FOLDER
set -eu
kernels=$("$1" --gtest_filter='Dispatch.PublicEntryPointsMatchTheOracle' |
          sed -n 's/^active instruction set: //p')
octave=$("$2" --no-gui --norc --no-history -q \
         --eval "addpath('$3'); s = korvane_info(); printf('%s\n', s.instruction_set)")
echo "kernel_tests: '$kernels', korvane_info in $3: '$octave'"
[ -n "$kernels" ] && [ "$kernels" = "$octave" ]
