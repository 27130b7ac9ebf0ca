#!/usr/bin/env bash
# The wizard built for Windows (zephrane.exe), run under Wine on a virtual display beside the
# Linux wizard:
#  - its picture walk (ZEPHRANE_SCREENSHOTS, as scripts/screenshots makes them on Linux) makes
#    the same pages, none empty, each about the size of its Linux twin;
#  - a whole reset clicked through its windows (ZEPHRANE_DRIVE_RESET) on a stand-in host leaves
#    the server as the Linux wizard's run leaves a twin host (same seed): the same closing
#    message, the same run log (times and paths aside), the same subscribers, invariants whole.
#
#   tests/wine/wizard.sh WINDOWS_BIN LINUX_BUILD WORK [PICTURES]
# LINUX_BUILD is a build folder whose bin/ has zephrane, zephrane-cli and zephrane-sim;
# PICTURES keeps the Windows pictures (default WORK/pictures/windows).
set -euo pipefail
source "$(dirname "$0")/wine.sh"
WIN_BIN="$1"
LINUX_BUILD="$2"
LINUX_BIN="$LINUX_BUILD/bin"
WORK="$3"
wine_start "$WORK"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
PICTURES="${4:-$WORK/pictures/windows}"
base="$WORK/wizard"
rm -rf "$base"
mkdir -p "$base"
# The Linux wizard's sanitizers: the system's font library keeps a little memory to the end.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"

# Output without what differs by nature: CR of line ends, times, and log paths.
normalised() {
    tr -d '\r' | sed -E -e 's#[0-9]{1,2}/[0-9]{1,2}/[0-9]{4} [0-9]{1,2}:[0-9]{2}:[0-9]{2} [AP]M#TIME#g' \
        -e 's#[0-9]{8}_[0-9]{2}_[0-9]{2}_[0-9]{2}(_[0-9]+)?#STAMP#g' \
        -e 's#\{[0-9A-Fa-f-]{36}\}#{GUID}#g' -e 's#(Z:)?[^ :]*[/\\]logs[/\\]#LOGS/#g' \
        -e 's#(Z:)?[^ :]*[/\\]hosts[/\\][a-z]+\.(win|linux)#HOST#g' \
        -e 's#[0-9]+(\.[0-9]+)? (seconds|ms)#N \2#g'
}

# A folder of its own with the Windows programs, whose run logs and journals then stay there.
windows_programs() {
    mkdir -p "$1"
    cp "$WIN_BIN/zephrane.exe" "$WIN_BIN/zephrane-cli.exe" "$WIN_BIN/Zephrane.htm" "$1/"
    cp "$WIN_BIN"/zephrane_*.dll "$1/"
}

linux_programs() {
    mkdir -p "$1"
    cp "$LINUX_BIN/zephrane" "$LINUX_BIN/zephrane-cli" "$LINUX_BIN/Zephrane.htm" "$1/"
    cp "$LINUX_BIN"/zephrane_*.dll "$1/" 2>/dev/null || true
}


step "a wizard that cannot open a window says so and ends"
# A Wine session begun without a display, as the terminal programs begin one: its desktop can
# draw no window, and a wizard that waited for answers there would wait for ever.
host="$base/headless.win"
windows_programs "$base/headless-programs"
wine_run "$WIN_BIN/zephrane-sim.exe" init "$(wine_path "$host")" --subscribers 3 --seed 1 >/dev/null
wineserver -k >/dev/null 2>&1 || true
wineserver -w
status=0
ZEPHRANE_HOST="$(wine_path "$host")" env -u DISPLAY timeout 300 \
    wine "$base/headless-programs/zephrane.exe" >"$base/headless.out" 2>&1 || status=$?
[ "$status" != 124 ] || fail "the wizard without a window hung" "$base/headless.out"
[ "$status" = 2 ] || fail "the wizard without a window ended with $status, not 2" "$base/headless.out"
grep -q "zephrane: cannot open a window" "$base/headless.out" ||
    fail "the wizard without a window did not say why it ended" "$base/headless.out"
wineserver -k >/dev/null 2>&1 || true

step "the wizard's pages under Wine are the Linux wizard's pages"
# As scripts/screenshots does on Linux: a host whose runs were interrupted three times right
# after a removal, so that the walk starts on the recovery page, whose recovery it stops after
# the first of the three.
host="$base/shots.win"
programs="$base/shots-programs"
windows_programs "$programs"
wine_run "$WIN_BIN/zephrane-sim.exe" init "$(wine_path "$host")" --subscribers 60 --seed 2 >/dev/null
wine_run "$WIN_BIN/zephrane-sim.exe" set "$(wine_path "$host")" virtual-time on >/dev/null
wine_run "$WIN_BIN/zephrane-sim.exe" set "$(wine_path "$host")" abort-after removed >/dev/null
for run in 1 2 3; do
    ZEPHRANE_HOST="$(wine_path "$host")" wine_run "$programs/zephrane-cli.exe" \
        --template defaultTemplate --all --yes >/dev/null 2>&1 || true
