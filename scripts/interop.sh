#!/usr/bin/env bash
# Interoperability stage: the console program records from real RTSP
# servers and from field camera profiles, one row per peer and profile.
#
#   scripts/interop.sh [BIN_DIR]
#
# BIN_DIR holds halvencap.exe and Halvencap.dll (default build/win64/bin); a
# 32-bit build runs under scripts/wine32.sh, a 64-bit one under wine64
# (told apart by the PE machine field). Peers: VLC's RTSP server
# (tools/vlcsrv) and the field camera (tools/fieldcam, one server per
# profile); the camera simulator (tools/camsim) takes the parameter
# requests and points the driver at the peer through Streaming.RTSPPort.
#
# A row passes when the program exits 0; the index has frames at the clip's
# rate (15/s within 10 %: the servers pace from a steady clock, so arrival
# jitter at the two ends of a span of 15 s or more moves the rate by under
# 1 %, while one frame lost in ten moves it by 10 %; VLC, which sends each
# loop turn's first second at once, only not below) and 15 frames per key
# frame interval between the first and last key frame; the frames span at
# least one and a half session time-outs (the keep-alives have to work)
# with no gap over 1 s between arrivals; ffmpeg decodes the file with
# nothing printed at -v error; there was no reconnect (the session was never
# lost); the driver's log carries no credential; and the peer's request log
# has no broken rule (lines marked RULE). Rows run HALVENCAP_INTEROP_JOBS
# (default 4) at a time; HALVENCAP_INTEROP_ROWS (a regular expression)
# picks rows, HALVENCAP_INTEROP_VLC_SECONDS (default 150) sets the long VLC
# row. Output: one table line per row in build/interop-<bits>/interop.log
# and on stdout, ending with "N passed, M failed".
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BIN="${1:-${HALVENCAP_BIN:-$ROOT/build/win64/bin}}"
BIN="$(cd "$BIN" 2>/dev/null && pwd || echo "$BIN")"
EXE="$BIN/halvencap.exe"
JOBS="${HALVENCAP_INTEROP_JOBS:-4}"
ROWS_RE="${HALVENCAP_INTEROP_ROWS:-.}"
VLC_SECONDS="${HALVENCAP_INTEROP_VLC_SECONDS:-150}"
VLC_TIMEOUT=60
export WINEDEBUG=-all
export WINEPREFIX="${HALVENCAP_WINEPREFIX64:-$ROOT/build/wine64-prefix}"
# Debian's python3 (the tools use the standard library only).
PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3

pe_machine() {
    "$PY" - "$1" <<'PY' 2>/dev/null
import struct, sys
with open(sys.argv[1], "rb") as f:
    data = f.read(4096)
at = struct.unpack_from("<I", data, 0x3c)[0]
print("%x" % struct.unpack_from("<H", data, at + 4)[0])
PY
}
if [ "$(pe_machine "$EXE")" = 14c ]; then WINE="$ROOT/scripts/wine32.sh"; BITS=32; else WINE=/usr/lib/wine/wine64; BITS=64; fi
WINE="${HALVENCAP_WINE:-$WINE}"
WORK="$ROOT/build/interop-$BITS"
LOG="$WORK/interop.log"
# A request log left by an earlier run would count its sessions as this
# run's reconnects: nothing of an earlier run stays but the clips.
rm -rf "$WORK/rows" "$WORK/vlc/requests.log"
mkdir -p "$WORK/rows"
: >"$LOG"
USER_NAME=admin
# Distinctive, so that a trace of it in any log is found.
PASSWORD='Fc7-pw!Qz9'
PIDS=()

say() { echo "$*" | tee -a "$LOG"; }
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
}
trap cleanup EXIT

if [ ! -f "$EXE" ] || [ ! -f "$BIN/Halvencap.dll" ]; then
    say "halvencap.exe or Halvencap.dll missing in $BIN"
    say "0 passed, 1 failed"
    exit 1
fi

