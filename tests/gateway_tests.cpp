// The gateway through the stand-in host: the messages byte for byte, the
// order of detection, the rule for an absent or empty b, where the result
// goes, and that nothing is created or read once a check has failed.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "bit_equality.hpp"
#include "call_checks.hpp"
#include "reference_loops.hpp"
#include "stand_in_host.hpp"

// korvane_smallest's MEX entry point, linked in under this name.
extern "C" void korvane_smallest_mex_function(int nlhs, mxArray* plhs[], int nrhs,
                                              const mxArray* prhs[]);

namespace {

using stand_in::ArrayPtr;
using stand_in::call;
using stand_in::CallOutcome;
using stand_in::make_double;

const std::string kUsage =
    "Usage: C = korvane(a,b)\n       or: C = korvane(a)\n       or: c = korvane(a,b,Q)\n"
    "where the b matrix may be empty.";
const std::string kColumnLengths = "Error: column lengths must agree";
const std::string kWrongQ = "Error: 3rd matrix argument has wrong dimensions";
// What was passed and the usual fix: "single; convert with double(x)".
std::string not_real_double(int n, const std::string& got) {
  return "Error: argument " + std::to_string(n) + " must be a real, full double matrix (got " +
         got + ")";
}
const std::string kGotSingle = "single; convert with double(x)";

std::string not_matrix(int n) {
  return "Error: argument " + std::to_string(n) + " must be a 2-D matrix";
}
const std::string kTooLarge = "Error: result matrix is too large";

std::vector<double> sequence(std::size_t n, double start, double step) {
  std::vector<double> v(n);
  for (std::size_t k = 0; k < n; ++k) v[k] = start + step * static_cast<double>(k * k % 7);
  return v;
}

// Whether the call touched the array at all, or with data_only read its data.
bool touched(const CallOutcome& outcome, const mxArray* array, bool data_only = false) {
  for (const auto& c : outcome.calls)
    if (c.array == array && (!data_only || c.operation == "mxGetPr")) return true;
  return false;
}

void expect_error(const CallOutcome& outcome, const std::string& message) {
  EXPECT_TRUE(outcome.failed);
  EXPECT_EQ(outcome.message, message);
  EXPECT_EQ(outcome.results_created, 0u) << "a result was created before the error";
  EXPECT_EQ(outcome.slot, nullptr);
  ASSERT_FALSE(outcome.calls.empty());
  EXPECT_EQ(outcome.calls.back().operation, "mexErrMsgTxt")
      << "the gateway went on after the error";
}

void expect_result(const CallOutcome& outcome, std::size_t rows, std::size_t cols,
                   const std::vector<double>& expected) {
  ASSERT_FALSE(outcome.failed) << outcome.message;
  ASSERT_NE(outcome.slot, nullptr);
  EXPECT_EQ(outcome.results_created, 1u);
  EXPECT_EQ(outcome.slot->rows, rows);
  EXPECT_EQ(outcome.slot->cols, cols);
  EXPECT_FALSE(outcome.slot->complex);
  EXPECT_TRUE(bitwise_equal(stand_in::values_of(*outcome.slot), expected));
}

struct PointSets {
  std::size_t dim = 3, n_a = 5, n_b = 4;
  std::vector<double> a_values = sequence(dim * n_a, -1.5, 0.75);
  std::vector<double> b_values = sequence(dim * n_b, 2.0, -0.5);
  std::vector<double> q_values = sequence(n_a * n_b, 0.5, 1.25);
  ArrayPtr a = make_double(dim, n_a, a_values);
  ArrayPtr b = make_double(dim, n_b, b_values);
  ArrayPtr q = make_double(n_a, n_b, q_values);
};

// Each call form, and with no output asked the result still in slot one.
TEST(GatewayCallForms, EachFormGivesThePlainLoopsBits) {
  PointSets p;
  ArrayPtr empty = make_double(0, 0);
  auto square = sequence(p.n_a * p.n_a, 1.0, 0.5);
  ArrayPtr q_square = make_double(p.n_a, p.n_a, square);
  const double* a = p.a_values.data();
  const auto between = reference::pairwise(a, p.b_values.data(), p.dim, p.n_a, p.n_b);
  const auto within = reference::pairwise(a, a, p.dim, p.n_a, p.n_a);
  const auto weighted =
      reference::weighted(a, p.b_values.data(), p.q_values.data(), p.dim, p.n_a, p.n_b);
  const auto weighted_within = reference::weighted(a, a, square.data(), p.dim, p.n_a, p.n_a);
  const struct {
    int nlhs;
    std::vector<const mxArray*> args;
    std::size_t rows, cols;
    const std::vector<double>& expected;
  } forms[] = {{1, {p.a.get(), p.b.get()}, p.n_a, p.n_b, between},
               {0, {p.a.get(), p.b.get()}, p.n_a, p.n_b, between},
               {1, {p.a.get()}, p.n_a, p.n_a, within},
               {1, {p.a.get(), empty.get()}, p.n_a, p.n_a, within},
               {1, {p.a.get(), p.b.get(), p.q.get()}, p.dim, 1, weighted},
               {0, {p.a.get(), p.b.get(), p.q.get()}, p.dim, 1, weighted},
               {1, {p.a.get(), empty.get(), q_square.get()}, p.dim, 1, weighted_within}};
  for (const auto& form : forms) {
    expect_result(call(form.nlhs, form.args), form.rows, form.cols, form.expected);
  }
  // With b empty, Q must be n_a x n_a.
  expect_error(call(1, {p.a.get(), empty.get(), p.q.get()}), kWrongQ);
}

TEST(GatewayCounts, UsageForWrongArgumentOrOutputCounts) {
  PointSets p;
  expect_error(call(1, {}), kUsage);
  expect_error(call(0, {}), kUsage);
  expect_error(call(1, {p.a.get(), p.b.get(), p.q.get(), p.q.get()}), kUsage);
  expect_error(call(2, {p.a.get(), p.b.get()}), kUsage);
  expect_error(call(2, {p.a.get()}), kUsage);
  // The counts are checked before any argument is looked at.
  const auto outcome = call(2, {p.a.get(), p.b.get()});
  EXPECT_FALSE(touched(outcome, p.a.get()));
  EXPECT_EQ(outcome.calls.size(), 1u);
}

TEST(GatewayShapes, ColumnLengthsMustAgree) {
  PointSets p;
  ArrayPtr taller = make_double(p.dim + 1, p.n_b);
  expect_error(call(1, {p.a.get(), taller.get()}), kColumnLengths);
  // In the weighted form this comes before any look at Q, however bad Q is.
  ArrayPtr bad_q = stand_in::make_array(ArrayClass::char_class, 1, 1);
  const auto outcome = call(1, {p.a.get(), taller.get(), bad_q.get()});
  expect_error(outcome, kColumnLengths);
  EXPECT_FALSE(touched(outcome, bad_q.get()));
  // A 0 x 0 a against a non-empty b of 3 rows: 0 rows differ from 3.
  ArrayPtr nothing = make_double(0, 0);
  expect_error(call(1, {nothing.get(), p.b.get()}), kColumnLengths);
}

TEST(GatewayShapes, EmptyBOfAnyShapeOrClassStandsForA) {
  PointSets p;
  const auto expected =
      reference::pairwise(p.a_values.data(), p.a_values.data(), p.dim, p.n_a, p.n_a);
  std::vector<ArrayPtr> empties;
  empties.push_back(make_double(p.dim + 2, 0));
  empties.push_back(make_double(0, 7));
  empties.push_back(stand_in::make_array(ArrayClass::char_class, 0, 0));
  empties.push_back(stand_in::make_array(ArrayClass::cell_class, 1, 0));
  empties.push_back(stand_in::make_sparse(0, 3));
  for (const ArrayPtr& empty : empties) {
    const auto outcome = call(1, {p.a.get(), empty.get()});
    expect_result(outcome, p.n_a, p.n_a, expected);
    for (const auto& c : outcome.calls) {
      if (c.array == empty.get()) {
        EXPECT_EQ(c.operation, "mxIsEmpty");
      }
    }
  }
}

TEST(GatewayShapes, WrongQDimensions) {
  PointSets p;
  // Transposed, a row more, a column more.
  for (const auto& [rows, cols] :
       {std::pair{p.n_b, p.n_a}, {p.n_a + 1, p.n_b}, {p.n_a, p.n_b + 1}}) {
    ArrayPtr q = make_double(rows, cols);
    expect_error(call(1, {p.a.get(), p.b.get(), q.get()}), kWrongQ);
  }
}

TEST(GatewayShapes, EmptyPointSets) {
  // a with 3 rows and no points against b of 3 x 4: a 0 x 4 result.
  ArrayPtr no_points = make_double(3, 0);
  PointSets p;
  expect_result(call(1, {no_points.get(), p.b.get()}), 0, p.n_b, {});
  // a with no rows and 4 points, alone: 4 x 4 of +0.0.
  ArrayPtr no_rows = make_double(0, 4);
  expect_result(call(1, {no_rows.get()}), 4, 4, std::vector<double>(16, 0.0));
  // 0 x 0 alone: a 0 x 0 result.
  ArrayPtr nothing = make_double(0, 0);
  expect_result(call(1, {nothing.get()}), 0, 0, {});
  // Weighted, a of 3 x 0 and b of 3 x 4: Q must be 0 x 4, never tested for emptiness.
  ArrayPtr q_0x4 = make_double(0, 4);
  ArrayPtr q_0x0 = make_double(0, 0);
  expect_result(call(1, {no_points.get(), p.b.get(), q_0x4.get()}), 3, 1, {0.0, 0.0, 0.0});
  expect_error(call(1, {no_points.get(), p.b.get(), q_0x0.get()}), kWrongQ);
}

TEST(GatewayArgumentClasses, EachNonDoubleArgumentIsRefusedBeforeItsDataIsRead) {
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
      PointSets p;
      const std::size_t rows = position == 3 ? p.n_a : p.dim;
      const std::size_t cols = position == 1 ? p.n_a : p.n_b;
      ArrayPtr array = r.sparse ? stand_in::make_sparse(rows, cols)
                                : stand_in::make_array(r.array_class, rows, cols);
      array->complex = r.complex;
      std::vector<const mxArray*> args = {p.a.get(), p.b.get(), p.q.get()};
      args[static_cast<std::size_t>(position - 1)] = array.get();
      const auto outcome = call(1, args);
      expect_error(outcome, not_real_double(position, r.got));
      EXPECT_FALSE(touched(outcome, array.get(), true));
    }
  }
}

