// The portable macro-loop of the pairwise kernel, shared by the vector
// variants; only the register-blocked tile is written per instruction set.
//
// One side (the "lane" side) is packed into a fixed stack buffer, coordinate
// by coordinate, so that coordinate k of kLanes points is one contiguous run;
// the other side is read in place and each coordinate broadcast. A tile of
// kLanes x kBroadcasts entries stays in registers while k runs. Long sums are
// cut into chunks of at most kc coordinates: a later chunk continues from the
// partial sums the earlier one stored in C, so every entry is still one
// sequential sum over ascending k. Edge tiles use the same loop with smaller
// extents (m lanes, n broadcast columns).
//
// Blocking: the streamed side is cut into blocks of columns whose current
// chunk fills half of the L2 cache (the rest holds C's lines and the packed
// side passing through), so that every group of lane points after the first
// finds the block in L2 instead of streaming all of it again from L3 or
// memory. With more than one chunk, the packed side is also cut into strips
// whose entries in the block fill a quarter of L2: each block runs its strips,
// each strip its chunks in order and each chunk the strip's groups, so that
// the partial sums every later chunk continues are found in L2. Without
// strips they came from L3 or memory: measured on AMD Zen 5 (AVX-512) at
// D = 512 and 1024 with 2000 x 2000 entries, strips are 1.2x faster. The
// block's chunk then takes only a quarter of L2 too, so that it and the
// strip's sums both stay there: 4-6% faster again at those shapes, and no
// change at D = 256 to 1024 with 256 or 500 points a side.
//
// Every name here is a template on the tile type, so each instruction-set
// translation unit gets its own instantiations, compiled with its own flags.
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

namespace korvane::tiling {

// The packing buffer: 16 KB of stack, whatever the input size.
constexpr std::size_t kPanelDoubles = 2048;

// Internal linkage: each instruction-set unit keeps its own copy.
static constexpr std::size_t smaller(std::size_t x, std::size_t y) {
  return x < y ? x : y;
}

// Tile requirements: kLanes and kBroadcasts;
//   static void pack_full_panel(const double* points, std::size_t dim, std::size_t kc,
//       double* panel);
// which stores coordinate k of point l (points + l * dim + k) at
// panel[k * kLanes + l] for kLanes points and kc coordinates; and
//   template <int KD, bool BInLanes> static void run(std::size_t kc, const double* panel,
//       const double* const* columns, double* c, std::size_t ldc, std::size_t m,
//       std::size_t n, bool continue_sums, const double* const* next);
// panel holds kc rows of kLanes packed coordinates; columns[q] points at kc
// contiguous coordinates of broadcast point q; KD > 0 fixes kc at compile
// time; next is nullptr or what run_steps takes. Without BInLanes, entry
// (lane l, column q) is c[l + q * ldc] and the difference is lane minus
// broadcast; with it, the entry is c[q + l * ldc] and the difference is
// broadcast minus lane (a's coordinate always comes first).
//   template <int KD> static void run_points(const double* points,
//       const double* const* columns, double* c, std::size_t ldc, std::size_t n);
// is run<KD, false> over a full tile of fresh sums whose lane points are
// read from points (point l at points + l * KD) instead of a packed panel.

// Locality 3 asks for the line in every cache level; 2 in L2 and beyond, for
// data needed a whole tile later.
template <int Locality = 3>
static inline void prefetch(const double* address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address, 0, Locality);
#elif defined(KORVANE_MM_PREFETCH)
  _mm_prefetch(reinterpret_cast<const char*>(address), Locality >= 3 ? _MM_HINT_T0 : _MM_HINT_T1);
#else
  static_cast<void>(address);
#endif
}

// count doubles from address; one request per 64-byte line.
static inline void prefetch_run_to_l2(const double* address, std::size_t count) {
  for (std::size_t e = 0; e < count; e += 8) prefetch<2>(address + e);
  prefetch<2>(address + count - 1);
}

