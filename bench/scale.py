#!/usr/bin/python3
"""The measurement behind bench/scale.sh (see there): N cameras, one driver
and channel each, all in one host process (bench_CameraHost), for each
channel kind and each N."""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from h264_cpu import cpu_seconds, fields, get, start_tool, wine_server_pid  # noqa: E402

# Per kind: video format, the stream each camera sends, and what it is.
KINDS = {
    "mjpeg": {"format": 1, "width": 1280, "height": 720, "fps": 10,
              "what": "Motion JPEG 1280x720 at 10/s from the camera simulator"},
    "h264": {"format": 3, "width": 640, "height": 360, "fps": 15, "clip": "360p15",
             "what": "H.264 640x360 at 15/s, about 0.5 Mbit/s, from GStreamer (one looped clip, a session per camera)"},
}
SETTLE_SECONDS = 8  # start-up (connection, first key frame) is left out of the delivered count


def address_space(line):
    """The "as=<bytes>" of a host line, 0 when it has none."""
    for word in line.split():
        if word.startswith("as="):
            return int(word[3:])
    return 0


def status(pid):
    values = {}
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                key, _, rest = line.partition(":")
                if key in ("VmRSS", "Threads"):
                    values[key] = int(rest.split()[0])
    except (OSError, ValueError):
        pass
    return values.get("VmRSS", 0), values.get("Threads", 0)


