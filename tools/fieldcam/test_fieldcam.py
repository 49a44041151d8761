"""Self-tests of the field camera: clip cutting, packetizing, the check of
credentials, and whole exchanges with a few profiles."""

import base64
import os
import socket
import struct
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import auth  # noqa: E402
import clip as cliplib  # noqa: E402
import packetizer  # noqa: E402
import profiles  # noqa: E402
from server import FieldServer  # noqa: E402

CLIPS = {}
CLIENTS = []


def clips():
    if not CLIPS:
        d = os.environ.get("FIELDCAM_CLIP_DIR") or os.path.join(tempfile.gettempdir(), "fieldcam-test-clips")
        os.makedirs(d, exist_ok=True)
        CLIPS["h264"] = cliplib.Clip("h264", cliplib.encode(d, "h264"))
        CLIPS["mpeg4"] = cliplib.Clip("mpeg4", cliplib.encode(d, "mpeg4"))
    return CLIPS


def unfragment(payloads):
    """Rebuilds NAL units from single, STAP-A and FU-A payloads."""
    units, current = [], None
    for p in payloads:
        t = p[0] & 0x1F
        if t == packetizer.FU_A:
            if p[1] & 0x80:
                current = bytearray([(p[0] & 0xE0) | (p[1] & 0x1F)])
            current += p[2:]
            if p[1] & 0x40:
                units.append(bytes(current))
        elif t == packetizer.STAP_A:
            at = 1
            while at + 2 <= len(p):
                n = struct.unpack(">H", p[at:at + 2])[0]
                units.append(p[at + 2:at + 2 + n])
                at += 2 + n
        else:
            units.append(p)
    return units


class Client:
    """Just enough RTSP to drive the server in a test."""

    def __init__(self, port, user="admin", password="pw"):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        CLIENTS.append(self.sock)
        self.cseq = 0
        self.user, self.password = user, password
        self.buf = b""

    def request(self, method, url, headers=(), authorization=None):
        self.cseq += 1
        lines = ["%s %s RTSP/1.0" % (method, url), "CSeq: %d" % self.cseq, "User-Agent: test"]
        if authorization:
            lines.append("Authorization: " + authorization)
        lines.extend(headers)
        self.sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        return self.response()

    def response(self):
        while True:
            while self.buf[:1] == b"$" and len(self.buf) >= 4:
                n = struct.unpack(">H", self.buf[2:4])[0]
                if len(self.buf) < 4 + n:
                    break
                self.buf = self.buf[4 + n:]
            end = self.buf.find(b"\r\n\r\n")
            if self.buf[:1] != b"$" and end >= 0:
                head = self.buf[:end].decode()
                lines = head.split("\r\n")
                headers = {}
                for line in lines[1:]:
                    k, _, v = line.partition(":")
                    headers.setdefault(k.strip().lower(), []).append(v.strip())
                n = int(headers.get("content-length", ["0"])[0])
                while len(self.buf) < end + 4 + n:
                    self.buf += self.sock.recv(65536)
                body = self.buf[end + 4:end + 4 + n]
                self.buf = self.buf[end + 4 + n:]
                return lines[0], headers, body
            self.buf += self.sock.recv(65536)

    def frames(self, count):
        """Reads interleaved frames: [(channel, data)]."""
        out = []
        while len(out) < count:
            if self.buf[:1] == b"$" and len(self.buf) >= 4:
                n = struct.unpack(">H", self.buf[2:4])[0]
                if len(self.buf) >= 4 + n:
                    out.append((self.buf[1], self.buf[4:4 + n]))
                    self.buf = self.buf[4 + n:]
                    continue
            elif self.buf and self.buf[:1] != b"$":
                end = self.buf.find(b"\r\n\r\n")
                if end >= 0:
                    self.buf = self.buf[end + 4:]
                    continue
            self.buf += self.sock.recv(65536)
        return out


class ClipTest(unittest.TestCase):
    def test_h264_frames_start_with_a_key_frame_with_its_parameter_sets(self):
        c = clips()["h264"]
        self.assertEqual(len(c.frames), cliplib.RATE * cliplib.SECONDS)
        self.assertEqual([cliplib.nal_type(u) for u in c.frames[0]][:2], [7, 8])
        self.assertEqual(sum(c.keys), cliplib.SECONDS)

    def test_mpeg4_frames_are_one_vop_each(self):
        c = clips()["mpeg4"]
        self.assertEqual(len(c.frames), cliplib.RATE * cliplib.SECONDS)
        self.assertTrue(all(f.count(b"\x00\x00\x01\xb6") == 1 for f in c.frames))
        self.assertTrue(c.config.startswith(b"\x00\x00\x01\xb0"))


