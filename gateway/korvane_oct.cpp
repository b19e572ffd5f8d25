// The native Octave entry point: the same function as the MEX module, built
// as korvane.oct, which Octave prefers to a korvane.mex in the same folder.
//
// It runs the same checks (call_checks.hpp) and reports the same texts as
// Octave shows them from the MEX module ("korvane: " first, no identifier).
// What it does not share with the MEX route is the host's copying: the
// arguments are read in place, and the result is created once, without
// filling, as the very array that is returned. A long pairwise call runs
// over blocks of b's columns and honours Ctrl-C between them.
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
    korvane::weighted_coordinate_sums(call.a, call.b, call.Q, result_view);
  }
  return octave_value(result);
}
