// AVX-512F variant. Built with -mavx512f and no contraction; run only when
// CPUID and XGETBV report AVX-512 state support.
//
// Pairwise: a 16 x 8 tile of entries in 16 zmm accumulators (16 lane points
// in two vectors, 8 broadcast points). The weighted kernel has a unit of its
// own.
//
// The one fused multiply-add this object may contain is
// exact_add_on_multiply_pipes: an add with a multiplier of 1.0. A product t * t
// is always rounded on its own before it enters a sum.
#include <immintrin.h>

#include <array>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "avx512_lanes.hpp"
#include "exact_add.hpp"
#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"
#include "unrolled.hpp"

namespace korvane::variants {

namespace {

// rows[0..7] become their transpose in place: rows[l][q] <- rows[q][l].
void transpose8x8(__m512d* rows) {
  __m512d t[8];
  for (int p = 0; p < 4; ++p) {
    t[2 * p] = _mm512_unpacklo_pd(rows[2 * p], rows[2 * p + 1]);
    t[2 * p + 1] = _mm512_unpackhi_pd(rows[2 * p], rows[2 * p + 1]);
  }
  const __m512d u0 = _mm512_shuffle_f64x2(t[0], t[2], 0x88);
  const __m512d u1 = _mm512_shuffle_f64x2(t[1], t[3], 0x88);
  const __m512d u2 = _mm512_shuffle_f64x2(t[0], t[2], 0xDD);
  const __m512d u3 = _mm512_shuffle_f64x2(t[1], t[3], 0xDD);
  const __m512d u4 = _mm512_shuffle_f64x2(t[4], t[6], 0x88);
  const __m512d u5 = _mm512_shuffle_f64x2(t[5], t[7], 0x88);
  const __m512d u6 = _mm512_shuffle_f64x2(t[4], t[6], 0xDD);
  const __m512d u7 = _mm512_shuffle_f64x2(t[5], t[7], 0xDD);
  rows[0] = _mm512_shuffle_f64x2(u0, u4, 0x88);
  rows[1] = _mm512_shuffle_f64x2(u1, u5, 0x88);
  rows[2] = _mm512_shuffle_f64x2(u2, u6, 0x88);
  rows[3] = _mm512_shuffle_f64x2(u3, u7, 0x88);
  rows[4] = _mm512_shuffle_f64x2(u0, u4, 0xDD);
  rows[5] = _mm512_shuffle_f64x2(u1, u5, 0xDD);
  rows[6] = _mm512_shuffle_f64x2(u2, u6, 0xDD);
  rows[7] = _mm512_shuffle_f64x2(u3, u7, 0xDD);
}

// Where coordinate k of 8 points of D < 8 coordinates stored back to back
// lies among the D vectors that hold them: element e = D * l + k for point l.
// Elements 0-15 (vectors 0 and 1) are picked by one two-source permute, the
// rest by a merging one-source permute per further vector.
struct Pick {
  alignas(64) long long index[8];
  unsigned mask;
};
template <std::size_t D>
using ShortPointPicks = std::array<std::array<Pick, D>, D>;  // [k][vector], vector 0: pair

template <std::size_t D>
constexpr ShortPointPicks<D> short_point_picks() {
  ShortPointPicks<D> picks{};
  for (std::size_t k = 0; k < D; ++k) {
    for (std::size_t l = 0; l < 8; ++l) {
      const std::size_t element = D * l + k;
      Pick& pick = element < 16 ? picks[k][0] : picks[k][element / 8];
      pick.index[l] = static_cast<long long>(element < 16 ? element : element % 8);
      pick.mask |= 1U << l;
    }
  }
  return picks;
}

// lanes - x for x at *broadcast in every lane. The broadcast is the
// subtract's own {1to8} memory operand: on AMD Zen 4 a separate broadcast into
// a register takes a floating-point pipe slot, an embedded one only a load.
// GCC does not embed a broadcast that feeds two subtracts, hence the asm.
KORVANE_ALWAYS_INLINE __m512d subtract_broadcast(__m512d lanes, const double* broadcast) {
#if defined(__GNUC__) || defined(__clang__)
  __m512d difference;
  __asm__("vsubpd %2%{1to8%}, %1, %0" : "=v"(difference) : "v"(lanes), "m"(*broadcast));
  return difference;
#else
  return _mm512_sub_pd(lanes, _mm512_set1_pd(*broadcast));
#endif
}

struct PairwiseTile {
  static constexpr std::size_t kLanes = 16;
  static constexpr std::size_t kBroadcasts = 8;

