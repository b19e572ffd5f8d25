// The constants of the pairwise kernel, one table per instruction-set level,
// and the loop sizes they give. Plain integers only: tests include this
// without instruction-set flags. Internal linkage, as in tile_loop.hpp.
#ifndef KORVANE_KERNELS_PAIRWISE_TABLES_HPP
#define KORVANE_KERNELS_PAIRWISE_TABLES_HPP

#include <cstddef>

namespace korvane::tiling {
namespace {

struct PairwiseTable {
  std::size_t lanes;            // packed points per tile: the lane vectors of a coordinate
  std::size_t broadcasts;       // broadcast points per tile: as many as registers allow
  std::size_t panel_doubles;    // the packing buffer: 16 KB of stack, whatever the input
  std::size_t short_sum;        // b this short with one tile of points: a read unpacked
  std::size_t b_in_lanes_max;   // b's points go in the lanes up to this many (and a more)
  std::size_t b_in_lanes_from;  // and from this many coordinates
  std::size_t spread_from;      // chunks from which b-in-lanes tiles spread their requests
  std::size_t block_share;      // a block's chunk of streamed columns fills 1 / this of L2
  std::size_t strip_share;      // with several chunks, a strip's sums fill 1 / this of L2
};

// 16 x 8 entries in 16 zmm accumulators: 16 lane points in two vectors.
constexpr PairwiseTable kAvx512Pairwise{16, 8, 2048, 8, 32, 33, 64, 2, 4};
// 8 x 4 entries in 8 ymm accumulators: 8 lane points in two vectors.
constexpr PairwiseTable kAvx2Pairwise{8, 4, 2048, 8, 16, 9, 64, 2, 4};
// 8 x 6 entries in 24 of the 32 q registers (see neon_kernels.cpp).
constexpr PairwiseTable kNeonPairwise{8, 6, 2048, 8, 16, 9, 64, 2, 4};

// The loop sizes for dim coordinates, packed_cols lane points and an L2 of
// l2_bytes. A block's chunk of streamed columns fills a share of L2, so that
// later lane groups find it there; with several chunks, a strip's entries in
// the block fill a share too, so that a later chunk finds its sums there.
struct Blocks {
  std::size_t chunk, group, block, strip;
};
constexpr Blocks blocks_for(const PairwiseTable& t, std::size_t dim, std::size_t packed_cols,
                            std::size_t l2_bytes) {
  const std::size_t chunk = t.panel_doubles / t.lanes;
  const std::size_t first_chunk = dim < chunk ? dim : chunk;
  // With a short sum several panels share the buffer: C is then written in
  // long runs, and each group of broadcast columns meets many lane points.
  const std::size_t group = t.panel_doubles / (t.lanes * first_chunk) * t.lanes;
  const std::size_t block_tiles =
      l2_bytes / t.block_share / (first_chunk * sizeof(double)) / t.broadcasts;
  const std::size_t block = (block_tiles > 0 ? block_tiles : 1) * t.broadcasts;
  const std::size_t strip_groups = l2_bytes / t.strip_share / (block * sizeof(double)) / group;
  const std::size_t strip =
      dim > chunk ? (strip_groups > 0 ? strip_groups : 1) * group : packed_cols;
  return {chunk, group, block, strip};
}

}  // namespace
}  // namespace korvane::tiling

#endif
