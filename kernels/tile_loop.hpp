// The portable macro-loop of the pairwise kernel and its register tile,
// shared by the vector variants; internal linkage throughout, so that each
// instruction-set unit compiles its own copy with its own flags.
//
// One side (the "lane" side) is packed into a stack buffer, coordinate by
// coordinate, so that coordinate k of `lanes` points is one contiguous run;
// the other side is read in place and each coordinate broadcast. A tile of
// lanes x broadcasts entries stays in registers while k runs. Long sums are
// cut into chunks: a later chunk continues from the partial sums the earlier
// one stored in C, so every entry is still one sum over ascending k. An edge
// tile is computed whole, with masked loads and stores where the level has
// them, else into a stack tile of which only its entries are copied out.
//
// A level's Ops gives Vector, kPairwise (its PairwiseTable), kMasked, and as
// static functions load(p), store(p, v), broadcast(p) (of *p), sub, mul, add;
// with kMasked, lanes(lo, hi) (the mask of lanes lo .. hi - 1), load(p, mask)
// and store(p, mask, v); pack_full_panel(points, dim, kc, panel): points[l *
// dim + k] to panel[k * lanes + l] for k < kc; and what TileDefaults gives,
// where it has better.
#ifndef KORVANE_KERNELS_TILE_LOOP_HPP
#define KORVANE_KERNELS_TILE_LOOP_HPP

#include <cstddef>

// Compilers without __builtin_prefetch prefetch through the SSE intrinsic on
// x86 and not at all elsewhere.
#if !defined(__GNUC__) && !defined(__clang__) && (defined(_M_IX86) || defined(_M_X64))
#define KORVANE_MM_PREFETCH 1
#include <xmmintrin.h>
#endif

#include "distance_kernels.hpp"
#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"
#include "pairwise_tables.hpp"
#include "unrolled.hpp"

namespace korvane::tiling {
namespace {

template <class T>
constexpr T smaller(T x, T y) {
  return x < y ? x : y;
}

// Locality 3 asks for the line in every cache level; 2 in L2 and beyond, for
// data needed a whole tile later.
template <int Locality = 3>
inline void prefetch(const double* address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address, 0, Locality);
#elif defined(KORVANE_MM_PREFETCH)
  _mm_prefetch(reinterpret_cast<const char*>(address), Locality >= 3 ? _MM_HINT_T0 : _MM_HINT_T1);
#else
  static_cast<void>(address);
#endif
}

// What a level's Ops inherits unless it has better: sub_broadcast(v, p), v -
// *p in every lane; add_on_multiply_pipes, rounding as add does; and no
// picks_points(dim), where run_points<Tile, KD>(points, columns, c, ldc, n)
// would compute a whole tile of fresh sums from points[l * KD + k] unpacked.
template <class Ops>
struct TileDefaults {
  template <class V>
  static KORVANE_ALWAYS_INLINE V sub_broadcast(V v, const double* p) {
    return Ops::sub(v, Ops::broadcast(p));
  }
  template <class V>
  static KORVANE_ALWAYS_INLINE V add_on_multiply_pipes(V sum, V square) {
    return Ops::add(sum, square);
  }
  static constexpr bool picks_points(int) { return false; }
};

// kTable.lanes lane points in kVectors vectors, by kTable.broadcasts
// broadcast points: entry (l, q) of the tile in lane l % kWidth of acc[q][l /
// kWidth], its place in C at c[l + q * ldc]. Whole tiles index the sums by
// constants only, so that they stay in registers.
template <class LevelOps>
struct RegisterTile {
  using Ops = LevelOps;
  using V = typename Ops::Vector;
  static constexpr PairwiseTable kTable = Ops::kPairwise;
  static constexpr std::size_t kWidth = sizeof(V) / sizeof(double);
  static constexpr std::size_t kVectors = kTable.lanes / kWidth;
  static constexpr std::size_t kBroadcasts = kTable.broadcasts;
  struct Sums {
    V acc[kBroadcasts][kVectors];
  };

