#!/usr/bin/env bash
# Builds Lumora and runs every test: natively, again under AddressSanitizer
# and UndefinedBehaviorSanitizer (with the fuzz targets' corpus replayed;
# scripts/fuzz.sh fuzzes for real), the tests that start threads under
# ThreadSanitizer, as Windows programs under Wine, the window tests, which
# drive the real Lumora.exe under Wine on Xvfb (at 96 dpi, then again at
# 144), and the release packages, installed, run and uninstalled under
# Wine. The Windows stages run 32-bit
# code where this machine runs 32-bit programs and 64-bit code where it does
# not (scripts/deps.sh; LUMORA_WINDOWS_WIDTH=32 or 64 chooses); their names
# and the closing line say which.
# Installs what is missing first (Debian 12), and prints each stage's time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"

jobs=$(nproc)
failed_stages=()
stage() {  # NAME COMMAND...: runs one stage, reports its time, and notes a failure
    local name=$1 start=$SECONDS
    shift
    echo "== $name"
    "$@" || failed_stages+=("$name")
    echo "== $name: $((SECONDS - start)) s"
}
suite() {  # NAME CMAKE_ARGS... [-- CTEST_ARGS...]: configures, builds and tests one build folder
    local dir=$root/build/$1 cmake_args=() ctest_args=() targets=()
    shift
    while (($#)) && [[ $1 != -- ]]; do cmake_args+=("$1"); shift; done
    (($#)) && shift && ctest_args=("$@")
    rm -rf "$dir/cases" "$dir/ctest-output.txt"  # no stale count where this run fails to build
    cmake -S "$root" -B "$dir" -G Ninja -DLUMORA_BENCH=OFF "${cmake_args[@]}" >/dev/null || return 1
    # with a test selection, only the selected tests' programs are built
    if ((${#ctest_args[@]})); then
        mapfile -t targets < <(ctest --test-dir "$dir" -N "${ctest_args[@]}" | sed -n 's/^ *Test *#[0-9]*: //p')
    fi
    ninja -C "$dir" -j "$jobs" "${targets[@]}" || return 1
    local drive=  # a Windows program under Wine finds / as drive Z:
    if grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw' "$dir/CMakeCache.txt"; then drive=Z:; fi
    GTEST_OUTPUT="xml:$drive$dir/cases/" ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_args[@]}" |
        tee "$dir/ctest-output.txt"
}
# "PASSED FAILED SKIPPED" of one build folder: the cases in the GoogleTest
# reports, and a program that wrote none (a crash, a corpus replay) as one.
count_suite() {
    local dir=$1 name result
    [[ -e "$dir/ctest-output.txt" ]] || return 0
    for report in "$dir"/cases/*.xml; do
        [[ -e "$report" ]] || continue
        sed -n 's/^ *<testsuite .* tests="\([0-9]*\)" failures="\([0-9]*\)" disabled="\([0-9]*\)" skipped="\([0-9]*\)".*/\1 \2 \3 \4/p' "$report" |
            awk '{ print $1 - $2 - $3 - $4, $2, $3 + $4 }'
    done
    sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) \.*[ *]*\([A-Za-z]*\).*/\1 \2/p' "$dir/ctest-output.txt" |
        while read -r name result; do
            if [[ -e "$dir/cases/$name.xml" ]]; then continue; fi
            if [[ $result == Passed ]]; then echo "1 0 0"; else echo "0 1 0"; fi
        done
}
# The same from a GoogleTest program's printed summary.
count_printed() {
    sed -n -e 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1 0 0/p' -e 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\},.*/0 \1 0/p' \
        -e 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\},.*/0 0 \1/p' "$1"
}

rm -f "$root"/build/{gui,gui-144dpi,release-gui}-output.txt
stage "set-up" lumora_install "${LUMORA_NATIVE_PACKAGES[@]}"
stage "native" suite native -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    stage "sanitizers" suite sanitize -DCMAKE_BUILD_TYPE=Debug -DLUMORA_SANITIZE=ON -DLUMORA_FUZZ_REPLAY=ON
TSAN_OPTIONS=halt_on_error=1 stage "threads" suite tsan -DCMAKE_BUILD_TYPE=Debug -DLUMORA_TSAN=ON -- -L threads
width=$LUMORA_WINDOWS_WIDTH
stage "windows set-up, $width-bit" bash -c "'$root/scripts/windows-deps.sh' && '$root/scripts/wine-env.sh'"
stage "windows under $width-bit wine" suite "win$width" "${LUMORA_WINDOWS_TEST_ARGS[@]}"
stage "window under $width-bit wine and xvfb" bash -c "set -o pipefail; '$root/scripts/gui-test.sh' | tee '$root/build/gui-output.txt'"
stage "window at 144 dpi under $width-bit wine and xvfb" \
    bash -c "set -o pipefail; '$root/scripts/gui-test.sh' --dpi 144 | tee '$root/build/gui-144dpi-output.txt'"
stage "release packages under $width-bit wine" "$root/scripts/release-test.sh"

# One closing count of test cases over every stage.
{
    for dir in native sanitize tsan "win$width"; do count_suite "$root/build/$dir"; done
    for output in gui-output.txt gui-144dpi-output.txt release-gui-output.txt; do
        if [[ -e "$root/build/$output" ]]; then count_printed "$root/build/$output"; fi
    done
} | awk -v width="$width" '{ p += $1; f += $2; s += $3 }
    END { printf "win%d: %d passed, %d failed, %d skipped\n", width, p, f, s }'
if ((${#failed_stages[@]})); then
    echo "failed: ${failed_stages[*]}"
    exit 1
fi
