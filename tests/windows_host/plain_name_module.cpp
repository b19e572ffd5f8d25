// A module that imports mxCreateDoubleMatrix under its plain name, as one
// built without the large-array-dims renaming would. MATLAB's libmx does not
// provide that name for the API our modules use, nor does our libmx.dll, so
// the test host must refuse to load this module.
#include <cstddef>

extern "C" {

__declspec(dllimport) void* mxCreateDoubleMatrix(std::size_t m, std::size_t n, int complexity);

__declspec(dllexport) void mexFunction(int, void* plhs[], int, const void*[]) {
  plhs[0] = mxCreateDoubleMatrix(1, 1, 0);
}

}  // extern "C"
