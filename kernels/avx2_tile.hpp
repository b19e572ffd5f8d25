// The AVX2 vector operations of the pairwise tile, shared by the AVX2 variant
// and the AVX2 + FMA3 one: an 8 x 4 tile of entries in 8 ymm accumulators (8
// lane points in two vectors, 4 broadcast points). The FMA3 variant takes
// half of the tile's adds to the multiply pipes as exact adds.
//
// Everything here has internal linkage: each unit that includes it compiles
// its own copy with its own flags, and no copy built with FMA3 can stand in
// for one built without.
#ifndef KORVANE_KERNELS_AVX2_TILE_HPP
#define KORVANE_KERNELS_AVX2_TILE_HPP

#include <immintrin.h>

#include <cstddef>

#include "exact_arithmetic.hpp"
#include "tile_loop.hpp"

namespace korvane::variants {
namespace {

// Mask with the first count (0 to 4) 64-bit lanes set.
__m256i first_lanes(std::size_t count) {
  const long long c = static_cast<long long>(count < 4 ? count : 4);
  return _mm256_cmpgt_epi64(_mm256_set1_epi64x(c), _mm256_set_epi64x(3, 2, 1, 0));
}

// Every add on the add pipes.
struct Avx2Ops {
  using V = __m256d;
  static constexpr std::size_t kWidth = 4;
  static constexpr tiling::PairwiseTable kTable = tiling::kAvx2Pairwise;
  static constexpr bool kMasked = true;
  static constexpr bool picks_points(int) { return false; }

  static void pack_full_panel(const double* points, std::size_t dim, std::size_t kc,
                              double* panel) {
    for (std::size_t l = 0; l < kTable.lanes; ++l)
      for (std::size_t k = 0; k < kc; ++k) panel[k * kTable.lanes + l] = points[l * dim + k];
  }
  static KORVANE_ALWAYS_INLINE V load(const double* p) { return _mm256_load_pd(p); }
  static KORVANE_ALWAYS_INLINE V loadu(const double* p) { return _mm256_loadu_pd(p); }
  static KORVANE_ALWAYS_INLINE void storeu(double* p, V v) { _mm256_storeu_pd(p, v); }
  static KORVANE_ALWAYS_INLINE V load_first(const double* p, std::size_t count) {
    return _mm256_maskload_pd(p, first_lanes(count));
  }
  static KORVANE_ALWAYS_INLINE void store_first(double* p, std::size_t count, V v) {
    _mm256_maskstore_pd(p, first_lanes(count), v);
  }
  static KORVANE_ALWAYS_INLINE V broadcast(const double* p) { return _mm256_broadcast_sd(p); }
  static KORVANE_ALWAYS_INLINE V sub(V x, V y) { return _mm256_sub_pd(x, y); }
  static KORVANE_ALWAYS_INLINE V mul(V x, V y) { return _mm256_mul_pd(x, y); }
  static KORVANE_ALWAYS_INLINE V add(V x, V y) { return _mm256_add_pd(x, y); }
  static KORVANE_ALWAYS_INLINE V sub_broadcast(V v, const double* p) {
    return sub(v, broadcast(p));
  }
  static KORVANE_ALWAYS_INLINE V add_on_multiply_pipes(V sum, V square) { return add(sum, square); }
};

}  // namespace
}  // namespace korvane::variants

#endif
