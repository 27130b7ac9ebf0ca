#!/usr/bin/env python3
"""zephrane-sim serve --max-connections 8 --login-timeout 2: a connection that does not log in
is closed, one past the cap is closed at once and said so in the log, and the slots come back
for clients that log in."""
import time

from clientlib import (RawClient, a_new_client_logs_in, check, error_numbers, expect, run_checks,
                       serve_log, wait_for)


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

    wait_for(a_new_client_logs_in, "a login once the held connections went")


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
