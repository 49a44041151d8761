#!/usr/bin/env bash
# CPU cost of receiving Motion JPEG: the driver (Halvencap.dll in a minimal
# host, bench_CameraHost, frames counted and dropped) and ffmpeg copying the
# same simulator stream (1280x720, 30 pictures a second) for the same time.
# Reports CPU seconds per minute of stream, the driver's split into its own
# process and the Wine server, and the ratio to ffmpeg.
#
#   bench/mjpeg_cpu.sh [SECONDS] [ROUNDS]      (defaults 60 and 1)
#
# Environment:
#   HALVENCAP_BITS=64|32   which build runs (default 64): 64 under wine64,
#                          32 under wine32 through scripts/wine32.sh
#   HALVENCAP_BIN          the build's bin directory (default build/win64/bin
#                          or build/win32/bin)
#   HALVENCAP_BIN_BEFORE   a second bin directory (an older build) measured in
#                          the same rounds, alternating with HALVENCAP_BIN, so
#                          that both see the same machine load
#   HALVENCAP_BENCH_PREFIX Wine prefix used only by this benchmark (default
#                          build/bench-prefix; created on first use)
#
# The Wine server is started by this script for its own prefix before every
# run and stopped after it, so its pid is known and its CPU time belongs to
# that run alone; its idle rate (services of the prefix, nothing running) is
# measured first and reported, not subtracted.
#
# Needs bench_CameraHost.exe next to Halvencap.dll:
#   ninja -C build/win64 Halvencap bench_CameraHost      (or build/win32)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_TO_RUN="${1:-60}"
ROUNDS="${2:-1}"
BITS="${HALVENCAP_BITS:-64}"
case "$BITS" in
    64) DEFAULT_BIN="$ROOT/build/win64/bin" ;;
    32) DEFAULT_BIN="$ROOT/build/win32/bin" ;;
esac
AFTER_BIN="${HALVENCAP_BIN:-${DEFAULT_BIN:-}}"
BEFORE_BIN="${HALVENCAP_BIN_BEFORE:-}"
WORK="$(mktemp -d /tmp/halvencap-bench.XXXXXX)"
source "$ROOT/bench/wine_bench_lib.sh"
trap bench_cleanup EXIT

for bin in "$AFTER_BIN" $BEFORE_BIN; do
    [ -f "$bin/bench_CameraHost.exe" ] && [ -f "$bin/Halvencap.dll" ] \
        || { echo "no bench_CameraHost.exe and Halvencap.dll in $bin: build the win$BITS configuration first"; exit 1; }
done
ensure_prefix
start_sim
camera_port() { new_camera "width=1280&height=720&fps=30" | awk '{print $2}'; }

