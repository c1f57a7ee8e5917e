# The part of Lumora's Windows toolchains that does not depend on the width,
# included by toolchain-mingw-i686.cmake (32-bit) and
# toolchain-mingw-x86_64.cmake (64-bit) once they have set _lumora_triple
# and _lumora_width.
#
# Uses Debian's mingw-w64 compilers in their posix-threads flavour (the one
# with std::thread, std::mutex and std::condition_variable), links the C and
# C++ run-times and winpthreads statically so every .exe runs on its own
# with only system DLLs, and looks for third-party libraries in the prefix
# that scripts/windows-deps.sh fills for the width (.cache/win32 or
# .cache/win64: GNU libiconv). Test programs run under Wine of the same
# width through scripts/wine-run.sh, which CTest, gtest_discover_tests and
# try_run pick up as the cross-compiling emulator.
#
#   scripts/windows-deps.sh 64 && LUMORA_WINDOWS_WIDTH=64 scripts/wine-env.sh
#   cmake -S . -B build/win64 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
#   cmake --build build/win64 && ctest --test-dir build/win64

set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${_lumora_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_lumora_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_lumora_triple}-windres)

# Self-contained executables: libgcc, libstdc++ and libwinpthread go inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

get_filename_component(_lumora_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(_lumora_prefix "${_lumora_root}/.cache/win${_lumora_width}")

# Headers and libraries come only from the mingw sysroot and our prefix,
# never from the Linux host; programs (code generators, tools) from the host.
set(CMAKE_FIND_ROOT_PATH "/usr/${_lumora_triple}" "${_lumora_prefix}")
list(APPEND CMAKE_PREFIX_PATH "${_lumora_prefix}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The width goes to the emulator, whatever the environment of the run says.
set(CMAKE_CROSSCOMPILING_EMULATOR env LUMORA_WINDOWS_WIDTH=${_lumora_width} "${_lumora_root}/scripts/wine-run.sh")
