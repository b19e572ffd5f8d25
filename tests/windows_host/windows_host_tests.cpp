// A Windows host for the built module: loads korvane.mexw64 with LoadLibrary,
// finds mexFunction with GetProcAddress and runs every call form and every
// error through our libmx.dll and libmex.dll. Results must equal the plain
// loops bit for bit and messages must match byte for byte; an error must end
// the call across the DLL boundary, leaving no result behind.
//
// Before loading, the host checks that every name the module imports from
// libmx.dll and libmex.dll is exported by ours, which export only what
// MATLAB's do for the large-array-dims API (besides stand_in_attach, which
// no module imports), and refuses the module otherwise:
// Windows' loader fails such a load ("The specified procedure could not be
// found"), but Wine's fills a missing import with a stub and loads anyway.
// Once the module is loaded, the host asks it for the API it was built for,
// as MATLAB does (mexfilerequiredapiversion), and refuses it unless the
// answer is that of mex -R2017b. With --refused, the module must be refused.
//
// A korvane_info or korvane_smallest module (by its name) gets that
// function's checks instead.
//
// Usage: windows_host_tests [--refused] [path to module]
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "gateway_cases.hpp"
#include "host_operations.h"

namespace {

using stand_in::CallOutcome;

int checks = 0;
int failures = 0;

void check(bool ok, const std::string& what) {
  ++checks;
  if (!ok) {
    ++failures;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

void expect_error(const CallOutcome& outcome, const std::string& message, const std::string& what) {
  check(outcome.failed, what + ": fails");
  check(outcome.message == message, what + ": message \"" + outcome.message + "\"");
  check(outcome.results_created == 0 && outcome.slot == nullptr, what + ": no result left");
  // The error call ended the gateway call: no host operation came after it.
  check(!outcome.calls.empty() && outcome.calls.back().operation == "mexErrMsgTxt",
        what + ": nothing runs after the error call");
}

// The module's gateway, called as the host calls it.
struct Module {
  stand_in::Gateway gateway;
  CallOutcome operator()(int nlhs, const std::vector<const mxArray*>& args) const {
    return stand_in::call(gateway, nlhs, args);
  }
};

void run_cases(const Module& module, const cases::Table& table) {
  for (const cases::Case& c : table.cases) {
    const std::string wrong = cases::mismatch(c, module(c.nlhs, c.args));
    check(wrong.empty(), c.name + ": " + wrong);
  }
}

// korvane's cases, then errors thrown through the module many times, which
// must leave it working.
void run_checks(const Module& korvane) {
  const cases::Table table = cases::korvane_cases();
  run_cases(korvane, table);
  const cases::Case& passing = table.cases.front();
  const cases::Case& failing = table.cases.back();
  int sound = 0;
  for (int n = 0; n < 2000; ++n) {
    if (cases::mismatch(failing, korvane(failing.nlhs, failing.args)).empty() &&
        cases::mismatch(passing, korvane(passing.nlhs, passing.args)).empty())
      ++sound;
  }
  check(sound == 2000, "2000 failing and passing calls in turn");
}

// korvane_info: a struct of its five fields, the same values printed with no
// output asked, and its usage error.
void run_info_checks(const Module& korvane_info) {
  const std::string build = "CMake with MinGW-w64, MEX";
  const CallOutcome returned = korvane_info(1, {});
  const mxArray* info = returned.slot;
  const std::vector<std::string> names = {"version", "instruction_set", "l1_data_cache_bytes",
                                          "l2_cache_bytes", "build"};
  check(!returned.failed && info != nullptr && info->field_names == names,
        "korvane_info: a struct of five fields");
  if (info == nullptr || info->field_names != names) return;
  const mxArray* isa = stand_in::field_of(*info, "instruction_set");
  const mxArray* l1 = stand_in::field_of(*info, "l1_data_cache_bytes");
  const mxArray* l2 = stand_in::field_of(*info, "l2_cache_bytes");
  const mxArray* built = stand_in::field_of(*info, "build");
  const std::string isa_name = isa != nullptr ? isa->text : "";
  check(
      isa_name == "scalar" || isa_name == "avx2" || isa_name == "avx2_fma" || isa_name == "avx512",
      "korvane_info: instruction set \"" + isa_name + "\"");
  check(l1 != nullptr && l2 != nullptr && stand_in::values_of(*l1)[0] >= 16384 &&
            stand_in::values_of(*l2)[0] > stand_in::values_of(*l1)[0],
        "korvane_info: cache sizes");
  check(built != nullptr && built->text == build, "korvane_info: build");

  const CallOutcome printed = korvane_info(0, {});
  check(!printed.failed && printed.slot == nullptr && printed.printed.rfind("korvane ", 0) == 0 &&
            printed.printed.find("  instruction set  " + isa_name + " ") != std::string::npos &&
            printed.printed.find("  build            " + build + "\n") != std::string::npos,
        "korvane_info: printed \"" + printed.printed + "\"");
  const auto one = stand_in::make_double(1, 1, {1.0});
  expect_error(korvane_info(1, {one.get()}), "Usage: korvane_info\n       or: info = korvane_info",
               "korvane_info with an argument");
}

template <typename Function>
Function symbol(HMODULE module, const char* name) {
  // Through void (*)(void), the one cast between function types GCC accepts
  // silently.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

const HostOperations kStandInHost = {mxGetPr,
                                     mxGetM,
                                     mxGetN,
                                     mxIsEmpty,
                                     mxGetClassName,
                                     mxIsComplex,
                                     mxIsSparse,
                                     mxGetNumberOfDimensions,
                                     mxCreateDoubleMatrix,
                                     mexErrMsgTxt,
                                     mxCreateStructMatrix,
                                     mxSetField,
                                     mxCreateString,
                                     mxCreateDoubleScalar,
                                     stand_in::print_text};

}  // namespace

// The first name the mapped image imports from one of the host's libraries
// that the library does not export, or an empty string.
std::string missing_import(HMODULE image,
                           const std::vector<std::pair<std::string, HMODULE>>& host) {
  const auto* base = reinterpret_cast<const unsigned char*>(image);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.Size == 0) return "";
  for (auto* entry =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       entry->Name != 0; ++entry) {
    const char* dll = reinterpret_cast<const char*>(base + entry->Name);
    HMODULE library = nullptr;
    for (const auto& [name, handle] : host) {
      if (lstrcmpiA(dll, name.c_str()) == 0) library = handle;
    }
    if (library == nullptr) continue;
    const DWORD names =
        entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk;
    for (auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names);
         thunk->u1.AddressOfData != 0; ++thunk) {
      if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) return std::string(dll) + " by ordinal";
      const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
          base + static_cast<std::size_t>(thunk->u1.AddressOfData));
      const char* function = reinterpret_cast<const char*>(by_name->Name);
      if (GetProcAddress(library, function) == nullptr) return std::string(dll) + "!" + function;
    }
  }
  return "";
}

