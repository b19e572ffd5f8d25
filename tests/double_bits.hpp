// Bit-for-bit equality of doubles, without a test framework. Two NaNs count
// as equal whatever their payloads: which operand's payload a NaN result
// carries is not part of IEEE arithmetic's contract, and compilers may swap
// the operands of an add. Everything else, the sign of zero included, must
// match exactly.
#ifndef KORVANE_TESTS_DOUBLE_BITS_HPP
#define KORVANE_TESTS_DOUBLE_BITS_HPP

#include <cmath>
#include <cstdint>
#include <cstring>

inline std::uint64_t bits_of(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

inline bool same_double(double x, double y) {
  if (std::isnan(x) && std::isnan(y)) return true;
  return bits_of(x) == bits_of(y);
}

#endif
