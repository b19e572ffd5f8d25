// The AVX2 pairwise tile, shared by the AVX2 variant and the AVX2 + FMA3
// one: an 8 x 4 tile of entries in 8 ymm accumulators (8 lane points in two
// vectors, 4 broadcast points). In the FMA3 variant half of the tile's adds
// are exact adds on the multiply pipes.
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

// Adds::on_multiply_pipes(sum, square) takes half of the tile's adds where
// that pays; it must round exactly as _mm256_add_pd does.
template <class Adds>
struct PairwiseTile {
  // 8 x 4 entries in 8 ymm accumulators: 8 lane points in two vectors.
  static constexpr tiling::PairwiseTable kTable{tables::kAvx2Tile.lanes,
                                                tables::kAvx2Tile.broadcasts};
  static constexpr std::size_t kLanes = kTable.lanes;
  static constexpr std::size_t kBroadcasts = kTable.broadcasts;
  static constexpr bool kMasked = true;
  static constexpr bool kTransposed = false;
  static constexpr bool picks_points(int) { return false; }
  struct Sums {
    __m256d lo[kBroadcasts], hi[kBroadcasts];
  };

  static void pack_full_panel(const double* points, std::size_t dim, std::size_t kc,
                              double* panel) {
    for (std::size_t l = 0; l < kLanes; ++l)
      for (std::size_t k = 0; k < kc; ++k) panel[k * kLanes + l] = points[l * dim + k];
  }

  static KORVANE_ALWAYS_INLINE __m256d lane(const double* panel, std::size_t k, std::size_t v) {
    return _mm256_load_pd(panel + k * kLanes + 4 * v);
  }
  static KORVANE_ALWAYS_INLINE void load(Sums& s, const double* c, std::size_t ldc) {
    for (std::size_t q = 0; q < kBroadcasts; ++q) {
      s.lo[q] = _mm256_loadu_pd(c + q * ldc);
      s.hi[q] = _mm256_loadu_pd(c + q * ldc + 4);
    }
  }
  static KORVANE_ALWAYS_INLINE void store(const Sums& s, double* c, std::size_t ldc) {
    for (std::size_t q = 0; q < kBroadcasts; ++q) {
      _mm256_storeu_pd(c + q * ldc, s.lo[q]);
      _mm256_storeu_pd(c + q * ldc + 4, s.hi[q]);
    }
  }
  static KORVANE_ALWAYS_INLINE void load_masked(Sums& s, const double* c, std::size_t ldc,
                                                std::size_t m, std::size_t n) {
    for (std::size_t q = 0; q < kBroadcasts; ++q) {
      const double* cq = c + (q < n ? q : 0) * ldc;
      s.lo[q] = _mm256_maskload_pd(cq, first_lanes(m));
      s.hi[q] = _mm256_maskload_pd(cq + 4, first_lanes(m > 4 ? m - 4 : 0));
    }
  }
  static KORVANE_ALWAYS_INLINE void store_masked(const Sums& s, double* c, std::size_t ldc,
                                                 std::size_t m, std::size_t n) {
    for (std::size_t q = 0; q < kBroadcasts; ++q) {
      if (q >= n) continue;
      _mm256_maskstore_pd(c + q * ldc, first_lanes(m), s.lo[q]);
      _mm256_maskstore_pd(c + q * ldc + 4, first_lanes(m > 4 ? m - 4 : 0), s.hi[q]);
    }
  }

  // One coordinate: 8 subtracts, 8 multiplies and 8 adds. With a's points in
  // the lanes and long sums, half of the adds go through Adds, alternating
  // between a column's two accumulators, as in the AVX-512 tile.
  template <int KD, bool BInLanes, class Lane>
  static KORVANE_ALWAYS_INLINE void step(Sums& s, const Lane& lane, const double* const* columns,
                                         std::size_t k, bool first) {
    const __m256d lane_lo = lane(k, 0);
    const __m256d lane_hi = lane(k, 1);
    for (std::size_t q = 0; q < kBroadcasts; ++q) {
      const __m256d x = _mm256_broadcast_sd(columns[q] + k);
      const __m256d t_lo = BInLanes ? _mm256_sub_pd(x, lane_lo) : _mm256_sub_pd(lane_lo, x);
      const __m256d t_hi = BInLanes ? _mm256_sub_pd(x, lane_hi) : _mm256_sub_pd(lane_hi, x);
      const __m256d square_lo = _mm256_mul_pd(t_lo, t_lo);
      const __m256d square_hi = _mm256_mul_pd(t_hi, t_hi);
      if (first) {
        s.lo[q] = square_lo;
        s.hi[q] = square_hi;
      } else if constexpr (!BInLanes && !(KD > 0 && KD <= static_cast<int>(kTable.short_sum))) {
        if (q % 2 == 0) {
          s.lo[q] = Adds::on_multiply_pipes(s.lo[q], square_lo);
          s.hi[q] = _mm256_add_pd(s.hi[q], square_hi);
        } else {
          s.lo[q] = _mm256_add_pd(s.lo[q], square_lo);
          s.hi[q] = Adds::on_multiply_pipes(s.hi[q], square_hi);
        }
      } else {
        s.lo[q] = _mm256_add_pd(s.lo[q], square_lo);
        s.hi[q] = _mm256_add_pd(s.hi[q], square_hi);
      }
    }
  }
};

}  // namespace
}  // namespace korvane::variants

#endif
