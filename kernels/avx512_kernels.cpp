// AVX-512F pairwise variant (-mavx512f), run where CPUID and XGETBV report
// it and the ZMM state: half of a long sum's adds as exact adds.
#include "avx512_ops.hpp"
#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"

namespace korvane::variants {

void pairwise_avx512(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes) {
  tiling::pairwise<Avx512Ops>(a, b, C, l2_bytes);
}

}  // namespace korvane::variants
