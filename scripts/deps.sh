#!/usr/bin/env bash
# Installs the Debian packages the native build, tests and benchmarks need,
# asking apt only when one is missing; the width of Windows code this
# machine runs, and the Windows build's settings for a width. Sourced by the
# other scripts.
lumora_install() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "installing: ${missing[*]}"
    $sudo apt-get update -qq </dev/null
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}

LUMORA_NATIVE_PACKAGES=(g++ cmake ninja-build libssl-dev openssl googletest libc-bin bc)

# The fetcher benchmark's local image server and its baseline clients (wget
# one link after another, aria2c several at once).
LUMORA_BENCH_PACKAGES=(nginx wget aria2)

# The width of the Windows code that runs on this machine, found once and
# handed to every script and program started from here: 32 where the kernel
# runs 32-bit x86 programs, 64 where it runs only 64-bit ones ("IA-32
# emulation off", as on many cloud hosts), where neither 32-bit Wine nor any
# i386 program starts. LUMORA_WINDOWS_WIDTH=32 or 64 chooses instead.
lumora_runs_i386() {
    mkdir -p "$LUMORA_ROOT/.cache"
    local probe status=0
    probe=$(mktemp "$LUMORA_ROOT/.cache/i386-probe.XXXXXX") || return 1
    # the smallest i386 Linux program: its ELF and program headers, then
    # mov eax, 1; xor ebx, ebx; int 0x80 (exit with status 0)
    printf "$(sed 's/../\\x&/g' <<<'7f454c46010101000000000000000000020003000100000054800408340000000000000000000000340020000100000000000000010000000000000000800408008004085d0000005d0000000500000000100000b80100000031dbcd80')" >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    return "$status"
}

LUMORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [[ -z "${LUMORA_WINDOWS_WIDTH:-}" ]]; then
    LUMORA_WINDOWS_WIDTH=64
    if lumora_runs_i386; then LUMORA_WINDOWS_WIDTH=32; fi
fi
if [[ "$LUMORA_WINDOWS_WIDTH" != 32 && "$LUMORA_WINDOWS_WIDTH" != 64 ]]; then
    echo "LUMORA_WINDOWS_WIDTH is 32 or 64, not $LUMORA_WINDOWS_WIDTH" >&2
    exit 1
fi
export LUMORA_WINDOWS_WIDTH

# The mingw-w64 target of a width (32 or 64), and its CMake toolchain file.
lumora_windows_triple() {
    if [[ "$1" == 64 ]]; then echo x86_64-w64-mingw32; else echo i686-w64-mingw32; fi
}
lumora_windows_toolchain() {
    echo "$LUMORA_ROOT/cmake/toolchain-mingw-$(lumora_windows_triple "$1" | cut -d- -f1).cmake"
}
# Wine's loader of a width: 32-bit Wine runs the 32-bit build, 64-bit Wine
# (Debian's wine64) the 64-bit one.
lumora_wine_loader() {
    if [[ "$1" == 64 ]]; then echo /usr/lib/wine/wine64; else echo /usr/lib/wine/wine; fi
}

# The Windows test build, shared by scripts/test.sh and scripts/gui-test.sh:
# its Lumora.exe asks for updates on a loopback port that the window tests
# serve (a release keeps the product site's reserved default).
LUMORA_GUI_UPDATE_PORT=47831
LUMORA_WINDOWS_TEST_ARGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
    -DCMAKE_TOOLCHAIN_FILE="$(lumora_windows_toolchain "$LUMORA_WINDOWS_WIDTH")"
    "-DLUMORA_UPDATE_SERVICE=http://127.0.0.1:$LUMORA_GUI_UPDATE_PORT/check")
