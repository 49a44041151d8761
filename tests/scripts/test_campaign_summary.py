#!/usr/bin/env python3
"""The campaign summary's memory slopes: the fit, and when a slope is a leak.

  python3 -m unittest discover -s tests/scripts -p 'test_*.py'
"""

import os
import random
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import campaign_summary as summary  # noqa: E402


def samples(minutes, private_kib_per_hour=0.0, handles_per_hour=0.0, noise_kib=0.0, noise_handles=0.0,
            channels=4, seed=7):
    """memory.tsv rows, one a minute, with the given growth for the whole
    process (per hour) and uniform noise around it."""
    rng = random.Random(seed)
    rows = []
    for m in range(minutes + 1):
        hours = m / 60.0
        rows.append({
            "elapsed_s": str(m * 60),
            "channels": str(channels),
            "threads": "40",
            "handles": str(int(round(300 + handles_per_hour * hours + rng.uniform(-noise_handles, noise_handles)))),
            "private_kb": str(int(60000 + private_kib_per_hour * hours + rng.uniform(-noise_kib, noise_kib))),
            "virtual_kb": "200000",
        })
    return rows


def quiet_steps():
    """Three channels streaming undisturbed for 35 minutes: one step of the
    allocator and one lazily made handle after the warm-up."""
    rows = samples(35, channels=3)
    for r in rows:
        r["private_kb"] = "60000" if int(r["elapsed_s"]) < 1200 else "60012"
        r["handles"] = "300" if int(r["elapsed_s"]) < 900 else "301"
    return rows


class FitTest(unittest.TestCase):
    def test_exact_line(self):
        slope, err = summary.fit([(0, 1.0), (1, 3.0), (2, 5.0), (3, 7.0)])
        self.assertAlmostEqual(slope, 2.0)
        self.assertAlmostEqual(err, 0.0)

    def test_too_few_points(self):
        self.assertEqual(summary.fit([(0, 1.0)]), (None, None))
        self.assertEqual(summary.fit([(1, 1.0), (1, 2.0), (1, 3.0)]), (None, None))
        self.assertEqual(summary.fit([(0, 1.0), (1, 2.0)]), (1.0, None))


class MemorySlopesTest(unittest.TestCase):
    # One row per behaviour: the samples, whether it is a finding, and a
    # word that must stand on the private bytes line.
    ROWS = (
        ("flat", samples(120, noise_kib=200, noise_handles=2), False, "ok"),
        # Allocator drift below the bound, steady enough to be significant.
        ("slow drift", samples(120, private_kib_per_hour=400), False, "ok"),
        ("growing memory", samples(120, private_kib_per_hour=4 * 2000, noise_kib=200), True, "GROWS"),
        ("growing handles", samples(120, handles_per_hour=4 * 50, noise_handles=2), True, "ok"),
        # Scatter far larger than any trend: the fitted slope may pass the
        # bound, but not its own error.
        ("noisy", samples(120, noise_kib=40000, noise_handles=40), False, "ok"),
        # Single steps: significant for a straight line, far below a leak.
        ("quiet steps", quiet_steps(), False, "ok"),
        ("too short", samples(1, private_kib_per_hour=4 * 100000), False, "not judged: run too short"),
        ("one minute campaign", samples(1, private_kib_per_hour=4 * 100000)[:2], False, "run too short"),
        ("short run", samples(19, private_kib_per_hour=4 * 100000), False, "not judged: run too short"),
        ("just long enough", samples(20, private_kib_per_hour=4 * 100000, noise_kib=200), True, "GROWS"),
    )

    def test_rows(self):
        for name, rows, grows, word in self.ROWS:
            with self.subTest(name):
                lines, bad = summary.memory_slopes(rows)
                self.assertEqual(bool(bad), grows, "\n".join(lines))
                text = "\n".join(lines)
                self.assertIn(word, text)

    def test_noisy_slope_is_above_its_bound(self):
        # The noisy row passes on its error alone, not on a small slope.
        rows = [r for r in self.ROWS if r[0] == "noisy"][0][1]
        lines, _ = summary.memory_slopes(rows)
        private = [l for l in lines if "private bytes" in l][0]
        self.assertGreater(float(private.split()[2]), summary.PRIVATE_KIB_PER_HOUR_BOUND, private)

    def test_slope_per_channel(self):
        lines, bad = summary.memory_slopes(samples(120, private_kib_per_hour=4 * 2000, handles_per_hour=4 * 50))
        private = [l for l in lines if "private bytes" in l][0]
        handles = [l for l in lines if "handles" in l][0]
        self.assertIn("+2000.00 KiB/h per channel", private)
        self.assertIn("+50.00 /h per channel", handles)
        self.assertEqual(len(bad), 2)

    def test_warmup_left_out(self):
        # Growth only in the first ten minutes, then flat: no leak.
        rows = samples(120)
        for r in rows[:10]:
            r["private_kb"] = str(50000 + int(r["elapsed_s"]) * 10)
        lines, bad = summary.memory_slopes(rows)
        self.assertEqual(bad, [], "\n".join(lines))

    def test_samples_without_channels_left_out(self):
        rows = samples(120)
        rows.append(dict(rows[-1], elapsed_s=str(121 * 60), channels="0", private_kb="900000"))
        lines, bad = summary.memory_slopes(rows)
        self.assertEqual(bad, [], "\n".join(lines))


class RepeatsTest(unittest.TestCase):
    """Equal neighbouring frames: a double delivery, or the clip's loop seen
    across frames skipped for loss."""
    AUD = b"\x00\x00\x01\x09\x30"
    ROWS = (
        # frames, arrival ms (None: no side file), repeats
        ("abcd", [0, 40, 80, 120], 0),
        ("abbc", [0, 40, 41, 80], 1),          # delivered twice
        ("abbc", [0, 40, 4040, 4080], 0),      # the loop: four seconds apart
        ("abbc", None, 1),                     # no arrival times: neighbours count
        ("abbc", [0, 40], 1),                  # times that do not fit are ignored
        ("-abbc", [0, 40, 80, 4080, 4120], 0), # a first frame before the first delimiter
        ("abab", [0, 40, 80, 120], 0),         # equal but not neighbours
    )

    def test_rows(self):
        import tempfile
        with tempfile.TemporaryDirectory() as d:
            for i, (frames, arrivals, expected) in enumerate(self.ROWS):
                path = os.path.join(d, "seg%d.h264" % i)
                with open(path, "wb") as f:
                    f.write(b"".join(c.encode() * 8 if c == "-" else self.AUD + c.encode() * 8 for c in frames))
                if arrivals is not None:
                    with open(path + ".ms", "w") as f:
                        f.write("".join("%d\n" % a for a in arrivals))
                self.assertEqual(summary.repeats(path), expected, (frames, arrivals))


if __name__ == "__main__":
    unittest.main()
