#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian
# packages, and prepares Wine (64-bit prefix, 32-bit under qemu-i386).
# Idempotent: safe to run again.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev llvm
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    wine wine64 wine32:i386 qemu-user
    googletest libbenchmark-dev
    python3 ffmpeg procps
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

# 32-bit Windows programs run under wine32, which itself needs qemu-i386 here.
if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
fi
if [ -e /proc/sys/fs/binfmt_misc/register ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386-halvencap ] \
        && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    log "registering qemu-i386 for i386 ELF programs"
    printf ':qemu-i386-halvencap:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:/usr/bin/qemu-i386:F\n' \
        > /proc/sys/fs/binfmt_misc/register || log "binfmt registration failed (already there?)"
fi

export WINEDEBUG=-all
WINE64_PREFIX="${HALVENCAP_WINEPREFIX64:-$ROOT/build/wine64-prefix}"
if [ ! -f "$WINE64_PREFIX/system.reg" ]; then
    log "creating the 64-bit Wine prefix"
    mkdir -p "$WINE64_PREFIX"
    WINEPREFIX="$WINE64_PREFIX" WINEARCH=win64 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX="$WINE64_PREFIX" wineserver -w 2>/dev/null || true
fi
log "ready"
