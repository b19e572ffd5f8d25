// Calls of korvane and korvane_smallest with the outcome each must have, for
// every driver of a gateway through the stand-in host: gateway_tests, which
// links the gateway in, and the Windows host, which loads the built DLL. Each
// case holds the message or the plain loops' result, and what the host may
// see of one argument; mismatch() says what went wrong, or nothing.
#ifndef KORVANE_TESTS_GATEWAY_CASES_HPP
#define KORVANE_TESTS_GATEWAY_CASES_HPP

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "double_bits.hpp"
#include "reference_loops.hpp"
#include "stand_in_host.hpp"

namespace cases {

using stand_in::ArrayPtr;
using stand_in::CallOutcome;
using stand_in::make_double;

const std::string kUsage =
    "Usage: C = korvane(a,b)\n       or: C = korvane(a)\n       or: c = korvane(a,b,Q)\n"
    "where the b matrix may be empty.";
const std::string kColumnLengths = "Error: column lengths must agree";
const std::string kWrongQ = "Error: 3rd matrix argument has wrong dimensions";
const std::string kTooLarge = "Error: result matrix is too large";
const std::string kSmallestUsage =
    "Usage: d = korvane_smallest(a,b,k)\n       or: [d,i] = korvane_smallest(a,b,k)\n"
    "where the b matrix may be empty.";
const std::string kBadK = "Error: k must be a non-negative integer-valued real double scalar";
const std::string kIndexTooLarge =
    "Error: row indices beyond 2^53 would not be exact in the index output";
// What was passed and the usual fix: "single; convert with double(x)".
inline std::string not_real_double(int n, const std::string& got) {
  return "Error: argument " + std::to_string(n) + " must be a real, full double matrix (got " +
         got + ")";
}
const std::string kGotSingle = "single; convert with double(x)";
inline std::string not_matrix(int n) {
  return "Error: argument " + std::to_string(n) + " must be a 2-D matrix";
}

// What the host may see of the watched argument.
enum class Access { any, no_data, only_emptiness, none };

struct Case {
  std::string name;
  int nlhs = 1;
  std::vector<const mxArray*> args;
  std::string message;  // empty: the call must give the results below
  std::size_t rows = 0, cols = 0;
  std::vector<double> expected;
  bool with_index = false;  // korvane_smallest's second output
  std::vector<double> index;
  const mxArray* watched = nullptr;
  Access access = Access::any;
};

inline bool same_bits(const double* actual, const std::vector<double>& expected) {
  for (std::size_t n = 0; n < expected.size(); ++n)
    if (!same_double(actual[n], expected[n])) return false;
  return true;
}

inline std::string result_mismatch(const mxArray* slot, std::size_t rows, std::size_t cols,
                                   const std::vector<double>& expected) {
  if (slot == nullptr) return "no result";
  if (slot->rows != rows || slot->cols != cols)
    return "a " + std::to_string(slot->rows) + "x" + std::to_string(slot->cols) + " result";
  if (slot->complex) return "a complex result";
  return same_bits(stand_in::values_of(*slot), expected) ? "" : "other bits";
}

// Empty when the outcome is the case's; otherwise what differs.
inline std::string mismatch(const Case& c, const CallOutcome& outcome) {
  if (!c.message.empty()) {
    if (!outcome.failed) return "no error";
    if (outcome.message != c.message) return "message \"" + outcome.message + "\"";
    if (outcome.results_created != 0 || outcome.slot != nullptr)
      return "a result was created before the error";
    if (outcome.calls.empty() || outcome.calls.back().operation != "mexErrMsgTxt")
      return "the gateway went on after the error";
    // The counts come before any argument is looked at.
    if ((c.message == kUsage || c.message == kSmallestUsage) && outcome.calls.size() != 1)
      return "arguments looked at before the counts";
  } else {
    if (outcome.failed) return "error \"" + outcome.message + "\"";
    if (outcome.results_created != (c.with_index ? 2u : 1u))
      return std::to_string(outcome.results_created) + " results created";
    std::string wrong = result_mismatch(outcome.slot, c.rows, c.cols, c.expected);
    if (wrong.empty() && c.with_index)
      wrong = result_mismatch(outcome.second_slot, c.rows, c.cols, c.index);
    if (wrong.empty() && !c.with_index && outcome.second_slot != nullptr) wrong = "a second output";
    if (!wrong.empty()) return wrong;
  }
  for (const auto& call : outcome.calls) {
    if (call.array != c.watched || c.access == Access::any) continue;
    if (c.access == Access::none || (c.access == Access::no_data && call.operation == "mxGetPr") ||
        (c.access == Access::only_emptiness && call.operation != "mxIsEmpty"))
      return call.operation + " of an argument it must not read";
  }
  return "";
}

// Deterministic values of mixed sign and magnitude.
inline std::vector<double> values(std::size_t count, std::uint32_t seed) {
  std::vector<double> v(count);
  std::uint32_t state = seed * 2654435761U + 1U;
  for (double& x : v) {
    state = state * 1664525U + 1013904223U;
    x = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 1e3 / 7.0;
  }
  return v;
}

// The cases and the arrays they call with.
class Table {
 public:
  std::vector<Case> cases;

