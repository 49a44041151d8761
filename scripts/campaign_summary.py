#!/usr/bin/env python3
"""Decodes what a campaign delivered and writes its summary.

  campaign_summary.py DIR [--no-decode]

Reads DIR/faults.tsv, rules.tsv, segments.tsv, leaks.tsv and memory.tsv
(written by the Campaign suite), decodes every file in DIR/frames with
`ffmpeg -v error` (decode.tsv: errors per file) and writes DIR/summary.txt.
Exit status 1 when a fault was not recovered from, a frame did not decode, a
rule was broken, a cycle check leaked or failed, or private bytes or handles
kept growing while the channels ran.
"""

import csv
import math
import os
import subprocess
import sys
from collections import OrderedDict

FORMATS = {".mjpeg": "mjpeg", ".h264": "h264", ".m4v": "m4v"}
# What start/stop and probe cycles may leave behind: process-wide objects
# made once (Winsock, WinHTTP sessions) and the allocator's own growth.
HANDLE_SLACK = 20
PRIVATE_KB_SLACK = 8192


# The memory slopes. Samples from the first WARMUP_S (or the first third of a
# shorter run) are left out: buffers, thread stacks and the allocator's arenas
# reach their working size then. A slope is judged only when the samples span
# MIN_SPAN_S; over less, a minute's step of the allocator reads as a trend
# (the default half-hour campaign is judged, the test command's minute not).
WARMUP_S = 600
MIN_SPAN_S = 1200
# A slope is a leak when it is above its bound and also above SIGNIFICANCE
# times its standard error: the significance alone is not enough, because a
# quiet process grows in single steps (the allocator takes another block, a
# handle is made lazily) that a straight line fits tightly. Three channels
# of the 32-bit build streaming undisturbed for 35 minutes grew after the
# warm-up by one 12 KiB step of private bytes and one handle: +13.6 +- 1.3
# KiB/h and +0.9 +- 0.1 handles/h per channel. The bounds stand about ten
# times above that, and below what one lost buffer or handle per reconnect
# makes: a channel meets a fault about every 30 s in a campaign, so 2 KiB
# lost per reconnect is about 240 KiB/h and one handle about 120/h. Faults
# make the samples noisy (thread stacks of reconnects come and go, some
# 2 MiB and a few handles for the process); over two hours that noise
# leaves the slope an error of some tens of KiB/h per channel, which the
# significance rule absorbs.
PRIVATE_KIB_PER_HOUR_BOUND = 128.0
HANDLES_PER_HOUR_BOUND = 6.0
SIGNIFICANCE = 3.0


def fit(points):
    """Least-squares line through (x, y): (slope, standard error of the
    slope); the error is None with fewer than three points."""
    n = len(points)
    if n < 2:
        return None, None
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    if sxx == 0:
        return None, None
    slope = sum((x - mx) * (y - my) for x, y in points) / sxx
    if n < 3:
        return slope, None
    sse = sum((y - my - slope * (x - mx)) ** 2 for x, y in points)
    return slope, math.sqrt(sse / (n - 2) / sxx)


# (column, label, unit, bound per hour and channel or None: shown, not judged)
SLOPES = (("private_kb", "private bytes", "KiB", PRIVATE_KIB_PER_HOUR_BOUND),
          ("handles", "handles", "", HANDLES_PER_HOUR_BOUND),
          ("threads", "threads", "", None),
          ("virtual_kb", "address space", "KiB", None))