  // The 8 points of each half fill exactly D vectors; coordinate k of all 8
  // is picked from them by permutes with fixed indices. Unrolled at compile
  // time, so that the picked vectors can stay in registers.
  template <std::size_t D>
  static void pick_short_points(const double* points, __m512d (&lanes)[D][2]) {
    static constexpr ShortPointPicks<D> picks = short_point_picks<D>();
    for_each_index<2>([&](auto half) {
      __m512d source[D];
      for_each_index<D>(
          [&](auto v) { source[v] = _mm512_loadu_pd(points + half * 8 * D + 8 * v); });
      for_each_index<D>([&](auto k) {
        __m512d picked =
            _mm512_permutex2var_pd(source[0], _mm512_load_si512(picks[k][0].index), source[1]);
        for_each_index<D>([&](auto v) {
          constexpr Pick pick = picks[k][v];
          if constexpr (v >= 2 && pick.mask != 0) {
            picked = _mm512_mask_permutexvar_pd(picked, static_cast<__mmask8>(pick.mask),
                                                _mm512_load_si512(picks[k][v].index), source[v]);
          }
        });
        lanes[k][half] = picked;
      });
    });
  }

  template <std::size_t D>
  static void pack_short_points(const double* points, double* panel) {
    __m512d lanes[D][2];
    pick_short_points<D>(points, lanes);
    for (std::size_t k = 0; k < D; ++k) {
      _mm512_store_pd(panel + k * kLanes, lanes[k][0]);
      _mm512_store_pd(panel + k * kLanes + 8, lanes[k][1]);
    }
  }

  // Eight coordinates of eight points at a time through an 8 x 8 transpose;
  // whole points of fewer than 8 coordinates through fixed permutes.
  static void pack_full_panel(const double* points, std::size_t dim, std::size_t kc,
                              double* panel) {
    if (kc == dim) {
      switch (dim) {
        case 2:
          return pack_short_points<2>(points, panel);
        case 3:
          return pack_short_points<3>(points, panel);
        case 4:
          return pack_short_points<4>(points, panel);
        case 5:
          return pack_short_points<5>(points, panel);
        case 6:
          return pack_short_points<6>(points, panel);
        case 7:
          return pack_short_points<7>(points, panel);
        default:
          break;
      }
    }
    std::size_t k = 0;
    for (; k + 8 <= kc; k += 8) {
      for (std::size_t half = 0; half < kLanes; half += 8) {
        __m512d block[8];
        for (std::size_t l = 0; l < 8; ++l)
          block[l] = _mm512_loadu_pd(points + (half + l) * dim + k);
        transpose8x8(block);
        for (std::size_t r = 0; r < 8; ++r)
          _mm512_store_pd(panel + (k + r) * kLanes + half, block[r]);
      }
    }
    for (; k < kc; ++k)
      for (std::size_t l = 0; l < kLanes; ++l) panel[k * kLanes + l] = points[l * dim + k];
  }

  template <int KD, bool BInLanes>
  static void run(std::size_t kc, const double* panel, const double* const* columns, double* c,
                  std::size_t ldc, std::size_t m, std::size_t n, bool continue_sums,
                  const double* const* next) {
    const auto lane = [panel](std::size_t k, std::size_t half) {
      return _mm512_load_pd(panel + k * kLanes + 8 * half);
    };
    run_lanes<KD, BInLanes>(kc, lane, columns, c, ldc, m, n, continue_sums, next);
  }

  // A full tile of fresh sums over D < 8 coordinates, its lane points picked
  // straight from their storage into registers.
  template <int KD>
  static void run_points(const double* points, const double* const* columns, double* c,
                         std::size_t ldc, std::size_t n) {
    if constexpr (KD >= 2 && KD < 8) {
      constexpr std::size_t D = KD;
      __m512d lanes[D][2];
      pick_short_points<D>(points, lanes);
      const auto lane = [&lanes](std::size_t k, std::size_t half) { return lanes[k][half]; };
      run_lanes<KD, false>(KD, lane, columns, c, ldc, kLanes, n, false, nullptr);
    } else {
      tiling::run_packed_points<PairwiseTile, KD>(points, columns, c, ldc, n);
    }
  }

