#!/usr/bin/env python3
"""Field camera RTSP servers for the interoperability stage: one server per
behaviour profile (see profiles.py), each serving a looped H.264 and
MPEG-4 Visual clip, behind a small HTTP control API on loopback.

  fieldcam.py --control-port 0 --port-file PATH [--parent-pid PID] [--max-seconds S]
              [--clip-dir DIR] [--h264 FILE] [--m4v FILE]

Control API (GET, plain-text answers):
  /new?profile=NAME[&user=U&password=W&timeout=S]  -> "id=N port=P profile=NAME"
  /profiles                                       -> "NAME  what it does" per line
  /servers/N/log | /servers/N/log/clear | /servers/N/stats | /servers/N/delete
"""

import argparse
import os
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "common"))
import clip as cliplib  # noqa: E402
import profiles  # noqa: E402
from server import FieldServer  # noqa: E402
import toolserver  # noqa: E402


class Controller:
    def __init__(self, clips):
        self.clips = clips
        self.servers = {}
        self.next_id = 1
        self.lock = threading.Lock()

    def new_server(self, fields):
        name = fields.get("profile", "clean")
        timeout = int(fields["timeout"]) if fields.get("timeout") else None
        with self.lock:
            server_id = self.next_id
            self.next_id += 1
        server = FieldServer(server_id, name, self.clips, fields.get("user", "admin"),
                             fields.get("password", ""), timeout)
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
            server.close()
        return server is not None

    def close_all(self):
        with self.lock:
            servers = list(self.servers.values())
            self.servers.clear()
        for s in servers:
            s.close()


class ControlHandler(toolserver.ControlHandler):
    routes = {"new": "new_server", "profiles": "list_profiles"}
    collection = "servers"
    failures = (((KeyError, ValueError), 400, "bad request: %s\n"),)

    def new_server(self, pairs):
        s = self.server.controller.new_server(dict(pairs))
        self.reply(200, "id=%d port=%d profile=%s\n" % (s.id, s.port, s.p["name"]))

    def list_profiles(self, pairs):
        self.reply(200, "".join("%-28s %s\n" % (n, profiles.profile(n)["note"]) for n in profiles.PROFILES))

    def item(self, key, command, pairs):
        ctl = self.server.controller
        server_id = int(key)
        if command == ["delete"]:
            self.reply(200 if ctl.delete(server_id) else 404, "OK\n")
            return
        s = ctl.get(server_id)
        if s is None:
            self.reply(404, "no server %d\n" % server_id)
        elif command == ["log"]:
            self.reply(200, "".join(line + "\n" for line in s.get_log()))
        elif command == ["log", "clear"]:
            s.clear_log()
            self.reply(200, "OK\n")
        elif command == ["stats"]:
            self.reply(200, "".join("%s=%s\n" % kv for kv in sorted(s.stats().items())))
        else:
            self.reply(404, "unknown command\n")


def load_clips(args):
    directory = args.clip_dir or tempfile.mkdtemp(prefix="fieldcam-")
    os.makedirs(directory, exist_ok=True)
    h264 = args.h264 or cliplib.encode(directory, "h264")
    m4v = args.m4v or cliplib.encode(directory, "mpeg4")
    return {"h264": cliplib.Clip("h264", h264, args.rate), "mpeg4": cliplib.Clip("mpeg4", m4v, args.rate)}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    toolserver.add_control_arguments(parser, required=False, default=0)
    parser.add_argument("--clip-dir", default="", help="where the clips are made (default: a new temporary one)")
    parser.add_argument("--h264", default="", help="an Annex-B H.264 clip to serve instead")
    parser.add_argument("--m4v", default="", help="an MPEG-4 Visual elementary stream to serve instead")
    parser.add_argument("--rate", type=int, default=cliplib.RATE, help="frame rate of the clips")
    toolserver.add_lifetime_arguments(parser)
    args = parser.parse_args(argv)
    stop = threading.Event()
    toolserver.stop_on_signals(stop)
    controller = Controller(load_clips(args))
    control = toolserver.ControlServer(args.control_port, ControlHandler, controller)
    toolserver.serve_control(control, "fieldcam", args.port_file)
    try:
        toolserver.wait_for_end(stop, args.parent_pid, args.max_seconds)
    finally:
        control.shutdown()
        controller.close_all()
    return 0


if __name__ == "__main__":
    sys.exit(main())
