// korvane_info as an oct-file, korvane_info.oct: the same text and fields as
// the MEX module (korvane_info.hpp). Its doc string is korvane_info.m's text.
#include <octave/oct.h>

#include "korvane_info.hpp"
#include "korvane_info_help.hpp"

DEFUN_DLD(korvane_info, args, nargout, KORVANE_HELP_TEXT) {
  namespace gateway = korvane::gateway;
  if (args.length() != 0 || nargout > 1) error("korvane_info: %s", gateway::kInfoUsageText);
  const gateway::Info info = gateway::current_info(KORVANE_INFO_BUILD("oct-file"));
  if (nargout == 0) {
    char text[gateway::kInfoTextBytes];
    gateway::info_text(info, text);
    octave_stdout << text;
    return octave_value_list();
  }
  octave_scalar_map fields;
  fields.assign("version", info.version);
  fields.assign("instruction_set", info.instruction_set);
  fields.assign("l1_data_cache_bytes", static_cast<double>(info.l1_data_cache_bytes));
  fields.assign("l2_cache_bytes", static_cast<double>(info.l2_cache_bytes));
  fields.assign("build", info.build);
  return octave_value(fields);
}
