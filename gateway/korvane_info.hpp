// korvane_info: what this build of korvane is and what it chose on this
// machine, for bug reports and tests. Host-free: both entry points build
// their host's struct from the same fields and print the same text.
//
// Every build route defines KORVANE_VERSION (package/DESCRIPTION's Version,
// a bare token such as 1.0.0) and one of KORVANE_ROUTE_CMAKE,
// KORVANE_ROUTE_BUILD_SCRIPT or KORVANE_ROUTE_PACKAGE.
#ifndef KORVANE_GATEWAY_KORVANE_INFO_HPP
#define KORVANE_GATEWAY_KORVANE_INFO_HPP

#include <cstddef>

#include "kernel_variants.hpp"

#ifndef KORVANE_VERSION
#error "KORVANE_VERSION must be package/DESCRIPTION's Version"
#endif
#define KORVANE_INFO_STRING_OF(token) #token
#define KORVANE_INFO_STRING(token) KORVANE_INFO_STRING_OF(token)

#if defined(KORVANE_ROUTE_PACKAGE)
#define KORVANE_INFO_ROUTE "Octave package (pkg install)"
#elif defined(KORVANE_ROUTE_BUILD_SCRIPT)
#define KORVANE_INFO_ROUTE "korvane_build"
#elif defined(KORVANE_ROUTE_CMAKE)
#define KORVANE_INFO_ROUTE "CMake"
#else
#error "no build route defined"
#endif
#if defined(__MINGW32__)
#define KORVANE_INFO_COMPILER " with MinGW-w64"
#else
#define KORVANE_INFO_COMPILER ""
#endif
// The build field of an entry point of the given kind: "CMake, oct-file".
#define KORVANE_INFO_BUILD(entry_point) KORVANE_INFO_ROUTE KORVANE_INFO_COMPILER ", " entry_point

namespace korvane::gateway {

inline constexpr char kInfoUsageText[] = "Usage: korvane_info\n       or: info = korvane_info";
inline constexpr char kVersion[] = KORVANE_INFO_STRING(KORVANE_VERSION);

// The struct's fields, in this order.
inline constexpr int kInfoFields = 5;
inline constexpr const char* kInfoFieldNames[kInfoFields] = {
    "version", "instruction_set", "l1_data_cache_bytes", "l2_cache_bytes", "build"};

struct Info {
  const char* version;
  const char* instruction_set;  // the variant the kernels run on this CPU
  std::size_t l1_data_cache_bytes;
  std::size_t l2_cache_bytes;
  const char* build;
};

inline Info current_info(const char* build) {
  return Info{kVersion, instruction_set_name(active_instruction_set()), l1_data_cache_bytes(),
              l2_cache_bytes(), build};
}

// The printed form, one field a line, formed by hand: the C runtime's
// formatting, linked into a Windows module, would bring x87 code with it.
inline constexpr std::size_t kInfoTextBytes = 512;

namespace detail {
// Appends to text what fits, always leaving it terminated.
struct InfoText {
  char (&text)[kInfoTextBytes];
  std::size_t length = 0;
  void append(const char* part) {
    while (*part != '\0' && length + 1 < kInfoTextBytes) text[length++] = *part++;
    text[length] = '\0';
  }
  void append(std::size_t number) {
    char digits[24];
    std::size_t count = 0;
    do {
      digits[count++] = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number != 0);
    char reversed[24];
    for (std::size_t n = 0; n < count; ++n) reversed[n] = digits[count - 1 - n];
    reversed[count] = '\0';
    append(reversed);
  }
};
}  // namespace detail

inline void info_text(const Info& info, char (&text)[kInfoTextBytes]) {
  detail::InfoText out{text};
  out.append("korvane ");
  out.append(info.version);
  out.append("\n  instruction set  ");
  out.append(info.instruction_set);
  out.append(" (chosen on this CPU)\n  L1 data cache    ");
  out.append(info.l1_data_cache_bytes / 1024);
  out.append(" KB\n  L2 cache         ");
  out.append(info.l2_cache_bytes / 1024);
  out.append(" KB\n  build            ");
  out.append(info.build);
  out.append("\n");
}

}  // namespace korvane::gateway

#endif
