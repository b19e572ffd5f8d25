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
KORVANE_ALWAYS_INLINE void transpose8x8(__m512d* rows) {
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

struct Avx512Ops {
  using V = __m512d;
  static constexpr std::size_t kWidth = 8;
  static constexpr tiling::PairwiseTable kTable = tiling::kAvx512Pairwise;
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
    constexpr std::size_t lanes = kTable.lanes;
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

  static KORVANE_ALWAYS_INLINE V load(const double* p) { return _mm512_load_pd(p); }
  static KORVANE_ALWAYS_INLINE V loadu(const double* p) { return _mm512_loadu_pd(p); }
  static KORVANE_ALWAYS_INLINE void storeu(double* p, V v) { _mm512_storeu_pd(p, v); }
  static KORVANE_ALWAYS_INLINE V load_first(const double* p, std::size_t count) {
    return _mm512_maskz_loadu_pd(first_lanes(count), p);
  }
  static KORVANE_ALWAYS_INLINE void store_first(double* p, std::size_t count, V v) {
    _mm512_mask_storeu_pd(p, first_lanes(count), v);
  }
  static KORVANE_ALWAYS_INLINE V broadcast(const double* p) { return _mm512_set1_pd(*p); }
  static KORVANE_ALWAYS_INLINE V sub(V x, V y) { return _mm512_sub_pd(x, y); }
  static KORVANE_ALWAYS_INLINE V mul(V x, V y) { return _mm512_mul_pd(x, y); }
  static KORVANE_ALWAYS_INLINE V add(V x, V y) { return _mm512_add_pd(x, y); }
  static KORVANE_ALWAYS_INLINE V sub_broadcast(V v, const double* p) {
    return subtract_broadcast(v, p);
  }
  static KORVANE_ALWAYS_INLINE V add_on_multiply_pipes(V sum, V square) {
    return exact_add_on_multiply_pipes(sum, square);
  }
};

}  // namespace

void pairwise_avx512(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes) {
  tiling::pairwise<Avx512Ops>(a, b, C, l2_bytes);
}

}  // namespace korvane::variants
