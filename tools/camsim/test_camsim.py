"""Tests of the camera simulator, run against a real simulator process.

From the repository root:  python3 -m unittest discover -s tools/camsim
"""

import base64
import hashlib
import http.client
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
from urllib.parse import quote

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import camera  # noqa: E402
import pictures  # noqa: E402

CAMSIM = os.path.join(HERE, "camsim.py")
WAIT = 20  # generous bound for anything the tests wait on


def start_simulator(extra=()):
    fd, port_file = tempfile.mkstemp(prefix="camsim-port-")
    os.close(fd)
    os.unlink(port_file)
    proc = subprocess.Popen([sys.executable, CAMSIM, "--control-port", "0", "--port-file",
                             port_file, "--parent-pid", str(os.getpid()), *extra],
                            stdout=subprocess.DEVNULL)
    deadline = time.monotonic() + WAIT
    while not os.path.exists(port_file):
        if time.monotonic() > deadline or proc.poll() is not None:
            proc.kill()
            raise RuntimeError("simulator did not start")
        time.sleep(0.02)
    with open(port_file) as f:
        text = f.read()
    os.unlink(port_file)
    return proc, text


def get(port, target, headers=None, timeout=WAIT):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        conn.request("GET", target, headers=headers or {})
        resp = conn.getresponse()
        return resp.status, resp.getheaders(), resp.read()
    finally:
        conn.close()


def basic(user, password):
    return {"Authorization": "Basic " + base64.b64encode(
        ("%s:%s" % (user, password)).encode()).decode()}


def param_query(*actions):
    """actions: (key, value or None) -> the param CGI target, rendered unescaped."""
    text = "/cgi-bin/param_if.cgi?NumActions=%d" % len(actions)
    for i, (key, value) in enumerate(actions):
        text += "&Action_%d=%s" % (i, key)
        if value is not None:
            text += "&Parameter_%d_0=%s" % (i, value)
    return text


def answer_lines(body):
    text = body.decode("latin-1")
    assert text.endswith("\r\n") or text == "", text
    return text.split("\r\n")[:-1] if text else []


class SimulatorTestBase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.proc, text = start_simulator()
        cls.control = int(text.strip())

    @classmethod
    def tearDownClass(cls):
        try:
            get(cls.control, "/shutdown")
            cls.proc.wait(WAIT)
        finally:
            if cls.proc.poll() is None:
                cls.proc.kill()

    def ctl(self, target, expect=200):
        status, _, body = get(self.control, target)
        self.assertEqual(status, expect, body)
        return body.decode()

    def new_camera(self, query=""):
        text = self.ctl("/new?" + query)
        fields = dict(item.split("=") for item in text.split())
        cam_id, port = int(fields["id"]), int(fields["port"])
        self.addCleanup(lambda: get(self.control, "/cameras/%d/delete" % cam_id))
        return cam_id, port

    def params(self, cam_id):
        lines = self.ctl("/cameras/%d/params" % cam_id).splitlines()
        return dict(line.split("=", 1) for line in lines)

    def ask(self, port, *actions, headers=None):
        status, _, body = get(port, param_query(*actions), headers)
        self.assertEqual(status, 200, body)
        return answer_lines(body)


