#!/usr/bin/env bash
# Checks how the setup installs its packages when the mirror misbehaves: the
# decision table, the fallback's own apt configuration (only the security
# source limited to amd64, in both source formats), and, where every amd64
# package is already installed, a whole install against a simulated mirror
# failure. Nothing here touches the machine's apt configuration.
# Ends with the line "N passed, M failed".
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
PKG="$ROOT/scripts/packages.sh"
PASSED=0
FAILED=0
check() {  # name actual expected
    if [ "$2" = "$3" ]; then PASSED=$((PASSED + 1)); echo "PASS $1"
    else FAILED=$((FAILED + 1)); echo "FAIL $1: got '$2', expected '$3'"; fi
}

# update lists amd64 i386 fallback -> setup wine32 next
while read -r update lists amd64 i386 fallback want; do
    check "decide update=$update lists=$lists amd64=$amd64 i386=$i386 fallback=$fallback" \
        "$("$PKG" decide "$update" "$lists" "$amd64" "$i386" "$fallback")" "${want//_/ }"
done <<'TABLE'
ok ok - - - ok_unavailable_amd64
ok ok ok - - ok_unavailable_i386
ok ok ok ok - ok_ok_done
ok ok ok fail - ok_unavailable_fallback
ok ok ok fail ok ok_ok_done
ok ok ok fail fail ok_unavailable_done
fail ok - - - ok_unavailable_amd64
fail ok ok fail - ok_unavailable_fallback
fail ok ok fail ok ok_ok_done
fail ok ok fail fail ok_unavailable_done
fail missing - - - fail_unavailable_done
ok ok fail - - fail_unavailable_done
TABLE

WORK="$(mktemp -d /tmp/packages-test.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT

# The fallback's configuration from a made-up /etc/apt.
ETC="$WORK/etc"
mkdir -p "$ETC/sources.list.d"
cat >"$ETC/sources.list.d/debian.sources" <<'SRC'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

# security, both architectures
Types: deb
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Architectures: amd64 i386
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Enabled: no
Types: deb
URIs: http://example.invalid/off
Suites: bookworm
Components: main
SRC
cat >"$ETC/sources.list" <<'SRC'
deb http://deb.debian.org/debian bookworm main
deb http://security.debian.org/debian-security bookworm-security main
deb [signed-by=/k.gpg arch=amd64,i386] http://deb.debian.org/debian-security bookworm-security contrib
deb-src http://deb.debian.org/debian bookworm main
SRC
APT="$WORK/apt"
"$PKG" write-config "$APT" "$ETC"
check "write-config succeeds" "$?" 0

# Architectures of each deb822 stanza, in order ("-" where none is given).
arches=$(python3 - "$APT/sources.list.d/debian.sources" <<'PY'
import re, sys
out = []
for block in re.split(r"\n\s*\n", open(sys.argv[1]).read().strip()):
    m = re.search(r"^Architectures:\s*(.*)$", block, re.M)
    uri = re.search(r"^URIs:\s*(\S+)", block, re.M).group(1)
    out.append(uri.rsplit("/", 1)[-1] + "=" + (m.group(1).strip().replace(" ", ",") if m else "-"))
print(" ".join(out))
PY
)
check "deb822: only the security stanza is limited to amd64, a disabled one dropped" "$arches" "debian=- debian-security=amd64"
lines="$APT/sources.list.d/00-sources.list"
check "one-line: the main archive keeps every architecture" \
    "$(grep -c '^deb http://deb.debian.org/debian bookworm main$' "$lines")" 1
check "one-line: a plain security line is limited to amd64" \
    "$(grep -c '^deb \[arch=amd64\] http://security.debian.org/debian-security bookworm-security main$' "$lines")" 1
check "one-line: options kept, an arch list of its own replaced" \
    "$(grep -c '^deb \[arch=amd64 signed-by=/k.gpg\] http://deb.debian.org/debian-security bookworm-security contrib$' "$lines")" 1
check "one-line: source lines untouched" "$(grep -c '^deb-src http://deb.debian.org/debian bookworm main$' "$lines")" 1
check "security pinned below the main archive" \
    "$(awk '/^Pin: release l=Debian-Security/ {s=1} s && /^Pin-Priority:/ {print ($2 < 500) ? "low" : $2; exit}' "$APT/preferences.d/security-low")" low
check "own sources and lists, the machine's left aside" \
    "$(grep -cE "^Dir::Etc::SourceList \"/dev/null\";|^Dir::Etc::SourceParts \"$APT/sources.list.d\";|^Dir::State::Lists \"$APT/lists\";" "$APT/apt.conf")" 3

# A whole install against the simulated mirror: only where nothing would
# really be installed (every amd64 package present) and apt can be asked.
all_present=1
for p in $("$PKG" list amd64); do
    [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || { all_present=0; break; }
done
if [ "$all_present" = 1 ] && [ "$(id -u)" = 0 ]; then
    HALVENCAP_SIMULATE_MIRROR=1 HALVENCAP_WINE32_STATE="$WORK/wine32-state" "$PKG" install >"$WORK/install.log" 2>&1
    check "a failing mirror leaves the 64-bit side standing" "$?" 0
    state=$(cat "$WORK/wine32-state" 2>/dev/null)
    check "the 32-bit side is named unavailable, with the mirror as the reason" \
        "$(grep -c "^unavailable: .*mirror" <<<"$state")" 1
    check "every i386 way was tried: direct, then the own configuration" \
        "$(grep -cE "i386 install: simulated|fallback: simulated" "$WORK/install.log")" 2
else
    echo "SKIP simulated install: amd64 packages missing or not root"
fi

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" = 0 ]
