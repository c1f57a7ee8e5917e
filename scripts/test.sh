#!/usr/bin/env bash
# Builds Lumora and runs every test: the native build, then the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer. Installs what is
# missing first (Debian 12).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
lumora_install "${LUMORA_NATIVE_PACKAGES[@]}"

jobs=$(nproc)
run_suite() {  # NAME CMAKE_ARGS...: configure, build and test one build folder
    local name=$1; shift
    local dir=$root/build/$name
    echo "== $name: build"
    cmake -S "$root" -B "$dir" -G Ninja -DLUMORA_BENCH=OFF "$@" >/dev/null
    ninja -C "$dir" -j "$jobs"
    echo "== $name: tests"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite native -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite sanitize -DCMAKE_BUILD_TYPE=Debug -DLUMORA_SANITIZE=ON
