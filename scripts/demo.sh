#!/usr/bin/env bash
# The one-command demo: installs what is missing, builds the driver and the
# halvencap program (the shipped 32-bit build where this machine runs i386
# code natively, the 64-bit build otherwise), starts the camera simulator,
# probes what the camera can do, records 10 s of Motion JPEG, switches an
# output while watching an input, starts GStreamer's RTSP server as the
# camera's RTSP side and records 10 s of H.264 from it, runs `halvencap
# check` (what a recording server does with a new camera, with its report),
# checks both recordings with ffprobe and ffmpeg and draws a contact sheet of
# what was captured.
# Everything it leaves behind is under demo-output/. Exit code 0 only if
# every step worked.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$ROOT/demo-output"
RECORDING="$OUT/recording"
RECORDING_H264="$OUT/recording-h264"
SECONDS_TO_RECORD=10
export WINEDEBUG=-all
export HALVENCAP_WINEPREFIX64="${HALVENCAP_WINEPREFIX64:-$ROOT/build/wine64-prefix}"
export WINEPREFIX="$HALVENCAP_WINEPREFIX64"

step() { echo; echo "== $*"; }
die() { echo "demo FAILED: $*" >&2; exit 1; }

CAMSIM_PID=
RTSPSRV_PID=
cleanup() {
    local pid
    for pid in $CAMSIM_PID $RTSPSRV_PID; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

step "setting up the machine"
"$ROOT/scripts/setup.sh"

# The shipped build is the 32-bit one; it runs at full speed wherever the
# kernel runs i386 code (setup found out how). Under emulation only the
# 64-bit build is quick enough.
I386_MODE="$(cat "$ROOT/build/i386-mode" 2>/dev/null || echo qemu)"
if [ "$I386_MODE" = qemu ]; then
    BITS=64; TOOLCHAIN=x86_64; WINE=/usr/lib/wine/wine64
    BITS_NOTE="64-bit build (this kernel runs 32-bit code only under emulation)"
else
    BITS=32; TOOLCHAIN=i686; WINE="$ROOT/scripts/wine32.sh"
    BITS_NOTE="the shipped 32-bit build (i386 code runs natively here: $I386_MODE)"
fi
BUILD="$ROOT/build/demo-win$BITS"
step "building the driver and halvencap: $BITS_NOTE, in $BUILD"
mkdir -p "$ROOT/build"
# Optimised, as the library ships.
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVENCAP_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$TOOLCHAIN-mingw.cmake" >"$ROOT/build/demo-configure.log" 2>&1 \
    || { tail -20 "$ROOT/build/demo-configure.log"; die "configuration failed"; }
ninja -C "$BUILD" -j"${HALVENCAP_JOBS:-2}" halvencap >"$ROOT/build/demo-build.log" 2>&1 \
    || { tail -30 "$ROOT/build/demo-build.log"; die "build failed (see build/demo-build.log)"; }
EXE="$BUILD/bin/halvencap.exe"
[ -f "$EXE" ] && [ -f "$BUILD/bin/Halvencap.dll" ] || die "halvencap.exe or Halvencap.dll missing in $BUILD/bin"
halvencap() { "$WINE" "$EXE" "$@"; }

rm -rf "$OUT"
mkdir -p "$OUT"

step "starting the camera simulator"
free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}
CAMERA_PORT="$(free_port)"
python3 "$ROOT/tools/camsim/camsim.py" --camera-port "$CAMERA_PORT" --control-port 0 \
    --port-file "$OUT/camsim.port" --user demo --password demo --auth digest \
    --width 640 --height 480 --fps 10 --parent-pid $$ --max-seconds 900 >"$OUT/camsim.log" 2>&1 &
CAMSIM_PID=$!
for _ in $(seq 1 300); do
    [ -s "$OUT/camsim.port" ] && break
    kill -0 "$CAMSIM_PID" 2>/dev/null || break
    sleep 0.1
done
[ -s "$OUT/camsim.port" ] || { cat "$OUT/camsim.log"; die "the camera simulator did not start"; }
CONTROL="http://127.0.0.1:$(cat "$OUT/camsim.port")"
control() { python3 -c 'import sys, urllib.request; print(urllib.request.urlopen(sys.argv[1], timeout=10).read().decode(), end="")' "$CONTROL$1"; }
CAMERA_ID="$(control /cameras | sed -n "s/^id=\([0-9]*\) port=$CAMERA_PORT\$/\1/p")"
[ -n "$CAMERA_ID" ] || die "the simulator lists no camera on port $CAMERA_PORT"
echo "camera at 127.0.0.1:$CAMERA_PORT (user demo, password demo, Digest), control API at $CONTROL"

