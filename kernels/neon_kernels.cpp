// NEON (AdvSIMD) variant for 64-bit Arm. Every such CPU has it, so it is
// built with the default flags (no contraction) and runs without detection.
// Only separate subtract, multiply and add intrinsics appear here, never the
// fused vfmaq/vfmsq/vmlaq forms.
//
// Pairwise: an 8 x 6 tile of entries in 24 of the 32 q registers (8 lane
// points in four 2-double vectors, 6 broadcast points). The other 8 hold the
// four lane vectors of the current coordinate, the broadcast and the
// differences and squares in flight. Without a fused form each entry costs a
// subtract, a multiply and an add per coordinate, so the tile is bound by
// arithmetic (72 operations against 10 loads per coordinate); a wider one
// would spill.
// Weighted: up to 24 coordinates of c in 12 registers across the whole pair
// loop, with the same coordinates of a's point in 12 more while j runs;
// vectorised across k.
// Clang keeps both register sets whole; GCC 12's instruction scheduler
// hoists loads and spills a few accumulators, which costs loads and stores
// beside the arithmetic, not arithmetic.
#include <arm_neon.h>

#include <cstddef>

#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"

namespace korvane::variants {

namespace {

struct PairwiseTile {
  static constexpr std::size_t kLanes = 8;
  static constexpr std::size_t kBroadcasts = 6;
  static constexpr std::size_t kVectors = kLanes / 2;

  // Two points at a time: zipping two coordinates of each gives the panel's
  // pairs for both coordinates.
  static void pack_full_panel(const double* points, std::size_t dim, std::size_t kc,
                              double* panel) {
    for (std::size_t l = 0; l < kLanes; l += 2) {
      const double* p0 = points + l * dim;
      const double* p1 = p0 + dim;
      std::size_t k = 0;
      for (; k + 2 <= kc; k += 2) {
        const float64x2_t x0 = vld1q_f64(p0 + k);
        const float64x2_t x1 = vld1q_f64(p1 + k);
        vst1q_f64(panel + k * kLanes + l, vzip1q_f64(x0, x1));
        vst1q_f64(panel + (k + 1) * kLanes + l, vzip2q_f64(x0, x1));
      }
      if (k < kc) {
        panel[k * kLanes + l] = p0[k];
        panel[k * kLanes + l + 1] = p1[k];
      }
    }
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
    // A full tile with a's points in the lanes moves whole vectors to and
    // from C; any other goes through a staging block (NEON has no masked
    // loads or stores).
    const bool direct = !BInLanes && m == kLanes;
    float64x2_t acc[kBroadcasts][kVectors];
    alignas(16) double staged[kBroadcasts][kLanes];

    // A short fresh sum starts with its first square as it is: +0.0 + t * t
    // is t * t, since a square is never -0. That saves one add in D.
    constexpr bool set_by_first_step = KD > 0 && KD <= 8;
    if (continue_sums && direct) {
      for (std::size_t q = 0; q < kBroadcasts; ++q) {
        const double* cq = c + (q < n ? q : 0) * ldc;
        for (std::size_t v = 0; v < kVectors; ++v) acc[q][v] = vld1q_f64(cq + 2 * v);
      }
    } else if (continue_sums) {
      // Entries outside the tile start from zero and are never stored.
      for (std::size_t q = 0; q < kBroadcasts; ++q)
        for (std::size_t l = 0; l < kLanes; ++l)
          staged[q][l] = q < n && l < m ? c[BInLanes ? q + l * ldc : l + q * ldc] : 0.0;
      for (std::size_t q = 0; q < kBroadcasts; ++q)
        for (std::size_t v = 0; v < kVectors; ++v) acc[q][v] = vld1q_f64(staged[q] + 2 * v);
    } else if (!set_by_first_step) {
      for (std::size_t q = 0; q < kBroadcasts; ++q)
        for (std::size_t v = 0; v < kVectors; ++v) acc[q][v] = vdupq_n_f64(0.0);
    }

    // One coordinate for the whole tile; a's coordinate always comes first
    // in the difference.
    const auto step = [&](std::size_t k, bool first) {
      float64x2_t lanes[kVectors];
      for (std::size_t v = 0; v < kVectors; ++v) lanes[v] = vld1q_f64(panel + k * kLanes + 2 * v);
      for (std::size_t q = 0; q < kBroadcasts; ++q) {
        const float64x2_t x = vld1q_dup_f64(columns[q] + k);
        for (std::size_t v = 0; v < kVectors; ++v) {
          const float64x2_t t = BInLanes ? vsubq_f64(x, lanes[v]) : vsubq_f64(lanes[v], x);
          const float64x2_t square = vmulq_f64(t, t);
          acc[q][v] = first ? square : vaddq_f64(acc[q][v], square);
        }
      }
    };
    std::size_t k = 0;
    if (set_by_first_step && !continue_sums) step(k++, true);
    tiling::run_steps<kBroadcasts>(k, steps, next, step);

    // Loops over whole tiles index acc by constants only, so that it stays
    // in registers.
    if (direct) {
      for (std::size_t q = 0; q < kBroadcasts; ++q) {
        if (q < n) {
          for (std::size_t v = 0; v < kVectors; ++v) vst1q_f64(c + q * ldc + 2 * v, acc[q][v]);
        }
      }
      return;
    }
    for (std::size_t q = 0; q < kBroadcasts; ++q)
      for (std::size_t v = 0; v < kVectors; ++v) vst1q_f64(staged[q] + 2 * v, acc[q][v]);
    for (std::size_t q = 0; q < n; ++q)
      for (std::size_t l = 0; l < m; ++l) c[BInLanes ? q + l * ldc : l + q * ldc] = staged[q][l];
  }
};

// 24 coordinates of c per pass over the pairs.
constexpr std::size_t kWeightedVectors = 12;

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
      if (j + 8 < n_b) tiling::prefetch(weights + (j + 8) * n_a);
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

// One pass over the pairs for count (1 to 2 * kWeightedVectors) coordinates.
template <std::size_t NV = 0>
void weighted_pass(const MatrixView& a, const MatrixView& b, const MatrixView& Q, double* sums,
                   std::size_t k0, std::size_t count, std::size_t first, std::size_t end) {
  if constexpr (NV < kWeightedVectors) {
    if (count / 2 != NV) return weighted_pass<NV + 1>(a, b, Q, sums, k0, count, first, end);
  }
  if (count % 2 != 0) {
    weighted_block<NV, true>(a, b, Q, sums, k0, first, end);
  } else if constexpr (NV > 0) {
    weighted_block<NV, false>(a, b, Q, sums, k0, first, end);
  }
}

}  // namespace

void pairwise_neon(MatrixView a, MatrixView b, MatrixView C, std::size_t l2_bytes) {
  tiling::pairwise<PairwiseTile>(a, b, C, l2_bytes);
}

void weighted_neon(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                   std::size_t end) {
  // No pairs: every sum stays as it is, and Q's data may be null.
  if (a.cols == 0 || b.cols == 0) return;
  constexpr std::size_t block = 2 * kWeightedVectors;
  for (std::size_t k0 = 0; k0 < a.rows; k0 += block) {
    weighted_pass(a, b, Q, c.data, k0, a.rows - k0 < block ? a.rows - k0 : block, first, end);
  }
}

}  // namespace korvane::variants
