#!/usr/bin/env bash
# Fuzzes one target for real with AFL++ (Debian's afl++, with GCC):
# builds the fuzz targets with afl-g++, AddressSanitizer and
# UndefinedBehaviorSanitizer into build/fuzz (each program runs the entry
# point once on the file that afl-fuzz names), runs afl-fuzz from the committed corpus for the given time, prints the
# executions and findings, and copies every crash into the corpus, where the
# replay tests keep it as a regression case. Not part of CI.
#   scripts/fuzz.sh TARGET [SECONDS]
#   TARGET: fuzz_url fuzz_header fuzz_links fuzz_package fuzz_body
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
lumora_install "${LUMORA_NATIVE_PACKAGES[@]}" afl++

target=${1:?usage: scripts/fuzz.sh TARGET [SECONDS]}
seconds=${2:-600}
build=$root/build/fuzz
corpus=$root/tests/fuzz/corpus/$target
findings=$build/findings/$target
[ -d "$corpus" ] || { echo "no corpus for $target" >&2; exit 2; }

# afl-g++ rather than afl-g++-fast: Debian 12's GCC plugin refuses the GCC it
# ships with ("incompatible versions, expected GCC 12.2.0, is 12.2.0")
CC=afl-gcc CXX=afl-g++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMORA_BENCH=OFF -DLUMORA_SANITIZE=${LUMORA_FUZZ_SANITIZE:-ON} -DLUMORA_FUZZ_REPLAY=ON >/dev/null
ninja -C "$build" "$target" >/dev/null

# the body target's exchanges may wait for their (shortened) time-outs
timeout_ms=1000
[ "$target" = fuzz_body ] && timeout_ms=5000
rm -rf "$findings"
mkdir -p "$findings"
export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1 AFL_NO_AFFINITY=1
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1
afl-fuzz -i "$corpus" -o "$findings" -m none -t "$timeout_ms" -V "$seconds" -- "$build/tests/fuzz/$target" @@ \
    >"$findings/afl.log" 2>&1 || { tail -20 "$findings/afl.log" >&2; exit 1; }

stats=$findings/default/fuzzer_stats
crashes=0
for crash in "$findings"/default/crashes/id:*; do
    [ -e "$crash" ] || continue
    crashes=$((crashes + 1))
    cp "$crash" "$corpus/crash-$(sha1sum "$crash" | cut -c1-12)"
done
awk -F' *: ' -v t="$target" -v c="$crashes" '
    $1 == "execs_done" { e = $2 } $1 == "run_time" { r = $2 } $1 == "corpus_count" { q = $2 }
    $1 == "saved_hangs" { h = $2 }
    END { printf "%s: %s executions in %s s, %s inputs in the queue, %d crashes (copied into the corpus), %s hangs\n", t, e, r, q, c, h }' "$stats"
