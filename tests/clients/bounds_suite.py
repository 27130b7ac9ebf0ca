#!/usr/bin/env python3
"""zephrane-sim serve before and around a login, spoken to by hand: what a client sends before
it has proved who it is is bounded, a refused login is slow, a login name cannot forge a line
of the log, a request the server cannot take is refused with the session kept, and an old TDS
version is answered in its own."""
import os
import re
import struct
import threading
import time

from clientlib import (RawClient, RPC, PRELOGIN, SQL_BATCH, TDS71, all_headers, check,
                       error_numbers, expect, expect_equal, login_ack_version, packet,
                       run_checks, serve_log, SERVE_PID, a_new_client_logs_in, wait_for)

MAX_CONNECTIONS = 64


def proc_status():
    with open("/proc/%d/status" % SERVE_PID) as f:
        fields = dict(line.split(":", 1) for line in f if ":" in line)
    return int(fields["Threads"]), int(fields["VmRSS"].split()[0])


def rpc_with_param(type_bytes):
    """sp_executesql N'SELECT 1' with one more parameter of the given TYPE_INFO and value."""
    text = "SELECT 1".encode("utf-16-le")
    body = all_headers() + struct.pack("<HH", 0xFFFF, 10) + struct.pack("<H", 0)
    body += b"\x00\x00" + bytes([0xE7]) + struct.pack("<H", 8000) + b"\x09\x04\xd0\x00\x34"
    body += struct.pack("<H", len(text)) + text
    body += b"\x00\x00" + type_bytes
    return body


@check
def idle_connections_hold_a_bounded_number_of_threads_and_memory():
    threads_before, rss_before = proc_status()
    clients = [RawClient() for _ in range(100)]
    # Every connection is either served (a thread) or refused past the cap.
    wait_for(lambda: serve_log().count("connected from") + serve_log().count(" refused: ") >= 100,
             "the server took or refused all 100 connections")
    threads, rss = proc_status()
    print("threads %d -> %d, resident %d kB -> %d kB" % (threads_before, threads, rss_before, rss))
    expect(threads <= threads_before + MAX_CONNECTIONS,
           "%d threads for 100 idle connections" % threads)
    expect(rss - rss_before < 64 * 1024, "%d kB more memory for 100 idle connections" % (rss - rss_before))
    refused = sum(1 for c in clients[MAX_CONNECTIONS:] if c.closed())
    expect_equal(refused, 100 - MAX_CONNECTIONS, "connections past the cap closed")
    for c in clients:
        c.close()
    # The slots come back: a new client logs in.
    wait_for(a_new_client_logs_in, "a login after the idle clients went")


@check
def a_pre_login_message_over_the_bound_ends_the_connection():
    c = RawClient()
    for i in range(6):  # 6 x 4 KB, none of them the last packet
        c.sock.sendall(packet(PRELOGIN, b"\0" * 4088, last=False, number=i + 1))
    expect(c.closed(), "the connection stayed open")
    expect("longer than the server accepts" in serve_log() or
           "more than a message can hold" in serve_log(), "the log does not say why")


@check
def a_login_name_cannot_forge_a_line_of_the_log():
    c = RawClient()
    forged = "x\nsession 999: login zephrane from forged (forged) accepted"
    reply = c.login(user=forged, password="wrong")
    expect_equal(error_numbers(reply), [18456], "the refusal")
    c.close()
    log = serve_log()
    expect(not re.search(r"^session 999:", log, re.M), "a forged line in the log")
    expect("x\\nsession 999" in log, "the name is not in the log, escaped")


@check
def refused_logins_are_slowed_for_one_client_and_for_all_together():
    start = time.monotonic()
    c = RawClient()
    expect_equal(error_numbers(c.login(password="wrong")), [18456], "one refusal")
    c.close()
    one = time.monotonic() - start
    expect(one >= 0.9, "a refused login was answered after %.2f s" % one)

    results = []

    def attempt():
        client = RawClient()
        results.append(error_numbers(client.login(password="guess")))
        client.close()

    start = time.monotonic()
    threads = [threading.Thread(target=attempt) for _ in range(20)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    together = time.monotonic() - start
    expect_equal(results, [[18456]] * 20, "twenty refusals")
    # A tenth of a second apart, whatever the number of connections.
    expect(together >= 2.0, "twenty refused logins at once took only %.2f s" % together)


@check
def a_parameter_of_a_type_the_server_does_not_take_is_refused_and_the_session_goes_on():
    c = RawClient()
    expect(not error_numbers(c.login()), "login")
    cases = {
        "user-defined type": b"\xf0\x00\x00",
        "sql_variant": b"\x62\x10\x00\x00\x00\x00\x00\x00\x00",
        "unknown type": b"\x99\x01\x02",
        "truncated value": b"\xe7\x40\x1f\x09\x04\xd0\x00\x34\x10\x00ab",
    }
    for what, type_bytes in cases.items():
        reply = c.send(RPC, rpc_with_param(type_bytes)) or c.reply()
        expect(reply is not None, what + ": the connection ended")
        expect_equal(error_numbers(reply), [8009], what)
        after = c.batch("SELECT 41 + 1")
        expect(after is not None and not error_numbers(after), what + ": the session is gone")
        expect(struct.pack("<i", 42) in after, what + ": no answer to the next batch")
    c.send(0x07, b"\x81\x00\x00")  # a bulk load
    expect_equal(error_numbers(c.reply()), [8009], "a bulk load")
    expect(not error_numbers(c.batch("SELECT 1")), "the session after a bulk load")
    c.close()


@check
def a_tds_7_1_login_is_answered_in_7_1_and_its_requests_carry_no_headers():
    c = RawClient()
    reply = c.login(version=TDS71)
    expect(not error_numbers(reply), "the login was refused")
    expect_equal(hex(login_ack_version(reply)), hex(TDS71), "the version answered")
    rows = c.batch("SELECT Alias FROM Subscriber WHERE Alias = 'nobody'", headers=False)
    expect(rows is not None and not error_numbers(rows), "a batch without headers")
    # The closing DONE of TDS 7.1 counts rows in four bytes: 9 bytes in all.
    expect_equal(rows[-9], 0xFD, "the final DONE token's place")
    c.close()


@check
def a_tds_7_0_login_is_told_why_it_is_refused():
    c = RawClient()
    reply = c.login(version=0x70000000)
    expect(reply is not None, "no answer")
    expect_equal(error_numbers(reply), [18493], "the refusal")
    expect("TDS 7.1 to 7.4".encode("utf-16-le") in reply, "the refusal does not say why")
    c.close()


@check
def a_client_that_goes_away_mid_message_leaves_the_server_serving():
    c = RawClient()
    expect(not error_numbers(c.login()), "login")
    c.sock.sendall(packet(SQL_BATCH, all_headers() + "SELECT".encode("utf-16-le"), last=False))
    c.close()
    d = RawClient()
    expect(not error_numbers(d.login()), "a login after the dropped client")
    expect(not error_numbers(d.batch("SELECT 1")), "a batch after the dropped client")
    d.close()


if __name__ == "__main__":
    expect(os.path.exists("/proc/%d" % SERVE_PID), "no server process to watch")
    run_checks()
