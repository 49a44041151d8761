"""Control API of the simulator: creates, inspects, steers and deletes cameras."""

import threading

import rtsp
import toolserver
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


class ControlHandler(toolserver.ControlHandler):
    protocol_version = "HTTP/1.1"
    server_version = "camsim-control/1.0"
    sys_version = ""
    timeout = 60
    routes = {"new": "new_camera", "shutdown": "shutdown", "cameras": "list_cameras"}
    collection = "cameras"
    failures = ((ValueError, 400, "%s\n"),)

    def version_string(self):
        return self.server_version

    def new_camera(self, pairs):
        camera = self.server.controller.new_camera(**camera_options(dict(pairs)))
        self.reply(200, "id=%d port=%d\n" % (camera.id, camera.port))

    def list_cameras(self, pairs):
        sim = self.server.controller
        with sim.lock:
            cams = sorted(sim.cameras.values(), key=lambda c: c.id)
        self.reply(200, "".join("id=%d port=%d\n" % (c.id, c.port) for c in cams))

    def item(self, key, command, pairs):
        sim = self.server.controller
        camera_id = int(key)
        camera = sim.get(camera_id)
        if camera is None:
            self.reply(404, "no camera %d\n" % camera_id)
            return
        store = camera.store
        if command[:1] == ["rtsp"]:
            rtsp.control(camera, command[1:], pairs, self.reply)
        elif command == ["log"]:
            self.reply(200, "".join(line + "\n" for line in camera.log_lines()))
        elif command == ["stats"]:
            self.reply(200, "sent=%d\n" % camera.sent_pictures())
        elif command == ["log", "clear"]:
            camera.clear_log()
            self.reply(200, "OK\n")
        elif command == ["set"]:
            error = camera.apply_switches(pairs)
            self.reply(400 if error else 200, (error or "OK") + "\n")
        elif command == ["param"]:
            for name, value in pairs:
                store.force_value(name, value)
            self.reply(200, "OK\n")
        elif command == ["params"]:
            self.reply(200, "".join(line + "\n" for line in store.dump()))
        elif command == ["entries"]:
            for name, value in pairs:
                store.force_entries(name, value.split(",") if value else [])
            self.reply(200, "OK\n")
        elif command == ["range"]:
            for name, value in pairs:
                parts = value.split(",")
                if not 2 <= len(parts) <= 3:
                    raise ValueError("range needs min,max[,inc]")
                store.force_range(name, parts)
            self.reply(200, "OK\n")
        elif command == ["forget"]:
            for name, _ in pairs:
                store.remove(name)
            self.reply(200, "OK\n")
        elif command == ["delete"]:
            sim.delete(camera_id)
            self.reply(200, "OK\n")
        else:
            self.reply(404, "unknown command\n")
