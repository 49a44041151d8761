#!/usr/bin/python3
"""Camera simulator: a control server plus simulated IP cameras on loopback.

  camsim.py --control-port 0 --port-file PATH [--parent-pid PID] [--max-seconds S]
  camsim.py --camera-port 8080 [--user U --password P --auth basic|digest|none]
            [--width 640 --height 480 --fps 10]

See README.md for the control API.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))

from control import ControlHandler, Simulator, camera_options  # noqa: E402
import toolserver  # noqa: E402


def parse_args(argv):
    p = argparse.ArgumentParser(description="IP camera simulator (loopback only)")
    toolserver.add_control_arguments(p, required=False)
    p.add_argument("--camera-port", type=int, help="single camera on this port")
    p.add_argument("--user", default="")
    p.add_argument("--password", default="")
    p.add_argument("--auth", choices=["none", "basic", "digest"])
    p.add_argument("--digest-first", action="store_true",
                   help="with --auth digest, also offer Basic after the Digest challenge")
    p.add_argument("--width", type=int, default=640)
    p.add_argument("--height", type=int, default=480)
    p.add_argument("--fps", type=int, default=10)
    toolserver.add_lifetime_arguments(p)
    args = p.parse_args(argv)
    if args.control_port is None and args.camera_port is None:
        p.error("give --control-port and/or --camera-port")
    if args.port_file and args.control_port is None:
        p.error("--port-file needs --control-port")
    return args


def main(argv=None):
    args = parse_args(argv if argv is not None else sys.argv[1:])
    sim = Simulator()
    toolserver.stop_on_signals(sim.stop)

    control = None
    if args.camera_port is not None:
        fields = {"width": str(args.width), "height": str(args.height), "fps": str(args.fps),
                  "digest_first": "1" if args.digest_first else "0"}
        if args.user:
            fields.update(user=args.user, password=args.password)
        if args.auth:
            fields["auth"] = args.auth
        try:
            camera = sim.new_camera(port=args.camera_port, **camera_options(fields))
        except (ValueError, OSError) as e:
            print("camsim: cannot start camera: %s" % e, file=sys.stderr)
            return 2
        print("camsim: camera %d on http://127.0.0.1:%d/" % (camera.id, camera.port), flush=True)
    if args.control_port is not None:
        control = toolserver.open_control("camsim", args.control_port, ControlHandler, sim)
        if control is None:
            sim.close_all()
            return 2
        toolserver.serve_control(control, "camsim", args.port_file)

    toolserver.wait_for_end(sim.stop, args.parent_pid, args.max_seconds)

    if control:
        control.shutdown()
        control.server_close()
    sim.close_all()
    return 0


if __name__ == "__main__":
    sys.exit(main())
