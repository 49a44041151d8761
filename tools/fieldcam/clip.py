"""The looped clips a field camera serves: elementary streams made with
ffmpeg from a test source (or given), cut into frames.

An H.264 frame is a list of NAL units without start codes; an MPEG-4 Visual
frame is the bytes of one VOP with the headers that precede it.
"""

import os
import subprocess

SIZE = "640x360"
RATE = 15
SECONDS = 4


def encode(directory, codec, size=SIZE, rate=RATE, seconds=SECONDS):
    """Encodes a clip once per directory; returns its path."""
    name = "clip-%s-%s-%d.%s" % (codec, size, rate, "h264" if codec == "h264" else "m4v")
    path = os.path.join(directory, name)
    if os.path.exists(path) and os.path.getsize(path) > 0:
        return path
    source = ["-f", "lavfi", "-i", "testsrc=size=%s:rate=%d" % (size, rate), "-t", str(seconds)]
    if codec == "h264":
        # Parameter sets before every key frame, so a client joining at any
        # loop turn can decode; no B pictures, as cameras send none.
        args = ["-c:v", "libx264", "-profile:v", "baseline", "-pix_fmt", "yuv420p", "-bf", "0",
                "-g", str(rate), "-x264-params", "repeat-headers=1", "-f", "h264"]
    else:
        args = ["-c:v", "mpeg4", "-bf", "0", "-g", str(rate), "-q:v", "5", "-f", "m4v"]
    tmp = path + ".tmp.%d" % os.getpid()
    subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                    *source, *args, tmp], check=True)
    os.replace(tmp, path)
    return path


def start_codes(data):
    """Offsets of the first byte after each 00 00 01, with the offset where
    the start code itself begins (a 00 00 00 01 counts from its first zero)."""
    found = []
    i = 0
    n = len(data)
    while True:
        i = data.find(b"\x00\x00\x01", i)
        if i < 0 or i + 3 > n:
            return found
        begin = i - 1 if i > 0 and data[i - 1] == 0 else i
        found.append((begin, i + 3))
        i += 3


def split_nal_units(data):
    codes = start_codes(data)
    units = []
    for k, (_, at) in enumerate(codes):
        end = codes[k + 1][0] if k + 1 < len(codes) else len(data)
        unit = data[at:end]
        if unit:
            units.append(unit)
    return units


def nal_type(unit):
    return unit[0] & 0x1F


def h264_frames(data):
    """Groups NAL units into access units: a new one starts at a delimiter,
    parameter set or SEI after a slice, or at a slice whose first macroblock
    is 0 (its first payload bit is 1) after a slice."""
    frames = []
    current = []
    has_slice = False
    for unit in split_nal_units(data):
        t = nal_type(unit)
        starts = False
        if has_slice and t in (6, 7, 8, 9):
            starts = True
        elif has_slice and t in (1, 5) and len(unit) > 1 and unit[1] & 0x80:
            starts = True
        if starts:
            frames.append(current)
            current = []
            has_slice = False
        current.append(unit)
        if t in (1, 5):
            has_slice = True
    if current and has_slice:
        frames.append(current)
    return frames


def h264_is_key(frame):
    return any(nal_type(u) == 5 for u in frame)


def mpeg4_frames(data):
    """Cuts before the first start code that follows a VOP (0xB6)."""
    frames = []
    begin = 0
    seen_vop = False
    for at, after in start_codes(data):
        if after >= len(data):
            break
        if seen_vop:
            frames.append(data[begin:at])
            begin = at
            seen_vop = False
        if data[after] == 0xB6:
            seen_vop = True
    if seen_vop:
        frames.append(data[begin:])
    return frames


def mpeg4_is_key(frame):
    at = frame.find(b"\x00\x00\x01\xb6")
    return at >= 0 and at + 4 < len(frame) and (frame[at + 4] >> 6) == 0


def mpeg4_config(frame):
    """The headers before the first VOP (visual object sequence to VOL)."""
    at = frame.find(b"\x00\x00\x01\xb6")
    return frame[:at] if at > 0 else b""


class Clip:
    def __init__(self, codec, path, rate=RATE):
        self.codec = codec
        self.path = path
        self.rate = rate
        with open(path, "rb") as f:
            data = f.read()
        if codec == "h264":
            self.frames = h264_frames(data)
            self.keys = [h264_is_key(f) for f in self.frames]
            self.sps = next((u for f in self.frames for u in f if nal_type(u) == 7), b"")
            self.pps = next((u for f in self.frames for u in f if nal_type(u) == 8), b"")
            self.config = b""
        else:
            self.frames = mpeg4_frames(data)
            self.keys = [mpeg4_is_key(f) for f in self.frames]
            self.config = mpeg4_config(self.frames[0]) if self.frames else b""
            self.sps = self.pps = b""
        if not self.frames or not self.keys[0]:
            raise ValueError("clip %s does not start with a key frame" % path)
