#!/usr/bin/env bash
# CPU cost of receiving Motion JPEG: the driver (Halvencap.dll in a minimal
# host, bench_MjpegHost, under wine64, frames counted and dropped) and ffmpeg
# copying the same simulator
# stream (1280x720, 30 pictures a second), side by side for the same time.
# Reports CPU seconds per minute of stream for each and the ratio.
#
#   bench/mjpeg_cpu.sh [SECONDS]      (default 60)
#
# Needs a win64 build with bench_MjpegHost.exe (build/win64/bin, or $HALVENCAP_BIN):
#   ninja -C build/win64 Halvencap bench_MjpegHost
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_TO_RUN="${1:-60}"
BIN="${HALVENCAP_BIN:-$ROOT/build/win64/bin}"
export WINEDEBUG=-all
export WINEPREFIX="${HALVENCAP_WINEPREFIX64:-$ROOT/build/wine64-prefix}"
WORK="$(mktemp -d /tmp/halvencap-bench.XXXXXX)"
trap 'kill $SIM 2>/dev/null; wait $SIM 2>/dev/null; rm -rf "$WORK"' EXIT

[ -f "$BIN/bench_MjpegHost.exe" ] || { echo "no $BIN/bench_MjpegHost.exe: build the win64 configuration first"; exit 1; }

# Two cameras with the same stream, one per receiver, so neither waits for the other.
python3 "$ROOT/tools/camsim/camsim.py" --control-port 0 --port-file "$WORK/port" --parent-pid $$ >"$WORK/sim.log" 2>&1 &
SIM=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.1; done
CONTROL=$(cat "$WORK/port")
new_camera() { python3 - "$CONTROL" <<'PY'
import sys, urllib.request
body = urllib.request.urlopen("http://127.0.0.1:%s/new?width=1280&height=720&fps=30" % sys.argv[1]).read().decode()
print(dict(kv.split("=") for kv in body.split())["port"])
PY
}
PORT_DRIVER=$(new_camera)
PORT_FFMPEG=$(new_camera)

# Keep the wine server up so its start-up is not charged to the driver.
(cd /tmp && /usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1) || true  # starts the wine server


measure() {  # command... ; prints the user+system CPU seconds of the command and its descendants
    python3 - "$@" <<'PY'
import resource, subprocess, sys
done = subprocess.run(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
sys.stderr.write(done.stdout)
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print(round(r.ru_utime + r.ru_stime, 3))
PY
}

# The wine server's own CPU time counts for the driver: sample it around the run.
server_cpu() {
    local pid
    pid=$(pgrep -n wineserver || true)
    [ -n "$pid" ] && awk '{printf "%.3f\n", ($14+$15)/100}' /proc/$pid/stat || echo 0
}

echo "streams: 1280x720, 30 pictures/s, ${SECONDS_TO_RUN} s each"
srv_before=$(server_cpu)
driver_cpu=$(cd "$BIN" && measure /usr/lib/wine/wine64 bench_MjpegHost.exe "$PORT_DRIVER" "$SECONDS_TO_RUN" 1280 720 33)
srv_after=$(server_cpu)
ffmpeg_cpu=$(measure ffmpeg -hide_banner -nostdin -v error -t "$SECONDS_TO_RUN" -f mjpeg \
    -i "http://127.0.0.1:$PORT_FFMPEG/cgi-bin/mjpeg?stream=0&mode=live" -c copy -f null -)

python3 - "$driver_cpu" "$srv_before" "$srv_after" "$ffmpeg_cpu" "$SECONDS_TO_RUN" <<'PY'
import sys
driver, s0, s1, ff, secs = (float(a) for a in sys.argv[1:6])
server = max(0.0, s1 - s0)
per_min = lambda cpu: cpu * 60.0 / secs
print("driver (bench_MjpegHost under wine64): %.2f CPU s per minute of stream (process %.2f + wine server %.2f)"
      % (per_min(driver + server), per_min(driver), per_min(server)))
print("ffmpeg -c copy -f null:                %.2f CPU s per minute of stream" % per_min(ff))
if ff > 0:
    print("ratio driver/ffmpeg: %.2f" % ((driver + server) / ff))
PY
