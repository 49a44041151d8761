#!/usr/bin/env python3
"""Derives the small seed corpora of the parser fuzz targets from the real
streams made by make_test_streams.py.

usage: make_fuzz_seeds.py STREAMS_DIR CORPUS_DIR
(CORPUS_DIR is tests/fuzz/corpus; the seeds are committed.)
"""
import base64
import os
import re
import struct
import sys


def datagrams(path):
    data = open(path, "rb").read()
    out, pos = [], 0
    while pos + 4 <= len(data):
        (n,) = struct.unpack(">I", data[pos:pos + 4])
        out.append(data[pos + 4:pos + 4 + n])
        pos += 4 + n
    return out


def record(flags, payload):
    return bytes([flags]) + struct.pack(">H", len(payload)) + payload


def packet_records(dgrams, limit):
    """Depacketizer fuzz format: raw datagrams (flag 0x08), up to limit bytes."""
    out = b""
    for d in dgrams:
        r = record(0x08, d)
        if len(out) + len(r) > limit:
            break
        out += r
    return out


def write(corpus, target, name, data):
    d = os.path.join(corpus, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def sdp_sets(text):
    m = re.search(r"sprop-parameter-sets=([^;\s]+)", text)
    if not m:
        return b"", b""
    parts = m.group(1).split(",")
    return base64.b64decode(parts[0]), base64.b64decode(parts[1])


def sdp_config(text):
    m = re.search(r"config=([0-9A-Fa-f]+)", text)
    return bytes.fromhex(m.group(1)) if m else b""


def main():
    streams, corpus = sys.argv[1], sys.argv[2]
    p = lambda n: os.path.join(streams, n)

    # Small H.264 stream: parameter sets only in the description. Keep a
    # key frame and a few predicted frames.
    text = open(p("h264_352_sdp.sdp")).read()
    sps, pps = sdp_sets(text)
    h264 = datagrams(p("h264_352_sdp.rtp"))
    write(corpus, "h264_depacketizer", "sdp_sets", record(0, sps) + record(0, pps) + packet_records(h264, 24000))
    inband = datagrams(p("h264_640.rtp"))
    write(corpus, "h264_depacketizer", "inband_sets", record(0, b"") + record(0, b"") + packet_records(inband, 24000))
    write(corpus, "sps_reader", "sdp_sps", b"\0\0\1" + sps + b"\0\0\1" + pps)
    for i, d in enumerate(inband[:3]):
        write(corpus, "rtp_parse", "h264_%d" % i, d[:300])
        write(corpus, "sps_reader", "first_packet_%d" % i, b"\0\0\1" + d[12:140] if d[12] & 0x1F != 24
              else b"\0\0\1" + d[15:140])

    mp4 = datagrams(p("mpeg4_640.rtp"))
    write(corpus, "mpeg4_depacketizer", "inband", record(0, b"") + record(0, b"") + packet_records(mp4, 24000))
    text = open(p("mpeg4_350_sdp.sdp")).read()
    config = sdp_config(text)
    mp4sdp = datagrams(p("mpeg4_350_sdp.rtp"))
    write(corpus, "mpeg4_depacketizer", "sdp_config", record(0, config) + record(0, b"") + packet_records(mp4sdp, 24000))
    write(corpus, "mp4_header", "sdp_config", config)
    write(corpus, "mp4_header", "inband_header", mp4[0][12:200])
    write(corpus, "rtp_parse", "mpeg4_0", mp4[0][:300])

    for name in ("h264_640", "h264_352_sdp", "mpeg4_350_sdp"):
        write(corpus, "sdp", name, open(p(name + ".sdp"), "rb").read())
    write(corpus, "sdp", "camera",
          b"v=0\r\no=- 1 1 IN IP4 10.0.0.5\r\ns=Live\r\nc=IN IP4 0.0.0.0\r\na=control:*\r\n"
          b"m=video 0 RTP/AVP 96\r\nc=IN IP4 239.1.1.1/16\r\na=rtpmap:96 H264/90000\r\n"
          b"a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAH5WoFAFuQA==,aM48gA==\r\n"
          b"a=control:trackID=1\r\nm=audio 0 RTP/AVP 0\r\na=control:trackID=2\r\n")

    body = open(p("h264_352_sdp.sdp"), "rb").read()
    write(corpus, "rtsp_response", "describe",
          b"\x00RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Base: rtsp://10.0.0.5/h264/\r\n"
          b"Content-Type: application/sdp\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
    write(corpus, "rtsp_response", "setup",
          b"\x01RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 12AB;timeout=60\r\n"
          b"Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n"
          b"RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 12AB\r\nRTP-Info: url=rtsp://x/;seq=1\r\n\r\n")
    write(corpus, "rtsp_response", "challenge",
          b"\x00RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n"
          b"WWW-Authenticate: Digest realm=\"cam\", nonce=\"0a1b2c3d\", stale=FALSE\r\n\r\n")

    stream = b""
    for d in h264[:6]:
        stream += b"$\x00" + struct.pack(">H", len(d)) + d
    rr = bytes([0x81, 201, 0, 7]) + bytes(28)
    bye = bytes([0x81, 203, 0, 1, 1, 2, 3, 4])
    stream += b"$\x01" + struct.pack(">H", len(rr + bye)) + rr + bye
    reply = b"RTSP/1.0 200 OK\r\nCSeq: 5\r\n\r\n"
    chunks = [stream[:700], reply + stream[700:2000], stream[2000:]]
    write(corpus, "rtsp_stream", "interleaved", b"\x00" + b"".join(record(0, c) for c in chunks))

    mj = open(p("mjpeg_176.mjpeg"), "rb").read()
    first = mj.find(b"--ffmpeg", 10)
    part = mj[:first if first > 0 else 9000]
    write(corpus, "jpeg_scanner", "one_part", record(0, part))
    write(corpus, "jpeg_scanner", "split_parts", record(0x03, part[:400]) + record(0, part[400:]) + record(0x01, part[:64]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
