// The k smallest squared distances to each column of b, in bounded memory.
//
// For column j of b, d(:, j) holds the d.rows smallest entries of
// C(:, j) = pairwise_squared_distances(a, b)(:, j) in ascending order, and
// index(:, j) their rows of C counted from 1: exactly what a stable ascending
// sort of C(:, j) puts first, so equal entries come in ascending row order
// and NaN entries last, in row order. The entries carry C's bits.
//
// C is formed in blocks of kBlockRows x kBlockColumns entries in a stack
// buffer, through pairwise_squared_distances on sub-views of a and b (each
// entry depends on its own pair of points only, so a block holds C's bits).
// Each column of a block is merged into the column's list: once the list is
// full, a candidate not below its last entry is dropped after one
// comparison; the rest are sorted (stably) and merged in from the back.
//
// Allocates nothing and keeps no state; writes only d and index. The
// callable between_blocks runs after every block but the last (a host may
// end the call there by throwing: d and index are then partly written).
#ifndef KORVANE_KERNELS_SMALLEST_PER_COLUMN_HPP
#define KORVANE_KERNELS_SMALLEST_PER_COLUMN_HPP

#include <cstddef>

#include "distance_kernels.hpp"

namespace korvane {

namespace smallest {

// 128 KB of block and 2 KB of candidates, small enough for a host thread's
// stack. Many columns of b to few rows of a: each of a's points is read
// again once per block of b's columns (docs/tuning.md).
constexpr std::size_t kBlockRows = 64;
constexpr std::size_t kBlockColumns = 256;
// Candidates tested together against a full list's last entry.
constexpr std::size_t kGroup = 8;

// Strict order of (value, row) keys in which NaN follows every number:
// whether x, from a later row than y, comes before y.
inline bool before(double x, double y) {
  return x < y || (y != y && x == x);
}

// Sorts n values (with their rows when Rows) stably in that order, NaN last,
// using scratch of n values (and rows).
template <bool Rows>
void stable_sort(double* values, double* rows, double* scratch_values, double* scratch_rows,
                 std::size_t n) {
  for (std::size_t width = 1; width < n; width *= 2) {
    for (std::size_t lo = 0; lo < n; lo += 2 * width) {
      const std::size_t mid = lo + width < n ? lo + width : n;
      const std::size_t hi = lo + 2 * width < n ? lo + 2 * width : n;
      for (std::size_t l = lo, r = mid, out = lo; out < hi; ++out) {
        const std::size_t from = r < hi && (l == mid || before(values[r], values[l])) ? r++ : l++;
        scratch_values[out] = values[from];
        if (Rows) scratch_rows[out] = rows[from];
      }
    }
    for (std::size_t m = 0; m < n; ++m) {
      values[m] = scratch_values[m];
      if (Rows) rows[m] = scratch_rows[m];
    }
  }
}

// Merges n sorted candidates, all from later rows than the list's entries,
// into the sorted list list[0 .. filled) of capacity k, from the back; only
// the first k of the merged sequence are kept.
template <bool Rows>
void merge_into(double* list, double* list_rows, std::size_t filled, std::size_t k,
                const double* values, const double* rows, std::size_t n) {
  std::size_t l = filled, c = n;
  for (std::size_t out = filled + n; out-- > 0;) {
    // The candidate goes after the list entry unless it comes strictly before it.
    const bool candidate = c > 0 && (l == 0 || !before(values[c - 1], list[l - 1]));
    if (out >= k) {
      if (candidate) {
        --c;
      } else {
        --l;
      }
      continue;
    }
    if (candidate) {
      --c;
      list[out] = values[c];
      if (Rows) list_rows[out] = rows[c];
    } else {
      // The remaining list entries are already in place once no candidate is left.
      if (c == 0) return;
      --l;
      list[out] = list[l];
      if (Rows) list_rows[out] = list_rows[l];
    }
  }
}

// Merges one block column: count entries of C's rows first_row .. into a
// list holding the smallest of C's rows before first_row (filled of them,
// at most k).
template <bool Rows>
void merge_column(const double* entries, std::size_t count, std::size_t first_row,
                  std::size_t filled, std::size_t k, double* list, double* list_rows) {
  double values[kBlockRows], rows[kBlockRows], scratch_values[kBlockRows], scratch_rows[kBlockRows];
  std::size_t n = 0;
  if (filled < k) {
    for (std::size_t r = 0; r < count; ++r) {
      values[r] = entries[r];
      if (Rows) rows[r] = static_cast<double>(first_row + r + 1);
    }
    n = count;
  } else {
    // The common case, most candidates not below the last entry, tested in
    // groups without a branch per candidate (NaN compares false and passes on
    // to the exact test).
    const double last = list[k - 1];
    for (std::size_t r = 0; r < count; r += kGroup) {
      if (r + kGroup <= count) {
        bool any = false;
        for (std::size_t q = 0; q < kGroup; ++q) any |= !(entries[r + q] >= last);
        if (!any) continue;
      }
      const std::size_t end = r + kGroup < count ? r + kGroup : count;
      for (std::size_t q = r; q < end; ++q) {
        if (before(entries[q], last)) {
          values[n] = entries[q];
          if (Rows) rows[n] = static_cast<double>(first_row + q + 1);
          ++n;
        }
      }
    }
    if (n == 0) return;
  }
  stable_sort<Rows>(values, rows, scratch_values, scratch_rows, n);
  merge_into<Rows>(list, list_rows, filled, k, values, rows, n);
}

template <bool Rows, class BetweenBlocks>
void run(MatrixView a, MatrixView b, MatrixView d, double* index, BetweenBlocks& between_blocks) {
  const std::size_t k = d.rows;
  if (k == 0 || b.cols == 0) return;
  if (a.rows == 0) {
    // Every entry is +0.0 (an empty sum), so rows 1 .. k come first; points
    // without coordinates can be as many as the index type counts.
    for (std::size_t j = 0; j < b.cols; ++j) {
      for (std::size_t r = 0; r < k; ++r) {
        d.data[r + j * k] = 0.0;
        if (Rows) index[r + j * k] = static_cast<double>(r + 1);
      }
    }
    return;
  }
  double block[kBlockRows * kBlockColumns];
  for (std::size_t first_col = 0; first_col < b.cols; first_col += kBlockColumns) {
    const std::size_t cols =
        b.cols - first_col < kBlockColumns ? b.cols - first_col : kBlockColumns;
    const MatrixView b_block{b.rows, cols, b.data + first_col * b.rows};
    for (std::size_t first_row = 0; first_row < a.cols; first_row += kBlockRows) {
      const std::size_t rows = a.cols - first_row < kBlockRows ? a.cols - first_row : kBlockRows;
      const MatrixView a_block{a.rows, rows, a.data + first_row * a.rows};
      pairwise_squared_distances(a_block, b_block, MatrixView{rows, cols, block});
      const std::size_t filled = first_row < k ? first_row : k;
      for (std::size_t j = 0; j < cols; ++j) {
        const std::size_t column = (first_col + j) * k;
        merge_column<Rows>(block + j * rows, rows, first_row, filled, k, d.data + column,
                           Rows ? index + column : nullptr);
      }
      if (first_row + rows < a.cols || first_col + cols < b.cols) between_blocks();
    }
  }
}

}  // namespace smallest

// d: k x n_b with k <= a.cols (k = 0 leaves it untouched); index: null, or
// the storage of a k x n_b matrix. Preconditions (not checked): a.rows ==
// b.rows, d.cols == b.cols, d.rows <= a.cols; every index is exact as a
// double (a.cols <= 2^53). b may share storage with a.
template <class BetweenBlocks>
void smallest_per_column(MatrixView a, MatrixView b, MatrixView d, double* index,
                         BetweenBlocks&& between_blocks) {
  if (index != nullptr) {
    smallest::run<true>(a, b, d, index, between_blocks);
  } else {
    smallest::run<false>(a, b, d, nullptr, between_blocks);
  }
}

}  // namespace korvane

#endif
