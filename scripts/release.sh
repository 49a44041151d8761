#!/usr/bin/env bash
# Builds the release bundle for integrators from a clean tree:
#   dist/halvencap-<version>-win32.zip
# with the shipped 32-bit Halvencap.dll and halvencap.exe (debug information
# stripped, linked by .gnu_debuglink to symbols/<file>.debug so a crash
# address from the field can be resolved with gdb or addr2line), the
# integrator's guide (every docs/*.md, also as HTML, links checked), the
# notices of what is linked in statically, CHANGELOG.md and SHA256SUMS.
#
#   scripts/release.sh [--allow-dirty] [--out DIR]
#
# A tree with uncommitted changes is refused: the bundle must be what the
# commit says. --allow-dirty builds it anyway (for the test command), with
# "-dirty" in the bundle's name so it is never taken for a release.
# The build is always made in a fresh directory (build/release).
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$ROOT/dist"
ALLOW_DIRTY=0
while [ $# -gt 0 ]; do
    case "$1" in
        --allow-dirty) ALLOW_DIRTY=1 ;;
        --out) OUT="${2:?--out needs a directory}"; shift ;;
        *) echo "usage: $0 [--allow-dirty] [--out DIR]" >&2; exit 2 ;;
    esac
    shift
done
mkdir -p "$OUT" && OUT="$(cd "$OUT" && pwd)"
BUILD="${HALVENCAP_RELEASE_BUILD:-$ROOT/build/release}"
JOBS="${HALVENCAP_JOBS:-2}"
OBJCOPY=i686-w64-mingw32-objcopy

log() { echo "[release] $*"; }
die() { echo "[release] error: $*" >&2; exit 1; }
warn() { echo "WARNING: $*"; }

# --- a clean tree -----------------------------------------------------------
SUFFIX=""
if git -C "$ROOT" rev-parse --git-dir >/dev/null 2>&1; then
    dirty=$(git -C "$ROOT" status --porcelain --untracked-files=normal)
    if [ -n "$dirty" ]; then
        if [ "$ALLOW_DIRTY" = 1 ]; then
            warn "the tree has uncommitted changes; the bundle is marked -dirty"
            SUFFIX="-dirty"
        else
            echo "$dirty" | head -10 >&2
            die "the tree has uncommitted changes; commit them or pass --allow-dirty"
        fi
    fi
else
    warn "not a git checkout: the build number is 0 and nothing says what was built"
    SUFFIX="-nogit"
fi

