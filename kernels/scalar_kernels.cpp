// Portable scalar variant: the reference every vector variant must match bit
// for bit, and the variant used on 32-bit x86 (SSE2) and non-x86 builds.
#include <cstddef>

#include "exact_arithmetic.hpp"
#include "kernel_variants.hpp"

namespace korvane::variants {

namespace {

// Four entries of one column of C at once: four independent add chains keep
// the floating-point units busy while each chain stays in ascending k.
constexpr std::size_t kEntriesPerPass = 4;

void distances_to_one_point(const double* a, std::size_t dim, std::size_t n_a, const double* point,
                            double* column) {
  std::size_t i = 0;
  for (; i + kEntriesPerPass <= n_a; i += kEntriesPerPass) {
    double s[kEntriesPerPass] = {};
    for (std::size_t k = 0; k < dim; ++k) {
      for (std::size_t e = 0; e < kEntriesPerPass; ++e) {
        const double t = a[(i + e) * dim + k] - point[k];
        s[e] = s[e] + t * t;
      }
    }
    for (std::size_t e = 0; e < kEntriesPerPass; ++e) column[i + e] = s[e];
  }
  for (; i < n_a; ++i) {
    double s = 0.0;
    for (std::size_t k = 0; k < dim; ++k) {
      const double t = a[i * dim + k] - point[k];
      s = s + t * t;
    }
    column[i] = s;
  }
}

}  // namespace

void pairwise_scalar(MatrixView a, MatrixView b, MatrixView C) {
  const std::size_t dim = a.rows;
  const std::size_t n_a = a.cols;
  const std::size_t n_b = b.cols;
  if (n_a == 0 || n_b == 0) return;
  // Column by column, so that C is written in storage order.
  for (std::size_t j = 0; j < n_b; ++j) {
    double* column = C.data + j * n_a;
    if (dim == 0) {
      for (std::size_t i = 0; i < n_a; ++i) column[i] = 0.0;
    } else {
      distances_to_one_point(a.data, dim, n_a, b.data + j * dim, column);
    }
  }
}

void weighted_scalar(MatrixView a, MatrixView b, MatrixView Q, MatrixView c, std::size_t first,
                     std::size_t end) {
  const std::size_t dim = a.rows;
  const std::size_t n_a = a.cols;
  const std::size_t n_b = b.cols;
  if (dim == 0) return;
  double* sums = c.data;
  for (std::size_t i = first; i < end; ++i) {
    const double* ai = a.data + i * dim;
    for (std::size_t j = 0; j < n_b; ++j) {
      const double w = Q.data[i + j * n_a];
      const double* bj = b.data + j * dim;
      for (std::size_t k = 0; k < dim; ++k) {
        const double t = ai[k] - bj[k];
        sums[k] = sums[k] + (w * t) * t;
      }
    }
  }
}

}  // namespace korvane::variants
