#!/usr/bin/env bash
# CPU cost of receiving a 1080p30 H.264 stream of about 4 Mbit/s over RTSP
# (RTP over UDP), three receivers side by side on the same GStreamer RTSP
# server (tools/rtspsrv, a looped pre-encoded clip, so the server itself only
# packetises), each in its own RTSP session, measured over the same window:
#
#   driver   Halvencap.dll in a minimal host (bench_CameraHost.exe, video
#            format 3) against a simulated camera (tools/camsim) whose
#            Streaming.RTSPPort names the GStreamer server; frames counted
#            and dropped. Its own process and the Wine server of the
#            benchmark's prefix are reported apart.
#   ffmpeg   ffmpeg -rtsp_transport udp -i rtsp://... -c copy -f null -
#   gst      gst-launch-1.0 rtspsrc protocols=udp ! rtph264depay ! h264parse
#            ! fakesink (inside fpsdisplaysink, which only counts the frames)
#
# Prints CPU seconds per minute of stream (process, Wine server, total), the
# frames each receiver got per second and the ratio to ffmpeg. Start-up is
# left out: the window opens once every receiver delivers frames, plus a
# settling time.
#
#   bench/h264_cpu.sh [SECONDS]      (window length, default 60)
#
# HALVENCAP_BITS=64 (default) runs build/win64/bin under wine64;
# HALVENCAP_BITS=32 runs the shipped build/win32/bin under scripts/wine32.sh
# (only meaningful where the kernel runs i386 code itself, not under qemu).
# HALVENCAP_BIN overrides the directory, HALVENCAP_WINEPREFIX64 the prefix
# (default build/wine64-prefix), HALVENCAP_SETTLE the settling seconds (5).
# Needs the host and the DLL built, for instance:
#   ninja -C build/win64 Halvencap bench_CameraHost
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_TO_RUN="${1:-60}"
BITS="${HALVENCAP_BITS:-64}"
case "$BITS" in
    64) BIN="${HALVENCAP_BIN:-$ROOT/build/win64/bin}"; WINE=/usr/lib/wine/wine64 ;;
    32) BIN="${HALVENCAP_BIN:-$ROOT/build/win32/bin}"; WINE="$ROOT/scripts/wine32.sh" ;;
    *) echo "HALVENCAP_BITS must be 32 or 64"; exit 2 ;;
esac
for f in bench_CameraHost.exe Halvencap.dll; do
    [ -f "$BIN/$f" ] || { echo "no $BIN/$f: build the win$BITS configuration first (ninja Halvencap bench_CameraHost)"; exit 1; }
done
if [ "$BITS" = 32 ] && [ "$(cat "$ROOT/build/i386-mode" 2>/dev/null)" = qemu ]; then
    echo "note: 32-bit code runs under qemu emulation here; its CPU figures say nothing about the DLL" >&2
fi

export WINEDEBUG=-all
export WINEPREFIX="${HALVENCAP_WINEPREFIX64:-$ROOT/build/wine64-prefix}"
[ -f "$WINEPREFIX/system.reg" ] || { echo "no Wine prefix at $WINEPREFIX: run ./scripts/setup.sh"; exit 1; }

exec /usr/bin/python3 "$ROOT/bench/h264_cpu.py" --root "$ROOT" --bin "$BIN" --wine "$WINE" --bits "$BITS" \
    --seconds "$SECONDS_TO_RUN" --settle "${HALVENCAP_SETTLE:-5}"