// The coordinate loop of a tile: step(k, false) for k = first .. steps - 1.
// With next (the next tile's broadcast columns), each coordinate also asks for
// one line of them, column k % Broadcasts at line k / Broadcasts, which covers
// every line over the chunk's steps: spread out, the requests keep a stream
// from L3 or memory going without stalling on a burst of misses.
template <std::size_t Broadcasts, class Step>
inline void run_steps(std::size_t first, std::size_t steps, const double* const* next,
                      const Step& step) {
  std::size_t k = first;
  if (next != nullptr) {
    for (; k < steps; ++k) {
      prefetch<2>(next[k % Broadcasts] + (k / Broadcasts) * 8);
      step(k, false);
    }
  }
  for (; k < steps; ++k) step(k, false);
}

// run_points for a tile with no faster way to reach unpacked points: the
// full tile is packed into a local panel first.
template <class Tile, int KD>
void run_packed_points(const double* points, const double* const* columns, double* c,
                       std::size_t ldc, std::size_t n) {
  alignas(64) double panel[KD * Tile::kLanes];
  Tile::pack_full_panel(points, KD, KD, panel);
  Tile::template run<KD, false>(KD, panel, columns, c, ldc, Tile::kLanes, n, false, nullptr);
}

// Packs coordinates k0 .. k0 + kc - 1 of points first .. first + count - 1,
// and asks for the same coordinates of the next count points meanwhile: with
// long sums the packed side streams from memory.
template <class Tile>
void pack_panels(const MatrixView& points, std::size_t first, std::size_t count, std::size_t k0,
                 std::size_t kc, double* buffer) {
  constexpr std::size_t lanes = Tile::kLanes;
  const std::size_t dim = points.rows;
  const std::size_t ahead = kc >= 16 ? smaller(count, points.cols - first - count) : 0;
  for (std::size_t point = first + count; point < first + count + ahead; ++point) {
    const double* src = points.data + point * dim + k0;
    for (std::size_t k = 0; k < kc; k += 8) prefetch(src + k);
  }
  for (std::size_t p = 0; p * lanes < count; ++p) {
    double* panel = buffer + p * lanes * kc;
    if (count - p * lanes >= lanes) {
      Tile::pack_full_panel(points.data + (first + p * lanes) * dim + k0, dim, kc, panel);
      continue;
    }
    for (std::size_t l = 0; l < lanes; ++l) {
      const std::size_t point = p * lanes + l;
      if (point < count) {
        const double* src = points.data + (first + point) * dim + k0;
        for (std::size_t k = 0; k < kc; ++k) panel[k * lanes + l] = src[k];
      } else {
        for (std::size_t k = 0; k < kc; ++k) panel[k * lanes + l] = 0.0;
      }
    }
  }
}

// The tiles of streamed columns r_begin .. r_end - 1 against the packed
// points first .. first + count - 1.
template <class Tile, int KD, bool BInLanes>
void sweep(std::size_t kc, const double* buffer, std::size_t first, std::size_t count,
           const MatrixView& streamed, std::size_t r_begin, std::size_t r_end, std::size_t k0,
           const MatrixView& C, bool continue_sums) {
  constexpr std::size_t lanes = Tile::kLanes;
  constexpr std::size_t broadcasts = Tile::kBroadcasts;
  const std::size_t dim = streamed.rows;
  const std::size_t ldc = C.rows;
  for (std::size_t r0 = r_begin; r0 < r_end; r0 += broadcasts) {
    const std::size_t n = smaller(broadcasts, r_end - r0);
    // Missing columns of an edge tile repeat the last one; they are computed
    // but never stored.
    const auto tile_columns = [&](std::size_t r, const double** out) {
      for (std::size_t q = 0; q < broadcasts; ++q) {
        out[q] = streamed.data + (r + smaller(q, r_end - r - 1)) * dim + k0;
      }
    };
    const double* columns[broadcasts];
    tile_columns(r0, columns);
    // The next tile's columns are read in place, each a separate short run
    // that the hardware prefetchers pick up late. Long runs of a's points
    // (b in the lanes) come from L3 or memory and the tile asks for them
    // line by line as it runs; short runs, and b's columns (mostly in L2,
    // the blocks being sized for it), are asked for at once. Measured with
    // 16 lane points of b: spreading gains 10-30% at D = 128-256 and loses
    // 10-30% at D = 16-48.
    const bool spread = BInLanes && kc >= 64 && r0 + broadcasts < r_end;
    const double* next[broadcasts];
    if (spread) tile_columns(r0 + broadcasts, next);
    for (std::size_t r = r0 + broadcasts; !spread && r < smaller(r0 + 2 * broadcasts, r_end); ++r) {
      prefetch_run_to_l2(streamed.data + r * dim + k0, kc);
    }
    for (std::size_t p = 0; p * lanes < count; ++p) {
      const std::size_t lane0 = first + p * lanes;
      const std::size_t m = smaller(lanes, count - p * lanes);
      // The partial sums a tile continues are not asked for: the strips keep
      // them in L2, and asking for them anyway cost 3-9% on AMD Zen 5 at
      // D = 256-4096.
      double* c = BInLanes ? C.data + r0 + lane0 * ldc : C.data + lane0 + r0 * ldc;
      Tile::template run<KD, BInLanes>(kc, buffer + p * lanes * kc, columns, c, ldc, m, n,
                                       continue_sums, spread && p == 0 ? next : nullptr);
    }
  }
}

