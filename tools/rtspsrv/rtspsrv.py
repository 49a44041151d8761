#!/usr/bin/python3
"""A real RTSP server for the tests and the benchmarks: GStreamer's RTSP
server behind a small HTTP control API, loopback only.

  rtspsrv.py --control-port 0 --port-file PATH [--parent-pid PID] [--max-seconds S]

Needs Debian's /usr/bin/python3 with gi (python3-gi, gir1.2-gst-rtsp-server-1.0,
gstreamer1.0-rtsp, gstreamer1.0-plugins-{base,good,ugly,bad}) and ffmpeg.
See README.md for the control API.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import threading

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
import toolserver  # noqa: E402

CLIP_SECONDS = 4
CLIP_SIZE = "320x240"
CLIP_RATE = 25
REALM = "GStreamer RTSP Server"

# Larger H.264 clips, encoded on first use only (seconds of libx264 work that
# most callers never need): name -> (ffmpeg source, frame rate, encoder options).
# 1080p30: what a receiver sees from a camera at full HD, about 4 Mbit/s
# held by the rate control (testsrc2 moves enough to use it), one key frame
# a second with the parameter sets in front, no B pictures (cameras send
# none), so it costs the server no more than packetising.
BIG_CLIPS = {
    "1080p30": ("testsrc2=size=1920x1080:rate=30", 30,
                ["-preset", "veryfast", "-profile:v", "main", "-bf", "0", "-b:v", "4M",
                 "-maxrate", "4M", "-bufsize", "8M", "-g", "30"]),
    # 360p15: a small camera stream, about 0.5 Mbit/s, for many sessions at once.
    "360p15": ("testsrc2=size=640x360:rate=15", 15,
               ["-preset", "veryfast", "-profile:v", "main", "-bf", "0", "-b:v", "500k",
                "-maxrate", "500k", "-bufsize", "1M", "-g", "15"]),
}
BIG_CLIP_SECONDS = 10


def encode_clips(directory):
    """Encodes the looped clips once per process; returns {codec: path}."""
    source = ["-f", "lavfi", "-i", "testsrc=size=%s:rate=%d" % (CLIP_SIZE, CLIP_RATE),
              "-t", str(CLIP_SECONDS)]
    jobs = {
        # Baseline with the parameter sets before every key frame, so that a
        # client joining at any loop turn can decode.
        "h264": (["-c:v", "libx264", "-profile:v", "baseline", "-pix_fmt", "yuv420p",
                  "-g", str(CLIP_RATE), "-x264-params", "repeat-headers=1",
                  "-bsf:v", "h264_mp4toannexb", "-f", "h264"], "clip.h264"),
        "mpeg4": (["-c:v", "mpeg4", "-g", str(CLIP_RATE), "-q:v", "5", "-f", "m4v"], "clip.m4v"),
    }
    paths = {}
    for codec, (args, name) in jobs.items():
        path = os.path.join(directory, name)
        subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                        *source, *args, path], check=True)
        paths[codec] = path
    return paths


def encode_big_clip(directory, name):
    """Encodes the named larger H.264 clip (see BIG_CLIPS); returns its path."""
    source, rate, options = BIG_CLIPS[name]
    path = os.path.join(directory, "clip-%s.h264" % name)
    subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                    "-f", "lavfi", "-i", source, "-t", str(BIG_CLIP_SECONDS),
                    "-c:v", "libx264", "-pix_fmt", "yuv420p", *options,
                    "-x264-params", "repeat-headers=1", "-bsf:v", "h264_mp4toannexb",
                    "-f", "h264", path], check=True)
    return path


class Clips:
    """The clips by (codec, clip name): the small ones made at start, the
    larger ones on first use, each once per process."""

    def __init__(self, directory, small):
        self.directory = directory
        self.paths = {(codec, ""): path for codec, path in small.items()}
        self.lock = threading.Lock()

    def get(self, codec, clip):
        path = self.paths.get((codec, clip))
        if path:  # the common case does not wait behind an encoding
            return path
        with self.lock:
            if (codec, clip) not in self.paths:
                self.paths[(codec, clip)] = encode_big_clip(self.directory, clip)
            return self.paths[(codec, clip)]

    def rate(self, clip):
        return BIG_CLIPS[clip][1] if clip else CLIP_RATE

    def all_paths(self):
        with self.lock:
            return list(self.paths.values())


def launch_line(codec, path, rate=CLIP_RATE):
    if codec == "h264":
        caps = "video/x-h264,stream-format=byte-stream,alignment=au,framerate=%d/1" % rate
        return ("( multifilesrc location=%s loop=true caps=\"%s\" ! h264parse ! "
                "rtph264pay name=pay0 pt=96 config-interval=-1 )" % (path, caps))
    # mpeg4videoparse gives an elementary stream read in one piece no
    # timestamps, so every picture would leave at once with the same RTP
    # timestamp: the pictures are pushed one by one with their times instead
    # (VopFeeder). Small pictures are not gathered into one packet, as a
    # camera sends them.
    caps = "video/mpeg,mpegversion=4,systemstream=false,framerate=%d/1" % CLIP_RATE
    return ("( appsrc name=vops is-live=false format=time caps=\"%s\" ! mpeg4videoparse ! "
            "rtpmp4vpay name=pay0 pt=96 max-ptime=%d )" % (caps, 1000000000 // CLIP_RATE - 1))


def split_vops(data):
    """The pictures of an MPEG-4 elementary stream, each intra-coded one with
    the configuration headers in front, so that every loop turn decodes."""
    marker = b"\x00\x00\x01\xb6"
    starts = []
    at = data.find(marker)
    while at >= 0:
        starts.append(at)
        at = data.find(marker, at + 4)
    if not starts:
        return [data]
    header = data[:starts[0]]
    vops = []
    for i, start in enumerate(starts):
        vop = data[start:starts[i + 1] if i + 1 < len(starts) else len(data)]
        intra = len(vop) > 4 and (vop[4] >> 6) == 0
        vops.append(header + vop if intra else vop)
    return vops


class VopFeeder:
    """Feeds one session's appsrc with the clip's pictures, looped, each
    with its presentation time, so the server's clock paces them."""

    def __init__(self, vops):
        self.vops = vops
        self.index = 0

    def attach(self, appsrc):
        appsrc.connect("need-data", self._on_need_data)

    def _on_need_data(self, appsrc, _length):
        vop = self.vops[self.index % len(self.vops)]
        buf = Gst.Buffer.new_wrapped(vop)
        step = Gst.SECOND // CLIP_RATE
        buf.pts = self.index * step
        buf.dts = buf.pts
        buf.duration = step
        self.index += 1
        appsrc.emit("push-buffer", buf)


