#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian
# packages, and prepares Wine: a 64-bit prefix, and 32-bit programs run by
# the kernel itself where it can (qemu-i386 only where it cannot; see
# scripts/i386-mode.sh).
# Idempotent: safe to run again.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev llvm
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    wine wine64 wine32:i386
    googletest libbenchmark-dev
    python3 ffmpeg procps util-linux
    gstreamer1.0-tools gstreamer1.0-rtsp gir1.2-gst-rtsp-server-1.0 python3-gi
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
    gstreamer1.0-plugins-bad gstreamer1.0-libav
)

log() { echo "[setup] $*"; }

need_install=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture"
    dpkg --add-architecture i386
    need_install=1
fi
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        need_install=1
        break
    fi
done
if [ "$need_install" = 1 ]; then
    log "installing packages"
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${PACKAGES[@]}"
else
    log "packages already installed"
fi

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
log "ready"
