"""Tests of the control server the test peers share: how a request target
becomes a command and its query, and what answers a command that fails.

From the repository root:  python3 -m unittest discover -s tools/common
"""

import http.client
import os
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import toolserver  # noqa: E402


class Controller:
    def __init__(self):
        self.stop = threading.Event()


class EchoHandler(toolserver.ControlHandler):
    routes = {"new": "echo", "a/b": "echo", "fail": "fail", "crash": "crash", "shutdown": "shutdown"}
    collection = "things"
    failures = ((ValueError, 400, "bad: %s\n"), (RuntimeError, 500, "%s\n"))

    def echo(self, pairs):
        self.reply(200, "%r\n" % (pairs,))

    def fail(self, pairs):
        raise (ValueError if dict(pairs).get("as") == "value" else RuntimeError)("no")

    def crash(self, pairs):
        raise KeyError("not answered")

    def item(self, key, command, pairs):
        self.reply(200, "%s %s %r\n" % (key, "/".join(command), pairs))


class QuietServer(toolserver.ControlServer):
    def handle_error(self, request, client_address):
        pass  # the crash row's traceback is expected


class ControlHandlerTest(unittest.TestCase):
    def setUp(self):
        self.controller = Controller()
        self.server = QuietServer(0, EchoHandler, self.controller)
        threading.Thread(target=self.server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True).start()

    def tearDown(self):
        self.server.shutdown()
        self.server.server_close()

    def get(self, target):
        conn = http.client.HTTPConnection("127.0.0.1", self.server.server_address[1], timeout=20)
        try:
            conn.request("GET", target)
            response = conn.getresponse()
            return response.status, response.read().decode(), response.getheader("Content-Type")
        except http.client.RemoteDisconnected:
            return None, "", None
        finally:
            conn.close()

    def test_requests(self):
        rows = [
            ("/new", 200, "[]\n"),
            ("/new?a=1&b=&a=2", 200, "[('a', '1'), ('b', ''), ('a', '2')]\n"),
            ("/new?x=%20y+z&%3D=%26", 200, "[('x', ' y z'), ('=', '&')]\n"),
            ("//new/", 200, "[]\n"),
            ("/a/b?c", 200, "[('c', '')]\n"),
            ("/", 404, "unknown command\n"),
            ("/nothing", 404, "unknown command\n"),
            ("/new/x", 404, "unknown command\n"),
            ("/echo", 404, "unknown command\n"),
            ("/things", 404, "unknown command\n"),
            ("/things/7", 404, "unknown command\n"),
            ("/things/x7/log", 404, "unknown command\n"),
            ("/other/7/log", 404, "unknown command\n"),
            ("/things/7/log/clear?n=1", 200, "7 log/clear [('n', '1')]\n"),
            ("/things/007/log", 200, "007 log []\n"),
            ("/fail?as=value", 400, "bad: no\n"),
            ("/fail?as=runtime", 500, "no\n"),
            ("/crash", None, ""),
        ]
        for target, status, body in rows:
            with self.subTest(target=target):
                got_status, got_body, content_type = self.get(target)
                self.assertEqual((got_status, got_body), (status, body))
                if status is not None:
                    self.assertEqual(content_type, "text/plain; charset=utf-8")

    def test_shutdown_answers_then_stops(self):
        self.assertEqual(self.get("/shutdown")[:2], (200, "OK\n"))
        self.assertTrue(self.controller.stop.wait(20))

    def test_listens_on_loopback_only(self):
        self.assertEqual(self.server.server_address[0], "127.0.0.1")


if __name__ == "__main__":
    unittest.main()
