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

constexpr weighting::WeightedTable kTable = weighting::kAvx2Weighted;

// Weighted sums of coordinates k0 .. k0 + count - 1 (count <= 4 * NV) over
// every pair, in pair order, as in the AVX-512 unit.
template <std::size_t NV>
void weighted_block(const MatrixView& a, const MatrixView& b, const weighting::WeightRows& rows,
                    double* sums, std::size_t k0, std::size_t count, std::size_t first,
                    std::size_t end) {
  const std::size_t dim = a.rows;
  const std::size_t n_b = b.cols;
  const __m256i tail = first_lanes(count - (NV - 1) * 4);
  const auto load = [&tail](const double* p, std::size_t v) KORVANE_ALWAYS_INLINE_LAMBDA {
    return v < NV - 1 ? _mm256_loadu_pd(p + 4 * v) : _mm256_maskload_pd(p + 4 * v, tail);
  };
  __m256d acc[NV];
  for_each_index<NV>([&](auto v) { acc[v] = load(sums + k0, v); });
  const std::size_t stride = rows.stride();
  const std::size_t prefetched =
      rows.staged() ? 0 : n_b - (n_b < kTable.ahead ? n_b : kTable.ahead);
  const bool ask_next_group = !rows.staged() && weighting::asks_for_next_group(NV, a.cols, n_b);
  for (std::size_t i = first; i < end; ++i) {
    if (rows.staged() && rows.starts_group(i)) rows.stage(i);
    const double* ai = a.data + i * dim + k0;
    const double* weights = rows.weights(i);
    __m256d point[NV];
    for_each_index<NV>([&](auto v) { point[v] = load(ai, v); });
    const auto pair = [&](std::size_t j) KORVANE_ALWAYS_INLINE_LAMBDA {
      const __m256d w = _mm256_set1_pd(weights[j * stride]);
      const double* bj = b.data + j * dim + k0;
      for_each_index<NV>([&](auto v) {
        const __m256d t = _mm256_sub_pd(point[v], load(bj, v));
        acc[v] = _mm256_add_pd(acc[v], _mm256_mul_pd(_mm256_mul_pd(w, t), t));
      });
    };
    std::size_t j = 0;
    const bool ask_now = ask_next_group && i + 8 < a.cols;
    for (; j < prefetched; ++j) {
      tiling::prefetch(weights + (j + kTable.ahead) * stride);
      if (ask_now && j % 8 == i % 8) tiling::prefetch<2>(weights + 8 + j * stride);
      pair(j);
    }
    for (; j < n_b; ++j) pair(j);
  }
  for_each_index<NV - 1>([&](auto v) { _mm256_storeu_pd(sums + k0 + 4 * v, acc[v]); });
  _mm256_maskstore_pd(sums + k0 + 4 * (NV - 1), tail, acc[NV - 1]);
}

}  // namespace

void pairwise_avx2(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes) {
  tiling::pairwise<Avx2Ops>(a, b, C, l2_bytes);
}

void weighted_avx2(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                   std::size_t end) {
  alignas(64) double buffer[weighting::kStagedWeights];
  const weighting::WeightRows rows(Q, buffer, weighting::copies_rows(kTable, a, b), first);
  weighting::coordinate_passes<4, kTable.sweep_vectors>(
      a, b, [&](auto nv, std::size_t k0, std::size_t count, std::size_t) {
        weighted_block<decltype(nv)::value>(a, b, rows, c.data, k0, count, first, end);
      });
}

}  // namespace korvane::variants
