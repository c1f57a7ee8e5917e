#!/usr/bin/env bash
# Tests the release packages as a seller meets them, under Wine: builds them
# (scripts/release.sh), checks the zip's contents against
# tests/release/zip-contents.txt (names read as GBK), installs the setup
# silently (/S) into the window tests' prefix, checks the installed files
# (the zip's, and the uninstaller), that Lumora.exe declares DPI awareness,
# the Start-menu entries and the entry in the installed programs, starts the installed Lumora.exe with the window
# driver (scripts/gui-test.sh, test group Installed), which moves a package
# there, then uninstalls silently and checks that what stays is
# tests/release/after-uninstall.txt: the backup and the log. Every wait is
# bounded. Run it as the window tests are run, under their lock:
#   flock /tmp/lumora-gui.lock bash scripts/release-test.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
data=$root/tests/release
export LUMORA_WINEPREFIX="$root/.cache/wine-gui"

log() { printf '[release-test] %s\n' "$*" >&2; }
fail() { log "FAILED: $*"; exit 1; }

. "$root/scripts/deps.sh"
lumora_install unzip
"$root/scripts/release.sh"
version=$(sed -n 's/^project(Lumora VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$root/CMakeLists.txt")
short=${version%.*}
zip=$root/dist/Lumora-$short-win32.zip

# Runs a Windows program in the prefix, without a display (the installer
# and the uninstaller need none), its output converted from GBK.
wine_run() {
    env -u DISPLAY LUMORA_WINE_TIMEOUT=300 "$root/scripts/wine-run.sh" "$@" </dev/null | iconv -f GBK -t UTF-8 -c | tr -d '\r'
}

log "zip contents"
diff <(LC_ALL=C unzip -Z1 "$zip" | iconv -f GBK -t UTF-8 | sed "s|^Lumora-$short/||" | grep . | sort) \
    <(sort "$data/zip-contents.txt") || fail "the zip holds other files than $data/zip-contents.txt"

uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumora'
program_files="$(wine_run cmd /c echo '%LOCALAPPDATA%')\Programs\Lumora"
start_menu="$(wine_run cmd /c echo '%APPDATA%')\Microsoft\Windows\Start Menu\Programs\Lumora"
folder=$(env -u DISPLAY WINEPREFIX="$LUMORA_WINEPREFIX" winepath -u "$program_files" 2>/dev/null)
menu=$(env -u DISPLAY WINEPREFIX="$LUMORA_WINEPREFIX" winepath -u "$start_menu" 2>/dev/null)
[[ -n "$folder" && -n "$menu" ]] || fail "no install folder from Wine"
rm -rf "$folder" "$menu"  # what an earlier run left
listing() { (cd "$1" && find . -mindepth 1 | sed 's|^\./||; ' | while read -r f; do
    [[ -d "$f" ]] && echo "$f/" || echo "$f"; done | sort); }

log "installing into $program_files"
wine_run "$root/dist/Lumora-$short-setup.exe" /S
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
