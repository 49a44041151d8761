#!/usr/bin/env bash
# End-to-end test of the halvencap program under Wine against the camera
# simulator: argument errors, exit codes, `record` (files, index, ffprobe)
# `io` (output switching, input changes, failures) and `probe` (table,
# JSON, refused and unreachable cameras) and `check` (report, figures, exit
# codes). H.264 and MPEG-4 recordings come
# from GStreamer's RTSP server (tools/rtspsrv) as the camera's RTSP side when
# $HALVENCAP_RTSPSRV names its control port (127.0.0.1:<port>); without it
# those checks are skipped and said so.
#
#   tests/cli/test_cli_e2e.sh [BIN_DIR]
#
# BIN_DIR holds halvencap.exe and Halvencap.dll of either bitness (default:
# $HALVENCAP_BIN or build/win64/bin); a 32-bit build runs under wine, a
# 64-bit one under wine64. Wine prefix: $HALVENCAP_WINEPREFIX64 (default
# build/wine64-prefix; it runs both). Ends with the line "N passed, M failed".
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BIN="${1:-${HALVENCAP_BIN:-$ROOT/build/win64/bin}}"
BIN="$(cd "$BIN" 2>/dev/null && pwd || echo "$BIN")"
EXE="$BIN/halvencap.exe"
export WINEDEBUG=-all
export WINEPREFIX="${HALVENCAP_WINEPREFIX64:-$ROOT/build/wine64-prefix}"
# The PE machine field of the program picks the loader.
pe_machine() {
    python3 - "$1" <<'PY' 2>/dev/null
import struct, sys
with open(sys.argv[1], "rb") as f:
    data = f.read(4096)
at = struct.unpack_from("<I", data, 0x3c)[0]
print("%x" % struct.unpack_from("<H", data, at + 4)[0])
PY
}
if [ "$(pe_machine "$EXE")" = 14c ]; then WINE="$ROOT/scripts/wine32.sh"; else WINE=/usr/lib/wine/wine64; fi
WINE="${HALVENCAP_WINE:-$WINE}"
WORK="$(mktemp -d /tmp/halvencap-cli-e2e.XXXXXX)"
PASSED=0
FAILED=0
CAMSIM_PID=

