// The exact add as the AVX2 + FMA3 object holds it: a ymm FMA with a
// multiplier of 1.0. Admitted on ymm registers, rejected where only zmm is.
#include <immintrin.h>

__m256d sample_ymm_exact_add(__m256d sum, __m256d square) {
  __m256d one = _mm256_set1_pd(1.0);
  __asm__("" : "+v"(one));  // else Clang turns the FMA back into an add
  return _mm256_fmadd_pd(square, one, sum);
}
