"""Baseline JPEG pictures for the Motion JPEG stream.

Pictures are produced once per size with ffmpeg's test source and kept in a
cache directory under /tmp (shared between simulator processes) and in
memory.  Without ffmpeg, the few pictures committed next to this file are
used whatever size was asked for.  Every delivered picture gets a comment
segment carrying a frame counter, so no two delivered pictures are equal.
"""

import glob
import os
import shutil
import subprocess
import tempfile
import threading

FRAMES = 30
CACHE_ROOT = os.path.join(tempfile.gettempdir(), "camsim-jpeg-cache")
FALLBACK_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fallback")

_lock = threading.Lock()
_sets = {}


class PictureSet:
    def __init__(self, width, height, pictures):
        self.width = width
        self.height = height
        self.pictures = pictures

    def picture(self, number):
        """The picture for frame number, tagged with that number."""
        return tag_picture(self.pictures[number % len(self.pictures)], number)


def tag_picture(jpeg, number):
    """Inserts a COM segment after SOI (and after a leading APP0 segment)."""
    text = b"camsim frame %010d" % number
    segment = b"\xff\xfe" + (len(text) + 2).to_bytes(2, "big") + text
    pos = 2
    if jpeg[2:4] == b"\xff\xe0" and len(jpeg) >= 6:
        pos = 4 + int.from_bytes(jpeg[4:6], "big")
    return jpeg[:pos] + segment + jpeg[pos:]


def frame_number(jpeg):
    """Reads back the counter written by tag_picture, or None."""
    at = jpeg.find(b"camsim frame ")
    if at < 0:
        return None
    return int(jpeg[at + 13:at + 23])


def sof_size(jpeg):
    """(width, height) from the first baseline SOF0 header, or None."""
    at = jpeg.find(b"\xff\xc0")
    if at < 0 or at + 9 > len(jpeg):
        return None
    return (int.from_bytes(jpeg[at + 7:at + 9], "big"), int.from_bytes(jpeg[at + 5:at + 7], "big"))


def _read_dir(path):
    pictures = []
    for name in sorted(glob.glob(os.path.join(path, "*.jpg"))):
        with open(name, "rb") as f:
            pictures.append(f.read())
    return pictures


def _generate(width, height):
    final = os.path.join(CACHE_ROOT, "%dx%d" % (width, height))
    if os.path.exists(os.path.join(final, "done")):
        pictures = _read_dir(final)
        if len(pictures) == FRAMES:
            return pictures
    ffmpeg = shutil.which("ffmpeg")
    if not ffmpeg:
        return None
    os.makedirs(CACHE_ROOT, exist_ok=True)
    work = tempfile.mkdtemp(prefix="gen-", dir=CACHE_ROOT)
    try:
        cmd = [ffmpeg, "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi",
               "-i", "testsrc=size=%dx%d:rate=%d" % (width, height, FRAMES),
               "-frames:v", str(FRAMES), "-q:v", "5", "-pix_fmt", "yuvj420p",
               "-f", "image2", os.path.join(work, "%03d.jpg")]
        result = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                timeout=120)
        pictures = _read_dir(work)
        if result.returncode != 0 or len(pictures) != FRAMES:
            return None
        open(os.path.join(work, "done"), "w").close()
        try:
            os.rename(work, final)
            work = None
        except OSError:
            pass  # another process finished first; its pictures are equal
        return pictures
    except (OSError, subprocess.SubprocessError):
        return None
    finally:
        if work:
            shutil.rmtree(work, ignore_errors=True)


def load(width, height):
    """The PictureSet for a size; falls back to the committed pictures."""
    key = (width, height)
    with _lock:
        found = _sets.get(key)
        if found is None:
            pictures = _generate(width, height)
            if pictures:
                found = PictureSet(width, height, pictures)
            else:
                fallback = _read_dir(FALLBACK_DIR)
                w, h = sof_size(fallback[0])
                found = PictureSet(w, h, fallback)
            _sets[key] = found
        return found
