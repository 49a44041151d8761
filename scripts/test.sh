#!/usr/bin/env bash
# Builds every configuration and runs every test stage:
#   native (g++), sanitizers (clang ASan+UBSan), fuzz smoke (libFuzzer),
#   simulator, RTSP server and fault proxy self-tests, the 64-bit suite
#   under wine64 with its decode and console program checks and a short
#   robustness campaign, and the same for the shipped 32-bit build under
#   wine32 (the whole suite where the kernel runs i386 code, a smoke suite
#   where only emulation can). Each stage line gives its wall time.
# Ends with one line "N passed, M failed" over all stages.
#
# HALVENCAP_STAGES=a,b,... runs only the stages named (default: all). Names:
# packages, i386, native, asan, fuzz, camsim, rtspsrv, faultproxy, fieldcam, common,
# logcat, docs, win64 (with decode64), cli64, interop64, campaign64, dll,
# win32 (with decode32), cli32, interop32, release.
#
# Where the setup could not install wine32 (build/wine32-state), or wine32
# does not start here, every stage that needs it says "not run: <reason>"
# and the rest run. A stage that ran no test and does not say why fails.
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

STAGES="${HALVENCAP_STAGES:-all}"
wanted() {  # name...: true when any of them is to run
    local n
    [ "$STAGES" = all ] && return 0
    for n in "$@"; do
        case ",$STAGES," in *",$n,"*) return 0 ;; esac
    done
    return 1
}

# Why 32-bit programs cannot run here; empty while they can. Known from the
# setup; wine32 starting at all is tried once the 32-bit build is there.
WINE32_REASON=""
case "$(cat "$BUILD/wine32-state" 2>/dev/null || echo missing)" in
    ok) ;;
    unavailable:*) WINE32_REASON="$(sed 's/^unavailable: *//' "$BUILD/wine32-state")" ;;
    *) [ "$(dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null)" = "install ok installed" ] \
           || WINE32_REASON="wine32:i386 is not installed" ;;
esac
[ -n "$WINE32_REASON" ] && echo "== 32-bit programs cannot run here: $WINE32_REASON"

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
    # Nothing run is no evidence of anything: only a stage that says why it
    # did not run may pass that way.
    if [ $((p + f)) = 0 ] && [ "${note#not run: }" = "$note" ]; then
        f=1; note="ran no test${note:+; $note}"
    fi
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

stage_not_run() {  # name reason
    stage_start
    stage_result "$1" 0 0 0 "not run: $2"
}

