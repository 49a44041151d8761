#!/usr/bin/env bash
# CPU cost of receiving Motion JPEG: the driver (Halvencap.dll in the
# halvencap host program under wine64) and ffmpeg copying the same simulator
# stream (1280x720, 30 pictures a second), side by side for the same time.
# Reports CPU seconds per minute of stream for each and the ratio.
#
#   bench/mjpeg_cpu.sh [SECONDS]      (default 60)
#
# Needs a win64 build with halvencap.exe (build/win64/bin, or $HALVENCAP_BIN).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_TO_RUN="${1:-60}"
BIN="${HALVENCAP_BIN:-$ROOT/build/win64/bin}"
export WINEDEBUG=-all
export WINEPREFIX="${HALVENCAP_WINEPREFIX64:-$ROOT/build/wine64-prefix}"
WORK="$(mktemp -d /tmp/halvencap-bench.XXXXXX)"
trap 'kill $SIM 2>/dev/null; wait $SIM 2>/dev/null; rm -rf "$WORK"' EXIT

[ -x "$BIN/halvencap.exe" ] || { echo "no $BIN/halvencap.exe: build the win64 configuration first"; exit 1; }

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
/usr/lib/wine/wineserver -p 2>/dev/null || true


measure() {  # label command...
    local before after
    before=$(times | tail -1 | awk '{split($1,u,"m"); split($2,s,"m"); sub("s","",u[2]); sub("s","",s[2]); print u[1]*60+u[2]+s[1]*60+s[2]}')
    "$@" >/dev/null 2>&1 || true
    after=$(times | tail -1 | awk '{split($1,u,"m"); split($2,s,"m"); sub("s","",u[2]); sub("s","",s[2]); print u[1]*60+u[2]+s[1]*60+s[2]}')
    python3 -c "print(round($after - $before, 3))"
}

# The wine server's own CPU time counts for the driver: sample it around the run.
server_cpu() {
    local pid
    pid=$(pgrep -n -x wineserver || true)
    [ -n "$pid" ] && awk '{printf "%.3f\n", ($14+$15)/100}' /proc/$pid/stat || echo 0
}

echo "streams: 1280x720, 30 pictures/s, ${SECONDS_TO_RUN} s each"
srv_before=$(server_cpu)
driver_cpu=$(measure "/usr/lib/wine/wine64" "$BIN/halvencap.exe" record --address 127.0.0.1 --port "$PORT_DRIVER" \
    --format mjpeg --size 1280x720 --interval 33 --seconds "$SECONDS_TO_RUN" --out "Z:$WORK/driver" --quiet --log-level none)
srv_after=$(server_cpu)
ffmpeg_cpu=$(measure ffmpeg -hide_banner -nostdin -v error -t "$SECONDS_TO_RUN" -f mjpeg \
    -i "http://127.0.0.1:$PORT_FFMPEG/cgi-bin/mjpeg?stream=0&mode=live" -c copy -f null -)

python3 - "$driver_cpu" "$srv_before" "$srv_after" "$ffmpeg_cpu" "$SECONDS_TO_RUN" "$WORK/driver" <<'PY'
import os, sys, glob
driver, s0, s1, ff, secs, out = float(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5]), sys.argv[6]
server = max(0.0, s1 - s0)
per_min = lambda cpu: cpu * 60.0 / secs
frames = 0
for idx in glob.glob(os.path.join(out, "*.idx")) + glob.glob(os.path.join(out, "*index*")):
    with open(idx, errors="replace") as f:
        frames = max(frames, sum(1 for line in f if line.strip() and not line.startswith("#")))
print("driver (halvencap under wine64): %.2f CPU s per minute of stream (process %.2f + wine server %.2f), %d frames recorded"
      % (per_min(driver + server), per_min(driver), per_min(server), frames))
print("ffmpeg -c copy -f null:          %.2f CPU s per minute of stream" % per_min(ff))
if ff > 0:
    print("ratio driver/ffmpeg: %.2f" % ((driver + server) / ff))
PY