cleanup() {
    if [ -n "$CAMSIM_PID" ]; then
        kill "$CAMSIM_PID" 2>/dev/null
        wait "$CAMSIM_PID" 2>/dev/null
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

pass() { PASSED=$((PASSED + 1)); echo "PASS $1"; }
fail() {
    FAILED=$((FAILED + 1))
    echo "FAIL $1: $2"
    [ -f "$WORK/out" ] && sed 's/^/    stdout: /' "$WORK/out" | tail -15
    [ -f "$WORK/err" ] && sed 's/^/    stderr: /' "$WORK/err" | tail -15
}

# Runs the program; stdout in $WORK/out, stderr in $WORK/err, exit code in RC.
run() {
    (cd "$WORK" && timeout 180 "$WINE" "$EXE" "$@" >"$WORK/out" 2>"$WORK/err")
    RC=$?
}

expect_rc() {  # name expected
    if [ "$RC" = "$2" ]; then pass "$1"; else fail "$1" "exit code $RC, expected $2"; fi
}

finish() {
    echo "$PASSED passed, $FAILED failed"
    [ "$FAILED" = 0 ]
    exit $?
}

if [ ! -f "$EXE" ] || [ ! -f "$BIN/Halvencap.dll" ]; then
    fail setup "halvencap.exe or Halvencap.dll missing in $BIN"
    finish
fi

# --- camera simulator ---------------------------------------------------
python3 "$ROOT/tools/camsim/camsim.py" --control-port 0 --port-file "$WORK/camsim.port" \
    --parent-pid $$ --max-seconds 1800 >"$WORK/camsim.log" 2>&1 &
CAMSIM_PID=$!
for _ in $(seq 1 300); do
    [ -s "$WORK/camsim.port" ] && break
    sleep 0.1
done
if [ ! -s "$WORK/camsim.port" ]; then
    fail setup "camera simulator did not start: $(tail -5 "$WORK/camsim.log")"
    finish
fi
CONTROL="http://127.0.0.1:$(cat "$WORK/camsim.port")"

ctl() { python3 - "$CONTROL$1" <<'PY'
import sys, urllib.request
with urllib.request.urlopen(sys.argv[1], timeout=10) as r:
    sys.stdout.write(r.read().decode())
PY
}

# Creates a camera; sets CAM_ID and CAM_PORT.
new_camera() {
    local answer
    answer="$(ctl "/new${1:-}")" || return 1
    CAM_ID="$(echo "$answer" | sed -n 's/^id=\([0-9]*\) port=.*/\1/p')"
    CAM_PORT="$(echo "$answer" | sed -n 's/.* port=\([0-9]*\).*/\1/p')"
    [ -n "$CAM_ID" ] && [ -n "$CAM_PORT" ]
}

param() {  # camera-id name
    ctl "/cameras/$1/params" | sed -n "s/^$(printf '%s' "$2" | sed 's/[][]/\\&/g')=//p"
}

closed_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# --- arguments and exit code 2 -------------------------------------------
bad_args() {  # name expected-text args...
    local name=$1 text=$2
    shift 2
    run "$@"
    if [ "$RC" != 2 ]; then
        fail "$name" "exit code $RC, expected 2"
    elif ! head -1 "$WORK/err" | grep -q "^halvencap: error: .*$text"; then
        fail "$name" "first stderr line lacks '$text'"
    elif ! grep -q '^usage: halvencap' "$WORK/err"; then
        fail "$name" "no usage after the error"
    else
        pass "$name"
    fi
}
bad_args "no arguments" "no command"
bad_args "unknown command" "unknown command 'film'" film
bad_args "port out of range" "--port must be" record --address 127.0.0.1 --port 70000 --out x
bad_args "record without --out" "record needs --out" record --address 127.0.0.1
bad_args "output beyond the line list" "--set 5" io --address 127.0.0.1 --set 5=on
bad_args "option of another command" "--watch is not an option of record" record --address a --out x --watch 3
bad_args "value missing at the end" "--seconds needs a value" record --address a --out x --seconds

run --help
if [ "$RC" = 0 ] && grep -q '^usage: halvencap' "$WORK/out"; then pass "help"; else fail "help" "exit $RC"; fi

# The program's version and the one read from the library's own resource:
# one version for both, the build's (written by its configuration).
run --version
line1="$(sed -n 1p "$WORK/out" | tr -d '\r')"
line2="$(sed -n 2p "$WORK/out" | tr -d '\r')"
want="$(cat "$BIN/../halvencap-version.txt" 2>/dev/null || sed -n 's/^halvencap \([0-9.]*\)$/\1/p' <<<"$line1")"
if [ "$RC" = 0 ] && [ -n "$want" ] && [ "$line1" = "halvencap $want" ] \
        && [ "${line2#Halvencap.dll $want }" != "$line2" ] && [ "${line2%Halvencap.dll}" != "$line2" ]; then
    pass "--version: program and library at the build's version"
else
    fail "--version" "exit $RC, expected 'halvencap $want' and 'Halvencap.dll $want PATH'"
fi
run --version --dll "$WORK/missing/Halvencap.dll"
expect_rc "--version: a missing library fails (1)" 1

# --- other failures --------------------------------------------------------
run record --address 127.0.0.1 --port "$(closed_port)" --seconds 2 --out "$WORK/rec-closed"
expect_rc "record: closed port is unreachable (3)" 3
grep -q "unreachable" "$WORK/err" || fail "record: closed port message" "no 'unreachable' on stderr"

run record --address 127.0.0.1 --port 80 --out "$WORK/rec-nodll" --dll "$WORK/missing/Halvencap.dll"
expect_rc "record: missing driver library (1)" 1

new_camera "?user=admin&password=secret" || fail setup "camera"
run record --address 127.0.0.1 --port "$CAM_PORT" --user admin --password wrong --seconds 30 --out "$WORK/rec-refused"
expect_rc "record: wrong password is refused (3)" 3

new_camera || fail setup "camera"
ctl "/cameras/$CAM_ID/set?empty=1" >/dev/null
run record --address 127.0.0.1 --port "$CAM_PORT" --seconds 3 --out "$WORK/rec-empty"
expect_rc "record: camera without answers gives no video (4)" 4

# --- probe ----------------------------------------------------------------
bad_args "probe: --json is not an option of record" "--json is not an option of record" \
    record --address a --out x --json

new_camera || fail setup "camera"
run probe --address 127.0.0.1 --port "$CAM_PORT"
expect_rc "probe: default camera (0)" 0
# Console output under Wine ends lines with CR LF.
table_has() {  # name pattern
    if tr -d '\r' <"$WORK/out" | grep -qE "$2"; then pass "probe table: $1"; else fail "probe table: $1" "no line matching '$2'"; fi
}
table_has "name" '^name +Basler BIP2-1280c-dn$'
table_has "firmware" '^firmware +3\.6\.2$'
table_has "sensor area" '^sensor area +1280x1024 at \(0,0\)$'
table_has "codecs" '^codecs +H\.264, MPEG-4, JPEG$'
table_has "size with its interval" '^  640x480 +33 ms +30\.3/s$'
table_has "default interval marked" '^  67 ms +14\.9/s +\*$'
table_has "output line" '^  3 +output$'
if [ "$(tr -d '\r' <"$WORK/out" | grep -cE '^  [0-9]+ +(input|output)$')" = 4 ] \
        && tr -d '\r' <"$WORK/out" | grep -q '^2 inputs, 2 outputs$'; then
    pass "probe table: four I/O lines"
else
    fail "probe table: I/O lines" "not the four lines of the camera"
fi
[ "$(param "$CAM_ID" Global.OperationMode)" = Normal ] && [ "$(param "$CAM_ID" 'Stream.EncoderType[0]')" = JPEG ] \
    && pass "probe: camera left in Normal mode with its compression" \
    || fail "probe: camera state" "mode $(param "$CAM_ID" Global.OperationMode), encoder $(param "$CAM_ID" 'Stream.EncoderType[0]')"

ctl "/cameras/$CAM_ID/entries?Sensor.FrameRateMode=Fps_5,Fps_15,Fps_30" >/dev/null
run probe --address 127.0.0.1 --port "$CAM_PORT" --json
expect_rc "probe --json (0)" 0
if python3 - "$WORK/out" "$CAM_PORT" <<'PY'
import json, sys
text = open(sys.argv[1]).read()
r = json.loads(text)
assert text.strip().count("\n") == 0, "one line"
assert r["device"] == "127.0.0.1:" + sys.argv[2], r["device"]
assert r["name"] == "Basler BIP2-1280c-dn" and r["firmware"] == "3.6.2", r
assert r["sensorArea"] == {"left": 0, "top": 0, "width": 1280, "height": 1024}, r["sensorArea"]
assert r["codecs"] == ["H.264", "MPEG-4", "JPEG"] and r["streams"] == 1, r
assert [(s["width"], s["height"], s["minFrameIntervalMs"]) for s in r["sizes"]] == \
    [(1280, 1024, 33), (1280, 720, 33), (640, 480, 33)], r["sizes"]
assert r["frameIntervalsMs"] == [200, 67, 33] and r["defaultFrameIntervalMs"] == 67, r
assert r["inputs"] == 2 and r["outputs"] == 2, r
assert r["ioLines"] == [{"line": 0, "direction": "input"}, {"line": 1, "direction": "input"},
                        {"line": 2, "direction": "output"}, {"line": 3, "direction": "output"}], r["ioLines"]
assert [g["name"] for g in r["groups"]] == ["KOVA Video Standard", "Device Firmware Version",
                                           "Sensor AOI Configuration", "Digital I/O Configuration"], r["groups"]
PY
then pass "probe --json: every field"; else fail "probe --json" "see above"; fi

new_camera "?user=admin&password=secret" || fail setup "camera"
run probe --address 127.0.0.1 --port "$CAM_PORT" --user admin --password wrong
expect_rc "probe: wrong password is refused (3)" 3
grep -q "login failed (invalid credentials) (code 1)" "$WORK/err" && pass "probe: refusal named" \
    || fail "probe: refusal message" "no login failure on stderr"
run probe --address 127.0.0.1 --port "$CAM_PORT" --user admin --password secret --json
[ "$RC" = 0 ] && grep -q '"name": "Basler BIP2-1280c-dn"' "$WORK/out" && pass "probe: right password (0)" \
    || fail "probe: right password" "exit $RC"

run probe --address 127.0.0.1 --port "$(closed_port)"
expect_rc "probe: closed port is unreachable (3)" 3
grep -q "unreachable" "$WORK/err" || fail "probe: closed port message" "no 'unreachable' on stderr"

# --- record ---------------------------------------------------------------
new_camera "?user=admin&password=secret&auth=digest" || fail setup "camera"
# Already at the frame rate asked for, so the driver reads the stream's
# current values in its first exchange and writes only what differs.
ctl "/cameras/$CAM_ID/param?Sensor.FrameRateMode=Fps_10" >/dev/null
REC="$WORK/rec ok"
run record --address 127.0.0.1 --port "$CAM_PORT" --user admin --password secret --format mjpeg \
    --size 640x480 --interval 100 --quality 80 --seconds 4 --out "$REC"
expect_rc "record: Motion JPEG for 4 s (0)" 0
if [ -s "$REC/video.mjpeg" ] && [ -s "$REC/index.csv" ]; then
    pass "record: video and index written"
    frames=$(($(wc -l <"$REC/index.csv") - 1))
    probe="$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=codec_name,width,height,nb_read_frames -of default=nw=1 "$REC/video.mjpeg" 2>&1)"
    read_frames="$(echo "$probe" | sed -n 's/^nb_read_frames=//p')"
    if echo "$probe" | grep -q '^codec_name=mjpeg' && echo "$probe" | grep -q '^width=640' \
            && [ "$frames" -ge 5 ] && [ "$read_frames" = "$frames" ]; then
        pass "record: ffprobe reads every indexed picture ($frames)"
    else
        fail "record: ffprobe" "index $frames frames, ffprobe: $(echo "$probe" | tr '\n' ' ')"
    fi
    # Offsets and sizes of the index tile the file exactly.
    if python3 - "$REC" <<'PY'
import csv, os, sys
d = sys.argv[1]
rows = list(csv.DictReader(open(os.path.join(d, "index.csv"))))
data = open(os.path.join(d, "video.mjpeg"), "rb").read()
at = 0
for r in rows:
    size, offset = int(r["size"]), int(r["offset"])
    assert offset == at, (offset, at)
    assert r["code"] == "JPEG" and r["key"] == "1" and r["file"] == "video.mjpeg", r
    assert data[offset:offset + 2] == b"\xff\xd8" and data[offset + size - 2:offset + size] == b"\xff\xd9", r
    assert r["time"].endswith("Z") and len(r["time"]) == 24, r
    at += size
assert at == len(data), (at, len(data))
PY
    then pass "record: index matches the video file"; else fail "record: index" "see above"; fi
else
    fail "record: files" "missing in $REC"
fi
grep -q "recorded .* frames" "$WORK/out" || fail "record: summary" "no summary line"
grep -q "GET /cgi-bin/mjpeg?stream=0&mode=live" <(ctl "/cameras/$CAM_ID/log") \
    && pass "record: stream requested from the camera" || fail "record: camera log" "no stream request"

[ "$(param "$CAM_ID" 'Stream.Quality[0]')" = 80 ] && pass "record: --quality reaches the camera" \
    || fail "record: quality" "Stream.Quality[0]=$(param "$CAM_ID" 'Stream.Quality[0]')"

# Ctrl+C (Wine turns SIGINT into a console Ctrl+C event) stops a recording cleanly.
REC2="$WORK/rec-interrupted"
(cd "$WORK" && exec "$WINE" "$EXE" record --address 127.0.0.1 --port "$CAM_PORT" --user admin --password secret \
    --out "$REC2" >"$WORK/out" 2>"$WORK/err") &
recorder=$!
for _ in $(seq 1 600); do
    [ -s "$REC2/video.mjpeg" ] && break
    sleep 0.1
done
sleep 1
kill -INT "$recorder" 2>/dev/null
for _ in $(seq 1 300); do
    kill -0 "$recorder" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$recorder" 2>/dev/null; then
    kill -KILL "$recorder" 2>/dev/null
    fail "record: Ctrl+C" "still running 30 s after the interrupt"
else
    wait "$recorder"
    RC=$?
    if [ "$RC" = 0 ] && grep -q "stopped by the user" "$WORK/out" \
            && [ "$(($(wc -l <"$REC2/index.csv") - 1))" -ge 1 ]; then
        pass "record: Ctrl+C stops cleanly with the files complete"
    else
        fail "record: Ctrl+C" "exit code $RC"
    fi
fi

# A camera that ends the stream every 15 pictures: the recording goes on.
new_camera || fail setup "camera"
ctl "/cameras/$CAM_ID/set?drop_after=15" >/dev/null
REC3="$WORK/rec-drops"
run record --address 127.0.0.1 --port "$CAM_PORT" --seconds 10 --out "$REC3"
frames=$(($(wc -l <"$REC3/index.csv" 2>/dev/null || echo 1) - 1))
streams=$(ctl "/cameras/$CAM_ID/log" | grep -c "GET /cgi-bin/mjpeg")
if [ "$RC" = 0 ] && [ "$frames" -gt 15 ] && [ "$streams" -ge 2 ]; then
    pass "record: goes on across dropped streams ($frames pictures over $streams streams)"
else
    fail "record: dropped streams" "exit $RC, $frames pictures, $streams stream requests"
fi

# --- record over RTSP: H.264 and MPEG-4 -----------------------------------
# The simulated camera takes the parameter requests; its Streaming.RTSPPort
# points at a server of rtspsrv with the camera's credentials (Digest),
# which plays a 320x240 clip at 25/s.
rtsp_record() {  # format file demuxer codec-name key-code inter-code encoder path
    local format=$1 file=$2 demuxer=$3 codec=$4 key=$5 inter=$6 encoder=$7 path=$8
    local rec="$WORK/rec-$format" what="record --format $format"
    new_camera "?user=admin&password=secret" || { fail "$what: setup" "camera"; return; }
    ctl "/cameras/$CAM_ID/param?Streaming.RTSPPort=$RTSP_PORT" >/dev/null
    rtsp_ctl "/servers/$RTSP_ID/log/clear" >/dev/null
    run record --address 127.0.0.1 --port "$CAM_PORT" --user admin --password secret --format "$format" \
        --size 640x480 --interval 40 --seconds 4 --out "$rec"
    expect_rc "$what: 4 s over RTSP (0)" 0
    [ "$(param "$CAM_ID" 'Stream.EncoderType[0]')" = "$encoder" ] && pass "$what: camera encoder set to $encoder" \
        || fail "$what: camera encoder" "Stream.EncoderType[0]=$(param "$CAM_ID" 'Stream.EncoderType[0]')"
    rtsp_ctl "/servers/$RTSP_ID/log" >"$WORK/rtsp.log"
    grep -q "^PLAY .*$path" "$WORK/rtsp.log" && pass "$what: stream played from $path on the camera's RTSP port" \
        || fail "$what: RTSP requests" "no PLAY of $path: $(tr '\n' ' ' <"$WORK/rtsp.log" | head -c 600)"
    if [ ! -s "$rec/$file" ] || [ ! -s "$rec/index.csv" ]; then
        fail "$what: files" "$file or index.csv missing in $rec"
        return
    fi
    pass "$what: $file and index written"
    # Key frame first, every line of this stream, offsets and sizes tiling
    # the file.
    if python3 - "$rec" "$file" "$key" "$inter" <<'PY'
import csv, os, sys
d, name, key, inter = sys.argv[1:]
rows = list(csv.DictReader(open(os.path.join(d, "index.csv"))))
size = os.path.getsize(os.path.join(d, name))
assert rows, "no frames"
assert rows[0]["code"] == key and rows[0]["key"] == "1", rows[0]
at = 0
for r in rows:
    assert r["file"] == name and r["code"] in (key, inter), r
    assert r["key"] == ("1" if r["code"] == key else "0"), r
    assert int(r["offset"]) == at, (r, at)
    assert (int(r["width"]), int(r["height"])) == (320, 240), r
    at += int(r["size"])
assert at == size, (at, size)
PY
    then pass "$what: index starts with a $key key frame and tiles the file"; else fail "$what: index" "see above"; fi
    local frames probe read_frames errors
    frames=$(($(wc -l <"$rec/index.csv") - 1))
    probe="$(ffprobe -v error -f "$demuxer" -count_frames -select_streams v:0 \
        -show_entries stream=codec_name,width,height,nb_read_frames -of default=nw=1 "$rec/$file" 2>&1)"
    read_frames="$(echo "$probe" | sed -n 's/^nb_read_frames=//p')"
    if echo "$probe" | grep -q "^codec_name=$codec\$" && echo "$probe" | grep -q '^width=320$' \
            && echo "$probe" | grep -q '^height=240$' && [ "$frames" -ge 10 ] && [ "$read_frames" = "$frames" ]; then
        pass "$what: ffprobe reads $codec 320x240, every indexed frame ($frames)"
    else
        fail "$what: ffprobe" "index $frames frames, ffprobe: $(echo "$probe" | tr '\n' ' ')"
    fi
    if errors=$(ffmpeg -hide_banner -nostdin -v error -f "$demuxer" -i "$rec/$file" -f null - 2>&1) && [ -z "$errors" ]; then
        pass "$what: ffmpeg decodes it without an error"
    else
        fail "$what: decode" "$(echo "$errors" | head -5)"
    fi
}

if [ -n "${HALVENCAP_RTSPSRV:-}" ]; then
    RTSP_CONTROL="http://$HALVENCAP_RTSPSRV"
    rtsp_ctl() { python3 - "$RTSP_CONTROL$1" <<'PY'
import sys, urllib.request
with urllib.request.urlopen(sys.argv[1], timeout=30) as r:
    sys.stdout.write(r.read().decode())
PY
    }
    answer="$(rtsp_ctl "/new?codec=both&auth=digest&user=admin&password=secret")"
    RTSP_ID="$(echo "$answer" | sed -n 's/^id=\([0-9]*\) port=.*/\1/p')"
    RTSP_PORT="$(echo "$answer" | sed -n 's/.* port=\([0-9]*\).*/\1/p')"
    if [ -n "$RTSP_ID" ] && [ -n "$RTSP_PORT" ]; then
        rtsp_record h264 video.h264 h264 h264 H264 I264 H_264 "/h264"
        rtsp_record mpeg4 video.m4v m4v mpeg4 DIVX DIVI MPEG4 "/mpeg4"
        rtsp_ctl "/servers/$RTSP_ID/delete" >/dev/null
    else
        fail "record over RTSP: setup" "no RTSP server from $RTSP_CONTROL: $answer"
    fi
else
    echo "SKIP record --format h264/mpeg4: HALVENCAP_RTSPSRV is not set (no RTSP server)"
fi

# --- io -------------------------------------------------------------------
new_camera || fail setup "camera"
run io --address 127.0.0.1 --port "$CAM_PORT" --set 0=on --set 1=off
expect_rc "io: switch output 0 on (0)" 0
[ "$(param "$CAM_ID" 'IO.State[2]')" = 1 ] && pass "io: camera line 2 is on" \
    || fail "io: camera line 2" "IO.State[2]=$(param "$CAM_ID" 'IO.State[2]')"
grep -q '^\[info\] DRIVER IS OPENED' "$WORK/err" && pass "log: driver lines on stderr with their level" \
    || fail "log: driver lines" "no [info] DRIVER IS OPENED line"

run io --address 127.0.0.1 --port "$CAM_PORT" --io-lines "input=1;output=3" --set 0=on --log-level none
[ ! -s "$WORK/err" ] && pass "log: --log-level none keeps stderr empty" || fail "log: none" "stderr not empty"
[ "$RC" = 0 ] && [ "$(param "$CAM_ID" 'IO.State[3]')" = 1 ] && pass "io: --io-lines maps output 0 to line 3" \
    || fail "io: --io-lines" "exit $RC, IO.State[3]=$(param "$CAM_ID" 'IO.State[3]')"

ctl "/cameras/$CAM_ID/set?inputs=0" >/dev/null
# The input changes only once the program has read it inactive (its first
# input poll is in the camera's log), however long Wine takes to start. The
# runs before may have polled the inputs too: their requests go first.
ctl "/cameras/$CAM_ID/log/clear" >/dev/null
( for _ in $(seq 1 600); do
      ctl "/cameras/$CAM_ID/log" | grep -q "IO.MonitorAll" && break
      sleep 0.1
  done
  ctl "/cameras/$CAM_ID/set?inputs=1" >/dev/null ) &
changer=$!
run io --address 127.0.0.1 --port "$CAM_PORT" --watch 12
wait "$changer"
expect_rc "io: watch (0)" 0
if grep -q "input 0 (camera line 0): inactive" "$WORK/out" && grep -q "input 0 (camera line 0): active" "$WORK/out"; then
    pass "io: input change seen while watching"
else
    fail "io: input change" "no inactive -> active for input 0"
fi

new_camera || fail setup "camera"
ctl "/cameras/$CAM_ID/set?status=500" >/dev/null
run io --address 127.0.0.1 --port "$CAM_PORT" --set 0=on --watch 2
expect_rc "io: failing camera (3)" 3
grep -q "I/O failure" "$WORK/err" && pass "io: failures printed" || fail "io: failures" "none printed"

run io --address 127.0.0.1 --port "$(closed_port)"
expect_rc "io: closed port is unreachable (3)" 3

# --- check ----------------------------------------------------------------
# Evaluates a Python expression over the JSON report in a directory: r is
# the report, steps its steps by id.
check_json() {  # report-dir expression
    python3 - "$1/halvencap-check.json" "$2" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
steps = {s["id"]: s for s in r["steps"]}
print(eval(sys.argv[2]))
PY
}
no_password() {  # name report-dir
    if grep -q secret "$2/halvencap-check.json" "$2/halvencap-check.md"; then
        fail "$1: the report carries the password" "see $2"
    else
        pass "$1: no password in the report"
    fi
}

# A camera that offers Motion JPEG only: the RTSP formats are skipped, not failed.
new_camera "?user=admin&password=secret&auth=digest" || fail setup "camera"
ctl "/cameras/$CAM_ID/entries?Stream.EncoderType=JPEG" >/dev/null
REPORT="$WORK/check report"
run check --address 127.0.0.1 --port "$CAM_PORT" --user admin --password secret --seconds 4 --out "$REPORT"
expect_rc "check: Motion JPEG camera is fit for recording (0)" 0
if [ -s "$REPORT/halvencap-check.json" ] && [ -s "$REPORT/halvencap-check.md" ]; then
    results="$(check_json "$REPORT" '" ".join(s["id"] + "=" + s["result"] for s in r["steps"])')"
    [ "$results" = "reach=passed login=passed probe=passed mjpeg=passed h264=skipped mpeg4=skipped io=passed" ] \
        && pass "check: every step judged ($results)" || fail "check: steps" "$results"
    [ "$(check_json "$REPORT" 'r["fit"] and r["exitCode"] == 0 and r["codecs"] == ["JPEG"] and r["camera"] != ""')" = True ] \
        && pass "check: verdict, codecs and camera name in the JSON" \
        || fail "check: JSON head" "$(head -c 400 "$REPORT/halvencap-check.json")"
    if python3 - "$REPORT/halvencap-check.json" <<'PY'
import json, sys
v = {s["id"]: s for s in json.load(open(sys.argv[1]))["steps"]}["mjpeg"]["video"]
assert v["frames"] >= 5 and v["keyFrames"] == v["frames"] and v["longestGapMs"] < 7500, v
assert v["width"] == 640 and v["height"] == 480 and 0 < v["smallestBytes"] <= v["meanBytes"] <= v["largestBytes"], v
assert 1 <= v["framesPerSecond"] <= 12 and 0 <= v["firstFrameSeconds"] < 4, v
PY
    then
        pass "check: Motion JPEG figures"
    else
        fail "check: Motion JPEG figures" "see above"
    fi
    frames="$(check_json "$REPORT" 'steps["mjpeg"]["video"]["frames"]')"
    indexed=$(($(wc -l <"$REPORT/check-mjpeg/index.csv") - 1))
    [ "$indexed" = "$frames" ] && [ -s "$REPORT/check-mjpeg/video.mjpeg" ] \
        && pass "check: the sample holds every measured frame ($frames)" \
        || fail "check: sample" "$indexed indexed, $frames measured"
    [ "$(check_json "$REPORT" 'any("DRIVER IS OPENED" in l["text"] for l in steps["mjpeg"]["log"])')" = True ] \
        && pass "check: the step's driver lines are in the report" \
        || fail "check: log lines" "no DRIVER IS OPENED in the mjpeg step"
    grep -q '^\*\*fit for recording\*\* (exit code 0)' "$REPORT/halvencap-check.md" \
        && pass "check: Markdown verdict" || fail "check: Markdown" "$(head -5 "$REPORT/halvencap-check.md")"
    no_password "check" "$REPORT"
else
    fail "check: report" "halvencap-check.json or .md missing in $REPORT"
fi
grep -q "report: .*halvencap-check.md" "$WORK/out" && pass "check: says where the report is" \
    || fail "check: report path" "not printed"
io_sets="$(ctl "/cameras/$CAM_ID/log" | grep -c "IO.State")"
[ "$(param "$CAM_ID" 'IO.State[2]')" = 0 ] && [ "$io_sets" -ge 2 ] \
    && pass "check: output line 2 switched and left off" \
    || fail "check: output" "IO.State[2]=$(param "$CAM_ID" 'IO.State[2]'), $io_sets requests with IO.State"

# Refused and unreachable cameras: exit 3, and the report says where it stopped.
run check --address 127.0.0.1 --port "$CAM_PORT" --user admin --password wrong --seconds 2 --out "$WORK/check-refused"
expect_rc "check: wrong password (3)" 3
[ "$(check_json "$WORK/check-refused" 'steps["login"]["result"] + " " + steps["mjpeg"]["result"]')" = "failed skipped" ] \
    && pass "check: refused login stops before the video" \
    || fail "check: refused" "$(check_json "$WORK/check-refused" 'r["steps"]')"

run check --address 127.0.0.1 --port "$(closed_port)" --seconds 2
expect_rc "check: closed port is unreachable (3)" 3
[ "$(check_json "$WORK" 'steps["reach"]["result"] + " " + str(r["fit"])')" = "failed False" ] \
    && pass "check: report in the current directory by default" || fail "check: default directory" "no report in $WORK"

new_camera || fail setup "camera"
ctl "/cameras/$CAM_ID/set?empty=1" >/dev/null
run check --address 127.0.0.1 --port "$CAM_PORT" --seconds 3 --out "$WORK/check-empty"
expect_rc "check: camera without answers gives no video (4)" 4

if [ -n "${HALVENCAP_RTSPSRV:-}" ]; then
    answer="$(rtsp_ctl "/new?codec=both&auth=digest&user=admin&password=secret")"
    RTSP_ID="$(echo "$answer" | sed -n 's/^id=\([0-9]*\) port=.*/\1/p')"
    RTSP_PORT="$(echo "$answer" | sed -n 's/.* port=\([0-9]*\).*/\1/p')"
    new_camera "?user=admin&password=secret" || fail setup "camera"
    ctl "/cameras/$CAM_ID/param?Streaming.RTSPPort=$RTSP_PORT" >/dev/null
    run check --address 127.0.0.1 --port "$CAM_PORT" --user admin --password secret --seconds 4 \
        --io-lines "input=0;output=" --out "$WORK/check-rtsp"
    expect_rc "check: camera with every format (0)" 0
    if python3 - "$WORK/check-rtsp/halvencap-check.json" <<'PY'
import json, sys
steps = {s["id"]: s for s in json.load(open(sys.argv[1]))["steps"]}
for kind in ("mjpeg", "h264", "mpeg4"):
    assert steps[kind]["result"] == "passed", steps[kind]
for kind in ("h264", "mpeg4"):
    v = steps[kind]["video"]
    assert v["frames"] >= 10 and 1 <= v["keyFrames"] < v["frames"], (kind, v)
    assert (v["width"], v["height"]) == (320, 240), (kind, v)
assert steps["io"]["result"] == "passed" and steps["io"]["io"]["switched"] is False, steps["io"]
PY
    then pass "check: H.264 and MPEG-4 from the RTSP server, key and inter frames counted"
    else fail "check: RTSP formats" "see above"; fi
    no_password "check over RTSP" "$WORK/check-rtsp"
    rtsp_ctl "/servers/$RTSP_ID/delete" >/dev/null
else
    echo "SKIP check with H.264 and MPEG-4: HALVENCAP_RTSPSRV is not set (no RTSP server)"
fi

finish
