// AVX2 variant. Built with -mavx2 (no -mfma, no contraction); run only when
// CPUID and XGETBV report AVX2 and YMM state support.
//
// Pairwise: the AVX2 tile with every add on the add pipes. Weighted: up to 32
// coordinates of c in 8 ymm registers across the whole pair loop, vectorised
// across k; the AVX2 + FMA3 variant and short AVX-512 sums run it too.
#include <immintrin.h>

#include <cstddef>

#include "avx2_tile.hpp"
#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"
#include "unrolled.hpp"
#include "weighted_loop.hpp"

namespace korvane::variants {

namespace {

// Every add on the add pipes: this unit has no FMA3.
struct AddPipesOnly {
  static __m256d on_multiply_pipes(__m256d sum, __m256d square) {
    return _mm256_add_pd(sum, square);
  }
};

// Staged: rows holds copies of Q's rows (see WeightRows); otherwise they
// are read in place. A template parameter: as a run-time flag, the in-place
// loop measured slower at short sums.
template <std::size_t NV, bool Staged>
void weighted_block(const MatrixView& a, const MatrixView& b, const weighting::WeightRows& rows,
                    double* sums, std::size_t k0, std::size_t count, std::size_t first,
                    std::size_t end) {
  const std::size_t dim = a.rows;
  const std::size_t n_a = a.cols;
  const std::size_t n_b = b.cols;
  const __m256i tail = first_lanes(count - (NV - 1) * 4);
  __m256d acc[NV];
  for_each_index<NV>([&](auto v) {
    acc[v] = v < NV - 1 ? _mm256_loadu_pd(sums + k0 + 4 * v)
                        : _mm256_maskload_pd(sums + k0 + 4 * v, tail);
  });
  const std::size_t stride = rows.stride();
  const bool ask_next_group = !Staged && weighting::asks_for_next_group(NV, n_a, n_b);
  for (std::size_t i = first; i < end; ++i) {
    if (Staged && rows.starts_group(i)) rows.stage(i);
    const double* ai = a.data + i * dim + k0;
    const double* weights = rows.weights(i);
    const bool ask_now = ask_next_group && i + 8 < n_a;
    const auto pair = [&](std::size_t j) KORVANE_ALWAYS_INLINE_LAMBDA {
      const __m256d w = _mm256_set1_pd(weights[j * stride]);
      const double* bj = b.data + j * dim + k0;
      for_each_index<NV>([&](auto v) {
        const __m256d av =
            v < NV - 1 ? _mm256_loadu_pd(ai + 4 * v) : _mm256_maskload_pd(ai + 4 * v, tail);
        const __m256d bv =
            v < NV - 1 ? _mm256_loadu_pd(bj + 4 * v) : _mm256_maskload_pd(bj + 4 * v, tail);
        const __m256d t = _mm256_sub_pd(av, bv);
        acc[v] = _mm256_add_pd(acc[v], _mm256_mul_pd(_mm256_mul_pd(w, t), t));
      });
    };
    // With one vector of sums, eight pairs at a time with no branch among
    // them. With more vectors that was slower (GCC then keeps less in
    // registers), and so was one pair at a time making its requests without
    // branches.
    std::size_t j = 0;
    if constexpr (NV == 1) {
      for (; j + 16 <= n_b; j += 8) {
        if (ask_now) tiling::prefetch<2>(weights + 8 + (j + i % 8) * stride);
        for_each_index<8>([&](auto u) {
          if (!Staged) tiling::prefetch(weights + (j + u + 8) * stride);
          pair(j + u);
        });
      }
    }
    for (; j < n_b; ++j) {
      if (!Staged && j + 8 < n_b) tiling::prefetch(weights + (j + 8) * stride);
      if (ask_now && j % 8 == i % 8) tiling::prefetch<2>(weights + 8 + j * stride);
      pair(j);
    }
  }
  for_each_index<NV - 1>([&](auto v) { _mm256_storeu_pd(sums + k0 + 4 * v, acc[v]); });
  _mm256_maskstore_pd(sums + k0 + 4 * (NV - 1), tail, acc[NV - 1]);
}

}  // namespace

void pairwise_avx2(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes) {
  tiling::pairwise<PairwiseTile<AddPipesOnly>>(a, b, C, l2_bytes);
}

void weighted_avx2(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                   std::size_t end) {
  alignas(64) double buffer[weighting::kStagedWeights];
  // Copied rows side by side pay from four vectors of sums (see WeightRows).
  const weighting::WeightRows rows(Q, buffer, 0, a.rows > 12, first);
  weighting::coordinate_passes<tables::kAvx2Pass.lanes, tables::kAvx2Pass.vectors>(
      a, b, [&](auto nv, std::size_t k0, std::size_t count, std::size_t) {
        if (rows.staged()) {
          weighted_block<decltype(nv)::value, true>(a, b, rows, c.data, k0, count, first, end);
        } else {
          weighted_block<decltype(nv)::value, false>(a, b, rows, c.data, k0, count, first, end);
        }
      });
}

}  // namespace korvane::variants
