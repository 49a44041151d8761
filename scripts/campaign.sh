#!/usr/bin/env bash
# Robustness campaign, separate from the test command: the real DLL in the
# test program under Wine runs N channels (Motion JPEG from the camera
# simulator; H.264 and MPEG-4 from GStreamer's RTSP server through the fault
# proxy, named by the simulated camera's Streaming.RTSPPort) while faults
# are injected on a schedule, then start/stop and probe cycles per channel
# kind. Every delivered frame is decoded with ffmpeg. Writes
# build/campaign/summary.txt (per fault: times injected, recoveries, worst
# recovery time, frames delivered, decode errors; rule checks per channel;
# threads, handles and private bytes around the cycles; the slopes of
# private bytes and handles per channel over the run, from memory.tsv, which
# the test program samples every minute while the channels run).
#
#   scripts/campaign.sh [--bits 64|32] [--seconds S] [--channels N] [--cycles N]
#                       [--seed N] [--faults a,b,...] [--no-faults] [--no-cycles] [--out DIR]
#
# --no-faults lets the channels stream undisturbed for the seconds asked for:
# the quiet baseline the slope bounds were chosen from.
# Defaults: the 64-bit build, 1800 s, 16 channels, 1000 cycles. Use --bits 32
# (the shipped build) where the kernel runs i386 code natively; under qemu
# emulation threads are unreliable. Exit 1 when the summary has findings.
# HALVENCAP_CAMPAIGN_BUILD=DIR builds and runs in DIR instead of
# build/win64 (or build/win32), so a second campaign can run beside a long one.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
ROOT_BUILD="$ROOT/build"
BITS=64 SECONDS_RUN=1800 CHANNELS=16 CYCLES=1000 SEED=1 FAULTS= RUN_FAULTS=1 RUN_CYCLES=1 OUT="$ROOT_BUILD/campaign"
while [ $# -gt 0 ]; do
    case "$1" in
        --bits) BITS=$2; shift ;;
        --seconds) SECONDS_RUN=$2; shift ;;
        --channels) CHANNELS=$2; shift ;;
        --cycles) CYCLES=$2; shift ;;
        --seed) SEED=$2; shift ;;
        --faults) FAULTS=$2; shift ;;
        --no-faults) FAULTS=none ;;  # matches no fault
        --no-cycles) RUN_CYCLES=0 ;;
        --out) OUT=$(realpath -m "$2"); shift ;;
        -h|--help) sed -n 2,25p "$0"; exit 0 ;;
        *) echo "unknown option $1"; exit 2 ;;
    esac
    shift
done
BUILD="$ROOT_BUILD"
export WINEDEBUG=-all
export WINEPREFIX="${HALVENCAP_WINEPREFIX64:-$BUILD/wine64-prefix}"

"$ROOT/scripts/setup.sh" >/dev/null || { echo "setup failed"; exit 1; }
case "$BITS" in
    64) DIR="${HALVENCAP_CAMPAIGN_BUILD:-$BUILD/win64}"; TOOLCHAIN=toolchain-x86_64-mingw.cmake; WINE=/usr/lib/wine/wine64 ;;
    32) DIR="${HALVENCAP_CAMPAIGN_BUILD:-$BUILD/win32}"; TOOLCHAIN=toolchain-i686-mingw.cmake; WINE="$ROOT/scripts/wine32.sh"
        [ "$(cat "$BUILD/i386-mode" 2>/dev/null)" = qemu ] && \
            echo "warning: i386 code runs only under qemu here; threads are unreliable" ;;
    *) echo "--bits 64 or 32"; exit 2 ;;
esac
echo "== building $DIR"
cmake -S "$ROOT" -B "$DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$TOOLCHAIN" >"$DIR.configure.log" 2>&1 \
    && ninja -C "$DIR" -j"${HALVENCAP_JOBS:-2}" Halvencap halvencap_tests >"$DIR.build.log" 2>&1 \
    || { echo "build failed (see $DIR.build.log)"; tail -20 "$DIR.build.log"; exit 1; }

rm -rf "$OUT"; mkdir -p "$OUT/frames"

# The peers, as the test command starts them: control port in a file, gone
# with this script.
PIDS=()
start_peer() {  # name python script env-var
    local port_file="$OUT/$1.port"
    "$2" "$3" --control-port 0 --port-file "$port_file" --parent-pid $$ --max-seconds 0 >"$OUT/$1.log" 2>&1 &
    PIDS+=($!)
    for _ in $(seq 1 600); do [ -s "$port_file" ] && break; sleep 0.1; done
    [ -s "$port_file" ] || { echo "$1 did not start (see $OUT/$1.log)"; exit 1; }
    export "$4=127.0.0.1:$(cat "$port_file")"
}
stop_peers() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; }
trap stop_peers EXIT
start_peer camsim python3 "$ROOT/tools/camsim/camsim.py" HALVENCAP_CAMSIM
start_peer rtspsrv /usr/bin/python3 "$ROOT/tools/rtspsrv/rtspsrv.py" HALVENCAP_RTSPSRV
start_peer faultproxy /usr/bin/python3 "$ROOT/tools/faultproxy/faultproxy.py" HALVENCAP_FAULTPROXY

export HALVENCAP_CAMPAIGN_DIR="$OUT" HALVENCAP_CAMPAIGN_SECONDS="$SECONDS_RUN" \
    HALVENCAP_CAMPAIGN_CHANNELS="$CHANNELS" HALVENCAP_CAMPAIGN_CYCLES="$CYCLES" \
    HALVENCAP_CAMPAIGN_SEED="$SEED" HALVENCAP_CAMPAIGN_FAULTS="$FAULTS"
crashed=0
run() {  # name filter time-out-seconds
    local t0 rc
    t0=$(date +%s)
    echo "== $1 (bound ${3} s)"
    (cd "$DIR/bin" && timeout -k 10 "$3" $WINE halvencap_tests.exe --gtest_also_run_disabled_tests \
        --gtest_filter="$2") >"$OUT/$1.log" 2>&1
    rc=$?
    grep -E "^\[  (FAILED|PASSED) |Failure|cycles:" "$OUT/$1.log" | head -20
    if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
        echo "$1: HANG - not finished within $3 s"; crashed=1
    elif ! grep -qE "^\[  PASSED  \]|^\[  FAILED  \]" "$OUT/$1.log"; then
        echo "$1: CRASH - the program died (exit $rc)"; grep -E "Unhandled|RUN" "$OUT/$1.log" | tail -3; crashed=1
    fi
    echo "$1 took $(( $(date +%s) - t0 )) s"
}
# Bounds: the run itself, plus a fault's hold and recovery per channel, plus
# start-up and shutdown; cycles at well under a second each.
[ "$RUN_FAULTS" = 1 ] && run faults 'Campaign.DISABLED_FaultsAcrossChannels' $((SECONDS_RUN + 300 + CHANNELS * 10))
[ "$RUN_CYCLES" = 1 ] && run cycles 'Campaign.DISABLED_StartStopAndProbeCycles' $((600 + CYCLES * 4))
stop_peers; PIDS=()

echo "== decoding and summary ($OUT/summary.txt)"
python3 "$ROOT/scripts/campaign_summary.py" "$OUT"
rc=$?
[ "$crashed" = 1 ] && { echo "the campaign program crashed or hung" | tee -a "$OUT/summary.txt"; rc=1; }
exit $rc
