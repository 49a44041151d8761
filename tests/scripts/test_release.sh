#!/usr/bin/env bash
# Checks a release bundle as an integrator receives it: unpacked away from
# the tree, its sums, the version resources of both binaries (read back from
# the files; the console program must say the same), the DLL's exports and
# imports, symbols that resolve an address of the stripped DLL, the guide's
# pages, the notices, and the bundled console program recording Motion JPEG
# from the camera simulator.
#
#   tests/scripts/test_release.sh [BUNDLE.zip]
#
# Without a bundle one is built first (scripts/release.sh --allow-dirty).
# HALVENCAP_WINE32_REASON, when set, says why 32-bit programs cannot run
# here: the checks that run the console program are then left out.
# Ends with the line "N passed, M failed".
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
PASSED=0
FAILED=0
pass() { PASSED=$((PASSED + 1)); echo "PASS $1"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL $1: $2"; }
check() {  # name actual expected
    if [ "$2" = "$3" ]; then pass "$1"; else fail "$1" "got '$2', expected '$3'"; fi
}
finish() {
    echo "$PASSED passed, $FAILED failed"
    [ "$FAILED" = 0 ]
    exit $?
}

WORK="$(mktemp -d /tmp/halvencap-release-test.XXXXXX)"
CAMSIM_PID=
cleanup() {
    [ -n "$CAMSIM_PID" ] && { kill "$CAMSIM_PID" 2>/dev/null; wait "$CAMSIM_PID" 2>/dev/null; }
    rm -rf "$WORK"
}
trap cleanup EXIT

BUNDLE="${1:-}"
if [ -z "$BUNDLE" ]; then
    "$ROOT/scripts/release.sh" --allow-dirty --out "$WORK/dist" >"$WORK/release.log" 2>&1
    BUNDLE=$(sed -n 's/^bundle: //p' "$WORK/release.log")
fi
[ -f "$BUNDLE" ] || { fail "bundle" "no bundle ${BUNDLE:-built}"; finish; }
NAME="$(basename "$BUNDLE" .zip)"
# halvencap-1.4.0.7-win32, or -dirty-win32 from a tree with changes
VERSION="$(sed -E 's/^halvencap-([0-9]+\.[0-9]+\.[0-9]+\.[0-9]+)(-[a-z]+)?-win32$/\1/' <<<"$NAME")"
[ "$VERSION" != "$NAME" ] || { fail "bundle name" "$NAME names no version"; finish; }

mkdir -p "$WORK/unpacked"
unzip -q "$BUNDLE" -d "$WORK/unpacked" || { fail "unpack" "unzip failed"; finish; }
DIR="$WORK/unpacked/$NAME"
[ -d "$DIR" ] || { fail "unpack" "no top directory $NAME"; finish; }

# --- contents and sums -------------------------------------------------------
for f in Halvencap.dll halvencap.exe symbols/Halvencap.dll.debug symbols/halvencap.exe.debug \
         NOTICES.txt CHANGELOG.md SHA256SUMS notices/GPL-3.txt; do
    [ -s "$DIR/$f" ] && pass "bundle holds $f" || fail "bundle holds $f" "missing or empty"
done
(cd "$DIR" && sha256sum --quiet -c SHA256SUMS) >"$WORK/sums.log" 2>&1 \
    && pass "SHA256SUMS verify" || fail "SHA256SUMS verify" "$(head -3 "$WORK/sums.log")"
unlisted=$(cd "$DIR" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort \
    | comm -23 - <(awk '{print $2}' SHA256SUMS | LC_ALL=C sort) | tr '\n' ' ')
check "every file has its sum" "$unlisted" ""
grep -q "GCC RUNTIME LIBRARY EXCEPTION" "$DIR"/notices/*.txt && pass "notices: GCC runtime library exception" \
    || fail "notices: GCC runtime library exception" "text missing"
grep -q "winpthreads" "$DIR"/notices/*.txt && pass "notices: winpthreads licence" \
    || fail "notices: winpthreads licence" "text missing"

# Each page of the guide in both forms.
for md in "$DIR"/docs/*.md; do
    [ -f "$md" ] || continue
    [ -s "${md%.md}.html" ] && pass "guide: $(basename "$md") rendered" \
        || fail "guide: $(basename "$md") rendered" "no HTML page"
done

# --- version resources -------------------------------------------------------
for f in Halvencap.dll halvencap.exe; do
    "$ROOT/scripts/pe_version.py" "$DIR/$f" >"$WORK/$f.version" 2>&1
    field() { sed -n "s/^$1=//p" "$WORK/$f.version"; }
    check "$f: FileVersion" "$(field FileVersion)" "$VERSION"
    check "$f: ProductVersion" "$(field ProductVersion)" "$VERSION"
    check "$f: fixed file version" "$(field FixedFileVersion)" "$VERSION"
    check "$f: ProductName" "$(field ProductName)" Halvencap
    check "$f: OriginalFilename" "$(field OriginalFilename)" "$f"
    missing=""
    for k in FileDescription LegalCopyright CompanyName; do [ -n "$(field $k)" ] || missing+="$k "; done
    check "$f: description, copyright and company" "$missing" ""
done
check "Halvencap.dll: file type DLL" "$(sed -n 's/^FileType=//p' "$WORK/Halvencap.dll.version")" 2
check "halvencap.exe: file type application" "$(sed -n 's/^FileType=//p' "$WORK/halvencap.exe.version")" 1

# --- the DLL's face ----------------------------------------------------------
"$ROOT/scripts/check-dll.sh" "$DIR/Halvencap.dll" >"$WORK/dll.log" 2>&1 \
    && pass "DLL exports and imports ($(tail -1 "$WORK/dll.log"))" \
    || fail "DLL exports and imports" "$(grep FAIL "$WORK/dll.log" | head -3)"

# --- symbols apart -----------------------------------------------------------
for f in Halvencap.dll halvencap.exe; do
    sections="$(i686-w64-mingw32-objdump -h "$DIR/$f")"
    grep -q "\.debug_info" <<<"$sections" && fail "$f: stripped" "still has .debug_info" || pass "$f: stripped"
    grep -q "\.gnu_debuglink" <<<"$sections" && pass "$f: links its symbols" || fail "$f: links its symbols" "no .gnu_debuglink"
    # The link holds the symbol file's name and its CRC-32, which gdb checks.
    i686-w64-mingw32-objcopy --dump-section .gnu_debuglink="$WORK/link" "$DIR/$f" "$WORK/scratch" 2>/dev/null
    link="$(python3 - "$WORK/link" "$DIR/symbols/$f.debug" <<'PY' 2>&1
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
name = data.split(b"\0")[0].decode()
crc = struct.unpack_from("<I", data, len(data) - 4)[0]
print(name, "crc-ok" if crc == zlib.crc32(open(sys.argv[2], "rb").read()) else "crc-differs")
PY
)"
    check "$f: the link names symbols/$f.debug with its checksum" "$link" "$f.debug crc-ok"
done
# A crash address as an integrator reports it: image base plus the RVA of
# an exported function in the stripped DLL.
dump="$(i686-w64-mingw32-objdump -p "$DIR/Halvencap.dll")"
base=$(awk '/^ImageBase/ {print $2}' <<<"$dump")
rva=$(awk '/\+base\[/ { gsub(/[][]/, " "); rva[$1] = $4 }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    names && /^[ \t]+\[/ { line = $0; gsub(/[][]/, " ", line); split(line, f, " "); if (f[2] == "CreateIPCaptureEx3") print rva[f[1]] }' <<<"$dump")
if [ -n "$base" ] && [ -n "$rva" ]; then
    addr=$(printf '0x%x' $((0x$base + 0x$rva)))
    where="$(i686-w64-mingw32-addr2line -f -e "$DIR/symbols/Halvencap.dll.debug" "$addr" | tr '\n' ' ')"
    grep -qE "\.cpp:[0-9]+" <<<"$where" && pass "a DLL address resolves to source ($addr: $where)" \
        || fail "a DLL address resolves to source" "$addr: $where"
else
    fail "a DLL address resolves to source" "no export address found"
fi

# --- the console program, as bundled -----------------------------------------
if [ -n "${HALVENCAP_WINE32_REASON:-}" ]; then
    echo "console program not run: $HALVENCAP_WINE32_REASON"
    finish
fi
export WINEDEBUG=-all
export WINEPREFIX="${HALVENCAP_WINEPREFIX64:-$ROOT/build/wine64-prefix}"
WINE="$ROOT/scripts/wine32.sh"
(cd "$DIR" && timeout 180 "$WINE" halvencap.exe --version) >"$WORK/version.out" 2>"$WORK/version.err"
rc=$?
tr -d '\r' <"$WORK/version.out" >"$WORK/version.txt"
check "halvencap --version exits 0" "$rc" 0
check "halvencap --version: the program's own version" "$(sed -n 1p "$WORK/version.txt")" "halvencap $VERSION"
check "halvencap --version: the bundled DLL's version" \
    "$(sed -n 2p "$WORK/version.txt" | awk '{print $1, $2}')" "Halvencap.dll $VERSION"
case "$(sed -n 2p "$WORK/version.txt" | cut -d' ' -f3-)" in
    *"\\$NAME\\Halvencap.dll") pass "halvencap --version: the DLL loaded is the bundled one" ;;
    *) fail "halvencap --version: the DLL loaded is the bundled one" "$(sed -n 2p "$WORK/version.txt")" ;;
esac

python3 "$ROOT/tools/camsim/camsim.py" --control-port 0 --port-file "$WORK/camsim.port" \
    --parent-pid $$ --max-seconds 600 >"$WORK/camsim.log" 2>&1 &
CAMSIM_PID=$!
for _ in $(seq 1 300); do [ -s "$WORK/camsim.port" ] && break; sleep 0.1; done
if [ ! -s "$WORK/camsim.port" ]; then
    fail "camera simulator" "did not start: $(tail -3 "$WORK/camsim.log")"
    finish
fi
answer="$(python3 -c 'import sys, urllib.request; print(urllib.request.urlopen(sys.argv[1], timeout=10).read().decode())' \
    "http://127.0.0.1:$(cat "$WORK/camsim.port")/new")"
port="$(sed -n 's/.* port=\([0-9]*\).*/\1/p' <<<"$answer")"
[ -n "$port" ] || { fail "camera simulator" "no camera: $answer"; finish; }
REC="$WORK/record"
(cd "$DIR" && timeout 180 "$WINE" halvencap.exe record --address 127.0.0.1 --port "$port" --format mjpeg \
    --seconds 3 --quiet --out "$REC") >"$WORK/record.out" 2>&1
check "bundled halvencap records Motion JPEG for 3 s (exit code)" "$?" 0
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=codec_name,nb_read_frames \
    -of csv=p=0 "$REC/video.mjpeg" 2>/dev/null)
case "$frames" in
    mjpeg,[1-9]*) pass "the recording decodes ($frames frames)" ;;
    *) fail "the recording decodes" "ffprobe: '${frames}'"; tail -5 "$WORK/record.out" ;;
esac
finish
