#!/usr/bin/env bash
# Runs one client suite against a real `zephrane-sim serve` on a fresh stand-in host:
#   run.sh BIN_DIR SUITE [SERVE OPTIONS...]
# The host gets 100 subscribers and a known SQL password; the suite finds the server through
# ZEPH_PORT, ZEPH_LOGIN, ZEPH_PASSWORD, ZEPH_SIM, ZEPH_HOST_DIR and ZEPH_SERVE_LOG. The suite
# fails when its client is missing (the scripts install every one), and the run fails when the
# server did not live through the suite.
set -euo pipefail
BIN_DIR="$1"
SUITE="$2"
shift 2
HERE="$(cd "$(dirname "$0")" && pwd)"

WORK="$(mktemp -d)"
SERVE_PID=""
cleanup() {
    if [ -n "$SERVE_PID" ]; then
        kill -9 "$SERVE_PID" 2>/dev/null || true
        wait "$SERVE_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

export ZEPH_SIM="$BIN_DIR/zephrane-sim"
export ZEPH_HOST_DIR="$WORK/host"
export ZEPH_LOGIN=zephrane
export ZEPH_PASSWORD='Client-Suite-s3cret'
export ZEPH_SERVE_LOG="$WORK/serve.log"
"$ZEPH_SIM" init "$ZEPH_HOST_DIR" --subscribers 100 --seed 11 >/dev/null
"$ZEPH_SIM" set "$ZEPH_HOST_DIR" sql-password "$ZEPH_PASSWORD" >/dev/null
"$ZEPH_SIM" set "$ZEPH_HOST_DIR" virtual-time on >/dev/null

# Under AddressSanitizer freed memory is held back (256 MB by default) before it is used again;
# a small hold keeps the server's resident size what the program itself makes it.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=16" \
    "$ZEPH_SIM" serve "$ZEPH_HOST_DIR" --port 0 --verbose "$@" >"$ZEPH_SERVE_LOG" 2>&1 &
SERVE_PID=$!
export ZEPH_SERVE_PID="$SERVE_PID"
for _ in $(seq 1 600); do
    if grep -q 'over TDS on 127.0.0.1 port' "$ZEPH_SERVE_LOG"; then
        break
    fi
    if ! kill -0 "$SERVE_PID" 2>/dev/null; then
        echo "zephrane-sim serve did not start:" >&2
        cat "$ZEPH_SERVE_LOG" >&2
        exit 1
    fi
    sleep 0.1
done
ZEPH_PORT="$(sed -n 's/.*over TDS on 127.0.0.1 port \([0-9]*\).*/\1/p' "$ZEPH_SERVE_LOG" | head -n 1)"
if [ -z "$ZEPH_PORT" ]; then
    echo "zephrane-sim serve never said its port" >&2
    exit 1
fi
export ZEPH_PORT

status=0
if [ "$SUITE" = "--shell" ]; then bash -c "$ZEPH_SHELL" || status=$?; SUITE=none; fi
case "$SUITE" in
none) ;;
*.py) /usr/bin/python3 "$HERE/$SUITE" || status=$? ;;
*.js) node "$HERE/$SUITE" || status=$? ;;
*.sh) bash "$HERE/$SUITE" || status=$? ;;
*)
    echo "unknown suite $SUITE" >&2
    exit 2
    ;;
esac

if ! kill -0 "$SERVE_PID" 2>/dev/null; then
    echo "zephrane-sim serve died during the suite; its log ends:" >&2
    tail -n 30 "$ZEPH_SERVE_LOG" >&2
    exit 1
fi
if [ "$status" -ne 0 ]; then
    echo "--- the server's log ends:" >&2
    tail -n 40 "$ZEPH_SERVE_LOG" >&2
fi
exit "$status"
