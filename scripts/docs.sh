#!/usr/bin/env bash
# Renders the integrator's documentation (docs/*.md) to build/docs/*.html
# with pandoc and checks every link in it: relative links must name a file
# that exists (a .md link counts for its rendered .html), and every #anchor
# must be an id in the page it points to. Ends with one line
# "N passed, M failed" (one per page rendered and one per link).
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SRC="$ROOT/docs"
OUT="${1:-$ROOT/build/docs}"
mkdir -p "$OUT"
command -v pandoc >/dev/null || { echo "pandoc is not installed"; echo "0 passed, 1 failed"; exit 1; }

passed=0
failed=0
for md in "$SRC"/*.md; do
    name="$(basename "$md" .md)"
    title="$(sed -n 's/^# //p' "$md" | head -1)"
    # Links between pages are written to the Markdown files so that they
    # also work on a code host; the HTML pages link to each other.
    if pandoc --from gfm --to html5 --standalone --metadata title="${title:-$name}" \
            --lua-filter=<(cat <<'LUA'
function Link(el)
  if not el.target:match("^%a[%w+.-]*:") then
    el.target = el.target:gsub("%.md$", ".html"):gsub("%.md#", ".html#")
  end
  return el
end
LUA
) "$md" -o "$OUT/$name.html" 2>"$OUT/$name.log"; then
        passed=$((passed + 1)); echo "ok   rendered $name.html"
    else
        failed=$((failed + 1)); echo "FAIL rendering $name.md: $(head -3 "$OUT/$name.log")"
    fi
done

read -r p f < <(python3 - "$OUT" <<'PY'
import html.parser, os, sys, urllib.parse

out = sys.argv[1]


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids, self.links = set(), []

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "id" in a:
            self.ids.add(a["id"])
        if tag == "a" and "href" in a:
            self.links.append(a["href"])


pages = {}
for name in sorted(os.listdir(out)):
    if name.endswith(".html"):
        page = Page()
        with open(os.path.join(out, name), encoding="utf-8") as f:
            page.feed(f.read())
        pages[name] = page

passed = failed = 0
for name, page in pages.items():
    for href in page.links:
        target = urllib.parse.urlsplit(href)
        if target.scheme or target.netloc:
            continue  # outside links are not followed
        file = os.path.normpath(os.path.join(os.path.dirname(name), urllib.parse.unquote(target.path))) \
            if target.path else name
        problem = None
        if file not in pages:
            if not os.path.exists(os.path.join(out, file)):
                problem = "no page " + file
        elif target.fragment and urllib.parse.unquote(target.fragment) not in pages[file].ids:
            problem = "no anchor #%s in %s" % (target.fragment, file)
        if problem:
            failed += 1
            print("FAIL %s: link %s: %s" % (name, href, problem), file=sys.stderr)
        else:
            passed += 1
print(passed, failed)
PY
)
echo "ok   ${p:-0} links resolve"
passed=$((passed + ${p:-0}))
failed=$((failed + ${f:-1}))
echo "pages in $OUT"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
