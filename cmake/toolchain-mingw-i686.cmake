# CMake toolchain for Lumora's 32-bit Windows build, cross-compiled on Debian
# with mingw-w64 (see mingw-common.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(_lumora_triple i686-w64-mingw32)
set(_lumora_width 32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