TEST(GatewayArgumentShapes, ArgumentsOfMoreThanTwoDimensionsAreRefused) {
  PointSets p;
  ArrayPtr cube_a = stand_in::make_nd({p.dim, 4, 5});
  ArrayPtr cube_b = stand_in::make_nd({p.dim, 2, 2});
  ArrayPtr cube_q = stand_in::make_nd({p.n_a, p.n_b, 2});
  // Its mxGetN is 20: read as a matrix it would pass for 3 x 20.
  auto outcome = call(1, {cube_a.get()});
  expect_error(outcome, not_matrix(1));
  EXPECT_FALSE(touched(outcome, cube_a.get(), true));
  expect_error(call(1, {p.a.get(), cube_b.get()}), not_matrix(2));
  outcome = call(1, {p.a.get(), p.b.get(), cube_q.get()});
  expect_error(outcome, not_matrix(3));
  EXPECT_FALSE(touched(outcome, cube_q.get(), true));
  // A 3-D b is refused before its rows are compared, a 3-D Q before its shape.
  ArrayPtr tall_cube = stand_in::make_nd({p.dim + 1, 2, 2});
  expect_error(call(1, {p.a.get(), tall_cube.get()}), not_matrix(2));
  // The class is checked first.
  ArrayPtr single_cube = stand_in::make_array(ArrayClass::single_class, p.dim, 20);
  single_cube->dimensions = 3;
  expect_error(call(1, {single_cube.get()}), not_real_double(1, kGotSingle));

  // Trailing singleton dimensions leave a matrix, and an empty b of any
  // shape still stands for a.
  ArrayPtr a_values_3d = stand_in::make_nd({p.dim, p.n_a, 1, 1});
  EXPECT_EQ(a_values_3d->dimensions, 2u);
  const auto expected =
      reference::pairwise(p.a_values.data(), p.a_values.data(), p.dim, p.n_a, p.n_a);
  ArrayPtr empty_cube = stand_in::make_nd({p.dim, 0, 2});
  expect_result(call(1, {p.a.get(), empty_cube.get()}), p.n_a, p.n_a, expected);
}