step "probing the camera: what it can do, before it is added"
set +e
halvencap probe --address 127.0.0.1 --port "$CAMERA_PORT" --user demo --password demo \
    2> >(tee "$OUT/probe.stderr.log" >&2) | tee "$OUT/probe.log"
rc=${PIPESTATUS[0]}
halvencap probe --address 127.0.0.1 --port "$CAMERA_PORT" --user demo --password demo --json >"$OUT/probe.json"
rc_json=$?
set -e
[ "$rc" = 0 ] || die "halvencap probe exited with $rc"
[ "$rc_json" = 0 ] || die "halvencap probe --json exited with $rc_json"
python3 -c 'import json, sys; r = json.load(open(sys.argv[1])); assert r["name"] and r["sizes"] and r["codecs"]' \
    "$OUT/probe.json" || die "the probe's JSON lacks name, sizes or codecs"

step "recording $SECONDS_TO_RECORD s of Motion JPEG"
set +e
halvencap record --address 127.0.0.1 --port "$CAMERA_PORT" --user demo --password demo --format mjpeg \
    --size 640x480 --interval 100 --quality 75 --seconds "$SECONDS_TO_RECORD" --out "$RECORDING" \
    2> >(tee "$OUT/record.stderr.log" >&2) | tee "$OUT/record.log"
rc=${PIPESTATUS[0]}
set -e
[ "$rc" = 0 ] || die "halvencap record exited with $rc"

step "switching output 0 on and watching the inputs while the camera's input mask changes"
control "/cameras/$CAMERA_ID/set?inputs=0" >/dev/null
# Each change waits for the program's next input polls (they show in the
# camera's request log), so it is seen however slowly Wine starts.
polls() { control "/cameras/$CAMERA_ID/log" | grep -c "IO.MonitorAll" || true; }
wait_polls() {  # count
    for _ in $(seq 1 600); do [ "$(polls)" -ge "$1" ] && return; sleep 0.1; done
}
( base=$(polls)
  wait_polls $((base + 1)); control "/cameras/$CAMERA_ID/set?inputs=1" >/dev/null
  wait_polls $((base + 3)); control "/cameras/$CAMERA_ID/set?inputs=3" >/dev/null ) &
CHANGER=$!
set +e
halvencap io --address 127.0.0.1 --port "$CAMERA_PORT" --user demo --password demo --set 0=on --watch 12 \
    2> >(tee "$OUT/io.stderr.log" >&2) | tee "$OUT/io.log"
rc=${PIPESTATUS[0]}
set -e
wait "$CHANGER" || true
[ "$rc" = 0 ] || die "halvencap io exited with $rc"
output_state="$(control "/cameras/$CAMERA_ID/params" | sed -n 's/^IO.State\[2\]=//p')"
[ "$output_state" = 1 ] || die "the camera's output line 2 is not on (IO.State[2]=$output_state)"
grep -q "input 0 (camera line 0): active" "$OUT/io.log" || die "the input change was not reported"
grep -q "input 1 (camera line 1): active" "$OUT/io.log" || die "the second input change was not reported"
echo "camera output line 2 is on; both input changes were reported"

step "starting GStreamer's RTSP server as the camera's RTSP side"
# The simulated camera answers the driver's parameter requests; the video
# comes from a real RTSP server (320x240 at 25/s) whose port the camera
# reports as Streaming.RTSPPort, with the camera's credentials (Basic).
# Debian's python3 has GStreamer's bindings.
/usr/bin/python3 "$ROOT/tools/rtspsrv/rtspsrv.py" --control-port 0 --port-file "$OUT/rtspsrv.port" \
    --parent-pid $$ --max-seconds 900 >"$OUT/rtspsrv.log" 2>&1 &
RTSPSRV_PID=$!
# It encodes its clips before it listens.
for _ in $(seq 1 1200); do
    [ -s "$OUT/rtspsrv.port" ] && break
    kill -0 "$RTSPSRV_PID" 2>/dev/null || break
    sleep 0.1