done
wine_run "$WIN_BIN/zephrane-sim.exe" set "$(wine_path "$host")" abort-after "" >/dev/null
wine_run "$WIN_BIN/zephrane-sim.exe" set "$(wine_path "$host")" virtual-time off >/dev/null
rm -rf "$PICTURES"
mkdir -p "$PICTURES"
ZEPHRANE_HOST="$(wine_path "$host")" ZEPHRANE_SCREENSHOTS="$(wine_path "$PICTURES")" \
    wine_on_display "$programs/zephrane.exe" Advanced SkipDLSync >"$base/shots-win.out" 2>&1 ||
    fail "the picture walk of zephrane.exe failed" "$base/shots-win.out"
ZEPH_BUILD="$LINUX_BUILD" QT_QPA_PLATFORM=xcb "$ROOT/scripts/screenshots" "$base/pictures-linux" \
    >"$base/shots-linux.out" 2>&1 || fail "the Linux picture walk failed" "$base/shots-linux.out"
python3 "$(dirname "$0")/compare_pages.py" "$PICTURES" "$base/pictures-linux" \
    >"$base/pages.out" 2>&1 || fail "the pages differ" "$base/pages.out"
cat "$base/pages.out"

step "a reset clicked through the wizard under Wine leaves the server as on Linux"
win_host="$base/hosts/reset.win"
linux_host="$base/hosts/reset.linux"
mkdir -p "$base/hosts"
wine_run "$WIN_BIN/zephrane-sim.exe" init "$(wine_path "$win_host")" --subscribers 15 --seed 7 \
    >/dev/null
wine_run "$WIN_BIN/zephrane-sim.exe" set "$(wine_path "$win_host")" virtual-time on >/dev/null
"$LINUX_BIN/zephrane-sim" init "$linux_host" --subscribers 15 --seed 7 >/dev/null
"$LINUX_BIN/zephrane-sim" set "$linux_host" virtual-time on >/dev/null
windows_programs "$base/reset-win"
linux_programs "$base/reset-linux"
win_status=0
linux_status=0
ZEPHRANE_HOST="$(wine_path "$win_host")" ZEPHRANE_DRIVE_RESET=defaultTemplate \
    wine_on_display "$base/reset-win/zephrane.exe" >"$base/reset-win.out" 2>"$base/reset-win.err" ||
    win_status=$?
ZEPHRANE_HOST="$linux_host" ZEPHRANE_DRIVE_RESET=defaultTemplate QT_QPA_PLATFORM=offscreen \
    "$base/reset-linux/zephrane" >"$base/reset-linux.out" 2>"$base/reset-linux.err" ||
    linux_status=$?
[ "$linux_status" = 0 ] || fail "the Linux wizard's run ended with $linux_status" "$base/reset-linux.err"
[ "$win_status" = 0 ] || fail "the wizard's run under Wine ended with $win_status" "$base/reset-win.err"
grep -q "reset process complete" "$base/reset-win.out" ||
    fail "the wizard under Wine showed no closing message" "$base/reset-win.out"
diff <(normalised <"$base/reset-win.out") <(normalised <"$base/reset-linux.out") \
    >"$base/diff.out" || fail "the closing messages differ" "$base/diff.out"
win_logs=("$base"/reset-win/logs/Zephrane_Log_*.TXT)
linux_logs=("$base"/reset-linux/logs/Zephrane_Log_*.TXT)
[ "${#win_logs[@]}" = 1 ] && [ -f "${win_logs[0]}" ] ||
    fail "the run under Wine left not one run log beside the program"
[ "${#linux_logs[@]}" = 1 ] && [ -f "${linux_logs[0]}" ] ||
    fail "the Linux run left not one run log beside the program"
diff <(normalised <"${win_logs[0]}") <(normalised <"${linux_logs[0]}") >"$base/diff.out" ||
    fail "the run logs differ" "$base/diff.out"
ZEPHRANE_HOST="$(wine_path "$win_host")" wine_run "$WIN_BIN/zephrane-cli.exe" --all --list \
    >"$base/list-win.out" 2>&1 || fail "the subscribers under Wine cannot be listed" "$base/list-win.out"
ZEPHRANE_HOST="$linux_host" "$LINUX_BIN/zephrane-cli" --all --list >"$base/list-linux.out" 2>&1 ||
    fail "the subscribers on Linux cannot be listed" "$base/list-linux.out"
diff <(normalised <"$base/list-win.out") <(normalised <"$base/list-linux.out") \
    >"$base/diff.out" || fail "the servers differ after the runs" "$base/diff.out"
wine_run "$WIN_BIN/zephrane-sim.exe" check "$(wine_path "$win_host")" >"$base/check.out" 2>&1 ||
    fail "the invariants do not hold after the wizard's run under Wine" "$base/check.out"

echo "The wizard under Wine: all passed."
