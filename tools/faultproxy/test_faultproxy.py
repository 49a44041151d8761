"""Self-tests of the fault proxy against a plain TCP/UDP fake server.

    python3 -m unittest discover -s tools/faultproxy
"""

import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import faultproxy  # noqa: E402

WAIT = 10.0  # generous bound for anything the tests wait on


class FakeServer:
    """Answers every RTSP request 200 with its CSeq; a SETUP's reply echoes
    the Transport and adds server_port of its own UDP pair. Records what it
    received; send_rtp() sends to the client_port it was given."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.udp = [faultproxy.udp_socket(), faultproxy.udp_socket()]
        self.requests = []
        self.client_ports = None
        self.conn = None
        self.interleaved = b""
        self.setup_done = threading.Event()
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        try:
            self.conn, _ = self.listener.accept()
        except OSError:
            return
        buf = b""
        while True:
            msg, buf = faultproxy.read_message(self.conn, buf)
            if msg is None:
                return
            self.requests.append(msg)
            cseq = re.search(rb"CSeq: (\d+)", msg).group(1)
            extra = b""
            if msg.startswith(b"SETUP"):
                transport = re.search(rb"Transport: ([^\r\n]*)", msg).group(1)
                m = re.search(rb"client_port=(\d+)-(\d+)", transport)
                if m:
                    self.client_ports = (int(m.group(1)), int(m.group(2)))
                extra = b"Transport: " + transport + b";server_port=%d-%d\r\n" % (
                    self.udp[0].getsockname()[1], self.udp[1].getsockname()[1])
            body = b"v=0\r\n" if msg.startswith(b"DESCRIBE") else b""
            reply = b"RTSP/1.0 200 OK\r\nCSeq: " + cseq + b"\r\n" + extra
            reply += b"Content-Length: %d\r\n\r\n" % len(body) + body + self.interleaved
            self.conn.sendall(reply)
            if msg.startswith(b"SETUP"):
                self.setup_done.set()

    def send_rtp(self, data, channel=0):
        self.udp[channel].sendto(data, ("127.0.0.1", self.client_ports[channel]))

    def close(self):
        for s in [self.listener, self.conn] + self.udp:
            if s:
                s.close()


class FakeDriver:
    """The client side: an RTSP connection to the proxy and a UDP pair."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
        self.udp = [faultproxy.udp_socket(), faultproxy.udp_socket()]
        for s in self.udp:
            s.settimeout(0.5)
        self.buf = b""
        self.cseq = 0

    def request(self, method, transport=None):
        self.cseq += 1
        msg = b"%s rtsp://127.0.0.1/x RTSP/1.0\r\nCSeq: %d\r\n" % (method.encode(), self.cseq)
        if transport:
            msg += b"Transport: " + transport.encode() + b"\r\n"
        self.sock.sendall(msg + b"\r\n")
        reply, self.buf = faultproxy.read_message(self.sock, self.buf)
        return reply

    def setup(self):
        ports = [s.getsockname()[1] for s in self.udp]
        return self.request("SETUP", "RTP/AVP;unicast;client_port=%d-%d" % tuple(ports))

    def receive(self, count, channel=0, quiet=1.0):
        """Datagrams until count arrived or none came for quiet seconds."""
        got = []
        deadline = time.monotonic() + WAIT
        last = time.monotonic()
        while len(got) < count and time.monotonic() < deadline and time.monotonic() - last < quiet:
            try:
                data, addr = self.udp[channel].recvfrom(65536)
            except socket.timeout:
                continue
            got.append((data, addr))
            last = time.monotonic()
        return got

    def close(self):
        self.sock.close()
        for s in self.udp:
            s.close()


