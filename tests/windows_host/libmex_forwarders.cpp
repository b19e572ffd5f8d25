// libmex.dll for the Windows test host: the error call. The host's handler
// throws, so the error unwinds from here through the module's frames back to
// the test program.
#include "host_operations.h"

namespace {
const HostOperations* host = nullptr;
}

extern "C" {

__declspec(dllexport) void stand_in_attach(const HostOperations* operations) {
  host = operations;
}

void mexErrMsgTxt(const char* message) {
  host->err_msg_txt(message);
}

}  // extern "C"
