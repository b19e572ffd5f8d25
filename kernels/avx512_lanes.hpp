// Shared by the AVX-512 units: lane masks, and quiet for a false warning.
#ifndef KORVANE_KERNELS_AVX512_LANES_HPP
#define KORVANE_KERNELS_AVX512_LANES_HPP

#include <immintrin.h>

#include <cstddef>

// GCC's own shuffle intrinsics start from _mm512_undefined_pd(), which its
// -Wuninitialized then reports once inlined into a unit that includes this.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace korvane::variants {
namespace {

// The first count lanes of a zmm of doubles (all of them from 8 on).
inline __mmask8 first_lanes(std::size_t count) {
  return count >= 8 ? static_cast<__mmask8>(0xFF) : static_cast<__mmask8>((1U << count) - 1U);
}

}  // namespace
}  // namespace korvane::variants

#endif
