// The stand-in host for gateway tests: arrays with a class, complexity,
// sparsity, shape and data; result creation; an error call that ends the
// gateway call by throwing; and a log of every host operation made.
#ifndef KORVANE_TESTS_STAND_IN_HOST_HPP
#define KORVANE_TESTS_STAND_IN_HOST_HPP

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "mex.h"

enum class ArrayClass {
  double_class,
  single_class,
  int8_class,
  int32_class,
  uint64_class,
  logical_class,
  char_class,
  cell_class,
  struct_class,
  function_handle_class,
  object_class  // of a user-defined class, named "korvane_test_object"
};

struct mxArray_tag {
  ArrayClass array_class = ArrayClass::double_class;
  bool complex = false;
  bool sparse = false;
  std::size_t rows = 0;
  std::size_t cols = 0;  // as MATLAB's mxGetN: the product of every dimension after the first
  std::size_t dimensions = 2;
  // Real parts, stored as the class's element size: a gateway that reads a
  // single or int32 array as doubles reads past this storage.
  std::vector<unsigned char> storage;
  std::vector<double> imaginary;
  // Data held elsewhere (make_view): mxGetPr returns this instead.
  double* external_data = nullptr;
  // A struct's fields (1 x 1 only) or a char array's text.
  std::vector<std::string> field_names;
  std::vector<mxArray*> field_values;
  std::string text;
};

namespace stand_in {

using ArrayPtr = std::unique_ptr<mxArray>;

ArrayPtr make_double(std::size_t rows, std::size_t cols, const std::vector<double>& values = {});
ArrayPtr make_array(ArrayClass array_class, std::size_t rows, std::size_t cols);
ArrayPtr make_complex(std::size_t rows, std::size_t cols);
ArrayPtr make_sparse(std::size_t rows, std::size_t cols);
// A double array of the given dimensions (at least two); trailing singleton
// dimensions are dropped, as hosts do.
ArrayPtr make_nd(const std::vector<std::size_t>& dims);
// A double array with no elements and no storage: any shape is cheap.
ArrayPtr make_empty(std::size_t rows, std::size_t cols);
// A double array over storage the caller owns and keeps alive.
ArrayPtr make_view(std::size_t rows, std::size_t cols, double* data);
const double* values_of(const mxArray& array);
// A 1 x 1 struct's field, or null.
const mxArray* field_of(const mxArray& array, const std::string& name);
// Appends text to what the call in progress printed (mexPrintf's output).
void print_text(const char* text);

struct HostCall {
  std::string operation;
  const mxArray* array;  // null for mxCreateDoubleMatrix and mexErrMsgTxt
};

// What one gateway call did.
struct CallOutcome {
  bool failed = false;
  std::string message;                 // the text passed to mexErrMsgTxt
  mxArray* slot = nullptr;             // output slot 1 after the call
  mxArray* second_slot = nullptr;      // output slot 2 after the call
  std::size_t results_created = 0;     // mxCreateDoubleMatrix calls
  std::vector<HostCall> calls;         // every host operation, in order
  std::string printed;                 // what mexPrintf printed
  std::vector<double> values() const;  // the result's data
};

using Gateway = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// Calls the gateway as the host does; output slots 1 and 2 always exist. The first
// form calls the mexFunction linked into the program, the second one found
// elsewhere, such as in a loaded module.
CallOutcome call(Gateway gateway, int nlhs, const std::vector<const mxArray*>& args);
inline CallOutcome call(int nlhs, const std::vector<const mxArray*>& args) {
  return call(&mexFunction, nlhs, args);
}

}  // namespace stand_in

#endif
