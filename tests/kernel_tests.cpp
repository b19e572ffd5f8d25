// The kernels against the plain-loop oracle, bit for bit, for every
// instruction-set variant this build contains and this CPU can run.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bit_equality.hpp"
#include "guarded_result.hpp"
#include "kernel_variants.hpp"
#include "pairwise_tables.hpp"
#include "reference_loops.hpp"
#include "smallest_per_column.hpp"

namespace {

using korvane::InstructionSet;
using korvane::MatrixView;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Values over many magnitudes, with a common offset so that differences
// cancel, plus exact small integers: all the ways the rounding can differ.
std::vector<double> random_values(std::size_t n, unsigned seed, double offset = 0.0) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-4, 4);
  std::uniform_int_distribution<int> small_int(-8, 8);
  std::vector<double> v(n);
  for (double& x : v) {
    x = (gen() % 5 == 0) ? small_int(gen) : offset + unit(gen) * std::pow(10.0, exponent(gen));
  }
  return v;
}

// The double at place (0 to 7) of a 64-byte line within storage, after the
// first line boundary and `lines` more whole lines.
double* at_place_in_line(std::vector<double>& storage, std::size_t lines, std::size_t place) {
  const auto misplaced = reinterpret_cast<std::uintptr_t>(storage.data()) / sizeof(double) % 8;
  return storage.data() + (8 - misplaced) % 8 + 8 * lines + place;
}

MatrixView view(std::vector<double>& v, std::size_t rows, std::size_t cols) {
  return MatrixView{rows, cols, v.empty() ? nullptr : v.data()};
}

class KernelTest : public ::testing::TestWithParam<InstructionSet> {
 protected:
  void SetUp() override {
    if (!korvane::instruction_set_available(GetParam())) {
      GTEST_SKIP() << korvane::instruction_set_name(GetParam()) << " not available here";
    }
  }

  // Runs the variant under test on a (dim x n_a) and b (dim x n_b) and checks
  // it against the oracle; b_is_a passes a's own view as b, and l2_bytes is
  // the L2 cache size that the blocks are sized for.
  void expect_pairwise_matches(std::vector<double>& a, std::vector<double>& b, std::size_t dim,
                               std::size_t n_a, std::size_t n_b, bool b_is_a = false,
                               std::size_t l2_bytes = korvane::l2_cache_bytes()) {
    const MatrixView av = view(a, dim, n_a);
    const MatrixView bv = b_is_a ? av : view(b, dim, n_b);
    GuardedResult C(n_a, n_b);
    korvane::pairwise_squared_distances(GetParam(), av, bv, C.fresh_view(), l2_bytes);
    const auto expected = reference::pairwise(av.data, bv.data, dim, n_a, n_b);
    EXPECT_TRUE(bitwise_equal(C.values(), expected))
        << "D=" << dim << " n_a=" << n_a << " n_b=" << n_b << " L2=" << l2_bytes;
    EXPECT_TRUE(C.guards_intact()) << "wrote outside C";
  }

  void expect_random_pairwise_matches(std::size_t dim, std::size_t n_a, std::size_t n_b,
                                      unsigned seed, double offset = 0.0,
                                      std::size_t l2_bytes = korvane::l2_cache_bytes()) {
    auto a = random_values(dim * n_a, seed, offset);
    auto b = random_values(dim * n_b, seed + 1, offset);
    expect_pairwise_matches(a, b, dim, n_a, n_b, false, l2_bytes);
  }

  // The continued sums from +0.0 in pieces: a's points up to a third, the
  // next point in two halves of b's columns (with Q's same columns), the rest
  // in two ranges. Pieces may be empty. They must give the one call's bits.
  void expect_continued_matches(const MatrixView& a, const MatrixView& b, const MatrixView& Q,
                                const std::vector<double>& expected) {
    const std::size_t n_a = a.cols;
    const std::size_t n_b = b.cols;
    GuardedResult c(a.rows, 1);
    const MatrixView cv = c.fresh_view();
    for (std::size_t k = 0; k < a.rows; ++k) cv.data[k] = 0.0;
    const auto run = [&](std::size_t j0, std::size_t j1, std::size_t first, std::size_t end) {
      const MatrixView b_part{b.rows, j1 - j0, b.data + j0 * b.rows};
      const MatrixView Q_part{Q.rows, j1 - j0, Q.data + j0 * Q.rows};
      korvane::continue_weighted_coordinate_sums(GetParam(), a, b_part, Q_part, cv, first, end);
    };
    const std::size_t third = n_a / 3;
    run(0, n_b, 0, third);
    if (third < n_a) {
      run(0, n_b / 2, third, third + 1);
      run(n_b / 2, n_b, third, third + 1);
      const std::size_t later = third + 1 + (n_a - third - 1) / 2;
      run(0, n_b, third + 1, later);
      run(0, n_b, later, n_a);
    }
    EXPECT_TRUE(bitwise_equal(c.values(), expected))
        << "continued: D=" << a.rows << " n_a=" << n_a << " n_b=" << n_b;
    EXPECT_TRUE(c.guards_intact()) << "continued: wrote outside c";
  }

