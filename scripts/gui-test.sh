#!/usr/bin/env bash
# Runs the window tests: the real Lumora.exe under Wine on a virtual X
# display (Xvfb), driven by the test driver of tests/gui; 32-bit or 64-bit,
# the width this machine runs (scripts/deps.sh).
#
# It builds in the Windows test folder, build/win32 or build/win64, whose
# Lumora.exe asks for updates on a loopback port (scripts/deps.sh) that the
# driver serves in its tests (the product site keeps its reserved default),
# and it runs Wine in a prefix of its own, .cache/wine32-gui or
# .cache/wine64-gui, with Wine's virtual desktop
# switched on: Wine then draws the windows' frames and handles activation
# itself, as Windows does, where a bare X server has no window manager. The
# prefix's only browser is /bin/true, so a page the program opens goes
# nowhere. The prefix's Wine processes are stopped before the run, so that
# they start on this run's display, and again afterwards.
#
# With --dpi N the screen has N dots per inch (Wine's LogPixels; 96 by
# default, which every run sets and leaves behind), and the virtual display
# and desktop grow with it, so that a sharp screen shows what a 1024 x 768
# one shows at 96: the program, aware of the screen's DPI, lays itself out
# larger.
#
# The driver asks for screenshots at chosen moments (tests/gui/remote_ui.h)
# and this script takes them with ImageMagick's import, cut to the window:
# page-one.png, moving.png and failures.png (page-one-144dpi.png and so on
# at another DPI), into the build's screenshots/
# or, with --docs, into docs/. Every step is bounded by a time-out; Xvfb and
# the Wine processes are stopped on exit whatever happens. The driver's
# output (GoogleTest's, converted from GBK) is printed; the exit status is
# the driver's.
# Usage: scripts/gui-test.sh [--docs] [--dpi N] [GTEST_ARGS...]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/deps.sh"
build="$root/build/win$LUMORA_WINDOWS_WIDTH"
shots="$build/screenshots"
dpi=96
while [[ "${1:-}" == --docs || "${1:-}" == --dpi ]]; do
    case $1 in
    --docs) shots="$root/docs"; shift ;;
    --dpi) dpi=${2:-}; shift; shift || true ;;
    esac
done
if ! [[ "$dpi" =~ ^[0-9]+$ ]] || ((dpi < 96 || dpi > 480)); then
    echo "--dpi takes 96 to 480" >&2
    exit 2
fi
suffix=
((dpi == 96)) || suffix="-${dpi}dpi"
screen="$((1024 * dpi / 96))x$((768 * dpi / 96))"

log() { printf '[gui-test] %s\n' "$*" >&2; }

lumora_install xvfb imagemagick fonts-wqy-microhei fonts-wine

export LUMORA_WINEPREFIX="$root/.cache/wine$LUMORA_WINDOWS_WIDTH-gui"
"$root/scripts/windows-deps.sh"
"$root/scripts/wine-env.sh"

# Debian's Wine 8 looks for its own fonts (Marlett draws the caption
# buttons, Tahoma the dialogs) in a folder that does not resolve; linked
# into the prefix's Fonts folder they are found.
wine_fonts="$LUMORA_WINEPREFIX/drive_c/windows/Fonts"
for font in /usr/share/wine/fonts/*; do
    [[ -e "$wine_fonts/$(basename "$font")" ]] || ln -s "$font" "$wine_fonts/"
done

# Stops this prefix's Wine processes (and nothing else), within bounds.
stop_wine() {
    WINEPREFIX="$LUMORA_WINEPREFIX" timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
    WINEPREFIX="$LUMORA_WINEPREFIX" timeout 30 wineserver -w </dev/null >/dev/null 2>&1 || true
}

# Sets the prefix's registry values (each KEY VALUE TYPE DATA) while no
# Wine process of the prefix runs, so that the processes started next read
# them.
set_registry() {
    stop_wine
    while (($# >= 4)); do
        timeout 120 "$root/scripts/wine-run.sh" reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null
        shift 4
    done
    stop_wine
}
dpi_key='HKCU\Control Panel\Desktop'

work=$(mktemp -d)
xvfb_pid=
cleanup() {
    stop_wine
    ((dpi == 96)) || set_registry "$dpi_key" LogPixels REG_DWORD 96 || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

log "building $build"
cmake -S "$root" -B "$build" -G Ninja -DLUMORA_BENCH=OFF "${LUMORA_WINDOWS_TEST_ARGS[@]}" >/dev/null
if ! timeout 1200 ninja -C "$build" lumora_gui_driver >"$work/build.log" 2>&1; then
    cat "$work/build.log" >&2
    exit 1
fi

# Wine's virtual desktop, the screen's DPI, and /bin/true as the only
# browser Wine may start, so that a page the program opens (the download
# page, the extraction guide) goes nowhere, whatever the machine has.
set_registry 'HKCU\Software\Wine\Explorer' Desktop REG_SZ Default \
    'HKCU\Software\Wine\Explorer\Desktops' Default REG_SZ "$screen" \
    'HKCU\Software\Wine\WineBrowser' Browsers REG_SZ true \
    "$dpi_key" LogPixels REG_DWORD "$dpi"

# Xvfb chooses a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s "$work/display" ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
done
[[ -s "$work/display" ]] || { log "Xvfb did not start"; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
log "display $DISPLAY, $screen at $dpi dpi"

# Takes every screenshot the driver is waiting for.
take_shots() {
    local want name
    for want in "$work"/shots/*.want; do
        [[ -e "$want" ]] || continue
        name=$(basename "$want" .want)
        if timeout 20 import -display "$DISPLAY" -window root -crop "$(tr -d '[:space:]' <"$want")" +repage \
            "$shots/$name$suffix.png"; then
            log "screenshot $shots/$name$suffix.png"
        else
            log "screenshot $name failed"
        fi
        rm -f "$want"
        : >"$work/shots/$name.done"
    done
}

# The driver's output line by line, as it comes, from GBK (with CR LF line
# ends, as a Windows program writes them) to UTF-8.
to_utf8() {
    local line
    while IFS= read -r line || [[ -n "$line" ]]; do
        printf '%s\n' "${line%$'\r'}" | iconv -f GBK -t UTF-8 -c
    done
}

mkdir -p "$work/shots" "$shots"
start=$SECONDS
(
    set -o pipefail
    LUMORA_GUI_SHOTS="Z:${work//\//\\}\\shots" LUMORA_WINE_TIMEOUT=900 timeout -k 10 960 \
        "$root/scripts/wine-run.sh" "$build/tests/gui/lumora_gui_driver.exe" "$@" 2>&1 \
        | to_utf8
) &
driver=$!
while kill -0 "$driver" 2>/dev/null; do
    take_shots
    sleep 0.2
done
status=0
wait "$driver" || status=$?
log "driver finished in $((SECONDS - start)) s with status $status"
exit "$status"
