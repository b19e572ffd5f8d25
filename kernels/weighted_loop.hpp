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
#include <type_traits>
#include <utility>

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
// at whole vectors from coordinate -lead. The runs take MaxVectors vectors
// each but the last, or with Even, as equal a share of the vectors as whole
// vectors allow. With no pairs every sum stays as it is and Q's data may be
// null.
template <std::size_t Lanes, std::size_t MaxVectors, bool Even = false, class Pass>
void coordinate_passes(const MatrixView& a, const MatrixView& b, Pass&& pass,
                       std::size_t lead = 0) {
  if (a.cols == 0 || b.cols == 0) return;
  const std::size_t span = a.rows == 0 ? 0 : a.rows + lead;  // from coordinate -lead
  const std::size_t vectors_in_all = (span + Lanes - 1) / Lanes;
  const std::size_t runs = (vectors_in_all + MaxVectors - 1) / MaxVectors;
  const std::size_t block =
      Lanes * (Even && runs > 1 ? (vectors_in_all + runs - 1) / runs : MaxVectors);
  for (std::size_t start = 0; start < span; start += block) {
    const std::size_t k0 = start == 0 ? 0 : start - lead;
    const std::size_t first_lead = start == 0 ? lead : 0;
    const std::size_t end = (span - start < block ? span : start + block) - lead;
    const std::size_t count = end - k0;
    const std::size_t vectors = (first_lead + count + Lanes - 1) / Lanes;
    variants::with_count<1, MaxVectors>(vectors, [&](auto nv) { pass(nv, k0, count, first_lead); });
  }
}

// Whether an n_a x n_b Q holds more than 8 times the L2 cache, so that its
// lines come from L3 or memory.
inline bool q_far_larger_than_caches(std::size_t n_a, std::size_t n_b) {
  const std::size_t large_q = 8 * l2_cache_bytes() / sizeof(double);  // elements
  return n_b > 0 && n_a > large_q / n_b;
}

// Whether a kernel reading Q in place with this many vectors of sums should
// ask for the next row group's lines of Q into L2: rows i to i + 7 share
// them, and row i asks for those of the columns j = i (mod 8), once each and
// spread over its pairs. That pays where Q's reads are most of the cost.
inline bool asks_for_next_group(std::size_t vectors, std::size_t n_a, std::size_t n_b) {
  return vectors == 1 || (vectors <= 4 && q_far_larger_than_caches(n_a, n_b));
}

// The copy of WeightRows where a unit has none of its own.
struct ElementCopy {
  std::size_t operator()(const double*, std::size_t, std::size_t, double*, std::size_t) const {
    return 0;
  }
};

