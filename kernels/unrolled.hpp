// Forced inlining and compile-time unrolling for the vector kernels, whose
// arrays of vector registers must stay in registers: left to itself GCC
// calls small helpers out of line, or leaves a loop over such an array
// rolled, and the vectors then go through memory.
#ifndef KORVANE_KERNELS_UNROLLED_HPP
#define KORVANE_KERNELS_UNROLLED_HPP

#include <cstddef>
#include <type_traits>
#include <utility>

// KORVANE_OUT_OF_LINE: a path that the hot loops' shapes never take, kept
// out of them so that it does not move their code. Not `cold`: GCC builds
// cold code for size, and such a path still has shapes to run fast.
#if defined(_MSC_VER) && !defined(__clang__)
#define KORVANE_ALWAYS_INLINE __forceinline
#define KORVANE_ALWAYS_INLINE_LAMBDA
#define KORVANE_OUT_OF_LINE __declspec(noinline)
#else
#define KORVANE_ALWAYS_INLINE inline __attribute__((always_inline))
#define KORVANE_ALWAYS_INLINE_LAMBDA __attribute__((always_inline))
#define KORVANE_OUT_OF_LINE __attribute__((noinline))
#endif

namespace korvane::variants {
namespace {

// Calls f(integral_constant<I>) for I = 0 .. N-1, unrolled.
template <std::size_t... I, class F>
KORVANE_ALWAYS_INLINE void for_each_index(std::index_sequence<I...>, F&& f) {
  (f(std::integral_constant<std::size_t, I>{}), ...);
}
template <std::size_t N, class F>
KORVANE_ALWAYS_INLINE void for_each_index(F&& f) {
  for_each_index(std::make_index_sequence<N>{}, f);
}

// Calls f(integral_constant<N>) for the N in First .. Last equal to n, the
// one way a count becomes a template argument here; false when none is.
template <std::size_t First, std::size_t... I, class F>
KORVANE_ALWAYS_INLINE bool with_count(std::size_t n, std::index_sequence<I...>, F&& f) {
  return ((n == First + I ? (f(std::integral_constant<std::size_t, First + I>{}), true) : false) ||
          ...);
}
template <std::size_t First, std::size_t Last, class F>
KORVANE_ALWAYS_INLINE bool with_count(std::size_t n, F&& f) {
  return with_count<First>(n, std::make_index_sequence<Last - First + 1>{}, f);
}

// p, with what it points to hidden from the optimiser: vectors stored or
// loaded through the result stay in memory, neither kept in registers nor
// hoisted out of a loop.
template <class T>
KORVANE_ALWAYS_INLINE T* unseen(T* p) {
#if defined(__GNUC__) || defined(__clang__)
  __asm__("" : "+r"(p));
#endif
  return p;
}

}  // namespace
}  // namespace korvane::variants

#endif
