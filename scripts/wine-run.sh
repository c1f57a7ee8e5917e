#!/usr/bin/env bash
# Runs one Windows program under Wine: scripts/wine-run.sh PROGRAM [ARGS...]
#
# This is the CMAKE_CROSSCOMPILING_EMULATOR of the Windows build, so CTest,
# gtest_discover_tests and try_run start every .exe through it; the build's
# toolchain passes its width in LUMORA_WINDOWS_WIDTH (32 or 64; elsewhere
# scripts/deps.sh finds the one this machine runs). It uses Wine of that
# width and the prefix scripts/wine-env.sh makes for it (created on first
# use if missing), finds libiconv-2.dll of the width on its path, runs
# under zh_CN.UTF-8 so the program sees ANSI code page 936, and passes the
# program's exit code, standard output and standard error straight through.
#
# It never waits forever: the program is killed after LUMORA_WINE_TIMEOUT
# seconds (default 600; exit code 124 then).  With standard input closed, as
# in CI, the program reads from /dev/null instead.  Before the first program
# a wineserver is started with its output detached, together with Wine's
# background services: started by the program itself they would inherit its
# stdout and keep CTest's pipe open for seconds after the program ended.
# The server stays up LUMORA_WINE_PERSIST seconds (default 30) after the
# last program, so a test run pays Wine's start-up cost once.  Wine's own
# diagnostics are off (WINEDEBUG=-all) unless WINEDEBUG is already set.
set -u

if [ $# -lt 1 ]; then
    echo "usage: $0 PROGRAM [ARGS...]" >&2
    exit 2
fi

here=$(cd -- "$(dirname -- "$0")" && pwd)
root=$(dirname -- "$here")
. "$here/deps.sh"
width=$LUMORA_WINDOWS_WIDTH
WINEPREFIX=${LUMORA_WINEPREFIX:-$root/.cache/wine$width}
WINEARCH=win$width
WINELOADER=$(lumora_wine_loader "$width")
WINEDEBUG=${WINEDEBUG:--all}
WINEDLLOVERRIDES="mscoree,mshtml="
LANG=zh_CN.UTF-8
LC_ALL=zh_CN.UTF-8
dll_dir=$root/.cache/win$width/bin
WINEPATH=${WINEPATH-Z:${dll_dir//\//\\}}
export WINEPREFIX WINEARCH WINELOADER WINEDEBUG WINEDLLOVERRIDES LANG LC_ALL WINEPATH
unset LANGUAGE

# A closed standard input would let Wine hand one of its own files to the
# program as stdin.
if ! { true 9<&0; } 2>/dev/null; then
    exec </dev/null
fi

# Creates the prefix if needed and starts the server; callers hold the lock.
prepare() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        LUMORA_WINE_LOCKED=1 "$here/wine-env.sh" </dev/null >&2 9>&- || return 1
    fi
    # Exit status 0 means this call started the server; otherwise one runs.
    if wineserver "-p${LUMORA_WINE_PERSIST:-30}" </dev/null >/dev/null 2>&1 9>&-; then
        timeout 120 "$WINELOADER" wineboot </dev/null >/dev/null 2>&1 9>&-
    fi
    return 0
}

if [ -n "${LUMORA_WINE_LOCKED:-}" ]; then
    prepare || exit 125
else
    mkdir -p "$(dirname -- "$WINEPREFIX")"
    lock="$WINEPREFIX.lock"
    (
        flock -w 600 9 || { echo "wine-run: cannot lock $lock" >&2; exit 1; }
        prepare
    ) 9>"$lock" || exit 125
fi

exec timeout -k 10 "${LUMORA_WINE_TIMEOUT:-600}" "$WINELOADER" "$@"
