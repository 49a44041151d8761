#!/usr/bin/env bash
# Fuzz campaign, separate from the test command: every libFuzzer target under
# ASan/UBSan for SECONDS each (default 600), over its seed corpus in
# tests/fuzz/corpus/<target>/ plus a working corpus in build/asan. Prints the
# executions and the outcome per target; exit 1 if any target found a crash.
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
bad=0
printf '%-24s %14s  %s\n' target executions outcome
for t in "${targets[@]}"; do
    work="$BUILD/corpus-$t"; mkdir -p "$work" "$BUILD/findings-$t"
    seeds="$ROOT/tests/fuzz/corpus/$t"; [ -d "$seeds" ] || seeds=
    log="$BUILD/fuzz-$t.log"
    if "$BUILD/bin/fuzz_$t" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 \
            -artifact_prefix="$BUILD/findings-$t/" "$work" $seeds >"$log" 2>&1; then
        outcome="no finding"
    else
        outcome="FINDING (see $log, $BUILD/findings-$t/)"; bad=1
    fi
    execs=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
    printf '%-24s %14s  %s\n' "$t" "${execs:-?}" "$outcome"
done
exit $bad
