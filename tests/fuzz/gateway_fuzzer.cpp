// libFuzzer target: mexFunction through the stand-in host, with arbitrary
// numbers of arguments and outputs, classes, complexity, sparsity, shapes and
// values. For every input exactly one of two things must happen: an error
// with the message the rules give and no result left behind, or a result
// equal bit for bit to the plain loops. Anything else aborts.
//
// Input bytes, read in order (missing bytes read as 0):
//   number of outputs (mod 3), number of arguments (mod 5), then per argument
//   a kind byte (bits 0-2: class, 3: complex, 4: sparse), a rows byte and a
//   columns byte (values from 200 up copy the shape that makes the call
//   valid, otherwise mod 9), and for a real full double one byte per element
//   choosing a special value, or with bit 7 set eight raw bytes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "reference_loops.hpp"
#include "stand_in_host.hpp"

namespace {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t next() { return position_ < size_ ? data_[position_++] : 0; }
  double next_double() {
    std::uint8_t raw[8];
    for (std::uint8_t& byte : raw) byte = next();
    double value;
    std::memcpy(&value, raw, sizeof value);
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

constexpr double kSpecial[] = {0.0,
                               -0.0,
                               1.0,
                               -1.0,
                               0.5,
                               3.0,
                               -7.25,
                               1e154,
                               1e308,
                               -1e308,
                               1e-308,
                               std::numeric_limits<double>::denorm_min(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(),
                               123456789.0};

constexpr ArrayClass kClasses[] = {ArrayClass::double_class, ArrayClass::double_class,
                                   ArrayClass::double_class, ArrayClass::single_class,
                                   ArrayClass::int32_class,  ArrayClass::logical_class,
                                   ArrayClass::char_class,   ArrayClass::cell_class};

std::size_t extent(std::uint8_t byte, std::size_t valid) {
  return byte >= 200 ? valid : byte % 9;
}

bool real_full_double(const mxArray& array) {
  return array.array_class == ArrayClass::double_class && !array.complex && !array.sparse;
}

// The rules of a call, written out again: the message expected, or "".
std::string expected_message(int nlhs, const std::vector<const mxArray*>& args) {
  const std::size_t nrhs = args.size();
  if (nrhs < 1 || nrhs > 3 || nlhs > 1) {
    return "Usage: C = korvane(a,b)\n       or: C = korvane(a)\n       or: c = korvane(a,b,Q)\n"
           "where the b matrix may be empty.";
  }
  const mxArray& a = *args[0];
  if (!real_full_double(a)) return "Error: argument 1 must be a real, full double matrix";
  std::size_t n_b = a.cols;
  if (nrhs >= 2 && args[1]->rows != 0 && args[1]->cols != 0) {
    if (!real_full_double(*args[1])) return "Error: argument 2 must be a real, full double matrix";
    if (args[1]->rows != a.rows) return "Error: column lengths must agree";
    n_b = args[1]->cols;
  }
  if (nrhs == 3) {
    if (!real_full_double(*args[2])) return "Error: argument 3 must be a real, full double matrix";
    if (args[2]->cols != n_b || args[2]->rows != a.cols) {
      return "Error: 3rd matrix argument has wrong dimensions";
    }
  }
  return "";
}

bool same_bits(const std::vector<double>& x, const std::vector<double>& y) {
  if (x.size() != y.size()) return false;
  for (std::size_t n = 0; n < x.size(); ++n) {
    if (std::isnan(x[n]) && std::isnan(y[n])) continue;
    if (std::memcmp(&x[n], &y[n], sizeof(double)) != 0) return false;
  }
  return true;
}

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "gateway_fuzzer: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  const int nlhs = in.next() % 3;
  const int nrhs = in.next() % 5;
  std::vector<stand_in::ArrayPtr> arrays;
  std::vector<const mxArray*> args;
  for (int n = 0; n < nrhs; ++n) {
    const std::uint8_t kind = in.next();
    // The shape that fits: b takes a's rows, Q is n_a x n_b.
    std::size_t valid_rows = 0, valid_cols = 0;
    if (n >= 1) valid_rows = arrays[0]->rows, valid_cols = arrays[0]->cols;
    if (n == 2) {
      valid_rows = arrays[0]->cols;
      const bool b_given = arrays[1]->rows != 0 && arrays[1]->cols != 0;
      valid_cols = b_given ? arrays[1]->cols : arrays[0]->cols;
    }
    const std::size_t rows = extent(in.next(), valid_rows);
    const std::size_t cols = extent(in.next(), valid_cols);
    const ArrayClass array_class = kClasses[kind & 7];
    stand_in::ArrayPtr array;
    if (array_class != ArrayClass::double_class) {
      array = stand_in::make_array(array_class, rows, cols);
    } else if (kind & 16) {
      array = stand_in::make_sparse(rows, cols);
    } else if (kind & 8) {
      array = stand_in::make_complex(rows, cols);
    } else {
      std::vector<double> values(rows * cols);
      for (double& value : values) {
        const std::uint8_t choice = in.next();
        value = (choice & 128) ? in.next_double() : kSpecial[choice % 16];
      }
      array = stand_in::make_double(rows, cols, values);
    }
    args.push_back(array.get());
    arrays.push_back(std::move(array));
  }

  const std::string message = expected_message(nlhs, args);
  const stand_in::CallOutcome outcome = stand_in::call(nlhs, args);
  if (!message.empty()) {
    require(outcome.failed, "a call that breaks a rule succeeded");
    require(outcome.message == message, "wrong message");
    require(outcome.results_created == 0 && outcome.slot == nullptr, "error left a result");
    return 0;
  }
  require(!outcome.failed, "a valid call failed");
  require(outcome.results_created == 1 && outcome.slot != nullptr, "no result in slot 1");
  const mxArray& a = *args[0];
  const bool b_given = nrhs >= 2 && args[1]->rows != 0 && args[1]->cols != 0;
  const mxArray& b = b_given ? *args[1] : a;
  const double* a_values = stand_in::values_of(a);
  const double* b_values = stand_in::values_of(b);
  if (nrhs < 3) {
    require(outcome.slot->rows == a.cols && outcome.slot->cols == b.cols, "wrong result shape");
    require(same_bits(outcome.values(),
                      reference::pairwise(a_values, b_values, a.rows, a.cols, b.cols)),
            "distances differ from the plain loops");
  } else {
    require(outcome.slot->rows == a.rows && outcome.slot->cols == 1, "wrong result shape");
    require(same_bits(outcome.values(),
                      reference::weighted(a_values, b_values, stand_in::values_of(*args[2]), a.rows,
                                          a.cols, b.cols)),
            "weighted sums differ from the plain loops");
  }
  return 0;
}
