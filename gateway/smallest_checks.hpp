// The checks of one call of korvane_smallest, in their fixed order, for any
// host: the same adaptor as korvane's (call_checks.hpp), the same checks and
// texts for a and b, then k, then whether the results can exist. Nothing
// here creates, writes or frees anything.
#ifndef KORVANE_GATEWAY_SMALLEST_CHECKS_HPP
#define KORVANE_GATEWAY_SMALLEST_CHECKS_HPP

#include <cstddef>
#include <cstdint>

#include "call_checks.hpp"
#include "distance_kernels.hpp"

namespace korvane::gateway {

inline constexpr char kSmallestUsageText[] =
    "Usage: d = korvane_smallest(a,b,k)\n"
    "       or: [d,i] = korvane_smallest(a,b,k)\n"
    "where the b matrix may be empty.";
inline constexpr char kBadKText[] =
    "Error: k must be a non-negative integer-valued real double scalar";
inline constexpr char kIndexTooLargeText[] =
    "Error: row indices beyond 2^53 would not be exact in the index output";

// Every row count up to this is exact as a double.
inline constexpr std::uint64_t kExactIndexLimit = std::uint64_t{1} << 53;

struct CheckedSmallest {
  const char* error;  // the message to report, or null when every check passed
  MatrixView a;
  MatrixView b;
  std::size_t rows;  // of d and i: min(k, n_a)
  bool with_index;   // two outputs asked for
};

namespace detail {

inline CheckedSmallest refused_smallest(const char* message) {
  CheckedSmallest call{};
  call.error = message;
  return call;
}

// Not NaN, negative or infinite, and without a fraction. From 2^52 on every
// double is whole; below it, adding 2^52 rounds k to a whole number. Done in
// doubles: 32-bit x86 converts 64-bit integers through the x87 unit.
inline bool is_whole(double k) {
  constexpr double kTwoTo52 = 4503599627370496.0;
  if (!(k >= 0) || k - k != 0) return false;
  return k >= kTwoTo52 || (k + kTwoTo52) - kTwoTo52 == k;
}

// min(k, n): k is a non-negative whole double, possibly beyond size_t. Only
// signed conversions of at most half of size_t's range: on 32-bit x86 an
// unsigned one goes through the x87 unit.
inline std::size_t rows_kept(double k, std::size_t n) {
  constexpr std::size_t kHalf = SIZE_MAX / 2 + 1;
  constexpr double kHalfValue = static_cast<double>(kHalf);  // a power of two, exact
  if (k >= 2.0 * kHalfValue) return n;
  std::size_t whole = 0;
  if (k >= kHalfValue) {
    whole = kHalf;
    k -= kHalfValue;
  }
  whole += static_cast<std::size_t>(static_cast<std::ptrdiff_t>(k));
  return whole < n ? whole : n;
}

}  // namespace detail

// The order is fixed: the counts (exactly three arguments, at most two
// outputs); a and b as korvane checks them; k, whose value is read only
// once it is known to be one real double; whether d (and i) can exist;
// with i asked for, whether every row index is exact.
template <class Host>
CheckedSmallest check_smallest_call(const Host& host, int nlhs, int nrhs) {
  if (nrhs != 3 || nlhs > 2) return detail::refused_smallest(kSmallestUsageText);
  CheckedSmallest call{};
  if (const char* error = detail::point_sets_error(host, nrhs, call.a, call.b)) {
    return detail::refused_smallest(error);
  }
  if (host.kind(2) != ArgumentKind::real_full_double || !host.is_matrix(2) || host.rows(2) != 1 ||
      host.cols(2) != 1) {
    return detail::refused_smallest(kBadKText);
  }
  const double k = host.data(2)[0];
  if (!detail::is_whole(k)) return detail::refused_smallest(kBadKText);

  call.rows = detail::rows_kept(k, call.a.cols);
  call.with_index = nlhs == 2;
  if (!result_fits(call.rows, call.b.cols)) return detail::refused_smallest(kTooLargeText);
  if (call.with_index && static_cast<std::uint64_t>(call.a.cols) > kExactIndexLimit) {
    return detail::refused_smallest(kIndexTooLargeText);
  }
  return call;
}

}  // namespace korvane::gateway

#endif
