#include "stand_in_host.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace stand_in {

namespace {

// The error call throws this through the gateway back to call().
struct GatewayError {
  std::string message;
};

// State of the call in progress.
std::vector<HostCall>* current_log = nullptr;
std::string* current_printed = nullptr;
std::vector<ArrayPtr> created_arrays;

// Each class's name, as mxGetClassName gives it, and its element size, in
// the order of ArrayClass.
struct ClassInfo {
  const char* name;
  std::size_t element_size;
};
const ClassInfo kClassInfo[] = {{"double", 8},
                                {"single", 4},
                                {"int8", 1},
                                {"int32", 4},
                                {"uint64", 8},
                                {"logical", 1},
                                {"char", 2},
                                {"cell", sizeof(void*)},
                                {"struct", sizeof(void*)},
                                {"function_handle", sizeof(void*)},
                                {"korvane_test_object", sizeof(void*)}};

static_assert(sizeof kClassInfo / sizeof kClassInfo[0] ==
              static_cast<std::size_t>(ArrayClass::object_class) + 1);

const ClassInfo& info_of(ArrayClass array_class) {
  return kClassInfo[static_cast<std::size_t>(array_class)];
}

void log_call(const char* operation, const mxArray* array) {
  if (current_log != nullptr) current_log->push_back(HostCall{operation, array});
}

}  // namespace

ArrayPtr make_array(ArrayClass array_class, std::size_t rows, std::size_t cols) {
  auto array = std::make_unique<mxArray>();
  array->array_class = array_class;
  array->rows = rows;
  array->cols = cols;
  array->storage.assign(rows * cols * info_of(array_class).element_size, 0);
  return array;
}

ArrayPtr make_double(std::size_t rows, std::size_t cols, const std::vector<double>& values) {
  ArrayPtr array = make_array(ArrayClass::double_class, rows, cols);
  if (!values.empty()) {
    if (values.size() != rows * cols) throw std::invalid_argument("make_double: wrong count");
    std::memcpy(array->storage.data(), values.data(), values.size() * sizeof(double));
  }
  return array;
}

ArrayPtr make_complex(std::size_t rows, std::size_t cols) {
  ArrayPtr array = make_double(rows, cols);
  array->complex = true;
  array->imaginary.assign(rows * cols, 1.0);
  return array;
}

ArrayPtr make_sparse(std::size_t rows, std::size_t cols) {
  // A sparse matrix keeps only its non-zeros: far fewer than rows * cols.
  auto array = std::make_unique<mxArray>();
  array->sparse = true;
  array->rows = rows;
  array->cols = cols;
  array->storage.assign(sizeof(double), 0);
  return array;
}

ArrayPtr make_nd(const std::vector<std::size_t>& dims) {
  std::size_t count = dims.size();
  while (count > 2 && dims[count - 1] == 1) --count;
  std::size_t cols = 1;
  for (std::size_t d = 1; d < count; ++d) cols *= dims[d];
  ArrayPtr array = make_double(dims[0], cols);
  array->dimensions = count;
  return array;
}

ArrayPtr make_empty(std::size_t rows, std::size_t cols) {
  if (rows != 0 && cols != 0) throw std::invalid_argument("make_empty: not empty");
  auto array = std::make_unique<mxArray>();
  array->rows = rows;
  array->cols = cols;
  return array;
}

ArrayPtr make_view(std::size_t rows, std::size_t cols, double* data) {
  auto array = std::make_unique<mxArray>();
  array->rows = rows;
  array->cols = cols;
  array->external_data = data;
  return array;
}

const double* values_of(const mxArray& array) {
  if (array.external_data != nullptr) return array.external_data;
  return reinterpret_cast<const double*>(array.storage.data());
}

const mxArray* field_of(const mxArray& array, const std::string& name) {
  for (std::size_t n = 0; n < array.field_names.size(); ++n) {
    if (array.field_names[n] == name) return array.field_values[n];
  }
  return nullptr;
}

void print_text(const char* text) {
  if (current_printed != nullptr) *current_printed += text;
}

std::vector<double> CallOutcome::values() const {
  if (slot == nullptr) return {};
  const double* data = values_of(*slot);
  return std::vector<double>(data, data + slot->rows * slot->cols);
}

