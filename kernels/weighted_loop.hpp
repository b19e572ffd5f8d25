// The vector weighted kernels' loops, shared by the instruction-set units,
// each of which supplies its vector operations: c is computed in passes of
// at most lanes * sweep_vectors coordinates, each one sweep over all pairs in
// pair order. Internal linkage throughout: each unit compiles this with its
// own instruction-set flags, and a shared inline copy could carry one unit's
// instructions into another's code.
#ifndef KORVANE_KERNELS_WEIGHTED_LOOP_HPP
#define KORVANE_KERNELS_WEIGHTED_LOOP_HPP

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "distance_kernels.hpp"
#include "kernel_variants.hpp"
#include "tile_loop.hpp"
#include "unrolled.hpp"

namespace korvane::weighting {
namespace {

// Whether an n_a x n_b Q holds more than 8 times the L2 cache, so that its
// lines come from L3 or memory.
inline bool q_far_larger_than_caches(std::size_t n_a, std::size_t n_b) {
  const std::size_t large_q = 8 * l2_cache_bytes() / sizeof(double);  // elements
  return n_b > 0 && n_a > large_q / n_b;
}

// Whether a kernel reading Q in place should ask for the next group of 8
// rows' lines of Q into L2: rows i to i + 7 share them, and row i asks for
// those of the columns j = i (mod 8), once each and spread over its pairs.
// That pays where Q's reads are most of the cost: one vector of sums.
inline bool asks_for_next_group(std::size_t vectors, std::size_t n_a, std::size_t n_b) {
  return vectors == 1 || (vectors <= 4 && q_far_larger_than_caches(n_a, n_b));
}

// Whether to copy rows of Q wherever its columns lie: where groups of fewest
// rows fit, unless b and a row's lines of Q fit 7/8 of L1 together and so
// stay there from row to row.
inline bool copies_rows(const WeightedTable& t, const MatrixView& a, const MatrixView& b) {
  const std::size_t fewest = a.rows <= 64 ? t.fewest_rows : t.fewest_rows_long;
  const std::size_t row_bytes = b.cols * (a.rows * sizeof(double) + 64);
  return fewest > 0 && b.cols > 0 && kStagedWeights / b.cols >= fewest &&
         row_bytes > l1_data_cache_bytes() / 8 * 7;
}

// The rows of Q from first_row on as a kernel reads them: weights(i)[j *
// stride()] is Q(i, j) once stage(i) has run for each i that starts_group.
// Read in place, each pair takes a fresh line of Q for the 8 bytes it uses.
// Copied where copy is set or Q's columns lie a multiple of 2 KB apart (a
// row's lines then share a few cache sets, and none stays until the next
// row): groups of rows that share Q's lines (8, 4 or 2, as many as fit the
// buffer, the first group shorter so that the others start at a line) are
// read once from Q and then side by side, a row's weights a line per 8 pairs.
class WeightRows {
 public:
  WeightRows(const MatrixView& Q, double* buffer, bool copy, std::size_t first_row)
      : Q_(Q), buffer_(buffer), first_row_(first_row), shares_sets_(Q.rows % 256 == 0) {
    const std::size_t fit = (copy || shares_sets_) && Q.cols > 0 ? kStagedWeights / Q.cols : 0;
    while (group_ < 8 && 2 * group_ <= fit) group_ *= 2;
    if (group_ > 1) shift_ = reinterpret_cast<std::uintptr_t>(Q.data) / sizeof(double) % group_;
    asks_for_next_lines_ = group_ == 2 && !shares_sets_ && q_far_larger_than_caches(Q.rows, Q.cols);
  }
  bool staged() const { return group_ > 1; }
  std::size_t stride() const { return staged() ? 1 : Q_.rows; }
  bool starts_group(std::size_t i) const { return i == first_row_ || place(i) == 0; }
  // Copies the group that holds row i0 from i0 on. Ops::copy_columns(column,
  // ld, rows, out, n) may copy the leading columns first, out[r * n + j]
  // taking column[r + j * ld] for r < rows, and return how many.
  template <class Ops>
  void stage(std::size_t i0) const {
    const std::size_t first = place(i0);
    const std::size_t left = Q_.rows - i0;
    const std::size_t rows = left < group_ - first ? left : group_ - first;
    const double* column = Q_.data + i0;
    double* const out = buffer_ + first * Q_.cols;
    const std::size_t n = Q_.cols;
    const std::size_t ld = Q_.rows;
    // Where Q's columns share sets, its lines come from L3 or memory, the
    // faster copies are slower, and every column is copied alone.
    std::size_t j = shares_sets_ ? 0 : Ops::copy_columns(column, ld, rows, out, n);
    column += j * ld;
    // Four columns at a time, each row's four weights stored side by side:
    // quicker where Q's lines come from L2.
    for (; !shares_sets_ && j + 4 <= n; j += 4, column += 4 * ld)
      for (std::size_t r = 0; r < rows; ++r) {
        double* o = out + r * n + j;
        o[0] = column[r];
        o[1] = column[ld + r];
        o[2] = column[2 * ld + r];
        o[3] = column[3 * ld + r];
      }
    for (; j < n; ++j, column += ld)
      for (std::size_t r = 0; r < rows; ++r) out[r * n + j] = column[r];
    // The first of the four groups of 2 that share a line would take them
    // all from memory at once: each asks for a quarter of those 8 rows on.
    if (asks_for_next_lines_ && i0 + 8 < Q_.rows)
      for (std::size_t c = i0 / 2 % 4; c < n; c += 4)
        tiling::prefetch<2>(Q_.data + i0 + 8 + c * ld);
  }
  const double* weights(std::size_t i) const {
    return staged() ? buffer_ + place(i) * Q_.cols : Q_.data + i;
  }

