#!/usr/bin/env bash
# Installs the Debian packages the native build, tests and benchmarks need,
# asking apt only when one is missing, and the Windows test build's settings.
# Sourced by the other scripts.
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

LUMORA_NATIVE_PACKAGES=(g++ cmake ninja-build libpcre3-dev libssl-dev openssl googletest libc-bin bc)

# The fetcher benchmark's local image server and its baseline clients (wget
# one link after another, aria2c several at once).
LUMORA_BENCH_PACKAGES=(nginx wget aria2)

# The Windows test build, shared by scripts/test.sh and scripts/gui-test.sh:
# its Lumora.exe asks for updates on a loopback port that the window tests
# serve (a release keeps the product site's reserved default).
LUMORA_GUI_UPDATE_PORT=47831
LUMORA_WIN32_TEST_ARGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/cmake/toolchain-mingw-i686.cmake"
    "-DLUMORA_UPDATE_SERVICE=http://127.0.0.1:$LUMORA_GUI_UPDATE_PORT/check")
