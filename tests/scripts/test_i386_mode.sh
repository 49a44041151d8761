#!/usr/bin/env bash
# Checks how the setup chooses to run 32-bit programs: the decision table,
# the probe on this machine, and the probe where a binfmt_misc entry takes
# over i386 programs. That entry lives in a private binfmt_misc instance of
# this test, so nothing else on the machine sees it.
# Ends with the line "N passed, M failed".
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
MODE="$ROOT/scripts/i386-mode.sh"
PASSED=0
FAILED=0
check() {  # name actual expected
    if [ "$2" = "$3" ]; then PASSED=$((PASSED + 1)); echo "PASS $1"
    else FAILED=$((FAILED + 1)); echo "FAIL $1: got '$2', expected '$3'"; fi
}

# entry direct private -> mode register
while read -r entry direct private want; do
    check "decide entry=$entry direct=$direct private=$private" \
        "$("$MODE" decide "$entry" "$direct" "$private")" "${want//_/ }"
done <<'TABLE'
no ok - native_no
no fail - qemu_yes
yes - ok private_no
yes - fail qemu_no
TABLE

WORK="$(mktemp -d /tmp/i386-mode-test.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT

# On this machine, with whatever binfmt entries it has: never qemu where the
# kernel runs i386 code itself.
if unshare -U -r -m sh -c 'mount -t binfmt_misc none /proc/sys/fs/binfmt_misc' 2>/dev/null; then
    "$MODE" write-probe "$WORK/exit42"
    unshare -U -r -m sh -c "mount -t binfmt_misc none /proc/sys/fs/binfmt_misc && exec '$WORK/exit42'"
    kernel_runs_i386=$?
    mode="$("$MODE" probe "$WORK/mode-here" 2>/dev/null)"
    if [ "$kernel_runs_i386" = 42 ]; then
        check "this machine runs i386 code without emulation" "$mode" "$( [ -n "$(grep -lx enabled /proc/sys/fs/binfmt_misc/*i386* 2>/dev/null)" ] && echo private || echo native)"
    else
        check "this kernel cannot run i386 code: emulation" "$mode" qemu
    fi

    # A stand-in for qemu-i386 that would make every i386 program fail.
    printf '#!/bin/sh\nexit 7\n' > "$WORK/fake-qemu-i386"
    chmod +x "$WORK/fake-qemu-i386"
    if [ "$kernel_runs_i386" = 42 ]; then
        got="$(unshare -U -r -m sh -c "
            mount -t binfmt_misc none /proc/sys/fs/binfmt_misc || exit 1
            printf ':fake-i386:M::\\\\x7fELF\\\\x01\\\\x01\\\\x01\\\\x00\\\\x00\\\\x00\\\\x00\\\\x00\\\\x00\\\\x00\\\\x00\\\\x00\\\\x02\\\\x00\\\\x03\\\\x00:\\\\xff\\\\xff\\\\xff\\\\xff\\\\xff\\\\xfe\\\\xfe\\\\x00\\\\xff\\\\xff\\\\xff\\\\xff\\\\xff\\\\xff\\\\xff\\\\xff\\\\xfe\\\\xff\\\\xff\\\\xff:$WORK/fake-qemu-i386:F\n' > /proc/sys/fs/binfmt_misc/register || exit 1
            '$WORK/exit42'; echo \"intercepted=\$?\" >&2
            '$MODE' probe '$WORK/mode-entry' 2>/dev/null" 2>"$WORK/err")"
        check "an intercepting entry is really there" "$(grep -o 'intercepted=[0-9]*' "$WORK/err")" "intercepted=7"
        check "an i386 entry is hidden, not used, where the kernel runs i386" "$got" private
        check "the mode is kept for the 32-bit commands" "$(cat "$WORK/mode-entry" 2>/dev/null)" private
    fi
else
    echo "SKIP live probe: no private binfmt_misc instance on this kernel"
fi

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" = 0 ]
