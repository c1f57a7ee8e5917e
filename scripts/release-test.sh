#!/usr/bin/env bash
# Tests the release packages as a seller meets them, under Wine: builds them
# (scripts/release.sh), checks both zips' contents against
# tests/release/zip-contents.txt (names read as GBK) and that each
# Lumora.exe is a program of its width whose manifest names its architecture
# (tests/release/architectures.txt), installs the setup of the width this
# machine runs (scripts/deps.sh) silently (/S) into the window tests' prefix
# of that width, checks the installed files
# (the zip's, and the uninstaller), that Lumora.exe declares DPI awareness,
# the Start-menu entries and the entry in
# the installed programs, starts the installed Lumora.exe with the window
# driver (scripts/gui-test.sh, test group Installed), which moves a package
# there, then uninstalls silently and checks that what stays is
# tests/release/after-uninstall.txt: the backup and the log. Every wait is
# bounded. Run it as the window tests are run, under their lock:
#   flock /tmp/lumora-gui.lock bash scripts/release-test.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/deps.sh"
data=$root/tests/release
export LUMORA_WINEPREFIX="$root/.cache/wine$LUMORA_WINDOWS_WIDTH-gui"

log() { printf '[release-test] %s\n' "$*" >&2; }
fail() { log "FAILED: $*"; exit 1; }

lumora_install unzip
"$root/scripts/release.sh"
version=$(sed -n 's/^project(Lumora VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$root/CMakeLists.txt")
short=${version%.*}

# Runs a Windows program in the prefix, without a display (the installer
# and the uninstaller need none), its output converted from GBK.
wine_run() {
    env -u DISPLAY LUMORA_WINE_TIMEOUT=300 "$root/scripts/wine-run.sh" "$@" </dev/null | iconv -f GBK -t UTF-8 -c | tr -d '\r'
}

# Per width, the architecture of Lumora.exe's file header (objdump's name)
# and of its manifest, the program's and the common controls'.
while read -r width format arch; do
    zip=$root/dist/Lumora-$short-win$width.zip
    log "$width-bit zip: contents and manifest"
    diff <(LC_ALL=C unzip -Z1 "$zip" | iconv -f GBK -t UTF-8 | sed "s|^Lumora-$short/||" | grep . | sort) \
        <(sort "$data/zip-contents.txt") || fail "$zip holds other files than $data/zip-contents.txt"
    unzip -p "$zip" "Lumora-$short/Lumora.exe" >"$root/build/release-Lumora.exe"
    objdump -f "$root/build/release-Lumora.exe" | grep -q "file format $format\$" \
        || fail "Lumora.exe in $zip is no $format program"
    diff <(grep -ao 'processorArchitecture="[^"]*"' "$root/build/release-Lumora.exe") \
        <(printf 'processorArchitecture="%s"\n' "$arch" "$arch") || fail "the manifest in $zip names another architecture"
done <"$data/architectures.txt"
rm -f "$root/build/release-Lumora.exe"

uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumora'
program_files="$(wine_run cmd /c echo '%LOCALAPPDATA%')\Programs\Lumora"
start_menu="$(wine_run cmd /c echo '%APPDATA%')\Microsoft\Windows\Start Menu\Programs\Lumora"
unix_path() {
    env -u DISPLAY WINEPREFIX="$LUMORA_WINEPREFIX" "$(lumora_wine_loader "$LUMORA_WINDOWS_WIDTH")" winepath -u "$1" 2>/dev/null
}
folder=$(unix_path "$program_files")
menu=$(unix_path "$start_menu")
[[ -n "$folder" && -n "$menu" ]] || fail "no install folder from Wine"
rm -rf "$folder" "$menu"  # what an earlier run left
listing() { (cd "$1" && find . -mindepth 1 | sed 's|^\./||; ' | while read -r f; do
    [[ -d "$f" ]] && echo "$f/" || echo "$f"; done | sort); }

log "installing the $LUMORA_WINDOWS_WIDTH-bit package into $program_files"
wine_run "$root/dist/Lumora-$short-win$LUMORA_WINDOWS_WIDTH-setup.exe" /S
diff <(listing "$folder") <( (cat "$data/zip-contents.txt"; echo uninstall.exe) | sort) \
    || fail "the installed files are not the zip's and the uninstaller"
# Wine scales every program, aware or not, so the declaration is read here
grep -aq '<dpiAware[^<]*>true</dpiAware>' "$folder/Lumora.exe" || fail "Lumora.exe's manifest declares no DPI awareness"
diff <(ls "$menu" | sort) <(printf '%s\n' Lumora.lnk 使用说明.lnk '卸载 Lumora.lnk' | sort) \
    || fail "the Start-menu entries"
wine_run reg query "$uninstall_key" /v DisplayVersion | grep -q "REG_SZ *$version\$" \
    || fail "no entry $uninstall_key with the version $version"

log "running the installed Lumora.exe with the window driver"
LUMORA_INSTALLED_PROGRAM="$program_files\\Lumora.exe" "$root/scripts/gui-test.sh" --gtest_filter='Installed.*' \
    | tee "$root/build/release-gui-output.txt"
grep -q '^\[  PASSED  \] 1 test\.' "$root/build/release-gui-output.txt" || fail "the installed program's test did not pass"

log "uninstalling"
wine_run "$program_files\\uninstall.exe" /S
# the uninstaller runs on from a copy of itself and removes its file last
for _ in $(seq 120); do
    [[ -e "$folder/uninstall.exe" ]] || break
    sleep 0.5
done
diff <(listing "$folder") <(sort "$data/after-uninstall.txt") \
    || fail "the uninstaller left other files than the backup and the log"
[[ ! -e "$menu" ]] || fail "the Start-menu folder stayed"
! wine_run reg query "$uninstall_key" >/dev/null 2>&1 || fail "the entry $uninstall_key stayed"
log "passed"
