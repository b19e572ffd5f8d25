// AVX2 + FMA3 variant. Built with -mavx2 -mfma and no contraction; run only
// when CPUID and XGETBV report AVX2, FMA3 and YMM state support.
//
// Pairwise: the AVX2 tile with half of its adds issued as exact adds on the
// multiply/FMA pipes, so that all four floating-point pipes of cores with two
// add and two multiply pipes (AMD Zen 2 to Zen 5) share the work. The one
// fused multiply-add this object may contain is exact_add_on_multiply_pipes:
// an add with a multiplier of 1.0. Weighted: the AVX2 loop, bound by its
// dependent adds and by reading b, which an FMA pipe cannot help.
#include "avx2_tile.hpp"
#include "exact_add.hpp"
#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"

namespace korvane::variants {

namespace {

struct Avx2FmaOps : Avx2Ops {
  static KORVANE_ALWAYS_INLINE Vector add_on_multiply_pipes(Vector sum, Vector square) {
    return exact_add_on_multiply_pipes(sum, square);
  }
};

}  // namespace

void pairwise_avx2_fma(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes) {
  tiling::pairwise<Avx2FmaOps>(a, b, C, l2_bytes);
}

}  // namespace korvane::variants
