// Holds the one fused form the AVX-512 object may contain: a zmm FMA with a
// multiplier of 1.0. The strict instruction check must reject it; the check
// that admits the exact add must accept it.
#include <immintrin.h>

__m512d sample_zmm_exact_add(__m512d sum, __m512d square) {
  __m512d one = _mm512_set1_pd(1.0);
  __asm__("" : "+v"(one));  // else Clang turns the FMA back into an add
  return _mm512_fmadd_pd(square, one, sum);
}
