#!/usr/bin/env bash
# How this machine runs 32-bit (i386) Linux programs, and with them wine32
# and the shipped 32-bit DLL:
#   native   the kernel runs i386 code and nothing intercepts it
#   private  the kernel runs i386 code, but a binfmt_misc entry (qemu-i386)
#            would take it over; 32-bit commands run in a private
#            binfmt_misc instance where that entry does not exist
#   qemu     the kernel cannot run i386 code: qemu-i386 user emulation
#            (slow; threaded programs are not reliable under it)
#
#   scripts/i386-mode.sh probe [STATE_FILE]
#       probes the machine, registers qemu-i386 only in the qemu case,
#       prints the mode and writes it to STATE_FILE (default build/i386-mode)
#   scripts/i386-mode.sh write-probe PATH
#       writes the probe program (exit code 42 where i386 code runs)
#   scripts/i386-mode.sh decide ENTRY DIRECT PRIVATE
#       the decision alone, from observations given as words (for tests):
#       ENTRY yes|no (an i386 binfmt entry is active), DIRECT ok|fail|-
#       (the probe run straight), PRIVATE ok|fail|- (the probe run in a
#       private binfmt_misc instance); prints "MODE REGISTER" where
#       REGISTER is yes when qemu-i386 must be registered
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BINFMT=/proc/sys/fs/binfmt_misc
ENTRY_NAME=qemu-i386-halvencap

decide() {  # entry direct private
    local entry=$1 direct=$2 private=$3
    if [ "$entry" = no ]; then
        if [ "$direct" = ok ]; then echo "native no"; else echo "qemu yes"; fi
        return
    fi
    # An entry takes every i386 program, so a direct run says nothing about
    # the kernel; only a run where the entry is hidden does.
    if [ "$private" = ok ]; then echo "private no"; else echo "qemu no"; fi
}

# The smallest i386 ELF program: exit(42) through int 0x80. No libc, no
# loader, so only the kernel (or an emulator) can run it.
write_probe() {  # path
    python3 - "$1" <<'PY'
import struct, sys
code = bytes([0xB8, 1, 0, 0, 0,      # mov eax, 1 (exit)
              0xBB, 42, 0, 0, 0,     # mov ebx, 42
              0xCD, 0x80])           # int 0x80
base = 0x08048000
entry = base + 52 + 32
ehdr = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
ehdr += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, entry, 52, 0, 0, 52, 32, 1, 0, 0, 0)
size = 52 + 32 + len(code)
phdr = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
with open(sys.argv[1], "wb") as f:
    f.write(ehdr + phdr + code)
PY
    chmod +x "$1"
}

# Enabled binfmt_misc entries that would take an i386 ELF program.
i386_entries() {
    local e
    [ -d "$BINFMT" ] || return 0
    for e in "$BINFMT"/*; do
        [ -f "$e" ] || continue
        case "$(basename "$e")" in register|status) continue ;; esac
        grep -qx enabled "$e" 2>/dev/null || continue
        grep -q "^interpreter .*i386" "$e" 2>/dev/null && basename "$e"
    done
}

run_probe() {  # how path -> ok|fail
    local how=$1 path=$2 rc
    if [ "$how" = direct ]; then
        timeout 20 "$path" >/dev/null 2>&1
    else
        timeout 20 unshare -U -r -m sh -c "mount -t binfmt_misc none $BINFMT && exec '$path'" >/dev/null 2>&1
    fi
    rc=$?
    if [ "$rc" = 42 ]; then echo ok; else echo fail; fi
}

register_qemu() {
    [ -e "$BINFMT/$ENTRY_NAME" ] && return 0
    printf ':%s:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:/usr/bin/qemu-i386:F\n' \
        "$ENTRY_NAME" > "$BINFMT/register"
}

probe() {  # state-file
    local state=$1 probe_bin entries entry direct=- private=- decision mode register
    mkdir -p "$(dirname "$state")"
    if [ ! -e "$BINFMT/register" ]; then
        mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null || true
    fi
    probe_bin="$(mktemp /tmp/i386-probe.XXXXXX)"
    write_probe "$probe_bin"
    entries="$(i386_entries | tr '\n' ' ')"
    if [ -n "$entries" ]; then
        entry=yes
        private="$(run_probe private "$probe_bin")"
    else
        entry=no
        direct="$(run_probe direct "$probe_bin")"
    fi
    rm -f "$probe_bin"
    decision="$(decide "$entry" "$direct" "$private")"
    mode=${decision% *}
    register=${decision#* }
    if [ "$register" = yes ]; then
        command -v qemu-i386 >/dev/null 2>&1 || {
            apt-get install -y -q --no-install-recommends qemu-user >/dev/null 2>&1 || true
        }
        register_qemu || echo "[i386] qemu-i386 registration failed" >&2
    fi
    echo "[i386] binfmt entries for i386: ${entries:-none}; direct run: $direct; private instance: $private -> $mode" >&2
    echo "$mode" > "$state"
    echo "$mode"
}

case "${1:-}" in
    decide) shift; decide "$@" ;;
    probe) probe "${2:-$ROOT/build/i386-mode}" ;;
    write-probe) write_probe "$2" ;;
    *) echo "usage: $0 probe [STATE_FILE] | write-probe PATH | decide ENTRY DIRECT PRIVATE" >&2; exit 2 ;;
esac
