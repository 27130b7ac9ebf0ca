#!/usr/bin/env bash
# What a Windows administrator is handed (scripts/package-windows), tried under Wine:
#  - the zip holds the programs, the language libraries and the help page, and the wizard
#    started from the unpacked folder runs;
#  - the installer installs silently (/S) into Program Files, with a Start-menu entry and its
#    uninstaller registered; the installed wizard and zephrane-cli.exe start and work on a
#    stand-in host (their run log lands in the program folder's logs);
#  - the uninstaller (silent) removes every file, the Start-menu entry and the registration it
#    made, and keeps the logs the programs wrote.
#
#   tests/wine/package.sh WINDOWS_BUILD WORK
set -euo pipefail
source "$(dirname "$0")/wine.sh"
WIN_BUILD="$1"
WORK="$2"
wine_start "$WORK"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
base="$WORK/package"
rm -rf "$base"
mkdir -p "$base"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"

version="$(sed -n 's/^project(Zephrane VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")"
name="zephrane-$version-windows-x64"
"$ROOT/scripts/package-windows" "$WIN_BUILD" "$base/out" >"$base/make.out" 2>&1 ||
    fail "scripts/package-windows failed" "$base/make.out"
zip="$base/out/$name.zip"
setup="$base/out/$name-setup.exe"
[ -f "$zip" ] && [ -f "$setup" ] || fail "the zip or the installer is missing" "$base/make.out"

expected=(Zephrane.htm zephrane-cli.exe zephrane.exe)
for dll in "$WIN_BUILD"/bin/zephrane_*.dll; do
    expected+=("$(basename "$dll")")
done
sorted_expected="$(printf '%s\n' "${expected[@]}" | sort)"


# A small stand-in host; the wizard clicks a whole reset through on it and ends.
wizard_runs() {
    local exe="$1" host="$2"
    wine_run "$WIN_BUILD/bin/zephrane-sim.exe" init "$(wine_path "$host")" --subscribers 4 \
        --seed 3 >/dev/null
    wine_run "$WIN_BUILD/bin/zephrane-sim.exe" set "$(wine_path "$host")" virtual-time on >/dev/null
    ZEPHRANE_HOST="$(wine_path "$host")" ZEPHRANE_DRIVE_RESET=defaultTemplate \
        wine_on_display "$exe" >"$base/run.out" 2>&1 || fail "$exe did not run" "$base/run.out"
    grep -q "reset process complete" "$base/run.out" || fail "$exe ran no reset" "$base/run.out"
}

step "the zip holds the programs, and the wizard runs from it"
unzip -q "$zip" -d "$base/unzipped"
listed="$(cd "$base/unzipped/$name" && ls | sort)"
[ "$listed" = "$sorted_expected" ] || fail "the zip holds: $(echo $listed), not: $(echo $sorted_expected)"
wizard_runs "$base/unzipped/$name/zephrane.exe" "$base/host-zip"

step "the installer installs silently into Program Files, with a Start-menu entry"
installed="$WINEPREFIX/drive_c/Program Files/Zephrane"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zephrane/Zephrane.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zephrane'
rm -rf "$installed"
wine_run "$setup" /S >"$base/setup.out" 2>&1 || fail "the installer failed" "$base/setup.out"
wineserver -w
for f in "${expected[@]}"; do
    cmp -s "$installed/$f" "$base/unzipped/$name/$f" || fail "$f was not installed as packaged"
done
[ -f "$installed/uninstall.exe" ] || fail "no uninstaller was installed"
[ -f "$shortcut" ] || fail "no Start-menu entry"
wine reg query "$key" >"$base/key.out" 2>&1 || fail "the uninstaller is not registered" "$base/key.out"
grep -q 'UninstallString.*uninstall.exe' "$base/key.out" || fail "no uninstall command" "$base/key.out"
grep -q "DisplayVersion.*$version" "$base/key.out" || fail "no version registered" "$base/key.out"

step "the installed programs start and work"
ZEPHRANE_HOST="$(wine_path "$base/host-zip")" wine_run "$installed/zephrane-cli.exe" \
    --list-templates >"$base/cli.out" 2>&1 || fail "the installed zephrane-cli.exe failed" "$base/cli.out"
grep -q defaultTemplate "$base/cli.out" || fail "no template listed" "$base/cli.out"
wizard_runs "$installed/zephrane.exe" "$base/host-installed"
logs=("$installed"/logs/Zephrane_Log_*.TXT)
[ -f "${logs[0]}" ] || fail "the installed wizard's run left no log in the program folder"

step "the uninstaller removes what was installed and keeps the logs"
wine_run "$installed/uninstall.exe" /S >"$base/uninstall.out" 2>&1 ||
    fail "the uninstaller failed" "$base/uninstall.out"
# The uninstaller goes on from a copy of itself: wait for every Windows process to end.
wineserver -w
for f in "${expected[@]}" uninstall.exe; do
    [ ! -e "$installed/$f" ] || fail "the uninstaller left $f"
done
[ ! -e "$shortcut" ] && [ ! -e "$(dirname "$shortcut")" ] || fail "the Start-menu entry stayed"
! wine reg query "$key" >/dev/null 2>&1 || fail "the uninstall registration stayed"
for log in "${logs[@]}"; do
    [ -f "$log" ] || fail "the uninstaller removed the log $log"
done
left="$(cd "$installed" && find . -type f | sort)"
[ -z "$(grep -v '^\./logs/' <<<"$left")" ] || fail "the uninstaller left files: $left"

echo "The Windows package under Wine: all passed."
