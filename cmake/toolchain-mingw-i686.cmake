# CMake toolchain for Lumora's 32-bit Windows build, cross-compiled on Debian.
#
# Uses Debian's mingw-w64 i686 compilers in their posix-threads flavour (the
# one with std::thread, std::mutex and std::condition_variable), links the C
# and C++ run-times and winpthreads statically so every .exe runs on its own
# with only system DLLs, and looks for third-party libraries in the prefix
# that scripts/windows-deps.sh fills (.cache/win32: PCRE and GNU libiconv).
# Test programs run under Wine through scripts/wine-run.sh, which CTest,
# gtest_discover_tests and try_run pick up as the cross-compiling emulator.
#
#   scripts/windows-deps.sh && scripts/wine-env.sh
#   cmake -S . -B build/win32 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
#   cmake --build build/win32 && ctest --test-dir build/win32
#
# The dependency prefix can be moved with the LUMORA_WIN32_PREFIX environment
# variable (read here, so it also reaches try_compile projects).  Code that
# includes pcre.h must be compiled with PCRE_STATIC defined.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(_lumora_triple i686-w64-mingw32)
set(CMAKE_C_COMPILER ${_lumora_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_lumora_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_lumora_triple}-windres)

# Self-contained executables: libgcc, libstdc++ and libwinpthread go inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

get_filename_component(_lumora_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(DEFINED ENV{LUMORA_WIN32_PREFIX})
    set(LUMORA_WIN32_PREFIX "$ENV{LUMORA_WIN32_PREFIX}")
else()
    set(LUMORA_WIN32_PREFIX "${_lumora_root}/.cache/win32")
endif()

# Headers and libraries come only from the mingw sysroot and our prefix,
# never from the Linux host; programs (code generators, tools) from the host.
set(CMAKE_FIND_ROOT_PATH "/usr/${_lumora_triple}" "${LUMORA_WIN32_PREFIX}")
list(APPEND CMAKE_PREFIX_PATH "${LUMORA_WIN32_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR "${_lumora_root}/scripts/wine-run.sh")
