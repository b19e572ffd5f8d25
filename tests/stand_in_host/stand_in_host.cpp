#include "stand_in_host.hpp"

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
std::vector<ArrayPtr> created_arrays;

std::size_t element_size(ArrayClass array_class) {
  switch (array_class) {
    case ArrayClass::double_class:
      return 8;
    case ArrayClass::single_class:
    case ArrayClass::int32_class:
      return 4;
    case ArrayClass::logical_class:
      return 1;
    case ArrayClass::char_class:
      return 2;
    case ArrayClass::cell_class:
    case ArrayClass::struct_class:
      return sizeof(void*);
  }
  return 1;
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
  array->storage.assign(rows * cols * element_size(array_class), 0);
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

std::vector<double> CallOutcome::values() const {
  if (slot == nullptr) return {};
  const double* data = values_of(*slot);
  return std::vector<double>(data, data + slot->rows * slot->cols);
}

CallOutcome call(Gateway gateway, int nlhs, const std::vector<const mxArray*>& args) {
  CallOutcome outcome;
  created_arrays.clear();
  current_log = &outcome.calls;
  mxArray* slots[2] = {nullptr, nullptr};
  std::vector<const mxArray*> arguments = args;
  try {
    gateway(nlhs, slots, static_cast<int>(arguments.size()), arguments.data());
  } catch (const GatewayError& error) {
    outcome.failed = true;
    outcome.message = error.message;
  }
  current_log = nullptr;
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

bool mxIsDouble(const mxArray* array) {
  log_call("mxIsDouble", array);
  return array->array_class == ArrayClass::double_class;
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

void mexErrMsgTxt(const char* message) {
  log_call("mexErrMsgTxt", nullptr);
  throw stand_in::GatewayError{message};
}

}  // extern "C"