 private:
  std::size_t place(std::size_t i) const { return (i + shift_) % group_; }

  const MatrixView& Q_;
  double* buffer_;
  std::size_t first_row_;
  bool shares_sets_;  // Q's columns a multiple of 2 KB apart
  bool asks_for_next_lines_ = false;
  std::size_t group_ = 1;
  std::size_t shift_ = 0;
};

// p moved back by lead doubles, computed as an integer: the address may lie
// before the array, and only masked-off lanes are ever read or written there.
template <class T>
T* lead_start(T* p, std::size_t lead) {
  return reinterpret_cast<T*>(reinterpret_cast<std::uintptr_t>(p) - lead * sizeof(double));
}

// One run's vectors: vector v of a point or of the sums at p + lanes * v,
// only the first and the last with lanes outside the run, which between b's
// outer columns read unused neighbouring coordinates unmasked. Past
// sum_registers vectors, the sums between the first sum_registers - 1 and the
// last are added to in L1: left to GCC, such spills ran up to 1.5x slower.
template <class Ops, std::size_t NV>
struct Run {
  static constexpr std::size_t L = Ops::kWeighted.lanes;
  static constexpr std::size_t R = Ops::kWeighted.sum_registers;
  static constexpr std::size_t in_memory = NV > R ? NV - R : 0;
  static constexpr bool in_l1(std::size_t v) { return v + 1 >= R && v + 1 < R + in_memory; }
  decltype(Ops::lanes(0, 0)) head, tail;
  Run(std::size_t lead, std::size_t count)
      : head(Ops::lanes(lead, NV == 1 ? lead + count : L)),
        tail(Ops::lanes(0, lead + count - (NV - 1) * L)) {}
  template <class Index, bool Masked>
  KORVANE_ALWAYS_INLINE typename Ops::Vector load(const double* p, Index v,
                                                  std::bool_constant<Masked>) const {
    if constexpr (Masked && (v == 0 || v == NV - 1)) {
      return Ops::load(p + L * v, v == 0 ? head : tail);
    } else {
      return Ops::load(p + L * v);
    }
  }
};

// Weighted sums of coordinates k0 .. k0 + count - 1 (lead + count <= lanes *
// NV) over the pairs of points first .. end - 1 of a, in pair order: vector v
// of sums holds coordinates k0 - lead + lanes * v on, the lanes outside the
// run masked. Past point_registers vectors, point i is read from a copy in
// L1. Ops is a level's vectors: Vector, kWeighted, copy_columns (see
// WeightRows), lanes(lo, hi) (the mask of lanes lo .. hi - 1), load and store
// with or without a mask (masked-off lanes load as 0), broadcast, sub, mul,
// add. With AllMasked, b's columns are all read masked.
template <class Ops, std::size_t NV, bool AllMasked>
void weighted_block(const MatrixView& a, const MatrixView& b, const WeightRows& rows, double* sums,
                    std::size_t k0, std::size_t count, std::size_t lead, std::size_t first,
                    std::size_t end) {
  using V = typename Ops::Vector;
  using Vectors = Run<Ops, NV>;
  constexpr WeightedTable kTable = Ops::kWeighted;
  constexpr std::size_t L = kTable.lanes;
  const std::size_t dim = a.rows, n_b = b.cols;
  const Vectors run(lead, count);
  V acc[NV];
  alignas(64) double spilled_sums[L * (Vectors::in_memory > 0 ? Vectors::in_memory : 1)];
  double* const spilled = variants::unseen(spilled_sums);
  const auto spilled_at = [&](std::size_t v) { return spilled + L * (v + 1 - Vectors::R); };
  double* const out = lead_start(sums + k0, lead);
  variants::for_each_index<NV>([&](auto v) {
    if constexpr (Vectors::in_l1(v))
      Ops::store(spilled_at(v), Ops::load(out + L * v));
    else
      acc[v] = run.load(out, v, std::true_type{});
  });
  const std::size_t stride = rows.stride();
  const std::size_t prefetched =
      rows.staged() ? 0 : n_b - (n_b < kTable.ahead ? n_b : kTable.ahead);
  const bool ask_next_group = !rows.staged() && asks_for_next_group(NV, a.cols, n_b);
  constexpr bool point_in_registers = NV <= kTable.point_registers;
  V point[point_in_registers ? NV : 1];
  alignas(64) double point_copy[point_in_registers ? 1 : L * NV];
  for (std::size_t i = first; i < end; ++i) {
    if (rows.staged() && rows.starts_group(i)) rows.template stage<Ops>(i);
    const double* ai = lead_start(a.data + i * dim + k0, lead);
    const double* weights = rows.weights(i);
    variants::for_each_index<NV>([&](auto v) {
      if constexpr (point_in_registers)
        point[v] = run.load(ai, v, std::true_type{});
      else
        Ops::store(point_copy + L * v, run.load(ai, v, std::true_type{}));
    });
    const double* bj = lead_start(b.data + k0, lead);
    const auto pair = [&](std::size_t j, auto outer) KORVANE_ALWAYS_INLINE_LAMBDA {
      const V w = Ops::broadcast(weights[j * stride]);
      const double* const copied = variants::unseen(point_copy);  // read anew at every pair
      variants::for_each_index<NV>([&](auto v) {
        const V x = point_in_registers ? point[v] : Ops::load(copied + L * v);
        const V t = Ops::sub(x, run.load(bj, v, outer));
        const V term = Ops::mul(Ops::mul(w, t), t);
        if constexpr (Vectors::in_l1(v))
          Ops::store(spilled_at(v), Ops::add(Ops::load(spilled_at(v)), term));
        else
          acc[v] = Ops::add(acc[v], term);
      });
      bj += dim;
    };
    pair(0, std::true_type{});
    std::size_t j = 1;
    std::size_t next_group_column = ask_next_group && i + 8 < a.cols ? (i + 7) % 8 + 1 : n_b;
    // Between two requests for the next group the pairs run without a test.
    for (;;) {
      const std::size_t stop = next_group_column < prefetched ? next_group_column : prefetched;
      for (; j < stop; ++j) {
        tiling::prefetch(weights + (j + kTable.ahead) * stride);
        pair(j, std::bool_constant<AllMasked>{});
      }
      if (stop == prefetched) break;
      tiling::prefetch<2>(weights + 8 + j * stride);
      next_group_column += 8;
    }
    for (; j + 1 < n_b; ++j) pair(j, std::bool_constant<AllMasked>{});
    if (j < n_b) pair(j, std::true_type{});
  }
  variants::for_each_index<NV>([&](auto v) {
    if constexpr (Vectors::in_l1(v))
      Ops::store(out + L * v, Ops::load(spilled_at(v)));
    else if constexpr (v == 0 || v == NV - 1)
      Ops::store(out + L * v, v == 0 ? run.head : run.tail, acc[v]);
    else
      Ops::store(out + L * v, acc[v]);
  });
}

// Below lanes / 2 coordinates, a column's unmasked vector can reach past
// the next column's end, and so past b's: one run, every column masked.
template <class Ops>
KORVANE_OUT_OF_LINE void short_weighted_sums(const MatrixView& a, const MatrixView& b,
                                             const WeightRows& rows, double* c, std::size_t first,
                                             std::size_t end) {
  weighted_block<Ops, 1, true>(a, b, rows, c, 0, a.rows, 0, first, end);
}

// Continues c over the points first .. end - 1 of a with Ops' loop, in runs
// of whole vectors from coordinate -lead (lead < lanes; only the first run
// has it), as equal as whole vectors allow. Without pairs c stays as it is,
// and Q's data may be null.
template <class Ops>
void weighted_sums(const MatrixView& a, const MatrixView& b, const MatrixView& Q, double* c,
                   std::size_t first, std::size_t end, std::size_t lead = 0) {
  constexpr std::size_t L = Ops::kWeighted.lanes, most = Ops::kWeighted.sweep_vectors;
  alignas(64) double buffer[kStagedWeights];
  const WeightRows rows(Q, buffer, copies_rows(Ops::kWeighted, a, b), first);
  if (a.rows == 0 || a.cols == 0 || b.cols == 0) return;
  if (2 * a.rows < L) return short_weighted_sums<Ops>(a, b, rows, c, first, end);
  const std::size_t span = a.rows + lead;
  const std::size_t vectors = (span + L - 1) / L;
  const std::size_t runs = (vectors + most - 1) / most;
  const std::size_t block = L * ((vectors + runs - 1) / runs);
  for (std::size_t start = 0; start < span; start += block) {
    const std::size_t stop = span - start < block ? span : start + block;
    const std::size_t run_lead = start == 0 ? lead : 0;
    variants::with_count<1, most>((stop - start + L - 1) / L, [&](auto nv) {
      weighted_block<Ops, decltype(nv)::value, false>(
          a, b, rows, c, start + run_lead - lead, stop - start - run_lead, run_lead, first, end);
    });
  }
}

}  // namespace
}  // namespace korvane::weighting

#endif