  // The weighted sums against the oracle, in one call and continued.
  void expect_weighted_views_match(const MatrixView& a, const MatrixView& b, const MatrixView& Q,
                                   const std::string& where = "") {
    GuardedResult c(a.rows, 1);
    korvane::weighted_coordinate_sums(GetParam(), a, b, Q, c.fresh_view());
    const auto expected = reference::weighted(a.data, b.data, Q.data, a.rows, a.cols, b.cols);
    EXPECT_TRUE(bitwise_equal(c.values(), expected))
        << "D=" << a.rows << " n_a=" << a.cols << " n_b=" << b.cols << where;
    EXPECT_TRUE(c.guards_intact()) << "wrote outside c";
    expect_continued_matches(a, b, Q, expected);
  }

  void expect_weighted_matches(std::vector<double>& a, std::vector<double>& b,
                               std::vector<double>& Q, std::size_t dim, std::size_t n_a,
                               std::size_t n_b, bool b_is_a = false) {
    const MatrixView av = view(a, dim, n_a);
    expect_weighted_views_match(av, b_is_a ? av : view(b, dim, n_b), view(Q, n_a, n_b));
  }

  // The same with random values, b (with b_moves) or Q starting at each of
  // the given places in a 64-byte line, NaN just before and after it: loops
  // that align their loads must not let anything beside it in.
  void expect_weighted_matches_at(std::initializer_list<std::size_t> places, bool b_moves,
                                  std::size_t dim, std::size_t n_a, std::size_t n_b,
                                  unsigned seed) {
    auto a = random_values(dim * n_a, seed);
    auto b = random_values(dim * n_b, b_moves ? seed + 2 : seed + 1);
    auto Q = random_values(n_a * n_b, b_moves ? seed + 1 : seed + 2);
    const std::vector<double>& moved = b_moves ? b : Q;
    std::vector<double> storage(moved.size() + 32);
    for (std::size_t place : places) {
      std::fill(storage.begin(), storage.end(), kNaN);
      double* at = at_place_in_line(storage, 1, place);
      std::copy(moved.begin(), moved.end(), at);
      expect_weighted_views_match(view(a, dim, n_a), MatrixView{dim, n_b, b_moves ? at : b.data()},
                                  MatrixView{n_a, n_b, b_moves ? Q.data() : at},
                                  " place=" + std::to_string(place));
    }
  }
};

// c - 1, c, c + 1 and c + 8 for each constant c, and the plain sizes:
// sorted, positive, each once.
std::vector<std::size_t> boundary_sizes(const std::vector<std::size_t>& constants,
                                        std::initializer_list<std::size_t> plain = {}) {
  std::set<std::size_t> sizes(plain);
  for (std::size_t c : constants) {
    for (std::size_t s : {c - 1, c, c + 1, c + 8}) {
      if (s > 0 && s <= c + 8) sizes.insert(s);
    }
  }
  return {sizes.begin(), sizes.end()};
}

// The constants on which each level's loops turn, and so the shapes at which
// they are tested: the pairwise table, and the coordinate counts at which
// the weighted loops change (lanes, passes, one and two, and registers).
// The scalar variant, which has none, takes the AVX2 ones.
struct Level {
  korvane::tiling::PairwiseTable pairwise;
  std::vector<std::size_t> weighted;
};
Level level_of(InstructionSet isa) {
  namespace t = korvane::tiling;
  namespace w = korvane::weighting;
  const auto passes = [](const w::WeightedTable& p, std::vector<std::size_t> more = {}) {
    const std::size_t sweep = p.lanes * p.sweep_vectors;
    more.insert(more.end(), {p.lanes, sweep, 2 * sweep, p.lanes * p.point_registers,
                             p.lanes * p.sum_registers});
    return more;
  };
  switch (isa) {
    case InstructionSet::avx512:  // and up to 16 coordinates the AVX2 loop
      return {t::kAvx512Pairwise, passes(w::kAvx512Weighted, passes(w::kAvx2Weighted, {16}))};
    case InstructionSet::neon:
      return {t::kNeonPairwise, passes(w::kNeonWeighted)};
    default:
      return {t::kAvx2Pairwise, passes(w::kAvx2Weighted)};
  }
}

