#!/usr/bin/env bash
# zephrane-cli.exe on the machine itself (no ZEPHRANE_HOST) under Wine, the server's side made of
# a stand-in host: its registry imported into the system registry (regedit /S), three stand-in
# services installed in the service manager, its database served by `zephrane-sim serve` on
# Linux and reached through Wine's ODBC, the Linux driver manager and FreeTDS, its mailboxes
# behind a stand-in "MAPI.Session" COM server, its recordings on a Wine drive.
#
# The start-up checks must read the registry (version, back end) and the service manager (the
# connector service's state: stopped, paused, running); the start-up hook test.bat beside the
# program is started with the program's version. Then the program's own connection text
# reaches the server, and a whole reset leaves the same log, the same database and the same
# files as the reset of the stand-in twin host (same seed) by the Linux program.
#
#   tests/wine/machine.sh WINDOWS_BIN LINUX_BIN WORK
set -euo pipefail
source "$(dirname "$0")/wine.sh"
WIN_BIN="$1"
LINUX_BIN="$2"
WORK="$(realpath -m "$3")"
HERE="$(cd "$(dirname "$0")" && pwd)"
wine_start "$WORK"
# A prefix of its own: the services and registry keys installed here stay out of the others.
export WINEPREFIX="$WORK/machine-prefix"
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
serve_pid=""
trap 'if [ -n "$serve_pid" ]; then kill "$serve_pid" 2>/dev/null || true; fi
    wineserver -k >/dev/null 2>&1 || true' EXIT

# The server's side: the machine's host, and its twin for the stand-in run.
host="$WORK/machine-host"
twin="$WORK/standin-host"
rm -rf "$host" "$twin"
for folder in "$host" "$twin"; do
    "$LINUX_BIN/zephrane-sim" init "$folder" --subscribers 5 --seed 7 >/dev/null
done

# The persistent Wine server keeps the services between the commands; ended with the test.
wineserver -p
wineboot -i >/dev/null 2>&1 || fail "wineboot could not make the prefix $WINEPREFIX"
# A service process started on a busy machine may take longer to answer the service manager
# than it waits by default.
wine_run reg add 'HKLM\System\CurrentControlSet\Control' /v ServicesPipeTimeout /t REG_DWORD \
    /d 120000 /f >/dev/null 2>&1
# The server's recordings and mail store lie on its drive D:.
ln -sfn "$host" "$WINEPREFIX/dosdevices/d:"
# The service manager reads the time-out when it starts: it starts again with the next program.
wineserver -k
wineserver -w
wineserver -p

# The Linux driver manager behind Wine's ODBC reads the test's own list of drivers, empty until
# the server's driver is set up.
odbc="$WORK/odbc"
rm -rf "$odbc"
mkdir -p "$odbc"
: >"$odbc/odbcinst.ini"
: >"$odbc/odbc.ini"
export ODBCSYSINI="$odbc"

program="$WORK/program"
rm -rf "$program"
mkdir -p "$program"
cp "$WIN_BIN/zephrane-cli.exe" "$program/"
x86_64-w64-mingw32-gcc-posix -municode -O1 -Wall -Wextra -Werror -static \
    -o "$WORK/standin_service.exe" "$HERE/standin_service.c"
x86_64-w64-mingw32-g++-posix -std=c++20 -municode -O1 -Wall -Wextra -Werror -static \
    -o "$WORK/standin_mapi.exe" "$HERE/standin_mapi.cpp" -lole32 -loleaut32 -luuid
service() {
    wine_run "$WORK/standin_service.exe" "$@" >"$WORK/service.out" 2>&1 ||
        fail "standin_service $*" "$WORK/service.out"
}

# Runs the program on the machine; its exit status in last_status, its output in WORK/cli.out.
# An English locale: the system's ANSI code page is Windows-1252.
machine_cli() {
    last_status=0
    env -u ZEPHRANE_HOST -u ZEPHRANE_DATABASE LC_ALL=en_US.UTF-8 wine "$program/zephrane-cli.exe" \
        "$@" >"$WORK/cli.out" 2>&1 || last_status=$?
}

expect_message() {
    if [ "$last_status" = 0 ]; then
        fail "the start-up checks passed, expected: $1" "$WORK/cli.out"
    fi
    grep -qF "$1" "$WORK/cli.out" || fail "expected the message: $1" "$WORK/cli.out"
}

