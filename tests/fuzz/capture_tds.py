#!/usr/bin/env python3
"""Records what clients send a TDS server, for the fuzz target's corpus:
    capture_tds.py LISTEN_PORT SERVER_PORT FOLDER
passes every connection on to the server on 127.0.0.1 and writes what each client sent, up to
16 KB, to FOLDER/<n>.tds, led by one byte that makes the fuzz target feed it in pieces of 64
bytes (its first byte chooses the size of the pieces)."""
import os
import socket
import sys
import threading

LIMIT = 16 * 1024


def pipe(source, sink, record):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            if record is not None and len(record) < LIMIT:
                record.extend(data[: LIMIT - len(record)])
            sink.sendall(data)
    except OSError:
        pass
    finally:
        for s in (source, sink):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def serve(listen_port, server_port, folder):
    listener = socket.create_server(("127.0.0.1", listen_port))
    number = 0
    while True:
        client, _ = listener.accept()
        number += 1
        server = socket.create_connection(("127.0.0.1", server_port))
        record = bytearray()
        path = os.path.join(folder, "%03d.tds" % number)

        def run(client=client, server=server, record=record, path=path):
            back = threading.Thread(target=pipe, args=(server, client, None))
            back.start()
            pipe(client, server, record)
            back.join()
            with open(path, "wb") as f:
                f.write(bytes([63]) + bytes(record))

        threading.Thread(target=run, daemon=True).start()


if __name__ == "__main__":
    serve(int(sys.argv[1]), int(sys.argv[2]), sys.argv[3])
