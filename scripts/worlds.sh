#!/usr/bin/env bash
# Moves many random worlds of image hosts (tests/world_move_test.cpp) with
# lumora-move: each at 1, 16 and 64 connections, stopped and resumed, and
# moved twice; prints the worlds that differ or broke a rule. Builds the
# given flavour into build/worlds-FLAVOUR first. Not part of CI, which runs
# a few dozen worlds in every test stage.
#   scripts/worlds.sh [COUNT [FIRST_SEED [FLAVOUR]]]
#   FLAVOUR: native (default), sanitize (AddressSanitizer and UBSan) or tsan
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
lumora_install "${LUMORA_NATIVE_PACKAGES[@]}"

count=${1:-5000}
first=${2:-1}
flavour=${3:-native}
build=$root/build/worlds-$flavour
case $flavour in
native) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
sanitize) flags=(-DCMAKE_BUILD_TYPE=Debug -DLUMORA_SANITIZE=ON) ;;
tsan) flags=(-DCMAKE_BUILD_TYPE=Debug -DLUMORA_TSAN=ON) ;;
*) echo "flavour: native, sanitize or tsan" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$build" -G Ninja -DLUMORA_BENCH=OFF "${flags[@]}" >/dev/null
ninja -C "$build" world_move_test lumora-move >/dev/null
start=$SECONDS
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 TSAN_OPTIONS=halt_on_error=1 \
    LUMORA_WORLDS=$count LUMORA_WORLD_SEED=$first "$build/tests/world_move_test"
echo "worlds $first to $((first + count - 1)): $((SECONDS - start)) s"