class ProxyCase(unittest.TestCase):
    def setUp(self):
        self.server = FakeServer()
        self.controller = faultproxy.Controller()
        self.drivers = []

    def tearDown(self):
        for d in self.drivers:
            d.close()
        for proxy_id in list(self.controller.proxies):
            self.controller.delete(proxy_id)
        self.server.close()

    def proxy(self, **rates):
        return self.controller.new(("127.0.0.1", self.server.port), [(k, str(v)) for k, v in rates.items()])

    def driver(self, proxy):
        d = FakeDriver(proxy.port)
        self.drivers.append(d)
        return d

    def playing(self, **rates):
        proxy = self.proxy(**rates)
        d = self.driver(proxy)
        reply = d.setup()
        self.assertTrue(self.server.setup_done.wait(WAIT))
        return proxy, d, reply


class Rewriting(ProxyCase):
    def test_setup_names_the_proxy_ports_to_the_server_and_the_driver_ports_back(self):
        proxy, d, reply = self.playing()
        own = [s.getsockname()[1] for s in d.udp]
        sent = self.server.requests[-1]
        self.assertNotIn(b"client_port=%d-%d" % tuple(own), sent)
        self.assertNotEqual(self.server.client_ports, tuple(own))
        self.assertIn(b"client_port=%d-%d" % tuple(own), reply)
        server_ports = tuple(s.getsockname()[1] for s in self.server.udp)
        self.assertNotIn(b"server_port=%d-%d" % server_ports, reply)
        self.assertRegex(reply, rb"server_port=\d+-\d+")
        self.assertEqual(proxy.faults.snapshot()["setups"], 1)

    def test_datagrams_reach_the_driver_from_the_announced_server_port_and_rtcp_goes_back(self):
        _, d, reply = self.playing()
        announced = [int(p) for p in re.search(rb"server_port=(\d+)-(\d+)", reply).groups()]
        self.server.send_rtp(b"rtp-1")
        got = d.receive(1)
        self.assertEqual([g[0] for g in got], [b"rtp-1"])
        self.assertEqual(got[0][1][1], announced[0])
        self.server.send_rtp(b"rtcp-sr", channel=1)
        got = d.receive(1, channel=1)
        self.assertEqual(got[0][1][1], announced[1])
        # The driver's receiver report reaches the server's RTCP port.
        d.udp[1].sendto(b"rtcp-rr", ("127.0.0.1", announced[1]))
        self.server.udp[1].settimeout(WAIT)
        data, _ = self.server.udp[1].recvfrom(100)
        self.assertEqual(data, b"rtcp-rr")

    def test_other_requests_and_interleaved_frames_pass_unchanged(self):
        self.server.interleaved = b"$\x00\x00\x03abc"
        proxy = self.proxy()
        d = self.driver(proxy)
        reply = d.request("OPTIONS")
        self.assertTrue(reply.startswith(b"RTSP/1.0 200 OK"))
        frame, d.buf = faultproxy.read_message(d.sock, d.buf)
        self.assertEqual(frame, b"$\x00\x00\x03abc")
        self.assertEqual(self.server.requests[0], b"OPTIONS rtsp://127.0.0.1/x RTSP/1.0\r\nCSeq: 1\r\n\r\n")

    def test_tcp_setup_is_not_relayed(self):
        proxy = self.proxy()
        d = self.driver(proxy)
        d.request("SETUP", "RTP/AVP/TCP;unicast;interleaved=0-1")
        self.assertIn(b"interleaved=0-1", self.server.requests[-1])
        self.assertEqual(proxy.faults.snapshot()["setups"], 0)