def on_main_loop(func, *args):
    """Runs func on the GLib main loop thread and returns its result."""
    done = threading.Event()
    box = {}

    def call():
        try:
            box["value"] = func(*args)
        except Exception as e:  # handed back to the control thread
            box["error"] = e
        done.set()
        return False

    GLib.idle_add(call)
    if not done.wait(30):
        raise RuntimeError("main loop did not answer")
    if "error" in box:
        raise box["error"]
    return box.get("value")


class Server:
    """One RTSP server instance with the mounts /h264 and /mpeg4. Lives on
    the main loop thread; the control thread reaches it through on_main_loop."""

    def __init__(self, server_id, clips, codec, auth, user, password, timeout, clip=""):
        self.id = server_id
        self.auth_mode = auth
        self.timeout = timeout
        self.lock = threading.Lock()
        self._log = []
        self.server = GstRtspServer.RTSPServer()
        self.server.set_address("127.0.0.1")
        self.server.set_service("0")
        mounts = self.server.get_mount_points()
        codecs = ["h264", "mpeg4"] if codec == "both" else [codec]
        for c in codecs:
            factory = GstRtspServer.RTSPMediaFactory()
            path = clips.get(c, clip)
            factory.set_launch(launch_line(c, path, clips.rate(clip)))
            factory.set_shared(False)
            if c == "mpeg4":
                with open(path, "rb") as f:
                    vops = split_vops(f.read())
                factory.connect("media-configure", lambda _f, media, v=vops: self._feed(media, v))
            if auth != "none":
                role = Gst.Structure.from_string(
                    "user, media.factory.access=(boolean)true, media.factory.construct=(boolean)true")[0]
                factory.add_role_from_structure(role)
            mounts.add_factory("/" + c, factory)
        if auth != "none":
            self.server.set_auth(self._make_auth(auth, user, password))
        self.server.connect("client-connected", self._on_client)
        self.source = None
        self.port = 0
        self.listen()

    @staticmethod
    def _feed(media, vops):
        appsrc = media.get_element().get_by_name_recurse_up("vops")
        if appsrc is not None:
            VopFeeder(vops).attach(appsrc)

    @staticmethod
    def _make_auth(mode, user, password):
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string("media.factory.role", "user")
        if mode == "basic":
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
            auth.add_basic(GstRtspServer.RTSPAuth.make_basic(user, password), token)
        else:
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
            auth.add_digest(user, password, token)
        return auth

    def _on_client(self, _server, client):
        for name in ("options", "describe", "setup", "play", "teardown", "get-parameter"):
            client.connect(name + "-request", self._on_request, name.upper())
        client.connect("new-session", self._on_new_session)

    def _on_new_session(self, _client, session):
        if self.timeout:
            session.set_timeout(self.timeout)

    def _on_request(self, _client, ctx, method):
        uri = ctx.uri.get_request_uri() if ctx.uri else "-"
        auth = "-"
        if ctx.request is not None:
            result, value = ctx.request.get_header(GstRtsp.RTSPHeaderField.AUTHORIZATION, 0)
            if result == GstRtsp.RTSPResult.OK and value:
                auth = value
        with self.lock:
            self._log.append("%s %s auth=%s" % (method, uri, auth))

    def log_lines(self):
        with self.lock:
            return list(self._log)

    def clear_log(self):
        with self.lock:
            self._log = []

    def listen(self):
        if self.source is not None:
            return
        if self.port:
            self.server.set_service(str(self.port))
        self.source = self.server.attach(None)
        if not self.source:
            self.source = None
            raise RuntimeError("cannot listen on port %s" % (self.port or "any"))
        self.port = self.server.get_bound_port()

    def kill(self):
        """Stops listening and drops every connected client."""
        if self.source is not None:
            GLib.source_remove(self.source)
            self.source = None
        self.server.client_filter(lambda *_: GstRtspServer.RTSPFilterResult.REMOVE)

    def delete(self):
        self.kill()