  // f(q, v) for every vector of sums, q outermost, unrolled.
  template <class F>
  static KORVANE_ALWAYS_INLINE void each(const F& f) {
    variants::for_each_index<kBroadcasts>([&](auto q) KORVANE_ALWAYS_INLINE_LAMBDA {
      variants::for_each_index<kVectors>([&](auto v) KORVANE_ALWAYS_INLINE_LAMBDA { f(q, v); });
    });
  }

  static KORVANE_ALWAYS_INLINE V lane(const double* panel, std::size_t k, std::size_t v) {
    return Ops::load(panel + k * kTable.lanes + kWidth * v);
  }
  static KORVANE_ALWAYS_INLINE void load(Sums& s, const double* c, std::size_t ldc) {
    each([&](std::size_t q, std::size_t v)
             KORVANE_ALWAYS_INLINE_LAMBDA { s.acc[q][v] = Ops::load(c + q * ldc + kWidth * v); });
  }
  // The first n columns.
  static KORVANE_ALWAYS_INLINE void store(const Sums& s, double* c, std::size_t ldc,
                                          std::size_t n = kBroadcasts) {
    for (std::size_t q = 0; q < n; ++q)
      for (std::size_t v = 0; v < kVectors; ++v) Ops::store(c + q * ldc + kWidth * v, s.acc[q][v]);
  }
  // The first count doubles at p (all of them from kWidth on).
  static KORVANE_ALWAYS_INLINE V load_first(const double* p, std::size_t count) {
    return Ops::load(p, Ops::lanes(0, count));
  }
  static KORVANE_ALWAYS_INLINE void store_first(double* p, std::size_t count, V v) {
    Ops::store(p, Ops::lanes(0, count), v);
  }
  // Entries l < m, q < n only; the sums of the others start from zero.
  static KORVANE_ALWAYS_INLINE void load_masked(Sums& s, const double* c, std::size_t ldc,
                                                std::size_t m, std::size_t n) {
    each([&](std::size_t q, std::size_t v) KORVANE_ALWAYS_INLINE_LAMBDA {
      s.acc[q][v] = load_first(c + (q < n ? q : 0) * ldc + kWidth * v,
                               q < n && m > kWidth * v ? m - kWidth * v : 0);
    });
  }
  static KORVANE_ALWAYS_INLINE void store_masked(const Sums& s, double* c, std::size_t ldc,
                                                 std::size_t m, std::size_t n) {
    for (std::size_t q = 0; q < kBroadcasts; ++q) {
      if (q >= n) continue;
      store_first(c + q * ldc, m, s.acc[q][0]);
      for (std::size_t v = 1; v < kVectors; ++v)
        store_first(c + q * ldc + kWidth * v, m > kWidth * v ? m - kWidth * v : 0, s.acc[q][v]);
    }
  }

