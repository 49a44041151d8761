"""Sends one session's clip, paced at its frame rate and looping, over UDP
or interleaved on the RTSP connection, with RTCP sender reports, shaped by
the session's profile."""

import os
import random
import struct
import threading
import time

import packetizer

PT = 96
FOREIGN_PT = 100
CLOCK = 90000
HOURS_AWAY = 3 * 3600 * CLOCK


class Streamer:
    def __init__(self, profile, clip, send_rtp, send_rtcp, send_raw, alive, log):
        """send_rtp/send_rtcp(bytes) deliver one packet; send_raw(bytes)
        writes bytes between interleaved frames (None over UDP); alive()
        says whether the session still stands; log(text) notes events."""
        self.p = profile
        self.clip = clip
        self.send_rtp = send_rtp
        self.send_rtcp = send_rtcp
        self.send_raw = send_raw
        self.alive = alive
        self.log = log
        self.seq = random.randint(0, 0xFFFF)
        self.ssrc = random.randint(1, 0xFFFFFFFF)
        self.ts_base = random.randint(0, 0xFFFFFFFF)
        self.packets = 0
        self.octets = 0
        self.frames_sent = 0
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._run, name="stream", daemon=True)

    def first_seq_and_ts(self):
        return self.seq, self.ts_base

    def start(self):
        self.thread.start()

    def close(self):
        self.stop.set()

    def _payloads(self, index, frame):
        if self.clip.codec != "h264":
            return packetizer.mpeg4_payloads(frame, self.p["mtu"])
        if self.p["sprop"] == "sdp_only":
            frame = [u for u in frame if (u[0] & 0x1F) not in (7, 8)]
        fault = None
        if self.p["fu_faults"]:
            fault = ("both_bits", "reserved", "type_change")[index % 3]
        return packetizer.h264_payloads(frame, self.p["mtu"], self.p["packetize"], fault)

    def _send(self, payload, ts, marker, pt=PT, seq=None):
        packet = packetizer.rtp_header(pt, self.seq if seq is None else seq, ts, self.ssrc, marker) + payload
        self.send_rtp(packet)
        if seq is None:
            self.seq = (self.seq + 1) & 0xFFFF
            self.packets += 1
            self.octets += len(payload)

    def _report(self, ts):
        report = packetizer.sender_report(self.ssrc, time.time(), ts, self.packets, self.octets)
        if self.p["interleaved_mixed"] and self.send_raw is not None:
            report += packetizer.sdes_without_end(self.ssrc)
        self.send_rtcp(report)

    def _run(self):
        rate = self.clip.rate
        step = CLOCK // rate
        n = len(self.clip.frames)
        t0 = time.monotonic()
        next_report = t0
        ts_shift = 0
        try:
            for i in range(1 << 62):
                due = t0 + i / rate
                delay = due - time.monotonic()
                if delay > 0 and self.stop.wait(delay):
                    return
                if self.stop.is_set() or not self.alive():
                    return
                k = i % n
                if k == 0 and i > 0 and self.p["timestamps_odd"]:
                    ts_shift -= CLOCK  # a second back at every loop turn
                ts = self.ts_base + i * step + ts_shift
                if self.p["timestamps_odd"] and i % 75 == 37:
                    ts += HOURS_AWAY
                if self.p["ssrc_per_idr"] and self.clip.keys[k] and i > 0:
                    self.ssrc = random.randint(1, 0xFFFFFFFF)
                payloads = self._payloads(i, self.clip.frames[k])
                if self.p["foreign_payload"] and i % 5 == 0:
                    # Same SSRC, the sequence number the frame's first packet
                    # will carry.
                    self._send(os.urandom(40), ts, True, pt=FOREIGN_PT, seq=self.seq)
                for j, payload in enumerate(payloads):
                    self._send(payload, ts, self.p["marker"] and j == len(payloads) - 1)
                self.frames_sent += 1
                if self.send_raw is not None and self.p["interleaved_mixed"]:
                    if i % 30 == 15:
                        self.send_raw(b"\r\nGARBAGE\x00\x01\x02 not RTSP at all\r\n")
                    if i % 45 == 20:
                        self.send_raw(b"$\x09" + struct.pack(">H", 48) + os.urandom(48))
                now = time.monotonic()
                if now >= next_report:
                    next_report = now + 1.0
                    self._report(ts)
        except OSError as e:
            self.log("stream ended: %s" % e)
