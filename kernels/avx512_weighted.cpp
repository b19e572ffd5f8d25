// AVX-512F weighted sums. Built with -mavx512f and no contraction, in a unit
// apart from the pairwise kernel: in one unit, GCC's inlining traded the two
// loops' speed against each other. Contains no fused multiply-add.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "avx512_lanes.hpp"
#include "kernel_variants.hpp"
#include "unrolled.hpp"
#include "weighted_loop.hpp"

namespace korvane::variants {

namespace {

// The 512-bit vectors for weighting::weighted_block. Unaligned intrinsics
// throughout: GCC for Windows does not align the stack to 64.
struct Zmm {
  using Vector = __m512d;
  static constexpr weighting::WeightedTable kTable = weighting::kAvx512Weighted;
  static __mmask8 lanes(std::size_t lo, std::size_t hi) {
    return static_cast<__mmask8>(first_lanes(hi) & (0xFFU << lo));
  }
  static __m512d load(const double* p) { return _mm512_loadu_pd(p); }
  static __m512d load(const double* p, __mmask8 m) { return _mm512_maskz_loadu_pd(m, p); }
  static void store(double* p, __m512d x) { _mm512_storeu_pd(p, x); }
  static void store(double* p, __mmask8 m, __m512d x) { _mm512_mask_storeu_pd(p, m, x); }
  static __m512d broadcast(double x) { return _mm512_set1_pd(x); }
  static __m512d sub(__m512d x, __m512d y) { return _mm512_sub_pd(x, y); }
  static __m512d mul(__m512d x, __m512d y) { return _mm512_mul_pd(x, y); }
  static __m512d add(__m512d x, __m512d y) { return _mm512_add_pd(x, y); }

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

// Correct for any D; the dispatcher sends D <= 4, and D <= 16 with few
// columns of b, to the 256-bit loop.
void weighted_avx512(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                     std::size_t end) {
  // With D a multiple of 8, every column of b starts at the same place in a
  // line; past 12 vectors the passes then start that many coordinates early
  // (lanes masked off), so that all of b's loads are whole lines.
  const bool whole_lines = a.rows % 8 == 0 && a.rows > 96;
  const std::size_t lead =
      whole_lines ? reinterpret_cast<std::uintptr_t>(b.data) / sizeof(double) % 8 : 0;
  weighting::weighted_sums<Zmm>(a, b, Q, c.data, first, end, lead);
}

}  // namespace korvane::variants
