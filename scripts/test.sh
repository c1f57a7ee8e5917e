#!/usr/bin/env bash
# Builds Lumora and runs every test: natively, again under AddressSanitizer
# and UndefinedBehaviorSanitizer (with the fuzz targets' corpus replayed;
# scripts/fuzz.sh fuzzes for real), the tests that start threads under
# ThreadSanitizer, as 32-bit Windows programs under Wine, the window tests,
# which drive the real Lumora.exe under Wine on Xvfb, and the release
# packages, installed, run and uninstalled under Wine.
# Installs what is missing first (Debian 12), and prints each stage's time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"

jobs=$(nproc)
stage() {  # NAME COMMAND...: runs one stage and reports how long it took
    local name=$1 start=$SECONDS
    shift
    echo "== $name"
    "$@"
    echo "== $name: $((SECONDS - start)) s"
}
suite() {  # NAME CMAKE_ARGS... [-- CTEST_ARGS...]: configures, builds and tests one build folder
    local dir=$root/build/$1 cmake_args=() ctest_args=()
    shift
    while (($#)) && [[ $1 != -- ]]; do cmake_args+=("$1"); shift; done
    (($#)) && shift && ctest_args=("$@")
    cmake -S "$root" -B "$dir" -G Ninja -DLUMORA_BENCH=OFF "${cmake_args[@]}" >/dev/null
    ninja -C "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_args[@]}" | tee "$dir/ctest-output.txt"
}

stage "set-up" lumora_install "${LUMORA_NATIVE_PACKAGES[@]}"
stage "native" suite native -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    stage "sanitizers" suite sanitize -DCMAKE_BUILD_TYPE=Debug -DLUMORA_SANITIZE=ON -DLUMORA_FUZZ_REPLAY=ON
TSAN_OPTIONS=halt_on_error=1 stage "threads" suite tsan -DCMAKE_BUILD_TYPE=Debug -DLUMORA_TSAN=ON -- -L threads
stage "windows set-up" bash -c "'$root/scripts/windows-deps.sh' && '$root/scripts/wine-env.sh'"
stage "windows under wine" suite win32 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake"
stage "window under wine and xvfb" bash -c "set -o pipefail; '$root/scripts/gui-test.sh' | tee '$root/build/gui-output.txt'"
stage "release packages under wine" "$root/scripts/release-test.sh"

# One closing count over every stage (a failure has stopped the script).
passed=$( (cat "$root"/build/{native,sanitize,tsan,win32}/ctest-output.txt |
    sed -n 's/.*tests failed out of \([0-9]*\)$/\1/p'
    sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\.$/\1/p' "$root/build/gui-output.txt") | awk '{ n += $1 } END { print n + 0 }')
echo "$passed passed, 0 failed"
