#!/usr/bin/env bash
# VLC's RTSP server as a real peer: a looped H.264 clip at /h264 and a looped
# MPEG-4 Visual clip at /mpeg4, both live broadcasts on one port.
#
#   tools/vlcsrv/vlcsrv.sh --dir DIR [--port P] [--rtsp-timeout S]
#                          [--user U --password W] [--parent-pid PID]
#
# Makes the clips with ffmpeg into DIR (640x360 at 15/s, a key frame a
# second with the parameter sets in front), writes the VLM configuration,
# and runs cvlc as nobody (VLC refuses root), so DIR is made readable to all.
# Port 0 (default) takes a free one. VLC logs no requests, so a relay
# (rtsplog.py) takes the port and writes each request line to
# DIR/requests.log; VLC listens behind it and names its own port in its
# URLs, as a server behind a port forward does. Writes DIR/port once the
# server answers, DIR/vlc.log as it runs; ends VLC and itself on
# SIGTERM/SIGINT or when the parent process is gone.
set -uo pipefail

DIR= PORT=0 TIMEOUT=60 USER_NAME= PASSWORD= PARENT=0
while [ $# -gt 0 ]; do
    case "$1" in
        --dir) DIR=$2; shift 2 ;;
        --port) PORT=$2; shift 2 ;;
        --rtsp-timeout) TIMEOUT=$2; shift 2 ;;
        --user) USER_NAME=$2; shift 2 ;;
        --password) PASSWORD=$2; shift 2 ;;
        --parent-pid) PARENT=$2; shift 2 ;;
        *) echo "vlcsrv: unknown argument $1" >&2; exit 2 ;;
    esac
done
[ -n "$DIR" ] || { echo "vlcsrv: --dir is needed" >&2; exit 2; }
command -v cvlc >/dev/null || { echo "vlcsrv: cvlc missing (vlc-bin, vlc-plugin-base)" >&2; exit 1; }
mkdir -p "$DIR"
DIR="$(cd "$DIR" && pwd)"
rm -f "$DIR/port"

encode() {  # name codec-args...
    local out="$DIR/$1"; shift
    [ -s "$out" ] && return 0
    ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i testsrc=size=640x360:rate=15 -t 8 \
        "$@" "$out.tmp.mp4" && mv "$out.tmp.mp4" "$out"
}
encode clip-h264.mp4 -c:v libx264 -profile:v baseline -pix_fmt yuv420p -bf 0 -g 15 \
    -x264-params repeat-headers=1 || exit 1
encode clip-mpeg4.mp4 -c:v mpeg4 -bf 0 -g 15 -q:v 5 || exit 1

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}
[ "$PORT" = 0 ] && PORT=$(free_port)
INNER=$(free_port)
{
    for name in h264 mpeg4; do
        echo "new $name broadcast enabled"
        echo "setup $name input \"$DIR/clip-$name.mp4\""
        echo "setup $name option input-repeat=65535"
        echo "setup $name output #rtp{sdp=rtsp://127.0.0.1:$INNER/$name}"
        echo "control $name play"
    done
} >"$DIR/vlm.conf"
chmod a+rx "$DIR"
chmod a+r "$DIR"/*
# The directories above must let nobody through too.
d="$DIR"
while [ "$d" != / ]; do
    d="$(dirname "$d")"
    [ -x "$d" ] || chmod o+x "$d" 2>/dev/null
done

creds=()
[ -n "$USER_NAME" ] && creds=(--sout-rtsp-user "$USER_NAME" --sout-rtsp-pwd "$PASSWORD")
run_as=()
[ "$(id -u)" = 0 ] && run_as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
HOME=/tmp "${run_as[@]}" cvlc -I dummy --no-audio --rtsp-timeout "$TIMEOUT" "${creds[@]}" \
    --vlm-conf "$DIR/vlm.conf" >"$DIR/vlc.log" 2>&1 &
VLC=$!
python3 "$(dirname "${BASH_SOURCE[0]}")/rtsplog.py" --listen "$PORT" --to "$INNER" --log "$DIR/requests.log" \
    >"$DIR/rtsplog.out" 2>&1 &
RELAY=$!
trap 'kill $VLC $RELAY 2>/dev/null; wait $VLC $RELAY 2>/dev/null; exit 0' TERM INT EXIT

for _ in $(seq 1 200); do
    kill -0 $VLC 2>/dev/null || { echo "vlcsrv: cvlc ended: $(tail -3 "$DIR/vlc.log")" >&2; exit 1; }
    if (exec 3<>"/dev/tcp/127.0.0.1/$INNER") 2>/dev/null && (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then
        echo "$PORT" >"$DIR/port.tmp" && mv "$DIR/port.tmp" "$DIR/port"
        break
    fi
    sleep 0.1
done
[ -s "$DIR/port" ] || { echo "vlcsrv: no RTSP port $PORT after 20 s" >&2; exit 1; }
echo "vlcsrv: rtsp://127.0.0.1:$PORT/h264 and /mpeg4, session time-out $TIMEOUT s"
while kill -0 $VLC 2>/dev/null && kill -0 $RELAY 2>/dev/null; do
    if [ "$PARENT" != 0 ] && ! kill -0 "$PARENT" 2>/dev/null; then break; fi
    sleep 1 &
    wait $!
done
