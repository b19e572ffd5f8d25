// AVX-512F weighted sums. Built with -mavx512f and no contraction, in a unit
// apart from the pairwise kernel: in one unit, GCC's inlining traded the two
// loops' speed against each other. Contains no fused multiply-add.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "avx512_lanes.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"
#include "unrolled.hpp"
#include "weighted_loop.hpp"

namespace korvane::variants {

namespace {

constexpr weighting::WeightedTable kTable = weighting::kAvx512Weighted;

// p moved back by lead doubles, computed as an integer: the address may lie
// before the array, and only masked-off lanes are ever read or written there.
template <class T>
T* lead_start(T* p, std::size_t lead) {
  return reinterpret_cast<T*>(reinterpret_cast<std::uintptr_t>(p) - lead * sizeof(double));
}

// WeightRows' copy of a group of more than 2 rows of Q, 8 columns at a time:
// each column's rows in one masked load, an 8 x 8 transpose (rows 4-7
// dropped where there are at most 4), one store per row. Quicker than one
// double at a time at short sums; for groups of 2 rows it was slower.
struct TransposedColumns {
  std::size_t operator()(const double* column, std::size_t ld, std::size_t rows, double* out,
                         std::size_t n) const {
    if (rows <= 2) return 0;
    return rows <= 4 ? copy<4>(column, ld, rows, out, n) : copy<8>(column, ld, rows, out, n);
  }

