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

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host_operations.h"
#include "reference_loops.hpp"
#include "stand_in_host.hpp"

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

bool same_bits(const std::vector<double>& actual, const std::vector<double>& expected) {
  if (actual.size() != expected.size()) return false;
  for (std::size_t n = 0; n < actual.size(); ++n) {
    if (std::isnan(actual[n]) && std::isnan(expected[n])) continue;
    if (std::memcmp(&actual[n], &expected[n], sizeof(double)) != 0) return false;
  }
  return true;
}

// Deterministic values of mixed sign and magnitude.
std::vector<double> values(std::size_t count, std::uint32_t seed) {
  std::vector<double> v(count);
  std::uint32_t state = seed * 2654435761U + 1U;
  for (double& x : v) {
    state = state * 1664525U + 1013904223U;
    x = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 1e3 / 7.0;
  }
  return v;
}

void expect_result(const CallOutcome& outcome, std::size_t rows, std::size_t cols,
                   const std::vector<double>& expected, const std::string& what) {
  const bool shaped = !outcome.failed && outcome.slot != nullptr && outcome.slot->rows == rows &&
                      outcome.slot->cols == cols && outcome.results_created == 1;
  check(shaped, what + ": a " + std::to_string(rows) + "x" + std::to_string(cols) + " result");
  if (shaped) check(same_bits(outcome.values(), expected), what + ": bit-identical values");
}

void expect_error(const CallOutcome& outcome, const std::string& message, const std::string& what) {
  check(outcome.failed, what + ": fails");
  check(outcome.message == message, what + ": message \"" + outcome.message + "\"");
  check(outcome.results_created == 0 && outcome.slot == nullptr, what + ": no result left");
  // The error call ended the gateway call: no host operation came after it.
  check(!outcome.calls.empty() && outcome.calls.back().operation == "mexErrMsgTxt",
        what + ": nothing runs after the error call");
}

const char kUsageText[] =
    "Usage: C = korvane(a,b)\n"
    "       or: C = korvane(a)\n"
    "       or: c = korvane(a,b,Q)\n"
    "where the b matrix may be empty.";

// The module's gateway, called as the host calls it.
struct Module {
  stand_in::Gateway gateway;
  CallOutcome operator()(int nlhs, const std::vector<const mxArray*>& args) const {
    return stand_in::call(gateway, nlhs, args);
  }
};

