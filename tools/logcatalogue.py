#!/usr/bin/env python3
"""Keeps docs/log-lines.md true to the source.

Every log line the driver writes starts as a printf-style format string in
src/: the format of a `Message(level, format, ...)` or `Log(level, format,
...)` call, or the message of a `SetFormatted(level, code, format, ...)`
result record that a component later logs as a ready text. This program
finds those formats and compares them with the catalogue.

    tools/logcatalogue.py              # lists every format with its place
    tools/logcatalogue.py --check      # exit 1 if one is missing
    tools/logcatalogue.py --missing    # one ready catalogue row per missing format

A format that is only "%s" relays a text made elsewhere (a result record's
message, a line built in pieces); the text itself is what the catalogue
holds, so the relay is not listed.
"""

import argparse
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_SRC = os.path.join(ROOT, "src")
DEFAULT_CATALOGUE = os.path.join(ROOT, "docs", "log-lines.md")

# Call name -> index of the format among its arguments.
CALLS = {"Message": 1, "Log": 1, "SetFormatted": 2}
CALL_RE = re.compile(r"\b(Message|Log|SetFormatted)\s*\(")
RELAYS = {"%s"}
LEVELS = {"LOG_ERROR": "error", "LOG_WARNING": "warning", "LOG_INFO": "info", "LOG_NOTICE": "notice",
          "LOG_SILENT": "never shown"}


def strip_comments(text):
    """Blanks out comments, keeping string and character literals and every
    newline, so that offsets still give the right line numbers."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c == "/" and i + 1 < n and text[i + 1] == "/":
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif c == "/" and i + 1 < n and text[i + 1] == "*":
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("".join(ch if ch == "\n" else " " for ch in text[i:j]))
            i = j
        elif c in "\"'":
            j = skip_literal(text, i)
            out.append(text[i:j])
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def skip_literal(text, i):
    """Index just past the string or character literal starting at i."""
    quote = text[i]
    j = i + 1
    while j < len(text):
        if text[j] == "\\":
            j += 2
            continue
        if text[j] == quote or text[j] == "\n":
            return j + 1
        j += 1
    return j


def split_arguments(text, start):
    """Arguments of the call whose '(' is just before start, as source
    slices; None when the parentheses never close."""
    args, depth, i, begin = [], 0, start, start
    while i < len(text):
        c = text[i]
        if c in "\"'":
            i = skip_literal(text, i)
            continue
        if c in "([{":
            depth += 1
        elif c in ")]}":
            if depth == 0:
                args.append(text[begin:i])
                return args
            depth -= 1
        elif c == "," and depth == 0:
            args.append(text[begin:i])
            begin = i + 1
        i += 1
    return None


LITERAL_RE = re.compile(r'\s*(?:u8|L|u|U)?"((?:[^"\\\n]|\\.)*)"\s*', re.S)


ESCAPES = {"n": "\\n", "t": "\\t", "r": "\\r", "\"": "\"", "'": "'", "\\": "\\", "?": "?"}


def unescape(text):
    """The format's value: quotes and backslashes as the line shows them;
    control characters stay written as escapes so a row stays one line."""
    return re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), "\\" + m.group(1)), text)


def literal_value(arg):
    """The format's value when the argument is nothing but adjacent string
    literals (split over lines or not); otherwise None."""
    pos, parts = 0, []
    while pos < len(arg):
        m = LITERAL_RE.match(arg, pos)
        if not m or m.end() == pos:
            break
        parts.append(m.group(1))
        pos = m.end()
    if not parts or arg[pos:].strip():
        return None
    return unescape("".join(parts))


def level_name(arg):
    arg = arg.strip()
    return LEVELS.get(arg, "as the result carries" if "level" in arg.lower() else arg)


def extract_file(path, rel):
    """(format, level, 'file:line') for every log format in one file."""
    with open(path, encoding="utf-8", errors="replace") as f:
        text = strip_comments(f.read())
    found = []
    for m in CALL_RE.finditer(text):
        args = split_arguments(text, m.end())
        index = CALLS[m.group(1)]
        if args is None or len(args) <= index:
            continue
        fmt = literal_value(args[index])
        if fmt is None or fmt in RELAYS:
            continue
        line = text.count("\n", 0, m.start()) + 1
        found.append((fmt, level_name(args[0]), "%s:%d" % (rel, line)))
    return found


def extract(src):
    """Every log format under src, in file order; a format used in several
    places appears once, with its first place."""
    seen, result = set(), []
    for base, dirs, files in os.walk(src):
        dirs.sort()
        for name in sorted(files):
            if not name.endswith((".cpp", ".h", ".hpp", ".cc")):
                continue
            path = os.path.join(base, name)
            rel = os.path.relpath(path, os.path.dirname(src))
            for fmt, level, where in extract_file(path, rel):
                if fmt not in seen:
                    seen.add(fmt)
                    result.append((fmt, level, where))
    return result


def unescape_cell(cell):
    return cell.replace("\\|", "|")


def catalogue_formats(path):
    """The formats the catalogue lists: the first code span of the second
    cell of every table row."""
    formats = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            if not line.startswith("|"):
                continue
            cells = re.split(r"(?<!\\)\|", line.strip())
            if len(cells) < 4:
                continue
            m = re.search(r"``\s?(.*?)\s?``|`([^`]*)`", cells[2])
            if m:
                formats.add(unescape_cell(m.group(1) if m.group(1) is not None else m.group(2)))
    return formats


def catalogue_row(fmt, level, where):
    """A row ready to paste into the catalogue; the last two cells are for
    the author to fill."""
    code = fmt.replace("|", "\\|")
    span = "``%s``" % code if "`" in code else "`%s`" % code
    return "| %s | %s | TODO meaning (%s) | TODO what to do |" % (level, span, where)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--src", default=DEFAULT_SRC)
    parser.add_argument("--catalogue", default=DEFAULT_CATALOGUE)
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--check", action="store_true", help="exit 1 when a format is not in the catalogue")
    mode.add_argument("--missing", action="store_true", help="one ready catalogue row per missing format")
    args = parser.parse_args(argv)

    formats = extract(args.src)
    if not (args.check or args.missing):
        for fmt, level, where in formats:
            print("%s\t%s\t%s" % (where, level, fmt))
        return 0
    listed = catalogue_formats(args.catalogue)
    missing = [f for f in formats if f[0] not in listed]
    if args.missing:
        for fmt, level, where in missing:
            print(catalogue_row(fmt, level, where))
        return 0
    for fmt, level, where in missing:
        print("not in %s: %s (%s)" % (os.path.relpath(args.catalogue, ROOT), fmt, where), file=sys.stderr)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
