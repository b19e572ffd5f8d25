// libFuzzer target: mexFunction through the stand-in host, with arbitrary
// numbers of arguments and outputs, classes, complexity, sparsity, dimensions,
// shapes and values. For every input exactly one of two things must happen:
// an error with the message the rules give and no result left behind, or a
// result equal bit for bit to the plain loops. Anything else aborts.
//
// Input bytes, read in order (missing bytes read as 0):
//   number of outputs (mod 3), number of arguments (mod 5);
//   per argument a kind byte (bits 0-2: class, 3: complex, 4: sparse,
//   5: N-d, 6: empty with a huge extent), then for a huge empty one byte
//   (bit 0: which side is 0, the rest: the other extent from a table),
//   otherwise the rows and the columns (from 224 up: the extent that makes
//   the call valid, else as fuzz_input.hpp reads extents) and for N-d one
//   byte giving a third and a fourth dimension;
//   then the values of every real full double argument (fuzz_input.hpp).
// Calls whose work or result would be too large to run fast are skipped.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.hpp"
#include "gateway_cases.hpp"

namespace {

// D * n_a * n_b steps of a call and the elements of its result. Under the
// sanitizers the plain loops take a few ns a step.
constexpr std::size_t kMaxSteps = std::size_t{1} << 20;
constexpr std::size_t kMaxResult = std::size_t{1} << 20;
// Elements of one argument's storage.
constexpr std::size_t kMaxElements = std::size_t{1} << 18;

constexpr ArrayClass kClasses[] = {ArrayClass::double_class, ArrayClass::double_class,
                                   ArrayClass::double_class, ArrayClass::single_class,
                                   ArrayClass::int32_class,  ArrayClass::logical_class,
                                   ArrayClass::char_class,   ArrayClass::cell_class};

// Extents of empty arrays whose results cannot exist, or only just can.
constexpr std::size_t kG = std::size_t{1} << 30;
constexpr std::size_t kHuge[] = {
    0,        1000,       kG,         kG + 1, 2 * kG,         4 * kG - 1,
    4 * kG,   4 * kG + 1, 3000000000, 8 * kG, (kG << 30) - 1, kG << 30,
    kG << 32, kG << 33,   SIZE_MAX};

bool real_full_double(const mxArray& array) {
  return array.array_class == ArrayClass::double_class && !array.complex && !array.sparse;
}

// What the refusal of an argument names, and the fix it gives, for the
// classes made here.
std::string refused_as(const mxArray& array) {
  switch (array.array_class) {
    case ArrayClass::single_class:
      return "single; convert with double(x)";
    case ArrayClass::int32_class:
      return "int32; convert with double(x)";
    case ArrayClass::logical_class:
      return "logical; convert with double(x)";
    case ArrayClass::char_class:
      return "char; for character codes use double(x)";
    case ArrayClass::cell_class:
      return "cell; use cell2mat(x) or x{k}";
    default:
      break;
  }
  if (array.sparse)
    return array.complex ? "sparse complex; use real(full(x)) or abs(full(x))"
                         : "sparse; use full(x)";
  return "complex; use real(x) or abs(x)";
}

bool empty(const mxArray& array) {
  return array.rows == 0 || array.cols == 0;
}

// Whether a double matrix of this shape has a byte count that a host's
// signed sizes can hold.
bool can_exist(std::size_t rows, std::size_t cols) {
  if (rows == 0 || cols == 0) return true;
  if (cols > SIZE_MAX / rows) return false;
  return rows * cols <= static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(double);
}

// The rules of a call, written out again: the message expected, or "".
std::string expected_message(int nlhs, const std::vector<const mxArray*>& args) {
  const std::size_t nrhs = args.size();
  if (nrhs < 1 || nrhs > 3 || nlhs > 1) {
    return cases::kUsage;
  }
  const auto matrix_error = [&](std::size_t n) -> std::string {
    const int number = static_cast<int>(n + 1);
    if (!real_full_double(*args[n])) return cases::not_real_double(number, refused_as(*args[n]));
    if (args[n]->dimensions > 2) return cases::not_matrix(number);
    return "";
  };
  const mxArray& a = *args[0];
  if (std::string error = matrix_error(0); !error.empty()) return error;
  std::size_t n_b = a.cols;
  if (nrhs >= 2 && !empty(*args[1])) {
    if (std::string error = matrix_error(1); !error.empty()) return error;
    if (args[1]->rows != a.rows) return cases::kColumnLengths;
    n_b = args[1]->cols;
  }
  if (nrhs == 3) {
    if (std::string error = matrix_error(2); !error.empty()) return error;
    if (args[2]->cols != n_b || args[2]->rows != a.cols) return cases::kWrongQ;
  }
  const bool fits = nrhs == 3 ? can_exist(a.rows, 1) : can_exist(a.cols, n_b);
  return fits ? "" : cases::kTooLarge;
}

// Reads one argument's kind and shape and makes it, its values still 0.
// Returns null when its storage would be too large to fuzz with.
stand_in::ArrayPtr make_argument(fuzz::ByteReader& in, std::size_t valid_rows,
                                 std::size_t valid_cols) {
  const std::uint8_t kind = in.next();
  const ArrayClass array_class = kClasses[kind & 7];
  if (array_class == ArrayClass::double_class && (kind & 64)) {
    const std::uint8_t choice = in.next();
    const std::size_t index = (choice >> 1) % (sizeof kHuge / sizeof kHuge[0] + 1);
    const bool zero_rows = choice & 1;
    // The last index copies the valid extent of the side that is not 0.
    const std::size_t extent = index < sizeof kHuge / sizeof kHuge[0] ? kHuge[index]
                               : zero_rows                            ? valid_cols
                                                                      : valid_rows;
    return zero_rows ? stand_in::make_empty(0, extent) : stand_in::make_empty(extent, 0);
  }
  const auto read = [&in](std::size_t valid) {
    const std::uint8_t first = in.next();
    if (first >= 224 && valid <= fuzz::kMaxExtent) return valid;
    return fuzz::read_extent(in, first);
  };
  const std::size_t rows = read(valid_rows);
  const std::size_t cols = read(valid_cols);
  std::vector<std::size_t> dims = {rows, cols};
  if (kind & 32) {
    const std::uint8_t more = in.next();
    dims.push_back(more % 4);
    dims.push_back(more / 4 % 3);
  }
  std::size_t elements = 1;
  for (std::size_t d : dims) elements *= d;
  if (elements > kMaxElements) return nullptr;

  if (array_class != ArrayClass::double_class) return stand_in::make_array(array_class, rows, cols);
  if (kind & 16) return stand_in::make_sparse(rows, cols);
  if (kind & 8) return stand_in::make_complex(rows, cols);
  return stand_in::make_nd(dims);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in(data, size);
  const int nlhs = in.next() % 3;
  const int nrhs = in.next() % 5;
  std::vector<stand_in::ArrayPtr> arrays;
  std::vector<const mxArray*> args;
  for (int n = 0; n < nrhs; ++n) {
    // The shape that fits: b takes a's rows, Q is n_a x n_b.
    std::size_t valid_rows = 0, valid_cols = 0;
    if (n >= 1) valid_rows = arrays[0]->rows, valid_cols = arrays[0]->cols;
    if (n == 2) {
      valid_rows = arrays[0]->cols;
      valid_cols = empty(*arrays[1]) ? arrays[0]->cols : arrays[1]->cols;
    }
    stand_in::ArrayPtr array = make_argument(in, valid_rows, valid_cols);
    if (!array) return 0;
    args.push_back(array.get());
    arrays.push_back(std::move(array));
  }

  const std::string message = expected_message(nlhs, args);
  const mxArray* a = nrhs >= 1 ? args[0] : nullptr;
  const bool b_given = nrhs >= 2 && !empty(*args[1]);
  const mxArray* b = b_given ? args[1] : a;
  if (message.empty()) {
    const auto product_within = [](std::size_t x, std::size_t y, std::size_t bound) {
      return y == 0 || x <= bound / y;
    };
    const bool small = product_within(a->cols, b->cols, kMaxResult) &&
                       product_within(a->rows, a->cols * b->cols, kMaxSteps) &&
                       (nrhs < 3 || a->rows <= kMaxResult);
    if (!small) return 0;
  }
  for (stand_in::ArrayPtr& array : arrays) {
    if (real_full_double(*array) && !array->storage.empty()) {
      fuzz::fill_values(in, reinterpret_cast<double*>(array->storage.data()),
                        array->storage.size() / sizeof(double));
    }
  }

  cases::Case expected;
  expected.message = message;
  if (message.empty()) {
    const double* a_values = stand_in::values_of(*a);
    const double* b_values = stand_in::values_of(*b);
    expected.rows = nrhs < 3 ? a->cols : a->rows;
    expected.cols = nrhs < 3 ? b->cols : 1;
    expected.expected = nrhs < 3
                            ? reference::pairwise(a_values, b_values, a->rows, a->cols, b->cols)
                            : reference::weighted(a_values, b_values, stand_in::values_of(*args[2]),
                                                  a->rows, a->cols, b->cols);
  }
  const std::string wrong = cases::mismatch(expected, stand_in::call(nlhs, args));
  if (!wrong.empty()) fuzz::fail("gateway_fuzzer", wrong.c_str());
  return 0;
}