done
[ -s "$OUT/rtspsrv.port" ] || { cat "$OUT/rtspsrv.log"; die "the RTSP server did not start"; }
RTSP_CONTROL="http://127.0.0.1:$(cat "$OUT/rtspsrv.port")"
get() { python3 -c 'import sys, urllib.request; print(urllib.request.urlopen(sys.argv[1], timeout=30).read().decode(), end="")' "$1"; }
answer="$(get "$RTSP_CONTROL/new?codec=both&auth=basic&user=demo&password=demo")"
RTSP_ID="$(echo "$answer" | sed -n 's/^id=\([0-9]*\) port=.*/\1/p')"
RTSP_PORT="$(echo "$answer" | sed -n 's/.* port=\([0-9]*\).*/\1/p')"
[ -n "$RTSP_ID" ] && [ -n "$RTSP_PORT" ] || die "the RTSP server made no server: $answer"
control "/cameras/$CAMERA_ID/param?Streaming.RTSPPort=$RTSP_PORT" >/dev/null
rtsp_port_param="$(control "/cameras/$CAMERA_ID/params" | sed -n 's/^Streaming.RTSPPort=//p')"
[ "$rtsp_port_param" = "$RTSP_PORT" ] || die "the camera reports Streaming.RTSPPort=$rtsp_port_param, not $RTSP_PORT"
echo "RTSP server at rtsp://127.0.0.1:$RTSP_PORT/h264 (user demo, password demo, Basic), control API at $RTSP_CONTROL"
echo "camera's Streaming.RTSPPort is $RTSP_PORT"

step "recording $SECONDS_TO_RECORD s of H.264"
set +e
halvencap record --address 127.0.0.1 --port "$CAMERA_PORT" --user demo --password demo --format h264 \
    --size 640x480 --interval 40 --quality 75 --seconds "$SECONDS_TO_RECORD" --out "$RECORDING_H264" \
    2> >(tee "$OUT/record-h264.stderr.log" >&2) | tee "$OUT/record-h264.log"
rc=${PIPESTATUS[0]}
set -e
[ "$rc" = 0 ] || die "halvencap record --format h264 exited with $rc"
get "$RTSP_CONTROL/servers/$RTSP_ID/log" >"$OUT/rtsp-requests.log"
grep -q '^PLAY .*/h264' "$OUT/rtsp-requests.log" || die "the RTSP server saw no PLAY of /h264"

step "checking the camera as a recording server would: halvencap check"
CHECK="$OUT/check"
set +e
halvencap check --address 127.0.0.1 --port "$CAMERA_PORT" --user demo --password demo --seconds 5 --out "$CHECK" \
    2> >(tee "$OUT/check.stderr.log" >&2) | tee "$OUT/check.log"
rc=${PIPESTATUS[0]}
set -e
[ "$rc" = 0 ] || die "halvencap check exited with $rc (report: $CHECK/halvencap-check.md)"
python3 - "$CHECK/halvencap-check.json" <<'PY' || die "the check report does not show Motion JPEG, H.264 and I/O passed"
import json, sys
r = json.load(open(sys.argv[1]))
passed = [s["id"] for s in r["steps"] if s["result"] == "passed"]
assert r["fit"] and {"mjpeg", "h264", "io"} <= set(passed), [(s["id"], s["result"], s["detail"]) for s in r["steps"]]
PY
echo "check report: $CHECK/halvencap-check.md (and .json), samples under $CHECK/check-*"

step "checking the recordings with ffprobe"
VIDEO="$RECORDING/video.mjpeg"
INDEX="$RECORDING/index.csv"
[ -s "$VIDEO" ] && [ -s "$INDEX" ] || die "no recording in $RECORDING"
ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,width,height,pix_fmt,nb_read_frames -of default=nw=1 "$VIDEO" \
    | tee "$OUT/ffprobe.txt"
indexed=$(($(wc -l <"$INDEX") - 1))
decoded="$(sed -n 's/^nb_read_frames=//p' "$OUT/ffprobe.txt")"
grep -q '^codec_name=mjpeg$' "$OUT/ffprobe.txt" || die "ffprobe does not see Motion JPEG"
[ "$decoded" = "$indexed" ] || die "ffprobe read $decoded pictures, the index lists $indexed"
# The simulator sends 10 pictures a second; a loaded machine may lose some.
[ "$indexed" -ge $((SECONDS_TO_RECORD * 3)) ] || die "only $indexed pictures in $SECONDS_TO_RECORD s"
echo "ffprobe reads all $decoded pictures listed in the index"

