# Arithmetic and warning flags for every target of the project.
#
# Exactness: results must equal the plain loops bit for bit, so no translation
# unit may fuse a multiply and an add, and 32-bit x86 must round every double
# operation to double (SSE2, not x87 with its extended precision).

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-ffp-contract=off -fno-fast-math)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86|X86|AMD64|x86_64)$")
    add_compile_options(-msse2 -mfpmath=sse)
  endif()
  set(KORVANE_WARNING_FLAGS -Wall -Wextra -Wpedantic -Wshadow)
  if(KORVANE_WARNINGS_AS_ERRORS)
    list(APPEND KORVANE_WARNING_FLAGS -Werror)
  endif()
  # Product code also refuses silent narrowing: counts must stay full width.
  set(KORVANE_PRODUCT_WARNING_FLAGS ${KORVANE_WARNING_FLAGS} -Wconversion -Wsign-conversion)
elseif(MSVC)
  # /fp:precise keeps no excess precision, but before Visual Studio 2022 17.0
  # it allows contraction, and /arch:AVX2 gives it FMA to contract into: every
  # arithmetic file turns contraction off itself (kernels/exact_arithmetic.hpp).
  add_compile_options(/fp:precise)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # 32-bit x86: SSE2 scalar arithmetic, never x87 (the default since
    # Visual Studio 2012; stated so that no older setting can creep in).
    add_compile_options(/arch:SSE2)
  endif()
  set(KORVANE_WARNING_FLAGS /W4)
  if(KORVANE_WARNINGS_AS_ERRORS)
    list(APPEND KORVANE_WARNING_FLAGS /WX)
  endif()
  set(KORVANE_PRODUCT_WARNING_FLAGS ${KORVANE_WARNING_FLAGS})
endif()

# Sanitized builds (tests only: a sanitized module cannot load into a host
# that was not built with the same runtime). Any finding ends the program.
if(KORVANE_SANITIZE OR KORVANE_FUZZ)
  set(KORVANE_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                              -fno-omit-frame-pointer)
  add_compile_options(${KORVANE_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()

# Which vector variants are compiled in: AVX2 and AVX-512 on x86-64, NEON
# on 64-bit Arm (AdvSIMD is part of every such CPU). On macOS the target
# architectures are CMAKE_OSX_ARCHITECTURES when set, whatever the host is:
# every source is compiled once per architecture with the same flags, so a
# universal build (arm64 with x86_64) gets the portable kernels in both
# slices, and a single architecture its own variants.
set(KORVANE_X86_64 OFF)
set(KORVANE_AARCH64 OFF)
if(APPLE AND CMAKE_OSX_ARCHITECTURES)
  if(CMAKE_OSX_ARCHITECTURES STREQUAL "x86_64")
    set(KORVANE_X86_64 ON)
  elseif(CMAKE_OSX_ARCHITECTURES STREQUAL "arm64")
    set(KORVANE_AARCH64 ON)
  endif()
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|x64)$")
  set(KORVANE_X86_64 ON)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
  set(KORVANE_AARCH64 ON)
endif()

if(MSVC)
  set(KORVANE_AVX2_FLAGS /arch:AVX2)
  set(KORVANE_AVX2_FMA_FLAGS /arch:AVX2)
  set(KORVANE_AVX512_FLAGS /arch:AVX512)
else()
  # No -mfma for the AVX2 variant: it must not even have fused instructions
  # available. The AVX2 + FMA3 one needs it for its exact add.
  set(KORVANE_AVX2_FLAGS -mavx2)
  set(KORVANE_AVX2_FMA_FLAGS -mavx2 -mfma)
  set(KORVANE_AVX512_FLAGS -mavx512f)
  if(MINGW AND KORVANE_X86_64 AND KORVANE_VECTOR_KERNELS)
    # GCC cannot align the stack beyond 16 bytes on 64-bit Windows, yet it
    # spills vector registers with aligned moves; have the assembler emit
    # unaligned ones, which cost nothing on aligned addresses. Assemblers
    # before binutils 2.38 lack the option: those get the portable kernels.
    include(CheckCXXSourceCompiles)
    set(CMAKE_REQUIRED_FLAGS -Wa,-muse-unaligned-vector-move)
    set(CMAKE_REQUIRED_QUIET ON)
    check_cxx_source_compiles("int main() { return 0; }" KORVANE_ASSEMBLER_UNALIGNED_MOVES)
    unset(CMAKE_REQUIRED_FLAGS)
    unset(CMAKE_REQUIRED_QUIET)
    if(KORVANE_ASSEMBLER_UNALIGNED_MOVES)
      list(APPEND KORVANE_AVX2_FLAGS -Wa,-muse-unaligned-vector-move)
      list(APPEND KORVANE_AVX2_FMA_FLAGS -Wa,-muse-unaligned-vector-move)
      list(APPEND KORVANE_AVX512_FLAGS -Wa,-muse-unaligned-vector-move)
    else()
      message(STATUS "korvane: the assembler does not accept -Wa,-muse-unaligned-vector-move "
                     "(binutils before 2.38), which the AVX2 and AVX-512 kernels need on "
                     "Windows: building the portable kernels only (the same results, more slowly)")
      set(KORVANE_VECTOR_KERNELS OFF)
    endif()
  endif()
endif()
