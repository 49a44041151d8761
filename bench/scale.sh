#!/usr/bin/env bash
# How the driver scales: N cameras, one driver and channel each, all in one
# host process (bench_CameraHost), for N = 1, 8, 32, 64 by default, for
# Motion JPEG from the camera simulator and H.264 from GStreamer's RTSP
# server (one looped clip, a session per camera). Per kind and N: CPU per
# stream (host process and Wine server, per minute of stream, while
# streaming), resident memory and threads per channel (growth from before
# the first driver to the end of streaming, divided by N), frames delivered
# against frames sent, and the time from the arrival of a picture's last
# packet to the host's OnFrame (median and 99th percentile, from the
# driver's "Frame latency" log line of each channel).
#
#   bench/scale.sh [SECONDS] [N...]        (defaults 30 and 1 8 32 64)
#   bench/scale.sh --ceiling [--ceiling-cameras N]
#
# Beside the table: address space (committed and reserved) per channel, the
# most threads one process of this platform can start (bench_IdleThreads
# --max, with the driver's 256 KiB stacks and with 1 MiB ones), and from
# both the number of channels of each kind one process can hold.
# --ceiling measures that number instead: one host starts channels of a
# kind (lighter streams: Motion JPEG 640x360 at 2/s, H.264 360p15), each on
# its own camera, until one cannot start, and says where and why (the
# driver's log line), what the process holds then, and whether the running
# channels still deliver; build/bench/ceiling-win<bits>.txt.
#
# Environment: HALVENCAP_BITS=32|64 (default 32, the shipped build; 64
# where 32-bit code runs only under emulation), HALVENCAP_BIN (default
# build/win<bits>/bin), HALVENCAP_SCALE_KINDS (default "mjpeg h264"),
# HALVENCAP_BENCH_PREFIX (the benchmark's own Wine prefix, default
# build/bench-prefix). Writes build/bench/scale-win<bits>.txt (table), .dat
# (numbers) and .png (chart: CPU per stream and memory per channel against
# N; gnuplot is installed when missing).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ "${1:-}" = --ceiling ]; then
    SECONDS_TO_RUN=30
else
    SECONDS_TO_RUN="${1:-30}"
    shift || true
fi
BITS="${HALVENCAP_BITS:-32}"
BIN="${HALVENCAP_BIN:-$ROOT/build/win$BITS/bin}"
WORK="$(mktemp -d /tmp/halvencap-scale.XXXXXX)"
source "$ROOT/bench/wine_bench_lib.sh"
trap 'rm -rf "$WORK"' EXIT

[ -f "$BIN/bench_CameraHost.exe" ] && [ -f "$BIN/Halvencap.dll" ] \
    || { echo "no bench_CameraHost.exe and Halvencap.dll in $BIN: build the win$BITS configuration first"; exit 1; }
if [ "$BITS" = 32 ] && [ "$(cat "$ROOT/build/i386-mode" 2>/dev/null)" = qemu ]; then
    echo "note: 32-bit code runs under qemu emulation here; its figures say nothing about the DLL" >&2
fi
command -v gnuplot >/dev/null 2>&1 || DEBIAN_FRONTEND=noninteractive apt-get install -y -q gnuplot-nox >/dev/null 2>&1 || true
ensure_prefix
exec /usr/bin/python3 "$ROOT/bench/scale.py" --root "$ROOT" --bin "$BIN" --wine "${WINE[0]}" --bits "$BITS" \
    --seconds "$SECONDS_TO_RUN" --kinds "${HALVENCAP_SCALE_KINDS:-mjpeg h264}" "$@"
