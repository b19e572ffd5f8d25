// The MEX entry point: the module's only export.
//
// It runs the call's checks in their fixed order (call_checks.hpp) against
// the host's arrays, has the host create the result only after every check
// has passed, stores it in output slot 1 and hands the views to a kernel.
// mexErrMsgTxt ends the call; its use is still followed by a return so that
// no later step can run if it did not.
#include <cstddef>

#include "call_checks.hpp"
#include "distance_kernels.hpp"
#include "exact_arithmetic.hpp"
#include "mex.h"

namespace {

namespace gateway = korvane::gateway;

// The checks' questions, answered through the host's array operations.
struct MexArguments {
  const mxArray* const* prhs;

  // Anything but a real, full double matrix would have its storage read as
  // doubles from the wrong memory or past its end.
  gateway::ArgumentKind kind(int n) const {
    const mxArray* array = prhs[n];
    return gateway::argument_kind(mxGetClassName(array), mxIsSparse(array), mxIsComplex(array));
  }
  // mxGetN of an N-d array is the product of its dimensions after the
  // first, which would silently flatten it.
  bool is_matrix(int n) const { return mxGetNumberOfDimensions(prhs[n]) <= 2; }
  bool is_empty(int n) const { return mxIsEmpty(prhs[n]); }
  double* data(int n) const { return mxGetPr(prhs[n]); }
  std::size_t rows(int n) const { return mxGetM(prhs[n]); }
  std::size_t cols(int n) const { return mxGetN(prhs[n]); }
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const gateway::CheckedCall call = gateway::check_call(MexArguments{prhs}, nlhs, nrhs);
  if (call.error != nullptr) {
    mexErrMsgTxt(call.error);
    return;
  }

  plhs[0] = mxCreateDoubleMatrix(static_cast<mwSize>(call.result_rows),
                                 static_cast<mwSize>(call.result_cols), mxREAL);
  const korvane::MatrixView result{call.result_rows, call.result_cols, mxGetPr(plhs[0])};
  if (call.form == gateway::Form::distances) {
    korvane::pairwise_squared_distances(call.a, call.b, result);
  } else {
    korvane::weighted_coordinate_sums(call.a, call.b, call.Q, result);
  }
}