shopt -s nullglob
docs=("$ROOT"/docs/*.md)
shopt -u nullglob
# Whatever pages exist go along; a bundle without the guide is still
# useful to the one who asked for it, so that is said, not refused.
if [ ! -f "$ROOT/docs/guide.md" ]; then
    warn "docs/guide.md, the integrator's guide, is missing; the bundle has ${#docs[@]} pages"
fi

# --- build ------------------------------------------------------------------
log "building in a fresh $BUILD"
rm -rf "$BUILD"
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686-mingw.cmake" -DHALVENCAP_TESTS=OFF "${launcher[@]}" \
    >"$BUILD.configure.log" 2>&1 || { tail -20 "$BUILD.configure.log"; die "configure failed"; }
ninja -C "$BUILD" -j"$JOBS" Halvencap halvencap >"$BUILD.build.log" 2>&1 \
    || { tail -30 "$BUILD.build.log"; die "build failed"; }
VERSION="$(cat "$BUILD/halvencap-version.txt")"
[ -n "$VERSION" ] || die "the build wrote no version"
NAME="halvencap-$VERSION$SUFFIX-win32"
log "version $VERSION"

STAGE="$BUILD/stage/$NAME"
rm -rf "$BUILD/stage"
mkdir -p "$STAGE/symbols" "$STAGE/docs" "$STAGE/notices"

# --- binaries and their symbols apart ---------------------------------------
for f in Halvencap.dll halvencap.exe; do
    cp "$BUILD/bin/$f" "$STAGE/$f"
    "$OBJCOPY" --only-keep-debug "$STAGE/$f" "$STAGE/symbols/$f.debug" || die "cannot split the symbols of $f"
    # The link is made from the symbols' directory: only the file name and
    # its checksum go into the binary.
    (cd "$STAGE/symbols" && "$OBJCOPY" --strip-debug --add-gnu-debuglink="$f.debug" "../$f") \
        || die "cannot strip $f"
done
"$ROOT/scripts/check-dll.sh" "$STAGE/Halvencap.dll" >"$BUILD/check-dll.log" 2>&1 \
    || { grep FAIL "$BUILD/check-dll.log"; die "the DLL's exports or imports are wrong"; }

# --- the integrator's guide -------------------------------------------------
# Links between the guide's pages name the .md files; in HTML they lead to
# the rendered pages.
cat >"$BUILD/md-links.lua" <<'LUA'
function Link(el)
  if not el.target:match("^%a[%w+.-]*:") then
    el.target = el.target:gsub("%.md$", ".html"):gsub("%.md#", ".html#")
  end
  return el
end
LUA
for md in "${docs[@]}"; do
    base="$(basename "$md" .md)"
    cp "$md" "$STAGE/docs/"
    title="$(grep -m1 '^# ' "$md" | sed 's/^# *//')"
    pandoc --from gfm --to html5 --standalone --lua-filter "$BUILD/md-links.lua" \
        --metadata pagetitle="${title:-$base}" -o "$STAGE/docs/$base.html" "$md" \
        || die "pandoc could not render $md"
done
# Other files the pages show (pictures) travel with them.
for f in "$ROOT"/docs/*; do
    case "$f" in *.md) ;; *) [ -f "$f" ] && cp "$f" "$STAGE/docs/" ;; esac
done
python3 - "$STAGE/docs" <<'PY' || die "the guide has broken links (above)"
import html.parser, os, sys, urllib.parse
root = sys.argv[1]
class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.links, self.ids = [], set()
    def handle_starttag(self, tag, attrs):
        for k, v in attrs:
            if k == "id" or (tag == "a" and k == "name"):
                self.ids.add(v)
            if (k == "href" and tag == "a") or (k == "src" and tag in ("img", "script")):
                self.links.append(v or "")
pages = {}
for name in sorted(os.listdir(root)):
    if name.endswith(".html"):
        p = Page()
        p.feed(open(os.path.join(root, name), encoding="utf-8").read())
        pages[name] = p
bad = 0
for name, page in pages.items():
    for link in page.links:
        u = urllib.parse.urlsplit(link)
        if u.scheme or u.netloc:
            continue  # outside the bundle; not reachable from here
        target = name if not u.path else os.path.normpath(os.path.join(os.path.dirname(name), urllib.parse.unquote(u.path)))
        if target.startswith("..") or not os.path.exists(os.path.join(root, target)):
            print("broken link in %s: %s (not in the bundle)" % (name, link)); bad += 1
        elif u.fragment and target in pages and u.fragment not in pages[target].ids:
            print("broken link in %s: %s (no such anchor)" % (name, link)); bad += 1
sys.exit(1 if bad else 0)
PY

# --- notices of what is linked in statically ---------------------------------
notice() {  # source target
    [ -f "$1" ] || die "$1 is missing (its package holds the licence text the bundle must carry)"
    cp "$1" "$STAGE/notices/$2"
}
gcc_doc=/usr/share/doc/gcc-mingw-w64-i686-posix-runtime/copyright
[ -f "$gcc_doc" ] || gcc_doc=/usr/share/doc/gcc-mingw-w64-base/copyright
notice "$gcc_doc" gcc-runtime-libstdc++-copyright.txt
notice /usr/share/doc/mingw-w64-common/copyright mingw-w64-winpthreads-copyright.txt
notice /usr/share/common-licenses/GPL-3 GPL-3.txt
gcc_version="$(i686-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null || echo unknown)"
cat >"$STAGE/NOTICES.txt" <<TXT
Halvencap $VERSION - notices for what is linked into the binaries

Halvencap.dll and halvencap.exe link these libraries statically; they need
no runtime DLLs beyond those of Windows itself.

- libgcc and libstdc++ of GCC $gcc_version (MinGW-w64 cross compiler):
  GPL version 3 with the GCC Runtime Library Exception, which allows
  distributing the combined binaries under terms of one's choice.
  Texts: notices/gcc-runtime-libstdc++-copyright.txt (the exception in
  full, under "GCC RUNTIME LIBRARY EXCEPTION") and notices/GPL-3.txt.
- winpthreads and the MinGW-w64 C runtime start-up code: MIT/X11-style and
  public-domain terms; winpthreads under "mingw-w64-libraries/winpthreads".
  Text: notices/mingw-w64-winpthreads-copyright.txt.

The texts are copied from the Debian packages the release was built with
(gcc-mingw-w64, mingw-w64).
TXT

# --- change log, sums, archive ----------------------------------------------
[ -f "$ROOT/CHANGELOG.md" ] && cp "$ROOT/CHANGELOG.md" "$STAGE/" || warn "CHANGELOG.md is missing"
(cd "$STAGE" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs -d '\n' sha256sum >SHA256SUMS)
ZIP="$OUT/$NAME.zip"
rm -f "$ZIP"
(cd "$BUILD/stage" && find "$NAME" -exec touch -d "@$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || date +%s)" {} + \
    && find "$NAME" -type f | LC_ALL=C sort | zip -X -q "$ZIP" -@) || die "cannot write $ZIP"
log "$(unzip -l "$ZIP" | tail -1 | awk '{print $2}') files, $(du -k "$ZIP" | cut -f1) KiB"
echo "bundle: $ZIP"
