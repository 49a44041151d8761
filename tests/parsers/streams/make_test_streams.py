#!/usr/bin/env python3
"""Generates real encoder material for the parser tests.

Encodes short synthetic clips with ffmpeg (H.264 with libx264, MPEG-4 Part 2
with the mpeg4 encoder, Motion JPEG), sends the H.264 and MPEG-4 clips
through ffmpeg's RTP muxer to a loopback UDP port and records every datagram.

Output directory layout:
  streams.txt       one line per stream: name kind codec width height frames gop
                    (kind "rtp" or "mjpeg")
  <name>.rtp        recorded datagrams, each as a 4-byte big-endian length
                    followed by the datagram
  <name>.sdp        the session description ffmpeg printed for it
  <name>.mjpeg      a multipart JPEG body (mpjpeg muxer)
"""
import os
import select
import socket
import struct
import subprocess
import sys
import time

SOURCE = "testsrc2=size={w}x{h}:rate=25"

# name, codec, width, height, frames, gop, in-band headers, extra encoder options
RTP_STREAMS = [
    # several slices per picture: FU-A fragments of each slice
    ("h264_640", "h264", 640, 480, 150, 25, True, ["-slices", "4"]),
    ("h264_1080", "h264", 1920, 1080, 60, 30, True, []),
    ("h264_352_sdp", "h264", 352, 288, 100, 20, False, []),
    # small pictures: single NAL unit packets and aggregates holding slices
    ("h264_176", "h264", 176, 144, 100, 25, True, ["-b:v", "60k"]),
    ("mpeg4_640", "mpeg4", 640, 480, 150, 25, True, []),
    ("mpeg4_350_sdp", "mpeg4", 350, 250, 100, 20, False, []),
    ("mpeg4_1080", "mpeg4", 1920, 1080, 40, 20, True, []),
]
MJPEG_STREAMS = [
    ("mjpeg_1280", 1280, 720, 40),
    ("mjpeg_176", 176, 144, 20),
]


def encoder_args(codec, gop, inband, extra):
    if codec == "h264":
        args = ["-c:v", "libx264", "-preset", "veryfast", "-bf", "0", "-g", str(gop),
                "-keyint_min", str(gop), "-sc_threshold", "0", "-pix_fmt", "yuv420p"]
    else:
        args = ["-c:v", "mpeg4", "-bf", "0", "-g", str(gop), "-q:v", "5", "-pix_fmt", "yuv420p"]
    if not inband:
        args += ["-flags", "+global_header"]
    return args + list(extra)


def bind_pair():
    """An RTP socket on an even port and the RTCP socket next to it."""
    for _ in range(50):
        rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        rtp.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        rtp.bind(("127.0.0.1", 0))
        port = rtp.getsockname()[1]
        if port % 2:
            rtp.close()
            continue
        rtcp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            rtcp.bind(("127.0.0.1", port + 1))
        except OSError:
            rtp.close()
            rtcp.close()
            continue
        return rtp, rtcp, port
    raise RuntimeError("no free UDP port pair")


def record(out_dir, name, codec, w, h, frames, gop, inband, extra, realtime):
    rtp, rtcp, port = bind_pair()
    sdp_path = os.path.join(out_dir, name + ".sdp")
    cmd = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y"]
    if realtime:
        cmd += ["-re"]
    cmd += ["-f", "lavfi", "-i", SOURCE.format(w=w, h=h), "-frames:v", str(frames)]
    cmd += encoder_args(codec, gop, inband, extra)
    cmd += ["-f", "rtp", "-payload_type", "96", "-sdp_file", sdp_path,
            "rtp://127.0.0.1:%d?pkt_size=1400" % port]
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    datagrams = []
    quiet_since = None
    while True:
        ready, _, _ = select.select([rtp, rtcp], [], [], 0.2)
        for s in ready:
            data = s.recv(65536)
            if s is rtp:
                datagrams.append(data)
        if ready:
            quiet_since = None
            continue
        if proc.poll() is not None:
            if quiet_since is None:
                quiet_since = time.monotonic()
            elif time.monotonic() - quiet_since > 0.5:
                break
    err = proc.stderr.read().decode(errors="replace")
    rtp.close()
    rtcp.close()
    if proc.returncode != 0:
        raise RuntimeError("ffmpeg failed for %s: %s" % (name, err))
    # The recording must be complete: contiguous sequence numbers.
    seqs = [struct.unpack(">H", d[2:4])[0] for d in datagrams]
    complete = bool(seqs) and all(((b - a) & 0xFFFF) == 1 for a, b in zip(seqs, seqs[1:]))
    if not complete:
        return False
    with open(os.path.join(out_dir, name + ".rtp"), "wb") as f:
        for d in datagrams:
            f.write(struct.pack(">I", len(d)))
            f.write(d)
    return True


def make_mjpeg(out_dir, name, w, h, frames):
    path = os.path.join(out_dir, name + ".mjpeg")
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi",
                    "-i", SOURCE.format(w=w, h=h), "-frames:v", str(frames), "-c:v", "mjpeg",
                    "-q:v", "4", "-pix_fmt", "yuvj420p", "-f", "mpjpeg", path], check=True)


def main():
    if len(sys.argv) != 2:
        print("usage: make_test_streams.py OUTPUT_DIR", file=sys.stderr)
        return 2
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    lines = []
    for name, codec, w, h, frames, gop, inband, extra in RTP_STREAMS:
        ok = record(out_dir, name, codec, w, h, frames, gop, inband, extra, realtime=False)
        if not ok:  # loopback dropped datagrams at full speed: pace the sender
            ok = record(out_dir, name, codec, w, h, frames, gop, inband, extra, realtime=True)
        if not ok:
            print("could not record %s without loss" % name, file=sys.stderr)
            return 1
        lines.append("%s rtp %s %d %d %d %d" % (name, codec, w, h, frames, gop))
        print("recorded", name)
    for name, w, h, frames in MJPEG_STREAMS:
        make_mjpeg(out_dir, name, w, h, frames)
        lines.append("%s mjpeg jpeg %d %d %d 1" % (name, w, h, frames))
        print("encoded", name)
    with open(os.path.join(out_dir, "streams.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
