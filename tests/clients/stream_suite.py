#!/usr/bin/env python3
"""Results of zephrane-sim serve go out as they are read: a million rows through pyodbc keep the
server's memory bounded, a client that stops reading holds up neither another session nor a
reset of the same host, and a cancel in the middle of a result stops it with the session kept."""
import os
import re
import socket
import struct
import subprocess
import sys
import time

from clientlib import (LOGIN, PASSWORD, PORT, SERVE_PID, SQL_BATCH, RawClient, all_headers,
                       check, error_numbers, expect, expect_equal, packet, run_checks,
                       serve_log, wait_for)

try:
    import pyodbc
except ImportError:
    print("python3-pyodbc is not installed (scripts/test installs it)", file=sys.stderr)
    sys.exit(1)

HOST_DIR = os.environ.get("ZEPH_HOST_DIR", "")
CLI = os.path.join(os.path.dirname(os.environ.get("ZEPH_SIM", "")), "zephrane-cli")
ATTENTION = 0x06
DONE = 0xFD
DONE_ATTENTION = 0x20
# A million rows: the host's 100 subscribers three times over.
MILLION = ("SELECT a.Alias, b.DisplayName, c.SubscriberType "
           "FROM Subscriber a CROSS JOIN Subscriber b CROSS JOIN Subscriber c")


def connect(autocommit=True):
    text = ("Driver={SQL Server};Server=127.0.0.1,%d;Database=TarvoDb;UID=%s;PWD=%s;"
            "TDS_Version=7.4;ClientCharset=UTF-8" % (PORT, LOGIN, PASSWORD))
    return pyodbc.connect(text, autocommit=autocommit, timeout=60)


def memory_kb():
    """The server's resident memory now and at its highest so far, in kB."""
    with open("/proc/%d/status" % SERVE_PID) as f:
        fields = dict(line.split(":", 1) for line in f if ":" in line)
    return int(fields["VmRSS"].split()[0]), int(fields["VmHWM"].split()[0])


def stalled_reader():
    """A logged-in client that asks for a million rows and reads none of them, with a small
    receive buffer so that the server's sending soon has to wait for it."""
    c = RawClient()
    c.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    expect(not error_numbers(c.login()), "the stalled client's login")
    c.send(SQL_BATCH, all_headers() + MILLION.encode("utf-16-le"))
    return c


def read_packet(c):
    """One packet of the server's: (status, payload), or None when the connection ended."""
    header = c._exactly(8)
    if header is None:
        return None
    _, status, length = struct.unpack(">BBH", header[:4])
    return status, c._exactly(length - 8)


@check
def a_million_rows_go_out_without_the_server_holding_them():
    rss_before, _ = memory_kb()
    c = connect()
    cur = c.cursor()
    cur.execute(MILLION)
    rows = 0
    types = set()
    while True:
        batch = cur.fetchmany(5000)
        if not batch:
            break
        rows += len(batch)
        types.update(row[2] for row in batch)
    _, peak = memory_kb()
    c.close()
    print("resident before %d kB, highest during the million rows %d kB" % (rss_before, peak))
    expect_equal(rows, 1000000, "rows read")
    expect(types and all(isinstance(t, int) for t in types), "subscriber types: %r" % types)
    expect(peak - rss_before < 64 * 1024,
           "the server grew by %d kB for a result it only passes on" % (peak - rss_before))


@check
def a_client_that_stops_reading_holds_up_no_other_session():
    stalled = stalled_reader()
    try:
        time.sleep(1)  # the server fills the stalled client's buffers and waits
        c = connect(autocommit=False)
        cur = c.cursor()
        alias = cur.execute("SELECT min(Alias) FROM Subscriber").fetchone()[0]
        # A write in a transaction of another session: the stalled reader holds no lock that
        # stops it.
        cur.execute("UPDATE Subscriber SET LastName = LastName WHERE Alias = ?", alias)
        c.commit()
        expect_equal(cur.execute("SELECT count(*) FROM Subscriber").fetchone()[0], 100,
                     "a read beside the stalled client")
        c.close()
    finally:
        stalled.close()
    # Its session ends with its connection, its statement stopped.
    wait_for(lambda: len(re.findall(r"^session \d+: closed$", serve_log(), re.M)) >=
             serve_log().count("connected from"), "the stalled session's end")


@check
def a_client_that_stops_reading_does_not_stop_a_reset_of_the_same_host():
    env = dict(os.environ, ZEPHRANE_HOST=HOST_DIR)
    env.pop("ZEPHRANE_DATABASE", None)
    templates = subprocess.run([CLI, "--list-templates"], env=env, capture_output=True,
                               text=True, timeout=300)
    expect_equal(templates.returncode, 0, "--list-templates: " + templates.stderr)
    template = templates.stdout.splitlines()[1].split("\t")[0]
    aliases = subprocess.run([CLI, "--all", "--list"], env=env, capture_output=True,
                             text=True, timeout=300).stdout.splitlines()[1:6]
    listing = os.path.join(HOST_DIR, "five.csv")
    with open(listing, "w") as f:
        f.write("alias\n" + "".join(line.split("\t")[0] + "\n" for line in aliases))
    stalled = stalled_reader()
    try:
        time.sleep(1)
        run = subprocess.run([CLI, "--template", template, "--csv", listing, "--yes", "--quiet",
                              "--skip-dl-sync"], env=env, capture_output=True, text=True,
                             timeout=600)
        # A seeded subscriber may log errors of its own (status 1); none is left undone.
        expect(run.returncode in (0, 1), "the reset beside a stalled reader: " + run.stderr)
        expect(", 0 not attempted" in run.stdout, "the reset's outcome: " + run.stdout[-300:])
        expect("locked" not in run.stdout + run.stderr, "the reset met a lock: " + run.stdout)
        check_host = subprocess.run([os.environ["ZEPH_SIM"], "check", HOST_DIR],
                                    capture_output=True, text=True, timeout=300)
        expect_equal(check_host.returncode, 0, "the host after the reset: " + check_host.stdout)
    finally:
        stalled.close()


@check
def a_cancel_in_the_middle_of_a_result_stops_it_and_the_session_goes_on():
    c = RawClient()
    expect(not error_numbers(c.login()), "login")
    c.send(SQL_BATCH, all_headers() + MILLION.encode("utf-16-le"))
    for _ in range(20):  # some of the rows have come
        got = read_packet(c)
        expect(got is not None and not got[0] & 1, "the result ended before the cancel")
    c.sock.sendall(packet(ATTENTION, b""))
    # Whatever was on its way still comes; then the acknowledgement, a DONE with its
    # attention bit, long before a million rows.
    packets = 0
    acknowledged = False
    message = b""
    while not acknowledged:
        got = read_packet(c)
        expect(got is not None, "the connection ended after the cancel")
        packets += 1
        expect(packets < 2000, "the result went on after the cancel")
        status, payload = got
        message += payload
        if status & 1:
            acknowledged = (len(message) >= 3 and message[0] == DONE and
                            struct.unpack("<H", message[1:3])[0] & DONE_ATTENTION != 0)
            message = b""
    after = c.batch("SELECT 41 + 1")
    expect(after is not None and not error_numbers(after), "the session after the cancel")
    expect(struct.pack("<i", 42) in after, "no answer after the cancel")
    c.close()


if __name__ == "__main__":
    expect(os.path.exists("/proc/%d" % SERVE_PID), "no server process to watch")
    run_checks()
