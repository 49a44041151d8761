#!/usr/bin/env bash
# Builds every configuration and runs every test stage:
#   native (g++), sanitizers (clang ASan+UBSan), fuzz smoke (libFuzzer),
#   simulator, RTSP server and fault proxy self-tests, the 64-bit suite
#   under wine64 with its decode and console program checks and a short
#   robustness campaign, and the same for the shipped 32-bit build under
#   wine32 (the whole suite where the kernel runs i386 code, a smoke suite
#   where only emulation can). Each stage line gives its wall time.
# Ends with one line "N passed, M failed" over all stages.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
BUILD="$ROOT/build"
JOBS="${HALVENCAP_JOBS:-2}"
export WINEDEBUG=-all
export HALVENCAP_WINEPREFIX64="${HALVENCAP_WINEPREFIX64:-$BUILD/wine64-prefix}"

RUN_T0=$(date +%s)
"$ROOT/scripts/setup.sh" || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }
echo "== setup took $(( $(date +%s) - RUN_T0 )) s"
I386_MODE="$(cat "$BUILD/i386-mode" 2>/dev/null || echo native)"
WINE32="$ROOT/scripts/wine32.sh"

TOTAL_PASSED=0
TOTAL_FAILED=0
STAGE_LINES=()
REPORTS="$BUILD/reports"
mkdir -p "$REPORTS"

# Wall time of a stage: from stage_start (or the previous stage's end) to
# its result line.
STAGE_T0=$(date +%s)
stage_start() { STAGE_T0=$(date +%s); }

stage_result() {  # name passed failed [skipped] [note]
    local name=$1 p=$2 f=$3 s=${4:-0} note=${5:-}
    TOTAL_PASSED=$((TOTAL_PASSED + p))
    TOTAL_FAILED=$((TOTAL_FAILED + f))
    local now line
    now=$(date +%s)
    line=$(printf '%-10s %d passed, %d failed, %d skipped, %4d s%s' "$name:" "$p" "$f" "$s" \
        $((now - STAGE_T0)) "${note:+ ($note)}")
    STAGE_T0=$now
    STAGE_LINES+=("$line")
    echo "== $line"
}

build_config() {  # dir cmake-args...
    local dir=$1; shift
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.configure.log" 2>&1 \
        && ninja -C "$dir" -j"$JOBS" >"$dir.build.log" 2>&1
}

gtest_stage() {  # name report-file [note]
    read -r p f s < <(python3 "$ROOT/scripts/gtest_summary.py" "$2")
    stage_result "$1" "$p" "$f" "$s" "${3:-}"
}

# Runs a Windows test program under Wine. When the process dies without a
# report (a crash takes every later test with it), each test suite is run on
# its own so that one crash costs one suite, and the crashed suite is named.
wine_suite() {  # name wine-command bin-dir filter [note]
    local name=$1 wine=$2 bin=$3 filter=$4 note=${5:-}
    local xml="$REPORTS/$name.xml" log="$REPORTS/$name.log"
    rm -f "$xml"
    (cd "$bin" && timeout 2400 $wine halvencap_tests.exe --gtest_filter="$filter" \
        --gtest_output=xml:"Z:${xml//\//\\}") >"$log" 2>&1
    tail -3 "$log"
    if [ -s "$xml" ]; then
        gtest_stage "$name" "$xml" "$note"
        return
    fi
    echo "$name: the test program died without a report; running suite by suite"
    grep -E "Unhandled|RUN" "$log" | tail -3
    local suites p=0 f=0 s=0 suite
    suites=$(cd "$bin" && timeout 300 $wine halvencap_tests.exe --gtest_list_tests --gtest_filter="$filter" 2>/dev/null \
        | tr -d '\r' | grep -E '^[A-Za-z_0-9/]+\.$' | tr -d '.')
    for suite in $suites; do
        rm -f "$xml"
        (cd "$bin" && timeout 600 $wine halvencap_tests.exe --gtest_filter="$suite.*" \
            --gtest_output=xml:"Z:${xml//\//\\}") >"$log.$suite" 2>&1
        if [ -s "$xml" ]; then
            read -r a b c < <(python3 "$ROOT/scripts/gtest_summary.py" "$xml")
            p=$((p + a)); f=$((f + b)); s=$((s + c))
            [ "$b" != 0 ] && grep -E "Failure|FAILED" "$log.$suite" | head -5
        else
            f=$((f + 1)); echo "suite $suite crashed:"; grep -E "Unhandled|RUN" "$log.$suite" | tail -2
        fi
    done
    stage_result "$name" "$p" "$f" "$s" "$note"
}

