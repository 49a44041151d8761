#!/usr/bin/env bash
# Checks the shipped DLL's binary face: 32-bit i386 image, the exported
# names (undecorated, aliases on one function), and imports from Windows
# system DLLs only. Prints one line per check and "N passed, M failed".
set -uo pipefail
DLL="${1:?usage: check-dll.sh Halvencap.dll}"
DUMP="$(i686-w64-mingw32-objdump -p "$DLL" 2>&1)"
passed=0; failed=0
check() {  # description, then a command that succeeds when the check holds
    local what=$1; shift
    if "$@" >/dev/null 2>&1; then passed=$((passed + 1)); echo "ok   $what"
    else failed=$((failed + 1)); echo "FAIL $what"; fi
}
check "machine is i386" grep -q "file format pei-i386" <<<"$DUMP"
for name in CreateIPCapture CreateIPCaptureEx CreateIPCaptureEx2 CreateIPCaptureEx3 \
            DeleteIPCapture DeleteIPCaptureEx DeleteIPCaptureEx2 DeleteIPCaptureEx3 DeleteCapabilityQueryModule \
            CreateCapabilityQueryModule InitCapabilityQuery StartCapabilityQuery UninitCapabilityQuery \
            TerminateCapabilityQuery; do
    check "export $name" grep -qE "^\s+\[\s*[0-9]+\] $name\$" <<<"$DUMP"
done
decorated=$(grep -cE "^\s+\[\s*[0-9]+\] [^+].*[@?]" <<<"$DUMP" || true)
check "no decorated exports" test "$decorated" -eq 0
allowed="KERNEL32.dll msvcrt.dll WINHTTP.dll WS2_32.dll VERSION.dll WINMM.dll ole32.dll ADVAPI32.dll USER32.dll"
imports=$(grep "DLL Name:" <<<"$DUMP" | awk '{print $3}')
for dll in $imports; do
    check "import $dll is a Windows system DLL" grep -qiw "$dll" <<<"$allowed"
done
# Address of each export by name: the export address table and the name
# table share their indexes.
rva_of() {
    awk -v want="$1" '
        /\+base\[/ { gsub(/[][]/, " "); rva[$1] = $4 }
        /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
        names && /^[ \t]+\[/ { line = $0; gsub(/[][]/, " ", line); split(line, f, " "); if (f[2] == want) print rva[f[1]] }
    ' <<<"$DUMP"
}
distinct() { for name in "$@"; do rva_of "$name"; done | sort -u | grep -c .; }
check "create aliases are one function" test "$(distinct CreateIPCapture CreateIPCaptureEx CreateIPCaptureEx2 CreateIPCaptureEx3)" -eq 1
check "delete aliases, query delete included, are one function" \
    test "$(distinct DeleteIPCapture DeleteIPCaptureEx DeleteIPCaptureEx2 DeleteIPCaptureEx3 DeleteCapabilityQueryModule)" -eq 1
check "seven functions behind the fourteen names" test "$(distinct CreateIPCapture DeleteIPCapture CreateCapabilityQueryModule \
    InitCapabilityQuery StartCapabilityQuery UninitCapabilityQuery TerminateCapabilityQuery)" -eq 7
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
