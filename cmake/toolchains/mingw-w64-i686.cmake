# Cross-build for 32-bit x86 Windows with Debian's mingw-w64 toolchain
# (package g++-mingw-w64-i686).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KORVANE_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
