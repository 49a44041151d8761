#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, in a
# way that survives a package mirror caught mid-sync:
#   1. `apt-get update`, retried with a pause; an index that still fails does
#      not stop the setup as long as the lists the install needs are there.
#   2. The amd64 packages, with the machine's own sources.
#   3. wine32:i386 on its own. Where that fails (typically: the security
#      archive's i386 index is stale, so the i386 twins of amd64 libraries
#      taken from security cannot be found), once more with an apt
#      configuration of the project's own (build/apt/): the security source
#      limited to amd64 and pinned below the main archive, and every amd64
#      library of wine32's dependency closure whose version has no i386 twin
#      taken at the main archive's version. The machine's sources are never
#      edited.
# The outcome for the 32-bit side is written to build/wine32-state: "ok", or
# "unavailable: <reason>" for the test command to print.
#
#   scripts/packages.sh install
#   scripts/packages.sh write-config DIR [ETC_APT]
#       writes the fallback's apt configuration into DIR from the sources
#       under ETC_APT (default /etc/apt), and nothing else
#   scripts/packages.sh list amd64|i386
#       the packages the setup installs
#   scripts/packages.sh decide UPDATE LISTS AMD64 I386 FALLBACK
#       the decision alone, from observations given as words (for tests):
#       UPDATE ok|fail, LISTS ok|missing (the lists the install needs),
#       AMD64 ok|fail, I386 ok|fail|- , FALLBACK ok|fail|- ; prints
#       "SETUP WINE32 NEXT": SETUP ok|fail, WINE32 ok|unavailable, NEXT the
#       step to take next (done, amd64, i386, fallback)
#
# HALVENCAP_SIMULATE_MIRROR=1 makes the update and every i386 install fail as
# a stale security index does (the packages themselves are left alone), so
# that the test command's handling of a missing wine32 can be shown on a
# healthy machine.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export DEBIAN_FRONTEND=noninteractive
STATE="${HALVENCAP_WINE32_STATE:-$ROOT/build/wine32-state}"
APT_DIR="$ROOT/build/apt"
SIMULATE="${HALVENCAP_SIMULATE_MIRROR:-0}"
UPDATE_TRIES="${HALVENCAP_APT_TRIES:-3}"
UPDATE_PAUSE="${HALVENCAP_APT_PAUSE:-10}"

AMD64_PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev llvm
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
    wine wine64
    googletest libbenchmark-dev
    python3 ffmpeg procps util-linux zip unzip
    gstreamer1.0-tools gstreamer1.0-rtsp gir1.2-gst-rtsp-server-1.0 python3-gi
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
    gstreamer1.0-plugins-bad gstreamer1.0-libav
    vlc-bin vlc-plugin-base pandoc
)
I386_PACKAGES=(wine32:i386)

log() { echo "[packages] $*"; }

# The whole decision table; install() walks it with real observations.
decide() {  # update lists amd64 i386 fallback
    local update=$1 lists=$2 amd64=$3 i386=$4 fallback=$5
    if [ "$lists" != ok ]; then echo "fail unavailable done"; return; fi
    if [ "$amd64" = - ]; then echo "ok unavailable amd64"; return; fi
    if [ "$amd64" != ok ]; then echo "fail unavailable done"; return; fi
    if [ "$i386" = - ]; then echo "ok unavailable i386"; return; fi
    if [ "$i386" = ok ]; then echo "ok ok done"; return; fi
    if [ "$fallback" = - ]; then echo "ok unavailable fallback"; return; fi
    if [ "$fallback" = ok ]; then echo "ok ok done"; return; fi
    # An update that failed is the likely cause; either way the 64-bit
    # side stands and only the 32-bit stages are lost.
    : "$update"
    echo "ok unavailable done"
}

installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]; }

apt_update() {
    local i
    [ "$SIMULATE" = 1 ] && { log "update: simulated mirror failure"; return 1; }
    for i in $(seq 1 "$UPDATE_TRIES"); do
        if apt-get update -q >"$ROOT/build/apt-update.log" 2>&1; then return 0; fi
        grep -E "^(E|W):|Err:" "$ROOT/build/apt-update.log" | head -3 | sed 's/^/[packages]   /'
        [ "$i" -lt "$UPDATE_TRIES" ] && { log "update failed (try $i of $UPDATE_TRIES), again in $UPDATE_PAUSE s"; sleep "$UPDATE_PAUSE"; }
    done
    return 1
}

