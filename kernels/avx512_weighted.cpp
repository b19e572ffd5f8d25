// AVX-512F weighted sums, in a unit apart from the pairwise kernel: in one
// unit GCC's inlining traded the two loops' speed against each other.
#include <cstddef>
#include <cstdint>

#include "avx512_ops.hpp"
#include "kernel_variants.hpp"
#include "weighted_loop.hpp"

namespace korvane::variants {

void weighted_avx512(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                     std::size_t end) {
  // With D a multiple of 8 every column of b starts at the same place in a
  // line; past 12 vectors the passes start that many coordinates early, so
  // that all of b's loads are whole lines.
  const bool whole_lines = a.rows % 8 == 0 && a.rows > 96;
  const std::size_t lead =
      whole_lines ? reinterpret_cast<std::uintptr_t>(b.data) / sizeof(double) % 8 : 0;
  weighting::weighted_sums<Avx512Ops>(a, b, Q, c.data, first, end, lead);
}

}  // namespace korvane::variants
