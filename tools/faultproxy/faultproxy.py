#!/usr/bin/python3
"""An RTSP-aware UDP fault proxy for the tests, loopback only.

  faultproxy.py --control-port 0 --port-file PATH [--parent-pid PID] [--max-seconds S]

Each proxy listens for RTSP on its own TCP port and forwards to one real
server. SETUP's client_port is replaced by a port pair of the proxy, so the
server sends RTP and RTCP here; the reply names another pair of the proxy
as server_port, so the driver's sender check and its RTCP go through the
proxy too. Datagrams towards the driver are dropped, reordered, duplicated,
delayed or followed by garbage at the rates set, drawn from a seeded RNG so
a run can be repeated. See README.md for the control API.
"""

import argparse
import heapq
import os
import random
import re
import select
import socket
import sys
import threading
import time
from urllib.parse import urlsplit

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
import toolserver  # noqa: E402

RATES = ("drop", "reorder", "duplicate", "delay", "garbage")
COUNTERS = ("sessions", "setups", "rtp_in", "rtcp_in", "forwarded", "dropped", "reordered",
            "duplicated", "delayed", "garbage", "rtcp_up", "blackholed", "rtsp_garbage")
# A held packet goes out after the next one, or on its own after this long,
# so that a pause in the stream does not keep it back for good.
REORDER_HOLD_S = 0.05
MAX_HEAD = 64 * 1024


class Faults:
    """Rates, RNG and counters of one proxy; shared by its sessions."""

    def __init__(self):
        self.lock = threading.Lock()
        self.rates = dict.fromkeys(RATES, 0.0)
        self.delay_ms = 100
        self.faults_on_rtcp = False
        self.blackhole = False
        # New RTSP connections are answered with random bytes, not relayed.
        self.rtsp_garbage = False
        self.seed = 1
        self.rng = random.Random(self.seed)
        self.counters = dict.fromkeys(COUNTERS, 0)

    def set(self, items):
        """Applies name=value pairs; raises ValueError naming the bad one."""
        with self.lock:
            for name, value in items:
                if name in RATES:
                    rate = float(value)
                    if not 0.0 <= rate <= 1.0:
                        raise ValueError("%s must be within 0..1" % name)
                    self.rates[name] = rate
                elif name == "delay_ms":
                    ms = int(value)
                    if not 0 <= ms <= 60000:
                        raise ValueError("delay_ms must be within 0..60000")
                    self.delay_ms = ms
                elif name == "seed":
                    self.seed = int(value)
                    self.rng = random.Random(self.seed)
                elif name == "rtcp":
                    self.faults_on_rtcp = value == "1"
                elif name == "blackhole":
                    self.blackhole = value == "1"
                elif name == "rtsp_garbage":
                    self.rtsp_garbage = value == "1"
                elif name == "clear":
                    self.rates = dict.fromkeys(RATES, 0.0)
                    self.blackhole = False
                    self.rtsp_garbage = False
                else:
                    raise ValueError("unknown switch %s" % name)

    def count(self, name, n=1):
        with self.lock:
            self.counters[name] += n

    def decide(self, rtcp):
        """What to do with one datagram towards the driver: a set of actions."""
        with self.lock:
            if self.blackhole:
                self.counters["blackholed"] += 1
                return {"blackhole"}
            if rtcp and not self.faults_on_rtcp:
                return set()
            # One draw per fault, always in the same order, so the sequence
            # depends on the seed and the packet count only.
            draws = {name: self.rng.random() for name in RATES}
            actions = {name for name in RATES if draws[name] < self.rates[name]}
            if "drop" in actions:
                return {"drop"}
            return actions

    def garbage(self, size):
        with self.lock:
            return bytes(self.rng.getrandbits(8) for _ in range(size))

    def snapshot(self):
        with self.lock:
            return dict(self.counters)

    def clear_counters(self):
        with self.lock:
            self.counters = dict.fromkeys(COUNTERS, 0)


def udp_socket(host="127.0.0.1"):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((host, 0))
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
    return s