# The lists an install needs: a candidate for every amd64 package and for
# wine32 in the i386 lists of the main archive.
lists_present() {
    local p policy
    for p in cmake g++-mingw-w64-i686-posix wine64 "${I386_PACKAGES[@]}"; do
        # Whole output first: grep -q ending the pipe early would fail it.
        policy=$(apt-cache policy "$p" 2>/dev/null)
        grep -q "Candidate: [^(]" <<<"$policy" || { log "no candidate for $p"; return 1; }
    done
}

install_amd64() {
    local missing=() p
    for p in "${AMD64_PACKAGES[@]}"; do installed "$p" || missing+=("$p"); done
    [ ${#missing[@]} = 0 ] && return 0
    log "installing ${#missing[@]} amd64 packages"
    apt-get install -y -q --no-install-recommends "${missing[@]}" >"$ROOT/build/apt-amd64.log" 2>&1 \
        || { tail -5 "$ROOT/build/apt-amd64.log" | sed 's/^/[packages]   /'; return 1; }
}

install_i386() {
    [ "$SIMULATE" = 1 ] && { log "i386 install: simulated mirror failure"; return 1; }
    installed wine32:i386 && return 0
    log "installing ${I386_PACKAGES[*]}"
    apt-get install -y -q --no-install-recommends "${I386_PACKAGES[@]}" >"$ROOT/build/apt-i386.log" 2>&1 \
        || { grep -E "^E:|held broken|Depends:" "$ROOT/build/apt-i386.log" | head -4 | sed 's/^/[packages]   /'; return 1; }
}

# The project's own apt configuration: the machine's sources copied with the
# security suite limited to amd64, security pinned below main, own lists.
# Prints the release's code name.
write_apt_config() {  # apt-dir [etc-apt: where the sources are read]
    local dir=$1 etc=${2:-/etc/apt} codename
    codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
    mkdir -p "$dir/sources.list.d" "$dir/preferences.d" "$dir/lists/partial"
    rm -f "$dir/sources.list.d/"*
    python3 - "$etc" "$dir/sources.list.d" <<'PY'
import glob, os, re, sys
etc, out = sys.argv[1], sys.argv[2]
def is_security(values):
    return any("security" in v for v in values)
def deb822(text):
    stanzas = []
    for block in re.split(r"\n\s*\n", text):
        lines = [l for l in block.splitlines() if l.strip() and not l.lstrip().startswith("#")]
        if not lines:
            continue
        if any(re.match(r"Enabled:\s*no", l, re.I) for l in lines):
            continue
        if is_security(l for l in lines if l.lower().startswith(("uris:", "suites:"))):
            lines = [l for l in lines if not l.lower().startswith("architectures:")] + ["Architectures: amd64"]
        stanzas.append("\n".join(lines))
    return "\n\n".join(stanzas) + "\n"
def oneline(text):
    res = []
    for l in text.splitlines():
        s = l.strip()
        if not s.startswith("deb ") or "security" not in s:
            res.append(l)
            continue
        m = re.match(r"deb\s+\[([^\]]*)\]\s*(.*)", s)
        if m:
            # An arch list of its own would widen or contradict the limit.
            opts = [o for o in m.group(1).split() if not o.startswith("arch=")]
            rest = m.group(2)
        else:
            opts, rest = [], s[4:].strip()
        res.append("deb [" + " ".join(["arch=amd64"] + opts) + "] " + rest)
    return "\n".join(res) + "\n"
files = []
if os.path.exists(os.path.join(etc, "sources.list")):
    files.append(os.path.join(etc, "sources.list"))
files += sorted(glob.glob(os.path.join(etc, "sources.list.d", "*.list")))
files += sorted(glob.glob(os.path.join(etc, "sources.list.d", "*.sources")))
for f in files:
    text = open(f, errors="replace").read()
    name = os.path.basename(f)
    if name.endswith(".sources"):
        open(os.path.join(out, name), "w").write(deb822(text))
    else:
        # sources.list itself would not be read from a parts directory.
        open(os.path.join(out, "00-sources.list" if name == "sources.list" else name), "w").write(oneline(text))
PY
    cat >"$dir/preferences.d/security-low" <<EOF
Package: *
Pin: release l=Debian-Security
Pin-Priority: 100
EOF
    cat >"$dir/apt.conf" <<EOF
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$dir/sources.list.d";
Dir::Etc::PreferencesParts "$dir/preferences.d";
Dir::State::Lists "$dir/lists";
EOF
    echo "${codename:-bookworm}"
}

install_i386_fallback() {
    [ "$SIMULATE" = 1 ] && { log "fallback: simulated mirror failure"; return 1; }
    local codename pins=() name arch_pkg have want
    codename=$(write_apt_config "$APT_DIR")
    export APT_CONFIG="$APT_DIR/apt.conf"
    log "fallback: own apt configuration ($APT_DIR), security for amd64 only and pinned low"
    apt-get update -q >"$ROOT/build/apt-update-own.log" 2>&1 \
        || grep -E "^(E|W):" "$ROOT/build/apt-update-own.log" | head -3 | sed 's/^/[packages]   /'
    # amd64 libraries that wine32's i386 closure needs at the same version.
    while read -r name; do
        [ -n "$name" ] || continue
        arch_pkg="${name%:i386}:amd64"
        installed "$arch_pkg" || continue
        have=$(dpkg-query -W -f='${Version}' "$arch_pkg" 2>/dev/null)
        want=$(apt-cache policy "$name" 2>/dev/null | awk '/Candidate:/ {print $2}')
        [ -n "$want" ] && [ "$want" != "(none)" ] && [ "$have" != "$want" ] && pins+=("$arch_pkg=$want")
    done < <(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
                --no-replaces --no-enhances "${I386_PACKAGES[@]}" 2>/dev/null | grep -E '^[a-z0-9].*:i386$' | sort -u)
    [ ${#pins[@]} -gt 0 ] && log "taking at the i386 twins' version: ${pins[*]}"
    apt-get install -y -q --no-install-recommends --allow-downgrades "${I386_PACKAGES[@]}" "${pins[@]}" \
        >"$ROOT/build/apt-i386-own.log" 2>&1
    local rc=$?
    unset APT_CONFIG
    [ $rc = 0 ] || { grep -E "^E:|Depends:" "$ROOT/build/apt-i386-own.log" | head -4 | sed 's/^/[packages]   /'; }
    return $rc
}

install() {
    mkdir -p "$ROOT/build"
    local update=ok lists amd64=- i386=- fallback=- decision next reason=""
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        log "adding the i386 architecture"
        dpkg --add-architecture i386
        rm -f "$ROOT/build/apt-updated"
    fi
    local need=0 p
    for p in "${AMD64_PACKAGES[@]}" "${I386_PACKAGES[@]}"; do installed "$p" || { need=1; break; }; done
    if [ "$SIMULATE" = 1 ]; then need=1; fi
    if [ "$need" = 1 ]; then
        apt_update || { update=fail; log "update still failing after $UPDATE_TRIES tries; going on with the lists there are"; }
    fi
    if lists_present; then lists=ok; else lists=missing; fi
    while :; do
        decision=$(decide "$update" "$lists" "$amd64" "$i386" "$fallback")
        next=${decision##* }
        case "$next" in
            amd64) if install_amd64; then amd64=ok; else amd64=fail; fi ;;
            i386) if install_i386; then i386=ok; else i386=fail; fi ;;
            fallback) if install_i386_fallback; then fallback=ok; else fallback=fail; fi ;;
            done) break ;;
        esac
    done
    read -r setup wine32 _ <<<"$decision"
    if [ "$wine32" = ok ]; then
        echo ok >"$STATE"
    else
        if [ "$lists" != ok ]; then reason="the package lists are missing (apt-get update failed)"
        elif [ "$SIMULATE" = 1 ]; then reason="wine32:i386 could not be installed: the package mirror's index failed (simulated, HALVENCAP_SIMULATE_MIRROR=1)"
        elif [ "$update" = fail ]; then reason="wine32:i386 could not be installed: the package mirror's index failed (see build/apt-update.log)"
        else reason="wine32:i386 could not be installed (see build/apt-i386.log)"; fi
        echo "unavailable: $reason" >"$STATE"
        log "32-bit side $(cat "$STATE")"
    fi
    [ "$setup" = ok ]
}

case "${1:-}" in
    decide) shift; decide "$@" ;;
    install) install ;;
    write-config) [ -n "${2:-}" ] || { echo "usage: $0 write-config DIR [ETC_APT]" >&2; exit 2; }
        write_apt_config "$2" "${3:-/etc/apt}" >/dev/null ;;
    list) case "${2:-}" in amd64) printf '%s\n' "${AMD64_PACKAGES[@]}" ;; i386) printf '%s\n' "${I386_PACKAGES[@]}" ;;
        *) exit 2 ;; esac ;;
    *) echo "usage: $0 install | write-config DIR [ETC_APT] | list amd64|i386 | decide UPDATE LISTS AMD64 I386 FALLBACK" >&2; exit 2 ;;
esac
