#!/usr/bin/env bash
# zephrane-sim serve through FreeTDS's tsql: a login in every TDS version, statements and
# their errors in one session, a refused password, and 10,000 rows.
set -uo pipefail
if ! command -v tsql >/dev/null 2>&1; then
    echo "FreeTDS's tsql is not installed (scripts/test installs freetds-bin)" >&2
    exit 1
fi
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}
# Runs tsql with the statements on its standard input, each ended by "go".
tsql_run() {
    local version="$1" password="$2"
    TDSVER="$version" timeout 300 tsql -H 127.0.0.1 -p "$ZEPH_PORT" -U "$ZEPH_LOGIN" \
        -P "$password" -D TarvoDb -o q 2>&1
}

for version in 7.1 7.2 7.3 7.4; do
    out="$(printf '%s\ngo\n%s\ngo\n%s\ngo\nquit\n' \
        "SELECT count(*) FROM Subscriber" \
        "SELECT * FROM NoSuchTable" \
        "SELECT 'still' + ' here' AS words, 6 * 7 AS answer" | tsql_run "$version" "$ZEPH_PASSWORD")"
    grep -qx '100' <<<"$out" || fail "TDS $version: the count of subscribers: $out"
    grep -q 'NoSuchTable' <<<"$out" || fail "TDS $version: the error of a missing table: $out"
    grep -q '42' <<<"$out" || fail "TDS $version: the session after the error: $out"
    echo "ok:     TDS $version"
done

out="$(printf 'SELECT 1\ngo\nquit\n' | tsql_run 7.4 not-the-password)"
grep -q "Login failed for user 'zephrane'" <<<"$out" || fail "a wrong password: $out"
echo "ok:     a wrong password is refused"

rows="$(printf 'SELECT a.Alias, b.Alias FROM Subscriber a CROSS JOIN Subscriber b\ngo\nquit\n' |
    tsql_run 7.4 "$ZEPH_PASSWORD" | grep '	' | grep -vc '^Alias	Alias$')"
[ "$rows" -eq 10000 ] || fail "10,000 rows: got $rows"
echo "ok:     10,000 rows"
exit "$failed"