# What the driver delivered must decode with an independent decoder.
decode_stage() {  # name artifacts-dir
    local dp=0 df=0 art errors fmt
    for art in "$2"/*; do
        [ -f "$art" ] || continue
        case "$art" in
            *.mjpeg) fmt=(-f mjpeg) ;;
            *.h264) fmt=(-f h264) ;;
            *.m4v) fmt=(-f m4v) ;;
            *) fmt=() ;;
        esac
        if errors=$(ffmpeg -hide_banner -nostdin -v error "${fmt[@]}" -i "$art" -f null - 2>&1) && [ -z "$errors" ]; then
            dp=$((dp + 1))
        else
            df=$((df + 1)); echo "decode of $(basename "$art") failed: $errors" | head -5
        fi
    done
    [ $((dp + df)) = 0 ] && { echo "$1: the suite left nothing to decode"; df=1; }
    stage_result "$1" "$dp" "$df"
}

# The integrator's console program, end to end against the simulator (and
# against the RTSP server while $HALVENCAP_RTSPSRV is set; it skips the
# H.264 and MPEG-4 recordings otherwise).
cli_stage() {  # name bin-dir wine-command
    local name=$1 bin=$2 wine=$3 cp cf
    if [ ! -f "$bin/halvencap.exe" ]; then
        echo "$name: $bin/halvencap.exe missing"; stage_result "$name" 0 1; return
    fi
    HALVENCAP_WINE="$wine" HALVENCAP_BIN="$bin" "$ROOT/tests/cli/test_cli_e2e.sh" "$bin" >"$REPORTS/$name.log" 2>&1
    read -r cp cf < <(grep -E '^[0-9]+ passed, [0-9]+ failed' "$REPORTS/$name.log" | tail -1 | awk '{print $1, $3}')
    grep -E "FAIL" "$REPORTS/$name.log" | head -10
    stage_result "$name" "${cp:-0}" "${cf:-1}"
}

# A short robustness campaign on the 64-bit build: three channels for a
# minute with the faults whose outcome does not depend on which packets a
# rate happens to hit (garbage on every socket included: whatever the bytes,
# no damaged frame may reach the host), and a few start/stop and probe
# cycles. The long one with every fault is scripts/campaign.sh.
campaign_stage() {  # name
    local out="$BUILD/campaign-short" findings injected
    "$ROOT/scripts/campaign.sh" --seconds 60 --channels 3 --cycles 20 \
        --faults hang,stream_drop,camera_restart,http_500,http_401,rtsp_restart,garbage_all \
        --out "$out" >"$REPORTS/$1.log" 2>&1
    local rc=$?
    findings=$(grep -oE '^findings: [0-9]+' "$out/summary.txt" 2>/dev/null | awk '{print $2}')
    injected=$(awk 'NR > 1' "$out/faults.tsv" 2>/dev/null | wc -l)
    if [ "$rc" = 0 ]; then
        stage_result "$1" 1 0 0 "$injected faults injected, no findings"
    else
        sed -n '/^findings/,$p' "$out/summary.txt" 2>/dev/null | head -10
        grep -E "CRASH|HANG|failed" "$REPORTS/$1.log" | head -5
        stage_result "$1" 0 1 0 "${findings:-?} findings, see $out/summary.txt"
    fi
}

# A test peer (camera simulator, RTSP server) started with a control port on
# loopback; it writes that port to a file and ends with this script. The
# tests find it through the environment variable named.
declare -A PEER_PIDS=()
start_peer() {  # name python script env-var label
    local name=$1 python=$2 script=$3 var=$4 label=$5
    local port_file="$BUILD/$name.port"
    rm -f "$port_file"
    "$python" "$script" --control-port 0 --port-file "$port_file" --parent-pid $$ >"$BUILD/$name.log" 2>&1 &
    PEER_PIDS[$name]=$!
    for _ in $(seq 1 300); do
        [ -s "$port_file" ] && break
        sleep 0.1
    done
    if [ -s "$port_file" ]; then
        export "$var=127.0.0.1:$(cat "$port_file")"
        echo "$label at ${!var}"
    else
        echo "$label did not start (see $BUILD/$name.log)"
    fi
}

stop_peer() {  # name env-var
    local pid=${PEER_PIDS[$1]:-}
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    PEER_PIDS[$1]=
    unset "$2"
}

start_camsim() { start_peer camsim python3 "$ROOT/tools/camsim/camsim.py" HALVENCAP_CAMSIM "camera simulator"; }
stop_camsim() { stop_peer camsim HALVENCAP_CAMSIM; }
# GStreamer's RTSP server for the RTSP tests (Debian's python3 has gi).
start_rtspsrv() { start_peer rtspsrv /usr/bin/python3 "$ROOT/tools/rtspsrv/rtspsrv.py" HALVENCAP_RTSPSRV "RTSP server"; }
stop_rtspsrv() { stop_peer rtspsrv HALVENCAP_RTSPSRV; }
trap 'stop_camsim; stop_rtspsrv' EXIT

# Real encoder output for the parser tests.
export HALVENCAP_STREAMS="$BUILD/streams"
if [ -x "$ROOT/scripts/make-test-streams.sh" ]; then
    "$ROOT/scripts/make-test-streams.sh" "$HALVENCAP_STREAMS" >"$BUILD/streams.log" 2>&1 \
        || echo "stream generation failed (see $BUILD/streams.log)"
fi

# 0. How the setup chooses to run 32-bit programs.
stage_start
"$ROOT/tests/scripts/test_i386_mode.sh" >"$REPORTS/i386.log" 2>&1
read -r ip if_ < <(grep -E '^[0-9]+ passed, [0-9]+ failed' "$REPORTS/i386.log" | tail -1 | awk '{print $1, $3}')
grep -E "FAIL" "$REPORTS/i386.log"
stage_result i386 "${ip:-0}" "${if_:-1}" 0 "32-bit programs here: $I386_MODE"

# 1. Native suite.
stage_start
echo "== building native"
if build_config "$BUILD/native"; then
    (cd "$BUILD/native" && ./bin/halvencap_tests --gtest_output=xml:"$REPORTS/native.xml") >"$REPORTS/native.log" 2>&1
    tail -3 "$REPORTS/native.log"
    gtest_stage native "$REPORTS/native.xml"
else
    echo "native build failed:"; tail -30 "$BUILD/native.build.log"; stage_result native 0 1
fi

# 2. The same suite under AddressSanitizer and UBSan. One clang build serves
# this stage and the fuzzers.
stage_start
echo "== building asan and the fuzzers"
ASAN_BUILT=0
if CC=clang CXX=clang++ build_config "$BUILD/asan" -DHALVENCAP_SANITIZE=ON -DHALVENCAP_FUZZ=ON; then
    ASAN_BUILT=1
    (cd "$BUILD/asan" && ./bin/halvencap_tests --gtest_output=xml:"$REPORTS/asan.xml") >"$REPORTS/asan.log" 2>&1
    tail -3 "$REPORTS/asan.log"
    gtest_stage asan "$REPORTS/asan.xml"
else
    echo "asan build failed:"; tail -30 "$BUILD/asan.build.log"; stage_result asan 0 1
fi

# 3. Fuzz smoke: every fuzzer over its seed corpus plus a short random run.
# Longer campaigns are a separate command (scripts/fuzz.sh).
stage_start
if [ "$ASAN_BUILT" = 1 ]; then
    fp=0; ff=0
    for fz in "$BUILD"/asan/bin/fuzz_*; do
        [ -x "$fz" ] || continue
        name=$(basename "$fz"); name=${name#fuzz_}
        work="$BUILD/asan/corpus-$name"; mkdir -p "$work"
        seeds="$ROOT/tests/fuzz/corpus/$name"; [ -d "$seeds" ] || seeds=
        if "$fz" -max_total_time="${HALVENCAP_FUZZ_SECONDS:-8}" -rss_limit_mb=2048 "$work" $seeds \
                >"$REPORTS/fuzz-$name.log" 2>&1; then
            fp=$((fp + 1))
        else
            ff=$((ff + 1)); echo "fuzzer $name failed:"; tail -20 "$REPORTS/fuzz-$name.log"
        fi
    done
    stage_result fuzz "$fp" "$ff"
else
    echo "fuzzers not built (see the asan build above)"; stage_result fuzz 0 1
fi

# 4. Camera simulator self-tests.
stage_start
if [ -d "$ROOT/tools/camsim" ] && ls "$ROOT"/tools/camsim/test_*.py >/dev/null 2>&1; then
    python3 -m unittest discover -s "$ROOT/tools/camsim" -p 'test_*.py' >"$REPORTS/camsim.log" 2>&1
    rc=$?
    read -r ran failed < <(python3 - "$REPORTS/camsim.log" <<'PY'
import re, sys
text = open(sys.argv[1], errors="replace").read()
ran = sum(int(n) for n in re.findall(r"^Ran (\d+)", text, re.M))
bad = sum(int(n) for n in re.findall(r"(?:failures|errors)=(\d+)", text))
print(ran, bad)
PY
)
    [ "$rc" != 0 ] && [ "$failed" = 0 ] && failed=1
    stage_result camsim $((ran - failed)) "$failed"
fi

# 4b. RTSP server self-tests.
stage_start
if ls "$ROOT"/tools/rtspsrv/test_*.py >/dev/null 2>&1; then
    /usr/bin/python3 -m unittest discover -s "$ROOT/tools/rtspsrv" -p 'test_*.py' >"$REPORTS/rtspsrv.log" 2>&1
    rc=$?
    ran=$(grep -oE '^Ran [0-9]+' "$REPORTS/rtspsrv.log" | awk '{print $2}')
    failed=$(grep -oE '(failures|errors)=[0-9]+' "$REPORTS/rtspsrv.log" | awk -F= '{s+=$2} END {print s+0}')
    [ "$rc" != 0 ] && [ "$failed" = 0 ] && failed=1
    stage_result rtspsrv $(( ${ran:-0} - failed )) "$failed"
fi

# 4c. Fault proxy self-tests (a fake RTSP server; the proxy serves the
# robustness campaign, scripts/campaign.sh).
stage_start
if ls "$ROOT"/tools/faultproxy/test_*.py >/dev/null 2>&1; then
    /usr/bin/python3 -m unittest discover -s "$ROOT/tools/faultproxy" -p 'test_*.py' >"$REPORTS/faultproxy.log" 2>&1
    rc=$?
    ran=$(grep -oE '^Ran [0-9]+' "$REPORTS/faultproxy.log" | awk '{print $2}')
    failed=$(grep -oE '(failures|errors)=[0-9]+' "$REPORTS/faultproxy.log" | awk -F= '{s+=$2} END {print s+0}')
    [ "$rc" != 0 ] && [ "$failed" = 0 ] && failed=1
    stage_result faultproxy $(( ${ran:-0} - failed )) "$failed"
fi

# 5. 64-bit suite under wine64 (unit tests and end-to-end against the simulator).
stage_start
echo "== building win64"
if build_config "$BUILD/win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-x86_64-mingw.cmake"; then
    start_camsim
    start_rtspsrv
    export HALVENCAP_ARTIFACTS="$BUILD/artifacts-win64"
    rm -rf "$HALVENCAP_ARTIFACTS"; mkdir -p "$HALVENCAP_ARTIFACTS"
    WINEPREFIX="$HALVENCAP_WINEPREFIX64" wine_suite win64 /usr/lib/wine/wine64 "$BUILD/win64/bin" '*'
    stop_camsim
    decode_stage decode64 "$HALVENCAP_ARTIFACTS"
    # The console program records H.264 and MPEG-4 from the RTSP server.
    cli_stage cli64 "$BUILD/win64/bin" /usr/lib/wine/wine64
    stop_rtspsrv
    campaign_stage campaign64
else
    echo "win64 build failed:"; tail -30 "$BUILD/win64.build.log"; stage_result win64 0 1
fi

# 6. The shipped 32-bit build: the DLL's face, then the whole suite, the
# decode check and the console program, as for 64 bits. Only where the
# kernel cannot run i386 code (qemu emulation: slow, threads unreliable)
# does the suite shrink to the single-threaded smoke filter.
WIN32_SMOKE='*SlotCheck*:Driver*:VideoCapture*:LogLevelMap*:FindValue*:Base64*:Md5Hex*:BaslerRequest*:StreamChoices*'
WIN32_SMOKE+=':RTSP*:RTCP*:BoundedQueue*'
WIN32_SMOKE+=':JpegMediaParser*:H264RTPMediaParser*:Mpeg4RTPMediaParser*:PictureSize*:SpsReader*:MP4Parser*'
if [ "$I386_MODE" = qemu ]; then
    WIN32_FILTER="${HALVENCAP_WIN32_FILTER:-$WIN32_SMOKE}"; WIN32_NOTE="qemu-i386 emulation: smoke suite only"
else
    WIN32_FILTER="${HALVENCAP_WIN32_FILTER:-*}"; WIN32_NOTE="i386 $I386_MODE: whole suite"
fi
stage_start
echo "== building win32"
if build_config "$BUILD/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686-mingw.cmake"; then
    "$ROOT/scripts/check-dll.sh" "$BUILD/win32/bin/Halvencap.dll" >"$REPORTS/dll.log" 2>&1
    read -r dp df < <(tail -1 "$REPORTS/dll.log" | awk '{print $1, $3}')
    grep FAIL "$REPORTS/dll.log"
    stage_result dll "${dp:-0}" "${df:-1}"
    start_camsim
    start_rtspsrv
    export HALVENCAP_ARTIFACTS="$BUILD/artifacts-win32"
    rm -rf "$HALVENCAP_ARTIFACTS"; mkdir -p "$HALVENCAP_ARTIFACTS"
    # Under emulation wine32 may not come up at all on some kernels ("failed
    # to map the shared user data"): then nothing 32-bit can run here, which
    # the stage line says instead of blaming every suite.
    WINE32_STARTS=1
    if [ "$I386_MODE" = qemu ]; then
        (cd "$BUILD/win32/bin" && WINEPREFIX="$HALVENCAP_WINEPREFIX64" WINEDEBUG=err+all \
            timeout 600 "$WINE32" halvencap.exe --help) >"$REPORTS/wine32-start.log" 2>&1 || WINE32_STARTS=0
    fi
    if [ "$WINE32_STARTS" = 1 ]; then
        WINEPREFIX="$HALVENCAP_WINEPREFIX64" wine_suite win32 "$WINE32" "$BUILD/win32/bin" "$WIN32_FILTER" "$WIN32_NOTE"
    else
        echo "wine32 does not start under qemu-i386 here:"; grep -m2 -E "err:|wine:" "$REPORTS/wine32-start.log"
        stage_result win32 0 0 1 "not run: wine32 cannot start under qemu-i386 on this kernel"
    fi
    stop_camsim
    if [ "$I386_MODE" != qemu ]; then
        decode_stage decode32 "$HALVENCAP_ARTIFACTS"
        cli_stage cli32 "$BUILD/win32/bin" "$WINE32"
    fi
    stop_rtspsrv
else
    echo "win32 build failed:"; tail -30 "$BUILD/win32.build.log"; stage_result win32 0 1
fi

echo
for l in "${STAGE_LINES[@]}"; do echo "$l"; done
echo "whole run: $(( $(date +%s) - RUN_T0 )) s"
echo "$TOTAL_PASSED passed, $TOTAL_FAILED failed"
[ "$TOTAL_FAILED" = 0 ]
