#!/usr/bin/env python3
"""zephrane-sim serve --max-connections 8 --login-timeout 2: a connection that does not log in
is closed, one past the cap is closed at once and said so in the log, and the slots come back
for clients that log in."""
import time

from clientlib import RawClient, check, error_numbers, expect, run_checks, serve_log


def wait_for(condition, what, seconds=120):
    deadline = time.monotonic() + seconds
    while not condition():
        expect(time.monotonic() < deadline, "never happened: " + what)
        time.sleep(0.05)


@check
def a_connection_that_never_logs_in_is_closed():
    c = RawClient()
    expect(c.closed(), "the silent connection stayed open")
    expect("no login within 2000 ms" in serve_log(), "the log does not say why")
    c.close()


@check
def a_connection_past_the_cap_is_closed_and_the_slots_come_back():
    held = [RawClient() for _ in range(8)]
    wait_for(lambda: serve_log().count("connected from") >= 9, "eight connections served")
    extra = RawClient()
    expect(extra.closed(), "a ninth connection was served")
    expect("refused: 8 connections are served already" in serve_log(), "no word in the log")
    extra.close()
    for c in held:
        c.close()

    def logs_in():
        # The held sessions end on the server's own threads: until they have, a new connection
        # is still one past the cap and is closed before its pre-login is answered. Try again.
        c = RawClient()
        try:
            reply = c.login()
        except AssertionError:
            reply = None
        c.close()
        return reply is not None and not error_numbers(reply)

    wait_for(logs_in, "a login once the held connections went")


@check
def a_client_that_has_logged_in_is_not_timed_out():
    c = RawClient()
    expect(not error_numbers(c.login()), "login")
    time.sleep(3)  # longer than the login timeout: an idle session stays
    reply = c.batch("SELECT 1")
    expect(reply is not None and not error_numbers(reply), "the idle session was closed")
    c.close()


if __name__ == "__main__":
    run_checks()
