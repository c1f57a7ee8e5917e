#!/usr/bin/env bash
# Times the link rewrite of a 100 MB package against converting the same
# text for the write-back, in one run: with every link moved, and with 1 %
# failed and the blank image asked for. Then writes that package as a file
# and reports the peak memory of a job that moves all its links (load,
# backup, rewrite, write-back) against the file size.
#   bench/rewrite.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench=${1:-$root/build/native}/bench/rewrite_bench
"$bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" write "$work/package.csv"
bytes=$(stat -c %s "$work/package.csv")
read -r _ links _ changed _ peak < <("$bench" move "$work/package.csv")
awk -v bytes="$bytes" -v links="$links" -v peak="$peak" 'BEGIN {
    printf "job memory       %.1f MB for a %.1f MB package, %d links moved = %.2f x file size  (target at most 1.6)\n",
           peak * 1024 / 1e6, bytes / 1e6, links, peak * 1024 / bytes
}'
