// AVX2 + FMA3 pairwise variant (-mavx2 -mfma), run where CPUID and XGETBV
// report both: the AVX2 tile with half of its adds as exact adds (see
// exact_add.hpp). Its weighted sums are the AVX2 loop's, bound by dependent
// adds and by reading b, which an FMA pipe cannot help.
#include "avx2_ops.hpp"
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
