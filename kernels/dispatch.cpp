// The public kernels: each call runs the best variant available.
#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"

namespace korvane {

void pairwise_squared_distances(InstructionSet isa, MatrixView a, MatrixView b, MatrixView C) {
  switch (isa) {
#if defined(KORVANE_HAVE_NEON)
    case InstructionSet::neon:
      variants::pairwise_neon(a, b, C);
      return;
#endif
#if defined(KORVANE_HAVE_AVX512)
    case InstructionSet::avx512:
      variants::pairwise_avx512(a, b, C);
      return;
#endif
#if defined(KORVANE_HAVE_AVX2_FMA)
    case InstructionSet::avx2_fma:
      variants::pairwise_avx2_fma(a, b, C);
      return;
#endif
#if defined(KORVANE_HAVE_AVX2)
    case InstructionSet::avx2:
      variants::pairwise_avx2(a, b, C);
      return;
#endif
    default:
      variants::pairwise_scalar(a, b, C);
      return;
  }
}

void weighted_coordinate_sums(InstructionSet isa, MatrixView a, MatrixView b, MatrixView Q,
                              MatrixView c) {
  switch (isa) {
#if defined(KORVANE_HAVE_NEON)
    case InstructionSet::neon:
      variants::weighted_neon(a, b, Q, c);
      return;
#endif
#if defined(KORVANE_HAVE_AVX512)
    case InstructionSet::avx512:
      // Up to 16 coordinates the 256-bit loop is faster: on AMD Zen 5 its
      // four ymm chains measured 1.1-1.3x quicker than two zmm chains at
      // D = 8-16 (b aligned to 16 or to 64 bytes alike), and at D = 3 one ymm
      // chain was about 13% quicker than one zmm chain on Zen 4. From D = 24
      // the two are about even; at D = 48 the zmm loop is 1.5x faster. Called
      // from here, the two loops' stack buffers are never on the stack at once.
      if (a.rows <= 16) {
        variants::weighted_avx2(a, b, Q, c);
      } else {
        variants::weighted_avx512(a, b, Q, c);
      }
      return;
#endif
#if defined(KORVANE_HAVE_AVX2)
    case InstructionSet::avx2_fma:
    case InstructionSet::avx2:
      variants::weighted_avx2(a, b, Q, c);
      return;
#endif
    default:
      variants::weighted_scalar(a, b, Q, c);
      return;
  }
}

void pairwise_squared_distances(MatrixView a, MatrixView b, MatrixView C) {
  pairwise_squared_distances(active_instruction_set(), a, b, C);
}

void weighted_coordinate_sums(MatrixView a, MatrixView b, MatrixView Q, MatrixView c) {
  weighted_coordinate_sums(active_instruction_set(), a, b, Q, c);
}

}  // namespace korvane
