#!/usr/bin/env bash
# A whole reset clicked through the wizard's windows (ZEPHRANE_DRIVE_RESET: the template, View,
# Select All, Next, Reset Subscribers, Yes, the closing message, Exit) does what zephrane-cli
# does with the same template and all subscribers on a twin host (same seed): the same run log
# (the program's name and times aside), the same subscribers afterwards, the server whole.
#
#   tests/ui/driven_reset.sh BIN WORK
set -euo pipefail
BIN="$1"
WORK="$2"
rm -rf "$WORK"
mkdir -p "$WORK/wizard" "$WORK/cli"

fail() {
    echo "FAILED: $1" >&2
    [ -z "${2:-}" ] || sed -n '1,40p' "$2" >&2
    exit 1
}

# The run log without what differs by nature: the program's name and the times.
normalised() {
    sed -E -e 's#^Running zephrane(-cli)? version#Running PROGRAM version#' \
        -e 's#[0-9]{1,2}/[0-9]{1,2}/[0-9]{4} [0-9]{1,2}:[0-9]{2}:[0-9]{2} [AP]M#TIME#g' \
        -e 's#[0-9]{8}_[0-9]{2}_[0-9]{2}_[0-9]{2}(_[0-9]+)?#STAMP#g' -e 's#(wizard|cli)/host#HOST#g'
}

for side in wizard cli; do
    "$BIN/zephrane-sim" init "$WORK/$side/host" --subscribers 12 --seed 7 >/dev/null
    "$BIN/zephrane-sim" set "$WORK/$side/host" virtual-time on >/dev/null
done
# The programs run from copies of their own, so that their logs stay apart.
cp "$BIN/zephrane" "$BIN/Zephrane.htm" "$WORK/wizard/"
cp "$BIN/zephrane-cli" "$WORK/cli/"

status=0
ZEPHRANE_HOST="$WORK/wizard/host" ZEPHRANE_DRIVE_RESET=defaultTemplate \
    "$WORK/wizard/zephrane" >"$WORK/wizard.out" 2>"$WORK/wizard.err" || status=$?
[ "$status" = 0 ] || fail "the wizard's run ended with $status" "$WORK/wizard.err"
grep -q "reset process complete" "$WORK/wizard.out" ||
    fail "the wizard showed no closing message" "$WORK/wizard.out"
ZEPHRANE_HOST="$WORK/cli/host" "$WORK/cli/zephrane-cli" --template defaultTemplate --all --yes \
    >"$WORK/cli.out" 2>&1 || true

logs=("$WORK"/wizard/logs/Zephrane_Log_*.TXT "$WORK"/cli/logs/Zephrane_Log_*.TXT)
[ "${#logs[@]}" = 2 ] && [ -f "${logs[0]}" ] && [ -f "${logs[1]}" ] ||
    fail "not one run log beside each program"
diff <(normalised <"${logs[0]}") <(normalised <"${logs[1]}") >"$WORK/diff.out" ||
    fail "the wizard's run log differs from zephrane-cli's" "$WORK/diff.out"
for side in wizard cli; do
    ZEPHRANE_HOST="$WORK/$side/host" "$BIN/zephrane-cli" --all --list >"$WORK/$side.list" 2>&1 ||
        fail "cannot list the subscribers after the $side's run" "$WORK/$side.list"
    "$BIN/zephrane-sim" check "$WORK/$side/host" >"$WORK/$side.check" 2>&1 ||
        fail "the invariants do not hold after the $side's run" "$WORK/$side.check"
done
# Only the ids a run makes differ.
diff <(sed -E 's#\{[0-9A-F-]{36}\}#{GUID}#g' "$WORK/wizard.list") \
    <(sed -E 's#\{[0-9A-F-]{36}\}#{GUID}#g' "$WORK/cli.list") >"$WORK/diff.out" ||
    fail "the subscribers differ after the two runs" "$WORK/diff.out"
echo "A reset clicked through the wizard does what zephrane-cli does."
