#!/usr/bin/env bash
# End-to-end test of the halvencap program under Wine against the camera
# simulator: argument errors, exit codes, `record` (files, index, ffprobe)
# and `io` (output switching, input changes, failures).
#
#   tests/cli/test_cli_e2e.sh [BIN_DIR]
#
# BIN_DIR holds halvencap.exe and Halvencap.dll (default: $HALVENCAP_BIN or
# build/win64/bin). Wine prefix: $HALVENCAP_WINEPREFIX64 (default
# build/wine64-prefix). Ends with the line "N passed, M failed".
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BIN="${1:-${HALVENCAP_BIN:-$ROOT/build/win64/bin}}"
BIN="$(cd "$BIN" 2>/dev/null && pwd || echo "$BIN")"
EXE="$BIN/halvencap.exe"
export WINEDEBUG=-all
export WINEPREFIX="${HALVENCAP_WINEPREFIX64:-$ROOT/build/wine64-prefix}"
WINE="${HALVENCAP_WINE:-/usr/lib/wine/wine64}"
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

run probe --address 127.0.0.1 --port "$CAM_PORT"
if [ "$RC" = 1 ] && grep -q "not available" "$WORK/err"; then pass "probe: not available yet"; else fail "probe" "exit $RC"; fi

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
# input poll is in the camera's log), however long Wine takes to start.
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

finish