// Sums that end on and beside every chunk edge and the thresholds of the
// sum length; counts on and beside the tile edges and the choice of side.
TEST_P(KernelTest, PairwiseMatchesOracleOverShapes) {
  const korvane::tiling::PairwiseTable t = level_of(GetParam()).pairwise;
  const std::vector<std::size_t> counts = {t.broadcasts, t.lanes, t.b_in_lanes_max};
  unsigned seed = 1;
  for (std::size_t dim :
       boundary_sizes({t.short_sum, t.b_in_lanes_from, t.spread_from, t.panel_doubles / t.lanes},
                      {1, 2, 3, 100})) {
    for (std::size_t n_a : boundary_sizes(counts, {1, 2})) {
      for (std::size_t n_b : boundary_sizes(counts, {1})) {
        expect_random_pairwise_matches(dim, n_a, n_b, seed += 2, dim % 2 ? 1e3 : 0.0);
      }
    }
  }
}

// With the blocks sized for an L2 of 16 KB, counts on and beside the edges
// of the groups, strips and blocks that blocks_for gives: short sums in
// several panels, sums of two chunks, b's points in the lanes, many chunks.
TEST_P(KernelTest, PairwiseMatchesOracleAtBlockEdges) {
  const korvane::tiling::PairwiseTable t = level_of(GetParam()).pairwise;
  const std::size_t l2 = std::size_t{16} << 10;
  const std::size_t chunk = t.panel_doubles / t.lanes;
  std::vector<std::array<std::size_t, 3>> shapes = {{3 * chunk + 1, t.lanes + 3, t.broadcasts + 3}};
  for (std::size_t dim : {std::size_t{3}, t.short_sum, t.short_sum + 1, chunk + 1}) {
    const auto s = korvane::tiling::blocks_for(t, dim, 0, l2);
    for (std::size_t n_a : boundary_sizes({s.group, dim > chunk ? s.strip : s.group})) {
      shapes.push_back({dim, n_a, s.block + 1});
    }
    for (std::size_t n_b : boundary_sizes({s.block})) shapes.push_back({dim, s.group + 1, n_b});
  }
  const std::size_t few = t.b_in_lanes_max;
  const std::size_t block = korvane::tiling::blocks_for(t, chunk + 1, few, l2).block;
  for (std::size_t n_a : boundary_sizes({(few / block + 1) * block})) {
    shapes.push_back({chunk + 1, n_a, few});
  }
  unsigned seed = 1000;
  for (const auto& [dim, n_a, n_b] : shapes) {
    expect_random_pairwise_matches(dim, n_a, n_b, seed += 2, 0.0, l2);
  }
}

// Matching the plain loops, C is then exactly symmetric with a +0.0 diagonal.
TEST_P(KernelTest, PairwiseWithBSharingStorageWithA) {
  for (std::size_t dim : {1, 2, 3, 7, 16, 33, 70}) {
    for (std::size_t n : {1, 5, 16, 17, 40}) {
      auto a = random_values(dim * n, static_cast<unsigned>(dim * 100 + n), 1e6);
      expect_pairwise_matches(a, a, dim, n, n, /*b_is_a=*/true);
    }
  }
}

// A NaN row and column of C, inf against finite, inf - inf; and squares
// that overflow to +inf.
TEST_P(KernelTest, PairwiseNaNInfinityAndOverflow) {
  const std::size_t dim = 19;
  auto a = random_values(dim * 21, 3);
  auto b = random_values(dim * 11, 4);
  a[5 + dim * 2] = kNaN;
  b[18 + dim * 9] = kNaN;
  a[0 + dim * 4] = kInf;
  a[3 + dim * 6] = kInf;
  b[3 + dim * 3] = kInf;
  a[7 + dim * 8] = -kInf;
  expect_pairwise_matches(a, b, dim, 21, 11);
  std::vector<double> x = {1e200, 0.0, -1e300, 1e300, 5.0};
  std::vector<double> y = {-1e200, 0.0, 1e300, -1e300, 5.0};
  for (std::size_t d : {1, 2, 5}) expect_pairwise_matches(x, y, d, 1, 1);
}