class Controller:
    def __init__(self, clips):
        self.clips = clips
        self.lock = threading.Lock()
        self.servers = {}
        self.next_id = 1
        self.stop = threading.Event()

    def new_server(self, fields):
        known = {"codec", "auth", "user", "password", "timeout", "clip"}
        unknown = set(fields) - known
        if unknown:
            raise ValueError("unknown option %s" % sorted(unknown)[0])
        clip = fields.get("clip", "")
        if clip and clip not in BIG_CLIPS:
            raise ValueError("clip must be one of %s" % ", ".join(sorted(BIG_CLIPS)))
        codec = fields.get("codec", "h264" if clip else "both")
        if codec not in ("h264", "mpeg4", "both"):
            raise ValueError("codec must be h264, mpeg4 or both")
        if clip and codec != "h264":
            raise ValueError("the larger clips are H.264 only")
        user = fields.get("user", "")
        auth = fields.get("auth", "basic" if user else "none")
        if auth not in ("none", "basic", "digest"):
            raise ValueError("auth must be none, basic or digest")
        if auth != "none" and not user:
            raise ValueError("auth needs a user")
        timeout = fields.get("timeout", "0")
        if not timeout.isdigit() or int(timeout) > 3600:
            raise ValueError("timeout must be 0..3600")
        with self.lock:
            server_id = self.next_id
            self.next_id += 1
        if clip:
            try:
                self.clips.get(codec, clip)  # here, not on the main loop: it takes a while
            except (OSError, subprocess.CalledProcessError) as e:
                raise RuntimeError("cannot encode the clip %s: %s" % (clip, e))
        server = on_main_loop(Server, server_id, self.clips, codec, auth, user,
                              fields.get("password", ""), int(timeout), clip)
        with self.lock:
            self.servers[server_id] = server
        return server

    def get(self, server_id):
        with self.lock:
            return self.servers.get(server_id)

    def delete(self, server_id):
        with self.lock:
            server = self.servers.pop(server_id, None)
        if server:
            on_main_loop(server.delete)
        return server is not None

    def close_all(self):
        with self.lock:
            ids = list(self.servers)
        for server_id in ids:
            self.delete(server_id)


