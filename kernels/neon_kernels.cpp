// NEON (AdvSIMD) variant for 64-bit Arm, part of every such CPU: default
// flags, no detection, no fused vfmaq/vfmsq/vmlaq. The 8 x 6 tile takes 24 of
// the 32 q registers; a subtract, a multiply and an add per entry bind it by
// arithmetic (72 operations to 10 loads), and a wider one would spill.
#include <arm_neon.h>

#include <cstddef>

#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"
#include "unrolled.hpp"

namespace korvane::variants {

namespace {

struct NeonOps : tiling::TileDefaults<NeonOps> {
  using Vector = float64x2_t;
  static constexpr tiling::PairwiseTable kPairwise = tiling::kNeonPairwise;
  static constexpr bool kMasked = false;

  // Two points at a time: zipping two coordinates of each gives the panel's
  // pairs for both coordinates.
  static void pack_full_panel(const double* points, std::size_t dim, std::size_t kc,
                              double* panel) {
    constexpr std::size_t lanes = kPairwise.lanes;
    for (std::size_t l = 0; l < lanes; l += 2) {
      const double* p0 = points + l * dim;
      const double* p1 = p0 + dim;
      std::size_t k = 0;
      for (; k + 2 <= kc; k += 2) {
        const float64x2_t x0 = vld1q_f64(p0 + k);
        const float64x2_t x1 = vld1q_f64(p1 + k);
        vst1q_f64(panel + k * lanes + l, vzip1q_f64(x0, x1));
        vst1q_f64(panel + (k + 1) * lanes + l, vzip2q_f64(x0, x1));
      }
      if (k < kc) {
        panel[k * lanes + l] = p0[k];
        panel[k * lanes + l + 1] = p1[k];
      }
    }
  }
  static KORVANE_ALWAYS_INLINE Vector load(const double* p) { return vld1q_f64(p); }
  static KORVANE_ALWAYS_INLINE void store(double* p, Vector v) { vst1q_f64(p, v); }
  static KORVANE_ALWAYS_INLINE Vector broadcast(const double* p) { return vld1q_dup_f64(p); }
  static KORVANE_ALWAYS_INLINE Vector sub(Vector x, Vector y) { return vsubq_f64(x, y); }
  static KORVANE_ALWAYS_INLINE Vector mul(Vector x, Vector y) { return vmulq_f64(x, y); }
  static KORVANE_ALWAYS_INLINE Vector add(Vector x, Vector y) { return vaddq_f64(x, y); }
};

constexpr std::size_t kWeightedVectors = weighting::kNeonWeighted.sweep_vectors;
constexpr std::size_t kAhead = weighting::kNeonWeighted.ahead;

// Coordinates k0 .. k0 + 2 * NV (+ 1 when Odd) of c: NV vectors and, for an
// odd count, one more coordinate in a scalar register, both summed in pair
// order with the same rounding as the plain loop.
template <std::size_t NV, bool Odd>
void weighted_block(const MatrixView& a, const MatrixView& b, const MatrixView& Q, double* sums,
                    std::size_t k0, std::size_t first, std::size_t end) {
  constexpr std::size_t slots = NV > 0 ? NV : 1;
  const std::size_t dim = a.rows;
  const std::size_t n_a = a.cols;
  const std::size_t n_b = b.cols;
  float64x2_t acc[slots];
  for (std::size_t v = 0; v < NV; ++v) acc[v] = vld1q_f64(sums + k0 + 2 * v);
  double acc_odd = Odd ? sums[k0 + 2 * NV] : 0.0;
  for (std::size_t i = first; i < end; ++i) {
    const double* ai = a.data + i * dim + k0;
    float64x2_t av[slots];
    for (std::size_t v = 0; v < NV; ++v) av[v] = vld1q_f64(ai + 2 * v);
    const double a_odd = Odd ? ai[2 * NV] : 0.0;
    const double* weights = Q.data + i;  // row i of Q, stride n_a
    for (std::size_t j = 0; j < n_b; ++j) {
      if (j + kAhead < n_b) tiling::prefetch(weights + (j + kAhead) * n_a);
      const double w = weights[j * n_a];
      const float64x2_t wv = vdupq_n_f64(w);
      const double* bj = b.data + j * dim + k0;
      for (std::size_t v = 0; v < NV; ++v) {
        const float64x2_t t = vsubq_f64(av[v], vld1q_f64(bj + 2 * v));
        acc[v] = vaddq_f64(acc[v], vmulq_f64(vmulq_f64(wv, t), t));
      }
      if constexpr (Odd) {
        const double t = a_odd - bj[2 * NV];
        acc_odd = acc_odd + (w * t) * t;
      }
    }
  }
  for (std::size_t v = 0; v < NV; ++v) vst1q_f64(sums + k0 + 2 * v, acc[v]);
  if constexpr (Odd) sums[k0 + 2 * NV] = acc_odd;
}

}  // namespace

void pairwise_neon(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes) {
  tiling::pairwise<NeonOps>(a, b, C, l2_bytes);
}

void weighted_neon(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                   std::size_t end) {
  // No pairs: every sum stays as it is, and Q's data may be null.
  if (a.cols == 0 || b.cols == 0) return;
  constexpr std::size_t block = 2 * kWeightedVectors;
  for (std::size_t k0 = 0; k0 < a.rows; k0 += block) {
    const std::size_t count = a.rows - k0 < block ? a.rows - k0 : block;
    with_count<0, kWeightedVectors>(count / 2, [&](auto nv) {
      if (count % 2 != 0) {
        weighted_block<decltype(nv)::value, true>(a, b, Q, c.data, k0, first, end);
      } else if constexpr (decltype(nv)::value > 0) {
        weighted_block<decltype(nv)::value, false>(a, b, Q, c.data, k0, first, end);
      }
    });
  }
}

}  // namespace korvane::variants