  const mxArray* keep(ArrayPtr array) {
    arrays_.push_back(std::move(array));
    return arrays_.back().get();
  }
  const mxArray* doubles(std::size_t rows, std::size_t cols, const std::vector<double>& v = {}) {
    return keep(make_double(rows, cols, v));
  }
  Case& error(const std::string& name, int nlhs, std::vector<const mxArray*> args,
              const std::string& message) {
    Case& c = add(name, nlhs, std::move(args));
    c.message = message;
    return c;
  }
  Case& result(const std::string& name, int nlhs, std::vector<const mxArray*> args,
               std::size_t rows, std::size_t cols, std::vector<double> expected) {
    Case& c = add(name, nlhs, std::move(args));
    c.rows = rows;
    c.cols = cols;
    c.expected = std::move(expected);
    return c;
  }
  void watch(const mxArray* array, Access access) {
    cases.back().watched = array;
    cases.back().access = access;
  }

 private:
  Case& add(const std::string& name, int nlhs, std::vector<const mxArray*> args) {
    cases.emplace_back();
    cases.back().name = name;
    cases.back().nlhs = nlhs;
    cases.back().args = std::move(args);
    return cases.back();
  }
  std::vector<ArrayPtr> arrays_;
};

// korvane's call forms, edge shapes, messages and the order of its checks.
inline Table korvane_cases() {
  Table t;
  const std::size_t dim = 19, n_a = 37, n_b = 53;
  const auto a_values = values(dim * n_a, 1), b_values = values(dim * n_b, 2);
  const auto q_values = values(n_a * n_b, 3), square = values(n_a * n_a, 4);
  const double* a_data = a_values.data();
  const mxArray* a = t.doubles(dim, n_a, a_values);
  const mxArray* b = t.doubles(dim, n_b, b_values);
  const mxArray* q = t.doubles(n_a, n_b, q_values);
  const mxArray* q_square = t.doubles(n_a, n_a, square);
  const mxArray* empty = t.doubles(0, 0);
  const auto between = reference::pairwise(a_data, b_values.data(), dim, n_a, n_b);
  const auto within = reference::pairwise(a_data, a_data, dim, n_a, n_a);
  const auto weighted =
      reference::weighted(a_data, b_values.data(), q_values.data(), dim, n_a, n_b);

  // Each form; with no output asked the result is still in slot one.
  t.result("korvane(a,b)", 1, {a, b}, n_a, n_b, between);
  t.result("korvane(a,b), no output", 0, {a, b}, n_a, n_b, between);
  t.result("korvane(a)", 1, {a}, n_a, n_a, within);
  t.result("korvane(a,[])", 1, {a, empty}, n_a, n_a, within);
  t.result("korvane(a,b,Q)", 1, {a, b, q}, dim, 1, weighted);
  t.result("korvane(a,b,Q), no output", 0, {a, b, q}, dim, 1, weighted);
  t.result("korvane(a,[],Q)", 1, {a, empty, q_square}, dim, 1,
           reference::weighted(a_data, a_data, square.data(), dim, n_a, n_a));
  t.error("korvane(a,[],Q) with Q for b", 1, {a, empty, q}, kWrongQ);
  const std::vector<double> special = {std::nan(""), 1.0, HUGE_VAL, 2.0, -0.0, 1e300};
  t.result("NaN, infinities and overflow", 1, {t.doubles(2, 3, special)}, 3, 3,
           reference::pairwise(special.data(), special.data(), 2, 3, 3));

  // Edge shapes: no points, no rows; a weighted Q of 0 x 4, never tested for emptiness.
  const mxArray* no_points = t.doubles(3, 0);
  const mxArray* b34 = t.doubles(3, 4, values(12, 5));
  t.result("3x0 against 3x4", 1, {no_points, b34}, 0, 4, {});
  t.result("0x4 alone", 1, {t.doubles(0, 4)}, 4, 4, std::vector<double>(16, 0.0));
  t.result("0x0 alone", 1, {empty}, 0, 0, {});
  t.result("weighted 3x0 with a 0x4 Q", 1, {no_points, b34, t.doubles(0, 4)}, 3, 1, {0, 0, 0});
  t.error("weighted 3x0 with a 0x0 Q", 1, {no_points, b34, empty}, kWrongQ);
  // An empty b of any shape or class stands for a, asked only whether it is empty.
  for (const mxArray* e_b :
       {t.doubles(dim + 2, 0), t.doubles(0, 7),
        t.keep(stand_in::make_array(ArrayClass::char_class, 0, 0)),
        t.keep(stand_in::make_array(ArrayClass::cell_class, 1, 0)),
        t.keep(stand_in::make_sparse(0, 3)), t.keep(stand_in::make_nd({dim, 0, 2}))}) {
    t.result("empty b " + std::to_string(t.cases.size()), 1, {a, e_b}, n_a, n_a, within);
    t.watch(e_b, Access::only_emptiness);
  }
  t.result("trailing singletons", 1, {t.keep(stand_in::make_nd({3, 4, 1, 1}))}, 4, 4,
           std::vector<double>(16, 0.0));

  // The counts, before any argument is looked at.
  t.error("no argument", 1, {}, kUsage);
  t.error("no argument, no output", 0, {}, kUsage);
  t.error("four arguments", 1, {a, b, q, q}, kUsage);
  t.error("two outputs", 2, {a, b}, kUsage);
  t.error("two outputs of korvane(a)", 2, {a}, kUsage);
  t.error("three outputs", 3, {a}, kUsage);

  // The rows of b; in the weighted form before any look at Q, however bad.
  const mxArray* taller = t.doubles(dim + 1, n_b);
  t.error("row counts differ", 1, {a, taller}, kColumnLengths);
  const mxArray* char_q = t.keep(stand_in::make_array(ArrayClass::char_class, 1, 1));
  t.error("row counts differ before Q is looked at", 1, {a, taller, char_q}, kColumnLengths);
  t.watch(char_q, Access::none);
  t.error("0x0 a against a 3-row b", 1, {empty, b34}, kColumnLengths);
  // Q transposed, a row more, a column more.
  for (const auto& [rows, cols] : {std::pair{n_b, n_a}, {n_a + 1, n_b}, {n_a, n_b + 1}}) {
    t.error("Q of " + std::to_string(rows) + "x" + std::to_string(cols), 1,
            {a, b, t.doubles(rows, cols)}, kWrongQ);
  }

  // Each argument that is not a real, full double matrix, before its data is read.
  struct Refused {
    ArrayClass array_class;
    bool complex, sparse;
    std::string got;
  };
  const Refused refused[] = {
      {ArrayClass::single_class, false, false, kGotSingle},
      {ArrayClass::int8_class, false, false, "int8; convert with double(x)"},
      {ArrayClass::int32_class, false, false, "int32; convert with double(x)"},
      {ArrayClass::uint64_class, false, false, "uint64; convert with double(x)"},
      {ArrayClass::logical_class, false, false, "logical; convert with double(x)"},
      {ArrayClass::char_class, false, false, "char; for character codes use double(x)"},
      {ArrayClass::cell_class, false, false, "cell; use cell2mat(x) or x{k}"},
      {ArrayClass::struct_class, false, false, "struct; pass one of its fields, x.name"},
      {ArrayClass::function_handle_class, false, false,
       "function_handle; pass the matrix it returns, x(...)"},
      {ArrayClass::object_class, false, false, "another class; pass a double matrix"},
      {ArrayClass::double_class, true, false, "complex; use real(x) or abs(x)"},
      {ArrayClass::double_class, false, true, "sparse; use full(x)"},
      {ArrayClass::double_class, true, true, "sparse complex; use real(full(x)) or abs(full(x))"},
  };
  for (int position = 1; position <= 3; ++position) {
    for (const Refused& r : refused) {
      const std::size_t rows = position == 3 ? n_a : dim;
      const std::size_t cols = position == 1 ? n_a : n_b;
      ArrayPtr array = r.sparse ? stand_in::make_sparse(rows, cols)
                                : stand_in::make_array(r.array_class, rows, cols);
      array->complex = r.complex;
      const mxArray* bad = t.keep(std::move(array));
      std::vector<const mxArray*> args = {a, b, q};
      args[static_cast<std::size_t>(position - 1)] = bad;
      t.error(r.got + " as argument " + std::to_string(position), 1, args,
              not_real_double(position, r.got));
      t.watch(bad, Access::no_data);
    }
  }

  // More than two dimensions: refused, not flattened (a's mxGetN is 20, as
  // of a 3 x 20 matrix); a 3-D b before its rows, and the class first.
  const mxArray* cube_a = t.keep(stand_in::make_nd({dim, 4, 5}));
  t.error("3-D a", 1, {cube_a}, not_matrix(1));
  t.watch(cube_a, Access::no_data);
  t.error("3-D b", 1, {a, t.keep(stand_in::make_nd({dim, 2, 2}))}, not_matrix(2));
  const mxArray* cube_q = t.keep(stand_in::make_nd({n_a, n_b, 2}));
  t.error("3-D Q", 1, {a, b, cube_q}, not_matrix(3));
  t.watch(cube_q, Access::no_data);
  t.error("3-D b of other rows", 1, {a, t.keep(stand_in::make_nd({dim + 1, 2, 2}))}, not_matrix(2));
  ArrayPtr single_cube = stand_in::make_array(ArrayClass::single_class, dim, 20);
  single_cube->dimensions = 3;
  t.error("class before dimensions", 1, {t.keep(std::move(single_cube))},
          not_real_double(1, kGotSingle));

  // The first broken rule: counts, argument 1's class, b's class, b's rows, Q.
  const mxArray* single_a = t.keep(stand_in::make_array(ArrayClass::single_class, dim, n_a));
  const mxArray* single_b = t.keep(stand_in::make_array(ArrayClass::single_class, dim + 1, n_b));
  const mxArray* transposed = t.doubles(n_b, n_a);
  t.error("counts first", 2, {single_a, taller, transposed}, kUsage);
  t.error("argument 1 before b's rows", 1, {single_a, taller}, not_real_double(1, kGotSingle));
  t.error("b's class before its rows", 1, {a, single_b, transposed},
          not_real_double(2, kGotSingle));
  t.error("b's rows before Q", 1, {a, taller, transposed}, kColumnLengths);

  // Results that cannot exist, before any is created. Point sets with no
  // coordinates hold no data, whatever their size; the element count would
  // wrap (to 0 for the square of 2^(bits/2)).
  constexpr std::size_t max_elements = static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(double);
  const std::size_t half_width = std::size_t{1} << (4 * sizeof(std::size_t));
  std::vector<std::pair<std::size_t, std::size_t>> too_large = {
      {half_width, half_width}, {half_width + 1, half_width + 1}, {max_elements, 2}};
  if (sizeof(std::size_t) == 8) {
    too_large.push_back({3000000000u, 3000000000u});
    // Shifted in 64 bits: a 32-bit build compiles this branch too.
    too_large.push_back({static_cast<std::size_t>(std::uint64_t{1} << 33), std::size_t{1} << 31});
  }
  for (const auto& [wide_a, wide_b] : too_large) {
    const mxArray* x = t.keep(stand_in::make_empty(0, wide_a));
    const std::string name = "0x" + std::to_string(wide_a) + " against 0x" + std::to_string(wide_b);
    t.error(name, 1, {x, t.keep(stand_in::make_empty(0, wide_b))}, kTooLarge);
    if (wide_a == wide_b) t.error(name + " alone", 1, {x}, kTooLarge);
  }
  // The weighted result is D x 1: an a with points holds D * n_a elements,
  // so D always fits then; an a without points can state any D.
  const mxArray* tall_empty = t.keep(stand_in::make_empty(max_elements + 1, 0));
  t.error("weighted, D too large", 1, {tall_empty, tall_empty, empty}, kTooLarge);
  t.error("weighted, D too large, b empty", 1, {tall_empty, empty, empty}, kTooLarge);
  // Last in the order: after the rows of b and after the shape of Q.
  t.error("b's rows before the size", 1, {t.keep(stand_in::make_empty(0, half_width)), b34},
          kColumnLengths);
  t.error("Q's shape before the size", 1, {tall_empty, tall_empty, t.doubles(1, 1)}, kWrongQ);
  return t;
}

// korvane_smallest: the first rows of a stable sort of korvane's result
// with their indices; korvane's checks for a and b, then k's, then the sizes.
inline Table smallest_cases() {
  Table t;
  const std::size_t dim = 3, n_a = 300, n_b = 40;
  std::vector<double> a_values = values(dim * n_a, 8);
  const std::vector<double> b_values = values(dim * n_b, 9);
  for (std::size_t n = 0; n < a_values.size(); n += 5) a_values[n] = std::round(a_values[n] / 50);
  a_values[4] = std::nan("");
  for (std::size_t k = 0; k < dim; ++k) a_values[2 * dim + k] = a_values[k];  // ties
  const mxArray* a = t.doubles(dim, n_a, a_values);
  const mxArray* b = t.doubles(dim, n_b, b_values);
  const mxArray* empty = t.doubles(0, 0);
  struct Row {
    const mxArray* b;
    const std::vector<double>* b_values;
    double k;
    int nlhs;
  };
  const Row rows[] = {{b, &b_values, 7, 2},
                      {b, &b_values, 7, 1},
                      {b, &b_values, 0, 2},
                      {b, &b_values, -0.0, 1},
                      {b, &b_values, 1e300, 2},
                      {b, &b_values, 4503599627370497.0, 2},
                      {b, &b_values, 9223372036854775808.0, 2},
                      {empty, &a_values, 65, 2},
                      {empty, &a_values, 3, 0}};
  for (const Row& row : rows) {
    const std::size_t nb = row.b_values->size() / dim;
    const std::size_t kept =
        row.k < static_cast<double>(n_a) ? static_cast<std::size_t>(row.k) : n_a;
    std::vector<double> d, index;
    reference::smallest(reference::pairwise(a_values.data(), row.b_values->data(), dim, n_a, nb),
                        n_a, nb, kept, d, index);
    Case& c = t.result("k=" + std::to_string(row.k) + ", " + std::to_string(row.nlhs) + " outputs",
                       row.nlhs, {a, row.b, t.doubles(1, 1, {row.k})}, kept, nb, d);
    c.with_index = row.nlhs == 2;
    if (c.with_index) c.index = index;
  }

  const mxArray* one = t.doubles(1, 1, {1.0});
  const mxArray* bad_k = t.doubles(1, 1, {-1.0});
  // The counts, then a and b as korvane checks them, then k.
  t.error("two arguments", 1, {a, b}, kSmallestUsage);
  t.error("four arguments", 1, {a, b, one, one}, kSmallestUsage);
  t.error("three outputs", 3, {a, b, one}, kSmallestUsage);
  t.error("a before k", 1,
          {t.keep(stand_in::make_array(ArrayClass::single_class, dim, n_a)), b, bad_k},
          not_real_double(1, kGotSingle));
  t.error("b's rows before k", 1, {a, t.doubles(dim + 1, n_b), bad_k}, kColumnLengths);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<const mxArray*> bad_ks;
  for (double k : {-1.0, -0.5, 0.5, 1.5, 2251799813685247.5, 4503599627370495.5, nan, inf, -inf}) {
    bad_ks.push_back(t.doubles(1, 1, {k}));
  }
  bad_ks.push_back(t.doubles(1, 2, {1.0, 2.0}));
  bad_ks.push_back(empty);
  bad_ks.push_back(t.keep(stand_in::make_array(ArrayClass::single_class, 1, 1)));
  bad_ks.push_back(t.keep(stand_in::make_array(ArrayClass::int32_class, 1, 1)));
  bad_ks.push_back(t.keep(stand_in::make_complex(1, 1)));
  bad_ks.push_back(t.keep(stand_in::make_sparse(1, 1)));
  bad_ks.push_back(t.keep(stand_in::make_nd({1, 1, 2})));
  for (const mxArray* k : bad_ks) {
    t.error("bad k " + std::to_string(t.cases.size()), 2, {a, b, k}, kBadK);
  }
  // Then whether d can exist, then, with i asked for, whether its rows are exact.
  const mxArray* wide =
      t.keep(stand_in::make_empty(0, std::size_t{1} << (4 * sizeof(std::size_t))));
  t.error("d too large", 1, {wide, wide, t.doubles(1, 1, {1e300})}, kTooLarge);
  if (sizeof(std::size_t) == 8) {
    // A b without rows is empty and stands for a: d would be 1 x (2^53 + 1).
    const mxArray* many =
        t.keep(stand_in::make_empty(0, static_cast<std::size_t>((std::uint64_t{1} << 53) + 1)));
    t.error("indices beyond 2^53", 2, {many, many, one}, kIndexTooLarge);
  }
  return t;
}

}  // namespace cases

#endif
