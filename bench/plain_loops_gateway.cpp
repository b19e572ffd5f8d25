// A second MEX module for the Octave benchmark: the plain loops in the fixed
// order, with no checks beyond what the benchmark script needs.
// plain_loops(a, b, 'write') only creates the result and writes every entry
// once: what any module pays the host for a result of that size.
#include <cstddef>

#include "exact_arithmetic.hpp"
#include "mex.h"

void mexFunction(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const double* a = mxGetPr(prhs[0]);
  const std::size_t dim = mxGetM(prhs[0]);
  const std::size_t n_a = mxGetN(prhs[0]);
  const double* b = nrhs > 1 ? mxGetPr(prhs[1]) : a;
  const std::size_t n_b = nrhs > 1 ? mxGetN(prhs[1]) : n_a;
  plhs[0] = mxCreateDoubleMatrix(static_cast<mwSize>(n_a), static_cast<mwSize>(n_b), mxREAL);
  double* C = mxGetPr(plhs[0]);
  if (nrhs > 2) {
    for (std::size_t n = 0; n < n_a * n_b; ++n) C[n] = 1.0;
    return;
  }
  for (std::size_t i = 0; i < n_a; ++i)
    for (std::size_t j = 0; j < n_b; ++j) {
      double s = 0.0;
      for (std::size_t k = 0; k < dim; ++k) {
        const double t = a[k + dim * i] - b[k + dim * j];
        s = s + t * t;
      }
      C[i + n_a * j] = s;
    }
}