class ControlHandler(toolserver.ControlHandler):
    protocol_version = "HTTP/1.1"
    timeout = 60
    routes = {"new": "new_server", "shutdown": "shutdown"}
    collection = "servers"
    failures = ((ValueError, 400, "%s\n"), (RuntimeError, 500, "%s\n"))

    def new_server(self, pairs):
        server = self.server.controller.new_server(dict(pairs))
        self.reply(200, "id=%d port=%d\n" % (server.id, server.port))

    def item(self, key, command, pairs):
        ctl = self.server.controller
        server_id = int(key)
        server = ctl.get(server_id)
        if server is None:
            self.reply(404, "no server %d\n" % server_id)
        elif command == ["stop"]:
            on_main_loop(server.kill)
            self.reply(200, "OK\n")
        elif command == ["start"]:
            on_main_loop(server.listen)
            self.reply(200, "port=%d\n" % server.port)
        elif command == ["log"]:
            self.reply(200, "".join(line + "\n" for line in server.log_lines()))
        elif command == ["log", "clear"]:
            server.clear_log()
            self.reply(200, "OK\n")
        elif command == ["delete"]:
            ctl.delete(server_id)
            self.reply(200, "OK\n")
        else:
            self.reply(404, "unknown command\n")


def main(argv=None):
    p = argparse.ArgumentParser(description="GStreamer RTSP server for tests (loopback only)")
    toolserver.add_control_arguments(p)
    toolserver.add_lifetime_arguments(p)
    args = p.parse_args(argv)

    Gst.init(None)
    workdir = tempfile.mkdtemp(prefix="rtspsrv-")
    try:
        clips = Clips(workdir, encode_clips(workdir))
    except (OSError, subprocess.CalledProcessError) as e:
        print("rtspsrv: cannot encode the clips: %s" % e, file=sys.stderr)
        return 2
    controller = Controller(clips)
    loop = GLib.MainLoop()
    control = toolserver.open_control("rtspsrv", args.control_port, ControlHandler, controller)
    if control is None:
        return 2
    toolserver.stop_on_signals(controller.stop)

    def watch():
        toolserver.wait_for_end(controller.stop, args.parent_pid, args.max_seconds)
        controller.stop.set()
        GLib.idle_add(loop.quit)

    threading.Thread(target=watch, name="watch", daemon=True).start()
    toolserver.serve_control(control, "rtspsrv", args.port_file)
    loop.run()

    control.shutdown()
    control.server_close()
    for server in list(controller.servers.values()):
        server.delete()
    for path in clips.all_paths():
        os.unlink(path)
    os.rmdir(workdir)
    return 0


if __name__ == "__main__":
    sys.exit(main())