class ParamProtocolTest(SimulatorTestBase):
    def setUp(self):
        self.cam, self.port = self.new_camera()

    def test_every_value_the_capability_probe_reads(self):
        lines = self.ask(self.port, ("Global.OperationMode.GetValue", None),
                         ("SysInfo.ModelName.GetValue", None), ("SysInfo.DeviceVersion.GetValue", None),
                         ("SysInfo.ManName.GetValue", None), ("SysInfo.ManSpecInfo.GetValue", None),
                         ("SysInfo.FirmwareVersion.GetValue", None), ("SysInfo.MACAddress.GetValue", None),
                         ("Global.OperationMode.SetValue", "Configure"),
                         ("Sensor.AOITop.GetValue", None), ("Sensor.AOILeft.GetValue", None),
                         ("Sensor.AOIWidth.GetValue", None), ("Sensor.AOIHeight.GetValue", None),
                         ("Sensor.FrameRateMode.GetEntries", None), ("Stream.StreamSelector.GetValue", None),
                         ("Stream.StreamSelector.GetMin", None), ("Stream.StreamSelector.GetMax", None),
                         ("Stream.OutputSize.GetEntries", None), ("Stream.EncoderType.GetEntries", None),
                         ("Stream.EncoderType.GetValue", None), ("IO.IOSelector.GetMin", None),
                         ("IO.IOSelector.GetMax", None))
        self.assertEqual(lines[0], "Return_0=Normal")
        self.assertEqual(lines[12], 'Return_12=(0,"Fps_5")(1,"Fps_7_5")(2,"Fps_10")(3,"Fps_15")'
                                    '(4,"Fps_25")(5,"Fps_30")')
        self.assertEqual(lines[16], 'Return_16=(0,"Size_640x480")(1,"Size_1280x720")(2,"Size_1280x1024")')
        self.assertEqual(lines[19:], ["Return_19=0", "Return_20=3"])
        self.assertEqual([line for line in lines if line.startswith("Exception")], [])

    def test_picture_sizes_per_compression(self):
        self.ctl("/cameras/%d/entries?Stream.OutputSize@H_264=Size_1920x1080,Size_640x480" % self.cam)
        self.ctl("/cameras/%d/entries?Stream.OutputSize@Theora=" % self.cam)
        self.ctl("/cameras/%d/entries?Stream.Quality@H_264=x" % self.cam, expect=400)
        lines = self.ask(self.port, ("Stream.OutputSize.GetEntries", None),
                         ("Global.OperationMode.SetValue", "Configure"),
                         ("Stream.EncoderType.SetValue", "H_264"), ("Stream.OutputSize.GetEntries", None),
                         ("Stream.OutputSize.SetValue", "Size_1280x720"),
                         ("Stream.OutputSize.SetValue", "Size_1920x1080"))
        self.assertEqual(lines[0], 'Return_0=(0,"Size_640x480")(1,"Size_1280x720")(2,"Size_1280x1024")')
        self.assertEqual(lines[3], 'Return_3=(0,"Size_1920x1080")(1,"Size_640x480")')
        self.assertTrue(lines[4].startswith("Exception_4="), lines[4])
        self.assertEqual(lines[5], "Return_5=Size_1920x1080")

    def test_reads_answer_in_action_order(self):
        lines = self.ask(self.port, ("IO.IOSelector.SetValue", "1"), ("IO.Direction.GetValue", None),
                         ("Stream.Quality.GetMin", None), ("Stream.Quality.GetMax", None),
                         ("Stream.Quality.GetInc", None), ("Stream.EncoderType.GetEntries", None),
                         ("SysInfo.ModelName.GetValue", None))
        self.assertEqual(lines, ["Return_0=1", "Return_1=Input", "Return_2=1", "Return_3=100",
                                 "Return_4=1", 'Return_5=(0,"JPEG")(1,"MPEG4")(2,"H_264")',
                                 "Return_6=BIP2-1280c-dn"])

    def test_refusals_are_exceptions(self):
        cases = [
            ("Stream.EncoderMode.SetValue", "ABR"),      # not an entry
            ("Stream.Quality.SetValue", "101"),          # above range
            ("Stream.Quality.SetValue", "x"),            # not a number
            ("Stream.GopLength_ms.SetValue", "150"),     # off the increment
            ("SysInfo.ModelName.SetValue", "X"),         # read-only
            ("No.Such.GetValue", None),                  # unknown parameter
            ("Stream.Quality.Frobnicate", None),         # unknown operation
            ("Stream.Quality.GetEntries", None),         # no entries
            ("SysInfo.ModelName.GetMin", None),          # no range
            ("Stream.Quality.SetValue", None),           # no value
            ("Broken", None),                            # no operation at all
        ]
        for key, value in cases:
            with self.subTest(action=key, value=value):
                lines = self.ask(self.port, (key, value))
                self.assertEqual(len(lines), 1)
                self.assertRegex(lines[0], r"^Exception_0=\S")
        self.assertEqual(self.params(self.cam)["Stream.Quality[0]"], "75")

    def test_set_value_is_stored_and_echoed(self):
        self.assertEqual(self.ask(self.port, ("Stream.Quality.SetValue", "40"),
                                  ("Stream.Quality.GetValue", None)),
                         ["Return_0=40", "Return_1=40"])

    def test_stream_selector_picks_per_stream_values(self):
        lines = self.ask(self.port, ("Stream.StreamSelector.SetValue", "1"),
                         ("Stream.EncoderType.GetValue", None),
                         ("Stream.Quality.SetValue", "20"),
                         ("Stream.StreamSelector.SetValue", "0"),
                         ("Stream.EncoderType.GetValue", None),
                         ("Stream.Quality.GetValue", None),
                         ("Stream.StreamSelector.SetValue", "2"))
        self.assertEqual(lines[:6], ["Return_0=1", "Return_1=H_264", "Return_2=20", "Return_3=0",
                                     "Return_4=JPEG", "Return_5=75"])
        self.assertTrue(lines[6].startswith("Exception_6="))
        p = self.params(self.cam)
        self.assertEqual((p["Stream.Quality[0]"], p["Stream.Quality[1]"]), ("75", "20"))

    def test_io_state_is_tracked_per_line(self):
        self.ask(self.port, ("IO.IOSelector.SetValue", "2"), ("IO.State.SetValue", "1"),
                 ("IO.IOSelector.SetValue", "3"), ("IO.State.SetValue", "0"))
        p = self.params(self.cam)
        self.assertEqual([p["IO.State[%d]" % i] for i in range(4)], ["0", "0", "1", "0"])
        self.ctl("/cameras/%d/set?inputs=5" % self.cam)
        self.assertEqual(self.ask(self.port, ("IO.MonitorAll.GetValue", None)), ["Return_0=5"])

    def test_sensor_and_encoder_layout_need_configure_mode(self):
        normal = self.ask(self.port, ("Sensor.AOIWidth.SetValue", "640"),
                          ("Stream.EncoderType.SetValue", "H_264"),
                          ("Stream.OutputSize.SetValue", "Size_1280x720"),
                          ("Sensor.FrameRateMode.SetValue", "Fps_10"),
                          ("Stream.Quality.SetValue", "50"))
        self.assertEqual([line.split("=")[0] for line in normal],
                         ["Exception_0", "Exception_1", "Exception_2", "Exception_3", "Return_4"])
        configure = self.ask(self.port, ("Global.OperationMode.SetValue", "Configure"),
                             ("Sensor.AOIWidth.SetValue", "640"),
                             ("Stream.EncoderType.SetValue", "H_264"),
                             ("Global.OperationMode.SetValue", "Normal"))
        self.assertEqual(configure, ["Return_0=Configure", "Return_1=640", "Return_2=H_264",
                                     "Return_3=Normal"])

    def test_commit_is_counted(self):
        lines = self.ask(self.port, ("Streaming.Enabled.SetValue", "1"),
                         ("Streaming.Commit.Excecute", None))
        self.assertEqual(lines, ["Return_0=1", "Return_1="])
        self.ask(self.port, ("Streaming.Commit.SetValue", "1"))
        self.assertEqual(self.params(self.cam)["Streaming.Commit"], "2")

    def test_refuse_and_omit_switches(self):
        self.ctl("/cameras/%d/set?refuse=%s" % (self.cam, quote("Stream.Quality.GetValue:busy now")))
        self.ctl("/cameras/%d/set?omit=Stream.EncoderType.GetValue" % self.cam)
        lines = self.ask(self.port, ("Stream.Quality.GetValue", None),
                         ("Stream.EncoderType.GetValue", None), ("Stream.EncoderMode.GetValue", None))
        self.assertEqual(lines, ["Exception_0=busy now", "Return_2=VBR"])
        self.ctl("/cameras/%d/set?refuse=&omit=" % self.cam)
        self.assertEqual(len(self.ask(self.port, ("Stream.Quality.GetValue", None),
                                      ("Stream.EncoderType.GetValue", None))), 2)

    def test_control_shapes_the_store(self):
        c = self.cam
        self.ctl("/cameras/%d/param?SysInfo.ModelName=&Stream.Quality[1]=33&My.Extra=x" % c)
        self.ctl("/cameras/%d/entries?Stream.OutputSize=Size_320x240,Size_800x600" % c)
        self.ctl("/cameras/%d/range?Stream.Quality=0,10,2" % c)
        self.ctl("/cameras/%d/range?IO.IOSelector=0,5" % c)
        lines = self.ask(self.port, ("SysInfo.ModelName.GetValue", None), ("My.Extra.GetValue", None),
                         ("Stream.OutputSize.GetEntries", None), ("Stream.Quality.GetMax", None),
                         ("Stream.Quality.GetInc", None), ("Stream.Quality.SetValue", "3"),
                         ("IO.IOSelector.SetValue", "5"), ("IO.Direction.GetValue", None))
        self.assertEqual(lines, ["Return_0=", "Return_1=x", 'Return_2=(0,"Size_320x240")(1,"Size_800x600")',
                                 "Return_3=10", "Return_4=2", "Exception_5=" + lines[5][12:],
                                 "Return_6=5", "Return_7=Input"])
        self.assertEqual(self.params(c)["Stream.Quality[1]"], "33")
        self.ctl("/cameras/%d/forget?Stream.Quality" % c)
        self.assertTrue(self.ask(self.port, ("Stream.Quality.GetValue", None))[0].startswith("Exception_0"))

    def test_malformed_requests(self):
        self.assertEqual(get(self.port, "/cgi-bin/param_if.cgi?Action_0=X.GetValue")[0], 400)
        self.assertEqual(self.ask(self.port), [])
        self.assertEqual(get(self.port, "/nothing/here")[0], 404)
        self.assertEqual(get(self.control, "/cameras/9999/log")[0], 404)
        self.assertEqual(get(self.control, "/cameras/%d/set?frobnicate=1" % self.cam)[0], 400)
        self.assertEqual(get(self.control, "/cameras/%d/set?fps=0" % self.cam)[0], 400)
        self.assertEqual(get(self.control, "/new?auth=kerberos")[0], 400)