measure() {  # command... ; prints the user+system CPU seconds of the command and its descendants
    python3 - "$@" <<'PY'
import resource, subprocess, sys
done = subprocess.run(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
sys.stderr.write(done.stdout)
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print(round(r.ru_utime + r.ru_stime, 3))
PY
}

# Runs the host and prints "whole streaming-process server-whole
# server-streaming frames": CPU seconds of the host with its descendants for
# the whole run (Wine's start-up included), of the host process between its
# "streaming" and "stopping" lines, and of the Wine server over both spans.
run_host() {  # server-pid command...
    python3 - "$@" <<'PY'
import resource, subprocess, sys
server = sys.argv[1]
def cpu(pid):
    try:
        f = open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()
        return (int(f[11]) + int(f[12])) / 100.0
    except (OSError, IndexError, ValueError):
        return 0.0
s0 = cpu(server)
p = subprocess.Popen(sys.argv[2:], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
marks = {}
frames = 0
for line in p.stdout:
    word = line.split()
    if not word:
        continue
    if word[0] in ("streaming", "stopping"):
        marks[word[0]] = (cpu(p.pid), cpu(server))
    elif word[0] == "frames":
        frames = int(word[1])
p.wait()
s1 = cpu(server)
r = resource.getrusage(resource.RUSAGE_CHILDREN)
a, b = marks.get("streaming", (0, 0)), marks.get("stopping", (0, 0))
print(round(r.ru_utime + r.ru_stime, 3), round(b[0] - a[0], 3), round(s1 - s0, 3), round(b[1] - a[1], 3), frames)
PY
}

RESULTS="$WORK/results"
: >"$RESULTS"
run_driver() {  # label bin
    local label=$1 bin=$2 port i0 i1 whole proc srv_whole srv frames
    port=$(camera_port)
    start_server
    i0=$(cpu_of "$SERVER"); sleep 5; i1=$(cpu_of "$SERVER")
    read -r whole proc srv_whole srv frames < <(cd "$bin" && run_host "$SERVER" "${WINE[@]}" bench_CameraHost.exe "$port" "$SECONDS_TO_RUN" 1 1280 720 33)
    stop_server
    echo "$label $whole $proc $srv_whole $srv $i0 $i1 ${frames:-0}" >>"$RESULTS"
    echo "  $label: whole run: process $whole s + server $srv_whole s; while streaming: process $proc s + server $srv s; frames ${frames:-0}"
}
run_ffmpeg() {
    local port cpu
    port=$(camera_port)
    cpu=$(measure ffmpeg -hide_banner -nostdin -v error -t "$SECONDS_TO_RUN" -f mjpeg \
        -i "http://127.0.0.1:$port/cgi-bin/mjpeg?stream=0&mode=live" -c copy -f null - 2>/dev/null)
    echo "ffmpeg $cpu $cpu 0 0 0 0 0" >>"$RESULTS"
    echo "  ffmpeg: $cpu s"
}

echo "streams: 1280x720, 30 pictures/s, ${SECONDS_TO_RUN} s per run, $ROUNDS round(s), driver win$BITS"
echo "driver: $AFTER_BIN${BEFORE_BIN:+ (before: $BEFORE_BIN)}"
for round in $(seq "$ROUNDS"); do
    echo "round $round"
    [ -n "$BEFORE_BIN" ] && run_driver before "$BEFORE_BIN"
    run_driver driver "$AFTER_BIN"
    run_ffmpeg
done

python3 - "$RESULTS" "$SECONDS_TO_RUN" "$BITS" <<'PY'
import sys
from collections import defaultdict
rows = defaultdict(list)
for line in open(sys.argv[1]):
    label, *values = line.split()
    rows[label].append([float(v) for v in values])
secs = float(sys.argv[2])
def mean(label, i):
    return sum(r[i] for r in rows[label]) / max(1, len(rows[label]))
per_min = lambda v: v * 60.0 / secs
ff = mean("ffmpeg", 0)
print("CPU seconds per minute of stream (mean of %d round(s)):" % max(1, len(rows["ffmpeg"])))
print("  ffmpeg -c copy -f null:  %.2f" % per_min(ff))
for label in ("before", "driver"):
    if not rows[label]:
        continue
    whole, proc, srv_whole, srv = (mean(label, i) for i in range(4))
    idle = (mean(label, 5) - mean(label, 4)) * 60.0 / 5.0
    print("  %-6s win%s whole run: %.2f (process %.2f + wine server %.2f), ratio to ffmpeg %.2f, process alone %.2f"
          % (label, sys.argv[3], per_min(whole + srv_whole), per_min(whole), per_min(srv_whole),
             (whole + srv_whole) / ff if ff else 0, whole / ff if ff else 0))
    print("  %-6s win%s streaming: %.2f (process %.2f + wine server %.2f), ratio to ffmpeg %.2f, process alone %.2f;"
          " %.0f frames per run; idle server %.3f"
          % (label, sys.argv[3], per_min(proc + srv), per_min(proc), per_min(srv),
             (proc + srv) / ff if ff else 0, proc / ff if ff else 0, mean(label, 6), idle))
PY