class UdpRelay:
    """The datagram side of one SETUP: server-facing and driver-facing pairs."""

    def __init__(self, faults, driver_host, driver_ports):
        self.faults = faults
        self.driver = [(driver_host, driver_ports[0]), (driver_host, driver_ports[1])]
        self.toward_server = [udp_socket(), udp_socket()]  # given to the server as client_port
        self.toward_driver = [udp_socket(), udp_socket()]  # given to the driver as server_port
        self.server = [None, None]  # learnt from the first datagram, or from the reply
        self.stop = threading.Event()
        self.pending = []  # heap of (due, seq, channel, data)
        self.seq = 0
        self.held = None  # (channel, data, due) of a packet held back for reordering
        self.thread = threading.Thread(target=self.run, name="udp-relay", daemon=True)

    def server_ports(self):
        return [s.getsockname()[1] for s in self.toward_server]

    def driver_ports(self):
        return [s.getsockname()[1] for s in self.toward_driver]

    def start(self):
        self.thread.start()

    def close(self):
        self.stop.set()
        if self.thread.is_alive() and self.thread is not threading.current_thread():
            self.thread.join(2)
        for s in self.toward_server + self.toward_driver:
            s.close()

    def send_driver(self, channel, data):
        try:
            self.toward_driver[channel].sendto(data, self.driver[channel])
            self.faults.count("forwarded")
        except OSError:
            pass

    def later(self, due, channel, data):
        self.seq += 1
        heapq.heappush(self.pending, (due, self.seq, channel, data))

    def from_server(self, channel, data, now):
        self.faults.count("rtcp_in" if channel else "rtp_in")
        actions = self.faults.decide(channel == 1)
        if "blackhole" in actions or "drop" in actions:
            if "drop" in actions:
                self.faults.count("dropped")
            return
        if "delay" in actions:
            self.faults.count("delayed")
            self.later(now + self.faults.delay_ms / 1000.0, channel, data)
        elif "reorder" in actions and self.held is None:
            self.faults.count("reordered")
            self.held = (channel, data, now + REORDER_HOLD_S)
            return
        else:
            self.send_driver(channel, data)
        if "duplicate" in actions:
            self.faults.count("duplicated")
            self.send_driver(channel, data)
        if "garbage" in actions:
            self.faults.count("garbage")
            self.send_driver(channel, self.faults.garbage(max(1, min(len(data), 1400))))
        if self.held is not None:
            held, self.held = self.held, None
            self.send_driver(held[0], held[1])

    def run(self):
        sockets = self.toward_server + self.toward_driver
        while not self.stop.is_set():
            now = time.monotonic()
            due = [0.2]
            if self.pending:
                due.append(self.pending[0][0] - now)
            if self.held is not None:
                due.append(self.held[2] - now)
            try:
                readable, _, _ = select.select(sockets, [], [], max(0.0, min(due)))
            except (OSError, ValueError):
                return
            now = time.monotonic()
            for s in readable:
                try:
                    data, addr = s.recvfrom(65536)
                except OSError:
                    continue
                if s in self.toward_server:
                    channel = self.toward_server.index(s)
                    self.server[channel] = addr
                    self.from_server(channel, data, now)
                else:
                    # The driver's RTCP (or anything it sends) goes up unharmed.
                    channel = self.toward_driver.index(s)
                    target = self.server[channel]
                    if target is not None:
                        self.faults.count("rtcp_up")
                        try:
                            self.toward_server[channel].sendto(data, target)
                        except OSError:
                            pass
            while self.pending and self.pending[0][0] <= now:
                _, _, channel, data = heapq.heappop(self.pending)
                self.send_driver(channel, data)
            if self.held is not None and self.held[2] <= now:
                held, self.held = self.held, None
                self.send_driver(held[0], held[1])


CLIENT_PORT = re.compile(r"client_port=(\d+)(?:-(\d+))?", re.I)
SERVER_PORT = re.compile(r"server_port=(\d+)(?:-(\d+))?", re.I)
CSEQ = re.compile(rb"^cseq:\s*(\d+)", re.I | re.M)
LENGTH = re.compile(rb"^content-length:\s*(\d+)", re.I | re.M)
TRANSPORT = re.compile(rb"^(transport:[ \t]*)([^\r\n]*)", re.I | re.M)


def read_message(sock, buf):
    """One RTSP message or interleaved frame from sock: (bytes, rest of buf);
    (None, buf) at the end of the connection."""
    while True:
        if buf[:1] == b"$":
            if len(buf) >= 4:
                need = 4 + int.from_bytes(buf[2:4], "big")
                if len(buf) >= need:
                    return buf[:need], buf[need:]
        else:
            end = buf.find(b"\r\n\r\n")
            if end < 0 and len(buf) > MAX_HEAD:
                return buf, b""  # not RTSP as we know it: pass it on as it is
            if end >= 0:
                head_len = end + 4
                m = LENGTH.search(buf[:head_len])
                need = head_len + (int(m.group(1)) if m else 0)
                if len(buf) >= need:
                    return buf[:need], buf[need:]
        try:
            chunk = sock.recv(65536)
        except OSError:
            chunk = b""
        if not chunk:
            return None, buf
        buf += chunk


