// The host gateway: the module's only entry point and only export.
//
// It checks the call in a fixed order (counts, argument 1, argument 2, Q),
// builds views of the host's column-major double arrays, has the host create
// the result only after every check has passed, stores it in output slot 1
// and hands the views to a kernel. mexErrMsgTxt ends the call; each use is
// still followed by a return so that no later step can run if it did not.
#include <cstddef>

#include "distance_kernels.hpp"
#include "mex.h"

namespace {

const char kUsageText[] =
    "Usage: C = korvane(a,b)\n"
    "       or: C = korvane(a)\n"
    "       or: c = korvane(a,b,Q)\n"
    "where the b matrix may be empty.";
const char kColumnLengthText[] = "Error: column lengths must agree";
const char kWrongQText[] = "Error: 3rd matrix argument has wrong dimensions";
const char* const kNotRealDoubleText[] = {
    "Error: argument 1 must be a real, full double matrix",
    "Error: argument 2 must be a real, full double matrix",
    "Error: argument 3 must be a real, full double matrix",
};

// Anything else would have its storage read as doubles from the wrong
// memory or past its end.
bool is_real_full_double(const mxArray* array) {
  return mxIsDouble(array) && !mxIsComplex(array) && !mxIsSparse(array);
}

korvane::MatrixView view_of(const mxArray* array, std::size_t rows, std::size_t cols) {
  return korvane::MatrixView{rows, cols, mxGetPr(array)};
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 1 || nrhs > 3 || nlhs > 1) {
    mexErrMsgTxt(kUsageText);
    return;
  }

  if (!is_real_full_double(prhs[0])) {
    mexErrMsgTxt(kNotRealDoubleText[0]);
    return;
  }
  double* const a_data = mxGetPr(prhs[0]);
  const std::size_t n_a = mxGetN(prhs[0]);
  const std::size_t dim = mxGetM(prhs[0]);
  const korvane::MatrixView a{dim, n_a, a_data};

  korvane::MatrixView b = a;
  if (nrhs >= 2 && !mxIsEmpty(prhs[1])) {
    if (!is_real_full_double(prhs[1])) {
      mexErrMsgTxt(kNotRealDoubleText[1]);
      return;
    }
    double* const b_data = mxGetPr(prhs[1]);
    const std::size_t n_b = mxGetN(prhs[1]);
    if (mxGetM(prhs[1]) != dim) {
      mexErrMsgTxt(kColumnLengthText);
      return;
    }
    b = korvane::MatrixView{dim, n_b, b_data};
  }

  if (nrhs < 3) {
    plhs[0] =
        mxCreateDoubleMatrix(static_cast<mwSize>(a.cols), static_cast<mwSize>(b.cols), mxREAL);
    korvane::pairwise_squared_distances(a, b, view_of(plhs[0], a.cols, b.cols));
    return;
  }

  if (!is_real_full_double(prhs[2])) {
    mexErrMsgTxt(kNotRealDoubleText[2]);
    return;
  }
  double* const q_data = mxGetPr(prhs[2]);
  const std::size_t q_cols = mxGetN(prhs[2]);
  if (q_cols != b.cols || mxGetM(prhs[2]) != a.cols) {
    mexErrMsgTxt(kWrongQText);
    return;
  }
  const korvane::MatrixView Q{a.cols, b.cols, q_data};
  plhs[0] = mxCreateDoubleMatrix(static_cast<mwSize>(dim), 1, mxREAL);
  korvane::weighted_coordinate_sums(a, b, Q, view_of(plhs[0], dim, 1));
}
