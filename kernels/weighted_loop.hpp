// The outer loop of the vector weighted kernels, shared by the instruction-set
// units: c is computed in passes of at most Lanes * MaxVectors coordinates,
// each pass one sweep over all pairs with its sums held in registers. Every
// c(k) still receives its terms in pair order, whatever the pass.
#ifndef KORVANE_KERNELS_WEIGHTED_LOOP_HPP
#define KORVANE_KERNELS_WEIGHTED_LOOP_HPP

#include <cstddef>
#include <type_traits>
#include <utility>

#include "distance_kernels.hpp"

namespace korvane::weighting {

// Calls f(std::integral_constant<std::size_t, n>{}) for the n in 1 .. N
// that equals vectors.
template <class F, std::size_t... I>
void with_vector_count(std::size_t vectors, std::index_sequence<I...>, F&& f) {
  static_cast<void>((
      (vectors == I + 1 ? (f(std::integral_constant<std::size_t, I + 1>{}), true) : false) || ...));
}

// Calls pass(std::integral_constant<std::size_t, NV>{}, k0, count, lead) for
// each run of count coordinates from k0, NV being the vectors that the run
// needs when its first vector starts lead coordinates before k0. Only the
// first run has a lead, the given one (less than Lanes): the runs then start
// at whole vectors from coordinate -lead. With no pairs every sum is +0.0 and
// Q's data may be null.
template <std::size_t Lanes, std::size_t MaxVectors, class Pass>
void coordinate_passes(const MatrixView& a, const MatrixView& b, const MatrixView& c, Pass&& pass,
                       std::size_t lead = 0) {
  if (a.cols == 0 || b.cols == 0) {
    for (std::size_t k = 0; k < a.rows; ++k) c.data[k] = 0.0;
    return;
  }
  constexpr std::size_t block = Lanes * MaxVectors;
  const std::size_t span = a.rows == 0 ? 0 : a.rows + lead;  // from coordinate -lead
  for (std::size_t start = 0; start < span; start += block) {
    const std::size_t k0 = start == 0 ? 0 : start - lead;
    const std::size_t first_lead = start == 0 ? lead : 0;
    const std::size_t end = (span - start < block ? span : start + block) - lead;
    const std::size_t count = end - k0;
    const std::size_t vectors = (first_lead + count + Lanes - 1) / Lanes;
    with_vector_count(vectors, std::make_index_sequence<MaxVectors>{},
                      [&](auto nv) { pass(nv, k0, count, first_lead); });
  }
}

}  // namespace korvane::weighting

#endif
