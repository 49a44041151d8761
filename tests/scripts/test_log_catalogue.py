#!/usr/bin/env python3
"""The log line catalogue (docs/log-lines.md) lists every log format in
src/, and the extractor that checks it finds formats however they are
written."""

import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))

import logcatalogue  # noqa: E402


def formats_in(source):
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "x.cpp"), "w") as f:
            f.write(source)
        return [(fmt, level) for fmt, level, _ in logcatalogue.extract(d)]


class CatalogueIsComplete(unittest.TestCase):
    def test_every_format_in_src_is_catalogued(self):
        listed = logcatalogue.catalogue_formats(logcatalogue.DEFAULT_CATALOGUE)
        missing = [f for f in logcatalogue.extract(logcatalogue.DEFAULT_SRC) if f[0] not in listed]
        rows = "\n".join(logcatalogue.catalogue_row(*f) for f in missing)
        self.assertEqual(missing, [], "add these rows to docs/log-lines.md:\n" + rows)

    def test_src_has_formats_at_all(self):
        # An extractor broken into finding nothing would pass the test above.
        self.assertGreater(len(logcatalogue.extract(logcatalogue.DEFAULT_SRC)), 10)


class Extraction(unittest.TestCase):
    ROWS = [
        ("plain", 'm->Message(LOG_ERROR, "%s: Signal was lost for %s", op, n);',
         [("%s: Signal was lost for %s", "error")]),
        ("split over lines and literals",
         'Message(LOG_WARNING,\n    "%s: Thread %u was not "\n    "stopped", op, id);',
         [("%s: Thread %u was not stopped", "warning")]),
        ("escaped quotes", r'Log(LOG_INFO, "%s: name=\"%s\"", op, n);', [('%s: name="%s"', "info")]),
        ("commas and parentheses in the literal", 'Message(LOG_INFO, "%s: a, b (c)", f(x, y));',
         [("%s: a, b (c)", "info")]),
        ("result record message", 'r.SetFormatted(LOG_ERROR, RESULT_BAD, "%s: refused %u", op, s);',
         [("%s: refused %u", "error")]),
        ("level carried by a result", 'Log(result.m_level, "%s: x", op);', [("%s: x", "as the result carries")]),
        ("relay of a ready text is not a format", 'Log(result.m_level, "%s", text.c_str());', []),
        ("format that is not a literal", "Message(LOG_INFO, format, op);", []),
        ("declaration", "virtual void Message(int level, const char* format, ...) = 0;", []),
        ("line comment", '// Message(LOG_INFO, "%s: old", op);\nint x;', []),
        ("block comment", '/* Log(LOG_INFO, "%s: old", op); */', []),
        ("comment between literals", 'Message(LOG_INFO, "%s: a" /* b */ "c", op);', [("%s: ac", "info")]),
        ("other calls ending in the name", 'MyMessage(LOG_INFO, "%s: no", op); Logger(1, "%s: no");', []),
        ("the same format twice is one entry",
         'Message(LOG_ERROR, "%s: again", a);\nMessage(LOG_ERROR, "%s: again", b);', [("%s: again", "error")]),
    ]

    def test_rows(self):
        for name, source, expected in self.ROWS:
            with self.subTest(name):
                self.assertEqual(formats_in(source), expected)

    def test_place_is_file_and_line(self):
        with tempfile.TemporaryDirectory() as d:
            os.makedirs(os.path.join(d, "src", "io"))
            with open(os.path.join(d, "src", "io", "a.cpp"), "w") as f:
                f.write('int x;\n\nMessage(LOG_ERROR,\n "%s: y", op);\n')
            self.assertEqual(logcatalogue.extract(os.path.join(d, "src")), [("%s: y", "error", "src/io/a.cpp:3")])


class MissingRows(unittest.TestCase):
    def test_pasted_rows_count_as_catalogued(self):
        # What --missing prints must satisfy the check once pasted, even
        # for formats with a table separator or a backtick in them.
        formats = ["%s: plain %u", "%s: a | b", "%s: `quoted` text", "%s: ends in backslash \\"]
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "cat.md")
            with open(path, "w") as f:
                f.write("| Level | Format | Meaning | What to do |\n|---|---|---|---|\n")
                for fmt in formats:
                    f.write(logcatalogue.catalogue_row(fmt, "error", "src/x.cpp:1") + "\n")
            self.assertEqual(logcatalogue.catalogue_formats(path), set(formats))

    def test_missing_prints_one_row_per_missing_format(self):
        with tempfile.TemporaryDirectory() as d:
            src = os.path.join(d, "src")
            os.makedirs(src)
            with open(os.path.join(src, "a.cpp"), "w") as f:
                f.write('Message(LOG_ERROR, "%s: listed", a);\nMessage(LOG_INFO, "%s: new one %u", a, n);\n')
            cat = os.path.join(d, "cat.md")
            with open(cat, "w") as f:
                f.write("| error | `%s: listed` | m | w |\n")
            tool = os.path.join(ROOT, "tools", "logcatalogue.py")
            out = subprocess.run([sys.executable, tool, "--src", src, "--catalogue", cat, "--missing"],
                                 capture_output=True, text=True, check=True).stdout
            self.assertEqual(out.splitlines(), ["| info | `%s: new one %u` | TODO meaning (src/a.cpp:2) | TODO what to do |"])
            check = subprocess.run([sys.executable, tool, "--src", src, "--catalogue", cat, "--check"],
                                   capture_output=True, text=True)
            self.assertEqual(check.returncode, 1)
            self.assertIn("%s: new one %u", check.stderr)


if __name__ == "__main__":
    unittest.main()
