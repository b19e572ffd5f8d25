// The public kernels: each call runs the best variant available.
#include <cstddef>

#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"

namespace korvane {

void pairwise_squared_distances(InstructionSet isa, MatrixView a, MatrixView b, MatrixView C,
                                [[maybe_unused]] std::size_t l2_bytes) {
  switch (isa) {
#if defined(KORVANE_HAVE_NEON)
    case InstructionSet::neon:
      variants::pairwise_neon(a, b, C, l2_bytes);
      return;
#endif
#if defined(KORVANE_HAVE_AVX512)
    case InstructionSet::avx512:
      variants::pairwise_avx512(a, b, C, l2_bytes);
      return;
#endif
#if defined(KORVANE_HAVE_AVX2_FMA)
    case InstructionSet::avx2_fma:
      variants::pairwise_avx2_fma(a, b, C, l2_bytes);
      return;
#endif
#if defined(KORVANE_HAVE_AVX2)
    case InstructionSet::avx2:
      variants::pairwise_avx2(a, b, C, l2_bytes);
      return;
#endif
    default:
      variants::pairwise_scalar(a, b, C);
      return;
  }
}

void weighted_coordinate_sums(InstructionSet isa, MatrixView a, MatrixView b, MatrixView Q,
                              MatrixView c) {
  for (std::size_t k = 0; k < a.rows; ++k) c.data[k] = 0.0;
  continue_weighted_coordinate_sums(isa, a, b, Q, c, 0, a.cols);
}

void continue_weighted_coordinate_sums(InstructionSet isa, MatrixView a, MatrixView b, MatrixView Q,
                                       MatrixView c, std::size_t first, std::size_t end) {
  switch (isa) {
#if defined(KORVANE_HAVE_NEON)
    case InstructionSet::neon:
      variants::weighted_neon(a, b, Q, c, first, end);
      return;
#endif
#if defined(KORVANE_HAVE_AVX512)
    case InstructionSet::avx512:
      // Up to 16 coordinates the 512-bit loop wins only where it keeps Q's
      // lines of a row in L1 or copies Q's rows in groups (see WeightRows),
      // and each row is long enough to pay for it: on AMD Zen 5, 1.05-1.5x
      // faster than the 256-bit loop at D = 5-16 with 32-2048 columns of b
      // (most at D = 12-16), but slower with fewer columns (up to 1.4x at
      // D = 8 with 8) or with Q read in place from L2 (1.1-1.8x). At D <= 4
      // one ymm chain is quicker than one zmm chain from 24 columns on (up to
      // 1.15x on Zen 5, about 13% on Zen 4; with 8-16 columns the zmm chain
      // was up to 1.4x quicker, a corner left to the 256-bit loop). Called
      // from here, the two loops' stack buffers are never on the stack at once.
      if (a.rows > 16 ||
          (a.rows > 4 && b.cols >= 32 && b.cols <= weighting::kColumnsForGroupsOf2)) {
        variants::weighted_avx512(a, b, Q, c, first, end);
      } else {
        variants::weighted_avx2(a, b, Q, c, first, end);
      }
      return;
#endif
#if defined(KORVANE_HAVE_AVX2)
    case InstructionSet::avx2_fma:
    case InstructionSet::avx2:
      variants::weighted_avx2(a, b, Q, c, first, end);
      return;
#endif
    default:
      variants::weighted_scalar(a, b, Q, c, first, end);
      return;
  }
}

void pairwise_squared_distances(MatrixView a, MatrixView b, MatrixView C) {
  pairwise_squared_distances(active_instruction_set(), a, b, C);
}

void weighted_coordinate_sums(MatrixView a, MatrixView b, MatrixView Q, MatrixView c) {
  weighted_coordinate_sums(active_instruction_set(), a, b, Q, c);
}

void continue_weighted_coordinate_sums(MatrixView a, MatrixView b, MatrixView Q, MatrixView c,
                                       std::size_t first, std::size_t end) {
  continue_weighted_coordinate_sums(active_instruction_set(), a, b, Q, c, first, end);
}

}  // namespace korvane
