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

namespace {

// The 256-bit vectors for weighting::weighted_block.
struct Ymm {
  using Vector = __m256d;
  static constexpr weighting::WeightedTable kTable = weighting::kAvx2Weighted;
  static std::size_t copy_columns(const double*, std::size_t, std::size_t, double*, std::size_t) {
    return 0;
  }
  static __m256i lanes(std::size_t lo, std::size_t hi) {
    return _mm256_andnot_si256(first_lanes(lo), first_lanes(hi));
  }
  static __m256d load(const double* p) { return _mm256_loadu_pd(p); }
  static __m256d load(const double* p, __m256i m) { return _mm256_maskload_pd(p, m); }
  static void store(double* p, __m256d x) { _mm256_storeu_pd(p, x); }
  static void store(double* p, __m256i m, __m256d x) { _mm256_maskstore_pd(p, m, x); }
  static __m256d broadcast(double x) { return _mm256_set1_pd(x); }
  static __m256d sub(__m256d x, __m256d y) { return _mm256_sub_pd(x, y); }
  static __m256d mul(__m256d x, __m256d y) { return _mm256_mul_pd(x, y); }
  static __m256d add(__m256d x, __m256d y) { return _mm256_add_pd(x, y); }
};

}  // namespace

void pairwise_avx2(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes) {
  tiling::pairwise<Avx2Ops>(a, b, C, l2_bytes);
}

void weighted_avx2(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                   std::size_t end) {
  weighting::weighted_sums<Ymm>(a, b, Q, c.data, first, end);
}

}  // namespace korvane::variants
