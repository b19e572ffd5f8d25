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
      return variants::pairwise_neon(a, b, C, l2_bytes);
#endif
#if defined(KORVANE_HAVE_AVX512)
    case InstructionSet::avx512:
      return variants::pairwise_avx512(a, b, C, l2_bytes);
#endif
#if defined(KORVANE_HAVE_AVX2_FMA)
    case InstructionSet::avx2_fma:
      return variants::pairwise_avx2_fma(a, b, C, l2_bytes);
#endif
#if defined(KORVANE_HAVE_AVX2)
    case InstructionSet::avx2:
      return variants::pairwise_avx2(a, b, C, l2_bytes);
#endif
    default:
      return variants::pairwise_scalar(a, b, C);
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
      // Up to 16 coordinates the 512-bit loop wins only where rows of Q are
      // long enough to pay for keeping a row's lines in L1 or for copying
      // rows in groups (see WeightRows); at D <= 4 one ymm chain beats one zmm
      // chain. Called from here, the two stack buffers are never live at once.
      if (a.rows > 16 || (a.rows > 4 && b.cols >= 32)) {
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