TEST(GatewayResultSize, ResultsThatCannotExistAreRefusedBeforeAnyIsCreated) {
  constexpr std::size_t max_elements = static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(double);
  EXPECT_TRUE(korvane::gateway::result_fits(1, max_elements));
  EXPECT_TRUE(korvane::gateway::result_fits(0, SIZE_MAX));
  EXPECT_TRUE(korvane::gateway::result_fits(SIZE_MAX, 0));
  EXPECT_FALSE(korvane::gateway::result_fits(1, max_elements + 1));
  EXPECT_FALSE(korvane::gateway::result_fits(max_elements / 3 + 1, 3));

  // Point sets with no coordinates hold no data, whatever their size; the
  // result's element count would wrap (to 0 for the square of 2^(bits/2)).
  const std::size_t half_width = std::size_t{1} << (4 * sizeof(std::size_t));
  std::vector<std::pair<std::size_t, std::size_t>> too_large = {
      {half_width, half_width}, {half_width + 1, half_width + 1}, {max_elements, 2}};
  if (sizeof(std::size_t) == 8) {
    too_large.push_back({3000000000u, 3000000000u});
    // Shifted in 64 bits: a 32-bit build compiles this branch too.
    too_large.push_back({static_cast<std::size_t>(std::uint64_t{1} << 33), std::size_t{1} << 31});
  }
  for (const auto& [n_a, n_b] : too_large) {
    ArrayPtr a = stand_in::make_empty(0, n_a);
    ArrayPtr b = stand_in::make_empty(0, n_b);
    expect_error(call(1, {a.get(), b.get()}), kTooLarge);
    if (n_a == n_b) expect_error(call(1, {a.get()}), kTooLarge);
  }

  // The weighted result is D x 1. An a with points holds D * n_a elements,
  // so D always fits then; an a without points can state any D.
  ArrayPtr no_points = stand_in::make_empty(max_elements + 1, 0);
  ArrayPtr q_0x0 = make_double(0, 0);
  expect_error(call(1, {no_points.get(), no_points.get(), q_0x0.get()}), kTooLarge);
  expect_error(call(1, {no_points.get(), q_0x0.get(), q_0x0.get()}), kTooLarge);

  // Last in the order: after the rows of b and after the shape of Q.
  ArrayPtr wide = stand_in::make_empty(0, half_width);
  expect_error(call(1, {wide.get(), make_double(3, 2).get()}), kColumnLengths);
  expect_error(call(1, {no_points.get(), no_points.get(), make_double(1, 1).get()}), kWrongQ);
}