  template <int KD, bool BInLanes, class Lane>
  static void run_lanes(std::size_t kc, const Lane& lane, const double* const* columns, double* c,
                        std::size_t ldc, std::size_t m, std::size_t n, bool continue_sums,
                        const double* const* next) {
    const std::size_t steps = KD > 0 ? static_cast<std::size_t>(KD) : kc;
    __m512d lo[kBroadcasts];
    __m512d hi[kBroadcasts];
    alignas(64) double staged[kBroadcasts][kLanes];
    const __mmask8 lo_mask = first_lanes(m);
    const __mmask8 hi_mask = first_lanes(m > 8 ? m - 8 : 0);

    // Full tiles load and store whole vectors: masked moves are slow on some
    // CPUs. With b in the lanes a full tile is moved through an 8 x 8
    // transpose, so that C is still read and written along its columns.
    const bool full = m == kLanes && n == kBroadcasts;
    // A short fresh sum starts with its first square as it is: +0.0 + t * t
    // is t * t, since a square is never -0. That saves one add in D.
    constexpr bool set_by_first_step = KD > 0 && KD <= 8;
    if (!continue_sums && !set_by_first_step) {
      for (std::size_t q = 0; q < kBroadcasts; ++q) lo[q] = hi[q] = _mm512_setzero_pd();
    } else if (continue_sums) {
      if (full && !BInLanes) {
        for (std::size_t q = 0; q < kBroadcasts; ++q) {
          lo[q] = _mm512_loadu_pd(c + q * ldc);
          hi[q] = _mm512_loadu_pd(c + q * ldc + 8);
        }
      } else if (full) {
        for (std::size_t l = 0; l < 8; ++l) {
          lo[l] = _mm512_loadu_pd(c + l * ldc);
          hi[l] = _mm512_loadu_pd(c + (l + 8) * ldc);
        }
        transpose8x8(lo);
        transpose8x8(hi);
      } else if (!BInLanes) {
        for (std::size_t q = 0; q < kBroadcasts; ++q) {
          lo[q] = _mm512_maskz_loadu_pd(q < n ? lo_mask : 0, c + q * ldc);
          hi[q] = _mm512_maskz_loadu_pd(q < n ? hi_mask : 0, c + q * ldc + 8);
        }
      } else {
        // Edge tile: entries outside it start from zero and are never stored.
        for (std::size_t q = 0; q < kBroadcasts; ++q)
          for (std::size_t l = 0; l < kLanes; ++l)
            staged[q][l] = q < n && l < m ? c[q + l * ldc] : 0.0;
        for (std::size_t q = 0; q < kBroadcasts; ++q) {
          lo[q] = _mm512_load_pd(staged[q]);
          hi[q] = _mm512_load_pd(staged[q] + 8);
        }
      }
    }

    // One coordinate for the whole tile: 16 subtracts, 16 multiplies and 16
    // adds. With a's points in the lanes, half of the adds go to the multiply
    // pipes, alternating between the two accumulators of a broadcast column,
    // so that all four pipes share the work (on AMD Zen 4: two add, two
    // multiply/FMA pipes). With b's points in the lanes, and for short sums
    // (fixed KD of at most 8, bound by the stores of C), that measured slower,
    // and the step stays on the add pipes.
    const auto step = [&](std::size_t k, bool first) {
      const __m512d lane_lo = lane(k, 0);
      const __m512d lane_hi = lane(k, 1);
      for (std::size_t q = 0; q < kBroadcasts; ++q) {
        if constexpr (BInLanes || (KD > 0 && KD <= 8)) {
          const __m512d x = _mm512_set1_pd(columns[q][k]);
          const __m512d t_lo = _mm512_sub_pd(x, lane_lo);
          const __m512d t_hi = _mm512_sub_pd(x, lane_hi);
          const __m512d square_lo = _mm512_mul_pd(t_lo, t_lo);
          const __m512d square_hi = _mm512_mul_pd(t_hi, t_hi);
          lo[q] = first ? square_lo : _mm512_add_pd(lo[q], square_lo);
          hi[q] = first ? square_hi : _mm512_add_pd(hi[q], square_hi);
        } else {
          const __m512d t_lo = subtract_broadcast(lane_lo, columns[q] + k);
          const __m512d t_hi = subtract_broadcast(lane_hi, columns[q] + k);
          const __m512d square_lo = _mm512_mul_pd(t_lo, t_lo);
          const __m512d square_hi = _mm512_mul_pd(t_hi, t_hi);
          if (first) {
            lo[q] = square_lo;
            hi[q] = square_hi;
          } else if (q % 2 == 0) {
            lo[q] = exact_add_on_multiply_pipes(lo[q], square_lo);
            hi[q] = _mm512_add_pd(hi[q], square_hi);
          } else {
            lo[q] = _mm512_add_pd(lo[q], square_lo);
            hi[q] = exact_add_on_multiply_pipes(hi[q], square_hi);
          }
        }
      }
    };
    std::size_t k = 0;
    if (set_by_first_step && !continue_sums) step(k++, true);
    tiling::run_steps<kBroadcasts>(k, steps, next, step);

    if (full && BInLanes) {
      transpose8x8(lo);
      transpose8x8(hi);
      for (std::size_t l = 0; l < 8; ++l) {
        _mm512_storeu_pd(c + l * ldc, lo[l]);
        _mm512_storeu_pd(c + (l + 8) * ldc, hi[l]);
      }
    } else if (!BInLanes && m == kLanes) {
      for (std::size_t q = 0; q < n; ++q) {
        _mm512_storeu_pd(c + q * ldc, lo[q]);
        _mm512_storeu_pd(c + q * ldc + 8, hi[q]);
      }
    } else if (!BInLanes) {
      for (std::size_t q = 0; q < n; ++q) {
        _mm512_mask_storeu_pd(c + q * ldc, lo_mask, lo[q]);
        _mm512_mask_storeu_pd(c + q * ldc + 8, hi_mask, hi[q]);
      }
    } else {
      for (std::size_t q = 0; q < kBroadcasts; ++q) {
        _mm512_store_pd(staged[q], lo[q]);
        _mm512_store_pd(staged[q] + 8, hi[q]);
      }
      for (std::size_t l = 0; l < m; ++l)
        for (std::size_t q = 0; q < n; ++q) c[q + l * ldc] = staged[q][l];
    }
  }
};

}  // namespace

void pairwise_avx512(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes) {
  tiling::pairwise<PairwiseTile>(a, b, C, l2_bytes);
}

}  // namespace korvane::variants
