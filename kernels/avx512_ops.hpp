// The AVX-512F vector operations of the pairwise tile and the weighted loop,
// each unit compiling its own copy (internal linkage). load and store are
// unaligned: GCC for Windows does not align the stack to 64.
#ifndef KORVANE_KERNELS_AVX512_OPS_HPP
#define KORVANE_KERNELS_AVX512_OPS_HPP

#include <immintrin.h>

#include <array>
#include <cstddef>

#include "exact_add.hpp"
#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"
#include "unrolled.hpp"

// GCC's own shuffle intrinsics start from _mm512_undefined_pd(), which its
// -Wuninitialized then reports once inlined into a unit that includes this.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace korvane::variants {
namespace {

// The first count lanes of a zmm of doubles (all of them from 8 on).
inline __mmask8 first_lanes(std::size_t count) {
  return count >= 8 ? static_cast<__mmask8>(0xFF) : static_cast<__mmask8>((1U << count) - 1U);
}

// rows[0..7] become their transpose in place: rows[l][q] <- rows[q][l].
KORVANE_ALWAYS_INLINE void transpose8x8(__m512d* rows) {
  __m512d t[8];
  for (int p = 0; p < 4; ++p) {
    t[2 * p] = _mm512_unpacklo_pd(rows[2 * p], rows[2 * p + 1]);
    t[2 * p + 1] = _mm512_unpackhi_pd(rows[2 * p], rows[2 * p + 1]);
  }
  __m512d u[8];
  for (int h = 0; h < 8; h += 4) {
    for (int o = 0; o < 2; ++o) u[h + o] = _mm512_shuffle_f64x2(t[h + o], t[h + o + 2], 0x88);
    for (int o = 0; o < 2; ++o) u[h + o + 2] = _mm512_shuffle_f64x2(t[h + o], t[h + o + 2], 0xDD);
  }
  for (int r = 0; r < 4; ++r) rows[r] = _mm512_shuffle_f64x2(u[r], u[r + 4], 0x88);
  for (int r = 0; r < 4; ++r) rows[r + 4] = _mm512_shuffle_f64x2(u[r], u[r + 4], 0xDD);
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

struct Avx512Ops {
  using Vector = __m512d;
  static constexpr tiling::PairwiseTable kPairwise = tiling::kAvx512Pairwise;
  static constexpr weighting::WeightedTable kWeighted = weighting::kAvx512Weighted;
  static constexpr bool kMasked = true;
  static constexpr bool picks_points(int dim) { return dim >= 2 && dim < 8; }

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

  // Eight coordinates of eight points at a time through an 8 x 8 transpose.
  static void pack_full_panel(const double* points, std::size_t dim, std::size_t kc,
                              double* panel) {
    constexpr std::size_t lanes = kPairwise.lanes;
    std::size_t k = 0;
    for (; k + 8 <= kc; k += 8) {
      for (std::size_t half = 0; half < lanes; half += 8) {
        __m512d block[8];
        for (std::size_t l = 0; l < 8; ++l)
          block[l] = _mm512_loadu_pd(points + (half + l) * dim + k);
        transpose8x8(block);
        for (std::size_t r = 0; r < 8; ++r)
          _mm512_store_pd(panel + (k + r) * lanes + half, block[r]);
      }
    }
    for (; k < kc; ++k)
      for (std::size_t l = 0; l < lanes; ++l) panel[k * lanes + l] = points[l * dim + k];
  }

  // A full tile of fresh sums over D < 8 coordinates, its lane points picked
  // straight from their storage into registers.
  template <class Tile, int KD>
  static void run_points(const double* points, const double* const* columns, double* c,
                         std::size_t ldc, std::size_t n) {
    constexpr std::size_t dim = KD;
    __m512d lanes[dim][2];
    pick_short_points<dim>(points, lanes);
    const auto lane = [&lanes](std::size_t k, std::size_t half) { return lanes[k][half]; };
    tiling::run_chunk<Tile, KD, false>(
        dim, lane, columns, false, nullptr, [](typename Tile::Sums&) {},
        [&](const typename Tile::Sums& s) { Tile::store(s, c, ldc, n); });
  }

  static KORVANE_ALWAYS_INLINE __mmask8 lanes(std::size_t lo, std::size_t hi) {
    return static_cast<__mmask8>(first_lanes(hi) & (0xFFU << lo));
  }
  static KORVANE_ALWAYS_INLINE Vector load(const double* p) { return _mm512_loadu_pd(p); }
  static KORVANE_ALWAYS_INLINE Vector load(const double* p, __mmask8 m) {
    return _mm512_maskz_loadu_pd(m, p);
  }
  static KORVANE_ALWAYS_INLINE void store(double* p, Vector x) { _mm512_storeu_pd(p, x); }
  static KORVANE_ALWAYS_INLINE void store(double* p, __mmask8 m, Vector x) {
    _mm512_mask_storeu_pd(p, m, x);
  }
  static KORVANE_ALWAYS_INLINE Vector broadcast(double x) { return _mm512_set1_pd(x); }
  static KORVANE_ALWAYS_INLINE Vector broadcast(const double* p) { return _mm512_set1_pd(*p); }
  static KORVANE_ALWAYS_INLINE Vector sub(Vector x, Vector y) { return _mm512_sub_pd(x, y); }
  static KORVANE_ALWAYS_INLINE Vector mul(Vector x, Vector y) { return _mm512_mul_pd(x, y); }
  static KORVANE_ALWAYS_INLINE Vector add(Vector x, Vector y) { return _mm512_add_pd(x, y); }
  // v - *p in every lane, the broadcast being the subtract's own {1to8}
  // memory operand: on AMD Zen 4 a separate broadcast into a register takes a
  // floating-point pipe slot, an embedded one only a load. GCC does not embed
  // a broadcast that feeds two subtracts, hence the asm.
  static KORVANE_ALWAYS_INLINE Vector sub_broadcast(Vector v, const double* p) {
#if defined(__GNUC__) || defined(__clang__)
    Vector difference;
    __asm__("vsubpd %2%{1to8%}, %1, %0" : "=v"(difference) : "v"(v), "m"(*p));
    return difference;
#else
    return _mm512_sub_pd(v, _mm512_set1_pd(*p));
#endif
  }
  static KORVANE_ALWAYS_INLINE Vector add_on_multiply_pipes(Vector sum, Vector square) {
    return exact_add_on_multiply_pipes(sum, square);
  }

  // WeightRows' copy of a group of more than 2 rows of Q, 8 columns at a
  // time: each column's rows in one masked load, an 8 x 4 transpose per 4
  // rows, one store per row. Quicker than one double at a time at short
  // sums; for groups of 2 rows it was slower.
  static std::size_t copy_columns(const double* column, std::size_t ld, std::size_t rows,
                                  double* out, std::size_t n) {
    if (rows <= 2) return 0;
    const __mmask8 present = first_lanes(rows);
    // For permutex2var: low takes elements 0-1 and 4-5 of both sources, high
    // elements 2-3 and 6-7, a pair of the first source before the second's.
    const __m512i low = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
    const __m512i high = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
    std::size_t j = 0;
    for (; j + 8 <= n; j += 8, column += 8 * ld) {
      __m512d x[8];  // x[c] lane r: row r of column j + c
      for_each_index<8>([&](auto c) { x[c] = _mm512_maskz_loadu_pd(present, column + c * ld); });
      for_each_index<2>([&](auto h) {
        if (4 * h >= rows) return;
        // z[c]: rows 4 h to 4 h + 3 of columns c and c + 4, then one row per
        // vector by a 4 x 4 transpose in each half.
        constexpr int halves = h == 0 ? 0x44 : 0xEE;
        __m512d z[4];
        for_each_index<4>([&](auto c) { z[c] = _mm512_shuffle_f64x2(x[c], x[c + 4], halves); });
        const __m512d t0 = _mm512_unpacklo_pd(z[0], z[1]);
        const __m512d t1 = _mm512_unpackhi_pd(z[0], z[1]);
        const __m512d t2 = _mm512_unpacklo_pd(z[2], z[3]);
        const __m512d t3 = _mm512_unpackhi_pd(z[2], z[3]);
        const __m512d y[4] = {
            _mm512_permutex2var_pd(t0, low, t2), _mm512_permutex2var_pd(t1, low, t3),
            _mm512_permutex2var_pd(t0, high, t2), _mm512_permutex2var_pd(t1, high, t3)};
        for_each_index<4>([&](auto r) {
          if (4 * h + r < rows) _mm512_storeu_pd(out + (4 * h + r) * n + j, y[r]);
        });
      });
    }
    return j;
  }
};

}  // namespace
}  // namespace korvane::variants

#endif
