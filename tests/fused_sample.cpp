// An object the arithmetic check must refuse: fused multiply-adds of the
// target written as assembly, so that no compiler setting can take them out.
// Never called.
void korvane_fused_sample() {
#if defined(__aarch64__)
  __asm__ volatile(
      "fmla v0.2d, v1.2d, v2.2d\n\t"
      "fmls v0.2d, v1.2d, v2.d[1]\n\t"
      "fmadd d0, d1, d2, d3\n\t"
      "fmsub d0, d1, d2, d3\n\t"
      "fnmadd d0, d1, d2, d3\n\t"
      "fnmsub s0, s1, s2, s3");
#elif defined(__x86_64__) || defined(__i386__)
  __asm__ volatile(
      "vfmadd231pd %ymm2, %ymm1, %ymm0\n\t"
      "vfnmsub132sd %xmm2, %xmm1, %xmm0");
#endif
}