void run_checks(const Module& korvane) {
  const std::size_t dim = 19, n_a = 37, n_b = 53;
  const std::vector<double> a_values = values(dim * n_a, 1), b_values = values(dim * n_b, 2);
  const auto a = stand_in::make_double(dim, n_a, a_values);
  const auto b = stand_in::make_double(dim, n_b, b_values);
  const auto empty = stand_in::make_double(0, 0);

  expect_result(korvane(1, {a.get(), b.get()}), n_a, n_b,
                reference::pairwise(a_values.data(), b_values.data(), dim, n_a, n_b),
                "korvane(a,b)");
  const std::vector<double> within =
      reference::pairwise(a_values.data(), a_values.data(), dim, n_a, n_a);
  expect_result(korvane(1, {a.get()}), n_a, n_a, within, "korvane(a)");
  expect_result(korvane(1, {a.get(), empty.get()}), n_a, n_a, within, "korvane(a,[])");
  expect_result(korvane(0, {a.get()}), n_a, n_a, within, "korvane(a) with no output asked");

  const std::vector<double> q_values = values(n_a * n_b, 3);
  const auto Q = stand_in::make_double(n_a, n_b, q_values);
  expect_result(
      korvane(1, {a.get(), b.get(), Q.get()}), dim, 1,
      reference::weighted(a_values.data(), b_values.data(), q_values.data(), dim, n_a, n_b),
      "korvane(a,b,Q)");
  const std::vector<double> q_square = values(n_a * n_a, 4);
  const auto Q_square = stand_in::make_double(n_a, n_a, q_square);
  expect_result(
      korvane(1, {a.get(), empty.get(), Q_square.get()}), dim, 1,
      reference::weighted(a_values.data(), a_values.data(), q_square.data(), dim, n_a, n_a),
      "korvane(a,[],Q)");

  const double inf = HUGE_VAL;
  const std::vector<double> special_values = {std::nan(""), 1.0, inf, 2.0, -0.0, 1e300};
  const auto special = stand_in::make_double(2, 3, special_values);
  expect_result(korvane(1, {special.get()}), 3, 3,
                reference::pairwise(special_values.data(), special_values.data(), 2, 3, 3),
                "NaN, infinities and overflow");

  expect_result(korvane(1, {empty.get()}), 0, 0, {}, "korvane of 0x0");
  const auto no_rows = stand_in::make_double(0, 4);
  expect_result(korvane(1, {no_rows.get()}), 4, 4, std::vector<double>(16, 0.0), "korvane of 0x4");
  const auto no_points = stand_in::make_double(3, 0);
  const auto b34 = stand_in::make_double(3, 4, values(12, 5));
  expect_result(korvane(1, {no_points.get(), b34.get()}), 0, 4, {}, "3x0 against 3x4");

  expect_error(korvane(1, {}), kUsageText, "no argument");
  expect_error(korvane(1, {a.get(), b.get(), Q.get(), Q.get()}), kUsageText, "four arguments");
  expect_error(korvane(2, {a.get(), b.get()}), kUsageText, "two outputs");
  const auto b4 = stand_in::make_double(4, 2, values(8, 6));
  expect_error(korvane(1, {a.get(), b4.get()}), "Error: column lengths must agree",
               "row counts differ");
  expect_error(korvane(1, {a.get(), b4.get(), empty.get()}), "Error: column lengths must agree",
               "row counts differ before Q is looked at");
  const auto Q_transposed = stand_in::make_double(n_b, n_a, values(n_a * n_b, 7));
  expect_error(korvane(1, {a.get(), b.get(), Q_transposed.get()}),
               "Error: 3rd matrix argument has wrong dimensions", "Q transposed");

  const auto int32 = stand_in::make_array(ArrayClass::int32_class, dim, n_a);
  const auto complex = stand_in::make_complex(dim, n_a);
  const auto sparse = stand_in::make_sparse(n_a, n_b);
  expect_error(
      korvane(1, {int32.get()}),
      "Error: argument 1 must be a real, full double matrix (got int32; convert with double(x))",
      "int32 argument 1");
  expect_error(
      korvane(1, {a.get(), complex.get()}),
      "Error: argument 2 must be a real, full double matrix (got complex; use real(x) or abs(x))",
      "complex argument 2");
  expect_error(korvane(1, {a.get(), b.get(), sparse.get()}),
               "Error: argument 3 must be a real, full double matrix (got sparse; use full(x))",
               "sparse argument 3");

  // Errors thrown through the module many times leave it working.
  int sound = 0;
  for (int n = 0; n < 2000; ++n) {
    const CallOutcome failed = korvane(1, {a.get(), b4.get()});
    const CallOutcome passed = korvane(1, {special.get()});
    if (failed.failed && !passed.failed && passed.slot != nullptr) ++sound;
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

// korvane_smallest's module: the first rows of the sorted distances with
// their indices, and its refusals.
void run_smallest_checks(const Module& korvane_smallest) {
  const std::size_t dim = 3, n_a = 300, n_b = 40, k = 7;
  std::vector<double> a_values = values(dim * n_a, 8), b_values = values(dim * n_b, 9);
  for (std::size_t n = 0; n < a_values.size(); n += 5) a_values[n] = std::round(a_values[n] / 50);
  a_values[4] = std::nan("");
  const auto a = stand_in::make_double(dim, n_a, a_values);
  const auto b = stand_in::make_double(dim, n_b, b_values);
  const auto k_value = stand_in::make_double(1, 1, {static_cast<double>(k)});
  std::vector<double> d, index;
  reference::smallest(reference::pairwise(a_values.data(), b_values.data(), dim, n_a, n_b), n_a,
                      n_b, k, d, index);
  const CallOutcome both = korvane_smallest(2, {a.get(), b.get(), k_value.get()});
  const bool shaped = !both.failed && both.slot != nullptr && both.second_slot != nullptr &&
                      both.results_created == 2 && both.second_slot->rows == k &&
                      both.second_slot->cols == n_b;
  check(shaped, "[d,i] = korvane_smallest(a,b,7): two results");
  if (shaped) {
    check(same_bits(both.values(), d), "korvane_smallest: bit-identical d");
    const double* i = stand_in::values_of(*both.second_slot);
    check(std::vector<double>(i, i + k * n_b) == index, "korvane_smallest: the indices");
  }
  expect_result(korvane_smallest(1, {a.get(), b.get(), k_value.get()}), k, n_b, d,
                "d = korvane_smallest(a,b,7)");
  expect_error(korvane_smallest(1, {a.get(), b.get()}),
               "Usage: d = korvane_smallest(a,b,k)\n       or: [d,i] = korvane_smallest(a,b,k)\n"
               "where the b matrix may be empty.",
               "korvane_smallest with two arguments");
  const auto half = stand_in::make_double(1, 1, {0.5});
  expect_error(korvane_smallest(1, {a.get(), b.get(), half.get()}),
               "Error: k must be a non-negative integer-valued real double scalar",
               "korvane_smallest with k = 0.5");
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
    run_smallest_checks(korvane);
  } else {
    run_checks(korvane);
  }
  std::printf("%s: %d checks, %d failed\n", module_path, checks, failures);
  return failures == 0 ? 0 : 1;
}