# The host's registry as the machine holds it: the server's keys in the registry's 32-bit view
# (regedit, 64-bit here, writes them under WOW6432Node), its recordings folder on drive D:.
# Imported as UTF-16, the form regedit writes itself.
import_registry() {
    sed -e 's#^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\#[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\#I' \
        -e 's#^"Root Path"="C:#"Root Path"="D:#' "$host/registry.reg" |
        iconv -f UTF-8 -t UTF-16 >"$WORK/import.reg"
    wine_run regedit /S "$(wine_path "$WORK/import.reg")"
}

step "with no stand-in host the program uses the machine itself"
machine_cli --host-info
grep -q "^host: this machine" "$WORK/cli.out" || fail "not the machine" "$WORK/cli.out"
grep -qF "database: ODBC: Driver={SQL Server};server=;database=TarvoDb" "$WORK/cli.out" ||
    fail "not the server's own connection text" "$WORK/cli.out"

step "an empty system registry fails the version check"
machine_cli --list-templates
expect_message "only works on versions of Tarvo 4.0(3) or later"

step "a host's registry imported with regedit passes it"
# The services first: installing one names its account, which the host's registry then sets.
for name in Dravik Morvin Fennix; do
    service install "$name"
done
import_registry
machine_cli --list-templates
expect_message "The Fennix service must be up and runnig"

step "a paused connector service fails the check"
service control Fennix start
service control Fennix pause
machine_cli --list-templates
expect_message "The Fennix service must be up and runnig"

step "a running one passes it; the hook starts; without the server's driver no database opens"
service control Fennix continue
printf '@echo %%* > "%s"\r\n' "$(wine_path "$WORK/hook.txt")" >"$program/test.bat"
machine_cli --list-templates
expect_message "Unable to open TarvoDB with necessary rights"
for _ in $(seq 50); do
    [ -s "$WORK/hook.txt" ] && break
    sleep 0.2
done
grep -q "^1\.0\.[0-9]" "$WORK/hook.txt" 2>/dev/null || fail "test.bat was not started with the version" \
    "$WORK/hook.txt"
rm -f "$program/test.bat"

step "the back end named in the registry decides the service checked"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Ambrel\\SystemParameters\\1.0]\r\n"IDCProgID"="Ostrix.DirectoryConnector.1"\r\n' |
    iconv -f UTF-8 -t UTF-16 >"$WORK/backend.reg"
wine_run regedit /S "$(wine_path "$WORK/backend.reg")"
machine_cli --list-templates
expect_message "The Morvin service must be up and runnig"
service control Morvin start
machine_cli --list-templates
expect_message "Unable to open TarvoDB with necessary rights"
service control Morvin stop
import_registry

step "the program's own connection text reaches the server through Wine's ODBC and FreeTDS"
# Wine's ODBC hands every call to the Linux driver manager, which finds the driver "SQL Server"
# in a list of the test's own. That driver is FreeTDS's, completed with what the machine's own
# driver does: an empty server is the local instance (here `serve`), no login the account's.
freetds="$(dpkg -L tdsodbc | grep '/libtdsodbc\.so$' | head -n 1)"
[ -f "$freetds" ] || fail "FreeTDS's ODBC driver (tdsodbc) is not installed"
ln -s "$freetds" "$odbc/libtdsodbc.so.0"
g++ -std=c++20 -shared -fPIC -O1 -Wall -Wextra -Werror -DZEPH_FREETDS_DRIVER="\"$freetds\"" \
    -o "$odbc/local_sql_server.so" "$HERE/local_sql_server.cpp" -Wl,--no-as-needed \
    "$odbc/libtdsodbc.so.0" -Wl,-rpath,'$ORIGIN' -ldl
printf '[SQL Server]\nDescription=FreeTDS as the local instance\nDriver=%s\n' \
    "$odbc/local_sql_server.so" >"$odbc/odbcinst.ini"
"$LINUX_BIN/zephrane-sim" serve "$host" --port 0 >"$WORK/serve.out" 2>&1 &
serve_pid=$!
port=""
for _ in $(seq 150); do
    port="$(sed -n 's/.* port \([0-9][0-9]*\).*/\1/p' "$WORK/serve.out" | head -n 1)"
    [ -n "$port" ] && break
    kill -0 "$serve_pid" 2>/dev/null || fail "zephrane-sim serve ended" "$WORK/serve.out"
    sleep 0.2
