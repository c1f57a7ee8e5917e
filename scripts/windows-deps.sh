#!/usr/bin/env bash
# Prepares everything the Windows build of Lumora of one width links against.
#
# Lumora ships as self-contained Windows programs, 32-bit (i686) and 64-bit
# (x86-64), cross-compiled on Debian with mingw-w64 (cmake/toolchain-mingw-
# *.cmake). GNU libiconv has no Windows build in Debian, so this script
# builds it from source into a prefix inside the work tree, one per width:
#
#   .cache/win32/include/iconv.h   .cache/win32/lib/libiconv.dll.a
#                                  .cache/win32/bin/libiconv-2.dll
#   .cache/win32/licenses/         the licence texts the release ships
#   .cache/win32/source/           the libiconv source the DLL is built from
#
# and .cache/win64 likewise. libiconv comes from the sources bundled in the
# npm package "iconv", which carries libiconv's lib/ folder plus a ready
# configuration under support/; the library is iconv.c and localcharset.c,
# nothing else. libiconv is LGPL, so it is a DLL that ships beside
# Lumora.exe (a user may put a rebuilt one in its place).
#
# It is idempotent: missing Debian packages are installed, and the library
# is rebuilt only when its stamp file is missing or names another recipe.
# Nothing here writes outside .cache/ except apt.
# Usage: scripts/windows-deps.sh [32|64] [--force]; the width defaults to
# the one this machine runs (scripts/deps.sh).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/deps.sh"
width=$LUMORA_WINDOWS_WIDTH
if [[ "${1:-}" == 32 || "${1:-}" == 64 ]]; then
    width=$1
    shift
fi
cache="$root/.cache"
prefix="$cache/win$width"
host=$(lumora_windows_triple "$width")
cc="$host-gcc-posix"

# Bump the recipe string to force a rebuild of the library everywhere.
iconv_npm="iconv@3.0.1"
iconv_recipe="$iconv_npm iconv.c+localcharset.c extra le dll r2"

force=0
[[ "${1:-}" == "--force" ]] && force=1

log() { printf '[windows-deps] %s\n' "$*" >&2; }

stamp_ok() { (( ! force )) && [[ -f "$1" && "$(cat "$1")" == "$2" ]]; }

# Links a throwaway program against the fresh library, so a broken prefix
# fails here rather than in the first project build.
link_check() {
    local dir=$1
    cat > "$dir/check.c" <<'EOF'
#include <iconv.h>
int main(void) {
    iconv_t cd = iconv_open("UCS-2LE", "GBK");
    if (cd == (iconv_t)-1) return 1;
    iconv_close(cd);
    return 0;
}
EOF
    "$cc" -I"$prefix/include" "$dir/check.c" -o "$dir/check.exe" -L"$prefix/lib" -liconv
}

build_iconv() {
    local stamp="$prefix/.iconv.stamp"
    if stamp_ok "$stamp" "$iconv_recipe"; then
        log "libiconv: cached ($prefix/bin/libiconv-2.dll)"
        return 0
    fi
    command -v npm >/dev/null || lumora_install npm
    local work
    work=$(mktemp -d "$cache/iconv.XXXXXX")
    log "libiconv: fetching npm package $iconv_npm"
    (cd "$work" && npm pack --silent "$iconv_npm" >/dev/null && tar xzf iconv-*.tgz)
    local pkg="$work/package"
    # support/ holds the configuration the package compiles libiconv with:
    # an empty config.h, iconv.h (symbols renamed to libiconv_*, const
    # input pointer), and a locale_charset() stub; ICONV_CONST and
    # ENABLE_EXTRA come from its build file.  WORDS_LITTLEENDIAN makes the
    # "WCHAR_T" encoding UTF-16LE, which is what wchar_t is on Windows, x86
    # and x86-64 alike.
    log "libiconv: building for $host"
    "$cc" -O2 -DICONV_CONST=const -DENABLE_EXTRA=1 -DWORDS_LITTLEENDIAN=1 \
        -I"$pkg/support" -c "$pkg/deps/libiconv/lib/iconv.c" -o "$work/iconv.o"
    "$cc" -O2 -I"$pkg/support" -c "$pkg/support/localcharset.c" -o "$work/localcharset.o"
    install -d "$prefix/include" "$prefix/lib" "$prefix/bin" "$prefix/licenses" "$prefix/source"
    rm -f "$prefix/lib/libiconv.a" "$prefix/LICENSE.libiconv"
    "$cc" -shared -static-libgcc -o "$prefix/bin/libiconv-2.dll" "$work/iconv.o" "$work/localcharset.o" \
        -Wl,--out-implib,"$prefix/lib/libiconv.dll.a"
    install -m 644 "$pkg/support/iconv.h" "$prefix/include/iconv.h"
    # The library's own notice (LGPL 2 or later), the licence's text, and
    # the package's licence, which covers the support/ files.
    { sed -n '2,17p' "$pkg/deps/libiconv/lib/iconv.c" | sed 's/^ \* \{0,1\}//'
      echo; cat /usr/share/common-licenses/LGPL-2; } > "$prefix/licenses/libiconv.txt"
    install -m 644 "$pkg/LICENSE" "$prefix/licenses/node-iconv.txt"
    install -m 644 "$work"/iconv-*.tgz "$prefix/source/"
    rm -rf "$work"
    echo "$iconv_recipe" > "$stamp"
    log "libiconv: done"
}

mkdir -p "$prefix"
# PCRE, which this script once built, must not linger where CMake looks
rm -f "$prefix/include/pcre.h" "$prefix/lib/libpcre.a" "$prefix/licenses/PCRE.txt" "$prefix/.pcre.stamp"
arch=${host%%-*}
arch=${arch//_/-}  # Debian's name: i686, x86-64
lumora_install "g++-mingw-w64-$arch-posix" "gcc-mingw-w64-$arch-posix" "binutils-mingw-w64-$arch"
# The program's icons are drawn at build time by scripts/make-icons.py.
command -v python3 >/dev/null || lumora_install python3-minimal
build_iconv
check_dir=$(mktemp -d "$cache/check.XXXXXX")
link_check "$check_dir"
rm -rf "$check_dir"
log "ready: $prefix"
