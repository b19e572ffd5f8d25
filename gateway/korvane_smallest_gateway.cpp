// The MEX entry point of korvane_smallest, the module's only export.
//
// It runs the call's checks in their fixed order (smallest_checks.hpp),
// has the host create d (and i, when two outputs are asked for) only after
// every check has passed, stores them in output slots 1 and 2 and runs the
// selection (smallest_per_column.hpp). mexErrMsgTxt ends the call; its use
// is still followed by a return so that no later step can run if it did not.
#include "distance_kernels.hpp"
#include "exact_arithmetic.hpp"
#include "mex.h"
#include "mex_arguments.hpp"
#include "smallest_checks.hpp"
#include "smallest_per_column.hpp"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  namespace gateway = korvane::gateway;
  const gateway::CheckedSmallest call =
      gateway::check_smallest_call(gateway::MexArguments{prhs}, nlhs, nrhs);
  if (call.error != nullptr) {
    mexErrMsgTxt(call.error);
    return;
  }

  const auto rows = static_cast<mwSize>(call.rows);
  const auto cols = static_cast<mwSize>(call.b.cols);
  plhs[0] = mxCreateDoubleMatrix(rows, cols, mxREAL);
  double* index = nullptr;
  if (call.with_index) {
    plhs[1] = mxCreateDoubleMatrix(rows, cols, mxREAL);
    index = mxGetPr(plhs[1]);
  }
  const korvane::MatrixView d{call.rows, call.b.cols, mxGetPr(plhs[0])};
  korvane::smallest_per_column(call.a, call.b, d, index, [] {});
}