CallOutcome call(Gateway gateway, int nlhs, const std::vector<const mxArray*>& args) {
  CallOutcome outcome;
  created_arrays.clear();
  current_log = &outcome.calls;
  current_printed = &outcome.printed;
  mxArray* slots[2] = {nullptr, nullptr};
  std::vector<const mxArray*> arguments = args;
  try {
    gateway(nlhs, slots, static_cast<int>(arguments.size()), arguments.data());
  } catch (const GatewayError& error) {
    outcome.failed = true;
    outcome.message = error.message;
  }
  current_log = nullptr;
  current_printed = nullptr;
  outcome.slot = slots[0];
  outcome.second_slot = slots[1];
  for (const HostCall& c : outcome.calls) {
    if (c.operation == "mxCreateDoubleMatrix") ++outcome.results_created;
  }
  // A real host frees what a failed call created; here the arrays live on
  // until the next call so that tests can look at them.
  return outcome;
}

}  // namespace stand_in

using stand_in::log_call;

extern "C" {

double* mxGetPr(const mxArray* array) {
  log_call("mxGetPr", array);
  return const_cast<double*>(stand_in::values_of(*array));
}

size_t mxGetM(const mxArray* array) {
  log_call("mxGetM", array);
  return array->rows;
}

size_t mxGetN(const mxArray* array) {
  log_call("mxGetN", array);
  return array->cols;
}

bool mxIsEmpty(const mxArray* array) {
  log_call("mxIsEmpty", array);
  return array->rows == 0 || array->cols == 0;
}

const char* mxGetClassName(const mxArray* array) {
  log_call("mxGetClassName", array);
  return stand_in::info_of(array->array_class).name;
}

bool mxIsComplex(const mxArray* array) {
  log_call("mxIsComplex", array);
  return array->complex;
}

bool mxIsSparse(const mxArray* array) {
  log_call("mxIsSparse", array);
  return array->sparse;
}

mwSize mxGetNumberOfDimensions(const mxArray* array) {
  log_call("mxGetNumberOfDimensions", array);
  return array->dimensions;
}

mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity) {
  log_call("mxCreateDoubleMatrix", nullptr);
  stand_in::ArrayPtr array = stand_in::make_double(m, n);
  if (complexity == mxCOMPLEX) array->complex = true;
  // Fresh storage full of garbage: the kernels must not count on zeros.
  for (std::size_t k = 0; k < array->storage.size(); ++k) array->storage[k] = 0xA5;
  stand_in::created_arrays.push_back(std::move(array));
  return stand_in::created_arrays.back().get();
}

mxArray* mxCreateStructMatrix(mwSize m, mwSize n, int nfields, const char** fieldnames) {
  log_call("mxCreateStructMatrix", nullptr);
  if (m != 1 || n != 1) throw std::invalid_argument("stand-in structs are 1 x 1");
  stand_in::ArrayPtr array = stand_in::make_array(ArrayClass::struct_class, 1, 1);
  for (int k = 0; k < nfields; ++k) {
    array->field_names.emplace_back(fieldnames[k]);
    array->field_values.push_back(nullptr);
  }
  stand_in::created_arrays.push_back(std::move(array));
  return stand_in::created_arrays.back().get();
}

void mxSetField(mxArray* array, mwIndex index, const char* fieldname, mxArray* value) {
  log_call("mxSetField", array);
  for (std::size_t k = 0; k < array->field_names.size(); ++k) {
    if (index == 0 && array->field_names[k] == fieldname) {
      array->field_values[k] = value;
      return;
    }
  }
  throw std::invalid_argument("mxSetField: no such field");
}

mxArray* mxCreateString(const char* text) {
  log_call("mxCreateString", nullptr);
  const std::size_t length = std::strlen(text);
  stand_in::ArrayPtr array =
      stand_in::make_array(ArrayClass::char_class, length == 0 ? 0 : 1, length);
  array->text = text;
  stand_in::created_arrays.push_back(std::move(array));
  return stand_in::created_arrays.back().get();
}

mxArray* mxCreateDoubleScalar(double value) {
  log_call("mxCreateDoubleScalar", nullptr);
  stand_in::created_arrays.push_back(stand_in::make_double(1, 1, {value}));
  return stand_in::created_arrays.back().get();
}

int mexPrintf(const char* format, ...) {
  log_call("mexPrintf", nullptr);
  char text[4096];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  stand_in::print_text(text);
  return length;
}

void mexErrMsgTxt(const char* message) {
  log_call("mexErrMsgTxt", nullptr);
  throw stand_in::GatewayError{message};
}

}  // extern "C"