// Around the edges of the coordinate passes (full and partial last
// vectors), of the vectors held in registers and of the sums kept in memory.
TEST_P(KernelTest, WeightedMatchesOracleOverShapes) {
  unsigned seed = 5000;
  // Beside the table's edges: passes of equal shares, one sweep or several.
  for (std::size_t dim :
       boundary_sizes(level_of(GetParam()).weighted,
                      {1,   2,   3,   56,  57,  95,  96,  97,  100, 103, 104, 127, 128, 136,
                       191, 192, 193, 200, 224, 225, 232, 233, 263, 264, 265, 513, 1100})) {
    const bool long_sum = dim > 64;
    for (std::size_t n_a :
         long_sum ? std::vector<std::size_t>{6} : std::vector<std::size_t>{1, 2, 5, 8, 17}) {
      for (std::size_t n_b : long_sum ? std::vector<std::size_t>{21}
                                      : std::vector<std::size_t>{1, 3, 9, 16, 17, 40}) {
        auto a = random_values(dim * n_a, seed++, long_sum ? 10.0 : 0.0);
        auto b = random_values(dim * n_b, seed++, long_sum ? 10.0 : 0.0);
        auto Q = random_values(n_a * n_b, seed++);
        expect_weighted_matches(a, b, Q, dim, n_a, n_b);
      }
    }
  }
}

TEST_P(KernelTest, WeightedWithBAtEveryPlaceInALine) {
  unsigned seed = 5500;
  for (std::size_t dim : {24, 100, 200, 256, 264}) {
    for (std::size_t n_b : {1, 2, 5, 17}) {
      expect_weighted_matches_at({0, 1, 2, 3, 4, 5, 6, 7}, true, dim, 3, n_b, seed);
      seed += 3;
    }
  }
}

TEST_P(KernelTest, WeightedWithQsColumnsAMultipleOf2KBApart) {
  // n_a = 256: the kernels may copy rows of Q in groups of 8, 4 or 2 (as n_b
  // allows) that start at Q's lines, wherever Q starts within one.
  unsigned seed = 5700;
  for (std::size_t dim : {3, 16, 24, 104}) {
    for (std::size_t n_b : {1, 3, 512, 513, 1024, 1025, 2049}) {
      expect_weighted_matches_at({0, 3, 7}, false, dim, 256, n_b, seed += 3);
    }
  }
}

TEST_P(KernelTest, WeightedWithQsRowsCopiedInGroups) {
  // Up to 2048 columns of b a kernel may copy rows of Q in groups of 8, 4 or 2,
  // the first group cut short where Q starts inside a line; the row counts
  // leave a short last group too. Crosses the column counts at which the
  // copy's group size changes.
  constexpr std::size_t kStaged = korvane::weighting::kStagedWeights;
  unsigned seed = 5800;
  for (std::size_t dim : {5, 16, 24, 104}) {
    for (std::size_t n_a : {6, 13}) {
      for (std::size_t n_b : boundary_sizes({kStaged / 8, kStaged / 4, kStaged / 2}, {128, 129})) {
        expect_weighted_matches_at({0, 5}, false, dim, n_a, n_b, seed += 3);
      }
    }
  }
}

// No pairs or no coordinates: n_a = 0 or n_b = 0 writes nothing in C (the
// guards catch any write) and touches no null data pointer; in c it gives D
// entries of +0.0 over garbage. D = 0 gives a C of empty sums, +0.0, and
// writes nothing in c.
TEST_P(KernelTest, EmptyShapes) {
  std::vector<double> none;
  auto a = random_values(12, 7);
  expect_pairwise_matches(none, a, 3, 0, 4);
  expect_pairwise_matches(a, none, 3, 4, 0);
  expect_pairwise_matches(none, none, 0, 0, 0);
  expect_pairwise_matches(none, none, 5, 0, 0);
  expect_pairwise_matches(none, none, 0, 5, 3);
  expect_weighted_matches(none, a, none, 3, 0, 4);
  expect_weighted_matches(a, none, none, 3, 4, 0);
  auto Q = random_values(6, 10);
  expect_weighted_matches(none, none, Q, 0, 2, 3);
}

// Weights of 1, +0.0, -0.0 (every term -0.0, leaving the +0.0 start as it
// is), negative ones and infinite ones; then zero weight times an infinite
// difference, NaN in that coordinate only. The 256-bit loop, and at D = 24
// with 40 columns of b the 512-bit one.
TEST_P(KernelTest, WeightedSpecialWeights) {
  for (const auto& [dim, n_a, n_b] : {std::array<std::size_t, 3>{13, 9, 10}, {24, 9, 40}}) {
    auto a = random_values(dim * n_a, static_cast<unsigned>(21 + dim));
    auto b = random_values(dim * n_b, static_cast<unsigned>(22 + dim));
    auto negative = random_values(n_a * n_b, 23);
    for (double& w : negative) w = -std::fabs(w) - 1.0;
    auto mixed = random_values(n_a * n_b, 24);
    mixed[7] = kInf;
    mixed[12] = -kInf;
    mixed[20] = 0.0;
    std::vector<double> zeros(n_a * n_b, 0.0);
    for (std::vector<double> Q : {std::vector<double>(n_a * n_b, 1.0), zeros,
                                  std::vector<double>(n_a * n_b, -0.0), negative, mixed}) {
      expect_weighted_matches(a, b, Q, dim, n_a, n_b);
    }
    a[4 + dim * 3] = kInf;
    expect_weighted_matches(a, b, zeros, dim, n_a, n_b);
    expect_weighted_matches(a, b, mixed, dim, n_a, n_b);
  }
}

