// libFuzzer target: both kernels, every instruction-set variant that this
// build contains and this CPU runs, against the plain loops bit for bit, on
// shapes that cross tiles, chunks and edges, with b sharing a's storage or
// not, at any alignment. Each variant must also write its result and nothing
// else: the result arrives between guards full of garbage, and the inputs
// must come back unchanged.
//
// Input bytes, read in order (missing bytes read as 0): flags (bit 0: b is
// a; bits 1-3 and 4-6: offsets of a and b from an aligned start, in
// doubles), D, n_a, n_b (as fuzz_input.hpp reads extents; n_b is ignored when
// b is a), then the values of a, b (unless b is a) and Q (fuzz_input.hpp).
// Inputs of more than kMaxSteps steps (counting a 0 as 1) are skipped.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "double_bits.hpp"
#include "fuzz_input.hpp"
#include "guarded_result.hpp"
#include "kernel_variants.hpp"
#include "reference_loops.hpp"

namespace {

using korvane::InstructionSet;
using korvane::MatrixView;

// D * n_a * n_b: each input runs both kernels in every variant and in the
// plain loops, all under the sanitizers.
constexpr std::size_t kMaxSteps = std::size_t{1} << 20;

constexpr InstructionSet kVariants[] = {InstructionSet::scalar, InstructionSet::avx2,
                                        InstructionSet::avx2_fma, InstructionSet::avx512};

void require(bool condition, const char* what) {
  if (!condition) fuzz::fail("kernel_fuzzer", what);
}

// Storage for one input matrix, placed `offset` doubles past a 64-byte
// boundary. A matrix with no elements gets a null view: the kernels must
// never touch it.
struct Input {
  Input(std::size_t n_rows, std::size_t n_cols, std::size_t offset)
      : rows(n_rows), cols(n_cols), storage(n_rows * n_cols + offset + 8) {
    const auto address = reinterpret_cast<std::uintptr_t>(storage.data());
    values = storage.data() + (64 - address % 64) % 64 / sizeof(double) + offset;
  }
  std::size_t count() const { return rows * cols; }
  MatrixView view() const { return MatrixView{rows, cols, count() == 0 ? nullptr : values}; }
  // Whether the values are still those of copy.
  bool unchanged(const std::vector<double>& copy) const {
    return copy.empty() || std::memcmp(values, copy.data(), copy.size() * sizeof(double)) == 0;
  }

  std::size_t rows, cols;
  std::vector<double> storage;
  double* values;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in(data, size);
  const std::uint8_t flags = in.next();
  const bool b_is_a = flags & 1;
  const std::size_t dim = fuzz::read_extent(in, in.next());
  const std::size_t n_a = fuzz::read_extent(in, in.next());
  const std::size_t n_b_read = fuzz::read_extent(in, in.next());
  const std::size_t n_b = b_is_a ? n_a : n_b_read;
  // A count of 0 still leaves the others to fill and write (D = 0: every
  // entry of C).
  const auto at_least_1 = [](std::size_t n) { return n == 0 ? 1 : n; };
  if (at_least_1(dim) * at_least_1(n_a) * at_least_1(n_b) > kMaxSteps) return 0;

  Input a(dim, n_a, flags >> 1 & 7);
  Input b_own(b_is_a ? 0 : dim, b_is_a ? 0 : n_b, flags >> 4 & 7);
  Input Q(n_a, n_b, 0);
  fuzz::fill_values(in, a.values, a.count());
  if (!b_is_a) fuzz::fill_values(in, b_own.values, b_own.count());
  fuzz::fill_values(in, Q.values, Q.count());
  const MatrixView av = a.view();
  const MatrixView bv = b_is_a ? av : b_own.view();
  const MatrixView qv = Q.view();
  const std::vector<double> a_copy(a.values, a.values + a.count());
  const std::vector<double> b_copy(b_own.values, b_own.values + b_own.count());
  const std::vector<double> q_copy(Q.values, Q.values + Q.count());

  const std::vector<double> distances = reference::pairwise(av.data, bv.data, dim, n_a, n_b);
  const std::vector<double> sums = reference::weighted(av.data, bv.data, qv.data, dim, n_a, n_b);
  GuardedResult C(n_a, n_b);
  GuardedResult c(dim, 1);
  for (InstructionSet isa : kVariants) {
    if (!korvane::instruction_set_available(isa)) continue;
    korvane::pairwise_squared_distances(isa, av, bv, C.fresh_view());
    require(C.equals(distances), "distances differ from the plain loops");
    require(C.guards_intact(), "distances written outside C");
    korvane::weighted_coordinate_sums(isa, av, bv, qv, c.fresh_view());
    require(c.equals(sums), "weighted sums differ from the plain loops");
    require(c.guards_intact(), "weighted sums written outside c");
  }
  require(a.unchanged(a_copy) && b_own.unchanged(b_copy) && Q.unchanged(q_copy),
          "an input was written");
  return 0;
}