TEST(GatewayOrder, FirstBrokenRuleIsReported) {
  PointSets p;
  ArrayPtr single_a = stand_in::make_array(ArrayClass::single_class, p.dim, p.n_a);
  ArrayPtr taller = make_double(p.dim + 1, p.n_b);
  ArrayPtr single_b = stand_in::make_array(ArrayClass::single_class, p.dim + 1, p.n_b);
  ArrayPtr transposed = make_double(p.n_b, p.n_a);
  // Counts before everything.
  expect_error(call(2, {single_a.get(), taller.get(), transposed.get()}), kUsage);
  // Argument 1's class before b's rows.
  expect_error(call(1, {single_a.get(), taller.get()}), not_real_double(1, kGotSingle));
  // b's class before b's rows; b's rows before Q.
  expect_error(call(1, {p.a.get(), single_b.get(), transposed.get()}),
               not_real_double(2, kGotSingle));
  expect_error(call(1, {p.a.get(), taller.get(), transposed.get()}), kColumnLengths);
}

TEST(GatewayCalls, ManyCallsInARowWithErrorsAmongThem) {
  PointSets p;
  ArrayPtr taller = make_double(p.dim + 1, p.n_b);
  const auto expected =
      reference::pairwise(p.a_values.data(), p.b_values.data(), p.dim, p.n_a, p.n_b);
  for (int round = 0; round < 50; ++round) {
    expect_result(call(1, {p.a.get(), p.b.get()}), p.n_a, p.n_b, expected);
    expect_error(call(1, {p.a.get(), taller.get()}), kColumnLengths);
    expect_error(call(3, {p.a.get()}), kUsage);
  }
}

