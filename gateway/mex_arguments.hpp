// The checks' adaptor (call_checks.hpp) for MATLAB's MEX interface, shared
// by the module's MEX entry points.
#ifndef KORVANE_GATEWAY_MEX_ARGUMENTS_HPP
#define KORVANE_GATEWAY_MEX_ARGUMENTS_HPP

#include <cstddef>

#include "call_checks.hpp"
#include "mex.h"

namespace korvane::gateway {

// The checks' questions, answered through the host's array operations.
struct MexArguments {
  const mxArray* const* prhs;

  // Anything but a real, full double matrix would have its storage read as
  // doubles from the wrong memory or past its end.
  ArgumentKind kind(int n) const {
    const mxArray* array = prhs[n];
    return argument_kind(mxGetClassName(array), mxIsSparse(array), mxIsComplex(array));
  }
  // mxGetN of an N-d array is the product of its dimensions after the
  // first, which would silently flatten it.
  bool is_matrix(int n) const { return mxGetNumberOfDimensions(prhs[n]) <= 2; }
  bool is_empty(int n) const { return mxIsEmpty(prhs[n]); }
  double* data(int n) const { return mxGetPr(prhs[n]); }
  std::size_t rows(int n) const { return mxGetM(prhs[n]); }
  std::size_t cols(int n) const { return mxGetN(prhs[n]); }
};

}  // namespace korvane::gateway

#endif
