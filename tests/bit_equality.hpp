// Bit-for-bit comparison of double results as a Google Test assertion, with
// the rule of double_bits.hpp.
#ifndef KORVANE_TESTS_BIT_EQUALITY_HPP
#define KORVANE_TESTS_BIT_EQUALITY_HPP

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iomanip>
#include <sstream>
#include <vector>

#include "double_bits.hpp"

inline ::testing::AssertionResult bitwise_equal(const double* actual,
                                                const std::vector<double>& expected) {
  for (std::size_t n = 0; n < expected.size(); ++n) {
    if (!same_double(actual[n], expected[n])) {
      std::ostringstream out;
      out << "element " << n << " of " << expected.size() << ": got " << std::setprecision(17)
          << actual[n] << " (0x" << std::hex << bits_of(actual[n]) << "), expected " << std::dec
          << expected[n] << " (0x" << std::hex << bits_of(expected[n]) << ")";
      return ::testing::AssertionFailure() << out.str();
    }
  }
  return ::testing::AssertionSuccess();
}

#endif