def memory_slopes(rows):
    """The slopes per hour and channel over the samples after the warm-up.
    Returns (lines for the summary, findings)."""
    samples = [r for r in rows if int(r["channels"]) > 0]
    if len(samples) < 3:
        return ["memory: %d samples with channels running, not judged: run too short" % len(samples)], []
    t0 = int(samples[0]["elapsed_s"])
    span = int(samples[-1]["elapsed_s"]) - t0
    warmup = min(WARMUP_S, span / 3.0)
    judged = [r for r in samples if int(r["elapsed_s"]) - t0 >= warmup]
    channels = sum(int(r["channels"]) for r in judged) / float(len(judged)) if judged else 0
    too_short = span < MIN_SPAN_S or len(judged) < 3
    lines = ["memory: %d samples over %.1f min, the first %.1f min left out, %.1f channels running" % (
        len(samples), span / 60.0, warmup / 60.0, channels)]
    bad = []
    for column, label, unit, bound in SLOPES:
        points = [(int(r["elapsed_s"]) / 3600.0, float(r[column])) for r in judged]
        slope, err = fit(points)
        if slope is None or channels == 0:
            lines.append("  %-14s no slope" % label)
            continue
        per, per_err = slope / channels, (err / channels if err is not None else None)
        shown = "%-14s %+10.2f %s/h per channel (+- %s)" % (
            label, per, unit or "", "%.2f" % per_err if per_err is not None else "?")
        if bound is None:
            verdict = "shown only"
        elif too_short:
            verdict = "not judged: run too short (%.1f min of samples, %d needed)" % (
                span / 60.0, MIN_SPAN_S // 60)
        elif per > bound and per_err is not None and per > SIGNIFICANCE * per_err:
            verdict = "GROWS (bound %g)" % bound
            bad.append("%s grow by %.2f %s/h per channel (bound %g, +- %.2f)" % (
                label, per, unit or "", bound, per_err))
        else:
            verdict = "ok (bound %g)" % bound
        lines.append("  %s  %s" % (shown, verdict))
    return lines, bad


def read_tsv(path):
    if not os.path.exists(path):
        return None
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def decode(path):
    fmt = FORMATS.get(os.path.splitext(path)[1])
    args = ["ffmpeg", "-hide_banner", "-nostdin", "-v", "error"]
    if fmt:
        args += ["-f", fmt]
    args += ["-i", path, "-f", "null", "-"]
    r = subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, errors="replace")
    lines = [l for l in r.stderr.splitlines() if l.strip()]
    if r.returncode != 0 and not lines:
        lines = ["ffmpeg exit %d" % r.returncode]
    # The null muxer's complaint about time going backwards is no decoding
    # error: a raw MPEG-4 stream's times count on from the last picture that
    # carried a seconds step, so losing that picture sends the next ones back
    # a second. Counted apart, since frames delivered out of order show the
    # same way.
    errors, timing = [], []
    last = errors
    for line in lines:
        if "Last message repeated" in line:
            last.append(line)
            continue
        last = timing if "non monotonically increasing dts" in line else errors
        last.append(line)
    return errors, timing


# Equal neighbours further apart than this are the clip's loop (4 s), not a
# frame delivered twice.
REPEAT_WINDOW_MS = 1000
# Where one delivered frame ends and the next begins in each file.
SPLITS = {".mjpeg": b"\xff\xd8", ".h264": b"\x00\x00\x01\x09\x30", ".m4v": b"\x00\x00\x01\xb6"}


def repeats(path):
    """Frames equal to the frame before them and arriving with it: delivered
    twice. The server's clip loops every few seconds, and after a broken
    sequence the driver skips to the next key frame, so with heavy loss two
    neighbours can be the same picture one loop apart; the arrival times
    (PATH.ms, one line per frame) tell those apart. Without them only
    neighbours count, as before."""
    marker = SPLITS.get(os.path.splitext(path)[1])
    if marker is None:
        return 0
    with open(path, "rb") as f:
        parts = f.read().split(marker)[1:]
    arrivals = []
    if os.path.exists(path + ".ms"):
        with open(path + ".ms") as f:
            arrivals = [int(x) for x in f.read().split() if x.lstrip("-").isdigit()]
    # An H.264 file has no delimiter before its first frame, so its first
    # frame is not among the parts: align the times from the end.
    if 0 <= len(arrivals) - len(parts) <= 1:
        arrivals = arrivals[len(arrivals) - len(parts):]
    else:
        arrivals = []
    n = 0
    for i in range(1, len(parts)):
        if parts[i] != parts[i - 1]:
            continue
        if arrivals and arrivals[i] - arrivals[i - 1] >= REPEAT_WINDOW_MS:
            continue
        n += 1
    return n


