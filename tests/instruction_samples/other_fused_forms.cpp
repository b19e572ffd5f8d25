// Fused forms no object may contain, not even those that hold the exact add:
// the instruction check must reject each of them.
#include <immintrin.h>

__m256d sample_ymm_negated_fma(__m256d x, __m256d y, __m256d z) {
  return _mm256_fnmadd_pd(x, y, z);
}

__m512d sample_zmm_fused_subtract(__m512d x, __m512d y, __m512d z) {
  return _mm512_fmsub_pd(x, y, z);
}

__m128d sample_scalar_fma(__m128d x, __m128d y, __m128d z) {
  return _mm_fmadd_sd(x, y, z);
}
