// libmex.dll for the Windows test host: the error call and printing. The host's handler
// throws, so the error unwinds from here through the module's frames back to
// the test program.
#include <cstdarg>
#include <cstdio>

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

int mexPrintf(const char* format, ...) {
  char text[4096];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  host->print_text(text);
  return length;
}

}  // extern "C"
