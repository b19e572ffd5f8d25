// Included first by every unit that does floating-point arithmetic: no
// multiply and add fused into one rounding, whatever the compiler's default.
// GCC has no pragma for it and relies on -ffp-contract=off, which every build
// passes; MSVC before 2022 17.0 contracts under /fp:precise with /arch:AVX2.
#ifndef KORVANE_KERNELS_EXACT_ARITHMETIC_HPP
#define KORVANE_KERNELS_EXACT_ARITHMETIC_HPP

#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(_MSC_VER)
#pragma fp_contract(off)
#endif

#endif
