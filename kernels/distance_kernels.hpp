// Squared Euclidean distances between the columns of two point sets.
//
// Layout: every matrix is dense, real and column-major; element (r, s) of a
// view stands at data[r + rows * s]. A point set holds one point per column,
// so the D coordinates of a point are adjacent in storage.
//
// Exactness: every entry is summed over ascending coordinate index k, each
// difference and each running sum rounded to double, with no fused
// multiply-add. The result does not depend on which instruction set runs.
//
// The functions allocate nothing, start no threads and never fail; they read
// the input views and write only the result view. A view with no elements may
// carry any data pointer (null included): it is never dereferenced.
#ifndef KORVANE_KERNELS_DISTANCE_KERNELS_HPP
#define KORVANE_KERNELS_DISTANCE_KERNELS_HPP

#include <cstddef>

namespace korvane {

// A view, owning nothing, of a rows x cols matrix of doubles. The counts are
// std::size_t so that rows * cols of any matrix the host can hold is exact.
struct MatrixView {
  std::size_t rows;
  std::size_t cols;
  double* data;
};

// C(i, j) = sum over k = 0 .. D-1 of (a(k, i) - b(k, j))^2.
// Preconditions (not checked): a.rows == b.rows, C.rows == a.cols,
// C.cols == b.cols. b may share storage with a. Every element of C is
// written once; nothing else is written.
void pairwise_squared_distances(MatrixView a, MatrixView b, MatrixView C);

// c(k) = sum over pairs (i, j), i outermost, of (Q(i, j) * t) * t with
// t = a(k, i) - b(k, j); c(k) starts from +0.0 whatever its storage held.
// Preconditions (not checked): a.rows == b.rows, Q.rows == a.cols,
// Q.cols == b.cols, c.rows == a.rows, c.cols == 1.
void weighted_coordinate_sums(MatrixView a, MatrixView b, MatrixView Q, MatrixView c);

// The same sums continued: adds to the c(k) that c holds the terms of the
// pairs of points first .. end - 1 of a (first <= end <= a.cols), i
// outermost. Calls over consecutive ranges of a's points, or of b's columns
// (with Q's same columns) within one point, on a c of +0.0 give the bits of
// one weighted_coordinate_sums. Preconditions as above.
void continue_weighted_coordinate_sums(MatrixView a, MatrixView b, MatrixView Q, MatrixView c,
                                       std::size_t first, std::size_t end);

}  // namespace korvane

#endif