class FaultRates(ProxyCase):
    N = 400

    def pump(self, d, n=N, size=20):
        for i in range(n):
            self.server.send_rtp(b"%05d" % i + b"x" * size)
            if i % 50 == 49:
                time.sleep(0.01)  # do not overflow the loopback buffers
        return d.receive(n * 3, quiet=0.6)

    def test_no_faults_forwards_everything_in_order(self):
        proxy, d, _ = self.playing()
        got = self.pump(d)
        self.assertEqual([g[0][:5] for g in got], [b"%05d" % i for i in range(self.N)])
        self.assertEqual(proxy.faults.snapshot()["forwarded"], self.N)

    def test_drop_rate_drops_about_that_share_and_counts_it(self):
        proxy, d, _ = self.playing(drop=0.2, seed=7)
        got = self.pump(d)
        c = proxy.faults.snapshot()
        self.assertEqual(len(got), self.N - c["dropped"])
        self.assertGreater(c["dropped"], self.N * 0.1)
        self.assertLess(c["dropped"], self.N * 0.3)

    def test_the_same_seed_drops_the_same_packets(self):
        runs = []
        for _ in range(2):
            faults = faultproxy.Faults()
            faults.set([("drop", "0.3"), ("reorder", "0.1"), ("seed", "42")])
            runs.append([sorted(faults.decide(False)) for _ in range(500)])
        self.assertEqual(runs[0], runs[1])
        faults = faultproxy.Faults()
        faults.set([("drop", "0.3"), ("seed", "43")])
        self.assertNotEqual(runs[0], [sorted(faults.decide(False)) for _ in range(500)])

    def test_duplicates_arrive_twice(self):
        proxy, d, _ = self.playing(duplicate=0.1, seed=3)
        got = self.pump(d)
        c = proxy.faults.snapshot()
        self.assertGreater(c["duplicated"], 0)
        self.assertEqual(len(got), self.N + c["duplicated"])
        self.assertEqual(sorted(set(g[0] for g in got)), sorted(g[0] for g in self.pump_ids()))

    def pump_ids(self):
        return [(b"%05d" % i + b"x" * 20, None) for i in range(self.N)]

    def test_reordered_packets_all_arrive_some_out_of_order(self):
        proxy, d, _ = self.playing(reorder=0.1, seed=5)
        got = [int(g[0][:5]) for g in self.pump(d)]
        self.assertEqual(sorted(got), list(range(self.N)))
        self.assertNotEqual(got, list(range(self.N)))
        self.assertGreater(proxy.faults.snapshot()["reordered"], 0)

    def test_a_lone_held_packet_is_not_kept_back(self):
        proxy, d, _ = self.playing(reorder=1.0)
        self.server.send_rtp(b"only")
        self.assertEqual([g[0] for g in d.receive(1)], [b"only"])
        self.assertEqual(proxy.faults.snapshot()["reordered"], 1)

    def test_delayed_packets_arrive_late(self):
        proxy, d, _ = self.playing(delay=1.0, delay_ms=300)
        t0 = time.monotonic()
        self.server.send_rtp(b"late")
        got = d.receive(1)
        self.assertEqual([g[0] for g in got], [b"late"])
        self.assertGreaterEqual(time.monotonic() - t0, 0.25)
        self.assertEqual(proxy.faults.snapshot()["delayed"], 1)

    def test_garbage_follows_the_packet(self):
        proxy, d, _ = self.playing(garbage=1.0, seed=9)
        self.server.send_rtp(b"real-packet")
        got = d.receive(2)
        self.assertEqual(got[0][0], b"real-packet")
        self.assertEqual(len(got[1][0]), len(b"real-packet"))
        self.assertEqual(proxy.faults.snapshot()["garbage"], 1)

    def test_rtcp_is_spared_unless_asked(self):
        proxy, d, _ = self.playing(drop=1.0)
        self.server.send_rtp(b"sr", channel=1)
        self.assertEqual(len(d.receive(1, channel=1)), 1)
        proxy.faults.set([("rtcp", "1")])
        self.server.send_rtp(b"sr", channel=1)
        self.assertEqual(d.receive(1, channel=1), [])

    def test_blackhole_and_changing_rates_while_running(self):
        proxy, d, _ = self.playing()
        proxy.faults.set([("blackhole", "1")])
        self.server.send_rtp(b"a")
        self.assertEqual(d.receive(1), [])
        proxy.faults.set([("clear", "")])
        self.server.send_rtp(b"b")
        self.assertEqual([g[0] for g in d.receive(1)], [b"b"])
        self.assertEqual(proxy.faults.snapshot()["blackholed"], 1)

    def test_rtsp_garbage_answers_new_connections_with_junk_and_closes(self):
        proxy = self.proxy(rtsp_garbage=1)
        d = self.driver(proxy)
        d.sock.settimeout(WAIT)
        d.sock.sendall(b"OPTIONS rtsp://x/ RTSP/1.0\r\nCSeq: 1\r\n\r\n")
        got = b""
        while True:
            chunk = d.sock.recv(65536)
            if not chunk:
                break
            got += chunk
        self.assertGreaterEqual(len(got), 2048)
        self.assertEqual(proxy.faults.snapshot()["rtsp_garbage"], 1)
        self.assertEqual(proxy.faults.snapshot()["sessions"], 0)  # the server never heard of it
        proxy.faults.set([("clear", "")])
        self.driver(proxy).setup()  # relayed again once cleared
        self.assertTrue(self.server.setup_done.wait(WAIT))

    def test_dropping_connections_closes_the_driver_side(self):
        proxy, d, _ = self.playing()
        proxy.drop_connections()
        d.sock.settimeout(WAIT)
        self.assertEqual(d.sock.recv(10), b"")