class AuthTest(SimulatorTestBase):
    def test_basic(self):
        cam, port = self.new_camera("user=admin&password=secret&auth=basic")
        status, headers, _ = get(port, "/cgi-bin/auth_if.cgi?Status")
        self.assertEqual(status, 401)
        self.assertIn(("WWW-Authenticate", 'Basic realm="camsim"'), headers)
        self.assertEqual(get(port, "/cgi-bin/auth_if.cgi?Status", basic("admin", "wrong"))[0], 401)
        status, _, body = get(port, "/cgi-bin/auth_if.cgi?Status", basic("admin", "secret"))
        self.assertEqual((status, body),
                         (200, b"{'method': 'Status', 'success': 'true', 'enabled': 'true'}\r\n"))
        token = basic("admin", "secret")["Authorization"]
        self.assertEqual(self.ctl("/cameras/%d/log" % cam).splitlines(), [
            "GET /cgi-bin/auth_if.cgi?Status auth=-",
            "GET /cgi-bin/auth_if.cgi?Status auth=" + basic("admin", "wrong")["Authorization"],
            "GET /cgi-bin/auth_if.cgi?Status auth=" + token])
        self.ctl("/cameras/%d/log/clear" % cam)
        self.assertEqual(self.ctl("/cameras/%d/log" % cam), "")

    def test_digest_challenge_then_basic_or_digest(self):
        _, port = self.new_camera("user=admin&password=secret&auth=digest&digest_first=1")
        status, headers, _ = get(port, "/cgi-bin/param_if.cgi?NumActions=0")
        challenges = [v for k, v in headers if k == "WWW-Authenticate"]
        self.assertEqual(status, 401)
        self.assertRegex(challenges[0], r'^Digest realm="camsim", nonce="[0-9a-f]+", qop="auth"$')
        self.assertEqual(challenges[1], 'Basic realm="camsim"')
        self.assertEqual(get(port, "/cgi-bin/param_if.cgi?NumActions=0", basic("admin", "secret"))[0], 200)
        nonce = challenges[0].split('nonce="')[1].split('"')[0]
        uri = "/cgi-bin/auth_if.cgi?Status"

        def digest(password):
            h = lambda s: hashlib.md5(s.encode()).hexdigest()  # noqa: E731
            ha1, ha2 = h("admin:camsim:%s" % password), h("GET:" + uri)
            resp = h("%s:%s:00000001:abcd:auth:%s" % (ha1, nonce, ha2))
            return {"Authorization": 'Digest username="admin", realm="camsim", nonce="%s", uri="%s", '
                    'qop=auth, nc=00000001, cnonce="abcd", response="%s"' % (nonce, uri, resp)}
        self.assertEqual(get(port, uri, digest("secret"))[0], 200)
        self.assertEqual(get(port, uri, digest("wrong"))[0], 401)

    def test_digest_without_basic_offer(self):
        _, port = self.new_camera("user=admin&password=secret&auth=digest")
        _, headers, _ = get(port, "/cgi-bin/auth_if.cgi?Status")
        self.assertEqual(len([v for k, v in headers if k == "WWW-Authenticate"]), 1)

    def test_login_endpoint_enable(self):
        cam, port = self.new_camera()
        self.ctl("/cameras/%d/set?enabled=0" % cam)
        self.assertIn(b"'enabled': 'false'", get(port, "/cgi-bin/auth_if.cgi?Status")[2])
        self.assertEqual(get(port, "/cgi-bin/auth_if.cgi?Enable")[2],
                         b"{'method': 'Enable', 'success': 'true'}\r\n")
        self.assertIn(b"'enabled': 'true'", get(port, "/cgi-bin/auth_if.cgi?Status")[2])
        self.assertIn(b"'success': 'false'", get(port, "/cgi-bin/auth_if.cgi?Reboot")[2])

    def test_login_endpoint_answer_shapes(self):
        cam, port = self.new_camera()
        shapes = {
            "single": b"{'method': 'Status', 'success': 'true', 'enabled': 'true'}\r\n",
            "double": b'{"method": "Status", "success": "true", "enabled": "true"}\r\n',
            "lower_method": b"{'method': 'status', 'success': 'true', 'enabled': 'true'}\r\n",
            "capital_true": b"{'method': 'Status', 'success': 'True', 'enabled': 'true'}\r\n",
        }
        for shape, body in shapes.items():
            self.ctl("/cameras/%d/set?auth_answer=%s" % (cam, shape))
            self.assertEqual(get(port, "/cgi-bin/auth_if.cgi?Status")[2], body, shape)
        self.ctl("/cameras/%d/set?auth_answer=braces" % cam, expect=400)

    def test_login_endpoint_refusing_enable(self):
        cam, port = self.new_camera()
        self.ctl("/cameras/%d/set?enabled=0&enable_ok=0" % cam)
        self.assertEqual(get(port, "/cgi-bin/auth_if.cgi?Enable")[2],
                         b"{'method': 'Enable', 'success': 'false'}\r\n")
        self.assertIn(b"'enabled': 'false'", get(port, "/cgi-bin/auth_if.cgi?Status")[2])


