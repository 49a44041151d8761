#!/usr/bin/env bash
# How the driver scales with Motion JPEG channels: N cameras of the
# simulator, one driver and channel each, all in one host process
# (bench_CameraHost), for N = 1, 8, 32, 64 by default. Per N: CPU per stream
# (host process and Wine server, per minute of stream, while streaming),
# resident memory and threads per channel (growth from before the first
# driver to the end of streaming, divided by N), and frames delivered
# against pictures the simulator sent whole.
#
#   bench/scale_mjpeg.sh [SECONDS] [N...]        (defaults 30 and 1 8 32 64)
#
# Environment: HALVENCAP_BITS=32|64 (default 32, the shipped build),
# HALVENCAP_BIN (default build/win32/bin or build/win64/bin),
# HALVENCAP_SCALE_STREAM (simulator camera options, default
# width=1280&height=720&fps=10), HALVENCAP_BENCH_PREFIX (as bench/mjpeg_cpu.sh).
# Writes build/bench/scale-mjpeg-win<bits>.txt (table), .dat (numbers) and,
# with gnuplot, .png (chart).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_TO_RUN="${1:-30}"
shift || true
COUNTS=("$@")
[ ${#COUNTS[@]} -gt 0 ] || COUNTS=(1 8 32 64)
BITS="${HALVENCAP_BITS:-32}"
BIN="${HALVENCAP_BIN:-$ROOT/build/win$BITS/bin}"
STREAM="${HALVENCAP_SCALE_STREAM:-width=1280&height=720&fps=10}"
OUT="$ROOT/build/bench"
WORK="$(mktemp -d /tmp/halvencap-scale.XXXXXX)"
source "$ROOT/bench/wine_bench_lib.sh"
trap bench_cleanup EXIT

[ -f "$BIN/bench_CameraHost.exe" ] && [ -f "$BIN/Halvencap.dll" ] \
    || { echo "no bench_CameraHost.exe and Halvencap.dll in $BIN: build the win$BITS configuration first"; exit 1; }
mkdir -p "$OUT"
ensure_prefix
start_sim
WIDTH=$(echo "$STREAM" | sed -n 's/.*width=\([0-9]*\).*/\1/p'); WIDTH=${WIDTH:-640}
HEIGHT=$(echo "$STREAM" | sed -n 's/.*height=\([0-9]*\).*/\1/p'); HEIGHT=${HEIGHT:-480}
FPS=$(echo "$STREAM" | sed -n 's/.*fps=\([0-9]*\).*/\1/p'); FPS=${FPS:-10}

# Runs the host; prints "process-cpu server-cpu rss-growth-kib thread-growth
# frames" where CPU is taken between "streaming" and "stopping" and growth
# from "loaded" to "stopping".
run_host() {  # server-pid command...
    python3 - "$@" <<'PY'
import subprocess, sys
server = sys.argv[1]
def cpu(pid):
    try:
        f = open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()
        return (int(f[11]) + int(f[12])) / 100.0
    except (OSError, IndexError, ValueError):
        return 0.0
def status(pid):
    values = {}
    try:
        for line in open("/proc/%s/status" % pid):
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "Threads"):
                values[key] = int(rest.split()[0])
    except (OSError, ValueError):
        pass
    return values.get("VmRSS", 0), values.get("Threads", 0)
p = subprocess.Popen(sys.argv[2:], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
marks, frames = {}, 0
for line in p.stdout:
    word = line.split()
    if word and word[0] in ("loaded", "streaming", "stopping"):
        marks[word[0]] = (cpu(p.pid), cpu(server)) + status(p.pid)
    elif word and word[0] == "frames":
        frames = int(word[1])
p.wait()
zero = (0, 0, 0, 0)
l, a, b = marks.get("loaded", zero), marks.get("streaming", zero), marks.get("stopping", zero)
print(round(b[0] - a[0], 3), round(b[1] - a[1], 3), b[2] - l[2], b[3] - l[3], frames)
PY
}

DAT="$OUT/scale-mjpeg-win$BITS.dat"
TABLE="$OUT/scale-mjpeg-win$BITS.txt"
echo "# channels process_cpu_per_stream_min server_cpu_per_stream_min rss_kib_per_channel threads_per_channel delivered sent" >"$DAT"
echo "Motion JPEG channels in one win$BITS host, ${WIDTH}x${HEIGHT} at $FPS/s each, ${SECONDS_TO_RUN} s per run ($(date -u +%FT%TZ))"
for n in "${COUNTS[@]}"; do
    ids=(); ports=()
    for _ in $(seq "$n"); do
        read -r id port < <(new_camera "$STREAM")
        ids+=("$id"); ports+=("$port")
    done
    start_server
    list=$(IFS=,; echo "${ports[*]}")
    read -r proc srv rss threads frames < <(cd "$BIN" && run_host "$SERVER" "${WINE[@]}" bench_CameraHost.exe "$list" "$SECONDS_TO_RUN" 1 "$WIDTH" "$HEIGHT" $((1000 / FPS)))
    stop_server
    sent=0
    for id in "${ids[@]}"; do
        s=$(sim_get "/cameras/$id/stats" | sed -n 's/^sent=//p')
        sent=$((sent + ${s:-0}))
        sim_get "/cameras/$id/delete" >/dev/null
    done
    python3 - "$n" "$SECONDS_TO_RUN" "$proc" "$srv" "$rss" "$threads" "$frames" "$sent" >>"$DAT" <<'PY'
import sys
n, secs = int(sys.argv[1]), float(sys.argv[2])
proc, srv, rss, threads = (float(v) for v in sys.argv[3:7])
frames, sent = int(sys.argv[7]), int(sys.argv[8])
per = lambda v: v * 60.0 / secs / n
print(n, round(per(proc), 3), round(per(srv), 3), round(rss / n), round(threads / n, 2), frames, sent)
PY
    tail -1 "$DAT" | awk '{printf "  N=%d: per stream %.2f + %.2f CPU s/min (process + server), %d KiB and %.2f threads per channel, %d of %d frames\n", $1, $2, $3, $4, $5, $6, $7}'
done

{
    echo "Motion JPEG channels in one win$BITS host (bench_CameraHost), ${WIDTH}x${HEIGHT} at $FPS/s per camera, ${SECONDS_TO_RUN} s per run"
    echo "CPU: seconds per minute of one stream while streaming; memory and threads: growth per channel"
    printf '%9s %14s %14s %14s %12s %12s %12s %10s\n' channels "process CPU" "server CPU" "total CPU" "RSS KiB/ch" "threads/ch" "delivered" "of sent"
    awk '!/^#/ {printf "%9d %14.3f %14.3f %14.3f %12d %12.2f %12d %9.1f%%\n", $1, $2, $3, $2 + $3, $4, $5, $6, ($7 > 0 ? 100 * $6 / $7 : 0)}' "$DAT"
} >"$TABLE"
cat "$TABLE"

if command -v gnuplot >/dev/null 2>&1; then
    gnuplot <<GP && echo "chart: $OUT/scale-mjpeg-win$BITS.png"
set terminal png size 900,600
set output "$OUT/scale-mjpeg-win$BITS.png"
set title "Motion JPEG channels in one win$BITS host (${WIDTH}x${HEIGHT}, $FPS/s each)"
set xlabel "channels"
set logscale x 2
set ylabel "CPU s per minute of one stream"
set y2label "RSS KiB per channel"
set ytics nomirror
set y2tics
set key top left
set grid
plot "$DAT" using 1:2 with linespoints title "process CPU per stream", \
     "$DAT" using 1:3 with linespoints title "Wine server CPU per stream", \
     "$DAT" using 1:4 axes x1y2 with linespoints title "RSS per channel (right)"
GP
else
    echo "no gnuplot: no chart (apt-get install gnuplot-nox)"
fi
