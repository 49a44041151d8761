#!/usr/bin/env bash
# Fuzz campaign, separate from the test command: every libFuzzer target under
# ASan/UBSan for SECONDS each (default 600), over its seed corpus in
# tests/fuzz/corpus/<target>/ plus a working corpus in build/asan. Prints the
# executions and the outcome per target; exit 1 if any target found a crash.
# HALVENCAP_FUZZ_JOBS=N runs N targets at a time (default 1).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_EACH="${1:-600}"; shift || true
BUILD="$ROOT/build/asan"
"$ROOT/scripts/setup.sh" >/dev/null || { echo "setup failed"; exit 1; }
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DHALVENCAP_SANITIZE=ON -DHALVENCAP_FUZZ=ON >/dev/null && ninja -C "$BUILD" >/dev/null \
    || { echo "build failed"; exit 1; }
targets=("$@")
if [ ${#targets[@]} = 0 ]; then
    for fz in "$BUILD"/bin/fuzz_*; do targets+=("$(basename "${fz#"$BUILD"/bin/fuzz_}")"); done
fi
JOBS="${HALVENCAP_FUZZ_JOBS:-1}"
RESULTS="$BUILD/fuzz-results"; rm -rf "$RESULTS"; mkdir -p "$RESULTS"
run_target() {  # target: writes "<target> <executions> <outcome>" to its result file
    local t=$1 work="$BUILD/corpus-$1" seeds="$ROOT/tests/fuzz/corpus/$1" log="$BUILD/fuzz-$1.log" outcome execs
    mkdir -p "$work" "$BUILD/findings-$t"
    [ -d "$seeds" ] || seeds=
    if "$BUILD/bin/fuzz_$t" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 \
            -artifact_prefix="$BUILD/findings-$t/" "$work" $seeds >"$log" 2>&1; then
        outcome="no finding"
    else
        outcome="FINDING (see $log, $BUILD/findings-$t/)"
    fi
    execs=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
    printf '%-24s %14s  %s\n' "$t" "${execs:-?}" "$outcome" >"$RESULTS/$t"
}
for t in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do sleep 1; done
    run_target "$t" &
done
wait
printf '%-24s %14s  %s\n' target executions outcome
bad=0
for t in "${targets[@]}"; do
    cat "$RESULTS/$t"
    grep -q FINDING "$RESULTS/$t" && bad=1
done
exit $bad
