"""What the test peers (camera simulator, RTSP server, fault proxy, field
camera) share: the HTTP control API on loopback, the control port handed
over in a file, the stop signals, and the end when the parent is gone or
time is up."""

import os
import signal
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qsl


class ControlServer(ThreadingHTTPServer):
    """Loopback only: the control API opens servers and changes how they
    behave, unauthenticated, so nothing off this machine may reach it.
    `controller` is what the handlers steer."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, handler, controller):
        self.controller = controller
        super().__init__(("127.0.0.1", port), handler)


def open_control(name, port, handler, controller):
    """The listening control server, or None once the cause is on stderr."""
    try:
        return ControlServer(port, handler, controller)
    except OSError as e:
        print("%s: cannot listen on control port: %s" % (name, e), file=sys.stderr)
        return None


class ControlHandler(BaseHTTPRequestHandler):
    """GET only, plain-text answers with Content-Length, so that the trivial
    HTTP/1.0 client of the Windows tests can drive every peer.

    A peer names its commands in `routes` (whole path -> method taking the
    query pairs) and, for "/<collection>/<digits>/<command...>", gives
    `item(key, command, pairs)` the digits as they stood. `failures` maps
    what a command raises to an answer; anything else ends the connection
    as the HTTP server does with any fault."""
    content_type = "text/plain; charset=utf-8"
    routes = {}
    collection = None
    failures = ()  # ((exception types, status, body format with one %s), ...)

    def log_message(self, fmt, *args):
        pass

    def reply(self, status, text):
        body = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", self.content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def target(self):
        path, _, query = self.path.partition("?")
        return path, query

    def do_GET(self):
        # Empty segments are dropped, so "//new/" is "new"; the query's pairs
        # keep their order and their blank values.
        path, query = self.target()
        parts = [p for p in path.split("/") if p]
        pairs = parse_qsl(query, keep_blank_values=True)
        try:
            self.dispatch(parts, pairs)
        except Exception as e:
            for types, status, body in self.failures:
                if isinstance(e, types):
                    self.reply(status, body % e)
                    return
            raise

    def dispatch(self, parts, pairs):
        route = self.routes.get("/".join(parts))
        if route:
            getattr(self, route)(pairs)
        elif (self.collection and len(parts) >= 3 and parts[0] == self.collection
              and parts[1].isdigit()):
            self.item(parts[1], parts[2:], pairs)
        else:
            self.reply(404, "unknown command\n")

    def shutdown(self, pairs):
        self.reply(200, "OK\n")
        self.server.controller.stop.set()


def add_control_arguments(parser, required=True, default=None):
    parser.add_argument("--control-port", type=int, required=required, default=default,
                        help="control API port (0: any free port)")
    parser.add_argument("--port-file", help="write the control port here once listening")


def add_lifetime_arguments(parser):
    parser.add_argument("--parent-pid", type=int, default=0,
                        help="exit when this process is gone (0: do not watch)")
    parser.add_argument("--max-seconds", type=float, default=3600,
                        help="exit after this many seconds (0: never)")


def write_port_file(path, port):
    """Written whole or not at all, so a reader never sees half a number."""
    tmp = "%s.tmp.%d" % (path, os.getpid())
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.replace(tmp, path)


def parent_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


def stop_on_signals(stop):
    """SIGTERM and SIGINT set the stop event instead of killing mid-work."""
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())


def serve_control(control, name, port_file):
    """Runs an HTTP control server on a thread; says where it listens."""
    threading.Thread(target=control.serve_forever, kwargs={"poll_interval": 0.05},
                     name="control", daemon=True).start()
    port = control.server_address[1]
    if port_file:
        write_port_file(port_file, port)
    print("%s: control on http://127.0.0.1:%d/" % (name, port), flush=True)
    return port


def wait_for_end(stop, parent_pid, max_seconds):
    """Returns once stop is set, the parent is gone or max_seconds (0:
    never) have passed."""
    deadline = time.monotonic() + max_seconds if max_seconds > 0 else None
    while not stop.wait(0.5):
        if parent_pid and not parent_alive(parent_pid):
            return
        if deadline and time.monotonic() > deadline:
            return