// korvane_smallest: its results are the first rows of a stable sort of
// korvane's; its checks are korvane's for a and b, then k's, then the sizes.
const std::string kSmallestUsage =
    "Usage: d = korvane_smallest(a,b,k)\n       or: [d,i] = korvane_smallest(a,b,k)\n"
    "where the b matrix may be empty.";
const std::string kBadK = "Error: k must be a non-negative integer-valued real double scalar";
const std::string kIndexTooLarge =
    "Error: row indices beyond 2^53 would not be exact in the index output";

CallOutcome call_smallest(int nlhs, const std::vector<const mxArray*>& args) {
  return call(&korvane_smallest_mex_function, nlhs, args);
}

TEST(SmallestGateway, FirstRowsOfTheSortedDistancesWithTheirIndices) {
  PointSets p;
  std::vector<double> a_values = p.a_values, b_values = p.b_values;
  a_values[4] = a_values[1];  // ties
  ArrayPtr a = make_double(p.dim, p.n_a, a_values);
  ArrayPtr b = make_double(p.dim, p.n_b, b_values);
  ArrayPtr empty = make_double(0, 0);
  struct Row {
    const mxArray* b;
    const std::vector<double>* b_values;
    std::size_t n_b;
    double k;
    int nlhs;
  };
  const std::vector<Row> rows = {{b.get(), &b_values, p.n_b, 2, 2},
                                 {b.get(), &b_values, p.n_b, 2, 1},
                                 {b.get(), &b_values, p.n_b, 0, 2},
                                 {b.get(), &b_values, p.n_b, 1e300, 2},
                                 {b.get(), &b_values, p.n_b, 4503599627370497.0, 2},
                                 {b.get(), &b_values, p.n_b, 9223372036854775808.0, 2},
                                 {empty.get(), &a_values, p.n_a, 3, 2},
                                 {empty.get(), &a_values, p.n_a, 3, 0}};
  for (const Row& row : rows) {
    const auto C =
        reference::pairwise(a_values.data(), row.b_values->data(), p.dim, p.n_a, row.n_b);
    const std::size_t kept =
        row.k < static_cast<double>(p.n_a) ? static_cast<std::size_t>(row.k) : p.n_a;
    std::vector<double> d, index;
    reference::smallest(C, p.n_a, row.n_b, kept, d, index);
    ArrayPtr k = make_double(1, 1, {row.k});
    const auto outcome = call_smallest(row.nlhs, {a.get(), row.b, k.get()});
    ASSERT_FALSE(outcome.failed) << outcome.message;
    ASSERT_NE(outcome.slot, nullptr);
    EXPECT_EQ(outcome.results_created, row.nlhs == 2 ? 2u : 1u) << "k=" << row.k;
    EXPECT_EQ(outcome.slot->rows, kept);
    EXPECT_EQ(outcome.slot->cols, row.n_b);
    EXPECT_TRUE(bitwise_equal(stand_in::values_of(*outcome.slot), d));
    if (row.nlhs == 2) {
      ASSERT_NE(outcome.second_slot, nullptr);
      EXPECT_EQ(outcome.second_slot->rows, kept);
      EXPECT_EQ(outcome.second_slot->cols, row.n_b);
      EXPECT_TRUE(bitwise_equal(stand_in::values_of(*outcome.second_slot), index));
    } else {
      EXPECT_EQ(outcome.second_slot, nullptr);
    }
  }
}

