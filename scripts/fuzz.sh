#!/usr/bin/env bash
# Fuzzes one target for real with libFuzzer (Debian's clang), in-process, so
# each input costs a call rather than a process: copies the sources into
# build/fuzz/src with their narrow literals in GBK (clang has no execution
# character set but UTF-8, and the program's texts must stay GBK bytes), builds the target
# there with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer into
# build/fuzz, and runs it at the lowest priority for the given time (or until
# it has made the given number of executions), from
# the committed corpus plus what earlier runs found (build/fuzz/queue). It
# prints the executions, their rate and the findings, copies a finding (a
# crash, a leak, an input that times out) into the corpus, where the replay
# tests keep it as a regression case, and merges into the corpus the inputs
# that reach code it did not. libFuzzer stops at its first finding.
# LUMORA_FUZZ_SANITIZE=OFF builds without the sanitizers, two to three times
# faster; the sanitizer stage of scripts/test.sh replays the corpus under them.
# Not part of CI.
#   scripts/fuzz.sh TARGET [SECONDS [EXECUTIONS]]
#   TARGET: fuzz_url fuzz_header fuzz_links fuzz_package fuzz_body
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
lumora_install "${LUMORA_NATIVE_PACKAGES[@]}" clang libclang-rt-dev

target=${1:?usage: scripts/fuzz.sh TARGET [SECONDS [EXECUTIONS]]}
seconds=${2:-600}
executions=${3:--1}
sanitize=${LUMORA_FUZZ_SANITIZE:-ON}
build=$root/build/fuzz
out=$build/out-sanitize-$sanitize
corpus=$root/tests/fuzz/corpus/$target
queue=$build/queue/$target
findings=$build/findings/$target
[ -d "$corpus" ] || { echo "no corpus for $target" >&2; exit 2; }

# the GBK copy; a file is rewritten only when it changed, so rebuilds stay small
copy_sources() {
    local file converted=$build/converted
    mkdir -p "$build/src"
    (cd "$root" && git ls-files -co --exclude-standard -z) | while IFS= read -r -d '' file; do
        [ -f "$root/$file" ] || continue
        mkdir -p "$build/src/$(dirname "$file")"
        case $file in
            *.cpp | *.h) "$root/scripts/gbk-literals.pl" <"$root/$file" >"$converted" ;;
            *) cp "$root/$file" "$converted" ;;
        esac
        cmp -s "$converted" "$build/src/$file" || mv "$converted" "$build/src/$file"
    done
}
copy_sources
CC=clang CXX=clang++ cmake -S "$build/src" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMORA_BENCH=OFF -DLUMORA_SANITIZE=$sanitize -DLUMORA_LIBFUZZER=ON >/dev/null
nice -n 10 ninja -C "$out" -j2 "$target" >"$build/ninja.log" || { tail -30 "$build/ninja.log" >&2; exit 1; }

# the body target's inputs reach past the header's and the chunk lines' limits (16 and 8 KB)
max_len=()
[ "$target" = fuzz_body ] && max_len=(-max_len=20000)
rm -rf "$findings"
mkdir -p "$findings" "$queue"
# the package target writes each input to a file: in memory, not on the disk
[ -d /dev/shm ] && export TMPDIR=/dev/shm
export ASAN_OPTIONS=symbolize=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
started=$SECONDS
nice -n 19 "$out/tests/fuzz/$target" "$queue" "$corpus" -max_total_time="$seconds" -runs="$executions" -timeout=10 "${max_len[@]}" \
    -print_final_stats=1 -artifact_prefix="$findings/" >"$findings/fuzz.log" 2>&1 || status=$?
seconds=$((SECONDS - started))

found=0
for finding in "$findings"/*-*; do
    [ -f "$finding" ] || continue
    found=$((found + 1))
    echo "finding: $(basename "$finding") (copied into the corpus)"
    cp "$finding" "$corpus/$(basename "$finding" | cut -c1-20)"
done
if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then tail -30 "$findings/fuzz.log" >&2; exit 1; fi
[ "$found" -gt 0 ] && grep -m1 -A12 'ERROR\|==.*deadly\|timeout' "$findings/fuzz.log" >&2
before=$(ls "$corpus" | wc -l)
"$out/tests/fuzz/$target" -merge=1 "$corpus" "$queue" >"$findings/merge.log" 2>&1 || true
awk -F':[ \t]+' -v t="$target" -v f="$found" -v s="$seconds" -v added=$(($(ls "$corpus" | wc -l) - before)) '
    $1 == "stat::number_of_executed_units" { e = $2 } $1 == "stat::average_exec_per_sec" { r = $2 }
    END { printf "%s: %s executions in %s s (%s a second), %d findings, %d inputs merged into the corpus\n", t, e, s, r, f, added }' \
    "$findings/fuzz.log"
[ "$found" -eq 0 ]