template <class Tile, bool BInLanes>
void sweep_any_depth(std::size_t kc, const double* buffer, std::size_t first, std::size_t count,
                     const MatrixView& streamed, std::size_t r_begin, std::size_t r_end,
                     std::size_t k0, const MatrixView& C, bool continue_sums) {
  constexpr int full_chunk = static_cast<int>(kPanelDoubles / Tile::kLanes);
  // Short sums unrolled completely; a full chunk unrolled by the compiler.
  switch (kc) {
    case 1:
      return sweep<Tile, 1, BInLanes>(kc, buffer, first, count, streamed, r_begin, r_end, k0, C,
                                      continue_sums);
    case 2:
      return sweep<Tile, 2, BInLanes>(kc, buffer, first, count, streamed, r_begin, r_end, k0, C,
                                      continue_sums);
    case 3:
      return sweep<Tile, 3, BInLanes>(kc, buffer, first, count, streamed, r_begin, r_end, k0, C,
                                      continue_sums);
    case 4:
      return sweep<Tile, 4, BInLanes>(kc, buffer, first, count, streamed, r_begin, r_end, k0, C,
                                      continue_sums);
    case 5:
      return sweep<Tile, 5, BInLanes>(kc, buffer, first, count, streamed, r_begin, r_end, k0, C,
                                      continue_sums);
    case 6:
      return sweep<Tile, 6, BInLanes>(kc, buffer, first, count, streamed, r_begin, r_end, k0, C,
                                      continue_sums);
    case 7:
      return sweep<Tile, 7, BInLanes>(kc, buffer, first, count, streamed, r_begin, r_end, k0, C,
                                      continue_sums);
    case 8:
      return sweep<Tile, 8, BInLanes>(kc, buffer, first, count, streamed, r_begin, r_end, k0, C,
                                      continue_sums);
    case full_chunk:
      return sweep<Tile, full_chunk, BInLanes>(kc, buffer, first, count, streamed, r_begin, r_end,
                                               k0, C, continue_sums);
    default:
      return sweep<Tile, 0, BInLanes>(kc, buffer, first, count, streamed, r_begin, r_end, k0, C,
                                      continue_sums);
  }
}

// When b has at most kBroadcasts points, each lane point meets the one group
// of broadcast columns once, so a packing buffer only costs a round trip:
// full tiles take their lane points straight from a (the Tile's run_points,
// fresh sums of KD coordinates), and only the tail tile is packed.
template <class Tile, int KD>
void pairwise_single_group(const MatrixView& a, const MatrixView& b, const MatrixView& C) {
  constexpr std::size_t lanes = Tile::kLanes;
  constexpr std::size_t dim = KD;
  const double* columns[Tile::kBroadcasts];
  for (std::size_t q = 0; q < Tile::kBroadcasts; ++q) {
    columns[q] = b.data + smaller(q, b.cols - 1) * dim;
  }
  std::size_t first = 0;
  for (; first + lanes <= a.cols; first += lanes) {
    Tile::template run_points<KD>(a.data + first * dim, columns, C.data + first, C.rows, b.cols);
  }
  if (first < a.cols) {
    alignas(64) double panel[dim * lanes];
    pack_panels<Tile>(a, first, a.cols - first, 0, dim, panel);
    Tile::template run<KD, false>(dim, panel, columns, C.data + first, C.rows, a.cols - first,
                                  b.cols, false, nullptr);
  }
}