def read_parts(sock_file, count):
    """Reads count multipart parts; returns the list of (headers, picture)."""
    parts = []
    while len(parts) < count:
        line = sock_file.readline()
        if not line:
            break
        if line.strip() == b"":
            continue
        assert line == b"--camsimboundary\r\n", line
        headers = {}
        while True:
            h = sock_file.readline().rstrip(b"\r\n")
            if not h:
                break
            k, _, v = h.decode().partition(":")
            headers[k.strip().lower()] = v.strip()
        body = sock_file.read(int(headers["content-length"]))
        assert sock_file.read(2) == b"\r\n"
        parts.append((headers, body))
    return parts


class MjpegTest(SimulatorTestBase):
    def open_stream(self, port, headers=None):
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=WAIT)
        conn.request("GET", "/cgi-bin/mjpeg?stream=0&mode=live", headers=headers or {})
        resp = conn.getresponse()
        self.addCleanup(conn.close)
        return resp

    def test_parts_are_whole_distinct_pictures(self):
        cam, port = self.new_camera("user=u&password=p&width=320&height=240&fps=30")
        resp = self.open_stream(port, basic("u", "p"))
        self.assertEqual(resp.status, 200)
        self.assertEqual(resp.getheader("Content-Type"), "multipart/x-mixed-replace; boundary=camsimboundary")
        self.assertIsNone(resp.getheader("Content-Length"))
        parts = read_parts(resp, 5)
        self.assertEqual(len(parts), 5)
        numbers = []
        for headers, jpeg in parts:
            self.assertEqual(headers["content-type"], "image/jpeg")
            self.assertEqual(jpeg[:2], b"\xff\xd8")
            self.assertEqual(jpeg[-2:], b"\xff\xd9")
            self.assertEqual(pictures.sof_size(jpeg), (320, 240))
            numbers.append(pictures.frame_number(jpeg))
        self.assertEqual(numbers, sorted(set(numbers)))
        self.ctl("/cameras/%d/set?width=176&height=144" % cam)
        # Pictures already on their way keep the old size; the new size must
        # follow within the bound, and once it comes it stays.
        sizes = []
        deadline = time.monotonic() + WAIT
        while (176, 144) not in sizes and time.monotonic() < deadline:
            part = read_parts(resp, 1)
            self.assertEqual(len(part), 1)
            sizes.append(pictures.sof_size(part[0][1]))
        self.assertIn((176, 144), sizes)
        for _, jpeg in read_parts(resp, 2):
            self.assertEqual(pictures.sof_size(jpeg), (176, 144))

    def test_drop_after_closes_every_stream(self):
        cam, port = self.new_camera("fps=50")
        self.ctl("/cameras/%d/set?drop_after=2" % cam)
        for _ in range(2):
            resp = self.open_stream(port)
            self.assertEqual(len(read_parts(resp, 10)), 2)

    def test_hang_pauses_a_running_stream_until_cleared(self):
        cam, port = self.new_camera("fps=50")
        sock = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
        self.addCleanup(sock.close)
        sock.sendall(b"GET /cgi-bin/mjpeg?stream=0&mode=live HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertTrue(sock.recv(65536))
        self.ctl("/cameras/%d/set?hang=1" % cam)
        sock.settimeout(0.3)
        try:
            for _ in range(100):  # parts already on their way may still come
                sock.recv(65536)
        except socket.timeout:
            pass
        with self.assertRaises(socket.timeout):
            sock.recv(65536)
        self.ctl("/cameras/%d/set?hang=0" % cam)
        sock.settimeout(WAIT)
        self.assertTrue(sock.recv(65536))

    def test_down_ends_streams_and_closes_connections_until_up(self):
        cam, port = self.new_camera("fps=50")
        resp = self.open_stream(port)
        read_parts(resp, 1)
        self.ctl("/cameras/%d/set?down=1" % cam)
        read_parts(resp, 1000)  # returns once the connection closes
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=WAIT)
        with self.assertRaises((OSError, http.client.HTTPException)):
            conn.request("GET", "/cgi-bin/mjpeg?stream=0&mode=live")
            conn.getresponse()
        conn.close()
        self.ctl("/cameras/%d/set?down=0" % cam)
        self.assertEqual(len(read_parts(self.open_stream(port), 2)), 2)

    def test_garbage_floods_streams_and_answers_requests_until_cleared(self):
        cam, port = self.new_camera("fps=50")
        sock = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
        self.addCleanup(sock.close)
        sock.sendall(b"GET /cgi-bin/mjpeg?stream=0&mode=live HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertTrue(sock.recv(65536))
        self.ctl("/cameras/%d/set?garbage=1" % cam)
        # A new request gets junk and a close.
        other = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
        other.sendall(b"GET /cgi-bin/param.cgi HTTP/1.1\r\nHost: x\r\n\r\n")
        junk = b""
        while True:
            chunk = other.recv(65536)
            if not chunk:
                break
            junk += chunk
        other.close()
        self.assertGreaterEqual(len(junk), 4096)
        self.assertIn("GARBAGE -", self.ctl("/cameras/%d/log" % cam))
        # The running stream turns to junk: no boundary in a while of it.
        seen = b""
        while len(seen) < 200000:
            seen += sock.recv(65536)
        self.assertNotIn(b"--" + camera.BOUNDARY.encode() + b"\r\nContent-Type", seen[-100000:])
        self.ctl("/cameras/%d/set?garbage=0" % cam)
        seen = b""
        while b"Content-Type: image/jpeg" not in seen:
            seen += sock.recv(65536)

    def test_stream_paced_at_fps(self):
        _, port = self.new_camera("fps=20")
        resp = self.open_stream(port)
        read_parts(resp, 1)
        start = time.monotonic()
        read_parts(resp, 10)
        self.assertGreater(time.monotonic() - start, 0.3)  # 10 pictures at 20 fps take 0.5 s

    def test_sent_pictures_are_counted(self):
        cam, port = self.new_camera("fps=50")
        self.assertEqual(self.ctl("/cameras/%d/stats" % cam), "sent=0\n")
        self.ctl("/cameras/%d/set?drop_after=3" % cam)
        resp = self.open_stream(port)
        self.assertEqual(len(read_parts(resp, 10)), 3)
        self.assertEqual(self.ctl("/cameras/%d/stats" % cam), "sent=3\n")

    def test_delete_ends_stream(self):
        cam, port = self.new_camera()
        resp = self.open_stream(port)
        read_parts(resp, 1)
        self.ctl("/cameras/%d/delete" % cam)
        read_parts(resp, 1000)  # returns once the connection closes
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", port), timeout=WAIT).close()


class FaultTest(SimulatorTestBase):
    def setUp(self):
        self.cam, self.port = self.new_camera()

    def set(self, query):
        self.ctl("/cameras/%d/set?%s" % (self.cam, query))

    def test_hang_until_switched_off(self):
        self.set("hang=1")
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=0.3)
        conn.request("GET", "/cgi-bin/auth_if.cgi?Status")
        with self.assertRaises(socket.timeout):
            conn.getresponse()
        conn.sock.settimeout(WAIT)
        self.set("hang=0")
        resp = conn.getresponse()
        self.assertEqual(resp.status, 200)
        conn.close()
        self.assertEqual(len(self.ctl("/cameras/%d/log" % self.cam).splitlines()), 1)

    def test_status_and_empty(self):
        self.set("status=503")
        status, headers, body = get(self.port, "/cgi-bin/auth_if.cgi?Status")
        self.assertEqual((status, body, dict(headers)["Content-Length"]), (503, b"", "0"))
        self.set("status=0&empty=1")
        status, _, body = get(self.port, "/cgi-bin/param_if.cgi?NumActions=1&Action_0=X.GetValue")
        self.assertEqual((status, body), (200, b""))

    def test_keep_alive(self):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=WAIT)
        for _ in range(3):
            conn.request("GET", "/cgi-bin/auth_if.cgi?Status")
            resp = conn.getresponse()
            resp.read()
            self.assertEqual(resp.status, 200)
        first = conn.sock
        conn.request("GET", "/cgi-bin/auth_if.cgi?Status")
        conn.getresponse().read()
        self.assertIs(conn.sock, first)
        conn.close()

    def raw_blob(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=WAIT) as s:
            s.sendall(b"GET /test/blob HTTP/1.1\r\nHost: x\r\n\r\n")
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    return data
                data += chunk

    def test_blob_lengths(self):
        expected = bytes(i % 256 for i in range(1000))
        for query, length_header in [("body_len=1000&content_length=", b"Content-Length: 1000\r\n"),
                                     ("content_length=none", None),
                                     ("content_length=1200", b"Content-Length: 1200\r\n")]:
            with self.subTest(query=query):
                self.set("body_len=1000&" + query)
                if length_header is None or b"1200" in length_header:
                    data = self.raw_blob()
                else:
                    status, _, body = get(self.port, "/test/blob")
                    self.assertEqual(body, expected)
                    continue
                head, _, body = data.partition(b"\r\n\r\n")
                self.assertEqual(body, expected)
                if length_header:
                    self.assertIn(length_header, head + b"\r\n")
                else:
                    self.assertNotIn(b"Content-Length", head)

    def test_blob_stall(self):
        self.set("body_len=1000&stall_after=100")
        with socket.create_connection(("127.0.0.1", self.port), timeout=WAIT) as s:
            s.sendall(b"GET /test/blob HTTP/1.1\r\nHost: x\r\n\r\n")
            data = b""
            while not data.endswith(bytes(range(100))):
                data += s.recv(65536)
            s.settimeout(0.3)
            with self.assertRaises(socket.timeout):
                s.recv(1)
            s.settimeout(WAIT)
            self.set("stall_after=")
            rest = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                rest += chunk
            self.assertEqual(len(rest), 900)


