// AVX-512F pairwise variant. Built with -mavx512f and no contraction; run
// only when CPUID and XGETBV report AVX-512 state support. The one fused
// multiply-add this object may contain is exact_add_on_multiply_pipes: an
// add with a multiplier of 1.0. A product t * t is always rounded on its own
// before it enters a sum.
#include "avx512_lanes.hpp"
#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"

namespace korvane::variants {

void pairwise_avx512(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes) {
  tiling::pairwise<Avx512Ops>(a, b, C, l2_bytes);
}

}  // namespace korvane::variants
