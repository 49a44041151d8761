"""Tests of the simulator's RTSP side, run against a real simulator process.

From the repository root:  python3 -m unittest discover -s tools/camsim
"""

import hashlib
import os
import re
import socket
import struct
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from test_camsim import WAIT, get, start_simulator  # noqa: E402


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


class Rtsp:
    def __init__(self, test, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
        test.addCleanup(self.sock.close)
        self.buf = b""
        self.cseq = 0

    def ask(self, method, url, headers=()):
        self.cseq += 1
        text = "%s %s RTSP/1.0\r\nCSeq: %d\r\n%s\r\n" % (
            method, url, self.cseq, "".join("%s: %s\r\n" % h for h in headers))
        self.sock.sendall(text.encode())
        while b"\r\n\r\n" not in self.buf:
            data = self.sock.recv(65536)
            if not data:
                raise ConnectionError("closed")
            self.buf += data
        head, _, self.buf = self.buf.partition(b"\r\n\r\n")
        head = head.decode()
        m = re.search(r"(?im)^content-length:\s*(\d+)", head)
        length = int(m.group(1)) if m else 0
        while len(self.buf) < length:
            self.buf += self.sock.recv(65536)
        body, self.buf = self.buf[:length], self.buf[length:]
        return int(head.split()[1]), head, body.decode()


class RtspSideTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.proc, text = start_simulator()
        cls.control = int(text)

    @classmethod
    def tearDownClass(cls):
        cls.proc.terminate()
        cls.proc.wait(WAIT)

    def camera(self, query):
        status, _, body = get(self.control, "/new?" + query)
        fields = dict(f.split("=") for f in body.decode().split())
        self.addCleanup(get, self.control, "/cameras/%s/delete" % fields["id"])
        status, _, body = get(self.control, "/cameras/%s/rtsp" % fields["id"])
        self.assertEqual(status, 200)
        port = int(dict(line.split("=", 1) for line in body.decode().split())["port"])
        params = get(self.control, "/cameras/%s/params" % fields["id"])[2].decode()
        self.assertIn("Streaming.RTSPPort=%d" % port, params)
        return fields["id"], port

    def set(self, cam, query):
        self.assertEqual(get(self.control, "/cameras/%s/rtsp/set?%s" % (cam, query))[0], 200)

    def test_digest_with_qop_rotating_nonce_and_the_byte_exact_log(self):
        cam, port = self.camera("user=u&password=p&auth=digest")
        self.set(cam, "qop=1&nonce_uses=1")
        c = Rtsp(self, port)
        url = "rtsp://127.0.0.1:%d/h264?stream=0&mode=live" % port
        status, head, _ = c.ask("DESCRIBE", url)
        self.assertEqual(status, 401)
        nonce = re.search(r'nonce="([^"]+)"', head).group(1)
        self.assertIn('qop="auth"', head)

        def answer(method, nonce):
            ha1, ha2 = md5("u:camsim:p"), md5("%s:%s" % (method, url))
            resp = md5("%s:%s:00000001:abc:auth:%s" % (ha1, nonce, ha2))
            return [("Authorization", 'Digest username="u", realm="camsim", nonce="%s", uri="%s", '
                                      'response="%s", qop=auth, nc=00000001, cnonce="abc"' % (nonce, url, resp))]
        status, _, sdp = c.ask("DESCRIBE", url, answer("DESCRIBE", nonce))
        self.assertEqual(status, 200)
        self.assertIn("a=control:trackID=1", sdp)
        status, head, _ = c.ask("OPTIONS", url, answer("OPTIONS", nonce))
        self.assertEqual(status, 401)
        self.assertIn("stale=true", head)
        log = get(self.control, "/cameras/%s/rtsp/log" % cam)[2].decode().splitlines()
        self.assertEqual([line.split(" ", 2)[1] for line in log], ["401", "200", "401"])
        self.assertEqual(log[0].split(" ", 2)[2], "DESCRIBE %s RTSP/1.0\\r\\nCSeq: 1\\r\\n\\r\\n" % url)

    def test_faults(self):
        cam, port = self.camera("")
        url = "rtsp://127.0.0.1:%d/h264" % port
        self.set(cam, "header_pad=600&length_nospace=1&session_timeout=10&content_base=rtsp://cam/stream/")
        c = Rtsp(self, port)
        status, head, sdp = c.ask("DESCRIBE", url)
        self.assertEqual(status, 200)
        self.assertGreater(head.find("Content-Length:"), 512)
        self.assertNotIn("Content-Length: ", head)
        self.assertIn("Content-Base: rtsp://cam/stream/", head)
        status, head, _ = c.ask("SETUP", url + "/trackID=1", [("Transport", "RTP/AVP/UDP;unicast;client_port=4000-4001")])
        self.assertIn("Session: CAMSIM%s;timeout=10" % cam, head)
        self.set(cam, "describe_status=404&header_pad=0")
        self.assertEqual(c.ask("DESCRIBE", url)[0], 404)
        self.set(cam, "close_after=options")
        c.ask("OPTIONS", url)
        self.assertEqual(c.sock.recv(10), b"")

    def test_transport_refusals_public_and_keepalive_only_by_get_parameter(self):
        cam, port = self.camera("")
        url = "rtsp://127.0.0.1:%d/h264" % port
        self.set(cam, "refuse_udp=461&public=OPTIONS,GET_PARAMETER&error_methods=OPTIONS"
                      "&keepalive_methods=GET_PARAMETER&session_timeout=1")
        c = Rtsp(self, port)
        status, head, _ = c.ask("DESCRIBE", url)
        self.assertIn("Public: OPTIONS,GET_PARAMETER", head)
        status, head, _ = c.ask("SETUP", url + "/trackID=1", [("Transport", "RTP/AVP;unicast;client_port=4000-4001")])
        self.assertEqual(head.splitlines()[0], "RTSP/1.0 461 Unsupported transport")
        status, head, _ = c.ask("SETUP", url + "/trackID=1", [("Transport", "RTP/AVP/TCP;unicast;interleaved=0-1")])
        self.assertIn("interleaved=0-1", head)
        self.assertEqual(c.ask("OPTIONS", url)[0], 551)
        self.assertEqual(c.ask("GET_PARAMETER", url)[0], 200)
        # OPTIONS is no activity: the session expires and the connection closes.
        c.sock.settimeout(WAIT)
        c.ask("OPTIONS", url)
        self.assertEqual(c.sock.recv(10), b"")

    def test_client_rtcp_between_requests_is_counted_and_skipped(self):
        cam, port = self.camera("")
        url = "rtsp://127.0.0.1:%d/h264" % port
        self.set(cam, "interleaved=1")
        c = Rtsp(self, port)
        c.ask("SETUP", url + "/trackID=1", [("Transport", "RTP/AVP/TCP;unicast;interleaved=0-1")])
        rr = struct.pack("!BBHII", 0x80, 201, 1, 0xA1B2C3D4, 0)
        # The granted RTCP channel is 5; channel 9 is not counted. The first
        # frame arrives in two pieces, the request right behind the last.
        frame = b"$\x05" + struct.pack("!H", len(rr)) + rr
        c.sock.sendall(frame[:3])
        time.sleep(0.2)
        c.sock.sendall(frame[3:] + b"$\x09\x00\x02ab" + frame)
        status, _, _ = c.ask("TEARDOWN", url)
        self.assertEqual(status, 200)
        body = get(self.control, "/cameras/%s/rtsp" % cam)[2].decode()
        fields = dict(line.split("=", 1) for line in body.split())
        self.assertEqual(fields["rtcp_frames"], "2")
        self.assertEqual(fields["rtcp_last"], frame.hex())


if __name__ == "__main__":
    unittest.main()