class Process(unittest.TestCase):
    def test_control_api_end_to_end(self):
        server = FakeServer()
        with tempfile.TemporaryDirectory() as tmp:
            port_file = os.path.join(tmp, "port")
            proc = subprocess.Popen([sys.executable, os.path.join(HERE, "faultproxy.py"),
                                     "--control-port", "0", "--port-file", port_file,
                                     "--parent-pid", str(os.getpid())],
                                    stdout=subprocess.DEVNULL)
            try:
                deadline = time.monotonic() + WAIT
                while not os.path.exists(port_file) and time.monotonic() < deadline:
                    time.sleep(0.05)
                with open(port_file) as f:
                    control = int(f.read())

                def get(path):
                    try:
                        with urllib.request.urlopen("http://127.0.0.1:%d%s" % (control, path), timeout=WAIT) as r:
                            return r.status, r.read().decode()
                    except urllib.error.HTTPError as e:
                        return e.code, e.read().decode()

                status, text = get("/new?target=127.0.0.1:%d&drop=0.5&seed=1" % server.port)
                self.assertEqual(status, 200)
                m = re.match(r"id=(\d+) port=(\d+)", text)
                self.assertIsNotNone(m)
                self.assertEqual(get("/new?target=127.0.0.1:1&drop=2")[0], 400)
                self.assertEqual(get("/new?drop=0.1")[0], 400)
                self.assertEqual(get("/proxies/%s/set?bogus=1" % m.group(1))[0], 400)
                self.assertEqual(get("/proxies/%s/set?drop=0&duplicate=0.01" % m.group(1)), (200, "OK\n"))
                d = FakeDriver(int(m.group(2)))
                d.setup()
                self.assertTrue(server.setup_done.wait(WAIT))
                server.send_rtp(b"x")
                self.assertEqual(len(d.receive(1)), 1)
                status, text = get("/proxies/%s/counters" % m.group(1))
                self.assertIn("forwarded=1\n", text)
                self.assertIn("setups=1\n", text)
                self.assertEqual(get("/proxies/%s/counters/clear" % m.group(1))[0], 200)
                self.assertIn("forwarded=0\n", get("/proxies/%s/counters" % m.group(1))[1])
                self.assertEqual(get("/proxies/99/counters")[0], 404)
                self.assertEqual(get("/proxies/%s/drop" % m.group(1)), (200, "dropped=1\n"))
                self.assertEqual(get("/proxies/%s/delete" % m.group(1))[0], 200)
                d.close()
                self.assertEqual(get("/shutdown")[0], 200)
                self.assertEqual(proc.wait(WAIT), 0)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
                server.close()


if __name__ == "__main__":
    unittest.main()
