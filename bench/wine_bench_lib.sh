# Shared by the Wine benchmarks (sourced): the camera simulator, a Wine
# server of the benchmark's own prefix started here so that its pid is
# certain, and CPU readings from /proc.
#
# Expects ROOT, WORK (a scratch directory) and BITS (64 or 32) to be set.
# Sets WINE (the command running a Windows program of that bitness),
# WINEPREFIX, SERVER_BIN; SIM and SERVER hold the pids of what it started.

export WINEDEBUG=-all
export WINEPREFIX="${HALVENCAP_BENCH_PREFIX:-$ROOT/build/bench-prefix}"
case "$BITS" in
    64) WINE=(/usr/lib/wine/wine64) ;;
    32) WINE=("$ROOT/scripts/wine32.sh") ;;
    *) echo "HALVENCAP_BITS must be 64 or 32"; exit 2 ;;
esac
SERVER_BIN=/usr/lib/wine/wineserver64
[ -x "$SERVER_BIN" ] || SERVER_BIN=/usr/lib/wine/wineserver32
SIM=
SERVER=

stop_server() {
    if [ -n "$SERVER" ]; then
        "$SERVER_BIN" -k >/dev/null 2>&1 || true
        wait "$SERVER" 2>/dev/null || true
        SERVER=
    fi
}

bench_cleanup() {
    stop_server
    [ -n "$SIM" ] && { kill "$SIM" 2>/dev/null; wait "$SIM" 2>/dev/null; }
    rm -rf "$WORK"
}

ensure_prefix() {
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    echo "creating the benchmark's Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    WINEARCH=win64 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
    "$SERVER_BIN" -w 2>/dev/null || true
}

# A fresh server for this prefix, with the prefix's own processes
# (services, explorer) already up, so that neither their start nor another
# prefix's work is charged to a run.
start_server() {
    "$SERVER_BIN" -k >/dev/null 2>&1 || true
    sleep 0.5
    "$SERVER_BIN" -f -p >/dev/null 2>&1 &
    SERVER=$!
    # Wine names the server's directory after the prefix's device and inode.
    local socket
    socket="/tmp/.wine-$(id -u)/server-$(printf '%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")/socket"
    for _ in $(seq 100); do
        [ -S "$socket" ] && break
        sleep 0.1
    done
    (cd /tmp && "${WINE[@]}" cmd /c exit >/dev/null 2>&1) || true
    sleep 2
    kill -0 "$SERVER" 2>/dev/null || { echo "the Wine server for $WINEPREFIX did not stay up"; exit 1; }
}

start_sim() {
    python3 "$ROOT/tools/camsim/camsim.py" --control-port 0 --port-file "$WORK/port" --parent-pid $$ >"$WORK/sim.log" 2>&1 &
    SIM=$!
    for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.1; done
    CONTROL=$(cat "$WORK/port")
}

sim_get() {  # path: the control server's answer
    python3 -c 'import sys, urllib.request; print(urllib.request.urlopen("http://127.0.0.1:%s%s" % (sys.argv[1], sys.argv[2])).read().decode(), end="")' "$CONTROL" "$1"
}

new_camera() {  # query: prints "id port"
    sim_get "/new?$1" | tr ' ' '\n' | awk -F= '$1 == "id" {i = $2} $1 == "port" {p = $2} END {print i, p}'
}

cpu_of() {  # pid: user+system CPU seconds so far
    awk '{printf "%.3f\n", ($14+$15)/100}' "/proc/$1/stat" 2>/dev/null || echo 0
}