  // Adds the squares of coordinate k (sets them when first), a's coordinate
  // first in each difference of lane(k, v) and the broadcast columns[q][k].
  // With a's points in the lanes and long sums, every other add goes to the
  // multiply pipes: AMD Zen 2 to Zen 5 have two of them beside two add pipes.
  template <int KD, bool BInLanes, class Lane>
  static KORVANE_ALWAYS_INLINE void step(Sums& s, const Lane& lane, const double* const* columns,
                                         std::size_t k, bool first) {
    constexpr bool split = !BInLanes && !(KD > 0 && KD <= static_cast<int>(kTable.short_sum));
    V lanes[kVectors];
    variants::for_each_index<kVectors>([&](auto v)
                                           KORVANE_ALWAYS_INLINE_LAMBDA { lanes[v] = lane(k, v); });
    each([&](std::size_t q, std::size_t v) KORVANE_ALWAYS_INLINE_LAMBDA {
      const double* x = columns[q] + k;
      const V t = split      ? Ops::sub_broadcast(lanes[v], x)
                  : BInLanes ? Ops::sub(Ops::broadcast(x), lanes[v])
                             : Ops::sub(lanes[v], Ops::broadcast(x));
      const V square = Ops::mul(t, t);
      V& sum = s.acc[q][v];
      sum = first                       ? square
            : split && (q + v) % 2 == 0 ? Ops::add_on_multiply_pipes(sum, square)
                                        : Ops::add(sum, square);
    });
  }
};

// step(k, false) for k = first .. steps - 1. With next (the next tile's
// broadcast columns), each coordinate also asks for one line of them, column
// k % Broadcasts at line k / Broadcasts: spread out, the requests keep a
// stream from L3 or memory going without a burst of misses.
template <std::size_t Broadcasts, class Step>
KORVANE_ALWAYS_INLINE void run_steps(std::size_t first, std::size_t steps,
                                     const double* const* next, const Step& step) {
  std::size_t k = first;
  if (next != nullptr) {
    for (; k < steps; ++k) {
      prefetch<2>(next[k % Broadcasts] + (k / Broadcasts) * 8);
      step(k, false);
    }
  }
  for (; k < steps; ++k) step(k, false);
}

// One chunk of a whole tile: its sums start from the ones load() reads, or
// for a short fresh sum from the first square (+0.0 + t * t is t * t, a
// square never being -0), or from zero; store() takes them at the end.
template <class Tile, int KD, bool BInLanes, class Lane, class Load, class Store>
KORVANE_ALWAYS_INLINE void run_chunk(std::size_t kc, const Lane& lane, const double* const* columns,
                                     bool continue_sums, const double* const* next,
                                     const Load& load, const Store& store) {
  constexpr bool set_by_first_step = KD > 0 && KD <= static_cast<int>(Tile::kTable.short_sum);
  typename Tile::Sums sums{};
  const auto step = [&](std::size_t k, bool first) KORVANE_ALWAYS_INLINE_LAMBDA {
    Tile::template step<KD, BInLanes>(sums, lane, columns, k, first);
  };
  std::size_t k = 0;
  if (continue_sums) {
    load(sums);
  } else if (set_by_first_step) {
    step(k++, true);
  }
  run_steps<Tile::kTable.broadcasts>(k, KD > 0 ? static_cast<std::size_t>(KD) : kc, next, step);
  store(sums);
}

// One chunk of the m x n entries at c: entry (l, q) at c[l + q * ldc], or
// with BInLanes at c[q + l * ldc]. Columns of an edge tile beyond n repeat
// the last one; they are computed but never stored.
template <class Tile, int KD, bool BInLanes, class Lane>
KORVANE_ALWAYS_INLINE void run_tile(std::size_t kc, const Lane& lane, const double* const* columns,
                                    double* c, std::size_t ldc, std::size_t m, std::size_t n,
                                    bool continue_sums, const double* const* next) {
  constexpr std::size_t lanes = Tile::kTable.lanes;
  constexpr std::size_t broadcasts = Tile::kTable.broadcasts;
  using Sums = typename Tile::Sums;
  const auto chunk = [&](const auto& load, const auto& store) KORVANE_ALWAYS_INLINE_LAMBDA {
    run_chunk<Tile, KD, BInLanes>(kc, lane, columns, continue_sums, next, load, store);
  };
  if constexpr (!BInLanes && Tile::Ops::kMasked) {
    return chunk([&](Sums& s) { Tile::load_masked(s, c, ldc, m, n); },
                 [&](const Sums& s) { Tile::store_masked(s, c, ldc, m, n); });
  }
  if (!BInLanes && m == lanes && n == broadcasts) {
    return chunk([&](Sums& s) { Tile::load(s, c, ldc); },
                 [&](const Sums& s) { Tile::store(s, c, ldc); });
  }
  // Transposed (b in the lanes) or without masks: a stack tile, whose
  // entries outside the tile start from zero and are never stored.
  alignas(64) double staged[lanes * broadcasts];
  const auto entry = [&](std::size_t l, std::size_t q) -> double& {
    return c[BInLanes ? q + l * ldc : l + q * ldc];
  };
  chunk(
      [&](Sums& s) {
        for (std::size_t q = 0; q < broadcasts; ++q)
          for (std::size_t l = 0; l < lanes; ++l)
            staged[l + q * lanes] = q < n && l < m ? entry(l, q) : 0.0;
        Tile::load(s, staged, lanes);
      },
      [&](const Sums& s) {
        Tile::store(s, staged, lanes);
        for (std::size_t q = 0; q < n; ++q)
          for (std::size_t l = 0; l < m; ++l) entry(l, q) = staged[l + q * lanes];
      });
}

// Packs coordinates k0 .. k0 + kc - 1 of points first .. first + count - 1,
// zero for the lanes past count.
template <class Tile>
void pack_panels(const MatrixView& points, std::size_t first, std::size_t count, std::size_t k0,
                 std::size_t kc, double* buffer) {
  constexpr std::size_t lanes = Tile::kTable.lanes;
  const std::size_t dim = points.rows;
  for (std::size_t p = 0; p * lanes < count; ++p) {
    double* panel = buffer + p * lanes * kc;
    if (count - p * lanes >= lanes) {
      Tile::Ops::pack_full_panel(points.data + (first + p * lanes) * dim + k0, dim, kc, panel);
      continue;
    }
    for (std::size_t l = 0; l < lanes; ++l) {
      const std::size_t point = p * lanes + l;
      const double* src = points.data + (first + point) * dim + k0;
      for (std::size_t k = 0; k < kc; ++k) panel[k * lanes + l] = point < count ? src[k] : 0.0;
    }
  }
}

// The tiles of streamed columns r_begin .. r_end - 1 against the packed
// points first .. first + count - 1.
template <class Tile, int KD, bool BInLanes>
KORVANE_ALWAYS_INLINE void sweep(std::size_t kc, const double* buffer, std::size_t first,
                                 std::size_t count, const MatrixView& streamed, std::size_t r_begin,
                                 std::size_t r_end, std::size_t k0, const MatrixView& C,
                                 bool continue_sums) {
  constexpr std::size_t lanes = Tile::kTable.lanes;
  constexpr std::size_t broadcasts = Tile::kTable.broadcasts;
  const std::size_t dim = streamed.rows;
  const std::size_t ldc = C.rows;
  for (std::size_t r0 = r_begin; r0 < r_end; r0 += broadcasts) {
    const auto tile_columns = [&](std::size_t r, const double** out) {
      for (std::size_t q = 0; q < broadcasts; ++q)
        out[q] = streamed.data + (r + smaller(q, r_end - r - 1)) * dim + k0;
    };
    const double* columns[broadcasts];
    tile_columns(r0, columns);
    // With b in the lanes, long runs of a's points come from L3 or memory as
    // separate short runs that the hardware prefetchers pick up late: the
    // next tile's are asked for line by line as the tile runs.
    const bool spread = BInLanes && kc >= Tile::kTable.spread_from && r0 + broadcasts < r_end;
    const double* next[broadcasts];
    if (spread) tile_columns(r0 + broadcasts, next);
    // The partial sums a tile continues are not asked for: the strips keep
    // them in L2.
    for (std::size_t p = 0; p * lanes < count; ++p) {
      const std::size_t lane0 = first + p * lanes;
      const double* panel = buffer + p * lanes * kc;
      const auto lane = [panel](std::size_t k, std::size_t v)
                            KORVANE_ALWAYS_INLINE_LAMBDA { return Tile::lane(panel, k, v); };
      double* c = BInLanes ? C.data + r0 + lane0 * ldc : C.data + lane0 + r0 * ldc;
      run_tile<Tile, KD, BInLanes>(kc, lane, columns, c, ldc, smaller(lanes, count - p * lanes),
                                   smaller(broadcasts, r_end - r0), continue_sums,
                                   spread && p == 0 ? next : nullptr);
    }
  }
}

// When b has at most `broadcasts` short points, each lane point meets the
// one group of broadcast columns once, so a packing buffer only costs a round
// trip: full tiles take their lane points straight from a where the tile can,
// and only the tail tile is packed.
template <class Tile, int KD>
void pairwise_single_group(const MatrixView& a, const MatrixView& b, const MatrixView& C) {
  constexpr std::size_t lanes = Tile::kTable.lanes;
  constexpr std::size_t dim = KD;
  const double* columns[Tile::kTable.broadcasts];
  for (std::size_t q = 0; q < Tile::kTable.broadcasts; ++q)
    columns[q] = b.data + smaller(q, b.cols - 1) * dim;
  alignas(64) double panel[dim * lanes];
  const auto lane = [&panel](std::size_t k, std::size_t v)
                        KORVANE_ALWAYS_INLINE_LAMBDA { return Tile::lane(panel, k, v); };
  std::size_t first = 0;
  if constexpr (Tile::Ops::picks_points(KD)) {
    for (; first + lanes <= a.cols; first += lanes) {
      Tile::Ops::template run_points<Tile, KD>(a.data + first * dim, columns, C.data + first,
                                               C.rows, b.cols);
    }
  }
  for (; first < a.cols; first += lanes) {
    const std::size_t m = smaller(lanes, a.cols - first);
    pack_panels<Tile>(a, first, m, 0, dim, panel);
    run_tile<Tile, KD, false>(dim, lane, columns, C.data + first, C.rows, m, b.cols, false,
                              nullptr);
  }
}

template <class Tile, bool BInLanes>
void pairwise_tiled(const MatrixView& a, const MatrixView& b, const MatrixView& C,
                    std::size_t l2_bytes) {
  const MatrixView& packed = BInLanes ? b : a;
  const MatrixView& streamed = BInLanes ? a : b;
  const std::size_t dim = a.rows;
  const Blocks s = blocks_for(Tile::kTable, dim, packed.cols, l2_bytes);
  alignas(64) double buffer[Tile::kTable.panel_doubles];
  for (std::size_t r_begin = 0; r_begin < streamed.cols; r_begin += s.block) {
    const std::size_t r_end = smaller(r_begin + s.block, streamed.cols);
    for (std::size_t s_begin = 0; s_begin < packed.cols; s_begin += s.strip) {
      const std::size_t s_end = smaller(s_begin + s.strip, packed.cols);
      for (std::size_t k0 = 0; k0 < dim; k0 += s.chunk) {
        const std::size_t kc = smaller(s.chunk, dim - k0);
        for (std::size_t first = s_begin; first < s_end; first += s.group) {
          const std::size_t count = smaller(s.group, s_end - first);
          pack_panels<Tile>(packed, first, count, k0, kc, buffer);
          // Short sums unrolled completely.
          const auto run = [&](auto kd) {
            sweep<Tile, static_cast<int>(decltype(kd)::value), BInLanes>(
                kc, buffer, first, count, streamed, r_begin, r_end, k0, C, k0 > 0);
          };
          if (!variants::with_count<1, Tile::kTable.short_sum>(kc, run))
            run(std::integral_constant<std::size_t, 0>{});
        }
      }
    }
  }
}

// a's points in the lanes write C in storage order, but packing a costs a few
// broadcast columns of work, so with few points of b (and more of a) b's go
// in the lanes. Short points of a with one group of broadcast columns skip
// the buffer. The blocks are sized for an L2 cache of l2_bytes.
template <class Ops>
void pairwise(const MatrixView& a, const MatrixView& b, const MatrixView& C, std::size_t l2_bytes) {
  using Tile = RegisterTile<Ops>;
  constexpr PairwiseTable t = Ops::kPairwise;
  if (a.cols == 0 || b.cols == 0) return;
  if (a.rows == 0) {
    for (std::size_t n = 0; n < a.cols * b.cols; ++n) C.data[n] = 0.0;
    return;
  }
  if (b.cols <= t.b_in_lanes_max && a.cols > b.cols && a.rows >= t.b_in_lanes_from) {
    pairwise_tiled<Tile, true>(a, b, C, l2_bytes);
  } else if (b.cols <= t.broadcasts && a.rows <= t.short_sum) {
    variants::with_count<1, t.short_sum>(a.rows, [&](auto kd) {
      pairwise_single_group<Tile, static_cast<int>(decltype(kd)::value)>(a, b, C);
    });
  } else {
    pairwise_tiled<Tile, false>(a, b, C, l2_bytes);
  }
}

}  // namespace
}  // namespace korvane::tiling

#endif
