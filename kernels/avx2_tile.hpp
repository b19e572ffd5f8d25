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
  static constexpr std::size_t kLanes = 8;
  static constexpr std::size_t kBroadcasts = 4;

  static void pack_full_panel(const double* points, std::size_t dim, std::size_t kc,
                              double* panel) {
    for (std::size_t l = 0; l < kLanes; ++l)
      for (std::size_t k = 0; k < kc; ++k) panel[k * kLanes + l] = points[l * dim + k];
  }

  template <int KD>
  static void run_points(const double* points, const double* const* columns, double* c,
                         std::size_t ldc, std::size_t n) {
    tiling::run_packed_points<PairwiseTile, KD>(points, columns, c, ldc, n);
  }

  template <int KD, bool BInLanes>
  static void run(std::size_t kc, const double* panel, const double* const* columns, double* c,
                  std::size_t ldc, std::size_t m, std::size_t n, bool continue_sums,
                  const double* const* next) {
    const std::size_t steps = KD > 0 ? static_cast<std::size_t>(KD) : kc;
    __m256d lo[kBroadcasts];
    __m256d hi[kBroadcasts];
    alignas(32) double staged[kBroadcasts][kLanes];
    const __m256i lo_mask = first_lanes(m);
    const __m256i hi_mask = first_lanes(m > 4 ? m - 4 : 0);

    // A short fresh sum starts with its first square as it is: +0.0 + t * t
    // is t * t, since a square is never -0. That saves one add in D.
    constexpr bool set_by_first_step = KD > 0 && KD <= 8;
    if (!continue_sums && !set_by_first_step) {
      for (std::size_t q = 0; q < kBroadcasts; ++q) lo[q] = hi[q] = _mm256_setzero_pd();
    } else if (continue_sums) {
      if (!BInLanes && m == kLanes) {
        for (std::size_t q = 0; q < kBroadcasts; ++q) {
          const double* cq = c + (q < n ? q : 0) * ldc;
          lo[q] = _mm256_loadu_pd(cq);
          hi[q] = _mm256_loadu_pd(cq + 4);
        }
      } else if (!BInLanes) {
        for (std::size_t q = 0; q < kBroadcasts; ++q) {
          const double* cq = c + (q < n ? q : 0) * ldc;
          lo[q] = _mm256_maskload_pd(cq, lo_mask);
          hi[q] = _mm256_maskload_pd(cq + 4, hi_mask);
        }
      } else {
        // Edge tile: entries outside it start from zero and are never stored.
        for (std::size_t q = 0; q < kBroadcasts; ++q)
          for (std::size_t l = 0; l < kLanes; ++l)
            staged[q][l] = q < n && l < m ? c[q + l * ldc] : 0.0;
        for (std::size_t q = 0; q < kBroadcasts; ++q) {
          lo[q] = _mm256_load_pd(staged[q]);
          hi[q] = _mm256_load_pd(staged[q] + 4);
        }
      }
    }

    // One coordinate for the whole tile: 8 subtracts, 8 multiplies and 8 adds.
    // With a's points in the lanes, half of the adds go through
    // Adds::on_multiply_pipes, alternating between the two accumulators of a
    // broadcast column, as in the AVX-512 tile and for the same reasons; b in
    // the lanes and short sums keep the plain adds.
    const auto step = [&](std::size_t k, bool first) {
      const __m256d lane_lo = _mm256_load_pd(panel + k * kLanes);
      const __m256d lane_hi = _mm256_load_pd(panel + k * kLanes + 4);
      for (std::size_t q = 0; q < kBroadcasts; ++q) {
        const __m256d x = _mm256_broadcast_sd(columns[q] + k);
        const __m256d t_lo = BInLanes ? _mm256_sub_pd(x, lane_lo) : _mm256_sub_pd(lane_lo, x);
        const __m256d t_hi = BInLanes ? _mm256_sub_pd(x, lane_hi) : _mm256_sub_pd(lane_hi, x);
        const __m256d square_lo = _mm256_mul_pd(t_lo, t_lo);
        const __m256d square_hi = _mm256_mul_pd(t_hi, t_hi);
        if (first) {
          lo[q] = square_lo;
          hi[q] = square_hi;
        } else if constexpr (!BInLanes && !(KD > 0 && KD <= 8)) {
          if (q % 2 == 0) {
            lo[q] = Adds::on_multiply_pipes(lo[q], square_lo);
            hi[q] = _mm256_add_pd(hi[q], square_hi);
          } else {
            lo[q] = _mm256_add_pd(lo[q], square_lo);
            hi[q] = Adds::on_multiply_pipes(hi[q], square_hi);
          }
        } else {
          lo[q] = _mm256_add_pd(lo[q], square_lo);
          hi[q] = _mm256_add_pd(hi[q], square_hi);
        }
      }
    };
    std::size_t k = 0;
    if (set_by_first_step && !continue_sums) step(k++, true);
    tiling::run_steps<kBroadcasts>(k, steps, next, step);

    if (!BInLanes && m == kLanes) {
      // Whole-vector stores for full tiles: masked stores are slow.
      for (std::size_t q = 0; q < n; ++q) {
        _mm256_storeu_pd(c + q * ldc, lo[q]);
        _mm256_storeu_pd(c + q * ldc + 4, hi[q]);
      }
    } else if (!BInLanes) {
      for (std::size_t q = 0; q < n; ++q) {
        _mm256_maskstore_pd(c + q * ldc, lo_mask, lo[q]);
        _mm256_maskstore_pd(c + q * ldc + 4, hi_mask, hi[q]);
      }
    } else {
      for (std::size_t q = 0; q < kBroadcasts; ++q) {
        _mm256_store_pd(staged[q], lo[q]);
        _mm256_store_pd(staged[q] + 4, hi[q]);
      }
      for (std::size_t l = 0; l < m; ++l)
        for (std::size_t q = 0; q < n; ++q) c[q + l * ldc] = staged[q][l];
    }
  }
};

}  // namespace
}  // namespace korvane::variants

#endif
