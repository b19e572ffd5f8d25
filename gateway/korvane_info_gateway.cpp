// korvane_info as a MEX module: prints what this build is and chose, or
// returns it as a struct (korvane_info.hpp).
#include "korvane_info.hpp"
#include "mex.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  namespace gateway = korvane::gateway;
  (void)prhs;
  if (nrhs != 0 || nlhs > 1) {
    mexErrMsgTxt(gateway::kInfoUsageText);
    return;
  }
  const gateway::Info info = gateway::current_info(KORVANE_INFO_BUILD("MEX"));
  if (nlhs == 0) {
    char text[gateway::kInfoTextBytes];
    gateway::info_text(info, text);
    mexPrintf("%s", text);
    return;
  }
  const char* names[gateway::kInfoFields];
  for (int n = 0; n < gateway::kInfoFields; ++n) names[n] = gateway::kInfoFieldNames[n];
  mxArray* fields = mxCreateStructMatrix(1, 1, gateway::kInfoFields, names);
  mxSetField(fields, 0, "version", mxCreateString(info.version));
  mxSetField(fields, 0, "instruction_set", mxCreateString(info.instruction_set));
  mxSetField(fields, 0, "l1_data_cache_bytes",
             mxCreateDoubleScalar(static_cast<double>(info.l1_data_cache_bytes)));
  mxSetField(fields, 0, "l2_cache_bytes",
             mxCreateDoubleScalar(static_cast<double>(info.l2_cache_bytes)));
  mxSetField(fields, 0, "build", mxCreateString(info.build));
  plhs[0] = fields;
}
