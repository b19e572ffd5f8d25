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
    const double* a0 = a + i * dim;
    const double* a1 = a0 + dim;
    const double* a2 = a1 + dim;
    const double* a3 = a2 + dim;
    double s0 = 0.0;
    double s1 = 0.0;
    double s2 = 0.0;
    double s3 = 0.0;
    for (std::size_t k = 0; k < dim; ++k) {
      const double t0 = a0[k] - point[k];
      const double t1 = a1[k] - point[k];
      const double t2 = a2[k] - point[k];
      const double t3 = a3[k] - point[k];
      s0 = s0 + t0 * t0;
      s1 = s1 + t1 * t1;
      s2 = s2 + t2 * t2;
      s3 = s3 + t3 * t3;
    }
    column[i] = s0;
    column[i + 1] = s1;
    column[i + 2] = s2;
    column[i + 3] = s3;
  }
  for (; i < n_a; ++i) {
    const double* ai = a + i * dim;
    double s = 0.0;
    for (std::size_t k = 0; k < dim; ++k) {
      const double t = ai[k] - point[k];
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