def rewrite_transport(message, fn):
    m = TRANSPORT.search(message)
    if not m:
        return message
    value = fn(m.group(2).decode("latin-1")).encode("latin-1")
    return message[:m.start(2)] + value + message[m.end(2):]


class RtspConnection:
    """One driver connection relayed to the server, SETUP rewritten."""

    def __init__(self, proxy, client):
        self.proxy = proxy
        self.client = client
        self.server = None
        self.setups = {}  # CSeq -> UdpRelay waiting for its reply
        self.relays = []
        self.lock = threading.Lock()
        self.closed = False

    def start(self):
        if self.proxy.faults.rtsp_garbage:
            threading.Thread(target=self.answer_garbage, name="rtsp-garbage", daemon=True).start()
            return
        try:
            self.server = socket.create_connection(self.proxy.target, timeout=5)
            self.server.settimeout(None)
        except OSError:
            self.client.close()
            return
        self.proxy.faults.count("sessions")
        threading.Thread(target=self.upstream, name="rtsp-up", daemon=True).start()
        threading.Thread(target=self.downstream, name="rtsp-down", daemon=True).start()

    def answer_garbage(self):
        """A camera gone mad: random bytes for whatever the driver asks,
        sometimes behind a status line that looks right, then the close."""
        self.proxy.faults.count("rtsp_garbage")
        try:
            self.client.settimeout(5)
            self.client.recv(MAX_HEAD)
            junk = self.proxy.faults.garbage(2048)
            if junk[0] & 1:
                junk = b"RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 1500\r\n\r\n" + junk
            self.client.sendall(junk)
        except OSError:
            pass
        self.close()

    def close(self):
        with self.lock:
            if self.closed:
                return
            self.closed = True
        for s in (self.client, self.server):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except (OSError, AttributeError):
                pass
            try:
                s.close()
            except (OSError, AttributeError):
                pass
        for relay in self.relays:
            relay.close()
        self.proxy.forget(self)

    def upstream(self):
        buf = b""
        driver_host = self.client.getpeername()[0]
        while True:
            message, buf = read_message(self.client, buf)
            if message is None:
                break
            if message[:6].upper() == b"SETUP ":
                message = self.rewrite_setup(message, driver_host)
            try:
                self.server.sendall(message)
            except OSError:
                break
        self.close()

    def rewrite_setup(self, message, driver_host):
        m = CSEQ.search(message)
        ports = []

        def swap(value):
            pm = CLIENT_PORT.search(value)
            if not pm:
                return value  # interleaved: nothing to relay
            rtp = int(pm.group(1))
            ports.append((rtp, int(pm.group(2)) if pm.group(2) else rtp + 1))
            return value  # replaced below once the relay exists

        rewrite_transport(message, swap)
        if not ports or not m:
            return message
        relay = UdpRelay(self.proxy.faults, driver_host, ports[0])
        own = relay.server_ports()
        with self.lock:
            self.setups[m.group(1)] = relay
            self.relays.append(relay)
        self.proxy.faults.count("setups")
        return rewrite_transport(message, lambda v: CLIENT_PORT.sub(
            "client_port=%d-%d" % (own[0], own[1]), v, count=1))

    def downstream(self):
        buf = b""
        while True:
            message, buf = read_message(self.server, buf)
            if message is None:
                break
            if message[:5] == b"RTSP/":
                message = self.rewrite_reply(message)
            try:
                self.client.sendall(message)
            except OSError:
                break
        self.close()

    def rewrite_reply(self, message):
        m = CSEQ.search(message)
        with self.lock:
            relay = self.setups.pop(m.group(1), None) if m else None
        if relay is None:
            return message

        def swap(value):
            sm = SERVER_PORT.search(value)
            if sm:
                ports = [int(sm.group(1)), int(sm.group(2)) if sm.group(2) else int(sm.group(1)) + 1]
                host = self.proxy.target[0]
                relay.server = [(host, ports[0]), (host, ports[1])]
                value = SERVER_PORT.sub("server_port=%d-%d" % tuple(relay.driver_ports()), value, count=1)
            driver = relay.driver
            return CLIENT_PORT.sub("client_port=%d-%d" % (driver[0][1], driver[1][1]), value, count=1)

        message = rewrite_transport(message, swap)
        relay.start()
        return message


