/* Our own declaration of the host's MEX interface: the types and the
 * operations the gateways use (korvane's, then korvane_info's), with
 * MATLAB's documented signatures. The tests' stand-in host implements it,
 * and the Windows DLLs are built against it, importing the operations from
 * libmx.dll and libmex.dll (libmx.def, libmex.def). Real hosts' modules
 * use the host's own mex.h.
 *
 * Link names are those of MATLAB's large-array-dims API (mex -R2017b, the
 * separate-complex default): operations whose sizes became mwSize in MATLAB
 * 7.3 are linked as NAME_730, as MATLAB's matrix.h renames them, so that
 * source code keeps the documented names while a module imports exactly what
 * MATLAB's libmx provides. The other operations keep their plain names. */
#ifndef KORVANE_MEX_API_MEX_H
#define KORVANE_MEX_API_MEX_H

#include <stddef.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;
typedef size_t mwSize;
typedef size_t mwIndex;
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

#if defined(_WIN32) && defined(KORVANE_MEX_API_IMPORTS)
#define KORVANE_MEX_API __declspec(dllimport)
#else
#define KORVANE_MEX_API
#endif

KORVANE_MEX_API double* mxGetPr(const mxArray* array);
KORVANE_MEX_API size_t mxGetM(const mxArray* array);
KORVANE_MEX_API size_t mxGetN(const mxArray* array);
KORVANE_MEX_API bool mxIsEmpty(const mxArray* array);
KORVANE_MEX_API const char* mxGetClassName(const mxArray* array);
KORVANE_MEX_API bool mxIsComplex(const mxArray* array);
KORVANE_MEX_API bool mxIsSparse(const mxArray* array);
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_730
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_730
KORVANE_MEX_API mwSize mxGetNumberOfDimensions(const mxArray* array);
KORVANE_MEX_API mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity);
KORVANE_MEX_API void mexErrMsgTxt(const char* message);

#define mxCreateStructMatrix mxCreateStructMatrix_730
#define mxSetField mxSetField_730
KORVANE_MEX_API mxArray* mxCreateStructMatrix(mwSize m, mwSize n, int nfields,
                                              const char** fieldnames);
KORVANE_MEX_API void mxSetField(mxArray* array, mwIndex index, const char* fieldname,
                                mxArray* value);
KORVANE_MEX_API mxArray* mxCreateString(const char* text);
KORVANE_MEX_API mxArray* mxCreateDoubleScalar(double value);
KORVANE_MEX_API int mexPrintf(const char* format, ...);

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

#ifdef __cplusplus
}
#endif

#endif
