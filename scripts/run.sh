#!/usr/bin/env bash
# The program's main job. On a machine with a display (DISPLAY set) it
# builds Lumora.exe, the Windows program, in build/win32-run or
# build/win64-run, of the width this machine runs (scripts/deps.sh), and
# starts it under Wine of that width with a Chinese font and code page 936;
# on an X server without a window manager it runs inside Wine's virtual
# desktop, which draws the frames of the window and its dialogs. Without a
# display (or with --console) it shows the console front end end to end:
# installs what is missing (Debian 12), builds lumora-move in build/run,
# writes a sample package of twelve items whose image links point at a
# local nginx, moves it into a fresh folder with the progress bar showing,
# and shows the outcome: some rewritten links, the links left remote, the
# images in the folder, the backup and the failure report (the sample has
# one link that answers 404).
# Everything but the build lives in a temporary folder that goes, with the
# server, when the script ends: the demo runs a copy of lumora-move from
# there, so its backup and log (kept beside the program) go too.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
. "$root/scripts/nginx.sh"

if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != --console ]; then
    lumora_install "${LUMORA_NATIVE_PACKAGES[@]}" fonts-wqy-microhei x11-utils
    "$root/scripts/windows-deps.sh"
    "$root/scripts/wine-env.sh"
    build=$root/build/win$LUMORA_WINDOWS_WIDTH-run
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMORA_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$(lumora_windows_toolchain "$LUMORA_WINDOWS_WIDTH")" >/dev/null
    ninja -C "$build" Lumora
    program=$build/shell/Lumora.exe
    # A window manager announces itself on the root window; without one,
    # Wine's virtual desktop frames the windows.
    if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
        echo "== no window manager: starting Lumora.exe in Wine's virtual desktop"
        LUMORA_WINE_TIMEOUT=86400 exec "$root/scripts/wine-run.sh" explorer /desktop=Lumora,1024x768 "Z:${program//\//\\}"
    fi
    echo "== starting Lumora.exe under $LUMORA_WINDOWS_WIDTH-bit Wine"
    LUMORA_WINE_TIMEOUT=86400 exec "$root/scripts/wine-run.sh" "$program"
fi

lumora_install "${LUMORA_NATIVE_PACKAGES[@]}" nginx wget

RUN_LIMIT_SECONDS=300  # the move of the sample takes well under a second
SHOWN_LINKS=8

build=$root/build/run
echo "== build lumora-move (Release, $build)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMORA_TESTS=OFF >/dev/null
ninja -C "$build" lumora-move lumora-sample

work=$(mktemp -d)
chmod 755 "$work"  # nginx's workers may run as another user
# the program's folder, where lumora-move keeps bak/ and app.log
bin=$work/program
mkdir "$bin"
cp "$build/console/lumora-move" "$build/console/lumora-sample" "$bin/"
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
[ "$status" -ne 4 ] || echo "   (4: the move ran to its end, but an image could not be moved: the sample's 404)"

echo "== rewritten links (first $SHOWN_LINKS of the package)"
packageLinks "$package" | grep -F "$work/target/" | sed -n "1,${SHOWN_LINKS}p" | sed 's/^/  /'
echo "== links left remote"
packageLinks "$package" | grep -vF "$work/target/" | sed 's/^/  /'
echo "== $(find "$work/target" -type f | wc -l) images in $work/target"
ls -l "$work/target" | awk 'NR > 1 { printf "  %8d  %s\n", $5, $9 }' | sed -n "1,${SHOWN_LINKS}p"
echo "  ..."
echo "== backup of the package: $(ls -t "$bin/bak" | sed -n 1p) in $bin/bak, beside the program"
# the sample's one failed image is the outcome to show, not a fault of the demo
[ "$status" -eq 4 ] && exit 0
exit "$status"