class PacketizerTest(unittest.TestCase):
    def test_every_mode_gives_back_the_units(self):
        frame = clips()["h264"].frames[0]
        for mode in ("plain", "stap_a"):
            with self.subTest(mode=mode):
                payloads = packetizer.h264_payloads(frame, 1400, mode)
                self.assertTrue(all(len(p) <= 1400 for p in payloads))
                self.assertEqual(unfragment(payloads), frame)

    def test_annexb_mode_packs_the_key_frame_with_start_codes(self):
        frame = clips()["h264"].frames[0]
        units = unfragment(packetizer.h264_payloads(frame, 1400, "annexb"))
        self.assertEqual(len(units), 1)
        self.assertEqual(units[0].split(packetizer.START), frame)

    def test_fu_faults_keep_the_data(self):
        frame = clips()["h264"].frames[0]
        for fault in ("both_bits", "reserved", "type_change"):
            with self.subTest(fault=fault):
                payloads = packetizer.h264_payloads(frame, 1400, "plain", fault)
                self.assertEqual(unfragment(payloads), frame)
                fus = [p for p in payloads if p[0] & 0x1F == packetizer.FU_A]
                self.assertTrue(fus)
                if fault == "reserved":
                    self.assertTrue(all(p[1] & 0x20 for p in fus))
                if fault == "type_change":
                    self.assertNotEqual(fus[0][1] & 0x1F, fus[1][1] & 0x1F)


class AuthTest(unittest.TestCase):
    def digest(self, algorithm, qop, nonce="n1", password="pw"):
        r = auth.digest_response(algorithm, "admin", "R x", password, "PLAY", "rtsp://h/a", nonce,
                                 "auth" if qop else "", "00000001" if qop else "", "c0" if qop else "")
        text = 'Digest username="admin", realm="R x", nonce="%s", uri="rtsp://h/a", response="%s"' % (nonce, r)
        if algorithm != "MD5":
            text += ", algorithm=" + algorithm
        if qop:
            text += ", qop=auth, nc=00000001, cnonce=\"c0\""
        return text

    def test_verdicts(self):
        basic = "Basic " + base64.b64encode(b"admin:pw").decode()
        rows = [
            (self.digest("MD5", False), ("digest",), "MD5", False, auth.Verdict.OK),
            (self.digest("SHA-256", True), ("digest",), "SHA-256", True, auth.Verdict.OK),
            (self.digest("MD5", True), ("digest",), "SHA-256", True, auth.Verdict.ALGORITHM),
            (self.digest("MD5", False), ("digest",), "MD5", True, auth.Verdict.WRONG),
            (self.digest("MD5", False, password="x"), ("digest",), "MD5", False, auth.Verdict.WRONG),
            (self.digest("MD5", False, nonce="old"), ("digest",), "MD5", False, auth.Verdict.STALE),
            (basic, ("digest", "basic"), "MD5", False, auth.Verdict.WEAK),
            (basic, ("basic",), "MD5", False, auth.Verdict.OK),
            ("", ("basic",), "MD5", False, auth.Verdict.MISSING),
        ]
        for header, schemes, algorithm, qop, verdict in rows:
            with self.subTest(header=header[:40], schemes=schemes):
                got, _ = auth.check(header, "PLAY", "admin", "pw", "R x", "n1", schemes, algorithm, qop)
                self.assertEqual(got, verdict)


