// libmx.dll for the Windows test host: the array operations, exported by the
// same .def file the module's import library is made from.
#include "host_operations.h"

namespace {
const HostOperations* host = nullptr;
}

extern "C" {

__declspec(dllexport) void stand_in_attach(const HostOperations* operations) {
  host = operations;
}

double* mxGetPr(const mxArray* array) {
  return host->get_pr(array);
}
size_t mxGetM(const mxArray* array) {
  return host->get_m(array);
}
size_t mxGetN(const mxArray* array) {
  return host->get_n(array);
}
bool mxIsEmpty(const mxArray* array) {
  return host->is_empty(array);
}
const char* mxGetClassName(const mxArray* array) {
  return host->get_class_name(array);
}
bool mxIsComplex(const mxArray* array) {
  return host->is_complex(array);
}
bool mxIsSparse(const mxArray* array) {
  return host->is_sparse(array);
}
mwSize mxGetNumberOfDimensions(const mxArray* array) {
  return host->get_number_of_dimensions(array);
}
mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity) {
  return host->create_double_matrix(m, n, complexity);
}
mxArray* mxCreateStructMatrix(mwSize m, mwSize n, int nfields, const char** fieldnames) {
  return host->create_struct_matrix(m, n, nfields, fieldnames);
}
void mxSetField(mxArray* array, mwIndex index, const char* fieldname, mxArray* value) {
  host->set_field(array, index, fieldname, value);
}
mxArray* mxCreateString(const char* text) {
  return host->create_string(text);
}
mxArray* mxCreateDoubleScalar(double value) {
  return host->create_double_scalar(value);
}

}  // extern "C"
