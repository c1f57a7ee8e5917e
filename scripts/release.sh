#!/usr/bin/env bash
# Builds what a seller downloads, into dist/ (not kept in git):
#
#   Lumora-X.Y-win32.zip   the portable form: Lumora.exe, libiconv-2.dll,
#                          the guide 使用说明.txt, licenses/ and source/
#                          (the libiconv source the DLL is built from)
#   Lumora-X.Y-setup.exe   the installer (NSIS, Chinese interface): the same
#                          files into %LOCALAPPDATA%\Programs\Lumora, per
#                          user, with Start-menu entries and an uninstaller
#
# X.Y comes from the project's version in CMakeLists.txt. Lumora.exe is a
# Release build in build/win32-release with the default deployment
# settings. The guide and the licence texts are written for Windows (GBK,
# CR LF); inside the zip the guide's name is GBK as well, which is how
# Chinese Windows and its archive tools read names without the UTF-8 flag.
# Usage: scripts/release.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/deps.sh"
lumora_install "${LUMORA_NATIVE_PACKAGES[@]}" nsis zip
"$root/scripts/windows-deps.sh"

version=$(sed -n 's/^project(Lumora VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$root/CMakeLists.txt")
[[ -n "$version" ]] || { echo "no project version in CMakeLists.txt" >&2; exit 1; }
short=${version%.*}
build=$root/build/win32-release
deps=${LUMORA_WIN32_PREFIX:-$root/.cache/win32}
dist=$root/dist
guide=使用说明.txt

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMORA_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
ninja -C "$build" Lumora

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
mkdir -p "$stage/licenses" "$stage/source" "$dist"

# A text file for Notepad: GBK with CR LF line ends.
windowsText() {  # FROM TO
    sed 's/$/\r/' "$1" | iconv -f UTF-8 -t GBK >"$2"
}

i686-w64-mingw32-strip -o "$stage/Lumora.exe" "$build/shell/Lumora.exe"
install -m 644 "$deps/bin/libiconv-2.dll" "$stage/"
windowsText "$root/release/$guide" "$stage/$guide"
windowsText "$root/release/licenses-README.txt" "$stage/licenses/README.txt"
for licence in libiconv node-iconv; do
    sed 's/$/\r/' "$deps/licenses/$licence.txt" >"$stage/licenses/$licence.txt"
done
sed 's/$/\r/' /usr/share/doc/mingw-w64-common/copyright >"$stage/licenses/mingw-w64.txt"
sed 's/$/\r/' /usr/share/doc/gcc-mingw-w64-base/copyright >"$stage/licenses/gcc-runtime.txt"
install -m 644 "$deps"/source/iconv-*.tgz "$stage/source/"

# The zip, from a copy whose guide is named in GBK, stored as bytes (C locale).
zipped=$work/zip/Lumora-$short
mkdir -p "$zipped"
cp -r "$stage/." "$zipped/"
mv "$zipped/$guide" "$zipped/$(printf '%s' "$guide" | iconv -f UTF-8 -t GBK)"
rm -f "$dist/Lumora-$short-win32.zip"
(cd "$work/zip" && LC_ALL=C zip -q -r -X "$dist/Lumora-$short-win32.zip" "Lumora-$short")

LC_ALL=C.UTF-8 makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" \
    -DICON="$build/shell/lumora-101.ico" -DOUTFILE="$dist/Lumora-$short-setup.exe" "$root/release/lumora.nsi"
echo "== $dist/Lumora-$short-win32.zip"
echo "== $dist/Lumora-$short-setup.exe"
