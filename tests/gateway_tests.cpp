// The gateway through the stand-in host: the cases of gateway_cases.hpp
// (messages byte for byte, the order of detection, the rule for an absent
// or empty b, where the result goes, and that nothing is created or read
// once a check has failed), and the size rule itself.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "call_checks.hpp"
#include "gateway_cases.hpp"

// korvane_smallest's MEX entry point, linked in under this name.
extern "C" void korvane_smallest_mex_function(int nlhs, mxArray* plhs[], int nrhs,
                                              const mxArray* prhs[]);

namespace {

using stand_in::call;

// Three rounds: errors among the calls leave the gateway as it was.
TEST(Gateway, EveryCaseGivesItsOutcome) {
  const cases::Table table = cases::korvane_cases();
  for (int round = 0; round < 3; ++round) {
    for (const cases::Case& c : table.cases) {
      EXPECT_EQ(cases::mismatch(c, call(c.nlhs, c.args)), "") << c.name << ", round " << round;
    }
  }
}

TEST(Gateway, ResultsThatCannotExist) {
  constexpr std::size_t max_elements = static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(double);
  EXPECT_TRUE(korvane::gateway::result_fits(1, max_elements));
  EXPECT_TRUE(korvane::gateway::result_fits(0, SIZE_MAX));
  EXPECT_TRUE(korvane::gateway::result_fits(SIZE_MAX, 0));
  EXPECT_FALSE(korvane::gateway::result_fits(1, max_elements + 1));
  EXPECT_FALSE(korvane::gateway::result_fits(max_elements / 3 + 1, 3));
}

TEST(SmallestGateway, EveryCaseGivesItsOutcome) {
  const cases::Table table = cases::smallest_cases();
  for (const cases::Case& c : table.cases) {
    EXPECT_EQ(cases::mismatch(c, call(&korvane_smallest_mex_function, c.nlhs, c.args)), "")
        << c.name;
  }
}

}  // namespace