// The rows of Q as a kernel reads them: weights(i)[j * stride()] is Q(i, j),
// once stage(i) has been called for every i with starts_group(i). Rows are
// read in place or copied in groups that share Q's lines (8, 4 or 2 rows, as
// many as fit the buffer; the first group may be shorter, so that the others
// start at a line). A copy keeps Q's layout (stride() is the group size) or,
// with along_rows, holds each row's weights side by side (stride() is 1).
//
// Columns of Q a multiple of 2 KB apart put a row's lines into one or two
// sets of L1 and a few of L2, so none stays until the next row, which shares
// them: such rows are always copied. Past 1024 columns only groups of 2 fit,
// and each line still comes from L3 or memory four times.
//
// Side by side, a row takes a new line every 8 pairs instead of every
// 8 / group, at the cost of copying single doubles instead of whole columns.
class WeightRows {
 public:
  // With fewest_rows (2, 4 or 8), groups of as many rows as fit are copied
  // wherever at least fewest_rows fit, Q's columns lying where they may; with
  // 0, only where they lie a multiple of 2 KB apart.
  // The kernel's rows start at first_row.
  WeightRows(const MatrixView& Q, double* buffer, std::size_t fewest_rows, bool along_rows,
             std::size_t first_row)
      : Q_(Q),
        buffer_(buffer),
        along_rows_(along_rows),
        columns_share_sets_(Q.rows % 256 == 0),
        first_row_(first_row) {
    const std::size_t fit = Q.cols > 0 ? kStagedWeights / Q.cols : 0;
    group_ = 1;
    if (columns_share_sets_ || (fewest_rows > 0 && fit >= fewest_rows)) {
      while (group_ < 8 && 2 * group_ <= fit) group_ *= 2;
    }
    if (group_ == 1) return;
    shift_ = reinterpret_cast<std::uintptr_t>(Q.data) / sizeof(double) % group_;
    asks_for_next_lines_ =
        group_ == 2 && !columns_share_sets_ && q_far_larger_than_caches(Q.rows, Q.cols);
  }
  bool staged() const { return group_ > 1; }
  std::size_t stride() const { return staged() ? (along_rows_ ? 1 : group_) : Q_.rows; }
  bool starts_group(std::size_t i) const { return i == first_row_ || place(i) == 0; }
  // Copies the group that starts at row i0. With along_rows, a unit's own
  // copy_columns(column, ld, rows, out, n) may copy the leading columns
  // first, out[r * n + j] taking column[r + j * ld] for r < rows, and return
  // how many it copied.
  template <class CopyColumns = ElementCopy>
  void stage(std::size_t i0, CopyColumns copy_columns = {}) const {
    if (!staged()) return;
    const std::size_t first = place(i0);
    const std::size_t left = Q_.rows - i0;
    const std::size_t rows = left < group_ - first ? left : group_ - first;
    const double* column = Q_.data + i0;
    if (along_rows_) {
      // The unit's copy, then four columns at a time, each row's four weights
      // stored side by side: quicker where Q's lines come from L2. Where its
      // columns lie a multiple of 2 KB apart, its lines come from L3 or
      // memory, both are slower, and every column is copied alone.
      const std::size_t n = Q_.cols;
      const std::size_t ld = Q_.rows;
      double* const out_rows = buffer_ + first * n;
      std::size_t j = columns_share_sets_ ? 0 : copy_columns(column, ld, rows, out_rows, n);
      column += j * ld;
      for (; !columns_share_sets_ && j + 4 <= n; j += 4, column += 4 * ld) {
        for (std::size_t r = 0; r < rows; ++r) {
          double* out = out_rows + r * n + j;
          out[0] = column[r];
          out[1] = column[ld + r];
          out[2] = column[2 * ld + r];
          out[3] = column[3 * ld + r];
        }
      }
      for (; j < n; ++j, column += ld)
        for (std::size_t r = 0; r < rows; ++r) out_rows[r * n + j] = column[r];
      if (asks_for_next_lines_ && i0 + 8 < Q_.rows) {
        // Where Q is far larger than the caches, the first of the four groups
        // that share a line would take them all from memory at once: each
        // group asks for a quarter of the lines 8 rows on instead.
        const std::size_t share = 8 / group_;
        const double* ahead = Q_.data + i0 + 8;
        for (std::size_t c = i0 / group_ % share; c < n; c += share)
          tiling::prefetch<2>(ahead + c * ld);
      }
    } else {
      for (std::size_t j = 0; j < Q_.cols; ++j, column += Q_.rows)
        for (std::size_t r = 0; r < rows; ++r) buffer_[j * group_ + first + r] = column[r];
    }
  }
  const double* weights(std::size_t i) const {
    if (!staged()) return Q_.data + i;
    return buffer_ + (along_rows_ ? place(i) * Q_.cols : place(i));
  }

 private:
  std::size_t place(std::size_t i) const { return (i + shift_) % group_; }

  const MatrixView& Q_;
  double* buffer_;
  bool along_rows_;
  bool columns_share_sets_;  // Q's columns a multiple of 2 KB apart
  std::size_t first_row_;
  bool asks_for_next_lines_ = false;
  std::size_t group_;
  std::size_t shift_ = 0;
};

}  // namespace
}  // namespace korvane::weighting

#endif