class ServerTest(unittest.TestCase):
    def tearDown(self):
        while CLIENTS:
            CLIENTS.pop().close()

    def serve(self, name):
        server = FieldServer(1, name, clips(), "admin", "pw")
        self.addCleanup(server.close)
        return server

    def login(self, server, client, url):
        status, headers, _ = client.request("DESCRIBE", url)
        self.assertTrue(status.startswith("RTSP/1.0 401"), status)
        challenge = headers["www-authenticate"][0]
        nonce = auth.parse_fields(challenge.partition(" ")[2])["nonce"]
        response = auth.digest_response("MD5", "admin", server.p["realm"], "pw", "DESCRIBE", url, nonce)
        return 'Digest username="admin", realm="%s", nonce="%s", uri="%s", response="%s"' % (
            server.p["realm"], nonce, url, response), nonce

    def authorization(self, server, method, url, nonce):
        response = auth.digest_response("MD5", "admin", server.p["realm"], "pw", method, url, nonce)
        return 'Digest username="admin", realm="%s", nonce="%s", uri="%s", response="%s"' % (
            server.p["realm"], nonce, url, response)

    def test_clean_server_streams_interleaved_with_sender_reports(self):
        server = self.serve("clean")
        c = Client(server.port)
        url = "rtsp://127.0.0.1:%d/h264?stream=0&mode=live" % server.port
        a, nonce = self.login(server, c, url)
        status, headers, body = c.request("DESCRIBE", url, authorization=a)
        self.assertIn("200", status)
        self.assertIn(b"sprop-parameter-sets=", body)
        track = headers["content-base"][0] + "trackID=1"
        status, headers, _ = c.request("SETUP", track, ["Transport: RTP/AVP/TCP;unicast;interleaved=0-1"],
                                       self.authorization(server, "SETUP", track, nonce))
        self.assertIn("200", status)
        session = headers["session"][0].split(";")[0]
        status, _, _ = c.request("PLAY", url, ["Session: " + session], self.authorization(server, "PLAY", url, nonce))
        self.assertIn("200", status)
        got = c.frames(40)
        self.assertEqual({ch for ch, _ in got}, {0, 1})
        rtp = [d for ch, d in got if ch == 0]
        self.assertEqual(rtp[0][1] & 0x7F, 96)
        self.assertTrue(any(d[1] == 200 for ch, d in got if ch == 1))
        # A receiver report on the RTCP channel, between requests, is told in the log.
        rr = struct.pack(">BBHII", 0x80, 201, 1, 0xA1B2C3D4, 0)
        c.sock.sendall(b"$\x01" + struct.pack(">H", len(rr)) + rr)
        status, _, _ = c.request("GET_PARAMETER", url, ["Session: " + session],
                                 self.authorization(server, "GET_PARAMETER", url, nonce))
        self.assertIn("200", status)
        self.assertTrue(any("first receiver report (TCP)" in line for line in server.get_log()))

    def test_setup_of_a_wrong_url_is_refused_and_logged(self):
        server = self.serve("content_base_double_scheme")
        c = Client(server.port)
        url = "rtsp://127.0.0.1:%d/h264?stream=0&mode=live" % server.port
        a, nonce = self.login(server, c, url)
        _, headers, _ = c.request("DESCRIBE", url, authorization=a)
        self.assertTrue(headers["content-base"][0].startswith("rtsp://rtsp://"))
        bad = "rtsp://127.0.0.1:%d/h264?stream=0&mode=live/trackID=1" % server.port
        status, _, _ = c.request("SETUP", bad, ["Transport: RTP/AVP/TCP;unicast;interleaved=0-1"],
                                 self.authorization(server, "SETUP", bad, nonce))
        self.assertIn("404", status)
        good = "rtsp://127.0.0.1:%d/h264/trackID=1" % server.port
        status, _, _ = c.request("SETUP", good, ["Transport: RTP/AVP/TCP;unicast;interleaved=0-1"],
                                 self.authorization(server, "SETUP", good, nonce))
        self.assertIn("200", status)
        self.assertTrue(any("RULE not a track URL" in line for line in server.get_log()))

    def test_refused_udp_and_redirect(self):
        server = self.serve("redirect")
        c = Client(server.port)
        url = "rtsp://127.0.0.1:%d/mpeg4" % server.port
        a, _ = self.login(server, c, url)
        status, headers, _ = c.request("DESCRIBE", url, authorization=a)
        self.assertIn("302", status)
        self.assertEqual(headers["location"][0], "rtsp://127.0.0.1:%d/mpeg4" % server.target_port)

    def test_session_times_out_without_keepalive(self):
        server = FieldServer(1, "getparam_only", clips(), "admin", "pw", timeout=1)
        self.addCleanup(server.close)
        c = Client(server.port)
        url = "rtsp://127.0.0.1:%d/h264" % server.port
        a, nonce = self.login(server, c, url)
        c.request("DESCRIBE", url, authorization=a)
        track = url + "/trackID=1"
        _, headers, _ = c.request("SETUP", track, ["Transport: RTP/AVP;unicast;client_port=40000-40001"],
                                  self.authorization(server, "SETUP", track, nonce))
        session = headers["session"][0].split(";")[0]
        c.request("PLAY", url, ["Session: " + session], self.authorization(server, "PLAY", url, nonce))
        # OPTIONS does not count for this camera.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and server.stats()["sessions"]:
            c.request("OPTIONS", url, ["Session: " + session], self.authorization(server, "OPTIONS", url, nonce))
            time.sleep(0.3)
        self.assertEqual(server.stats()["sessions"], 0)

    def test_renonce_answers_an_old_nonce_with_a_fresh_challenge_once_streaming(self):
        server = self.serve("renonce")
        server.p["renonce_after"] = 0.3
        server.p["qop"] = False
        c = Client(server.port)
        url = "rtsp://127.0.0.1:%d/h264" % server.port
        a, nonce = self.login(server, c, url)
        c.request("DESCRIBE", url, authorization=a)
        track = url + "/trackID=1"
        _, headers, _ = c.request("SETUP", track, ["Transport: RTP/AVP/TCP;unicast;interleaved=0-1"],
                                  self.authorization(server, "SETUP", track, nonce))
        session = headers["session"][0].split(";")[0]
        c.request("PLAY", url, ["Session: " + session], self.authorization(server, "PLAY", url, nonce))
        time.sleep(0.5)
        status, headers, _ = c.request("GET_PARAMETER", url, ["Session: " + session],
                                       self.authorization(server, "GET_PARAMETER", url, nonce))
        self.assertIn("401", status)
        fields = auth.parse_fields(headers["www-authenticate"][0].partition(" ")[2])
        self.assertNotEqual(fields["nonce"], nonce)
        self.assertNotIn("stale", fields)
        status, _, _ = c.request("GET_PARAMETER", url, ["Session: " + session],
                                 self.authorization(server, "GET_PARAMETER", url, fields["nonce"]))
        self.assertIn("200", status)

    def test_every_profile_starts(self):
        for name in profiles.PROFILES:
            with self.subTest(profile=name):
                server = FieldServer(1, name, clips(), "admin", "pw")
                server.close()


if __name__ == "__main__":
    unittest.main()
