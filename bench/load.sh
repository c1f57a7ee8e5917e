#!/usr/bin/env bash
# Times loading a generated package of 5,000 items against iconv converting
# the same file from UTF-16 to GBK, measured in this same run, and reports the
# loader's peak memory against the file size.
#   bench/load.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
package=$work/package.csv

"$build/bench/load_bench" generate "$package" 5000
bytes=$(stat -c %s "$package")

best_of_three() {  # prints the fastest of three runs of the command, in seconds
    local best=
    for _ in 1 2 3; do
        local t0 t1
        t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N)
        best=$(awk -v a="$best" -v b="$(echo "$t1 - $t0" | bc)" 'BEGIN{print (a == "" || b < a) ? b : a}')
    done
    echo "$best"
}
iconv_seconds=$(best_of_three iconv -f UTF-16 -t GBK "$package")

load_seconds= peak_kib=
for _ in 1 2 3; do
    read -r _ _ _ items _ links _ seconds _ peak < <("$build/bench/load_bench" load "$package")
    if [ -z "$load_seconds" ] || awk -v a="$seconds" -v b="$load_seconds" 'BEGIN{exit !(a < b)}'; then
        load_seconds=$seconds
    fi
    peak_kib=$peak
done

awk -v bytes="$bytes" -v items="$items" -v links="$links" -v load="$load_seconds" -v conv="$iconv_seconds" -v peak="$peak_kib" 'BEGIN {
    mb = bytes / 1e6
    printf "package          %.1f MB, %d items, %d links\n", mb, items, links
    printf "load             %.3f s  (%.1f MB/s)\n", load, mb / load
    printf "iconv baseline   %.3f s  (iconv -f UTF-16 -t GBK, same file)\n", conv
    printf "load / iconv     %.2f  (target at most 3)\n", load / conv
    printf "peak memory      %.1f MB = %.2f x file size  (target at most 3)\n", peak * 1024 / 1e6, peak * 1024 / bytes
}'
