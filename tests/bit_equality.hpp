// Bit-for-bit comparison of double results. Two NaNs count as equal whatever
// their payloads: which operand's payload a NaN result carries is not part of
// IEEE arithmetic's contract, and compilers may swap the operands of an add.
// Everything else, the sign of zero included, must match exactly.
#ifndef KORVANE_TESTS_BIT_EQUALITY_HPP
#define KORVANE_TESTS_BIT_EQUALITY_HPP

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <vector>

inline std::uint64_t bits_of(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

inline bool same_double(double x, double y) {
  if (std::isnan(x) && std::isnan(y)) return true;
  return bits_of(x) == bits_of(y);
}

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
