// The one fused multiply-add the vector kernels may issue: sum + square, the
// square already rounded, on the multiply/FMA pipes. square * 1.0 is exact,
// so fma(square, 1.0, sum) rounds as the add does for every input; Windows
// modules hold no FMA instruction, so there it is the add.
#ifndef KORVANE_KERNELS_EXACT_ADD_HPP
#define KORVANE_KERNELS_EXACT_ADD_HPP

#include <immintrin.h>

#include "exact_arithmetic.hpp"
#include "unrolled.hpp"

namespace korvane::variants {
namespace {

#if defined(__FMA__) || defined(_MSC_VER)
KORVANE_ALWAYS_INLINE __m256d exact_add_on_multiply_pipes(__m256d sum, __m256d square) {
#if defined(_WIN32)
  return _mm256_add_pd(sum, square);
#else
  __m256d one = _mm256_set1_pd(1.0);
  __asm__("" : "+v"(one));  // Clang would turn an FMA by a known 1.0 back into the add.
  return _mm256_fmadd_pd(square, one, sum);
#endif
}
#endif

#if defined(__AVX512F__)
KORVANE_ALWAYS_INLINE __m512d exact_add_on_multiply_pipes(__m512d sum, __m512d square) {
#if defined(_WIN32)
  return _mm512_add_pd(sum, square);
#else
  __m512d one = _mm512_set1_pd(1.0);
  __asm__("" : "+v"(one));
  return _mm512_fmadd_pd(square, one, sum);
#endif
}
#endif

}  // namespace
}  // namespace korvane::variants

#endif
