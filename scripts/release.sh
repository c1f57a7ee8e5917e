#!/usr/bin/env bash
# Builds what a seller downloads, into dist/ (not kept in git), for 32-bit
# and for 64-bit Windows (WIDTH is 32 or 64):
#
#   Lumora-X.Y-winWIDTH.zip        the portable form: Lumora.exe,
#                                  libiconv-2.dll, the guide 使用说明.txt,
#                                  licenses/ and source/ (the libiconv
#                                  source the DLL is built from)
#   Lumora-X.Y-winWIDTH-setup.exe  the installer (NSIS, Chinese interface;
#                                  the 64-bit one on NSIS's amd64 stubs): the
#                                  same files into
#                                  %LOCALAPPDATA%\Programs\Lumora, per user,
#                                  with Start-menu entries and an uninstaller
#
# X.Y comes from the project's version in CMakeLists.txt. Lumora.exe is a
# Release build in build/winWIDTH-release with the default deployment
# settings. The guide and the licence texts are written for Windows (GBK,
# CR LF); inside the zip the guide's name is GBK as well, which is how
# Chinese Windows and its archive tools read names without the UTF-8 flag.
# Usage: scripts/release.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/deps.sh"
lumora_install "${LUMORA_NATIVE_PACKAGES[@]}" nsis zip

version=$(sed -n 's/^project(Lumora VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$root/CMakeLists.txt")
[[ -n "$version" ]] || { echo "no project version in CMakeLists.txt" >&2; exit 1; }
short=${version%.*}
dist=$root/dist
guide=使用说明.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$dist"

# A text file for Notepad: GBK with CR LF line ends.
windowsText() {  # FROM TO
    sed 's/$/\r/' "$1" | iconv -f UTF-8 -t GBK >"$2"
}

# The files both packages of a width hold, in STAGE.
stageFiles() {  # WIDTH BUILD STAGE
    local deps=$root/.cache/win$1
    mkdir -p "$3/licenses" "$3/source"
    "$(lumora_windows_triple "$1")-strip" -o "$3/Lumora.exe" "$2/shell/Lumora.exe"
    install -m 644 "$deps/bin/libiconv-2.dll" "$3/"
    windowsText "$root/release/$guide" "$3/$guide"
    windowsText "$root/release/licenses-README.txt" "$3/licenses/README.txt"
    for licence in libiconv node-iconv; do
        sed 's/$/\r/' "$deps/licenses/$licence.txt" >"$3/licenses/$licence.txt"
    done
    sed 's/$/\r/' /usr/share/doc/mingw-w64-common/copyright >"$3/licenses/mingw-w64.txt"
    sed 's/$/\r/' /usr/share/doc/gcc-mingw-w64-base/copyright >"$3/licenses/gcc-runtime.txt"
    install -m 644 "$deps"/source/iconv-*.tgz "$3/source/"
}

# The zip, from a copy whose guide is named in GBK, stored as bytes (C locale).
zipStage() {  # STAGE ZIP
    local zipped=$work/zip/Lumora-$short
    rm -rf "$work/zip"
    mkdir -p "$zipped"
    cp -r "$1/." "$zipped/"
    mv "$zipped/$guide" "$zipped/$(printf '%s' "$guide" | iconv -f UTF-8 -t GBK)"
    rm -f "$2"
    (cd "$work/zip" && LC_ALL=C zip -q -r -X "$2" "Lumora-$short")
}

for width in 32 64; do
    "$root/scripts/windows-deps.sh" "$width"
    build=$root/build/win$width-release
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMORA_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$(lumora_windows_toolchain "$width")" >/dev/null
    ninja -C "$build" Lumora
    stage=$work/stage$width
    stageFiles "$width" "$build" "$stage"
    zipStage "$stage" "$dist/Lumora-$short-win$width.zip"
    target=x86-unicode
    [[ "$width" == 64 ]] && target=amd64-unicode
    LC_ALL=C.UTF-8 makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DTARGET="$target" \
        -DICON="$build/shell/lumora-101.ico" -DOUTFILE="$dist/Lumora-$short-win$width-setup.exe" \
        "$root/release/lumora.nsi"
    echo "== $dist/Lumora-$short-win$width.zip"
    echo "== $dist/Lumora-$short-win$width-setup.exe"
done
