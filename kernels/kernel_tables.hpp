// The register shapes of the vector kernels, per instruction-set level: plain
// numbers, so that code built without a level's flags (the tests) can derive
// its loop edges from them. The reasons stand where each unit uses them.
#ifndef KORVANE_KERNELS_KERNEL_TABLES_HPP
#define KORVANE_KERNELS_KERNEL_TABLES_HPP

#include <cstddef>

namespace korvane::tables {

// A pairwise register tile: lanes x broadcasts entries.
struct TileShape {
  std::size_t lanes, broadcasts;
};
inline constexpr TileShape kAvx2Tile{8, 4};
inline constexpr TileShape kAvx512Tile{16, 8};
inline constexpr TileShape kNeonTile{8, 6};

// A weighted coordinate pass: at most vectors vectors of lanes sums.
struct PassShape {
  std::size_t lanes, vectors;
};
inline constexpr PassShape kAvx2Pass{4, 8};
inline constexpr PassShape kAvx512Pass{8, 33};
inline constexpr PassShape kNeonPass{2, 12};
// AVX-512 weighted: vectors of a point held in registers, and of sums.
inline constexpr std::size_t kAvx512PointRegisters = 12;
inline constexpr std::size_t kAvx512SumRegisters = 28;

}  // namespace korvane::tables

#endif