class Server:
    """A Wine server of the benchmark's own prefix, started here so that
    its pid (and so its CPU time) is certain."""

    def __init__(self, wine, prefix):
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL, check=False)
        time.sleep(0.5)
        self.proc = subprocess.Popen(["wineserver", "-f", "-p"], stderr=subprocess.DEVNULL)
        for _ in range(100):
            self.pid = wine_server_pid(prefix)
            if self.pid:
                break
            time.sleep(0.1)
        subprocess.run([wine, "cmd", "/c", "exit"], cwd="/tmp", stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        time.sleep(2)

    def stop(self):
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL, check=False)
        try:
            self.proc.wait(20)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def thread_cost_kib(a):
    """Resident KiB one idle thread adds to a process of this platform."""
    n = 32
    p = subprocess.Popen([a.wine, "bench_IdleThreads.exe", str(n)], cwd=a.bin, stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    rss = {}
    for line in p.stdout:
        word = line.split()
        if word and word[0] in ("before", "after"):
            rss[word[0]] = status(p.pid)[0]
            if word[0] == "after":
                break
    p.stdin.close()
    p.wait()
    return max(0, (rss.get("after", 0) - rss.get("before", 0)) / n)


def thread_limit(a, stack_kib):
    """How many threads with this stack reservation one process of this
    platform can start, and its whole user address space."""
    out = subprocess.run([a.wine, "bench_IdleThreads.exe", "--max", str(stack_kib)], cwd=a.bin,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, timeout=600).stdout
    for line in out.splitlines():
        word = line.split()
        if word and word[0] == "max":
            f = {k: int(v) for k, v in (w.split("=") for w in word[4:] if "=" in w)}
            return {"threads": int(word[1]), "error": int(word[3]), "space": f.get("as", 0) + f.get("free", 0),
                    "perthread": f.get("perthread", 0)}
    return {"threads": 0, "error": 0, "space": 0, "perthread": 0}


def ceiling_estimate(probe, row):
    """Channels of a row's kind that one process holds: by address space
    (what a channel takes, its threads' stacks included, against the whole
    user address space: Wine shows much of it reserved at start, yet hands
    it out) and by the count of threads, whichever ends first. An upper
    bound: the host and the libraries take their share too."""
    by_space = probe["space"] / 1024.0 / row["as_kib"] if row["as_kib"] > 0 else None
    by_threads = probe["threads"] / row["threads"] if row["threads"] > 0 else None
    values = [v for v in (by_space, by_threads) if v is not None]
    return (int(min(values)) if values else None), by_space, by_threads


def run_host(argv, cwd, server_pid):
    """Runs the host; returns its marks, per-second totals and channel lines."""
    p = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    marks, ticks, channels = {}, [], []
    for line in p.stdout:
        word = line.split()
        if not word:
            continue
        if word[0] in ("loaded", "streaming", "stopping"):
            marks[word[0]] = ((time.monotonic(), cpu_seconds(p.pid) or 0, cpu_seconds(server_pid) or 0)
                              + status(p.pid) + (address_space(line),))
        elif word[0].startswith("t=") and "streaming" in marks and "stopping" not in marks:
            f = fields(line)
            ticks.append((time.monotonic(), int(f["frames"]), int(f["lost"])))
        elif word[0] == "channel" and len(word) >= 9:
            lat = [float(v) if v != "-" else None for v in word[7:9]]
            channels.append({"frames": int(word[5]), "median": lat[0], "p99": lat[1]})
    p.wait()
    return marks, ticks, channels


def measure(a, kind, n, sim, srv):
    k = KINDS[kind]
    ports, ids = [], []
    rtsp_port = None
    if kind == "h264":
        rtsp = fields(get(srv, "/new?codec=h264&auth=none&clip=%s" % k["clip"], timeout=600))
        rtsp_port, rtsp_id = int(rtsp["port"]), rtsp["id"]
    for _ in range(n):
        if kind == "mjpeg":
            cam = fields(get(sim, "/new?width=%d&height=%d&fps=%d" % (k["width"], k["height"], k["fps"])))
        else:
            cam = fields(get(sim, "/new"))
            get(sim, "/cameras/%s/param?Streaming.RTSPPort=%d" % (cam["id"], rtsp_port))
            get(sim, "/cameras/%s/entries?Stream.OutputSize=Size_640x360,Size_1280x720" % cam["id"])
        ids.append(cam["id"])
        ports.append(cam["port"])
    server = Server(a.wine, a.prefix)
    try:
        argv = [a.wine, "bench_CameraHost.exe", ",".join(ports), str(a.seconds), str(k["format"]),
                str(k["width"]), str(k["height"]), str(1000 // k["fps"])]
        marks, ticks, channels = run_host(argv, a.bin, server.pid)
    finally:
        server.stop()
    sent = None
    if kind == "mjpeg":
        sent = 0
        for cam_id in ids:
            sent += int(fields(get(sim, "/cameras/%s/stats" % cam_id)).get("sent", 0))
    for cam_id in ids:
        get(sim, "/cameras/%s/delete" % cam_id)
    if kind == "h264":
        get(srv, "/servers/%s/delete" % rtsp_id)
    zero = (0, 0, 0, 0, 0, 0)
    loaded, streaming, stopping = (marks.get(m, zero) for m in ("loaded", "streaming", "stopping"))
    seconds = max(stopping[0] - streaming[0], 1e-9)
    per_stream_min = lambda v: v * 60.0 / seconds / n
    frames = sum(c["frames"] for c in channels)
    # Delivered against sent: the simulator counts the Motion JPEG pictures
    # it sent whole; for RTSP the clip's rate over the window after start-up.
    window = [t for t in ticks if t[0] >= streaming[0] + SETTLE_SECONDS]
    if kind == "mjpeg":
        delivered, expected = frames, sent
    elif len(window) >= 2:
        delivered = window[-1][1] - window[0][1]
        expected = round(n * k["fps"] * (window[-1][0] - window[0][0]))
    else:
        delivered, expected = 0, 0
    medians = [c["median"] for c in channels if c["median"] is not None]
    p99s = [c["p99"] for c in channels if c["p99"] is not None]
    rss_kib = (stopping[3] - loaded[3]) / n
    threads = (stopping[4] - loaded[4]) / n
    as_kib = (stopping[5] - loaded[5]) / 1024.0 / n
    return {
        "as_kib": round(as_kib),
        "kind": kind, "n": n,
        "process": round(per_stream_min(stopping[1] - streaming[1]), 3),
        "server": round(per_stream_min(stopping[2] - streaming[2]), 3),
        "rss_kib": round(rss_kib),
        "threads": round(threads, 2),
        "own_kib": round(max(0, rss_kib - threads * a.thread_kib)),
        "delivered": delivered, "expected": expected or 0,
        "lost_reports": ticks[-1][2] if ticks else 0,
        "median_ms": round(statistics.median(medians), 2) if medians else None,
        "p99_ms": round(max(p99s), 2) if p99s else None,
    }


CEILING_STREAMS = {
    # Lighter streams than the table's: the ceiling is about what a channel
    # holds (threads, sockets, address space), and hundreds of cameras must
    # not saturate the simulator first.
    "mjpeg": {"query": "width=640&height=360&fps=2", "width": 640, "height": 360, "interval": 500},
    "h264": {"width": 640, "height": 360, "interval": 66},
}


def ceiling(a, kind, sim, srv, count):
    """Starts channels of one kind in one host until one cannot start."""
    k, c = KINDS[kind], CEILING_STREAMS[kind]
    ports, ids = [], []
    rtsp_id = None
    if kind == "h264":
        rtsp = fields(get(srv, "/new?codec=h264&auth=none&clip=%s" % k["clip"], timeout=600))
        rtsp_port, rtsp_id = int(rtsp["port"]), rtsp["id"]
    for _ in range(count):
        if kind == "mjpeg":
            cam = fields(get(sim, "/new?" + c["query"]))
        else:
            cam = fields(get(sim, "/new"))
            get(sim, "/cameras/%s/param?Streaming.RTSPPort=%d" % (cam["id"], rtsp_port))
            get(sim, "/cameras/%s/entries?Stream.OutputSize=Size_640x360,Size_1280x720" % cam["id"])
        ids.append(cam["id"])
        ports.append(cam["port"])
    server = Server(a.wine, a.prefix)
    result = {"kind": kind, "cameras": count, "up": 0, "failure": "-", "as": 0, "free": 0, "threads": 0,
              "loaded_as": 0, "rate": 0.0}
    try:
        argv = [a.wine, "bench_CameraHost.exe", "--ceiling", ",".join(ports), str(k["format"]),
                str(c["width"]), str(c["height"]), str(c["interval"])]
        p = subprocess.Popen(argv, cwd=a.bin, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        for line in p.stdout:
            word = line.split()
            if not word:
                continue
            if word[0] == "loaded":
                result["loaded_as"] = address_space(line)
            elif word[0] == "up" and int(word[1]) % 10 == 0:
                print("    %s channels up, %s" % (word[1], " ".join(word[2:])), flush=True)
            elif word[0] == "ceiling":
                f = dict(w.split("=") for w in word[2:] if "=" in w)
                result.update(up=int(word[1]), threads=int(f.get("threads", 0)), free=int(f.get("free", 0)),
                              **{"as": int(f.get("as", 0))})
            elif word[0] == "failure":
                result["failure"] = line.strip()[len("failure "):]
            elif word[0] == "log":
                result.setdefault("log", []).append(line.strip()[len("log "):])
            elif word[0] == "running":
                result["rate"] = float(word[2])
        p.wait()
    finally:
        server.stop()
    for cam_id in ids:
        get(sim, "/cameras/%s/delete" % cam_id)
    if rtsp_id is not None:
        get(srv, "/servers/%s/delete" % rtsp_id)
    return result


def ceiling_main(a, kinds, sim, srv):
    lines = ["Ceiling of one win%s host process (bench_CameraHost --ceiling): channels started one after another, "
             "each on its own camera, until one cannot start" % a.bits]
    for kind in kinds:
        count = a.ceiling_cameras or (400 if kind == "mjpeg" else 200)
        print("%s: up to %d cameras" % (kind, count), flush=True)
        r = ceiling(a, kind, sim, srv, count)
        # Under Wine the walk shows most of the address space in use from
        # the start (reserved areas Wine hands out later): per channel it
        # says little, but "free" at the ceiling is what is really left.
        lines.append("  %s: %d channels streamed (%d cameras offered); then %s" % (kind, r["up"], count, r["failure"]))
        lines.append("    at the ceiling: %d threads, %.0f MiB of address space free; the running channels delivered "
                     "%.1f frames/s after the failure"
                     % (r["threads"], r["free"] / 1048576.0, r["rate"]))
        for line in r.get("log", []):
            lines.append("    last lines of the channel that did not start: %s" % line)
    text = "\n".join(lines) + "\n"
    with open(os.path.join(a.root, "build", "bench", "ceiling-win%s.txt" % a.bits), "w") as f:
        f.write(text)
    print(text, end="")


def fmt(v, spec):
    return "-" if v is None else format(v, spec)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--bin", required=True)
    p.add_argument("--wine", required=True)
    p.add_argument("--bits", default="32")
    p.add_argument("--seconds", type=int, default=30)
    p.add_argument("--kinds", default="mjpeg h264")
    p.add_argument("--ceiling", action="store_true")
    p.add_argument("--ceiling-cameras", type=int, default=0)
    p.add_argument("counts", type=int, nargs="*", default=[1, 8, 32, 64])
    a = p.parse_args()
    a.prefix = os.path.abspath(os.environ["WINEPREFIX"])
    out = os.path.join(a.root, "build", "bench")
    os.makedirs(out, exist_ok=True)
    base = os.path.join(out, "scale-win%s" % a.bits)
    kinds = a.kinds.split()
    work = tempfile.mkdtemp(prefix="halvencap-scale-")
    tools = []
    rows = []
    try:
        server = Server(a.wine, a.prefix)
        try:
            a.thread_kib = thread_cost_kib(a)
            # A 64-bit process runs out of memory long before address space:
            # only the 32-bit one has a ceiling worth probing.
            none = {"threads": 0, "error": 0, "space": 0, "perthread": 0}
            a.probes = {kib: thread_limit(a, kib) if a.bits == "32" else none for kib in (1024, 256)}
        finally:
            server.stop()
        print("one idle thread costs %.0f KiB resident on this platform (bench_IdleThreads)" % a.thread_kib,
              flush=True)
        for kib, probe in sorted(a.probes.items()):
            print("one process starts at most %d threads with %d KiB stacks here (then error %d) in %.0f MiB of user "
                  "address space (bench_IdleThreads --max)"
                  % (probe["threads"], kib, probe["error"], probe["space"] / 1048576.0), flush=True)
        sim_proc, sim = start_tool(["/usr/bin/python3", os.path.join(a.root, "tools/camsim/camsim.py")], work, "camsim")
        tools.append(sim_proc)
        srv = None
        if "h264" in kinds:
            srv_proc, srv = start_tool(["/usr/bin/python3", os.path.join(a.root, "tools/rtspsrv/rtspsrv.py")],
                                       work, "rtspsrv")
            tools.append(srv_proc)
        if a.ceiling:
            ceiling_main(a, kinds, sim, srv)
            return
        for kind in kinds:
            print("%s: %s, %d s per run" % (kind, KINDS[kind]["what"], a.seconds), flush=True)
            for n in a.counts:
                r = measure(a, kind, n, sim, srv)
                rows.append(r)
                print("  N=%d: per stream %.2f + %.2f CPU s/min (process + server), %d KiB (%d beyond the threads' "
                      "own), %d KiB of address space and %.2f threads per channel, %d of %d frames, latency median "
                      "%s ms, p99 %s ms, %d loss reports"
                      % (n, r["process"], r["server"], r["rss_kib"], r["own_kib"], r["as_kib"], r["threads"],
                         r["delivered"],
                         r["expected"],
                         fmt(r["median_ms"], ".2f"), fmt(r["p99_ms"], ".2f"), r["lost_reports"]), flush=True)
    finally:
        for t in tools:
            t.terminate()
            t.wait()
        subprocess.run(["rm", "-rf", work], check=False)

    stamp = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
    lines = ["Channels in one win%s host (bench_CameraHost), %d s per run (%s)" % (a.bits, a.seconds, stamp)]
    for kind in kinds:
        lines.append("  %s: %s" % (kind, KINDS[kind]["what"]))
    lines.append("CPU: seconds per minute of one stream while streaming; memory and threads: growth per channel;")
    lines.append("'beyond threads': memory per channel less what its threads cost any process of this platform")
    lines.append("(%.0f KiB resident per idle thread here, measured with bench_IdleThreads);" % a.thread_kib)
    lines.append("latency: arrival of a picture's last packet to the host's OnFrame (median of the channels' medians,")
    lines.append("worst channel's 99th percentile); Motion JPEG has none (no packets)")
    lines.append("address space: committed and reserved per channel (VirtualQuery walk in the host)")
    lines.append("%-6s %8s %10s %10s %10s %10s %14s %10s %10s %10s %8s %9s %9s" % (
        "kind", "channels", "proc CPU", "server CPU", "total CPU", "RSS KiB/ch", "beyond threads", "AS KiB/ch",
        "threads/ch", "delivered", "of sent", "lat p50", "lat p99"))
    for r in rows:
        share = "%.1f%%" % (100.0 * r["delivered"] / r["expected"]) if r["expected"] else "-"
        lines.append("%-6s %8d %10.3f %10.3f %10.3f %10d %14d %10d %10.2f %10d %8s %9s %9s" % (
            r["kind"], r["n"], r["process"], r["server"], r["process"] + r["server"], r["rss_kib"], r["own_kib"],
            r["as_kib"], r["threads"],
            r["delivered"], share, fmt(r["median_ms"], ".2f"), fmt(r["p99_ms"], ".2f")))
    probe = a.probes[256]
    if a.bits != "32":
        probe = None
    if probe is not None:
        lines.append("Ceiling of one win%s host process here: %d threads at most (256 KiB stacks, bench_IdleThreads --max), "
                 "%.0f MiB user address space; channels at most (upper bound):"
                 % (a.bits, probe["threads"], probe["space"] / 1048576.0))
    for kind in kinds if probe is not None else []:
        kind_rows = [r for r in rows if r["kind"] == kind]
        if not kind_rows:
            continue
        r = max(kind_rows, key=lambda r: r["n"])
        total, by_space, by_threads = ceiling_estimate(probe, r)
        lines.append("  %s: about %s channels (address space allows %s, threads %s; from N=%d)" % (
            kind, fmt(total, "d"), fmt(by_space, ".0f"), fmt(by_threads, ".0f"), r["n"]))
    table = "\n".join(lines) + "\n"
    with open(base + ".txt", "w") as f:
        f.write(table)
    print(table, end="")
    with open(base + ".dat", "w") as f:
        for kind in kinds:
            f.write("# %s: channels process server rss_kib threads rss_kib_beyond_threads\n" % kind)
            for r in rows:
                if r["kind"] == kind:
                    f.write("%d %.3f %.3f %d %.2f %d\n" % (r["n"], r["process"], r["server"], r["rss_kib"],
                                                          r["threads"], r["own_kib"]))
            f.write("\n\n")
    chart(base, kinds, a.bits)


def chart(base, kinds, bits):
    if subprocess.run(["sh", "-c", "command -v gnuplot"], stdout=subprocess.DEVNULL).returncode != 0:
        print("no gnuplot: no chart (apt-get install gnuplot-nox)")
        return
    plots = []
    for i, kind in enumerate(kinds):
        plots.append('"%s.dat" index %d using 1:($2+$3) with linespoints title "%s: CPU per stream (process + server)"'
                     % (base, i, kind))
        plots.append('"%s.dat" index %d using 1:4 axes x1y2 with linespoints dashtype 2 title "%s: RSS KiB per channel (right)"'
                     % (base, i, kind))
        plots.append('"%s.dat" index %d using 1:6 axes x1y2 with linespoints dashtype 3 '
                     'title "%s: RSS KiB per channel beyond its threads (right)"' % (base, i, kind))
    script = "\n".join([
        "set terminal png size 1000,640",
        'set output "%s.png"' % base,
        'set title "Channels in one win%s host"' % bits,
        'set xlabel "channels"', "set logscale x 2",
        'set ylabel "CPU s per minute of one stream"', 'set y2label "RSS KiB per channel"',
        "set ytics nomirror", "set y2tics", "set key top left", "set grid", "set yrange [0:*]", "set y2range [0:*]",
        "plot " + ", \\\n     ".join(plots), ""])
    if subprocess.run(["gnuplot"], input=script, text=True).returncode == 0:
        print("chart: %s.png" % base)


if __name__ == "__main__":
    main()
