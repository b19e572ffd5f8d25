// Lane masks shared by the AVX-512 units.
#ifndef KORVANE_KERNELS_AVX512_LANES_HPP
#define KORVANE_KERNELS_AVX512_LANES_HPP

#include <immintrin.h>

#include <cstddef>

namespace korvane::variants {
namespace {

// The first count lanes of a zmm of doubles (all of them from 8 on).
inline __mmask8 first_lanes(std::size_t count) {
  return count >= 8 ? static_cast<__mmask8>(0xFF) : static_cast<__mmask8>((1U << count) - 1U);
}

}  // namespace
}  // namespace korvane::variants

#endif
