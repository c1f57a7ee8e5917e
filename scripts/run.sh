#!/usr/bin/env bash
# The program's main job. On a machine with a display (DISPLAY set) it
# builds Lumora.exe, the Windows program, and starts it under 32-bit Wine
# with a Chinese font and code page 936. Without one (or with --console) it
# shows the console front end end to end: installs what is missing (Debian
# 12), builds lumora-move, writes a sample package of twelve items whose image
# links point at a local nginx, moves it into a fresh folder with the
# progress bar showing, and shows the outcome: some rewritten links, the
# links left remote, the images in the folder and the failure report (the
# sample has one link that answers 404). Everything but the build lives in
# a temporary folder that goes, with the server, when the script ends; the
# backup stays in bak/ beside the program, as it does for a seller.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
. "$root/scripts/nginx.sh"

if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != --console ]; then
    lumora_install "${LUMORA_NATIVE_PACKAGES[@]}" fonts-wqy-microhei
    "$root/scripts/windows-deps.sh"
    "$root/scripts/wine-env.sh"
    cmake -S "$root" -B "$root/build/win32" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMORA_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
    ninja -C "$root/build/win32" Lumora
    echo "== starting Lumora.exe under Wine"
    LUMORA_WINE_TIMEOUT=86400 exec "$root/scripts/wine-run.sh" "$root/build/win32/shell/Lumora.exe"
fi

lumora_install "${LUMORA_NATIVE_PACKAGES[@]}" nginx wget

RUN_LIMIT_SECONDS=300  # the move of the sample takes well under a second
SHOWN_LINKS=8

build=$root/build/release
echo "== build lumora-move (Release, $build)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMORA_TESTS=OFF >/dev/null
ninja -C "$build" lumora-move lumora-sample
bin=$build/console

work=$(mktemp -d)
chmod 755 "$work"  # nginx's workers may run as another user
server=
cleanup() {
    [ -z "$server" ] || stopProcess "$server"
    rm -rf "$work"
}
trap cleanup EXIT

# Serves $work/sample/images on 127.0.0.1:PORT and waits for it to answer.
startServer() {  # PORT
    writeNginxConfig "$work/nginx" "127.0.0.1:$1" "$work/sample/images"
    startNginx "$work/nginx"
    server=$nginxPid
    awaitNginx "$work/nginx" "http://127.0.0.1:$1/"
}

# The image links of the package as UTF-8 text, each once, in order.
packageLinks() {  # PACKAGE
    iconv -f UTF-16 -t UTF-8 "$1" | grep -oE "(https?://|$work/target/)[^\"'()<> ]+" | awk '!seen[$0]++'
}

port=$("$bin/lumora-sample" port)
"$bin/lumora-sample" write "$work/sample" "http://127.0.0.1:$port"
startServer "$port"
mkdir "$work/target"
package=$work/sample/package.csv
echo "== sample package: $(packageLinks "$package" | wc -l) distinct image links served by nginx on 127.0.0.1:$port"

echo "== lumora-move $package $work/target"
status=0
# in the foreground, so that Ctrl-C reaches lumora-move, which then stops after the image in hand
timeout --foreground "$RUN_LIMIT_SECONDS" "$bin/lumora-move" "$package" "$work/target" || status=$?
echo "== exit status $status"

echo "== rewritten links (first $SHOWN_LINKS of the package)"
packageLinks "$package" | grep -F "$work/target/" | sed -n "1,${SHOWN_LINKS}p" | sed 's/^/  /'
echo "== links left remote"
packageLinks "$package" | grep -vF "$work/target/" | sed 's/^/  /'
echo "== $(find "$work/target" -type f | wc -l) images in $work/target"
ls -l "$work/target" | awk 'NR > 1 { printf "  %8d  %s\n", $5, $9 }' | sed -n "1,${SHOWN_LINKS}p"
echo "  ..."
echo "== backup of the package: $(ls -t "$bin/bak" | sed -n 1p) in $bin/bak"
exit "$status"