start_tool() {  # name port-file command...
    local name=$1 port_file=$2
    shift 2
    rm -f "$port_file"
    "$@" >"$WORK/$name.log" 2>&1 &
    PIDS+=($!)
    for _ in $(seq 1 600); do
        [ -s "$port_file" ] && return 0
        kill -0 "${PIDS[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    say "$name did not start: $(tail -3 "$WORK/$name.log" | tr '\n' ' ')"
    return 1
}

http_get() {
    "$PY" - "$1" <<'PY'
import sys, urllib.request
with urllib.request.urlopen(sys.argv[1], timeout=30) as r:
    sys.stdout.write(r.read().decode())
PY
}

start_tool camsim "$WORK/camsim.port" "$PY" "$ROOT/tools/camsim/camsim.py" --control-port 0 \
    --port-file "$WORK/camsim.port" --parent-pid $$ --max-seconds 3600 || { say "0 passed, 1 failed"; exit 1; }
start_tool fieldcam "$WORK/fieldcam.port" "$PY" "$ROOT/tools/fieldcam/fieldcam.py" --control-port 0 \
    --port-file "$WORK/fieldcam.port" --clip-dir "$WORK/clips" --parent-pid $$ --max-seconds 3600 \
    || { say "0 passed, 1 failed"; exit 1; }
CAMSIM="http://127.0.0.1:$(cat "$WORK/camsim.port")"
FIELDCAM="http://127.0.0.1:$(cat "$WORK/fieldcam.port")"
VLC_PORT=
if start_tool vlcsrv "$WORK/vlc/port" "$ROOT/tools/vlcsrv/vlcsrv.sh" --dir "$WORK/vlc" \
        --rtsp-timeout "$VLC_TIMEOUT" --user "$USER_NAME" --password "$PASSWORD" --parent-pid $$; then
    VLC_PORT=$(cat "$WORK/vlc/port")
fi

# Rows: peer profile codec seconds span-needed allowed-reconnects
ROWS=()
VLC_SPAN=$((VLC_TIMEOUT * 3 / 2))
[ "$VLC_SPAN" -gt $((VLC_SECONDS - 10)) ] && VLC_SPAN=$((VLC_SECONDS - 10))
ROWS+=("vlc h264 h264 $VLC_SECONDS $VLC_SPAN 0")
ROWS+=("vlc mpeg4 mpeg4 30 20 0")
while read -r name timeout; do
    span=$((timeout * 3 / 2))
    # UDP that never arrives is left for TCP once: one new session.
    allowed=0 extra=3
    # The switch itself takes a few seconds (video is due within 8 s of
    # the first request), which the span must not be charged for.
    [ "$name" = udp_blackhole ] && allowed=1 extra=10
    # A refused SETUP is retried later: time for one retry before the span.
    [ "$name" = busy_453 ] && extra=20
    ROWS+=("fieldcam $name h264 $((span + extra)) $span $allowed")
