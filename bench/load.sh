#!/usr/bin/env bash
# Times loading a generated package of 5,000 items and 100,000 links, and
# the whole `lumora-move --quiet` run over it with every link on a skipped
# host (start, load, backup, the walk over the links, exit), against iconv
# converting the same file from UTF-16 to GBK; and reports the peak memory
# of both against the file size. The three run in turn, RUNS times, and the
# medians are compared, so that a machine busy with other work slows all
# three alike; the processor time of the whole run and of iconv is compared
# as well, which such a machine blurs less.
#   bench/load.sh [BUILD_DIR]   (default build/native)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
RUNS=${RUNS:-5}
. "$root/scripts/deps.sh"
lumora_install time  # /usr/bin/time, for the peak memory of a whole run
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
package=$work/package.csv
mkdir "$work/bin" "$work/images"
cp "$build/console/lumora-move" "$work/bin/"  # its backups go beside it, into this folder

"$build/bench/load_bench" generate "$package" 5000
bytes=$(stat -c %s "$package")

timed() {  # FILE COMMAND...: appends "seconds peak_kib cpu_seconds" of the command to FILE
    /usr/bin/time -f "%e %M %U %S" -o "$1.last" "${@:2}" >/dev/null
    awk '{ print $1, $2, $3 + $4 }' "$1.last" >>"$1"
}
for _ in $(seq "$RUNS"); do
    timed "$work/iconv" iconv -f UTF-16 -t GBK "$package"
    "$build/bench/load_bench" load "$package" | awk '{ print $8, $10 }' >>"$work/load"
    rm -rf "$work/bin/bak"
    timed "$work/move" "$work/bin/lumora-move" --quiet --no-image-space "$package" "$work/images"
done

median() {  # FILE COLUMN
    sort -n -k"$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print v[int((NR + 1) / 2)] }'
}
awk -v bytes="$bytes" -v runs="$RUNS" -v load="$(median "$work/load" 1)" -v loadPeak="$(median "$work/load" 2)" \
    -v move="$(median "$work/move" 1)" -v movePeak="$(median "$work/move" 2)" -v conv="$(median "$work/iconv" 1)" \
    -v moveCpu="$(median "$work/move" 3)" -v convCpu="$(median "$work/iconv" 3)" \
    -v items="$("$build/bench/load_bench" load "$package" | awk '{ print $4, $6 }')" -v uptime="$(uptime)" 'BEGIN {
    mb = bytes / 1e6
    split(items, n, " ")
    printf "package          %.1f MB, %d items, %d links; medians of %d runs in turn\n", mb, n[1], n[2], runs
    printf "iconv baseline   %.3f s  (iconv -f UTF-16 -t GBK, same file)\n", conv
    printf "load             %.3f s  (%.1f MB/s)  load / iconv %.2f\n", load, mb / load, load / conv
    printf "lumora-move      %.3f s  (--quiet, every link skipped)  run / iconv %.2f  (target at most 3)\n", move, move / conv
    printf "processor time   run %.2f s, iconv %.2f s  run / iconv %.2f\n", moveCpu, convCpu, moveCpu / convCpu
    printf "peak memory      load %.1f MB = %.2f x file size (target at most 1.3), whole run %.1f MB = %.2f x\n",
           loadPeak * 1024 / 1e6, loadPeak * 1024 / bytes, movePeak * 1024 / 1e6, movePeak * 1024 / bytes
    printf "machine          %s\n", uptime
}'
