// The outer loop of the vector weighted kernels, shared by the instruction-set
// units: c is computed in passes of at most Lanes * MaxVectors coordinates,
// each pass one sweep over all pairs with its sums held in registers. Every
// c(k) still receives its terms in pair order, whatever the pass.
//
// Everything here has internal linkage: each unit compiles it with its own
// instruction-set flags, and a shared inline copy could carry one unit's
// instructions into another's code.
#ifndef KORVANE_KERNELS_WEIGHTED_LOOP_HPP
#define KORVANE_KERNELS_WEIGHTED_LOOP_HPP

#include <cstddef>
#include <cstdint>

#include "distance_kernels.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"
#include "unrolled.hpp"

namespace korvane::weighting {
namespace {

// Calls pass(std::integral_constant<std::size_t, NV>{}, k0, count, lead) for
// each run of count coordinates from k0, NV being the vectors that the run
// needs when its first vector starts lead coordinates before k0. Only the
// first run has a lead, the given one (less than Lanes): the runs then start
// at whole vectors from coordinate -lead. Where one run cannot cover D, the
// runs take as equal a share of the vectors as whole vectors allow. With no
// pairs every sum stays as it is and Q's data may be null.
template <std::size_t Lanes, std::size_t MaxVectors, class Pass>
void coordinate_passes(const MatrixView& a, const MatrixView& b, Pass&& pass,
                       std::size_t lead = 0) {
  if (a.cols == 0 || b.cols == 0 || a.rows == 0) return;
  const std::size_t span = a.rows + lead;  // from coordinate -lead
  const std::size_t vectors_in_all = (span + Lanes - 1) / Lanes;
  const std::size_t runs = (vectors_in_all + MaxVectors - 1) / MaxVectors;
  const std::size_t block = Lanes * ((vectors_in_all + runs - 1) / runs);
  for (std::size_t start = 0; start < span; start += block) {
    const std::size_t k0 = start == 0 ? 0 : start - lead;
    const std::size_t first_lead = start == 0 ? lead : 0;
    const std::size_t end = (span - start < block ? span : start + block) - lead;
    const std::size_t vectors = (first_lead + end - k0 + Lanes - 1) / Lanes;
    variants::with_count<1, MaxVectors>(vectors,
                                        [&](auto nv) { pass(nv, k0, end - k0, first_lead); });
  }
}

// Whether an n_a x n_b Q holds more than 8 times the L2 cache, so that its
// lines come from L3 or memory.
inline bool q_far_larger_than_caches(std::size_t n_a, std::size_t n_b) {
  const std::size_t large_q = 8 * l2_cache_bytes() / sizeof(double);  // elements
  return n_b > 0 && n_a > large_q / n_b;
}

// Whether a kernel reading Q in place should ask for the next group of 8
// rows' lines of Q into L2: rows i to i + 7 share them, and row i asks for
// those of the columns j = i (mod 8), once each and spread over its pairs.
// That pays where Q's reads are most of the cost: one vector of sums.
inline bool asks_for_next_group(std::size_t vectors, std::size_t n_a, std::size_t n_b) {
  return vectors == 1 || (vectors <= 4 && q_far_larger_than_caches(n_a, n_b));
}

// Whether to copy rows of Q where its columns lie where they may (see
// WeightRows for those a multiple of 2 KB apart): where groups of fewest rows
// fit, unless b and a row's lines of Q fit 7/8 of L1 together and so stay
// there from row to row.
inline bool copies_rows(const WeightedTable& t, const MatrixView& a, const MatrixView& b) {
  const std::size_t fewest = a.rows <= 64 ? t.fewest_rows : t.fewest_rows_long;
  const std::size_t row_bytes = b.cols * (a.rows * sizeof(double) + 64);
  return fewest > 0 && b.cols > 0 && kStagedWeights / b.cols >= fewest &&
         row_bytes > l1_data_cache_bytes() / 8 * 7;
}

// The copy of WeightRows where a unit has none of its own.
struct ElementCopy {
  std::size_t operator()(const double*, std::size_t, std::size_t, double*, std::size_t) const {
    return 0;
  }
};

// The rows of Q as a kernel reads them: weights(i)[j * stride()] is Q(i, j),
// once stage(i) has been called for every i with starts_group(i). Read in
// place, each pair takes a fresh line of Q for the 8 bytes it uses; copied,
// groups of rows that share Q's lines (8, 4 or 2, as many as fit the buffer,
// the first group shorter so that the others start at a line) are read once
// from Q and then side by side, a row's weights taking a line every 8 pairs.
class WeightRows {
 public:
  // Copies where at least 2 rows fit and copy is set or Q's columns lie a
  // multiple of 2 KB apart: a row's lines then share a few cache sets, and
  // none stays until the next row. The rows start at first_row.
  WeightRows(const MatrixView& Q, double* buffer, bool copy, std::size_t first_row)
      : Q_(Q), buffer_(buffer), first_row_(first_row), shares_sets_(Q.rows % 256 == 0) {
    const std::size_t fit = (copy || shares_sets_) && Q.cols > 0 ? kStagedWeights / Q.cols : 0;
    while (group_ < 8 && 2 * group_ <= fit) group_ *= 2;
    if (group_ > 1) shift_ = reinterpret_cast<std::uintptr_t>(Q.data) / sizeof(double) % group_;
    asks_for_next_lines_ = group_ == 2 && !shares_sets_ && q_far_larger_than_caches(Q.rows, Q.cols);
  }
  bool staged() const { return group_ > 1; }
  std::size_t stride() const { return staged() ? 1 : Q_.rows; }
  bool starts_group(std::size_t i) const { return i == first_row_ || place(i) == 0; }
  // Copies the group that holds row i0 from i0 on. A unit's own
  // copy_columns(column, ld, rows, out, n) may copy the leading columns first,
  // out[r * n + j] taking column[r + j * ld] for r < rows, and return how many.
  template <class CopyColumns = ElementCopy>
  void stage(std::size_t i0, CopyColumns copy_columns = {}) const {
    const std::size_t first = place(i0);
    const std::size_t left = Q_.rows - i0;
    const std::size_t rows = left < group_ - first ? left : group_ - first;
    const double* column = Q_.data + i0;
    double* const out = buffer_ + first * Q_.cols;
    const std::size_t n = Q_.cols;
    const std::size_t ld = Q_.rows;
    // Where Q's columns share sets, its lines come from L3 or memory, the
    // faster copies are slower, and every column is copied alone.
    std::size_t j = shares_sets_ ? 0 : copy_columns(column, ld, rows, out, n);
    column += j * ld;
    // Four columns at a time, each row's four weights stored side by side:
    // quicker where Q's lines come from L2.
    for (; !shares_sets_ && j + 4 <= n; j += 4, column += 4 * ld) {
      for (std::size_t r = 0; r < rows; ++r) {
        double* o = out + r * n + j;
        o[0] = column[r];
        o[1] = column[ld + r];
        o[2] = column[2 * ld + r];
        o[3] = column[3 * ld + r];
      }
    }
    for (; j < n; ++j, column += ld)
      for (std::size_t r = 0; r < rows; ++r) out[r * n + j] = column[r];
    if (asks_for_next_lines_ && i0 + 8 < Q_.rows) {
      // The first of the four groups of 2 that share a line would take them
      // all from memory at once: each asks for a quarter of those 8 rows on.
      for (std::size_t c = i0 / 2 % 4; c < n; c += 4)
        tiling::prefetch<2>(Q_.data + i0 + 8 + c * ld);
    }
  }
  const double* weights(std::size_t i) const {
    return staged() ? buffer_ + place(i) * Q_.cols : Q_.data + i;
  }

 private:
  std::size_t place(std::size_t i) const { return (i + shift_) % group_; }

  const MatrixView& Q_;
  double* buffer_;
  std::size_t first_row_;
  bool shares_sets_;  // Q's columns a multiple of 2 KB apart
  bool asks_for_next_lines_ = false;
  std::size_t group_ = 1;
  std::size_t shift_ = 0;
};

}  // namespace
}  // namespace korvane::weighting

#endif
