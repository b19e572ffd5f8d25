// AVX2 variant. Built with -mavx2 (no -mfma, no contraction); run only when
// CPUID and XGETBV report AVX2 and YMM state support.
//
// Pairwise: the AVX2 tile with every add on the add pipes. Weighted: up to 32
// coordinates of c in 8 ymm registers across the whole pair loop, vectorised
// across k; the AVX2 + FMA3 variant and short AVX-512 sums run it too.
#include <immintrin.h>

#include <cstddef>

#include "avx2_tile.hpp"
#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"
#include "unrolled.hpp"
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
