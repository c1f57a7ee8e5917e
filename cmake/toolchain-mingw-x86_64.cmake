# CMake toolchain for Lumora's 64-bit Windows build, cross-compiled on Debian
# with mingw-w64 (see mingw-common.cmake).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(_lumora_triple x86_64-w64-mingw32)
set(_lumora_width 64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