done < <(cd "$ROOT/tools/fieldcam" && "$PY" -c '
import profiles
for n in profiles.PROFILES:
    p = profiles.profile(n)
    print(n, max(p["timeout"], p["play_timeout"] or 0))')
for name in clean interleaved_mixed no_marker timestamps_odd; do
    ROWS+=("fieldcam $name mpeg4 18 15 0")
done

# One row: writes ROWDIR/result ("frames fps gap decode reconnects verdict reason").
run_row() {  # index peer profile codec seconds span allowed
    local idx=$1 peer=$2 profile=$3 codec=$4 seconds=$5 span=$6 allowed=$7
    local dir="$WORK/rows/$(printf '%02d' "$idx")-$peer-$profile-$codec"
    mkdir -p "$dir"
    local answer cam_id cam_port rtsp_port server_id=
    answer=$(http_get "$CAMSIM/new?user=$USER_NAME&password=$PASSWORD&auth=digest") || {
        echo "- - - - - FAIL camera simulator" >"$dir/result"; return; }
    cam_id=$(echo "$answer" | sed -n 's/^id=\([0-9]*\) .*/\1/p')
    cam_port=$(echo "$answer" | sed -n 's/.* port=\([0-9]*\).*/\1/p')
    if [ "$peer" = vlc ]; then
        rtsp_port=$VLC_PORT
        [ -n "$rtsp_port" ] || { echo "- - - - - FAIL VLC did not start" >"$dir/result"; return; }
    else
        answer=$(http_get "$FIELDCAM/new?profile=$profile&user=$USER_NAME&password=$PASSWORD") || {
            echo "- - - - - FAIL field camera" >"$dir/result"; return; }
        server_id=$(echo "$answer" | sed -n 's/^id=\([0-9]*\) .*/\1/p')
        rtsp_port=$(echo "$answer" | sed -n 's/.* port=\([0-9]*\).*/\1/p')
    fi
    http_get "$CAMSIM/cameras/$cam_id/param?Streaming.RTSPPort=$rtsp_port" >/dev/null
    (cd "$dir" && timeout $((seconds + 90)) "$WINE" "$EXE" record --address 127.0.0.1 --port "$cam_port" \
        --user "$USER_NAME" --password "$PASSWORD" --format "$codec" --interval 67 --seconds "$seconds" \
        --quiet --log-level all --out "$dir/rec" >"$dir/out" 2>"$dir/err")
    echo $? >"$dir/rc"
    if [ -n "$server_id" ]; then
        http_get "$FIELDCAM/servers/$server_id/log" >"$dir/peer.log"
        http_get "$FIELDCAM/servers/$server_id/delete" >/dev/null
    else
        # The relay's request lines of this row's stream.
        grep -E " rtsp://[^/ ]*/$profile([/?]| )" "$WORK/vlc/requests.log" >"$dir/peer.log" 2>/dev/null
    fi
    local file=video.h264 fmt=h264
    [ "$codec" = mpeg4 ] && file=video.m4v fmt=m4v
    local decode=ok errors
    if [ ! -s "$dir/rec/$file" ]; then
        decode=none
    elif ! errors=$(ffmpeg -hide_banner -nostdin -v error -f "$fmt" -i "$dir/rec/$file" -f null - 2>&1) \
            || [ -n "$errors" ]; then
        decode=errors
        echo "$errors" | head -20 >"$dir/decode.txt"
    fi
    "$PY" - "$dir" "$peer" "$decode" "$span" "$allowed" "$PASSWORD" "$USER_NAME" >"$dir/result" <<'PY'
import base64, csv, os, re, sys
d, peer, decode, span, allowed, password, user = sys.argv[1:]
span, allowed = float(span), int(allowed)
RATE, GOP, TOLERANCE, MAX_GAP = 15.0, 15, 0.10, 1.0
reasons = []
rc = open(os.path.join(d, "rc")).read().strip()
if rc != "0":
    reasons.append("exit %s" % rc)
rows = []
try:
    rows = list(csv.DictReader(open(os.path.join(d, "rec", "index.csv"))))
except OSError:
    pass
times = [float(r["arrival"]) for r in rows if r.get("arrival")]
frames = len(rows)
fps = gap = 0.0
if len(times) >= 2:
    fps = (len(times) - 1) / (times[-1] - times[0]) if times[-1] > times[0] else 0.0
    gap = max(b - a for a, b in zip(times, times[1:]))
    if times[-1] - times[0] < span:
        reasons.append("frames span %.1f s < %.0f s" % (times[-1] - times[0], span))
if frames < 2 or len(times) != frames:
    reasons.append("%d frames" % frames)
elif peer == "vlc":
    # VLC sends the first second of every loop turn at once (its timestamps
    # step back at the loop), so it sends more than the clip's rate on
    # average; only a shortfall says frames went missing.
    if fps < RATE * (1 - TOLERANCE):
        reasons.append("%.2f/s" % fps)
elif abs(fps - RATE) > RATE * TOLERANCE:
    reasons.append("%.2f/s" % fps)
# Whatever the pacing, the clips have a key frame every GOP frames: between
# the first and the last key frame delivered nothing may be missing.
keys = [i for i, r in enumerate(rows) if r["key"] == "1"]
if len(keys) >= 3:
    per_gop = (keys[-1] - keys[0]) / (len(keys) - 1)
    if abs(per_gop - GOP) > GOP * TOLERANCE:
        reasons.append("%.1f frames per key frame interval, not %d" % (per_gop, GOP))
if gap > MAX_GAP:
    reasons.append("gap %.2f s" % gap)
if decode != "ok":
    reasons.append("decode %s" % decode)
log = ""
for name in ("out", "err"):
    try:
        log += open(os.path.join(d, name), errors="replace").read()
    except OSError:
        pass
basic = base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
if password in log or basic in log or re.search(r"Authorization:|response=\"", log):
    reasons.append("credential in the driver's log")
peer_log = ""
try:
    peer_log = open(os.path.join(d, "peer.log"), errors="replace").read()
except OSError:
    pass
if peer == "fieldcam":
    reconnects = max(0, len(re.findall(r": streaming ", peer_log)) - 1)
    rules = sorted(set(m.group(1).strip() for m in re.finditer(r"RULE ([^\n]*)", peer_log)))
    if rules:
        reasons.append("peer: " + "; ".join(rules)[:160])
    ended = re.findall(r"session \S+ ended: (timed out[^\n]*)", peer_log)
    if ended:
        reasons.append("peer ended the session: " + ended[0])
else:
    # Each session is one PLAY; a session started anew that did not get as
    # far shows as one more connection that asked for a description.
    plays = len(re.findall(r" PLAY ", peer_log))
    describing = set(re.findall(r"conn (\d+) DESCRIBE ", peer_log))
    reconnects = max(plays - 1, len(describing) - 1, 0)
if reconnects > allowed:
    reasons.append("%d reconnects" % reconnects)
print("%d %.2f %.2f %s %d %s %s" % (frames, fps, gap, decode, reconnects,
                                    "FAIL" if reasons else "PASS", ", ".join(reasons)))
PY
}

T0=$(date +%s)
say "interop: $EXE under $(basename "$WINE"), $JOBS rows at a time; work in $WORK"
i=0
for row in "${ROWS[@]}"; do
    i=$((i + 1))
    read -r peer profile codec seconds span allowed <<<"$row"
    echo "$peer/$profile/$codec" | grep -qE "$ROWS_RE" || continue
    while [ "$(jobs -rp | wc -l)" -ge "$((JOBS + ${#PIDS[@]}))" ]; do wait -n; done
    run_row "$i" "$peer" "$profile" "$codec" "$seconds" "$span" "$allowed" &
done
# The tools go on; wait for the rows only.
for pid in $(jobs -rp); do
    case " ${PIDS[*]} " in *" $pid "*) ;; *) wait "$pid" ;; esac
done

PASSED=0
FAILED=0
say "$(printf '%-40s %6s %6s %6s %-7s %4s  %s' "peer/profile/codec" frames fps gap decode reco result)"
for dir in "$WORK"/rows/*; do
    [ -d "$dir" ] || continue
    name=$(basename "$dir" | sed 's/^[0-9]*-//; s/-\([a-z0-9]*\)$/\/\1/; s/^\([a-z]*\)-/\1\//')
    read -r frames fps gap decode reco verdict reason <"$dir/result" 2>/dev/null \
        || { frames=- fps=- gap=- decode=- reco=- verdict=FAIL reason="no result"; }
    say "$(printf '%-40s %6s %6s %6s %-7s %4s  %s %s' "$name" "$frames" "$fps" "$gap" "$decode" "$reco" "$verdict" "$reason")"
    if [ "$verdict" = PASS ]; then PASSED=$((PASSED + 1)); else FAILED=$((FAILED + 1)); fi
done
say "interop took $(( $(date +%s) - T0 )) s; rows in $WORK/rows"
say "$PASSED passed, $FAILED failed"
[ "$FAILED" = 0 ]
