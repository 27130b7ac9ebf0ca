"""What the Python client suites share: the server's address from run.sh, checks that are
collected and reported together, and a raw TDS client for what no library sends (a malformed
or oversized message, a login name with a newline, an idle connection)."""
import os
import socket
import struct
import sys
import time
import traceback

PORT = int(os.environ.get("ZEPH_PORT", "0"))
LOGIN = os.environ.get("ZEPH_LOGIN", "zephrane")
PASSWORD = os.environ.get("ZEPH_PASSWORD", "")
SERVE_LOG = os.environ.get("ZEPH_SERVE_LOG", "")
SERVE_PID = int(os.environ.get("ZEPH_SERVE_PID", "0"))

_checks = []


def check(function):
    """Marks a function as one check of the suite."""
    _checks.append(function)
    return function


def run_checks():
    """Runs every check, each on its own; prints each failure and exits 1 when any failed."""
    failed = []
    for function in _checks:
        try:
            function()
            print("ok:     " + function.__name__, flush=True)
        except Exception:  # a failed check is reported, and the others still run
            failed.append(function.__name__)
            print("FAILED: " + function.__name__, flush=True)
            traceback.print_exc()
    print("%d of %d checks passed" % (len(_checks) - len(failed), len(_checks)))
    sys.exit(1 if failed else 0)


def expect(condition, message):
    if not condition:
        raise AssertionError(message)


def expect_equal(got, wanted, what):
    if got != wanted:
        raise AssertionError("%s: got %.300r, wanted %.300r" % (what, got, wanted))


def wait_for(condition, what, seconds=120):
    """Waits until condition() holds; fails the check after `seconds`."""
    deadline = time.monotonic() + seconds
    while not condition():
        expect(time.monotonic() < deadline, "never happened: " + what)
        time.sleep(0.05)


def serve_log():
    with open(SERVE_LOG, encoding="utf-8", errors="replace") as f:
        return f.read()


# --- a raw TDS client ----------------------------------------------------------------------

PRELOGIN = 0x12
LOGIN7 = 0x10
SQL_BATCH = 0x01
RPC = 0x03
REPLY = 0x04
TDS74 = 0x74000004
TDS71 = 0x71000001


def packet(kind, payload, last=True, number=1):
    return struct.pack(">BBHHBB", kind, 1 if last else 0, len(payload) + 8, 0, number, 0) + payload


def prelogin_payload():
    version = bytes([15, 0, 0x07, 0xD0, 0, 0])
    options = [(0, version), (1, b"\x02")]
    header_size = len(options) * 5 + 1
    head, body = b"", b""
    for token, data in options:
        head += struct.pack(">BHH", token, header_size + len(body), len(data))
        body += data
    return head + b"\xff" + body


def login7_payload(user, password, version=TDS74, database="TarvoDb"):
    def scramble(text):
        out = bytearray()
        for b in text.encode("utf-16-le"):
            b = ((b << 4) & 0xF0) | (b >> 4)
            out.append(b ^ 0xA5)
        return bytes(out)

    fields = [
        "client-suite".encode("utf-16-le"),  # host name
        user.encode("utf-16-le"),
        scramble(password),
        "clientlib".encode("utf-16-le"),  # app name
        b"",  # server name
        b"",  # extension
        "raw".encode("utf-16-le"),  # client interface
        b"",  # language
        database.encode("utf-16-le"),
    ]
    fixed = 36 + 9 * 4 + 6 + 3 * 4 + 4  # fixed part, offsets, client id, SSPI, attach, change
    offsets, data = b"", b""
    for value in fields:
        offsets += struct.pack("<HH", fixed + len(data), len(value) // 2)
        data += value
    offsets += struct.pack("<6s", b"\0" * 6)  # client id
    offsets += struct.pack("<HH", fixed + len(data), 0)  # SSPI
    offsets += struct.pack("<HH", fixed + len(data), 0)  # attach db file
    offsets += struct.pack("<HH", fixed + len(data), 0)  # change password
    offsets += struct.pack("<I", 0)  # long SSPI
    body_length = 36 + len(offsets) + len(data)
    head = struct.pack("<IIIIII", body_length, version, 4096, 0, os.getpid() & 0xFFFF, 0)
    head += bytes([0xE0, 0x03, 0, 0]) + struct.pack("<iI", 0, 0x0409)
    return head + offsets + data


def all_headers():
    # One transaction descriptor header: none, one request outstanding.
    header = struct.pack("<IHQI", 18, 2, 0, 1)
    return struct.pack("<I", 4 + len(header)) + header


class RawClient:
    """One connection speaking TDS by hand."""

    def __init__(self, timeout=60):
        self.sock = socket.create_connection(("127.0.0.1", PORT), timeout=timeout)

    def send(self, kind, payload, last=True):
        self.sock.sendall(packet(kind, payload, last))

    def reply(self):
        """The payload of the server's next message; None when the connection ended."""
        payload = b""
        while True:
            header = self._exactly(8)
            if header is None:
                return None
            kind, status, length = struct.unpack(">BBH", header[:4])
            body = self._exactly(length - 8)
            if body is None:
                return None
            payload += body
            if status & 1:
                return payload

    def _exactly(self, n):
        data = b""
        while len(data) < n:
            try:
                chunk = self.sock.recv(n - len(data))
            except (ConnectionResetError, socket.timeout):
                return None
            if not chunk:
                return None
            data += chunk
        return data

    def login(self, user=LOGIN, password=PASSWORD, version=TDS74):
        self.send(PRELOGIN, prelogin_payload())
        expect(self.reply() is not None, "no answer to the pre-login")
        self.send(LOGIN7, login7_payload(user, password, version))
        return self.reply()

    def batch(self, text, headers=True):
        self.send(SQL_BATCH, (all_headers() if headers else b"") + text.encode("utf-16-le"))
        return self.reply()

    def closed(self):
        """True when the server has closed the connection (waits for it)."""
        try:
            return self.sock.recv(1) == b""
        except (ConnectionResetError, socket.timeout):
            return True

    def close(self):
        self.sock.close()


def error_numbers(reply):
    """The numbers of the ERROR tokens in a reply (found by their form, not parsed whole)."""
    numbers = []
    at = 0
    while True:
        at = reply.find(b"\xaa", at)
        if at < 0 or at + 9 > len(reply):
            return numbers
        length, number, state, severity = struct.unpack("<HiBB", reply[at + 1 : at + 9])
        if 10 < severity <= 25 and 8 < length < 4000:
            numbers.append(number)
        at += 1


def login_ack_version(reply):
    at = reply.find(b"\xad")
    expect(at >= 0, "no login acknowledgement")
    return struct.unpack(">I", reply[at + 4 : at + 8])[0]


def a_new_client_logs_in():
    """Whether a fresh connection logs in cleanly. Sessions that were just closed end on the
    server's own threads: until they have, a new connection may still be one past the cap and be
    closed before its pre-login is answered, so callers retry this through wait_for."""
    c = RawClient()
    try:
        reply = c.login()
    except AssertionError:
        reply = None
    c.close()
    return reply is not None and not error_numbers(reply)