// The same for a run-time depth of 1 to 8.
template <class Tile, int KD = 1>
void pairwise_single_group_any_depth(const MatrixView& a, const MatrixView& b,
                                     const MatrixView& C) {
  if constexpr (KD < 8) {
    if (a.rows != KD) return pairwise_single_group_any_depth<Tile, KD + 1>(a, b, C);
  }
  pairwise_single_group<Tile, KD>(a, b, C);
}

template <class Tile, bool BInLanes>
void pairwise_tiled(const MatrixView& a, const MatrixView& b, const MatrixView& C,
                    std::size_t l2_bytes) {
  const MatrixView& packed = BInLanes ? b : a;
  const MatrixView& streamed = BInLanes ? a : b;
  const std::size_t dim = a.rows;
  constexpr std::size_t max_chunk = kPanelDoubles / Tile::kLanes;
  // With a short sum, several panels share the buffer, so that each group of
  // broadcast columns meets many lane points before moving on.
  const std::size_t first_chunk = smaller(dim, max_chunk);
  const std::size_t group = kPanelDoubles / (Tile::kLanes * first_chunk) * Tile::kLanes;
  // Streamed columns per block: their chunk of first_chunk coordinates fills
  // half of L2, or a quarter with more than one chunk, in whole tiles.
  const std::size_t block_share = dim > max_chunk ? 4 : 2;
  const std::size_t block_tiles =
      l2_bytes / block_share / (first_chunk * sizeof(double)) / Tile::kBroadcasts;
  const std::size_t block = (block_tiles > 0 ? block_tiles : 1) * Tile::kBroadcasts;
  // Packed points per strip: with more than one chunk, a strip's entries in
  // the block fill a quarter of L2.
  const std::size_t strip_groups = l2_bytes / 4 / (block * sizeof(double)) / group;
  const std::size_t strip =
      dim > max_chunk ? (strip_groups > 0 ? strip_groups : 1) * group : packed.cols;
  alignas(64) double buffer[kPanelDoubles];
  for (std::size_t r_begin = 0; r_begin < streamed.cols; r_begin += block) {
    const std::size_t r_end = smaller(r_begin + block, streamed.cols);
    for (std::size_t s_begin = 0; s_begin < packed.cols; s_begin += strip) {
      const std::size_t s_end = smaller(s_begin + strip, packed.cols);
      for (std::size_t k0 = 0; k0 < dim; k0 += max_chunk) {
        const std::size_t kc = smaller(max_chunk, dim - k0);
        for (std::size_t first = s_begin; first < s_end; first += group) {
          const std::size_t count = smaller(group, s_end - first);
          pack_panels<Tile>(packed, first, count, k0, kc, buffer);
          sweep_any_depth<Tile, BInLanes>(kc, buffer, first, count, streamed, r_begin, r_end, k0, C,
                                          k0 > 0);
        }
      }
    }
  }
}

// The choice of lane side: a's points in the lanes writes C in storage order,
// but packing a costs as much as a few broadcast columns of work, so when b
// has only a few points (and a many), b's points go in the lanes instead.
// Short points of a are cheap to pick up unpacked, so with one group of
// broadcast columns they stay in the lanes and skip the buffer. The blocks
// are sized for an L2 cache of l2_bytes.
template <class Tile>
void pairwise(const MatrixView& a, const MatrixView& b, const MatrixView& C, std::size_t l2_bytes) {
  if (a.cols == 0 || b.cols == 0) return;
  if (a.rows == 0) {
    for (std::size_t n = 0; n < a.cols * b.cols; ++n) C.data[n] = 0.0;
    return;
  }
  if (b.cols <= 2 * Tile::kLanes && a.cols > b.cols && a.rows > 8) {
    pairwise_tiled<Tile, true>(a, b, C, l2_bytes);
  } else if (b.cols <= Tile::kBroadcasts && a.rows <= 8) {
    pairwise_single_group_any_depth<Tile>(a, b, C);
  } else {
    pairwise_tiled<Tile, false>(a, b, C, l2_bytes);
  }
}

}  // namespace korvane::tiling

#endif