# Stages whose scripts end with "N passed, M failed".
script_stage() {  # name log command... ; extra note in $SCRIPT_NOTE
    local name=$1 log=$2 sp sf
    shift 2
    "$@" >"$log" 2>&1
    local rc=$?
    read -r sp sf < <(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -1 | awk '{print $1, $3}')
    grep -E "^FAIL" "$log" | head -10
    [ "$rc" != 0 ] && [ "${sf:-0}" = 0 ] && sf=1
    stage_result "$name" "${sp:-0}" "${sf:-1}" 0 "${SCRIPT_NOTE:-}"
    SCRIPT_NOTE=
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
        # A parameterised suite's name has a slash: not a folder of the log.
        local suite_log="$log.${suite//\//_}"
        (cd "$bin" && timeout 600 $wine halvencap_tests.exe --gtest_filter="$suite.*" \
            --gtest_output=xml:"Z:${xml//\//\\}") >"$suite_log" 2>&1
        if [ -s "$xml" ]; then
            read -r a b c < <(python3 "$ROOT/scripts/gtest_summary.py" "$xml")
            p=$((p + a)); f=$((f + b)); s=$((s + c))
            [ "$b" != 0 ] && grep -E "Failure|FAILED" "$suite_log" | head -5
        else
            f=$((f + 1)); echo "suite $suite crashed:"; grep -E "Unhandled|RUN" "$suite_log" | tail -2
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
# One Wine server for all the Wine stages: a server that exits between two
# Wine programs (it does 3 s after the last one ends) can drop the next
# one's connection as it starts ("wine client error:0: recvmsg: Connection
# reset by peer"). Not in the private binfmt mode, whose programs run in a
# user namespace of their own.
WINESERVER_HELD=
hold_wineserver() {
    [ -n "$WINESERVER_HELD" ] && return 0
    [ "${I386_MODE:-}" = private ] && return 0
    WINEPREFIX="$HALVENCAP_WINEPREFIX64" wineserver -p 2>/dev/null
    WINESERVER_HELD=1
}
release_wineserver() {
    [ -n "$WINESERVER_HELD" ] && WINEPREFIX="$HALVENCAP_WINEPREFIX64" wineserver -k 2>/dev/null
    WINESERVER_HELD=
}
trap 'stop_camsim; stop_rtspsrv; release_wineserver' EXIT

# Real encoder output for the parser tests.
export HALVENCAP_STREAMS="$BUILD/streams"
make_streams() {
    [ -x "$ROOT/scripts/make-test-streams.sh" ] || return 0
    "$ROOT/scripts/make-test-streams.sh" "$HALVENCAP_STREAMS" >"$BUILD/streams.log" 2>&1 \
        || echo "stream generation failed (see $BUILD/streams.log)"
}

# How the setup installs packages when the mirror misbehaves, and how it
# chooses to run 32-bit programs: decision tables and live probes.
packages_stage() {
    stage_start
    script_stage packages "$REPORTS/packages.log" "$ROOT/tests/scripts/test_packages.sh"
}

i386_stage() {
    stage_start
    SCRIPT_NOTE="32-bit programs here: $I386_MODE" \
        script_stage i386 "$REPORTS/i386.log" "$ROOT/tests/scripts/test_i386_mode.sh"
}

native_stage() {
    stage_start
    echo "== building native"
    if build_config "$BUILD/native"; then
        (cd "$BUILD/native" && ./bin/halvencap_tests --gtest_output=xml:"$REPORTS/native.xml") >"$REPORTS/native.log" 2>&1
        tail -3 "$REPORTS/native.log"
        gtest_stage native "$REPORTS/native.xml"
    else
        echo "native build failed:"; tail -30 "$BUILD/native.build.log"; stage_result native 0 1
    fi
}

# The same suite under AddressSanitizer and UBSan, and a fuzz smoke run:
# every fuzzer over its seed corpus plus a short random run (longer
# campaigns: scripts/fuzz.sh). One clang build serves both.
asan_fuzz_stages() {
    stage_start
    echo "== building asan and the fuzzers"
    if ! CC=clang CXX=clang++ build_config "$BUILD/asan" -DHALVENCAP_SANITIZE=ON -DHALVENCAP_FUZZ=ON; then
        echo "asan build failed:"; tail -30 "$BUILD/asan.build.log"
        wanted asan && stage_result asan 0 1
        wanted fuzz && stage_result fuzz 0 1 0 "fuzzers not built (see the asan build)"
        return
    fi
    if wanted asan; then
        (cd "$BUILD/asan" && ./bin/halvencap_tests --gtest_output=xml:"$REPORTS/asan.xml") >"$REPORTS/asan.log" 2>&1
        tail -3 "$REPORTS/asan.log"
        gtest_stage asan "$REPORTS/asan.xml"
    fi
    wanted fuzz || return
    stage_start
    local fp=0 ff=0 fz name work seeds
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
}

# Self-tests of a test peer written in Python (unittest).
python_stage() {  # name python dir
    local name=$1 python=$2 dir=$3 rc ran failed
    stage_start
    ls "$dir"/test_*.py >/dev/null 2>&1 || { stage_result "$name" 0 0 0 "not run: no self-tests in $dir"; return; }
    "$python" -m unittest discover -s "$dir" -p 'test_*.py' >"$REPORTS/$name.log" 2>&1
    rc=$?
    ran=$(grep -oE '^Ran [0-9]+' "$REPORTS/$name.log" | awk '{s+=$2} END {print s+0}')
    failed=$(grep -oE '(failures|errors)=[0-9]+' "$REPORTS/$name.log" | awk -F= '{s+=$2} END {print s+0}')
    [ "$rc" != 0 ] && [ "$failed" = 0 ] && failed=1
    stage_result "$name" $((ran - failed)) "$failed"
}

# Recording from real RTSP peers: VLC's server and the field camera
# profiles, one row per peer and profile (scripts/interop.sh starts them).
interop_stage() {  # name bin-dir
    script_stage "$1" "$REPORTS/$1.log" "$ROOT/scripts/interop.sh" "$2"
}

# The integrator's documentation: every log format in src/ is in the log
# line catalogue (tools/logcatalogue.py --missing prints the rows to add),
# and the pages render with every link and anchor resolving.
docs_stages() {
    stage_start
    python3 "$ROOT/tests/scripts/test_log_catalogue.py" >"$REPORTS/logcat.log" 2>&1
    local lp lf
    lp=$(grep -oE '^Ran [0-9]+' "$REPORTS/logcat.log" | awk '{print $2}')
    if tail -1 "$REPORTS/logcat.log" | grep -q '^OK'; then
        stage_result logcat "${lp:-0}" 0
    else
        grep -E '^(FAIL|ERROR):|^\| ' "$REPORTS/logcat.log" | head -10
        lf=$(grep -oE '(failures|errors)=[0-9]+' "$REPORTS/logcat.log" | awk -F= '{s += $2} END {print s + 0}')
        [ "${lf:-0}" = 0 ] && lf=1
        stage_result logcat $(( ${lp:-0} > lf ? ${lp:-0} - lf : 0 )) "$lf" 0 "tools/logcatalogue.py --missing prints the rows to add"
    fi
    stage_start
    script_stage docs "$REPORTS/docs.log" "$ROOT/scripts/docs.sh"
}

# The 64-bit suite under wine64 (unit tests and end-to-end against the
# simulator) with its decode check, the console program (H.264 and MPEG-4
# recorded from the RTSP server) and the short campaign.
win64_stages() {
    stage_start
    echo "== building win64"
    if ! build_config "$BUILD/win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-x86_64-mingw.cmake"; then
        echo "win64 build failed:"; tail -30 "$BUILD/win64.build.log"; stage_result win64 0 1
        return
    fi
    start_rtspsrv
    if wanted win64 decode64; then
        start_camsim
        export HALVENCAP_ARTIFACTS="$BUILD/artifacts-win64"
        rm -rf "$HALVENCAP_ARTIFACTS"; mkdir -p "$HALVENCAP_ARTIFACTS"
        WINEPREFIX="$HALVENCAP_WINEPREFIX64" wine_suite win64 /usr/lib/wine/wine64 "$BUILD/win64/bin" '*'
        stop_camsim
        decode_stage decode64 "$HALVENCAP_ARTIFACTS"
    fi
    wanted cli64 && cli_stage cli64 "$BUILD/win64/bin" /usr/lib/wine/wine64
    stop_rtspsrv
    wanted interop64 && interop_stage interop64 "$BUILD/win64/bin"
    wanted campaign64 && campaign_stage campaign64
}

# Whether wine32 comes up at all, with the program that needs no driver: a
# prefix made before wine32 was installed, or qemu-i386 on some kernels
# ("failed to map the shared user data"), make every 32-bit program fail;
# then the stage lines say so instead of blaming every suite.
probe_wine32() {  # bin-dir
    [ -n "$WINE32_REASON" ] && return
    local log="$REPORTS/wine32-start.log" first
    (cd "$1" && WINEPREFIX="$HALVENCAP_WINEPREFIX64" WINEDEBUG=err+all \
        timeout 600 "$WINE32" halvencap.exe --help) >"$log" 2>&1 && return
    first=$(grep -m1 -E "err:|wine:|could not" "$log" | tr -d '\r')
    if [ "$I386_MODE" = qemu ]; then
        WINE32_REASON="wine32 cannot start under qemu-i386 on this kernel${first:+ ($first)}"
    else
        WINE32_REASON="wine32 does not start here${first:+ ($first)}"
    fi
    echo "== 32-bit programs cannot run here: $WINE32_REASON"
}

# The shipped 32-bit build: the DLL's face (no Wine needed), then the whole
# suite, the decode check and the console program, as for 64 bits. Only
# where the kernel cannot run i386 code (qemu emulation: slow, threads
# unreliable) does the suite shrink to the single-threaded smoke filter.
WIN32_SMOKE='*SlotCheck*:Driver*:VideoCapture*:LogLevelMap*:FindValue*:Base64*:Md5Hex*:BaslerRequest*:StreamChoices*'
WIN32_SMOKE+=':RTSP*:RTCP*:BoundedQueue*'
WIN32_SMOKE+=':JpegMediaParser*:H264RTPMediaParser*:Mpeg4RTPMediaParser*:PictureSize*:SpsReader*:MP4Parser*'
win32_stages() {
    local filter note
    if [ "$I386_MODE" = qemu ]; then
        filter="${HALVENCAP_WIN32_FILTER:-$WIN32_SMOKE}"; note="qemu-i386 emulation: smoke suite only"
    else
        filter="${HALVENCAP_WIN32_FILTER:-*}"; note="i386 $I386_MODE: whole suite"
    fi
    stage_start
    echo "== building win32"
    if ! build_config "$BUILD/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686-mingw.cmake"; then
        echo "win32 build failed:"; tail -30 "$BUILD/win32.build.log"; stage_result win32 0 1
        return
    fi
    if wanted dll; then
        script_stage dll "$REPORTS/dll.log" "$ROOT/scripts/check-dll.sh" "$BUILD/win32/bin/Halvencap.dll"
    fi
    wanted win32 decode32 cli32 interop32 || return
    probe_wine32 "$BUILD/win32/bin"
    if [ -n "$WINE32_REASON" ]; then
        wanted win32 decode32 && stage_not_run win32 "$WINE32_REASON"
        wanted win32 decode32 && stage_not_run decode32 "$WINE32_REASON"
        wanted cli32 && stage_not_run cli32 "$WINE32_REASON"
        wanted interop32 && stage_not_run interop32 "$WINE32_REASON"
        return
    fi
    start_rtspsrv
    if wanted win32 decode32; then
        start_camsim
        export HALVENCAP_ARTIFACTS="$BUILD/artifacts-win32"
        rm -rf "$HALVENCAP_ARTIFACTS"; mkdir -p "$HALVENCAP_ARTIFACTS"
        WINEPREFIX="$HALVENCAP_WINEPREFIX64" wine_suite win32 "$WINE32" "$BUILD/win32/bin" "$filter" "$note"
        stop_camsim
        if [ "$I386_MODE" = qemu ]; then
            stage_not_run decode32 "the smoke suite under qemu-i386 records nothing"
        else
            decode_stage decode32 "$HALVENCAP_ARTIFACTS"
        fi
    fi
    if wanted cli32; then
        if [ "$I386_MODE" = qemu ]; then
            stage_not_run cli32 "threaded programs are not reliable under qemu-i386"
        else
            cli_stage cli32 "$BUILD/win32/bin" "$WINE32"
        fi
    fi
    stop_rtspsrv
    if wanted interop32; then
        if [ "$I386_MODE" = qemu ]; then
            stage_not_run interop32 "threaded programs are not reliable under qemu-i386"
        else
            interop_stage interop32 "$BUILD/win32/bin"
        fi
    fi
}

# The release bundle, built from scratch as scripts/release.sh makes it for
# integrators, then unpacked elsewhere and checked as they would receive it.
release_stage() {
    local out="$BUILD/release-check" bundle
    stage_start
    echo "== building the release bundle"
    rm -rf "$out"
    "$ROOT/scripts/release.sh" --allow-dirty --out "$out" >"$REPORTS/release-build.log" 2>&1
    bundle=$(sed -n 's/^bundle: //p' "$REPORTS/release-build.log" | tail -1)
    if [ -z "$bundle" ] || [ ! -f "$bundle" ]; then
        echo "release build failed:"; tail -20 "$REPORTS/release-build.log"
        stage_result release 0 1
        return
    fi
    grep -E "^WARNING" "$REPORTS/release-build.log"
    probe_wine32 "$BUILD/release/bin"
    SCRIPT_NOTE="$(basename "$bundle")${WINE32_REASON:+; console program not run: $WINE32_REASON}" \
        HALVENCAP_WINE32_REASON="$WINE32_REASON" \
        script_stage release "$REPORTS/release.log" "$ROOT/tests/scripts/test_release.sh" "$bundle"
}

if wanted native asan win64 win32 decode64 decode32; then make_streams; fi
wanted packages && packages_stage
wanted i386 && i386_stage
wanted native && native_stage
wanted asan fuzz && asan_fuzz_stages
wanted camsim && python_stage camsim python3 "$ROOT/tools/camsim"
wanted rtspsrv && python_stage rtspsrv /usr/bin/python3 "$ROOT/tools/rtspsrv"
# A fake RTSP server; the proxy serves the robustness campaign.
wanted faultproxy && python_stage faultproxy /usr/bin/python3 "$ROOT/tools/faultproxy"
# The scripted field camera behind the interop stages.
wanted fieldcam && python_stage fieldcam /usr/bin/python3 "$ROOT/tools/fieldcam"
# What the test peers share (their control server).
wanted common && python_stage common python3 "$ROOT/tools/common"
wanted logcat docs && docs_stages
wanted win64 decode64 cli64 interop64 campaign64 && { hold_wineserver; win64_stages; }
wanted dll win32 decode32 cli32 interop32 && { hold_wineserver; win32_stages; }
wanted release && release_stage

echo
for l in "${STAGE_LINES[@]}"; do echo "$l"; done
[ ${#STAGE_LINES[@]} = 0 ] && { echo "no stage named in HALVENCAP_STAGES=$STAGES"; TOTAL_FAILED=$((TOTAL_FAILED + 1)); }
echo "whole run: $(( $(date +%s) - RUN_T0 )) s"
echo "$TOTAL_PASSED passed, $TOTAL_FAILED failed"
[ "$TOTAL_FAILED" = 0 ]