TEST(SmallestGateway, EveryRefusalComesInOrderBeforeAnythingIsCreated) {
  PointSets p;
  ArrayPtr one = make_double(1, 1, {1.0});
  ArrayPtr taller = make_double(p.dim + 1, p.n_b);
  ArrayPtr single_a = stand_in::make_array(ArrayClass::single_class, p.dim, p.n_a);
  // The counts, then a and b as korvane checks them, then k.
  expect_error(call_smallest(1, {p.a.get(), p.b.get()}), kSmallestUsage);
  expect_error(call_smallest(1, {p.a.get(), p.b.get(), one.get(), one.get()}), kSmallestUsage);
  expect_error(call_smallest(3, {p.a.get(), p.b.get(), one.get()}), kSmallestUsage);
  ArrayPtr bad_k = make_double(1, 1, {-1.0});
  expect_error(call_smallest(1, {single_a.get(), p.b.get(), bad_k.get()}),
               not_real_double(1, kGotSingle));
  expect_error(call_smallest(1, {p.a.get(), taller.get(), bad_k.get()}), kColumnLengths);

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<ArrayPtr> bad_ks;
  for (double k : {-1.0, -0.5, 1.5, 2251799813685247.5, 4503599627370495.5, nan, inf, -inf}) {
    bad_ks.push_back(make_double(1, 1, {k}));
  }
  bad_ks.push_back(make_double(1, 2, {1.0, 2.0}));
  bad_ks.push_back(make_double(0, 0));
  bad_ks.push_back(stand_in::make_array(ArrayClass::single_class, 1, 1));
  bad_ks.push_back(stand_in::make_array(ArrayClass::int32_class, 1, 1));
  bad_ks.push_back(stand_in::make_complex(1, 1));
  bad_ks.push_back(stand_in::make_sparse(1, 1));
  bad_ks.push_back(stand_in::make_nd({1, 1, 2}));
  for (const ArrayPtr& k : bad_ks) {
    expect_error(call_smallest(2, {p.a.get(), p.b.get(), k.get()}), kBadK);
  }
  // -0 is a whole number: no rows.
  ArrayPtr minus_zero = make_double(1, 1, {-0.0});
  EXPECT_EQ(call_smallest(1, {p.a.get(), p.b.get(), minus_zero.get()}).slot->rows, 0u);

  // Then whether d can exist, then, with i asked for, whether its rows are exact.
  const std::size_t half_width = std::size_t{1} << (4 * sizeof(std::size_t));
  ArrayPtr wide = stand_in::make_empty(0, half_width);
  ArrayPtr huge_k = make_double(1, 1, {1e300});
  expect_error(call_smallest(1, {wide.get(), wide.get(), huge_k.get()}), kTooLarge);
  if (sizeof(std::size_t) == 8) {
    // A b without rows is empty and stands for a: d would be 1 x (2^53 + 1).
    ArrayPtr many = stand_in::make_empty(0, static_cast<std::size_t>((std::uint64_t{1} << 53) + 1));
    expect_error(call_smallest(2, {many.get(), many.get(), one.get()}), kIndexTooLarge);
  }
}

}  // namespace
