"""Tests of the RTSP test server, run against a real server process.

From the repository root:  python3 -m unittest discover -s tools/rtspsrv
(the server itself always runs under /usr/bin/python3, which has gi).
"""

import hashlib
import http.client
import os
import re
import socket
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
RTSPSRV = os.path.join(HERE, "rtspsrv.py")
PYTHON = "/usr/bin/python3"
WAIT = 30


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


class RtspConnection:
    """Just enough of an RTSP client to look at the server's answers."""

    def __init__(self, port):
        self.port = port
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
        self.cseq = 0
        self.pending = b""

    def close(self):
        self.sock.close()

    def request(self, method, url, headers=()):
        self.cseq += 1
        text = "%s %s RTSP/1.0\r\nCSeq: %d\r\n" % (method, url, self.cseq)
        text += "".join("%s: %s\r\n" % h for h in headers) + "\r\n"
        self.sock.sendall(text.encode())
        while b"\r\n\r\n" not in self.pending:
            self._more()
        head, _, self.pending = self.pending.partition(b"\r\n\r\n")
        lines = head.decode().split("\r\n")
        status = int(lines[0].split()[1])
        fields = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            fields.setdefault(name.strip().lower(), value.strip())
        length = int(fields.get("content-length", "0"))
        while len(self.pending) < length:
            self._more()
        body, self.pending = self.pending[:length], self.pending[length:]
        return status, fields, body.decode()

    def _more(self):
        data = self.sock.recv(65536)
        if not data:
            raise ConnectionError("server closed the connection")
        self.pending += data


def digest_answer(challenge, method, uri, user, password):
    realm = re.search(r'realm="([^"]*)"', challenge).group(1)
    nonce = re.search(r'nonce="([^"]*)"', challenge).group(1)
    response = md5("%s:%s:%s" % (md5("%s:%s:%s" % (user, realm, password)), nonce,
                                 md5("%s:%s" % (method, uri))))
    return ('Digest username="%s", realm="%s", nonce="%s", uri="%s", response="%s"'
            % (user, realm, nonce, uri, response))


class RtspServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        fd, port_file = tempfile.mkstemp(prefix="rtspsrv-port-")
        os.close(fd)
        os.unlink(port_file)
        cls.proc = subprocess.Popen([PYTHON, RTSPSRV, "--control-port", "0", "--port-file", port_file,
                                     "--parent-pid", str(os.getpid())], stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + WAIT
        while not os.path.exists(port_file):
            if time.monotonic() > deadline or cls.proc.poll() is not None:
                cls.proc.kill()
                raise RuntimeError("rtspsrv did not start")
            time.sleep(0.05)
        with open(port_file) as f:
            cls.control = int(f.read())
        os.unlink(port_file)

    @classmethod
    def tearDownClass(cls):
        cls.proc.terminate()
        cls.proc.wait(WAIT)

    def get(self, target, timeout=WAIT):
        conn = http.client.HTTPConnection("127.0.0.1", self.control, timeout=timeout)
        try:
            conn.request("GET", target)
            resp = conn.getresponse()
            return resp.status, resp.read().decode()
        finally:
            conn.close()

    def wait_log(self, server_id, needle):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            if needle in self.get("/servers/%d/log" % server_id)[1]:
                return True
            time.sleep(0.05)
        return False

    def new_server(self, query="", timeout=WAIT):
        status, text = self.get("/new" + ("?" + query if query else ""), timeout)
        self.assertEqual(status, 200, text)
        fields = dict(item.split("=") for item in text.split())
        self.addCleanup(self.get, "/servers/%s/delete" % fields["id"])
        return int(fields["id"]), int(fields["port"])

    def test_open_server_describes_both_codecs_and_drops_the_query_from_the_base(self):
        _, port = self.new_server()
        conn = RtspConnection(port)
        self.addCleanup(conn.close)
        status, fields, sdp = conn.request("DESCRIBE", "rtsp://127.0.0.1:%d/h264?stream=0&mode=live" % port)
        self.assertEqual(status, 200)
        self.assertEqual(fields["content-base"], "rtsp://127.0.0.1:%d/h264/" % port)
        self.assertIn("sprop-parameter-sets=", sdp)
        self.assertIn("a=control:stream=0", sdp)
        status, _, sdp = conn.request("DESCRIBE", "rtsp://127.0.0.1:%d/mpeg4?stream=0&mode=live" % port)
        self.assertEqual(status, 200)
        self.assertRegex(sdp, r"config=000001[0-9A-Fa-f]+")

    def test_digest_challenge_has_no_qop_and_a_correct_answer_is_accepted(self):
        server_id, port = self.new_server("auth=digest&user=u&password=p&timeout=10")
        url = "rtsp://127.0.0.1:%d/h264" % port
        conn = RtspConnection(port)
        self.addCleanup(conn.close)
        self.assertEqual(conn.request("OPTIONS", url)[0], 200)
        status, fields, _ = conn.request("DESCRIBE", url)
        self.assertEqual(status, 401)
        challenge = fields["www-authenticate"]
        self.assertTrue(challenge.startswith("Digest "))
        self.assertNotIn("qop", challenge)
        wrong = digest_answer(challenge, "DESCRIBE", url, "u", "x")
        self.assertEqual(conn.request("DESCRIBE", url, [("Authorization", wrong)])[0], 401)
        right = digest_answer(challenge, "DESCRIBE", url, "u", "p")
        self.assertEqual(conn.request("DESCRIBE", url, [("Authorization", right)])[0], 200)
        # The server notes a request once it has answered it.
        self.assertTrue(self.wait_log(server_id, "DESCRIBE %s auth=Digest" % url))

    def test_session_timeout_is_announced_when_set(self):
        _, port = self.new_server("timeout=10")
        conn = RtspConnection(port)
        self.addCleanup(conn.close)
        status, fields, _ = conn.request("DESCRIBE", "rtsp://127.0.0.1:%d/h264" % port)
        base = fields["content-base"]
        status, fields, _ = conn.request("SETUP", base + "stream=0",
                                         [("Transport", "RTP/AVP;unicast;client_port=40000-40001")])
        self.assertEqual(status, 200)
        self.assertIn("timeout=10", fields["session"])

    def test_stop_drops_clients_and_refuses_until_started_again(self):
        server_id, port = self.new_server("codec=h264")
        conn = RtspConnection(port)
        self.assertEqual(conn.request("OPTIONS", "rtsp://127.0.0.1:%d/h264" % port)[0], 200)
        self.assertEqual(self.get("/servers/%d/stop" % server_id)[0], 200)
        with self.assertRaises(OSError):
            conn.request("OPTIONS", "rtsp://127.0.0.1:%d/h264" % port)
        conn.close()
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", port), timeout=WAIT).close()
        self.assertEqual(self.get("/servers/%d/start" % server_id), (200, "port=%d\n" % port))
        conn = RtspConnection(port)
        self.addCleanup(conn.close)
        self.assertEqual(conn.request("OPTIONS", "rtsp://127.0.0.1:%d/h264" % port)[0], 200)

    def test_full_hd_clip_is_served_as_main_profile_h264(self):
        _, port = self.new_server("clip=1080p30", timeout=300)  # encoded on first use
        conn = RtspConnection(port)
        self.addCleanup(conn.close)
        status, _, sdp = conn.request("DESCRIBE", "rtsp://127.0.0.1:%d/h264?stream=0&mode=live" % port)
        self.assertEqual(status, 200)
        self.assertIn("profile-level-id=4d", sdp)  # main profile
        self.assertIn("a=framerate:30", sdp)
        status, _, _ = conn.request("DESCRIBE", "rtsp://127.0.0.1:%d/mpeg4" % port)
        self.assertEqual(status, 404)

    def test_bad_options_are_refused(self):
        for query in ("codec=vp8", "auth=digest", "auth=ntlm&user=u", "timeout=x", "colour=red",
                      "clip=8k", "clip=1080p30&codec=mpeg4", "clip=1080p30&codec=both"):
            self.assertEqual(self.get("/new?" + query)[0], 400, query)


if __name__ == "__main__":
    unittest.main()