// Why a loaded module must be refused for the API it declares, or an empty
// string: it must answer as mex -R2017b's modules do, built by R2018a
// (0x2018a) for the separate-complex, large-array-dims API (0x07300000).
std::string api_refusal(HMODULE module) {
  using ApiVersion = void (*)(unsigned int*, unsigned int*);
  const auto api_version = symbol<ApiVersion>(module, "mexfilerequiredapiversion");
  if (api_version == nullptr) return "it exports no mexfilerequiredapiversion";
  unsigned int release = 0;
  unsigned int api = 0;
  api_version(&release, &api);
  if (release == 0x2018a && api == 0x07300000) return "";
  char answer[96];
  std::snprintf(answer, sizeof answer, "it declares release 0x%x and API 0x%08x", release, api);
  return answer;
}

int main(int argc, char** argv) {
  const bool expect_refusal = argc > 1 && std::strcmp(argv[1], "--refused") == 0;
  const int path_argument = expect_refusal ? 2 : 1;
  const char* module_path = argc > path_argument ? argv[path_argument] : "korvane.mexw64";
  std::vector<std::pair<std::string, HMODULE>> host;
  for (const char* library : {"libmx.dll", "libmex.dll"}) {
    const HMODULE host_library = LoadLibraryA(library);
    host.emplace_back(library, host_library);
    const AttachHost attach =
        host_library != nullptr ? symbol<AttachHost>(host_library, "stand_in_attach") : nullptr;
    if (attach == nullptr) {
      std::printf("FAILED: cannot load %s\n", library);
      return 1;
    }
    attach(&kStandInHost);
  }
  // Mapped without resolving its imports or running any of its code.
  const HMODULE image = LoadLibraryExA(module_path, nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (image == nullptr) {
    std::printf("FAILED: cannot map %s: error %lu\n", module_path, GetLastError());
    return 1;
  }
  const std::string missing = missing_import(image, host);
  FreeLibrary(image);
  std::string refusal;
  HMODULE module = nullptr;
  if (!missing.empty()) {
    refusal = "it imports " + missing + ", which the host does not export";
  } else {
    module = LoadLibraryA(module_path);
    if (module == nullptr) {
      std::printf("FAILED: LoadLibrary(%s): error %lu\n", module_path, GetLastError());
      return 1;
    }
    refusal = api_refusal(module);
  }
  if (expect_refusal || !refusal.empty()) {
    if (refusal.empty()) {
      std::printf("FAILED: the host accepts %s, which should be refused\n", module_path);
    } else {
      std::printf("%s%s refused: %s\n", expect_refusal ? "" : "FAILED: ", module_path,
                  refusal.c_str());
    }
    return expect_refusal && !refusal.empty() ? 0 : 1;
  }
  const Module korvane{symbol<stand_in::Gateway>(module, "mexFunction")};
  if (korvane.gateway == nullptr) {
    std::printf("FAILED: %s exports no mexFunction\n", module_path);
    return 1;
  }
  if (std::strstr(module_path, "korvane_info") != nullptr) {
    run_info_checks(korvane);
  } else if (std::strstr(module_path, "korvane_smallest") != nullptr) {
    run_cases(korvane, cases::smallest_cases());
  } else {
    run_checks(korvane);
  }
  std::printf("%s: %d checks, %d failed\n", module_path, checks, failures);
  return failures == 0 ? 0 : 1;
}