class Proxy:
    def __init__(self, proxy_id, target, faults):
        self.id = proxy_id
        self.target = target
        self.faults = faults
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.lock = threading.Lock()
        self.connections = set()
        self.closed = False
        threading.Thread(target=self.accept, name="rtsp-accept", daemon=True).start()

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            conn = RtspConnection(self, client)
            with self.lock:
                if self.closed:
                    client.close()
                    return
                self.connections.add(conn)
            conn.start()

    def forget(self, conn):
        with self.lock:
            self.connections.discard(conn)

    def drop_connections(self):
        with self.lock:
            conns = list(self.connections)
        for conn in conns:
            conn.close()
        return len(conns)

    def close(self):
        with self.lock:
            self.closed = True
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
        self.drop_connections()


class Controller:
    def __init__(self):
        self.lock = threading.Lock()
        self.proxies = {}
        self.next_id = 1
        self.stop = threading.Event()

    def new(self, target, items):
        faults = Faults()
        faults.set(items)
        with self.lock:
            proxy_id = self.next_id
            self.next_id += 1
            self.proxies[proxy_id] = Proxy(proxy_id, target, faults)
            return self.proxies[proxy_id]

    def get(self, proxy_id):
        with self.lock:
            return self.proxies.get(proxy_id)

    def delete(self, proxy_id):
        with self.lock:
            proxy = self.proxies.pop(proxy_id, None)
        if proxy:
            proxy.close()


class ControlHandler(toolserver.ControlHandler):
    content_type = "text/plain"
    routes = {"shutdown": "shutdown", "new": "new_proxy"}
    collection = "proxies"

    def target(self):
        # Read as a URL, as this proxy always has: an absolute target or a
        # fragment is taken apart rather than becoming part of the command.
        url = urlsplit(self.path)
        return url.path, url.query

    def new_proxy(self, items):
        target = [v for k, v in items if k == "target"]
        rest = [(k, v) for k, v in items if k != "target"]
        if not target or ":" not in target[0]:
            self.reply(400, "target=<host>:<port> missing\n")
            return
        host, _, port = target[0].rpartition(":")
        try:
            proxy = self.server.controller.new((host, int(port)), rest)
        except ValueError as e:
            self.reply(400, "%s\n" % e)
            return
        self.reply(200, "id=%d port=%d\n" % (proxy.id, proxy.port))

    def item(self, key, command, items):
        ctl = self.server.controller
        proxy = ctl.get(int(key))
        if proxy is None:
            self.reply(404, "no proxy %s\n" % key)
        elif command == ["set"]:
            try:
                proxy.faults.set(items)
            except ValueError as e:
                self.reply(400, "%s\n" % e)
                return
            self.reply(200, "OK\n")
        elif command == ["counters"]:
            c = proxy.faults.snapshot()
            self.reply(200, "".join("%s=%d\n" % (k, c[k]) for k in COUNTERS))
        elif command == ["counters", "clear"]:
            proxy.faults.clear_counters()
            self.reply(200, "OK\n")
        elif command == ["drop"]:
            self.reply(200, "dropped=%d\n" % proxy.drop_connections())
        elif command == ["delete"]:
            ctl.delete(proxy.id)
            self.reply(200, "OK\n")
        else:
            self.reply(404, "unknown command\n")


def main(argv=None):
    p = argparse.ArgumentParser(description="RTSP-aware UDP fault proxy for tests (loopback only)")
    toolserver.add_control_arguments(p)
    toolserver.add_lifetime_arguments(p)
    args = p.parse_args(argv)

    controller = Controller()
    control = toolserver.open_control("faultproxy", args.control_port, ControlHandler, controller)
    if control is None:
        return 2
    toolserver.stop_on_signals(controller.stop)
    toolserver.serve_control(control, "faultproxy", args.port_file)
    toolserver.wait_for_end(controller.stop, args.parent_pid, args.max_seconds)
    control.shutdown()
    control.server_close()
    for proxy_id in list(controller.proxies):
        controller.delete(proxy_id)
    return 0


if __name__ == "__main__":
    sys.exit(main())
