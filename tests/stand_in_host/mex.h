/* A stand-in for the host's MEX interface, for tests: the types and the
 * operations the gateway uses, with the documented MATLAB signatures. The
 * implementation (stand_in_host.cpp) records every call. */
#ifndef KORVANE_TESTS_STAND_IN_MEX_H
#define KORVANE_TESTS_STAND_IN_MEX_H

#include <stddef.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;
typedef size_t mwSize;
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

#if defined(_WIN32) && defined(KORVANE_STAND_IN_IMPORTS)
#define KORVANE_STAND_IN_API __declspec(dllimport)
#else
#define KORVANE_STAND_IN_API
#endif

KORVANE_STAND_IN_API double* mxGetPr(const mxArray* array);
KORVANE_STAND_IN_API size_t mxGetM(const mxArray* array);
KORVANE_STAND_IN_API size_t mxGetN(const mxArray* array);
KORVANE_STAND_IN_API bool mxIsEmpty(const mxArray* array);
KORVANE_STAND_IN_API bool mxIsDouble(const mxArray* array);
KORVANE_STAND_IN_API bool mxIsComplex(const mxArray* array);
KORVANE_STAND_IN_API bool mxIsSparse(const mxArray* array);
KORVANE_STAND_IN_API mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity);
KORVANE_STAND_IN_API void mexErrMsgTxt(const char* message);

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

#ifdef __cplusplus
}
#endif

#endif
