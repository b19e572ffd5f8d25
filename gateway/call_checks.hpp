// The checks of one call of korvane, in their fixed order, for any host.
//
// An entry point wraps its host's arguments in an adaptor and calls
// check_call, which asks the adaptor about each argument in the order the
// checks need it and returns either the first broken rule's message or the
// views of a, b (and Q) and the shape of the result to create. Nothing here
// creates, writes or frees anything, so an entry point that reports the
// message and stops leaves nothing behind.
//
// Adaptor requirements (n counts arguments from 0; only n < nrhs is asked):
//   ArgumentKind kind(int n) const;   argument_kind() of the host's class
//                                     name, sparsity and complexity
//   bool is_matrix(int n) const;      at most two dimensions (trailing
//                                     singleton dimensions do not count)
//   bool is_empty(int n) const;       no elements
//   double* data(int n) const;        rows * cols column-major doubles
//   std::size_t rows(int n) const;
//   std::size_t cols(int n) const;
// Each is asked only once its argument has passed the checks before it:
// data, cols and rows only of a real, full, two-dimensional double matrix.
#ifndef KORVANE_GATEWAY_CALL_CHECKS_HPP
#define KORVANE_GATEWAY_CALL_CHECKS_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "distance_kernels.hpp"

namespace korvane::gateway {

inline constexpr char kUsageText[] =
    "Usage: C = korvane(a,b)\n"
    "       or: C = korvane(a)\n"
    "       or: c = korvane(a,b,Q)\n"
    "where the b matrix may be empty.";
inline constexpr char kColumnLengthText[] = "Error: column lengths must agree";
inline constexpr char kWrongQText[] = "Error: 3rd matrix argument has wrong dimensions";
inline constexpr char kTooLargeText[] = "Error: result matrix is too large";
// What an argument is, as far as the checks go: a real, full double matrix,
// or one of the kinds refused, each with a message naming it and the usual
// fix. Both entry points classify with argument_kind(), so that they report
// the same bytes for every value.
enum class ArgumentKind : unsigned char {
  real_full_double,
  single_class,
  int8_class,
  uint8_class,
  int16_class,
  uint16_class,
  int32_class,
  uint32_class,
  int64_class,
  uint64_class,
  logical_class,
  char_class,
  cell_class,
  struct_class,
  function_handle_class,
  other_class,
  sparse,
  complex,
  sparse_complex,
};

// The class names of single_class ... function_handle_class, in order.
inline constexpr const char* kRefusedClassNames[] = {
    "single", "int8",   "uint8",   "int16", "uint16", "int32",  "uint32",
    "int64",  "uint64", "logical", "char",  "cell",   "struct", "function_handle",
};

inline ArgumentKind argument_kind(const char* class_name, bool sparse, bool complex) {
  if (class_name == nullptr) return ArgumentKind::other_class;
  if (std::strcmp(class_name, "double") == 0) {
    if (sparse) return complex ? ArgumentKind::sparse_complex : ArgumentKind::sparse;
    return complex ? ArgumentKind::complex : ArgumentKind::real_full_double;
  }
  int kind = static_cast<int>(ArgumentKind::single_class);
  for (const char* name : kRefusedClassNames) {
    if (std::strcmp(class_name, name) == 0) return static_cast<ArgumentKind>(kind);
    ++kind;
  }
  return ArgumentKind::other_class;
}

// The refusals of argument N, one per kind after real_full_double.
#define KORVANE_REFUSED(n, got) \
  "Error: argument " n " must be a real, full double matrix (got " got ")"
#define KORVANE_REFUSALS(n)                                                      \
  KORVANE_REFUSED(n, "single; convert with double(x)"),                          \
      KORVANE_REFUSED(n, "int8; convert with double(x)"),                        \
      KORVANE_REFUSED(n, "uint8; convert with double(x)"),                       \
      KORVANE_REFUSED(n, "int16; convert with double(x)"),                       \
      KORVANE_REFUSED(n, "uint16; convert with double(x)"),                      \
      KORVANE_REFUSED(n, "int32; convert with double(x)"),                       \
      KORVANE_REFUSED(n, "uint32; convert with double(x)"),                      \
      KORVANE_REFUSED(n, "int64; convert with double(x)"),                       \
      KORVANE_REFUSED(n, "uint64; convert with double(x)"),                      \
      KORVANE_REFUSED(n, "logical; convert with double(x)"),                     \
      KORVANE_REFUSED(n, "char; for character codes use double(x)"),             \
      KORVANE_REFUSED(n, "cell; use cell2mat(x) or x{k}"),                       \
      KORVANE_REFUSED(n, "struct; pass one of its fields, x.name"),              \
      KORVANE_REFUSED(n, "function_handle; pass the matrix it returns, x(...)"), \
      KORVANE_REFUSED(n, "another class; pass a double matrix"),                 \
      KORVANE_REFUSED(n, "sparse; use full(x)"),                                 \
      KORVANE_REFUSED(n, "complex; use real(x) or abs(x)"),                      \
      KORVANE_REFUSED(n, "sparse complex; use real(full(x)) or abs(full(x))"),
inline constexpr int kRefusedKinds = static_cast<int>(ArgumentKind::sparse_complex);
inline constexpr const char* kNotRealDoubleText[3][kRefusedKinds] = {
    {KORVANE_REFUSALS("1")}, {KORVANE_REFUSALS("2")}, {KORVANE_REFUSALS("3")}};
#undef KORVANE_REFUSALS
#undef KORVANE_REFUSED
static_assert(sizeof kRefusedClassNames / sizeof kRefusedClassNames[0] ==
              static_cast<std::size_t>(ArgumentKind::other_class) - 1);
// A missing row would leave a null text.
constexpr bool every_refusal_has_a_text() {
  for (const auto& texts : kNotRealDoubleText)
    for (const char* text : texts)
      if (text == nullptr) return false;
  return true;
}
static_assert(every_refusal_has_a_text());
inline constexpr const char* kNotMatrixText[] = {
    "Error: argument 1 must be a 2-D matrix",
    "Error: argument 2 must be a 2-D matrix",
    "Error: argument 3 must be a 2-D matrix",
};

enum class Form { distances, weighted };

struct CheckedCall {
  const char* error;  // the message to report, or null when every check passed
  Form form;
  MatrixView a;
  MatrixView b;
  MatrixView Q;  // weighted form only
  std::size_t result_rows;
  std::size_t result_cols;
};

// Whether a rows x cols double matrix can exist at all: its element count
// and its byte count must not wrap, and the byte count must fit the signed
// sizes hosts index with. A host may still fail to allocate a result that
// passes; one that fails must never be asked for, as a wrapped count would
// make the host create less storage than the kernels then write.
constexpr bool result_fits(std::size_t rows, std::size_t cols) {
  constexpr std::size_t max_elements = static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(double);
  return rows == 0 || cols <= max_elements / rows;
}

namespace detail {

inline CheckedCall refused(const char* message) {
  CheckedCall call{};
  call.error = message;
  return call;
}

// Class before shape: a non-double array's storage is not read as doubles.
template <class Host>
const char* matrix_error(const Host& host, int n) {
  const ArgumentKind kind = host.kind(n);
  if (kind != ArgumentKind::real_full_double) {
    return kNotRealDoubleText[n][static_cast<int>(kind) - 1];
  }
  if (!host.is_matrix(n)) return kNotMatrixText[n];
  return nullptr;
}

// Arguments 1 and 2 into the views a and b: argument 1, then argument 2
// unless it is absent or empty (then b is a, unlooked at). Shared by every
// function of the module that takes the point sets a and b.
template <class Host>
const char* point_sets_error(const Host& host, int nrhs, MatrixView& a, MatrixView& b) {
  if (const char* error = matrix_error(host, 0)) return error;
  double* const a_data = host.data(0);
  const std::size_t n_a = host.cols(0);
  const std::size_t dim = host.rows(0);
  a = MatrixView{dim, n_a, a_data};
  b = a;
  if (nrhs >= 2 && !host.is_empty(1)) {
    if (const char* error = matrix_error(host, 1)) return error;
    double* const b_data = host.data(1);
    const std::size_t n_b = host.cols(1);
    if (host.rows(1) != dim) return kColumnLengthText;
    b = MatrixView{dim, n_b, b_data};
  }
  return nullptr;
}

}  // namespace detail

// The order is fixed: the counts; argument 1; argument 2 unless it is absent
// or empty (then b is a, unlooked at); in the weighted form argument 3 and
// Q's shape; last, whether the result can exist.
template <class Host>
CheckedCall check_call(const Host& host, int nlhs, int nrhs) {
  if (nrhs < 1 || nrhs > 3 || nlhs > 1) return detail::refused(kUsageText);

  CheckedCall call{};
  if (const char* error = detail::point_sets_error(host, nrhs, call.a, call.b)) {
    return detail::refused(error);
  }
  const std::size_t dim = call.a.rows;

  if (nrhs < 3) {
    call.form = Form::distances;
    call.result_rows = call.a.cols;
    call.result_cols = call.b.cols;
  } else {
    if (const char* error = detail::matrix_error(host, 2)) return detail::refused(error);
    double* const q_data = host.data(2);
    const std::size_t q_cols = host.cols(2);
    if (q_cols != call.b.cols || host.rows(2) != call.a.cols) return detail::refused(kWrongQText);
    call.form = Form::weighted;
    call.Q = MatrixView{call.a.cols, call.b.cols, q_data};
    // D x 1: too large only when a has no points to hold D * n_a elements.
    call.result_rows = dim;
    call.result_cols = 1;
  }

  if (!result_fits(call.result_rows, call.result_cols)) return detail::refused(kTooLargeText);
  return call;
}

}  // namespace korvane::gateway

#endif