def main(argv):
    directory = argv[1]
    do_decode = "--no-decode" not in argv
    faults = read_tsv(os.path.join(directory, "faults.tsv"))
    rules = read_tsv(os.path.join(directory, "rules.tsv"))
    segments = read_tsv(os.path.join(directory, "segments.tsv"))
    leaks = read_tsv(os.path.join(directory, "leaks.tsv"))
    memory = read_tsv(os.path.join(directory, "memory.tsv"))
    out = []
    bad = []
    notes = []

    decode_errors = {}  # (kind, label) -> errors
    timing_errors = {}
    repeated = {}
    decoded_frames = {}
    if segments is not None:
        rows = []
        for s in segments:
            path = os.path.join(directory, "frames", s["file"])
            errors, timing = decode(path) if do_decode and os.path.exists(path) else ([], [])
            key = (s["kind"], s["fault"])
            decode_errors[key] = decode_errors.get(key, 0) + len(errors)
            timing_errors[key] = timing_errors.get(key, 0) + len(timing)
            again = repeats(path) if os.path.exists(path) else 0
            repeated[key] = repeated.get(key, 0) + again
            decoded_frames[key] = decoded_frames.get(key, 0) + int(s["frames"])
            rows.append((s["file"], len(errors), len(timing), again, (errors + timing + [""])[0]))
        with open(os.path.join(directory, "decode.tsv"), "w") as f:
            f.write("file\terrors\ttiming_errors\trepeated_frames\tfirst_error\n")
            for r in rows:
                f.write("%s\t%d\t%d\t%d\t%s\n" % r)

    if faults is not None:
        # A fault's window runs from its injection to the channel's next one.
        by_channel = {}
        for r in faults:
            by_channel.setdefault(r["channel"], []).append(r)
        for rows_ in by_channel.values():
            rows_.sort(key=lambda r: int(r["injected_ms"]))
            for a, b in zip(rows_, rows_[1:]):
                a["window_ms"] = int(b["injected_ms"]) - int(a["injected_ms"])
        table = OrderedDict()
        for r in faults:
            key = (r["kind"], r["fault"])
            t = table.setdefault(key, {"n": 0, "ok": 0, "worst": 0, "frames": 0, "wframes": 0, "wms": 0})
            t["n"] += 1
            t["frames"] += int(r["frames"])
            if "window_ms" in r:
                t["wframes"] += int(r["frames"])
                t["wms"] += r["window_ms"]
            if r["fault"] == "long_outage" and r.get("loss_reports", "1") == "0":
                bad.append("channel %s %s long_outage at %s ms: no loss report" % (
                    r["channel"], r["kind"], r["injected_ms"]))
            if r["fault"] == "long_outage" and r.get("lost_state", "1") == "0":
                bad.append("channel %s %s long_outage at %s ms: signal lost never reported as the state" % (
                    r["channel"], r["kind"], r["injected_ms"]))
            if r["recovered"] == "1":
                t["ok"] += 1
                t["worst"] = max(t["worst"], int(r["recovery_ms"]))
        for key in decode_errors:
            if key not in table and key[1] in ("start", "rebuilt"):
                table[key] = {"n": 0, "ok": 0, "worst": 0, "frames": decoded_frames.get(key, 0),
                              "wframes": 0, "wms": 0}
        out.append("%-6s %-15s %8s %10s %14s %9s %7s %13s %13s %8s" % (
            "kind", "fault", "injected", "recoveries", "worst recovery", "frames", "fps",
            "decode errors", "timing errors", "repeats"))
        for key in sorted(table, key=lambda k: (k[0], k[1])):
            t = table[key]
            errs = decode_errors.get(key, 0) if do_decode else "-"
            timing = timing_errors.get(key, 0) if do_decode else "-"
            fps = "%.1f" % (t["wframes"] * 1000.0 / t["wms"]) if t["wms"] else "-"
            out.append("%-6s %-15s %8d %10d %13.1fs %9d %7s %13s %13s %8d" % (
                key[0], key[1], t["n"], t["ok"], t["worst"] / 1000.0, t["frames"], fps, errs, timing,
                repeated.get(key, 0)))
            if repeated.get(key, 0):
                bad.append("%s %s: %d frames delivered twice" % (key[0], key[1], repeated[key]))
            if t["ok"] < t["n"]:
                bad.append("%s %s: %d of %d not recovered" % (key[0], key[1], t["n"] - t["ok"], t["n"]))
            if do_decode and decode_errors.get(key, 0):
                bad.append("%s %s: %d decode errors" % (key[0], key[1], decode_errors[key]))
            if do_decode and timing_errors.get(key, 0):
                notes.append("%s %s: %d timing errors (time going backwards in the delivered stream)" % (
                    key[0], key[1], timing_errors[key]))
        out.append("")

    if rules is not None:
        out.append("%-3s %-6s %8s %6s %11s %11s %11s %7s %9s %8s" % (
            "ch", "kind", "frames", "losses", "early loss", "early state", "stale state", "rebuilt",
            "ctl errs", "stop max"))
        for r in rules:
            out.append("%-3s %-6s %8s %6s %11s %11s %11s %7s %9s %7.1fs" % (
                r["channel"], r["kind"], r["frames"], r["loss_reports"], r["early_loss_reports"],
                r["early_lost_states"], r["stale_streaming_states"], r["rebuilt"], r["control_errors"],
                int(r["worst_stop_ms"]) / 1000.0))
            for field, what in (("early_loss_reports", "loss reported before the stream time-out"),
                                ("early_lost_states", "signal lost reported before half the time-out"),
                                ("stale_streaming_states", "streaming reported long after the last frame"),
                                ("overruns", "frame overruns"), ("outstanding", "frames never released")):
                if int(r[field]):
                    bad.append("channel %s %s: %s %s" % (r["channel"], r["kind"], r[field], what))
            if int(r["frames"]) == 0:
                bad.append("channel %s %s: no frames" % (r["channel"], r["kind"]))
        for r in rules:
            if r["proxy"] != "-":
                out.append("proxy ch%s: %s" % (r["channel"], r["proxy"]))
        out.append("")

    if leaks is not None:
        out.append("%-18s %7s %15s %15s %21s %8s" % ("cycles", "count", "threads", "handles", "private KB", "failures"))
        for r in leaks:
            out.append("%-18s %7s %7s -> %-5s %7s -> %-5s %9s -> %-9s %8s" % (
                r["cycle_kind"], r["cycles"], r["threads_before"], r["threads_after"], r["handles_before"],
                r["handles_after"], r["private_kb_before"], r["private_kb_after"], r["failures"]))
            if int(r["threads_after"]) > int(r["threads_before"]):
                bad.append("%s: threads left behind" % r["cycle_kind"])
            if int(r["handles_after"]) > int(r["handles_before"]) + HANDLE_SLACK:
                bad.append("%s: handles grew" % r["cycle_kind"])
            if int(r["private_kb_after"]) > int(r["private_kb_before"]) + PRIVATE_KB_SLACK:
                bad.append("%s: private bytes grew" % r["cycle_kind"])
            if int(r["failures"]):
                bad.append("%s: %s failures" % (r["cycle_kind"], r["failures"]))
        out.append("")

    if memory is not None:
        lines, grows = memory_slopes(memory)
        out.extend(lines)
        bad.extend(grows)
        out.append("")

    out.append("findings: %d" % len(bad))
    out.extend("  " + b for b in bad)
    if notes:
        out.append("notes (a raw MPEG-4 stream's times count from the last picture with a seconds step;")
        out.append("       a skipped picture that carried one sends the following ones back):")
        out.extend("  " + n for n in notes)
    text = "\n".join(out) + "\n"
    with open(os.path.join(directory, "summary.txt"), "w") as f:
        f.write(text)
    sys.stdout.write(text)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