done
[ -n "$port" ] || fail "zephrane-sim serve did not say its port" "$WORK/serve.out"
password="$(sed -n 's/^sql-password=//p' "$host/stand-in.conf")"
export ZEPH_LOCAL_SERVER="127.0.0.1,$port" ZEPH_LOCAL_LOGIN=zephrane ZEPH_LOCAL_PASSWORD="$password"
machine_cli --list-templates
[ "$last_status" = 0 ] || fail "the start-up checks did not pass over ODBC" "$WORK/cli.out"
grep -q defaultTemplate "$WORK/cli.out" || fail "no template listed" "$WORK/cli.out"
# Every subscriber as the stand-in lists them, read through the same path.
machine_cli --all --list
[ "$last_status" = 0 ] || fail "the subscribers were not listed over ODBC" "$WORK/cli.out"
ZEPHRANE_HOST="$twin" "$LINUX_BIN/zephrane-cli" --all --list >"$WORK/twin.out" 2>&1 ||
    fail "the stand-in twin did not list its subscribers" "$WORK/twin.out"
diff <(tr -d '\r' <"$WORK/cli.out") "$WORK/twin.out" >"$WORK/diff.out" ||
    fail "the machine lists other subscribers than its twin" "$WORK/diff.out"

step "a connection text that names its server and login is taken as it is"
last_status=0
ZEPHRANE_DATABASE="Driver={SQL Server};Server=127.0.0.1,$port;Database=TarvoDb;UID=zephrane;PWD=not-$password" \
    wine "$program/zephrane-cli.exe" --list-templates >"$WORK/cli.out" 2>&1 || last_status=$?
expect_message "Unable to open TarvoDB with necessary rights"
ZEPHRANE_DATABASE="Driver={SQL Server};Server=127.0.0.1,$port;Database=TarvoDb;UID=zephrane;PWD=$password" \
    wine "$program/zephrane-cli.exe" --list-templates >"$WORK/cli.out" 2>&1 || { echo "status $?" >>"$WORK/cli.out"; false; } ||
    fail "the full connection text was refused" "$WORK/cli.out"

step "the mail library: a stand-in MAPI.Session registered as a local COM server"
trace="$WORK/mapi-trace.txt"
rm -f "$trace"
wine_run "$WORK/standin_mapi.exe" register 'D:\mailstore' "$(wine_path "$trace")" ||
    fail "the stand-in mail library could not be registered"