VIDEO_H264="$RECORDING_H264/video.h264"
INDEX_H264="$RECORDING_H264/index.csv"
[ -s "$VIDEO_H264" ] && [ -s "$INDEX_H264" ] || die "no H.264 recording in $RECORDING_H264"
ffprobe -v error -f h264 -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,profile,width,height,pix_fmt,nb_read_frames -of default=nw=1 "$VIDEO_H264" \
    | tee "$OUT/ffprobe-h264.txt"
indexed_h264=$(($(wc -l <"$INDEX_H264") - 1))
decoded_h264="$(sed -n 's/^nb_read_frames=//p' "$OUT/ffprobe-h264.txt")"
grep -q '^codec_name=h264$' "$OUT/ffprobe-h264.txt" || die "ffprobe does not see H.264"
grep -q '^width=320$' "$OUT/ffprobe-h264.txt" && grep -q '^height=240$' "$OUT/ffprobe-h264.txt" \
    || die "ffprobe does not see the server's 320x240 pictures"
[ "$(sed -n 2p "$INDEX_H264" | cut -d, -f3,4)" = "H264,1" ] || die "the H.264 recording does not start with a key frame"
[ "$decoded_h264" = "$indexed_h264" ] || die "ffprobe read $decoded_h264 pictures, the index lists $indexed_h264"
# The server sends 25 pictures a second; a loaded machine may lose some.
[ "$indexed_h264" -ge $((SECONDS_TO_RECORD * 5)) ] || die "only $indexed_h264 H.264 pictures in $SECONDS_TO_RECORD s"
ffmpeg -hide_banner -nostdin -v error -f h264 -i "$VIDEO_H264" -f null - >"$OUT/ffmpeg-h264-decode.log" 2>&1 \
    || { cat "$OUT/ffmpeg-h264-decode.log"; die "ffmpeg could not decode the H.264 recording"; }
[ ! -s "$OUT/ffmpeg-h264-decode.log" ] || { cat "$OUT/ffmpeg-h264-decode.log"; die "ffmpeg reports errors in the H.264 recording"; }
echo "ffprobe reads all $decoded_h264 H.264 pictures listed in the index; ffmpeg decodes them without an error"

step "drawing the contact sheet"
# Three rows of Motion JPEG pictures above two rows of H.264 pictures, each
# 320x240.
SHEET="$OUT/contact-sheet.png"
every=$(( (indexed + 11) / 12 ))
every_h264=$(( (indexed_h264 + 7) / 8 ))
ffmpeg -v error -y -f mjpeg -i "$VIDEO" -f h264 -i "$VIDEO_H264" -filter_complex \
    "[0:v]select='not(mod(n\,$every))',scale=320:240,format=rgb24,tile=4x3:padding=4:margin=4[mjpeg];
     [1:v]select='not(mod(n\,$every_h264))',scale=320:240,format=rgb24,tile=4x2:padding=4:margin=4[h264];
     [mjpeg][h264]vstack" \
    -frames:v 1 -update 1 "$SHEET"
[ -s "$SHEET" ] || die "no contact sheet"

step "done"
cat <<EOF
driver:         $BITS_NOTE
recording:      $VIDEO ($indexed pictures, $(du -h "$VIDEO" | cut -f1))
index:          $INDEX (time, size, code, key frame, file, offset, width, height)
ffprobe report: $OUT/ffprobe.txt
H.264:          $VIDEO_H264 ($indexed_h264 pictures, $(du -h "$VIDEO_H264" | cut -f1))
H.264 index:    $INDEX_H264
H.264 checks:   $OUT/ffprobe-h264.txt, $OUT/ffmpeg-h264-decode.log (empty: no decoder error)
contact sheet:  $SHEET (Motion JPEG: every ${every}th picture; H.264: every ${every_h264}th)
probe:          $OUT/probe.log, $OUT/probe.json
check report:   $CHECK/halvencap-check.md, $CHECK/halvencap-check.json
logs:           $OUT/record.log, $OUT/record-h264.log, $OUT/io.log, $OUT/camsim.log,
                $OUT/rtspsrv.log, $OUT/rtsp-requests.log
EOF

# The last benchmark and campaign tables, where this checkout has made any
# (bench/scale.sh, scripts/campaign.sh).
for table in "$ROOT"/build/bench/scale-win*.txt "$ROOT"/build/campaign/summary.txt; do
    [ -s "$table" ] || continue
    echo
    echo "== $(basename "$(dirname "$table")")/$(basename "$table") ($(date -r "$table" '+%Y-%m-%d %H:%M'))"
    cat "$table"
done
