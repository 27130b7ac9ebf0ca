#!/usr/bin/env bash
# The terminal programs built for Windows, run under Wine on fresh stand-in hosts beside the
# Linux programs on twins of those hosts (same seed): the start-up checks, the selection
# criteria, a whole reset and the recovery of an interrupted one must print the same (times,
# paths and line ends aside) and leave the server's invariants whole.
#
#   tests/wine/scenarios.sh WINDOWS_BIN LINUX_BIN WORK
set -euo pipefail
source "$(dirname "$0")/wine.sh"
WIN_BIN="$1"
LINUX_BIN="$2"
WORK="$3"
wine_start "$WORK"

hosts="$WORK/hosts"
rm -rf "$hosts"
mkdir -p "$hosts"

# Makes one host per program: NAME.win (made by zephrane-sim.exe) and NAME.linux.
twin_hosts() {
    local name="$1"
    shift
    wine_run "$WIN_BIN/zephrane-sim.exe" init "$(wine_path "$hosts/$name.win")" "$@" >/dev/null
    "$LINUX_BIN/zephrane-sim" init "$hosts/$name.linux" "$@" >/dev/null
    both_set "$name" virtual-time on
}

both_set() {
    local name="$1"
    shift
    wine_run "$WIN_BIN/zephrane-sim.exe" set "$(wine_path "$hosts/$name.win")" "$@" >/dev/null
    "$LINUX_BIN/zephrane-sim" set "$hosts/$name.linux" "$@" >/dev/null
}

# Runs zephrane-cli on both twins; both exit statuses and outputs must agree.
both_cli() {
    local name="$1"
    shift
    local win_status=0 linux_status=0
    ZEPHRANE_HOST="$(wine_path "$hosts/$name.win")" wine_run "$WIN_BIN/zephrane-cli.exe" "$@" \
        >"$WORK/win.out" 2>&1 || win_status=$?
    ZEPHRANE_HOST="$hosts/$name.linux" "$LINUX_BIN/zephrane-cli" "$@" >"$WORK/linux.out" 2>&1 ||
        linux_status=$?
    if [ "$win_status" != "$linux_status" ]; then
        fail "zephrane-cli $*: exit status $win_status under Wine, $linux_status on Linux" \
            "$WORK/win.out"
    fi
    if ! diff <(normalised <"$WORK/win.out") <(normalised <"$WORK/linux.out") >"$WORK/diff.out"; then
        fail "zephrane-cli $*: the Windows program printed otherwise" "$WORK/diff.out"
    fi
    last_status="$win_status"
}

expect_status() {
    if [ "$last_status" != "$1" ]; then
        fail "expected exit status $1, got $last_status" "$WORK/win.out"
    fi
}

invariants_hold() {
    wine_run "$WIN_BIN/zephrane-sim.exe" check "$(wine_path "$hosts/$1.win")" >"$WORK/check.out" 2>&1 ||
        fail "the invariants of $1 do not hold after the Windows program" "$WORK/check.out"
}

step "start-up checks pass and list the templates"
twin_hosts startup --subscribers 12 --seed 5
both_cli startup --list-templates
expect_status 0
grep -q defaultTemplate "$WORK/win.out" || fail "no template listed" "$WORK/win.out"

step "a stopped service fails the start-up checks"
both_set startup service.Fennix 1
both_cli startup --list-templates
[ "$last_status" != 0 ] || fail "a stopped service passed the start-up checks" "$WORK/win.out"
grep -q Fennix "$WORK/win.out" || fail "the message does not name the service" "$WORK/win.out"

step "each selection criterion selects the same subscribers"
twin_hosts criteria --subscribers 30 --seed 11
for selection in "--all" "--extensions 1000-1015" "--switch 1" "--switch 2"; do
    # shellcheck disable=SC2086
    both_cli criteria $selection --list --format csv
    expect_status 0
done

step "a whole reset does the same and leaves the server whole"
twin_hosts reset --subscribers 15 --seed 7
both_cli reset --template defaultTemplate --all --yes
invariants_hold reset
both_cli reset --all --list
expect_status 0

step "an interrupted reset is recovered"
twin_hosts recover --subscribers 8 --seed 9
both_set recover abort-after sp_DeleteSubscriber
both_cli recover --template defaultTemplate --all --yes
expect_status 86
both_set recover abort-after ""
both_cli recover --recover --yes
# The removal was never committed, so the recovery resets the subscriber whole, as the run would
# have: its mailbox clean-up reports, as the uninterrupted run does, that this host's subscriber
# has no mailbox on MAILBR01, and the recovery ends with status 1 on both systems alike (both_cli
# compares them). That mailbox is the recovery's only fault.
expect_status 1
grep -q '^(error) would not resolve the mailbox .*MAILBR01' "$WORK/win.out" ||
    fail "the recovery failed otherwise than on the subscriber's missing mailbox" "$WORK/win.out"
[ "$(grep -c '^(error)' "$WORK/win.out")" = 2 ] ||
    fail "the recovery logged errors besides the missing mailbox's two lines" "$WORK/win.out"
invariants_hold recover
both_cli recover --all --list
expect_status 0

step "a list saved in the system's code page (932 on a Japanese system) is read in it"
twin_hosts codepage --subscribers 6 --seed 13
# A subscriber with a Japanese alias (the alias in UTF-8, as the server keeps it).
japanese=$'\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e'
first="$(ZEPHRANE_HOST="$hosts/codepage.linux" "$LINUX_BIN/zephrane-cli" --all --list | sed -n 2p |
    cut -f1)"
for db in "$hosts/codepage.win/TarvoDb.sqlite" "$hosts/codepage.linux/TarvoDb.sqlite"; do
    sqlite3 "$db" "UPDATE Subscriber SET Alias='$japanese' WHERE Alias='$first';
        UPDATE GlobalSubscriber SET Alias='$japanese' WHERE Alias='$first';"
done
# The same alias in Shift-JIS (code page 932), as a spreadsheet there saves it.
printf 'alias,extension\r\n\x93\xfa\x96\x7b\x8c\xea,\r\n' >"$WORK/japanese.csv"
LC_ALL=ja_JP.UTF-8 ZEPHRANE_HOST="$(wine_path "$hosts/codepage.win")" \
    wine_run "$WIN_BIN/zephrane-cli.exe" --csv "$(wine_path "$WORK/japanese.csv")" --list \
    >"$WORK/win.out" 2>&1 || fail "the list in code page 932 was refused" "$WORK/win.out"
grep -qF "1 line(s) read, 1 subscriber(s) selected" "$WORK/win.out" ||
    fail "the alias in code page 932 did not select its subscriber" "$WORK/win.out"
# Where the system's code page is another (Linux reads Windows-1252), the bytes name no one.
ZEPHRANE_HOST="$hosts/codepage.linux" "$LINUX_BIN/zephrane-cli" --csv "$WORK/japanese.csv" \
    --list >"$WORK/linux.out" 2>&1 || true
grep -qF "1 line(s) read, 0 subscriber(s) selected" "$WORK/linux.out" ||
    fail "Windows-1252 took the bytes of code page 932 for the alias" "$WORK/linux.out"

echo "Windows scenarios under Wine: all passed."
