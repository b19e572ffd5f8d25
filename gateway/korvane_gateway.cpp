// The MEX entry point, mexFunction.
//
// It runs the call's checks in their fixed order (call_checks.hpp) against
// the host's arrays, has the host create the result only after every check
// has passed, stores it in output slot 1 and hands the views to a kernel.
// mexErrMsgTxt ends the call; its use is still followed by a return so that
// no later step can run if it did not.
#include "call_checks.hpp"
#include "distance_kernels.hpp"
#include "exact_arithmetic.hpp"
#include "mex.h"
#include "mex_arguments.hpp"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  namespace gateway = korvane::gateway;
  const gateway::CheckedCall call = gateway::check_call(gateway::MexArguments{prhs}, nlhs, nrhs);
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
