"""One simulated camera: its parameter store, switches, request log and HTTP server.

Other protocol sides (an RTSP server, for instance) attach to a camera with
attach_service(); they share its store, switches, log and lifetime.
"""

import random
import select
import socket
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import paramprotocol
import pictures
from auth import Authenticator
from paramstore import MONITOR_ALL, ParamStore

BOUNDARY = "camsimboundary"

# Shapes of the login endpoint's answer: as cameras write it, keys and values
# in double quotes, the method in lower case, success written "True".
AUTH_ANSWERS = {"single", "double", "lower_method", "capital_true"}


def auth_answer(items, style):
    """Renders [(key, value)] in the login endpoint's brace format."""
    if style == "lower_method":
        items = [(k, v.lower() if k == "method" else v) for k, v in items]
    elif style == "capital_true":
        items = [(k, "True" if k == "success" and v == "true" else v) for k, v in items]
    quote = '"' if style == "double" else "'"
    return "{" + ", ".join("%s%s%s: %s%s%s" % (quote, k, quote, quote, v, quote)
                           for k, v in items) + "}"
POLL = 0.05


class Switches:
    """Fault and behaviour switches, changed at run time by the control API."""

    def __init__(self, width, height, fps):
        self.hang = False
        self.down = False
        self.garbage = False
        self.status = 0
        self.empty = False
        self.drop_after = 0
        self.refused = {}
        self.omitted = set()
        self.fps = fps
        self.width = width
        self.height = height
        self.body_len = 0
        self.content_length = None  # None: the body length; -1: no header
        self.stall_after = -1
        self.enabled = True
        self.auth_answer = "single"
        self.enable_ok = True


_garbage_rng = random.Random(1)
_garbage_lock = threading.Lock()


def garbage_bytes(size):
    """Random bytes from one seeded generator, so a run can be repeated."""
    with _garbage_lock:
        return _garbage_rng.randbytes(size)


def _int(text, lo, hi):
    v = int(text)
    if v < lo or v > hi:
        raise ValueError("%s outside %d..%d" % (text, lo, hi))
    return v


class Camera:
    def __init__(self, camera_id, user="", password="", auth="none", width=640, height=480,
                 fps=10, digest_first=False, port=0):
        self.id = camera_id
        self.auth = Authenticator(auth, user, password, digest_first)
        self.store = ParamStore(width, height, camera_id)
        self.switches = Switches(width, height, fps)
        self.lock = threading.Lock()
        self.changed = threading.Condition(self.lock)
        self.closed = threading.Event()
        self._log = []
        self._frame_counter = 0
        self._sent = 0
        self._services = []
        self.pictures = pictures.load(width, height)
        self.server = CameraHTTPServer(("127.0.0.1", port), self)
        self.port = self.server.server_address[1]
        self._thread = threading.Thread(target=self.server.serve_forever,
                                        kwargs={"poll_interval": 0.05},
                                        name="camera-%d" % camera_id, daemon=True)
        self._thread.start()

    # ----- request log -----

    def record(self, method, target, authorization):
        with self.lock:
            self._log.append("%s %s auth=%s" % (method, target, authorization or "-"))

    def log_lines(self):
        with self.lock:
            return list(self._log)

    def clear_log(self):
        with self.lock:
            self._log.clear()

    def next_frame_number(self):
        with self.lock:
            self._frame_counter += 1
            return self._frame_counter

    def count_sent(self):
        with self.lock:
            self._sent += 1

    def sent_pictures(self):
        """Motion JPEG pictures written whole to a client, over all streams."""
        with self.lock:
            return self._sent

    # ----- switches -----

    def apply_switches(self, pairs):
        """Applies name=value switches in order; returns an error text or None."""
        s = self.switches
        picture_size = None
        try:
            for name, value in pairs:
                if name == "hang":
                    s.hang = value == "1"
                elif name == "down":
                    s.down = value == "1"
                    if s.down:
                        self.server.close_all()
                elif name == "garbage":
                    s.garbage = value == "1"
                elif name == "status":
                    s.status = _int(value, 0, 999)
                elif name == "empty":
                    s.empty = value == "1"
                elif name == "drop_after":
                    s.drop_after = _int(value, 0, 1 << 30)
                elif name == "refuse":
                    key, sep, reason = value.partition(":")
                    if value and (not sep or not key or not reason):
                        raise ValueError("refuse needs <action>:<reason>")
                    with self.lock:
                        if value:
                            s.refused[key] = reason
                        else:
                            s.refused.clear()
                elif name == "omit":
                    with self.lock:
                        if value:
                            s.omitted.add(value)
                        else:
                            s.omitted.clear()
                elif name == "inputs":
                    self.store.force_value(MONITOR_ALL, str(_int(value, 0, (1 << 32) - 1)))
                elif name == "fps":
                    s.fps = _int(value, 1, 120)
                elif name in ("width", "height"):
                    picture_size = picture_size or [s.width, s.height]
                    picture_size[0 if name == "width" else 1] = _int(value, 16, 4096)
                elif name == "body_len":
                    s.body_len = _int(value, 0, 1 << 30)
                elif name == "content_length":
                    s.content_length = -1 if value == "none" else (
                        None if value == "" else _int(value, 0, 1 << 30))
                elif name == "stall_after":
                    s.stall_after = -1 if value == "" else _int(value, 0, 1 << 30)
                elif name == "enabled":
                    s.enabled = value == "1"
                elif name == "auth_answer":
                    if value not in AUTH_ANSWERS:
                        raise ValueError("one of %s" % ", ".join(sorted(AUTH_ANSWERS)))
                    s.auth_answer = value
                elif name == "enable_ok":
                    s.enable_ok = value == "1"
                else:
                    return "unknown switch %s" % name
        except ValueError as e:
            return "bad value for %s: %s" % (name, e)
        finally:
            if picture_size:
                self.pictures = pictures.load(picture_size[0], picture_size[1])
                s.width, s.height = picture_size
            with self.lock:
                self.changed.notify_all()
        return None

    # ----- lifetime -----

    def attach_service(self, service):
        """service.close() is called when the camera is deleted."""
        self._services.append(service)

    def close(self):
        if self.closed.is_set():
            return
        self.closed.set()
        with self.lock:
            self.changed.notify_all()
        for service in self._services:
            service.close()
        self.server.shutdown()
        self.server.close_all()
        self.server.server_close()
        self._thread.join(5)

    def wait_change(self, timeout):
        with self.lock:
            self.changed.wait(timeout)


class CameraHTTPServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, camera):
        self.camera = camera
        self._connections = set()
        self._conn_lock = threading.Lock()
        super().__init__(address, CameraRequestHandler)

    def process_request(self, request, client_address):
        if self.camera.switches.down:
            # A camera restarting: the connection is taken and closed unanswered.
            self.camera.record("CONNECT", "-", None)
            try:
                request.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            request.close()
            return
        if self.camera.switches.garbage:
            # A camera gone mad: random bytes for whatever is asked, now and
            # then behind a status line that looks right.
            self.camera.record("GARBAGE", "-", None)
            threading.Thread(target=self._answer_garbage, args=(request,), daemon=True).start()
            return
        with self._conn_lock:
            self._connections.add(request)
        super().process_request(request, client_address)

    def _answer_garbage(self, request):
        try:
            request.settimeout(5)
            request.recv(65536)
            junk = garbage_bytes(4096)
            if junk[0] & 1:
                junk = b"HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n" + junk
            request.sendall(junk)
            request.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        request.close()

    def shutdown_request(self, request):
        with self._conn_lock:
            self._connections.discard(request)
        super().shutdown_request(request)

    def close_all(self):
        with self._conn_lock:
            conns = list(self._connections)
        for conn in conns:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


class CameraRequestHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "camsim/1.0"
    sys_version = ""

    def version_string(self):
        return self.server_version
    timeout = 120

    def log_message(self, fmt, *args):
        pass

    @property
    def camera(self):
        return self.server.camera

    def do_GET(self):
        self._dispatch()

    do_HEAD = do_POST = do_PUT = do_DELETE = do_OPTIONS = do_GET

    # ----- helpers -----

    def _client_gone(self):
        try:
            readable, _, _ = select.select([self.connection], [], [], 0)
            if readable:
                return self.connection.recv(1, socket.MSG_PEEK) == b""
        except OSError:
            return True
        return False

    def _hold(self, still):
        """Waits while still() holds; False when the client left or the camera closed."""
        while still():
            if self.camera.closed.is_set() or self._client_gone():
                self.close_connection = True
                return False
            self.camera.wait_change(POLL)
        return not self.camera.closed.is_set()

    def _answer(self, status, body=b"", content_type="text/plain", headers=()):
        self.send_response(status)
        if body or status == 200:
            self.send_header("Content-Type", content_type)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def _discard_request_body(self):
        length = self.headers.get("Content-Length")
        if length and length.isdigit():
            self.rfile.read(int(length))

    # ----- dispatch -----

    def _dispatch(self):
        cam = self.camera
        authorization = self.headers.get("Authorization")
        cam.record(self.command, self.path, authorization)
        self._discard_request_body()
        s = cam.switches
        if not self._hold(lambda: s.hang):
            return
        if s.status:
            self._answer(s.status)
            return
        if not cam.auth.accepts(self.command, authorization):
            self._answer(401, b"Unauthorized\r\n",
                         headers=[("WWW-Authenticate", c) for c in cam.auth.challenges()])
            return
        if s.empty:
            self._answer(200)
            return
        path, _, query = self.path.partition("?")
        if self.command not in ("GET", "HEAD"):
            self._answer(405, b"Method not allowed\r\n", headers=[("Allow", "GET")])
        elif path == "/cgi-bin/param_if.cgi":
            self._param_if(query)
        elif path == "/cgi-bin/auth_if.cgi":
            self._auth_if(query)
        elif path == "/cgi-bin/mjpeg":
            self._mjpeg()
        elif path == "/test/blob":
            self._blob()
        else:
            self._answer(404, b"Not found\r\n")

    def _param_if(self, query):
        cam = self.camera
        with cam.lock:
            refused, omitted = dict(cam.switches.refused), set(cam.switches.omitted)
        body = paramprotocol.answer(cam.store, query, refused, omitted)
        if body is None:
            self._answer(400, b"Bad request\r\n")
        else:
            self._answer(200, body.encode("latin-1", "replace"))

    def _auth_if(self, query):
        s = self.camera.switches
        method = query
        if method == "Status":
            items = [("method", "Status"), ("success", "true"),
                     ("enabled", "true" if s.enabled else "false")]
        elif method == "Enable":
            if s.enable_ok:
                s.enabled = True
            items = [("method", "Enable"), ("success", "true" if s.enable_ok else "false")]
        else:
            items = [("method", method), ("success", "false")]
        text = auth_answer(items, s.auth_answer)
        self._answer(200, (text + "\r\n").encode("latin-1", "replace"))

    def _mjpeg(self):
        cam = self.camera
        s = cam.switches
        self.close_connection = True
        self.send_response(200)
        self.send_header("Content-Type", "multipart/x-mixed-replace; boundary=%s" % BOUNDARY)
        self.send_header("Cache-Control", "no-cache")
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command == "HEAD":
            return
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        sent = 0
        due = time.monotonic()
        while not cam.closed.is_set():
            if s.drop_after and sent >= s.drop_after:
                return
            if s.garbage:
                # Random bytes where the pictures were, at the same pace.
                try:
                    self.wfile.write(garbage_bytes(16384))
                except OSError:
                    return
                if cam.closed.wait(1.0 / max(s.fps, 1)):
                    return
                due = time.monotonic()
                continue
            if s.hang:
                # A hung camera keeps the connection open and sends nothing.
                if not self._hold(lambda: s.hang):
                    return
                due = time.monotonic()
            number = cam.next_frame_number()
            jpeg = cam.pictures.picture(number)
            part = ("--%s\r\nContent-Type: image/jpeg\r\nContent-Length: %d\r\n\r\n"
                    % (BOUNDARY, len(jpeg))).encode("ascii")
            try:
                self.wfile.write(part + jpeg + b"\r\n")
            except OSError:
                return
            sent += 1
            cam.count_sent()
            due += 1.0 / max(s.fps, 1)
            now = time.monotonic()
            if due < now - 1.0:
                due = now  # fell far behind (slow reader): do not burst to catch up
            if due > now and cam.closed.wait(due - now):
                return

    def _blob(self):
        s = self.camera.switches
        body = (bytes(range(256)) * (s.body_len // 256 + 1))[:s.body_len]
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if s.content_length is None:
            self.send_header("Content-Length", str(len(body)))
        elif s.content_length >= 0:
            self.send_header("Content-Length", str(s.content_length))
        if s.content_length is not None:
            # The declared length may not match the body: the connection
            # cannot carry another request after it.
            self.close_connection = True
            self.send_header("Connection", "close")
        self.end_headers()
        if self.command == "HEAD":
            return
        stall = s.stall_after
        if 0 <= stall < len(body):
            self.wfile.write(body[:stall])
            if self._hold(lambda: s.stall_after >= 0):
                self.wfile.write(body[stall:])
            self.close_connection = True
            return
        self.wfile.write(body)
