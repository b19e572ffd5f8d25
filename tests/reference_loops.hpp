// The oracle: the two computations as plain loops in the stated order, kept
// apart from the library so that a fault there cannot hide in both.
#ifndef KORVANE_TESTS_REFERENCE_LOOPS_HPP
#define KORVANE_TESTS_REFERENCE_LOOPS_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "exact_arithmetic.hpp"

namespace reference {

// a: dim x n_a, b: dim x n_b, column-major. Returns n_a x n_b.
inline std::vector<double> pairwise(const double* a, const double* b, std::size_t dim,
                                    std::size_t n_a, std::size_t n_b) {
  std::vector<double> C(n_a * n_b);
  for (std::size_t i = 0; i < n_a; ++i) {
    for (std::size_t j = 0; j < n_b; ++j) {
      double s = 0.0;
      for (std::size_t k = 0; k < dim; ++k) {
        const double t = a[k + dim * i] - b[k + dim * j];
        s = s + t * t;
      }
      C[i + n_a * j] = s;
    }
  }
  return C;
}

// Q: n_a x n_b. Returns dim entries.
inline std::vector<double> weighted(const double* a, const double* b, const double* Q,
                                    std::size_t dim, std::size_t n_a, std::size_t n_b) {
  std::vector<double> c(dim, 0.0);
  for (std::size_t i = 0; i < n_a; ++i) {
    for (std::size_t j = 0; j < n_b; ++j) {
      const double w = Q[i + n_a * j];
      for (std::size_t k = 0; k < dim; ++k) {
        const double t = a[k + dim * i] - b[k + dim * j];
        c[k] = c[k] + (w * t) * t;
      }
    }
  }
  return c;
}

// The first k rows of a stable ascending sort of each column of the
// n_a x n_b matrix C, NaN last: values into d and rows (from 1) into index,
// both k x n_b with k <= n_a.
inline void smallest(const std::vector<double>& C, std::size_t n_a, std::size_t n_b, std::size_t k,
                     std::vector<double>& d, std::vector<double>& index) {
  d.assign(k * n_b, 0.0);
  index.assign(k * n_b, 0.0);
  std::vector<std::size_t> order(n_a);
  for (std::size_t j = 0; j < n_b; ++j) {
    const double* column = C.data() + n_a * j;
    for (std::size_t i = 0; i < n_a; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [column](std::size_t x, std::size_t y) {
      return !std::isnan(column[x]) && (std::isnan(column[y]) || column[x] < column[y]);
    });
    for (std::size_t r = 0; r < k; ++r) {
      d[r + k * j] = column[order[r]];
      index[r + k * j] = static_cast<double>(order[r] + 1);
    }
  }
}

}  // namespace reference

#endif
