#!/usr/bin/env bash
# Prepares everything the 32-bit Windows build of Lumora links against.
#
# Lumora ships as a self-contained i686 Windows program, cross-compiled on
# Debian with mingw-w64 (see cmake/toolchain-mingw-i686.cmake).  The two C
# libraries the core uses have no Windows builds in Debian, so this script
# builds them from source into a prefix inside the work tree:
#
#   .cache/win32/include/pcre.h    .cache/win32/lib/libpcre.a    (PCRE 8.39)
#   .cache/win32/include/iconv.h   .cache/win32/lib/libiconv.dll.a
#                                  .cache/win32/bin/libiconv-2.dll (GNU libiconv)
#   .cache/win32/licenses/         the licence texts the release ships
#   .cache/win32/source/           the libiconv source the DLL is built from
#
# PCRE comes from Debian's pcre3 source package (with Debian's patches), as a
# static 8-bit library with UTF-8, Unicode properties and the JIT, without
# the C++ wrapper.  Code that includes pcre.h must define PCRE_STATIC.
# libiconv comes from the sources bundled in the npm package "iconv", which
# carries libiconv's lib/ folder plus a ready configuration under support/;
# the library is iconv.c and localcharset.c, nothing else.  libiconv is
# LGPL, so it is a DLL that ships beside Lumora.exe (a user may put a
# rebuilt one in its place); PCRE (BSD) is linked in.
#
# It is idempotent: missing Debian packages are installed, and each library
# is rebuilt only when its stamp file is missing or names another recipe.
# Nothing here writes outside .cache/ except apt (packages, and a deb-src
# entry when the machine has none).  Usage: scripts/windows-deps.sh [--force]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache="$root/.cache"
prefix="$cache/win32"
host=i686-w64-mingw32
cc="$host-gcc-posix"
jobs=$(nproc 2>/dev/null || echo 2)

# Bump a recipe string to force a rebuild of that library everywhere.
pcre_recipe="pcre3 8.39 static utf8 ucp jit nocpp licence r2"
iconv_npm="iconv@3.0.1"
iconv_recipe="$iconv_npm iconv.c+localcharset.c extra le dll r2"

force=0
[[ "${1:-}" == "--force" ]] && force=1

log() { printf '[windows-deps] %s\n' "$*" >&2; }

. "$root/scripts/deps.sh"

stamp_ok() { (( ! force )) && [[ -f "$1" && "$(cat "$1")" == "$2" ]]; }

# Lets apt see source packages: Debian 12 images ship only "Types: deb".
ensure_deb_src() {
    if apt-cache showsrc pcre3 2>/dev/null | grep -q '^Package: pcre3'; then
        return 0
    fi
    local deb822=/etc/apt/sources.list.d/debian.sources
    local added=/etc/apt/sources.list.d/debian-src.sources
    if [[ -f "$deb822" ]] && ! grep -qE '^Types:.*deb-src' "$deb822" && [[ ! -f "$added" ]]; then
        log "adding deb-src entries to $added"
        sed 's/^Types: deb$/Types: deb-src/' "$deb822" > "$added"
    elif [[ -f /etc/apt/sources.list ]] && grep -q '^deb ' /etc/apt/sources.list \
         && [[ ! -f /etc/apt/sources.list.d/debian-src.list ]]; then
        log "adding deb-src lines to /etc/apt/sources.list.d/debian-src.list"
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/debian-src.list
    fi
    apt-get update -qq </dev/null
    apt-cache showsrc pcre3 2>/dev/null | grep -q '^Package: pcre3' \
        || { log "no source package pcre3 available from apt"; exit 1; }
}

# Links a throwaway program against the fresh libraries, so a broken prefix
# fails here rather than in the first project build.
link_check() {
    local dir=$1
    cat > "$dir/check.c" <<'EOF'
#define PCRE_STATIC
#include <pcre.h>
#include <iconv.h>
#include <stddef.h>
int main(void) {
    const char* err; int off;
    pcre* re = pcre_compile("a+", PCRE_CASELESS, &err, &off, NULL);
    iconv_t cd = iconv_open("UCS-2LE", "GBK");
    int ok = re != NULL && cd != (iconv_t)-1;
    if (cd != (iconv_t)-1) iconv_close(cd);
    pcre_free(re);
    return ok ? 0 : 1;
}
EOF
    "$cc" -I"$prefix/include" "$dir/check.c" -o "$dir/check.exe" \
        -L"$prefix/lib" -lpcre -liconv
}

build_pcre() {
    local stamp="$prefix/.pcre.stamp"
    if stamp_ok "$stamp" "$pcre_recipe"; then
        log "PCRE: cached ($prefix/lib/libpcre.a)"
        return 0
    fi
    lumora_install dpkg-dev make
    ensure_deb_src
    local work
    work=$(mktemp -d "$cache/pcre.XXXXXX")
    log "PCRE: fetching Debian source package pcre3"
    # apt-get source unpacks and applies Debian's patch series (dpkg-source).
    (cd "$work" && apt-get source -qq -o APT::Sandbox::User=root pcre3 >/dev/null)
    local src
    src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'pcre3-*' | head -n1)
    [[ -n "$src" ]] || { log "apt-get source pcre3 left no source tree"; exit 1; }
    # The patches touch configure.ac and Makefile.am/.in (library soname bits
    # that do not matter for a static build).  Give the autotools inputs and
    # outputs one timestamp so make does not try to rerun automake/autoconf.
    (cd "$src" && touch -r configure.ac aclocal.m4 configure config.h.in Makefile.am Makefile.in)
    log "PCRE: configuring and building for $host"
    mkdir -p "$work/build"
    (cd "$work/build" && "$src/configure" -q --host="$host" --prefix="$prefix" \
        CC="$cc" CFLAGS="-O2" \
        --enable-static --disable-shared --disable-cpp \
        --enable-utf8 --enable-unicode-properties --enable-jit >/dev/null)
    make -s -C "$work/build" -j"$jobs" libpcre.la >/dev/null
    install -d "$prefix/include" "$prefix/lib"
    install -m 644 "$work/build/pcre.h" "$prefix/include/pcre.h"
    install -m 644 "$work/build/.libs/libpcre.a" "$prefix/lib/libpcre.a"
    install -D -m 644 "$src/LICENCE" "$prefix/licenses/PCRE.txt"
    rm -rf "$work"
    echo "$pcre_recipe" > "$stamp"
    log "PCRE: done"
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
    # "WCHAR_T" encoding UTF-16LE, which is what wchar_t is on Windows/x86.
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
lumora_install "g++-mingw-w64-i686-posix" "gcc-mingw-w64-i686-posix" "binutils-mingw-w64-i686"
# The program's icons are drawn at build time by scripts/make-icons.py.
command -v python3 >/dev/null || lumora_install python3-minimal
build_pcre
build_iconv
check_dir=$(mktemp -d "$cache/check.XXXXXX")
link_check "$check_dir"
rm -rf "$check_dir"
log "ready: $prefix"
