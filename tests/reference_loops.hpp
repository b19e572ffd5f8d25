// The oracle: the two computations as plain loops in the stated order, kept
// apart from the library so that a fault there cannot hide in both.
#ifndef KORVANE_TESTS_REFERENCE_LOOPS_HPP
#define KORVANE_TESTS_REFERENCE_LOOPS_HPP

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

}  // namespace reference

#endif
