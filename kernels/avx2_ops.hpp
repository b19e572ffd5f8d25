// The AVX2 vector operations of the pairwise tile and the weighted loop,
// shared by the AVX2 unit and the AVX2 + FMA3 one. Internal linkage, so that
// no copy built with FMA3 can stand in for one built without.
#ifndef KORVANE_KERNELS_AVX2_OPS_HPP
#define KORVANE_KERNELS_AVX2_OPS_HPP

#include <immintrin.h>

#include <cstddef>

#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"

namespace korvane::variants {
namespace {

// Mask with the first count (0 to 4) 64-bit lanes set.
__m256i first_lanes(std::size_t count) {
  const long long c = static_cast<long long>(count < 4 ? count : 4);
  return _mm256_cmpgt_epi64(_mm256_set1_epi64x(c), _mm256_set_epi64x(3, 2, 1, 0));
}

struct Avx2Ops : tiling::TileDefaults<Avx2Ops> {
  using Vector = __m256d;
  static constexpr tiling::PairwiseTable kPairwise = tiling::kAvx2Pairwise;
  static constexpr weighting::WeightedTable kWeighted = weighting::kAvx2Weighted;
  static constexpr bool kMasked = true;

  static void pack_full_panel(const double* points, std::size_t dim, std::size_t kc,
                              double* panel) {
    for (std::size_t l = 0; l < kPairwise.lanes; ++l)
      for (std::size_t k = 0; k < kc; ++k) panel[k * kPairwise.lanes + l] = points[l * dim + k];
  }
  static std::size_t copy_columns(const double*, std::size_t, std::size_t, double*, std::size_t) {
    return 0;
  }
  static KORVANE_ALWAYS_INLINE __m256i lanes(std::size_t lo, std::size_t hi) {
    return lo == 0 ? first_lanes(hi) : _mm256_andnot_si256(first_lanes(lo), first_lanes(hi));
  }
  static KORVANE_ALWAYS_INLINE Vector load(const double* p) { return _mm256_loadu_pd(p); }
  static KORVANE_ALWAYS_INLINE Vector load(const double* p, __m256i m) {
    return _mm256_maskload_pd(p, m);
  }
  static KORVANE_ALWAYS_INLINE void store(double* p, Vector x) { _mm256_storeu_pd(p, x); }
  static KORVANE_ALWAYS_INLINE void store(double* p, __m256i m, Vector x) {
    _mm256_maskstore_pd(p, m, x);
  }
  static KORVANE_ALWAYS_INLINE Vector broadcast(double x) { return _mm256_set1_pd(x); }
  static KORVANE_ALWAYS_INLINE Vector broadcast(const double* p) { return _mm256_broadcast_sd(p); }
  static KORVANE_ALWAYS_INLINE Vector sub(Vector x, Vector y) { return _mm256_sub_pd(x, y); }
  static KORVANE_ALWAYS_INLINE Vector mul(Vector x, Vector y) { return _mm256_mul_pd(x, y); }
  static KORVANE_ALWAYS_INLINE Vector add(Vector x, Vector y) { return _mm256_add_pd(x, y); }
};

}  // namespace
}  // namespace korvane::variants

#endif