  template <std::size_t R>
  static std::size_t copy(const double* column, std::size_t ld, std::size_t rows, double* out,
                          std::size_t n) {
    const __mmask8 present = first_lanes(rows);
    // For permutex2var: low takes elements 0-1 and 4-5 of both sources, high
    // elements 2-3 and 6-7, a pair of the first source before the second's.
    const __m512i low = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
    const __m512i high = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
    std::size_t j = 0;
    for (; j + 8 <= n; j += 8, column += 8 * ld) {
      __m512d x[8];  // x[c] lane r: row r of column j + c
      for_each_index<8>([&](auto c) { x[c] = _mm512_maskz_loadu_pd(present, column + c * ld); });
      __m512d y[R];  // y[r] lane c: the same
      if constexpr (R == 4) {
        // Columns c and c + 4 side by side, then a 4 x 4 transpose per half.
        __m512d z[4];
        for_each_index<4>(
            [&](auto c) { z[c] = _mm512_insertf64x4(x[c], _mm512_castpd512_pd256(x[c + 4]), 1); });
        const __m512d t0 = _mm512_unpacklo_pd(z[0], z[1]);
        const __m512d t1 = _mm512_unpackhi_pd(z[0], z[1]);
        const __m512d t2 = _mm512_unpacklo_pd(z[2], z[3]);
        const __m512d t3 = _mm512_unpackhi_pd(z[2], z[3]);
        y[0] = _mm512_permutex2var_pd(t0, low, t2);
        y[1] = _mm512_permutex2var_pd(t1, low, t3);
        y[2] = _mm512_permutex2var_pd(t0, high, t2);
        y[3] = _mm512_permutex2var_pd(t1, high, t3);
      } else {
        __m512d t[8];
        for_each_index<4>([&](auto c) {
          t[2 * c] = _mm512_unpacklo_pd(x[2 * c], x[2 * c + 1]);
          t[2 * c + 1] = _mm512_unpackhi_pd(x[2 * c], x[2 * c + 1]);
        });
        // u[4 h + e], for the four columns from 4 h: rows e' and e' + 4,
        // e' being 0, 2, 1, 3 for e = 0, 1, 2, 3.
        __m512d u[8];
        for_each_index<2>([&](auto h) {
          u[4 * h] = _mm512_permutex2var_pd(t[4 * h], low, t[4 * h + 2]);
          u[4 * h + 1] = _mm512_permutex2var_pd(t[4 * h], high, t[4 * h + 2]);
          u[4 * h + 2] = _mm512_permutex2var_pd(t[4 * h + 1], low, t[4 * h + 3]);
          u[4 * h + 3] = _mm512_permutex2var_pd(t[4 * h + 1], high, t[4 * h + 3]);
        });
        constexpr std::size_t row_of[4] = {0, 2, 1, 3};
        for_each_index<4>([&](auto e) {
          y[row_of[e]] = _mm512_shuffle_f64x2(u[e], u[e + 4], 0x44);
          y[row_of[e] + 4] = _mm512_shuffle_f64x2(u[e], u[e + 4], 0xEE);
        });
      }
      for_each_index<R>([&](auto r) {
        if (r < rows) _mm512_storeu_pd(out + r * n + j, y[r]);
      });
    }
    return j;
  }
};

// Weighted sums of coordinates k0 .. k0 + count - 1 (lead + count <= 8 * NV)
// over every pair, in pair order, vectorised across k: each of the NV vectors
// of sums gets one term per pair. Vector v holds coordinates k0 - lead + 8 v
// on; the lanes outside the run are masked. Q's rows come through rows,
// copied or read in place.
template <std::size_t NV>
void weighted_block(const MatrixView& a, const MatrixView& b, const weighting::WeightRows& rows,
                    double* sums, std::size_t k0, std::size_t count, std::size_t lead,
                    std::size_t first, std::size_t end) {
  const std::size_t dim = a.rows;
  const std::size_t n_b = b.cols;
  const __mmask8 head = static_cast<__mmask8>(0xFFU << lead);
  const __mmask8 tail = first_lanes(lead + count - (NV - 1) * 8);
  const auto mask = [head, tail](std::size_t v) KORVANE_ALWAYS_INLINE_LAMBDA {
    return static_cast<__mmask8>((v == 0 ? head : 0xFF) & (v == NV - 1 ? tail : 0xFF));
  };
  // Unaligned intrinsics throughout: GCC for Windows does not align the
  // stack to 64.
  __m512d acc[NV];
  double* const out = lead_start(sums + k0, lead);
  for_each_index<NV>([&](auto v) { acc[v] = _mm512_maskz_loadu_pd(mask(v), out + 8 * v); });
  const std::size_t stride = rows.stride();
  const std::size_t prefetched =
      rows.staged() ? 0 : n_b - (n_b < kTable.ahead ? n_b : kTable.ahead);
  const bool ask_next_group = !rows.staged() && weighting::asks_for_next_group(NV, a.cols, n_b);
  // Past point_registers vectors, point i is read from a copy in L1.
  constexpr bool point_in_registers = NV <= kTable.point_registers;
  __m512d point[point_in_registers ? NV : 1];
  alignas(64) double point_copy[point_in_registers ? 1 : 8 * NV];
  for (std::size_t i = first; i < end; ++i) {
    if (rows.staged() && rows.starts_group(i)) rows.stage(i, TransposedColumns{});
    const double* ai = lead_start(a.data + i * dim + k0, lead);
    const double* weights = rows.weights(i);
    for_each_index<NV>([&](auto v) {
      const __m512d lanes = _mm512_maskz_loadu_pd(mask(v), ai + 8 * v);
      if constexpr (point_in_registers) {
        point[v] = lanes;
      } else {
        _mm512_storeu_pd(point_copy + 8 * v, lanes);
      }
    });
    const double* bj = lead_start(b.data + k0, lead);
    // Between b's first and last column, the lanes outside the run read the
    // neighbouring columns' coordinates and are never used, so only the two
    // outer columns need masked loads, which are slower.
    const auto pair = [&](std::size_t j, auto outer) KORVANE_ALWAYS_INLINE_LAMBDA {
      const __m512d w = _mm512_set1_pd(weights[j * stride]);
      const double* const copied = unseen(point_copy);  // read anew at every pair
      for_each_index<NV>([&](auto v) {
        const __m512d bv = outer && (v == 0 || v == NV - 1)
                               ? _mm512_maskz_loadu_pd(mask(v), bj + 8 * v)
                               : _mm512_loadu_pd(bj + 8 * v);
        const __m512d lanes = point_in_registers ? point[v] : _mm512_loadu_pd(copied + 8 * v);
        const __m512d t = _mm512_sub_pd(lanes, bv);
        acc[v] = _mm512_add_pd(acc[v], _mm512_mul_pd(_mm512_mul_pd(w, t), t));
      });
      bj += dim;
    };
    pair(0, std::true_type{});
    std::size_t j = 1;
    std::size_t next_group_column = ask_next_group && i + 8 < a.cols ? i % 8 : n_b;
    for (; j < prefetched; ++j) {
      tiling::prefetch(weights + (j + kTable.ahead) * stride);
      if (j == next_group_column) {
        tiling::prefetch<2>(weights + 8 + j * stride);
        next_group_column += 8;
      }
      pair(j, std::false_type{});
    }
    for (; j + 1 < n_b; ++j) pair(j, std::false_type{});
    if (j < n_b) pair(j, std::true_type{});
  }
  for_each_index<NV>([&](auto v) { _mm512_mask_storeu_pd(out + 8 * v, mask(v), acc[v]); });
}

}  // namespace

// Correct for any D; the dispatcher sends D <= 4, and D <= 16 with few
// columns of b, to the 256-bit loop.
void weighted_avx512(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                     std::size_t end) {
  // With D a multiple of 8, every column of b starts at the same place in a
  // line; past point_registers vectors the passes then start that many
  // coordinates early (lanes masked off), so that all of b's loads are whole
  // lines.
  const bool whole_lines = a.rows % 8 == 0 && a.rows > 8 * kTable.point_registers;
  const std::size_t lead =
      whole_lines ? reinterpret_cast<std::uintptr_t>(b.data) / sizeof(double) % 8 : 0;
  alignas(64) double buffer[weighting::kStagedWeights];
  const weighting::WeightRows rows(Q, buffer, weighting::copies_rows(kTable, a, b), first);
  weighting::coordinate_passes<8, kTable.sweep_vectors>(
      a, b,
      [&](auto nv, std::size_t k0, std::size_t count, std::size_t first_lead) {
        weighted_block<decltype(nv)::value>(a, b, rows, c.data, k0, count, first_lead, first, end);
      },
      lead);
}

}  // namespace korvane::variants
