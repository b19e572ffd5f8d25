// AVX2 variant. Built with -mavx2 (no -mfma, no contraction); run only when
// CPUID and XGETBV report AVX2 and YMM state support.
//
// Pairwise: an 8 x 4 tile of entries in 8 ymm accumulators (8 lane points in
// two vectors, 4 broadcast points). Weighted: up to 32 coordinates of c in 8
// ymm registers across the whole pair loop, vectorised across k.
#include <immintrin.h>

#include <cstddef>

#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"
#include "weighted_loop.hpp"

namespace korvane::variants {

namespace {

// Mask with the first count (0 to 4) 64-bit lanes set.
__m256i first_lanes(std::size_t count) {
  const long long c = static_cast<long long>(count < 4 ? count : 4);
  return _mm256_cmpgt_epi64(_mm256_set1_epi64x(c), _mm256_set_epi64x(3, 2, 1, 0));
}

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

    // One coordinate for the whole tile.
    const auto step = [&](std::size_t k, bool first) {
      const __m256d lane_lo = _mm256_load_pd(panel + k * kLanes);
      const __m256d lane_hi = _mm256_load_pd(panel + k * kLanes + 4);
      for (std::size_t q = 0; q < kBroadcasts; ++q) {
        const __m256d x = _mm256_broadcast_sd(columns[q] + k);
        const __m256d t_lo = BInLanes ? _mm256_sub_pd(x, lane_lo) : _mm256_sub_pd(lane_lo, x);
        const __m256d t_hi = BInLanes ? _mm256_sub_pd(x, lane_hi) : _mm256_sub_pd(lane_hi, x);
        const __m256d square_lo = _mm256_mul_pd(t_lo, t_lo);
        const __m256d square_hi = _mm256_mul_pd(t_hi, t_hi);
        lo[q] = first ? square_lo : _mm256_add_pd(lo[q], square_lo);
        hi[q] = first ? square_hi : _mm256_add_pd(hi[q], square_hi);
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

template <std::size_t NV>
void weighted_block(const MatrixView& a, const MatrixView& b, const MatrixView& Q, double* sums,
                    std::size_t k0, std::size_t count) {
  const std::size_t dim = a.rows;
  const std::size_t n_a = a.cols;
  const std::size_t n_b = b.cols;
  const __m256i tail = first_lanes(count - (NV - 1) * 4);
  __m256d acc[NV];
  for (std::size_t v = 0; v < NV; ++v) acc[v] = _mm256_setzero_pd();
  for (std::size_t i = 0; i < n_a; ++i) {
    const double* ai = a.data + i * dim + k0;
    const double* weights = Q.data + i;  // row i of Q, stride n_a
    for (std::size_t j = 0; j < n_b; ++j) {
      if (j + 8 < n_b) tiling::prefetch(weights + (j + 8) * n_a);
      const __m256d w = _mm256_set1_pd(weights[j * n_a]);
      const double* bj = b.data + j * dim + k0;
      for (std::size_t v = 0; v < NV; ++v) {
        const __m256d av =
            v < NV - 1 ? _mm256_loadu_pd(ai + 4 * v) : _mm256_maskload_pd(ai + 4 * v, tail);
        const __m256d bv =
            v < NV - 1 ? _mm256_loadu_pd(bj + 4 * v) : _mm256_maskload_pd(bj + 4 * v, tail);
        const __m256d t = _mm256_sub_pd(av, bv);
        acc[v] = _mm256_add_pd(acc[v], _mm256_mul_pd(_mm256_mul_pd(w, t), t));
      }
    }
  }
  for (std::size_t v = 0; v < NV - 1; ++v) _mm256_storeu_pd(sums + k0 + 4 * v, acc[v]);
  _mm256_maskstore_pd(sums + k0 + 4 * (NV - 1), tail, acc[NV - 1]);
}

}  // namespace

void pairwise_avx2(MatrixView a, MatrixView b, MatrixView C) {
  tiling::pairwise<PairwiseTile>(a, b, C);
}

void weighted_avx2(MatrixView a, MatrixView b, MatrixView Q, MatrixView c) {
  weighting::coordinate_passes<4, 8>(a, b, c, [&](auto nv, std::size_t k0, std::size_t count) {
    weighted_block<decltype(nv)::value>(a, b, Q, c.data, k0, count);
  });
}

}  // namespace korvane::variants