class ProcessTest(unittest.TestCase):
    def test_port_file_and_sigterm(self):
        proc, text = start_simulator()
        try:
            self.assertRegex(text, r"^[0-9]+\n$")
            self.assertEqual(get(int(text), "/new")[0], 200)
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(WAIT), 0)
        finally:
            if proc.poll() is None:
                proc.kill()

    def test_exits_when_parent_is_gone(self):
        parent = subprocess.Popen(["sleep", "0.5"])
        proc, _ = start_simulator(["--parent-pid", str(parent.pid)])
        try:
            parent.wait()
            self.assertEqual(proc.wait(WAIT), 0)
        finally:
            if proc.poll() is None:
                proc.kill()

    def test_single_camera_mode(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        proc = subprocess.Popen([sys.executable, CAMSIM, "--camera-port", str(port), "--user", "u",
                                 "--password", "p", "--max-seconds", "60"], stdout=subprocess.PIPE)
        try:
            self.assertIn(b"127.0.0.1:%d" % port, proc.stdout.readline())
            self.assertEqual(get(port, "/cgi-bin/auth_if.cgi?Status")[0], 401)
            self.assertEqual(get(port, "/cgi-bin/auth_if.cgi?Status", basic("u", "p"))[0], 200)
        finally:
            proc.send_signal(signal.SIGINT)
            self.assertEqual(proc.wait(WAIT), 0)
            proc.stdout.close()


class PictureTest(unittest.TestCase):
    def test_tag_keeps_a_valid_jpeg_layout(self):
        jpeg = pictures.load(640, 480).pictures[0]
        tagged = pictures.tag_picture(jpeg, 42)
        self.assertEqual(tagged[:4], b"\xff\xd8\xff\xe0")
        self.assertEqual(pictures.frame_number(tagged), 42)
        self.assertEqual(pictures.sof_size(tagged), (640, 480))
        self.assertEqual(len(tagged), len(jpeg) + 4 + len(b"camsim frame 0000000042"))

    def test_fallback_pictures_are_baseline(self):
        fallback = pictures._read_dir(pictures.FALLBACK_DIR)
        self.assertGreaterEqual(len(fallback), 2)
        for jpeg in fallback:
            self.assertEqual(pictures.sof_size(jpeg), (640, 480))


if __name__ == "__main__":
    unittest.main()
