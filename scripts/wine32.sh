#!/usr/bin/env bash
# Runs a 32-bit Windows program under wine32 the way this machine runs i386
# code best (see scripts/i386-mode.sh): straight, in a private binfmt_misc
# instance that hides a qemu-i386 entry, or under qemu where nothing else
# works. The mode comes from $HALVENCAP_I386_MODE or build/i386-mode.
#   scripts/wine32.sh PROGRAM.exe [ARGS...]
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mode="${HALVENCAP_I386_MODE:-$(cat "$ROOT/build/i386-mode" 2>/dev/null || echo native)}"
if [ "$mode" = private ]; then
    exec unshare -U -r -m sh -c 'mount -t binfmt_misc none /proc/sys/fs/binfmt_misc && exec wine "$@"' wine32 "$@"
fi
exec wine "$@"
