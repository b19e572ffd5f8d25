# Cross-build for 64-bit x86-64 Windows with Debian's mingw-w64 toolchain
# (package g++-mingw-w64-x86-64).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KORVANE_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
# Windows programs built here run under Wine (package wine64).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
