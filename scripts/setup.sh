#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian
# packages, and prepares Wine: a 64-bit prefix, and 32-bit programs run by
# the kernel itself where it can (qemu-i386 only where it cannot; see
# scripts/i386-mode.sh).
# Idempotent: safe to run again.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export DEBIAN_FRONTEND=noninteractive

log() { echo "[setup] $*"; }

mkdir -p "$ROOT/build"
# Packages: survives a mirror caught mid-sync; the 32-bit side's outcome
# goes to build/wine32-state.
"$ROOT/scripts/packages.sh" install || { log "packages could not be installed"; exit 1; }

# 32-bit Windows programs run under wine32: natively where the kernel runs
# i386 code, emulated only where it cannot. The mode is kept in
# build/i386-mode for scripts/wine32.sh.
mkdir -p "$ROOT/build"
I386_MODE="$("$ROOT/scripts/i386-mode.sh" probe "$ROOT/build/i386-mode")"
log "32-bit programs: $I386_MODE"

export WINEDEBUG=-all
WINE64_PREFIX="${HALVENCAP_WINEPREFIX64:-$ROOT/build/wine64-prefix}"
if [ ! -f "$WINE64_PREFIX/system.reg" ]; then
    log "creating the 64-bit Wine prefix"
    mkdir -p "$WINE64_PREFIX"
    WINEPREFIX="$WINE64_PREFIX" WINEARCH=win64 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX="$WINE64_PREFIX" wineserver -w 2>/dev/null || true
fi
# A prefix made before wine32 was there has no 32-bit side: every 32-bit
# program then fails with "could not load kernel32.dll".
if [ "$(cat "$ROOT/build/wine32-state" 2>/dev/null)" = ok ] && [ "$I386_MODE" != qemu ] \
        && [ ! -f "$WINE64_PREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    log "giving the Wine prefix its 32-bit side"
    WINEPREFIX="$WINE64_PREFIX" wine wineboot -u >/dev/null 2>&1 || true
    WINEPREFIX="$WINE64_PREFIX" wineserver -w 2>/dev/null || true
fi
log "ready"
