#!/usr/bin/env bash
# Sets up Wine so the Windows build's tests can run on this Linux machine.
#
# Lumora's Windows build is tested by running its .exe files under Wine of
# the same width (scripts/wine-run.sh, which CMake uses as the cross-
# compiling emulator): 32-bit Wine where this machine runs 32-bit programs,
# 64-bit Wine where it runs only 64-bit ones (scripts/deps.sh decides). The
# program targets Chinese Windows, whose ANSI code page is 936 (GBK), so
# Wine is always started under the zh_CN.UTF-8 locale: Wine derives
# GetACP() from the Unix locale of each process.
#
# This script is idempotent and non-interactive. It installs Wine when it is
# missing: wine32:i386 (adding the i386 architecture) for 32-bit; wine64
# alone for 64-bit, since where the kernel runs no i386 program the i386
# architecture and wine32 would install but never start; generates the
# zh_CN.UTF-8 locale, creates a prefix of the width in .cache/wine32 or
# .cache/wine64 (no display, no Mono/Gecko prompts), and finally proves the
# setup by compiling and running a tiny program that must report code page
# 936.
# Usage: scripts/wine-env.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/deps.sh"
width=$LUMORA_WINDOWS_WIDTH
prefix_dir="${LUMORA_WINEPREFIX:-$root/.cache/wine$width}"
wine=$(lumora_wine_loader "$width")

log() { printf '[wine-env] %s\n' "$*" >&2; }

if [[ "$width" == 32 ]]; then
    # 32-bit Wine needs the i386 architecture for wine32 and its libraries.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        log "adding the i386 architecture"
        dpkg --add-architecture i386
    fi
    lumora_install wine wine32:i386 locales
else
    lumora_install wine wine64 locales
fi

# Wine takes its code page from the Unix locale; zh_CN.UTF-8 gives 936.
# The line in locale.gen keeps the locale if locale-gen runs again later.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
    log "generating the zh_CN.UTF-8 locale"
    sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

export WINEPREFIX="$prefix_dir" WINEARCH="win$width" WINELOADER="$wine" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8

if [[ -f "$WINEPREFIX/system.reg" ]] && ! grep -q "^#arch=$WINEARCH" "$WINEPREFIX/system.reg"; then
    log "$WINEPREFIX is not a $width-bit prefix; recreating it"
    timeout 60 wineserver -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
fi
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    log "creating the Wine prefix $WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    # Every wait is bounded: wineboot must not sit on a missing display.
    timeout 300 "$wine" wineboot -i </dev/null >/dev/null 2>&1 \
        || { log "wineboot failed or timed out"; exit 1; }
    timeout 120 wineserver -w </dev/null >/dev/null 2>&1 || true
    [[ -f "$WINEPREFIX/system.reg" ]] || { log "wineboot left no prefix in $WINEPREFIX"; exit 1; }
fi

# Proof: a Windows program must see code page 936 through the run wrapper.
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
cat > "$probe_dir/acp.c" <<'EOF'
#include <windows.h>
#include <stdio.h>
int main(void) {
    printf("%u\n", GetACP());
    return GetACP() == 936 ? 0 : 1;
}
EOF
cc="$(lumora_windows_triple "$width")-gcc-posix"
if command -v "$cc" >/dev/null; then
    "$cc" -static "$probe_dir/acp.c" -o "$probe_dir/acp.exe"
    # Text-mode stdout of a Windows program ends lines with CR LF.
    acp=$("$root/scripts/wine-run.sh" "$probe_dir/acp.exe" | tr -d '\r') || true
    if [[ "$acp" != 936 ]]; then
        log "code page probe failed (GetACP() = ${acp:-?}, want 936)"
        exit 1
    fi
    log "$width-bit Wine ready: $WINEPREFIX (GetACP() = $acp)"
else
    log "Wine ready: $WINEPREFIX (probe skipped: run scripts/windows-deps.sh for the compiler)"
fi
