// AVX2 variant (-mavx2, no -mfma), run where CPUID and XGETBV report AVX2
// and the YMM state: the tile with every add on the add pipes, and the
// weighted loop, which the AVX2 + FMA3 level and short AVX-512 sums run too.
#include <cstddef>

#include "avx2_ops.hpp"
#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"
#include "weighted_loop.hpp"

namespace korvane::variants {

void pairwise_avx2(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes) {
  tiling::pairwise<Avx2Ops>(a, b, C, l2_bytes);
}

void weighted_avx2(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                   std::size_t end) {
  weighting::weighted_sums<Avx2Ops>(a, b, Q, c.data, first, end);
}

}  // namespace korvane::variants
