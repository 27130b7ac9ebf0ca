#!/usr/bin/env bash
# zephrane-cli.exe on the machine itself (no ZEPHRANE_HOST) under Wine: a stand-in host's
# registry imported into the system registry (regedit /S) and three stand-in services
# installed in the service manager. The start-up checks must read both: the version and back
# end from the registry, the connector service's state (stopped, paused, running) from the
# service manager; with everything right they reach the database, which this machine has not.
# The start-up hook test.bat beside the program is started with the program's version.
#
#   tests/wine/machine.sh WINDOWS_BIN WORK
set -euo pipefail
source "$(dirname "$0")/wine.sh"
WIN_BIN="$1"
WORK="$(realpath -m "$2")"
wine_start "$WORK"
# A prefix of its own: the services and registry keys installed here stay out of the others.
export WINEPREFIX="$WORK/machine-prefix"
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
# The services live as long as the Wine server: kept between the commands, ended with the test.
wineserver -p
wineboot -i >/dev/null 2>&1 || fail "wineboot could not make the prefix $WINEPREFIX"
# A service process started on a busy machine may take longer to answer the service manager
# than it waits by default.
wine_run reg add 'HKLM\System\CurrentControlSet\Control' /v ServicesPipeTimeout /t REG_DWORD \
    /d 120000 /f >/dev/null 2>&1
# The service manager reads it when it starts: it starts again with the next program.
wineserver -k
wineserver -w
wineserver -p

program="$WORK/program"
rm -rf "$program" "$WORK/host"
mkdir -p "$program"
cp "$WIN_BIN/zephrane-cli.exe" "$program/"
x86_64-w64-mingw32-gcc-posix -municode -O1 -Wall -Wextra -Werror -static \
    -o "$WORK/standin_service.exe" "$(dirname "$0")/standin_service.c"
service() {
    wine_run "$WORK/standin_service.exe" "$@" >"$WORK/service.out" 2>&1 ||
        fail "standin_service $*" "$WORK/service.out"
}

# Runs the program on the machine; its exit status in last_status, its output in WORK/cli.out.
machine_cli() {
    last_status=0
    env -u ZEPHRANE_HOST -u ZEPHRANE_DATABASE wine "$program/zephrane-cli.exe" "$@" \
        >"$WORK/cli.out" 2>&1 || last_status=$?
}

expect_message() {
    if [ "$last_status" = 0 ]; then
        fail "the start-up checks passed, expected: $1" "$WORK/cli.out"
    fi
    grep -qF "$1" "$WORK/cli.out" || fail "expected the message: $1" "$WORK/cli.out"
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
wine_run "$WIN_BIN/zephrane-sim.exe" init "$(wine_path "$WORK/host")" --subscribers 2 >/dev/null
# The server's keys live in the registry's 32-bit view; regedit (64-bit here) writes them there
# under WOW6432Node. Imported as UTF-16, the form regedit writes itself.
sed -e 's#^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\#[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\#I' \
    "$WORK/host/registry.reg" | iconv -f UTF-8 -t UTF-16 >"$WORK/import.reg"
wine_run regedit /S "$(wine_path "$WORK/import.reg")"
for name in Dravik Morvin Fennix; do
    service install "$name"
done
machine_cli --list-templates
expect_message "The Fennix service must be up and runnig"

step "a paused connector service fails the check"
service control Fennix start
service control Fennix pause
machine_cli --list-templates
expect_message "The Fennix service must be up and runnig"

step "a running one passes it; the hook starts; the database is not reachable here"
service control Fennix continue
printf '@echo %%* > "%s"\r\n' "$(wine_path "$WORK/hook.txt")" >"$program/test.bat"
machine_cli --list-templates
expect_message "Unable to open TarvoDB with necessary rights"
for i in $(seq 50); do
    [ -s "$WORK/hook.txt" ] && break
    sleep 0.2
done
grep -q "^1\.0\.[0-9]" "$WORK/hook.txt" 2>/dev/null || fail "test.bat was not started with the version" \
    "$WORK/hook.txt"

step "the back end named in the registry decides the service checked"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Ambrel\\SystemParameters\\1.0]\r\n"IDCProgID"="Ostrix.DirectoryConnector.1"\r\n' |
    iconv -f UTF-8 -t UTF-16 >"$WORK/backend.reg"
wine_run regedit /S "$(wine_path "$WORK/backend.reg")"
machine_cli --list-templates
expect_message "The Morvin service must be up and runnig"
service control Morvin start
machine_cli --list-templates
expect_message "Unable to open TarvoDB with necessary rights"

step "the services stop"
for name in Fennix Morvin; do
    service control "$name" stop
done
echo "The machine path under Wine: all passed."
