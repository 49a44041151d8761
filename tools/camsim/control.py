"""Control API of the simulator: creates, inspects, steers and deletes cameras.

GET only, plain-text answers with Content-Length, so that a trivial HTTP/1.0
client in the Windows tests can drive it.
"""

import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qsl

import rtsp
from camera import Camera


class Simulator:
    """Holds the cameras of one simulator process."""

    def __init__(self):
        self.lock = threading.Lock()
        self.cameras = {}
        self.next_id = 1
        self.stop = threading.Event()

    def new_camera(self, **kwargs):
        with self.lock:
            camera_id = self.next_id
            self.next_id += 1
        camera = Camera(camera_id, **kwargs)
        with self.lock:
            self.cameras[camera_id] = camera
        return camera

    def get(self, camera_id):
        with self.lock:
            return self.cameras.get(camera_id)

    def delete(self, camera_id):
        with self.lock:
            camera = self.cameras.pop(camera_id, None)
        if camera:
            camera.close()
        return camera is not None

    def close_all(self):
        with self.lock:
            ids = list(self.cameras)
        for camera_id in ids:
            self.delete(camera_id)


def _bounded_int(text, lo, hi, name):
    if not text.isdigit() or not lo <= int(text) <= hi:
        raise ValueError("%s must be %d..%d" % (name, lo, hi))
    return int(text)


def camera_options(fields):
    """Keyword arguments of Camera from /new query fields; raises ValueError."""
    known = {"user", "password", "auth", "width", "height", "fps", "digest_first"}
    unknown = set(fields) - known
    if unknown:
        raise ValueError("unknown option %s" % sorted(unknown)[0])
    user = fields.get("user", "")
    auth = fields.get("auth", "basic" if user else "none")
    if auth not in ("none", "basic", "digest"):
        raise ValueError("auth must be none, basic or digest")
    return {
        "user": user,
        "password": fields.get("password", ""),
        "auth": auth,
        "width": _bounded_int(fields.get("width", "640"), 16, 4096, "width"),
        "height": _bounded_int(fields.get("height", "480"), 16, 4096, "height"),
        "fps": _bounded_int(fields.get("fps", "10"), 1, 120, "fps"),
        "digest_first": fields.get("digest_first", "0") == "1",
    }


class ControlServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, simulator):
        self.simulator = simulator
        super().__init__(("127.0.0.1", port), ControlHandler)


class ControlHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "camsim-control/1.0"
    sys_version = ""

    def version_string(self):
        return self.server_version
    timeout = 60

    def log_message(self, fmt, *args):
        pass

    def _reply(self, status, text):
        body = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        sim = self.server.simulator
        path, _, query = self.path.partition("?")
        pairs = parse_qsl(query, keep_blank_values=True)
        parts = [p for p in path.split("/") if p]
        try:
            if parts == ["new"]:
                camera = sim.new_camera(**camera_options(dict(pairs)))
                self._reply(200, "id=%d port=%d\n" % (camera.id, camera.port))
            elif parts == ["shutdown"]:
                self._reply(200, "OK\n")
                sim.stop.set()
            elif parts == ["cameras"]:
                with sim.lock:
                    cams = sorted(sim.cameras.values(), key=lambda c: c.id)
                self._reply(200, "".join("id=%d port=%d\n" % (c.id, c.port) for c in cams))
            elif len(parts) >= 3 and parts[0] == "cameras" and parts[1].isdigit():
                self._camera_command(sim, int(parts[1]), parts[2:], pairs)
            else:
                self._reply(404, "unknown command\n")
        except ValueError as e:
            self._reply(400, "%s\n" % e)

    def _camera_command(self, sim, camera_id, command, pairs):
        camera = sim.get(camera_id)
        if camera is None:
            self._reply(404, "no camera %d\n" % camera_id)
            return
        store = camera.store
        if command[:1] == ["rtsp"]:
            rtsp.control(camera, command[1:], pairs, self._reply)
        elif command == ["log"]:
            self._reply(200, "".join(line + "\n" for line in camera.log_lines()))
        elif command == ["stats"]:
            self._reply(200, "sent=%d\n" % camera.sent_pictures())
        elif command == ["log", "clear"]:
            camera.clear_log()
            self._reply(200, "OK\n")
        elif command == ["set"]:
            error = camera.apply_switches(pairs)
            self._reply(400 if error else 200, (error or "OK") + "\n")
        elif command == ["param"]:
            for name, value in pairs:
                store.force_value(name, value)
            self._reply(200, "OK\n")
        elif command == ["params"]:
            self._reply(200, "".join(line + "\n" for line in store.dump()))
        elif command == ["entries"]:
            for name, value in pairs:
                store.force_entries(name, value.split(",") if value else [])
            self._reply(200, "OK\n")
        elif command == ["range"]:
            for name, value in pairs:
                parts = value.split(",")
                if not 2 <= len(parts) <= 3:
                    raise ValueError("range needs min,max[,inc]")
                store.force_range(name, parts)
            self._reply(200, "OK\n")
        elif command == ["forget"]:
            for name, _ in pairs:
                store.remove(name)
            self._reply(200, "OK\n")
        elif command == ["delete"]:
            sim.delete(camera_id)
            self._reply(200, "OK\n")
        else:
            self._reply(404, "unknown command\n")
