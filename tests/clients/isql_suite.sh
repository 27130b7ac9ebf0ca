#!/usr/bin/env bash
# zephrane-sim serve through unixODBC's isql over FreeTDS's driver: `help` lists
# the host's tables (SQLTables), `help TABLE` its columns (SQLColumns), statements run, and an
# error leaves the session going.
set -uo pipefail
if ! command -v isql >/dev/null 2>&1; then
    echo "unixODBC's isql is not installed (scripts/test installs unixodbc)" >&2
    exit 1
fi
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}
connection="Driver={SQL Server};Server=127.0.0.1,$ZEPH_PORT;Database=TarvoDb;UID=$ZEPH_LOGIN;PWD=$ZEPH_PASSWORD;ClientCharset=UTF-8"
# -v: errors are written too.
run() {
    local program="$1"
    timeout 300 "$program" -b -v -d'|' -c -k "$connection" 2>&1
}

for program in isql; do
    out="$(echo help | run "$program")"
    grep -q '^TarvoDb|dbo|Subscriber|TABLE|' <<<"$out" || fail "$program help: $out"
    grep -q '^TarvoDb|dbo|vw_Subscriber|VIEW|' <<<"$out" || fail "$program help (views): $out"
    if grep -q 'zeph_' <<<"$out"; then fail "$program help lists the stand-in's own tables"; fi
    echo "ok:     $program help"

    out="$(echo 'help Subscriber' | run "$program")"
    grep -q '^TarvoDb|dbo|Subscriber|SubscriberType|4|int|' <<<"$out" ||
        fail "$program help Subscriber: $out"
    [ "$(grep -c '^TarvoDb|dbo|Subscriber|' <<<"$out")" -eq 28 ] ||
        fail "$program help Subscriber: not 28 columns"
    echo "ok:     $program help Subscriber"

    out="$(printf '%s\n%s\n%s\n' "SELECT count(*) AS n FROM Subscriber" \
        "SELECT * FROM NoSuchTable" "SELECT 'after' AS word" | run "$program")"
    grep -qx '100' <<<"$out" || fail "$program count: $out"
    grep -q 'NoSuchTable' <<<"$out" || fail "$program error: $out"
    grep -qx 'after' <<<"$out" || fail "$program after the error: $out"
    echo "ok:     $program statements"
done
exit "$failed"
