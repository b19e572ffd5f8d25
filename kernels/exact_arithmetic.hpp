// Included first by every translation unit that does floating-point
// arithmetic: no multiply and add may be fused into one rounding, whatever
// the compiler's defaults. A pragma here applies to the including file from
// this point on.
//
// GCC has no such pragma and relies on -ffp-contract=off, which every build
// route passes. MSVC before Visual Studio 2022 17.0 contracts by default
// under /fp:precise, and /arch:AVX2 or /arch:AVX512 give it FMA instructions
// to contract into, so it needs the pragma.
#ifndef KORVANE_KERNELS_EXACT_ARITHMETIC_HPP
#define KORVANE_KERNELS_EXACT_ARITHMETIC_HPP

#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(_MSC_VER)
#pragma fp_contract(off)
#endif

#endif
