"""What the test peers (camera simulator, RTSP server, fault proxy) share
about their lives as processes: the control port handed over in a file,
the stop signals, and the end when the parent is gone or time is up."""

import os
import signal
import threading
import time


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
