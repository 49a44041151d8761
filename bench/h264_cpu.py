#!/usr/bin/python3
"""The measurement behind bench/h264_cpu.sh (see there): starts the RTSP
server and the camera simulator, the three receivers side by side, and
samples their CPU time and frame counts over one common window."""

import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

PATH = "/h264?stream=0&mode=live"
TICK = os.sysconf("SC_CLK_TCK")


def get(port, target, timeout=30):
    with urllib.request.urlopen("http://127.0.0.1:%d%s" % (port, target), timeout=timeout) as r:
        return r.read().decode()


def fields(text):
    return dict(item.split("=", 1) for item in text.split())


def start_tool(argv, work, name):
    """Starts a tool that writes its control port to a file; returns (process, port)."""
    port_file = os.path.join(work, name + ".port")
    log = open(os.path.join(work, name + ".log"), "w")
    proc = subprocess.Popen(argv + ["--control-port", "0", "--port-file", port_file,
                                    "--parent-pid", str(os.getpid())],
                            stdout=log, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 120
    while not os.path.exists(port_file):
        if proc.poll() is not None or time.monotonic() > deadline:
            sys.exit("%s did not start (see %s)" % (name, log.name))
        time.sleep(0.1)
    with open(port_file) as f:
        return proc, int(f.read())


def cpu_seconds(pid):
    """User + system CPU seconds of a process, all its threads."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            rest = f.read().rpartition(")")[2].split()
    except OSError:
        return None
    return (int(rest[11]) + int(rest[12])) / TICK  # fields 14 and 15


def wine_server_pid(prefix):
    """The wine server of this prefix: the one whose working directory is
    the prefix's server directory, named after the prefix's device and inode."""
    st = os.stat(prefix)
    # The directory's parent differs between Wine builds (/tmp/.wine-<uid>,
    # or a random /tmp/wine-XXXXXX on Debian); its name does not.
    wanted = "server-%x-%x" % (st.st_dev, st.st_ino)
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as f:
                if not f.read().startswith("wineserver"):
                    continue
            if os.path.basename(os.readlink("/proc/%s/cwd" % entry)) == wanted:
                return int(entry)
        except OSError:
            continue
    return None


def wine_helpers(prefix, exclude):
    """Other processes of the prefix (services.exe, winedevice.exe, ...)."""
    found = {}
    needle = ("WINEPREFIX=" + prefix).encode() + b"\0"
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) in exclude:
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if needle not in f.read() + b"\0":
                    continue
            with open("/proc/%s/comm" % entry) as f:
                comm = f.read().strip()
        except OSError:
            continue
        if comm.endswith(".exe"):
            found[int(entry)] = comm
    return found


class Receiver:
    """One receiving process and the frame counts it reports, timestamped."""

    def __init__(self, name, argv, pattern, cwd=None, stdin=None):
        self.name = name
        self.pattern = re.compile(pattern)
        self.counts = []  # (monotonic time, frames)
        self.bytes = []  # (monotonic time, bytes), where reported
        self.lines = []
        self.proc = subprocess.Popen(argv, cwd=cwd, stdin=stdin, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True, bufsize=1)
        self.pid = self.proc.pid
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            now = time.monotonic()
            self.lines.append(line.rstrip())
            del self.lines[:-200]
            m = self.pattern.search(line)
            if m:
                self.counts.append((now, int(m.group(1))))
            m = re.search(r"bytes=(\d+)", line)
            if m:
                self.bytes.append((now, int(m.group(1))))

    def frames(self):
        return self.counts[-1][1] if self.counts else 0

    def lines_matching(self, pattern):
        """The groups of the last line that matches, or None."""
        for line in reversed(self.lines):
            m = re.search(pattern, line)
            if m:
                return m.groups()
        return None

    def frames_at(self, t):
        return at(self.counts, t)

    def bytes_at(self, t):
        return at(self.bytes, t) if self.bytes else None

    def report_after(self, t):
        return any(c[0] > t for c in self.counts)


def at(counts, t):
    """A running count at time t, interpolated between the reports around it."""
    before = [c for c in counts if c[0] <= t]
    after = [c for c in counts if c[0] > t]
    if not before:
        return after[0][1] if after else 0
    if not after:
        return before[-1][1]
    (t0, n0), (t1, n1) = before[-1], after[0]
    return n0 + (n1 - n0) * (t - t0) / (t1 - t0)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--bin", required=True)
    p.add_argument("--wine", required=True)
    p.add_argument("--bits", default="64")
    p.add_argument("--seconds", type=float, default=60)
    p.add_argument("--settle", type=float, default=5)
    a = p.parse_args()
    prefix = os.path.abspath(os.environ["WINEPREFIX"])
    work = tempfile.mkdtemp(prefix="halvencap-h264-bench-")
    tools = []
    receivers = []
    try:
        srv, srv_control = start_tool(["/usr/bin/python3", os.path.join(a.root, "tools/rtspsrv/rtspsrv.py")],
                                      work, "rtspsrv")
        tools.append(srv)
        sim, sim_control = start_tool(["/usr/bin/python3", os.path.join(a.root, "tools/camsim/camsim.py")],
                                      work, "camsim")
        tools.append(sim)
        print("encoding or reusing the 1080p30 clip ...", flush=True)
        rtsp_port = int(fields(get(srv_control, "/new?codec=h264&auth=none&clip=1080p30", timeout=600))["port"])
        camera = fields(get(sim_control, "/new"))
        cam_id, cam_port = camera["id"], int(camera["port"])
        get(sim_control, "/cameras/%s/param?Streaming.RTSPPort=%d" % (cam_id, rtsp_port))
        get(sim_control, "/cameras/%s/entries?Stream.OutputSize=Size_640x480,Size_1280x720,Size_1920x1080" % cam_id)
        url = "rtsp://127.0.0.1:%d%s" % (rtsp_port, PATH)

        # A wine server of the benchmark's prefix that outlives short gaps
        # (30 s after its last client), so its start is not charged to the
        # driver and it can be sampled throughout.
        subprocess.run(["wineserver", "-p30"], check=False)
        server_pid = None
        for _ in range(100):
            server_pid = wine_server_pid(prefix)
            if server_pid:
                break
            time.sleep(0.1)
        if not server_pid:
            sys.exit("no wine server found for %s" % prefix)

        # The host runs until its standard input closes.
        host = Receiver("driver", [a.wine, "bench_CameraHost.exe", str(cam_port), "0", "3", "1920", "1080", "33"],
                        r"frames=(\d+)", cwd=a.bin, stdin=subprocess.PIPE)
        ffmpeg = Receiver("ffmpeg", ["ffmpeg", "-hide_banner", "-nostdin", "-v", "error", "-rtsp_transport", "udp",
                                     "-i", url, "-c", "copy", "-f", "null", "-progress", "pipe:1",
                                     "-stats_period", "1", "-"], r"^frame=(\d+)")
        gst = Receiver("gst", ["gst-launch-1.0", "-v", "rtspsrc", "location=" + url, "protocols=udp", "!",
                               "rtph264depay", "!", "h264parse", "!", "fpsdisplaysink", "video-sink=fakesink",
                               "text-overlay=false", "sync=false", "fps-update-interval=1000"],
                       r"rendered: (\d+)")
        receivers = [host, ffmpeg, gst]

        deadline = time.monotonic() + 90
        while not all(r.frames() > 0 for r in receivers):
            for r in receivers:
                if r.proc.poll() is not None:
                    sys.exit("%s ended early:\n%s" % (r.name, "\n".join(r.lines[-20:])))
            if time.monotonic() > deadline:
                late = [r.name for r in receivers if r.frames() == 0]
                sys.exit("no frames from %s within 90 s" % ", ".join(late))
            time.sleep(0.2)
        time.sleep(a.settle)

        load0 = os.getloadavg()[0]
        helpers = wine_helpers(prefix, {server_pid, host.pid})
        pids = [r.pid for r in receivers] + [server_pid] + list(helpers)
        t0 = time.monotonic()
        cpu0 = {pid: cpu_seconds(pid) for pid in pids}
        time.sleep(a.seconds)
        t1 = time.monotonic()
        cpu1 = {pid: cpu_seconds(pid) for pid in pids}
        load1 = os.getloadavg()[0]
        # One more report from each, so the frame counts at t1 interpolate.
        deadline = time.monotonic() + 5
        while not all(r.report_after(t1) for r in receivers) and time.monotonic() < deadline:
            time.sleep(0.1)

        window = t1 - t0
        per_min = lambda pid: None if cpu0[pid] is None or cpu1[pid] is None else (cpu1[pid] - cpu0[pid]) * 60 / window
        fps = {r.name: (r.frames_at(t1) - r.frames_at(t0)) / window for r in receivers}
        for r in receivers:
            if per_min(r.pid) is None:
                sys.exit("%s ended during the window:\n%s" % (r.name, "\n".join(r.lines[-20:])))
        server = per_min(server_pid) or 0.0
        rows = [
            ("driver (bench_CameraHost, wine%s)" % a.bits, per_min(host.pid), server),
            ("ffmpeg -c copy -f null", per_min(ffmpeg.pid), None),
            ("gst-launch rtspsrc ! fakesink", per_min(gst.pid), None),
        ]
        ff_total = per_min(ffmpeg.pid)
        print()
        print("1920x1080 H.264, 30/s, ~4 Mbit/s over RTP/UDP; window %.1f s, all three at once; "
              "load average %.1f -> %.1f on %d cores" % (window, load0, load1, os.cpu_count()))
        print("%-34s %24s %10s %8s" % ("", "CPU s per minute of stream", "", ""))
        print("%-34s %8s %8s %8s %10s %8s" % ("receiver", "process", "wine srv", "total", "frames/s", "/ffmpeg"))
        for (name, proc, srv_cpu), r in zip(rows, receivers):
            total = proc + (srv_cpu or 0.0)
            print("%-34s %8.2f %8s %8.2f %10.2f %8s" % (
                name, proc, "%.2f" % srv_cpu if srv_cpu is not None else "-", total, fps[r.name],
                "%.2f" % (total / ff_total) if ff_total else "-"))
        if host.bytes:
            last = host.lines_matching(r"keys=(\d+).*lost=(\d+)")
            print("driver delivered %.2f Mbit/s of frames%s" % (
                (host.bytes_at(t1) - host.bytes_at(t0)) * 8 / window / 1e6,
                ", %s key frames and %s stream losses in all" % last if last else ""))
        helper_cpu = {helpers[pid]: per_min(pid) for pid in helpers if per_min(pid) is not None}
        if helper_cpu:
            print("other Wine processes of the prefix (not in the table): " +
                  ", ".join("%s %.2f" % kv for kv in sorted(helper_cpu.items())) + " CPU s per minute")
        low = [name for name, rate in fps.items() if rate < 27]
        if low:
            print("note: fewer than 27 frames/s from %s: the comparison is not like for like" % ", ".join(low))
    finally:
        for r in receivers:
            stop(r)
        for proc in tools:
            proc.terminate()
        for proc in tools:
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
        for name in os.listdir(work):
            os.unlink(os.path.join(work, name))
        os.rmdir(work)


def stop(r):
    if r.proc.poll() is not None:
        return
    if r.proc.stdin:
        r.proc.stdin.close()  # the host's signal to stop its channel and end
    else:
        r.proc.send_signal(signal.SIGINT)
    try:
        r.proc.wait(20)
    except subprocess.TimeoutExpired:
        r.proc.kill()
        r.proc.wait()


if __name__ == "__main__":
    main()
