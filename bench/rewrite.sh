#!/usr/bin/env bash
# Times the link rewrite of a 100 MB package against converting the same
# text for the write-back, in one run: with every link moved, and with 1 %
# failed and the blank image asked for.
#   bench/rewrite.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"${1:-$root/build/native}/bench/rewrite_bench"
