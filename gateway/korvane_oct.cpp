// The native Octave entry point: the same function as the MEX module, built
// as korvane.oct, which Octave prefers to a korvane.mex in the same folder.
//
// It runs the same checks (call_checks.hpp) and reports the same texts as
// Octave shows them from the MEX module ("korvane: " first, no identifier).
// What it does not share with the MEX route is the host's copying: the
// arguments are read in place, and the result is created once, without
// filling, as the very array that is returned. A long call runs in blocks
// (pairwise: of b's columns; weighted: of a's points) and honours Ctrl-C
// between them.
//
// Octave's `help` shows an oct-file's built-in doc string, not a same-named
// .m file (as it does for a MEX module), so the doc string is the help
// file's text, generated from korvane.m at build time (korvane_help.hpp).
#include <octave/oct.h>
#include <octave/quit.h>

#include <cstddef>

#include "call_checks.hpp"
#include "distance_kernels.hpp"
#include "exact_arithmetic.hpp"
#include "korvane_help.hpp"
#include "octave_arguments.hpp"

namespace {

namespace gateway = korvane::gateway;

// Columns of b per block: about kBlockSteps entry-coordinate steps, counting
// a few steps for writing each entry, so that a block takes about 10 ms with
// the vector kernels (a few tens with the scalar one). At least
// kMinBlockColumns, a multiple of every tile width, so that only the last
// block has edge tiles and reading a's points again for every block costs
// about 5 per cent at most; with more than about 4 MB of a, a block
// therefore takes longer, in proportion to a's size.
constexpr std::size_t kBlockSteps = std::size_t{1} << 27;
constexpr std::size_t kEntrySteps = 4;
constexpr std::size_t kMinBlockColumns = 256;

std::size_t columns_per_block(std::size_t dim, std::size_t n_a) {
  const std::size_t entry_steps = dim + kEntrySteps;
  const std::size_t points = n_a == 0 ? 1 : n_a;
  if (points > kBlockSteps / entry_steps) return kMinBlockColumns;
  const std::size_t columns = kBlockSteps / (entry_steps * points);
  return columns > kMinBlockColumns ? columns / kMinBlockColumns * kMinBlockColumns
                                    : kMinBlockColumns;
}

// Each entry of C depends on its own pair of points only, so the blocks give
// the same bits as one call; a block of b's columns is a contiguous block of
// C's columns.
void interruptible_pairwise(const korvane::MatrixView& a, const korvane::MatrixView& b,
                            const korvane::MatrixView& C) {
  const std::size_t block = columns_per_block(a.rows, a.cols);
  for (std::size_t first = 0;;) {
    const std::size_t count = b.cols - first < block ? b.cols - first : block;
    const korvane::MatrixView b_block{b.rows, count, b.data + first * b.rows};
    const korvane::MatrixView C_block{C.rows, count, C.data + first * C.rows};
    korvane::pairwise_squared_distances(a, b_block, C_block);
    first += count;
    if (first >= b.cols) return;
    octave_quit();
  }
}

// Pairs per weighted block: about kWeightedBlockSteps coordinate steps,
// counting kPairSteps for each pair's weight, so that a block takes about
// 10 ms with the vector kernels (0.5-1 ns a step on AMD EPYC family 25
// model 17, Q's lines a few ns a pair), a few tens with the scalar one.
constexpr std::size_t kWeightedBlockSteps = std::size_t{1} << 24;
constexpr std::size_t kPairSteps = 8;

// The terms enter c with i outermost, so blocks of a's points that continue
// c in place give the bits of one call, as do blocks of b's columns (with
// Q's same columns) within one point: those serve where one point's pairs
// alone would outlast a block.
void interruptible_weighted(const korvane::MatrixView& a, const korvane::MatrixView& b,
                            const korvane::MatrixView& Q, const korvane::MatrixView& c) {
  for (std::size_t k = 0; k < c.rows; ++k) c.data[k] = 0.0;
  const std::size_t pair_steps = a.rows + kPairSteps;
  const std::size_t pairs =
      kWeightedBlockSteps / pair_steps > 0 ? kWeightedBlockSteps / pair_steps : 1;
  bool started = false;
  const auto run = [&](std::size_t j0, std::size_t count, std::size_t first, std::size_t end) {
    if (started) octave_quit();
    started = true;
    const korvane::MatrixView b_block{b.rows, count, b.data + j0 * b.rows};
    const korvane::MatrixView Q_block{Q.rows, count, Q.data + j0 * Q.rows};
    korvane::continue_weighted_coordinate_sums(a, b_block, Q_block, c, first, end);
  };
  if (b.cols == 0) return;
  if (b.cols <= pairs) {
    const std::size_t points = pairs / b.cols;
    for (std::size_t first = 0; first < a.cols; first += points) {
      run(0, b.cols, first, a.cols - first < points ? a.cols : first + points);
    }
    return;
  }
  for (std::size_t i = 0; i < a.cols; ++i) {
    for (std::size_t j0 = 0; j0 < b.cols; j0 += pairs) {
      run(j0, b.cols - j0 < pairs ? b.cols - j0 : pairs, i, i + 1);
    }
  }
}

}  // namespace

DEFUN_DLD(korvane, args, nargout, KORVANE_HELP_TEXT) {
  // Any count above 3 is refused alike; clamped, it cannot wrap into range.
  const int nrhs = args.length() > 3 ? 4 : static_cast<int>(args.length());
  NDArray arrays[3];
  const gateway::CheckedCall call =
      gateway::check_call(gateway::OctaveArguments{args, arrays}, nargout, nrhs);
  if (call.error != nullptr) error("korvane: %s", call.error);

  NDArray result = gateway::unfilled_array(call.result_rows, call.result_cols);
  const korvane::MatrixView result_view{call.result_rows, call.result_cols, result.fortran_vec()};
  if (call.form == gateway::Form::distances) {
    interruptible_pairwise(call.a, call.b, result_view);
  } else {
    interruptible_weighted(call.a, call.b, call.Q, result_view);
  }
  return octave_value(result);
}