// The diagonal's pairs count too: with an infinite weight there, every sum
// is NaN.
TEST_P(KernelTest, WeightedWithBSharingStorageWithA) {
  const std::size_t dim = 11;
  const std::size_t n = 7;
  auto a = random_values(dim * n, 31);
  auto Q = random_values(n * n, 32);
  expect_weighted_matches(a, a, Q, dim, n, n, /*b_is_a=*/true);
  for (std::size_t i = 0; i < n; ++i) Q[i + n * i] = 1e6 * static_cast<double>(i + 1);
  Q[3 + n * 3] = kInf;
  expect_weighted_matches(a, a, Q, dim, n, n, /*b_is_a=*/true);
}

// A huge term followed by its negation: pair (0,0) adds 1e17 and pair (0,1)
// takes it back exactly, so all ten unit terms survive. With b's point
// outermost, those of (1,0) and (2,0) would arrive while 1e17 stands and be
// lost: any other pair order changes the result.
TEST_P(KernelTest, WeightedTermsEnterInPairOrder) {
  const std::size_t dim = 18;
  const std::size_t n_a = 3;
  const std::size_t n_b = 4;
  std::vector<double> a(dim * n_a, 1.0);
  std::vector<double> b(dim * n_b, 0.0);
  std::vector<double> Q = {1e17, 1.0, 1.0, -1e17, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
  expect_weighted_matches(a, b, Q, dim, n_a, n_b);
}

// Inputs on which a fused multiply-add anywhere in a sum changes the result:
// each test first shows that a fused form differs from the oracle at every
// entry, then that the variant matches the oracle.

// Every entry's first difference is 2^12 (times a power of two per point of
// a), every later one 1 + 2^-30 (times the same): s + round(t * t) is then
// always a tie that rounds down to even, while the exact t * t, a hair above
// round(t * t), rounds it up. Once up, an entry never comes back down, so a
// fused step at any k, in any chunk or tile position, shows in the result.
TEST_P(KernelTest, PairwiseWithoutFusedSteps) {
  for (const auto& [dim, n_a, n_b] : {std::array<std::size_t, 3>{2, 37, 21},
                                      {5, 40, 8},
                                      {17, 37, 21},
                                      {40, 100, 20},
                                      {300, 20, 11},
                                      {130, 9, 700}}) {
    std::vector<double> a(dim * n_a);
    std::vector<double> b(dim * n_b);
    for (std::size_t k = 0; k < dim; ++k) {
      const double offset = std::ldexp(static_cast<double>(k % 7) - 3.0, 13);
      const double t = k == 0 ? 4096.0 : 1.0 + std::ldexp(1.0, -30);
      for (std::size_t i = 0; i < n_a; ++i) {
        const double sign = (i + k) % 3 == 0 ? -1.0 : 1.0;
        a[k + dim * i] = offset + sign * std::ldexp(t, static_cast<int>(i % 5) - 2);
      }
      for (std::size_t j = 0; j < n_b; ++j) b[k + dim * j] = offset;
    }
    const auto stated = reference::pairwise(a.data(), b.data(), dim, n_a, n_b);
    for (std::size_t i = 0; i < n_a; ++i) {
      for (std::size_t j = 0; j < n_b; ++j) {
        double s = 0.0;
        for (std::size_t k = 0; k < dim; ++k) {
          const double t = a[k + dim * i] - b[k + dim * j];
          s = std::fma(t, t, s);
        }
        ASSERT_FALSE(same_double(s, stated[i + n_a * j])) << "D=" << dim;
      }
    }
    expect_pairwise_matches(a, b, dim, n_a, n_b);
    // The same with b's points in the lanes (few of them, many of a).
    if (n_b < n_a) expect_pairwise_matches(b, a, dim, n_b, n_a);
  }
}

// Two pairs per coordinate. The first, weight w0, brings c(k) near 2^26,
// where (w0 * t) * t and w0 * (t * t) round differently (t picked per k until
// they do). The second, weight 1 + 2^-28 and t = 1 + 2^-29, adds a term whose
// sum with c(k) is a tie, which the exact product of a fused form breaks.
TEST_P(KernelTest, WeightedWithoutFusedOrReassociatedTerms) {
  const double w0 = 1.0 + std::ldexp(3.0, -20);
  const double w1 = 1.0 + std::ldexp(1.0, -28);
  const double t1 = 1.0 + std::ldexp(1.0, -29);
  // c(k) after both pairs, with a term and its addition given as one function.
  const auto both = [&](auto term, double t0) {
    return term(w1, t0 - (t0 - t1), term(w0, t0, 0.0));
  };
  const auto differs = [&](double t0) {
    const double c = both([](double w, double t, double s) { return s + (w * t) * t; }, t0);
    return !same_double(
               c, both([](double w, double t, double s) { return std::fma(w * t, t, s); }, t0)) &&
           !same_double(c,
                        both([](double w, double t, double s) { return s + w * (t * t); }, t0)) &&
           !same_double(
               c, both([](double w, double t, double s) { return std::fma(w, t * t, s); }, t0));
  };
  std::vector<double> Q = {w0, w1};
  for (std::size_t dim : {37, 70}) {
    std::vector<double> a(dim);
    std::vector<double> b(2 * dim, 0.0);
    for (std::size_t k = 0; k < dim; ++k) {
      double t0 = 8192.0 + std::ldexp(static_cast<double>(k + 1), -20);
      while (!differs(t0)) t0 += std::ldexp(1.0, -20);
      a[k] = t0;
      b[dim + k] = t0 - t1;
    }
    expect_weighted_matches(a, b, Q, dim, 1, 2);
  }
}

std::string variant_name(const ::testing::TestParamInfo<InstructionSet>& info) {
  return korvane::instruction_set_name(info.param);
}

INSTANTIATE_TEST_SUITE_P(Variants, KernelTest,
                         ::testing::Values(InstructionSet::scalar, InstructionSet::avx2,
                                           InstructionSet::avx2_fma, InstructionSet::avx512,
                                           InstructionSet::neon),
                         variant_name);

TEST(Dispatch, PublicEntryPointsMatchTheOracle) {
  // korvane_info must report the same (check_info_instruction_set.sh).
  std::printf("active instruction set: %s\n",
              korvane::instruction_set_name(korvane::active_instruction_set()));
  auto a = random_values(7 * 30, 41);
  auto b = random_values(7 * 20, 42);
  auto Q = random_values(600, 43);
  std::vector<double> C(600);
  korvane::pairwise_squared_distances(view(a, 7, 30), view(b, 7, 20), MatrixView{30, 20, C.data()});
  EXPECT_TRUE(bitwise_equal(C.data(), reference::pairwise(a.data(), b.data(), 7, 30, 20)));
  std::vector<double> c(7);
  korvane::weighted_coordinate_sums(view(a, 7, 30), view(b, 7, 20), view(Q, 30, 20),
                                    MatrixView{7, 1, c.data()});
  const auto expected = reference::weighted(a.data(), b.data(), Q.data(), 7, 30, 20);
  EXPECT_TRUE(bitwise_equal(c.data(), expected));
  std::fill(c.begin(), c.end(), 0.0);
  for (std::size_t first : {0, 11}) {
    korvane::continue_weighted_coordinate_sums(view(a, 7, 30), view(b, 7, 20), view(Q, 30, 20),
                                               MatrixView{7, 1, c.data()}, first,
                                               first == 0 ? 11 : 30);
  }
  EXPECT_TRUE(bitwise_equal(c.data(), expected));
}

// The k smallest of each column against a stable sort of the whole matrix,
// bit for bit: shapes on both sides of the block edges (64 rows, 256
// columns), k from 0 past n_a, ties (small whole coordinates), NaN, Inf and
// b sharing a's storage; with and without the index output. The block
// callback runs between blocks only.
TEST(Smallest, FirstRowsOfAStableSortOfEveryColumn) {
  using korvane::smallest::kBlockColumns;
  using korvane::smallest::kBlockRows;
  struct Case {
    std::size_t dim, n_a, n_b;
    std::vector<std::size_t> ks;
    bool ties, special, b_is_a;
  };
  const std::vector<Case> cases = {
      {3, 1, 1, {0, 1, 2}, false, false, false},
      {3, 4, 0, {2}, false, false, false},
      {3, 7, 5, {1, 3, 7, 9}, true, false, false},
      {0, 9, 4, {1, 4, 9}, false, false, false},
      {2, 300, 300, {1, 2, 10, 63, 64, 65, 100, 300, 400}, true, true, false},
      {3, 63, 257, {1, 10, 63}, true, true, false},
      {1, 513, 31, {1, 5, 512, 513}, true, true, true},  // b is a: 513 columns
      {17, 600, 65, {1, 10, 100}, false, true, false},
      {5, 1100, 3, {1, 10, 300}, true, false, false},
  };
  for (const Case& c : cases) {
    auto a = random_values(c.dim * c.n_a, 61 + static_cast<unsigned>(c.n_a));
    auto b = random_values(c.dim * c.n_b, 62 + static_cast<unsigned>(c.n_b));
    if (c.ties) {
      for (double& x : a) x = std::round(x) / 4;
      for (double& x : b) x = std::round(x) / 4;
    }
    if (c.special && c.dim > 0) {
      a[c.dim * 5] = kNaN;  // row 6 all NaN
      a[c.dim * 9 + c.dim - 1] = kInf;
      a[c.dim * (c.n_a - 1)] = -kInf;
      b[c.dim * 2] = kNaN;  // column 3 all NaN
      b[c.dim * (c.n_b - 1)] = kInf;
    }
    const MatrixView av = view(a, c.dim, c.n_a);
    const MatrixView bv = c.b_is_a ? av : view(b, c.dim, c.n_b);
    std::vector<double> C(c.n_a * bv.cols);
    korvane::pairwise_squared_distances(av, bv, MatrixView{c.n_a, bv.cols, C.data()});
    const std::size_t blocks =
        ((c.n_a + kBlockRows - 1) / kBlockRows) * ((bv.cols + kBlockColumns - 1) / kBlockColumns);
    for (std::size_t k : c.ks) {
      const std::size_t rows = k < c.n_a ? k : c.n_a;
      std::vector<double> expected, expected_index;
      reference::smallest(C, c.n_a, bv.cols, rows, expected, expected_index);
      for (bool with_index : {true, false}) {
        std::vector<double> d(rows * bv.cols, -1.0), index(rows * bv.cols, -1.0);
        std::size_t calls = 0;
        korvane::smallest_per_column(av, bv, MatrixView{rows, bv.cols, d.data()},
                                     with_index ? index.data() : nullptr, [&calls] { ++calls; });
        const std::string where = "D=" + std::to_string(c.dim) + " n_a=" + std::to_string(c.n_a) +
                                  " n_b=" + std::to_string(bv.cols) + " k=" + std::to_string(k);
        EXPECT_TRUE(bitwise_equal(d.data(), expected)) << where;
        EXPECT_TRUE(!with_index || index == expected_index) << where;
        EXPECT_EQ(calls, rows == 0 || blocks == 0 ? 0 : blocks - 1) << where;
      }
    }
  }
}

// The cache sizes the loops block for: detected once, the same at every call,
// and within what any core has (a fallback where the CPU reports none).
TEST(Dispatch, CacheSizesArePlausible) {
  const std::size_t l1 = korvane::l1_data_cache_bytes();
  const std::size_t l2 = korvane::l2_cache_bytes();
  EXPECT_GE(l1, std::size_t{16} << 10);
  EXPECT_LE(l1, std::size_t{1} << 20);
  EXPECT_GE(l2, std::size_t{128} << 10);
  EXPECT_LE(l2, std::size_t{64} << 20);
  EXPECT_GT(l2, l1);
  EXPECT_EQ(korvane::l1_data_cache_bytes(), l1);
  EXPECT_EQ(korvane::l2_cache_bytes(), l2);
}

// Recorded CPUID and XCR0 values, and the level each must give. Zen 4 is
// this project's machine (AMD EPYC, family 25 model 17) under Linux; the
// Intel models and qemu's max are as qemu 7.2 reports them; Zen 5 is Zen 4
// with its signature (family 26 model 2) and added leaf 7 bits. The rest
// change one value of a recorded row.
TEST(Dispatch, LevelFromRecordedCpuid) {
  using Leaf = korvane::CpuidRecord::Leaf;
  const auto amd = [](std::uint32_t max_leaf) {
    return Leaf{max_leaf, 0x68747541, 0x444d4163, 0x69746e65};
  };
  const auto intel = [](std::uint32_t max_leaf) {
    return Leaf{max_leaf, 0x756e6547, 0x6c65746e, 0x49656e69};
  };
  const Leaf zen4_leaf1 = {0x00a10f11, 0x01020800, 0xfffa3203, 0x178bfbff};
  const Leaf zen4_leaf7 = {0x00000001, 0xf1bf07ab, 0x00405fc6, 0x00000010};
  const Leaf qemu_max_leaf7 = {0, 0x01d843a9, 0x8001020c, 0};
  const Leaf none = {0, 0, 0, 0};
  const struct {
    const char* cpu;
    korvane::CpuidRecord record;
    InstructionSet expected;
  } rows[] = {
      {"Zen 4", {amd(0x1c), zen4_leaf1, zen4_leaf7, 0xe7}, InstructionSet::avx512},
      {"Zen 5",
       {amd(0x1c),
        {0x00b00f21, 0x01020800, 0xfffa3203, 0x178bfbff},
        {0x00000001, 0xf1bf07ab, 0x18405fc6, 0x00000110},
        0xe7},
       InstructionSet::avx512},
      {"Zen 4, OS without the zmm state",
       {amd(0x1c), zen4_leaf1, zen4_leaf7, 0x07},
       InstructionSet::avx2_fma},
      {"Zen 4, OSXSAVE off",
       {amd(0x1c), {0x00a10f11, 0x01020800, 0xf7fa3203, 0x178bfbff}, zen4_leaf7, 0},
       InstructionSet::scalar},
      {"Zen 4, highest leaf 6", {amd(0x06), zen4_leaf1, zen4_leaf7, 0xe7}, InstructionSet::scalar},
      {"qemu max",
       {amd(0x0d), {0x00060fb1, 0x00000800, 0xfed8320b, 0x0fcbfbfd}, qemu_max_leaf7, 0x21f},
       InstructionSet::avx2_fma},
      {"qemu max without FMA",
       {amd(0x0d), {0x00060fb1, 0x00000800, 0xfed8220b, 0x0fcbfbfd}, qemu_max_leaf7, 0x21f},
       InstructionSet::avx2},
      {"Haswell",
       {intel(0x0d), {0x000306c4, 0x00000800, 0xfed83203, 0x078bfbfd}, {0, 0x000003a9, 0, 0}, 0x07},
       InstructionSet::avx2_fma},
      {"Sandy Bridge",
       {intel(0x0d), {0x000206a1, 0x00000800, 0x9e982203, 0x078bfbfd}, none, 0x07},
       InstructionSet::scalar},
      {"Nehalem",
       {intel(0x0b), {0x000106a3, 0x00000800, 0x80982201, 0x078bfbfd}, none, 0},
       InstructionSet::scalar},
  };
  for (const auto& row : rows) {
    EXPECT_STREQ(korvane::instruction_set_name(korvane::instruction_set_from(row.record)),
                 korvane::instruction_set_name(row.expected))
        << row.cpu;
  }
}

// The level the active one must be: NEON in 64-bit Arm builds, which run it
// without detection; scalar in builds without x86 variants; otherwise the
// best that the CPU and OS support, from outside the code under test:
// KORVANE_EXPECTED_LEVEL where set (emulated CPUs), else the flags of
// /proc/cpuinfo, from which Linux drops what it does not save. Empty where
// neither tells.
std::string expected_level() {
#if defined(KORVANE_EXPECT_NEON)
  return "neon";
#elif !defined(KORVANE_EXPECT_X86_VARIANTS)
  return "scalar";
#else
  if (const char* level = std::getenv("KORVANE_EXPECTED_LEVEL")) return level;
#if defined(__linux__)
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("flags", 0) != 0) continue;
    std::istringstream words(line.substr(line.find(':') + 1));
    const std::set<std::string> flags{std::istream_iterator<std::string>(words), {}};
    if (!flags.count("avx2")) return "scalar";
    if (!flags.count("fma")) return "avx2";
    return flags.count("avx512f") ? "avx512" : "avx2_fma";
  }
#endif
  return "";
#endif
}

// The x86 levels at or below the active one are available and none above
// it; no build but a 64-bit Arm one may claim NEON.
TEST(Dispatch, ActiveLevelIsTheBestSupported) {
  const InstructionSet active = korvane::active_instruction_set();
  EXPECT_EQ(korvane::instruction_set_available(InstructionSet::neon),
            active == InstructionSet::neon);
  const InstructionSet ladder[] = {InstructionSet::scalar, InstructionSet::avx2,
                                   InstructionSet::avx2_fma, InstructionSet::avx512};
  for (InstructionSet isa : ladder) {
    EXPECT_EQ(korvane::instruction_set_available(isa),
              active == InstructionSet::neon ? isa == InstructionSet::scalar
                                             : static_cast<int>(isa) <= static_cast<int>(active))
        << korvane::instruction_set_name(isa);
  }
  const std::string expected = expected_level();
  if (expected.empty()) GTEST_SKIP() << "no expected level: set KORVANE_EXPECTED_LEVEL";
  EXPECT_EQ(korvane::instruction_set_name(active), expected);
}

}  // namespace