# The rows of a host's database, one line each, sorted: times left out, ids the run made
# written <new> (those not in the file of known ids given), the server's own id left out.
server_rows() {
    local db="$1/TarvoDb.sqlite" known="$2" table columns
    for table in $(sqlite3 "$db" "SELECT name FROM sqlite_master WHERE type = 'table'
            AND name NOT LIKE 'sqlite%' AND name <> 'zeph_ServerIdentity' ORDER BY name"); do
        columns="$(sqlite3 "$db" "SELECT group_concat('''' || name || '='' || quote(\"' || name ||
            '\")', ' || ''|'' || ') FROM pragma_table_info('$table') WHERE name NOT LIKE '%Time%'
            AND name NOT IN ('Created', 'Completed')")"
        sqlite3 "$db" "SELECT '$table|' || $columns FROM \"$table\""
    done | awk -v known="$known" '
        function hex(n,    s) { s = ""; while (n-- > 0) s = s "[0-9A-Fa-f]"; return s }
        BEGIN {
            while (known != "" && (getline id <known) > 0) ids[id] = 1
            # Spelt out: not every awk takes counted repetitions.
            guid = "[{]?" hex(8) "-" hex(4) "-" hex(4) "-" hex(4) "-" hex(12) "[}]?"
        }
        {
            out = ""; line = $0
            while (match(line, guid)) {
                id = substr(line, RSTART, RLENGTH)
                out = out substr(line, 1, RSTART - 1) (known == "" || (id in ids) ? id : "<new>")
                line = substr(line, RSTART + RLENGTH)
            }
            print out line
        }' | sort
}

# The files of a host that a run may delete: recordings and mailbox messages.
host_files() {
    (cd "$1" && find Pradix mailstore -type f | sort)
}

# A Windows path the program printed, as a Linux path.
linux_path() {
    local path="${1#Z:}"
    echo "${path//\\//}"
}

# A file of the run without what differs by nature: line ends and times; read from the code
# page given (UTF-8 when none).
log_normalised() {
    iconv -f "${2:-UTF-8}" -t UTF-8 <"$1" | tr -d '\r' |
        sed -E -e 's#[0-9]{1,2}/[0-9]{1,2}/[0-9]{4} [0-9]{1,2}:[0-9]{2}:[0-9]{2} [AP]M#TIME#g'
}

step "a whole reset on the machine: the same log, database and files as the stand-in's"
# The mail store fails two mailboxes alike on both hosts: the last does not resolve, the second
# has no sent items folder.
mapfile -t mailboxes < <(cd "$host/mailstore" && find . -mindepth 2 -maxdepth 2 -type d | sort)
[ "${#mailboxes[@]}" -ge 3 ] || fail "the host has fewer than three mailboxes"
for folder in "$host" "$twin"; do
    rm -rf "$folder/mailstore/${mailboxes[-1]}" "$folder/mailstore/${mailboxes[1]}/Sent Items"
done
# The second one's alias goes beyond ASCII ("o" with two dots after it), alike on both hosts:
# the machine's log holds it in the system's ANSI code page (Windows-1252 in an English
# locale), the Linux log in UTF-8; journals and failed-records files in UTF-8 on both.
address="${mailboxes[1]##*/}"
alias="$(sqlite3 "$host/TarvoDb.sqlite" "SELECT Alias FROM Subscriber WHERE SMTPAddress = '$address'")"
[ -n "$alias" ] || fail "no subscriber has the mailbox $address"
renamed="$alias"$'\xc3\xb6'
for folder in "$host" "$twin"; do
    sqlite3 "$folder/TarvoDb.sqlite" "UPDATE Subscriber SET Alias = '$renamed' WHERE Alias = '$alias';
        UPDATE GlobalSubscriber SET Alias = '$renamed' WHERE Alias = '$alias';"
done
server_rows "$host" "" | grep -oE '[{]?[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}[}]?' |
    sort -u >"$WORK/known-ids"
server_rows "$host" "$WORK/known-ids" >"$WORK/machine-before.rows"
server_rows "$twin" "$WORK/known-ids" >"$WORK/twin-before.rows"
diff "$WORK/machine-before.rows" "$WORK/twin-before.rows" >"$WORK/diff.out" ||
    fail "the twin hosts differ before the runs" "$WORK/diff.out"
messages_before="$(find "$host/mailstore" -type f | wc -l)"
machine_cli --template defaultTemplate --all --yes
cp "$WORK/cli.out" "$WORK/machine-reset.out"
machine_status="$last_status"
for line in "user mailbox cleaned" "would not resolve the mailbox" \
    "(The folder does not exist: Sent Items) in procedure RemoveSubscriberMessages"; do
    grep -qF "$line" "$WORK/machine-reset.out" ||
        fail "the mail library's run has no line: $line" "$WORK/machine-reset.out"
done
# The twin's workstation is the machine's, as its log header shows it.
account="$(tr -d '\r' <"$WORK/machine-reset.out" | sed -n 's/^Logged in user=//p' | head -n 1)"
[ -n "$account" ] || fail "the machine's log has no user line" "$WORK/machine-reset.out"
"$LINUX_BIN/zephrane-sim" set "$twin" domain "${account%%\\*}" >/dev/null
"$LINUX_BIN/zephrane-sim" set "$twin" user "${account#*\\}" >/dev/null
"$LINUX_BIN/zephrane-sim" set "$twin" virtual-time on >/dev/null
twin_status=0
ZEPHRANE_HOST="$twin" "$LINUX_BIN/zephrane-cli" --template defaultTemplate --all --yes \
    >"$WORK/twin-reset.out" 2>&1 || twin_status=$?
[ "$machine_status" = "$twin_status" ] ||
    fail "exit status $machine_status on the machine, $twin_status on the stand-in" \
        "$WORK/machine-reset.out"
diff <(normalised <"$WORK/machine-reset.out") <(normalised <"$WORK/twin-reset.out") \
    >"$WORK/diff.out" || fail "the machine's run printed otherwise than the stand-in's" "$WORK/diff.out"
for kind in "Log:CP1252" "Failed records:UTF-8"; do
    machine_file="$(linux_path "$(tr -d '\r' <"$WORK/machine-reset.out" |
        sed -n "s/^${kind%%:*}: \\([^ ]*\\).*/\\1/p" | head -n 1)")"
    twin_file="$(sed -n "s/^${kind%%:*}: \\([^ ]*\\).*/\\1/p" "$WORK/twin-reset.out" | head -n 1)"
    if [ ! -f "$machine_file" ] || [ ! -f "$twin_file" ]; then
        fail "no ${kind%%:*} file named" "$WORK/machine-reset.out"
    fi
    diff <(log_normalised "$machine_file" "${kind#*:}") <(log_normalised "$twin_file") \
        >"$WORK/diff.out" || fail "the machine's ${kind%%:*} file differs from the stand-in's" \
        "$WORK/diff.out"
    case "$kind" in
    Log:*) machine_log="$machine_file" ;;
    *) machine_failed="$machine_file" ;;
    esac
done
# The bytes themselves: the alias in Windows-1252 in the log, in UTF-8 in the others.
LC_ALL=C grep -qF "Alias=$alias"$'\xf6' "$machine_log" ||
    fail "the machine's log does not hold the alias in Windows-1252" "$machine_log"
LC_ALL=C grep -qF "$renamed" "$machine_failed" ||
    fail "the machine's failed-records file does not hold the alias in UTF-8" "$machine_failed"
LC_ALL=C grep -qF "$renamed" "${machine_log%/*}/$(basename "$machine_log" .TXT | sed 's/_Log_/_Journal_/').txt" ||
    fail "the machine's journal does not hold the alias in UTF-8" "$machine_log"
server_rows "$host" "$WORK/known-ids" >"$WORK/machine-after.rows"
server_rows "$twin" "$WORK/known-ids" >"$WORK/twin-after.rows"
diff "$WORK/machine-after.rows" "$WORK/twin-after.rows" >"$WORK/diff.out" ||
    fail "the machine's database differs from the stand-in's after the runs" "$WORK/diff.out"
! diff -q "$WORK/machine-before.rows" "$WORK/machine-after.rows" >/dev/null ||
    fail "the reset changed nothing in the database"
diff <(host_files "$host") <(host_files "$twin") >"$WORK/diff.out" ||
    fail "the machine's recordings or mailboxes differ from the stand-in's" "$WORK/diff.out"
kill "$serve_pid" 2>/dev/null || true
wait "$serve_pid" 2>/dev/null || true
serve_pid=""
"$LINUX_BIN/zephrane-sim" check "$host" >"$WORK/check.out" 2>&1 ||
    fail "the server's invariants do not hold after the machine's run" "$WORK/check.out"

step "the mail library was called as the description has it, and its servers ended"
# One session a mailbox: a logon without dialog on "server LF address", then a log-off.
logons="$(grep -c '^Logon ' "$trace")"
[ "$logons" -gt 0 ] || fail "the mail library was never called" "$trace"
if grep '^Logon ' "$trace" | grep -v -E \
    '^Logon ProfileName=\[\] ProfilePassword=\[\] ShowDialog=\[False\] .* ProfileInfo=\[[^]\\]+\\n[^]]+@[^]]+\]$' \
    >"$WORK/diff.out"; then
    fail "a logon with other arguments" "$WORK/diff.out"
fi
[ "$(grep -c '^Logoff$' "$trace")" = "$logons" ] || fail "a session was not logged off" "$trace"
# Each session is a server process of its own, which ends once the program has let it go.
sessions="$(grep -c '^Session$' "$trace")"
for _ in $(seq 150); do
    [ "$(grep -c '^Ended$' "$trace")" = "$sessions" ] && break
    sleep 0.2
done
[ "$(grep -c '^Ended$' "$trace")" = "$sessions" ] || fail "a mail library server did not end" "$trace"
# Each message deleted through the library is one file fewer in the mail store.
deleted="$(grep -c '^Delete ' "$trace" || true)"
[ "$deleted" -gt 0 ] && [ "$deleted" = "$((messages_before - $(find "$host/mailstore" -type f | wc -l)))" ] ||
    fail "$deleted messages deleted through the library, the mail store lost others" "$trace"
wine_run "$WORK/standin_mapi.exe" unregister

step "the services stop"
service control Fennix stop
echo "The machine path under Wine: all passed."
