#!/usr/bin/env bash
# Builds an optimised Lumora and runs every benchmark under bench/, each of
# which prints its figures against a baseline measured in the same run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
lumora_install "${LUMORA_NATIVE_PACKAGES[@]}"

dir=$root/build/release
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMORA_TESTS=OFF >/dev/null
ninja -C "$dir"
for bench in "$root"/bench/*.sh; do
    echo "== $(basename "$bench" .sh)"
    "$bench" "$dir"
done
