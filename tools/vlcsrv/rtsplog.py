#!/usr/bin/env python3
"""A byte-for-byte TCP relay in front of an RTSP server that writes the
request line of every request it passes to a log, with the time: VLC logs
no requests, and reconnects show only there.

  rtsplog.py --listen PORT --to PORT --log FILE

Interleaved frames are passed on untouched and not logged; only request
lines are written (never headers, so no credential reaches the log).
"""

import argparse
import socket
import sys
import threading
import time

METHODS = (b"OPTIONS ", b"DESCRIBE ", b"SETUP ", b"PLAY ", b"PAUSE ", b"TEARDOWN ",
           b"GET_PARAMETER ", b"SET_PARAMETER ", b"ANNOUNCE ", b"RECORD ")


class RequestLog:
    def __init__(self, path):
        self.file = open(path, "a", buffering=1)
        self.lock = threading.Lock()
        self.t0 = time.monotonic()

    def write(self, line):
        with self.lock:
            self.file.write("%8.3f %s\n" % (time.monotonic() - self.t0, line))


def pump(src, dst, log, conn=0):
    """Copies src to dst; with a log, notes the request lines at the start
    of lines (frames and bodies may look like anything, which a request line
    check at line starts tolerates)."""
    pending = b""
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
            if log is not None:
                pending = (pending + data)[-8192:]
                while b"\r\n" in pending:
                    line, _, pending = pending.partition(b"\r\n")
                    if line.startswith(METHODS):
                        log.write("conn %d %s" % (conn, line.decode("latin-1")))
    except OSError:
        pass
    for s in (src, dst):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--listen", type=int, required=True)
    parser.add_argument("--to", type=int, required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args(argv)
    log = RequestLog(args.log)
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", args.listen))
    server.listen(16)
    conn = 0
    while True:
        client, _ = server.accept()
        conn += 1
        try:
            upstream = socket.create_connection(("127.0.0.1", args.to), timeout=10)
        except OSError:
            client.close()
            continue
        upstream.settimeout(None)
        for s in (client, upstream):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=pump, args=(client, upstream, log, conn), daemon=True).start()
        threading.Thread(target=pump, args=(upstream, client, None), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
