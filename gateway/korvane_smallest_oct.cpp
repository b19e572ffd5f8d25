// The native Octave entry point of korvane_smallest, built as
// korvane_smallest.oct, which Octave prefers to a korvane_smallest.mex in
// the same folder. The same checks and texts as the MEX module
// (smallest_checks.hpp); the arguments are read in place, d and i are
// created once, unfilled, as the arrays returned, and Ctrl-C ends a long
// call between blocks. The doc string is the help file's text
// (korvane_smallest_help.hpp, generated from korvane_smallest.m).
#include <octave/oct.h>
#include <octave/quit.h>

#include "distance_kernels.hpp"
#include "exact_arithmetic.hpp"
#include "korvane_smallest_help.hpp"
#include "octave_arguments.hpp"
#include "smallest_checks.hpp"
#include "smallest_per_column.hpp"

DEFUN_DLD(korvane_smallest, args, nargout, KORVANE_HELP_TEXT) {
  namespace gateway = korvane::gateway;
  // Any count above 3 is refused alike; clamped, it cannot wrap into range.
  const int nrhs = args.length() > 3 ? 4 : static_cast<int>(args.length());
  NDArray arrays[3];
  const gateway::CheckedSmallest call =
      gateway::check_smallest_call(gateway::OctaveArguments{args, arrays}, nargout, nrhs);
  if (call.error != nullptr) error("korvane_smallest: %s", call.error);

  NDArray d = gateway::unfilled_array(call.rows, call.b.cols);
  NDArray index = call.with_index ? gateway::unfilled_array(call.rows, call.b.cols) : NDArray();
  korvane::smallest_per_column(
      call.a, call.b, korvane::MatrixView{call.rows, call.b.cols, d.fortran_vec()},
      call.with_index ? index.fortran_vec() : nullptr, [] { octave_quit(); });
  octave_value_list results(call.with_index ? 2 : 1);
  results(0) = d;
  if (call.with_index) results(1) = index;
  return results;
}
