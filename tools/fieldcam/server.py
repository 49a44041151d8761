"""The RTSP side of a field camera: one server per profile, with a request
log that says what the client did and where it broke the camera's rules."""

import base64
import random
import socket
import struct
import threading
import time
import uuid
from urllib.parse import urljoin, urlsplit

import auth
import profiles
from streamer import Streamer

POLL = 0.2


def _nonce(style):
    if style == "HEX":
        return "%032X" % random.getrandbits(128)
    if style == "decimal":
        return str(random.getrandbits(60))
    if style == "uuid":
        return str(uuid.uuid4())
    if style == "base64":
        return base64.b64encode(random.getrandbits(192).to_bytes(24, "big")).decode()
    return "%032x" % random.getrandbits(128)


def _tail(url):
    """Path and query of an rtsp URL (scheme and host dropped, however many
    schemes it carries)."""
    rest = url
    while rest.lower().startswith("rtsp://"):
        rest = rest[7:]
    at = rest.find("/")
    return rest[at:] if at >= 0 else "/"


class Session:
    def __init__(self, sid, timeout, conn):
        self.id = sid
        self.timeout = timeout
        self.conn = conn
        self.last = time.monotonic()
        self.transport = None     # "udp" or "tcp"
        self.client = None        # (host, rtp port, rtcp port)
        self.channels = (0, 1)
        self.udp = None           # (rtp socket, rtcp socket)
        self.setup_url = ""
        self.streamer = None
        self.closed = False
        self.playing_since = 0.0
        self.keepalives = 0
        self.reports = 0          # receiver reports from the client, over UDP or TCP

    def alive(self):
        return not self.closed and time.monotonic() - self.last <= self.timeout


class Connection:
    def __init__(self, sock, port):
        self.sock = sock
        self.port = port
        self.lock = threading.Lock()
        self.open = True

    def send(self, data):
        with self.lock:
            self.sock.sendall(data)

    def close(self):
        self.open = False
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class FieldServer:
    def __init__(self, server_id, profile_name, clips, user="admin", password="", timeout=None):
        self.id = server_id
        self.p = profiles.profile(profile_name)
        if timeout:
            self.p["timeout"] = timeout
        self.clips = clips
        self.user = user
        self.password = password
        self.nonce = _nonce(self.p["nonce_style"])
        self.renonced = False
        self.sessions = {}
        self.setups = 0
        self.plays = 0
        self.lock = threading.Lock()
        self.log_lines = []
        self.t0 = time.monotonic()
        self.stop = threading.Event()
        self.listeners = [self._listen()]
        self.port = self.listeners[0].getsockname()[1]
        # A redirecting camera sends DESCRIBE to a second port that serves.
        self.target_port = 0
        if self.p["redirect"]:
            self.listeners.append(self._listen())
            self.target_port = self.listeners[1].getsockname()[1]
        for s in self.listeners:
            threading.Thread(target=self._accept, args=(s,), daemon=True).start()
        threading.Thread(target=self._expire, daemon=True).start()

    # --- bookkeeping -------------------------------------------------------
    @staticmethod
    def _listen():
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("127.0.0.1", 0))
        s.listen(16)
        s.settimeout(POLL)
        return s

    def log(self, text):
        with self.lock:
            self.log_lines.append("%7.3f %s" % (time.monotonic() - self.t0, text))

    def get_log(self):
        with self.lock:
            return list(self.log_lines)

    def clear_log(self):
        with self.lock:
            self.log_lines = []

    def stats(self):
        with self.lock:
            return {"setups": self.setups, "plays": self.plays, "sessions": len(self.sessions)}

    def close(self):
        self.stop.set()
        for s in self.listeners:
            s.close()
        with self.lock:
            sessions = list(self.sessions.values())
        for s in sessions:
            self._end_session(s, None)

    def _end_session(self, s, why):
        if s.closed:
            return
        s.closed = True
        if why:
            self.log("session %s ended: %s" % (s.id, why))
        if s.streamer:
            s.streamer.close()
        if s.udp:
            for u in s.udp:
                u.close()
        if s.transport == "tcp" and why:
            s.conn.close()
        with self.lock:
            self.sessions.pop(s.id, None)

    def _expire(self):
        while not self.stop.wait(POLL):
            with self.lock:
                sessions = list(self.sessions.values())
            for s in sessions:
                if not s.closed and time.monotonic() - s.last > s.timeout:
                    self._end_session(s, "timed out, no keep-alive for %d s" % s.timeout)

    # --- connections -------------------------------------------------------
    def _accept(self, listener):
        while not self.stop.is_set():
            try:
                sock, _ = listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            sock.settimeout(None)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            conn = Connection(sock, listener.getsockname()[1])
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        buf = b""
        try:
            while not self.stop.is_set() and conn.open:
                # Interleaved frames from the client (receiver reports).
                while buf[:1] == b"$":
                    if len(buf) < 4:
                        break
                    length = struct.unpack(">H", buf[2:4])[0]
                    if len(buf) < 4 + length:
                        break
                    self._client_frame(conn, buf[:4 + length])
                    buf = buf[4 + length:]
                if buf and buf[:1] != b"$":
                    end = buf.find(b"\r\n\r\n")
                    if end >= 0:
                        head = buf[:end].decode("latin-1")
                        headers = {}
                        lines = head.split("\r\n")
                        for line in lines[1:]:
                            name, _, value = line.partition(":")
                            headers[name.strip().lower()] = value.strip()
                        length = int(headers.get("content-length", "0") or 0)
                        if len(buf) >= end + 4 + length:
                            buf = buf[end + 4 + length:]
                            self._request(conn, lines[0], headers)
                            continue
                data = conn.sock.recv(65536)
                if not data:
                    break
                buf += data
        except OSError:
            pass
        conn.open = False
        conn.sock.close()
        with self.lock:
            mine = [s for s in self.sessions.values() if s.conn is conn and s.transport == "tcp"]
        for s in mine:
            self._end_session(s, "connection closed by the client")

    # --- requests ----------------------------------------------------------
    def _reply(self, conn, cseq, status, headers=(), body=b"", note=""):
        p = self.p
        cseq_name = "Cseq" if p["header_case"] else "CSeq"
        lines = ["RTSP/1.0 %s" % status]
        if cseq is not None:
            lines.append("%s: %s" % (cseq_name, cseq))
        lines.append("Server: fieldcam/%s" % p["name"])
        if p["header_case"]:
            lines.append("x-Accept-Dynamic-Rate: 1")
        lines.extend(headers)
        if body:
            lines.append("%s: %d" % ("Content-length" if p["header_case"] else "Content-Length", len(body)))
        conn.send(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body)
        return status.split(" ")[0] + (" " + note if note else "")

    def _challenge(self, stale=False):
        p = self.p
        name = p["challenge_header"]
        out = []
        if p["auth"] in ("digest", "dual"):
            text = 'Digest realm="%s", nonce="%s"' % (p["realm"], self.nonce)
            if p["algorithm"] != "MD5":
                text += ', algorithm="%s"' % p["algorithm"]
            if p["qop"]:
                text += ', qop="auth"'
            if stale:
                text += ", stale=true"
            elif p["stale_false"]:
                text += ', stale="FALSE"'
            out.append("%s: %s" % (name, text))
        if p["auth"] in ("basic", "dual"):
            out.append('%s: Basic realm="%s"' % (name, p["realm"]))
        return out

    def _authorize(self, method, headers):
        """Returns (None, scheme) when the request may go on, else
        (challenge headers, note)."""
        p = self.p
        if p["auth"] == "none":
            return None, ""
        if p["renonce_after"] and not self.renonced:
            with self.lock:
                since = [s.playing_since for s in self.sessions.values() if s.playing_since]
            if since and time.monotonic() - min(since) > p["renonce_after"]:
                self.renonced = True
                self.nonce = _nonce(p["nonce_style"])
                self.log("nonce changed")
        schemes = {"digest": ("digest",), "basic": ("basic",), "dual": ("digest", "basic")}[p["auth"]]
        verdict, scheme = auth.check(headers.get("authorization", ""), method, self.user, self.password,
                                     p["realm"], self.nonce, schemes, p["algorithm"], p["qop"])
        if verdict == auth.Verdict.OK:
            return None, scheme
        if verdict == auth.Verdict.STALE:
            # A camera that changes its nonce mid-session says nothing of stale.
            return self._challenge(stale=not p["renonce_after"]), "auth=%s old nonce" % scheme
        if verdict == auth.Verdict.MISSING:
            return self._challenge(), "no credentials"
        if verdict == auth.Verdict.WEAK:
            return self._challenge(), "RULE Basic sent although Digest was offered"
        if verdict == auth.Verdict.ALGORITHM:
            return self._challenge(), "RULE %s answered, not offered" % scheme
        return self._challenge(), "RULE wrong credentials (%s)" % scheme

    def _session_of(self, headers):
        sid = headers.get("session", "").split(";")[0].strip()
        with self.lock:
            return self.sessions.get(sid)

    def _request(self, conn, request_line, headers):
        parts = request_line.split(" ")
        method = parts[0] if parts else ""
        url = parts[1] if len(parts) > 1 else ""
        cseq = headers.get("cseq")
        p = self.p
        entry = "%s %s" % (method, url)
        session = self._session_of(headers)
        if session:
            entry += " session"
        if p["strict_requests"]:
            if method == "OPTIONS" and url == "*":
                self.log(entry + " -> " + self._reply(conn, cseq, "400 Bad Request", note="RULE OPTIONS *"))
                return
            if "user-agent" not in headers:
                self.log(entry + " -> " + self._reply(conn, cseq, "401 Unauthorized", self._challenge(),
                                                      note="RULE no User-Agent"))
                return
        if cseq is None:
            self.log(entry + " RULE no CSeq")
        challenge, scheme = self._authorize(method, headers)
        if challenge is not None:
            self.log("%s -> %s" % (entry, self._reply(conn, cseq, "401 Unauthorized", challenge, note=scheme)))
            return
        if scheme:
            entry += " auth=" + scheme
        # Activity: the session named, or any request on its connection;
        # a request the camera refused for its credentials keeps nothing alive.
        if method in ("GET_PARAMETER", "SETUP", "PLAY", "TEARDOWN") or p["activity"] == "any":
            now = time.monotonic()
            if session:
                session.last = now
            if p["activity"] == "any":
                with self.lock:
                    for s in self.sessions.values():
                        if s.conn is conn:
                            s.last = now
        handler = getattr(self, "_do_" + method.lower(), None)
        if handler is None:
            self.log(entry + " -> " + self._reply(conn, cseq, "501 Not Implemented"))
            return
        result = handler(conn, cseq, url, headers, session)
        if result is not None:
            self.log("%s -> %s" % (entry, result))

    def _codec(self, url):
        tail = _tail(url)
        if tail.startswith("/h264"):
            return "h264"
        if tail.startswith("/mpeg4"):
            return "mpeg4"
        return None

    def _do_options(self, conn, cseq, url, headers, session):
        public = "OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER, SET_PARAMETER, PAUSE"
        extra = ["Public: " + public]
        if self.p["header_case"]:
            extra.append("Session: 0123456789")
        if session:
            return self._keepalive(conn, cseq, session, extra)
        return self._reply(conn, cseq, "200 OK", extra)

    def _do_get_parameter(self, conn, cseq, url, headers, session):
        if session is None:
            return self._reply(conn, cseq, "454 Session Not Found")
        return self._keepalive(conn, cseq, session, ["Session: %s" % session.id])

    def _do_set_parameter(self, conn, cseq, url, headers, session):
        return self._reply(conn, cseq, "200 OK")

    def _keepalive(self, conn, cseq, session, extra):
        session.keepalives += 1
        if self.p["keepalive"] == "error" and session.playing_since:
            if session.keepalives == 1:
                return self._reply(conn, cseq, "500 Internal Server Error", note="(keep-alive answered with an error)")
            return "not answered"
        return self._reply(conn, cseq, "200 OK", extra)

    def _base_forms(self, url, port=0):
        """Content-Base header, the base the client should join to, as path
        and query."""
        p = self.p
        tail = _tail(url)
        path = tail.split("?")[0].rstrip("/")
        host = "127.0.0.1:%d" % (port or self.port)
        form = p["content_base"]
        if form == "slash":
            return ["Content-Base: rtsp://%s%s/" % (host, tail)], tail + "/"
        if form == "query":
            return ["Content-Base: rtsp://%s%s" % (host, tail)], tail
        if form == "noscheme":
            return ["Content-Base: %s%s/" % (host, path)], path + "/"
        if form == "double_scheme":
            return ["Content-Base: rtsp://rtsp://%s%s/" % (host, path)], path + "/"
        if form == "location_only":
            return ["Content-Location: rtsp://%s%s/" % (host, path)], path + "/"
        return [], tail

    def _control(self, codec):
        c = self.p["control"]
        if c == "abs_query":
            return "rtsp://127.0.0.1:%d/%s/trackID=1?transportmode=unicast&profile=Profile_1" % (self.port, codec)
        return c

    def _track_urls(self, codec, base):
        """Every path and query a tolerant camera takes for the video track."""
        control = self._control(codec)
        if control.startswith("rtsp://"):
            return {_tail(control)}
        urls = set()
        if base.endswith("/"):
            urls.add(base + control)
        else:
            urls.add(base + "/" + control)
        path, _, query = base.partition("?")
        query = query.rstrip("/")
        urls.add(path.rstrip("/") + "/" + control + ("?" + query if query else ""))
        urls.add(_tail(urljoin("rtsp://h" + base, control)))
        return urls

    def _sdp(self, codec, clip):
        p = self.p
        control = self._control(codec)
        sid = random.randint(1, 1 << 30)
        if codec == "h264":
            sets = ""
            if p["sprop"] in ("both", "sdp_only"):
                sets = ";sprop-parameter-sets=%s,%s" % (base64.b64encode(clip.sps).decode(),
                                                        base64.b64encode(clip.pps).decode())
            elif p["sprop"] == "broken":
                sets = ";sprop-parameter-sets=%s" % base64.b64encode(b"\x00\x00\x00\x01" + clip.sps + b"\x00\x00").decode()
            level = "000000" if p["sdp"] in ("messy", "lines") else "42C01E"
            media = ["m=video 0 RTP/AVP 96", "a=rtpmap:96 H264/90000",
                     "a=fmtp:96 packetization-mode=1;profile-level-id=%s%s" % (level, sets)]
        else:
            media = ["m=video 0 RTP/AVP 96", "a=rtpmap:96 MP4V-ES/90000",
                     "a=fmtp:96 profile-level-id=1;config=%s" % clip.config.hex().upper()]
        video = media + ["a=control:" + control]
        if p["sdp"] in ("messy", "lines"):
            video.insert(2, "a=fmtp:97 packetization-mode=0")
            session = ["o=- 1001 1 IN", "s=", "c=IN c=IN IP4 0.0.0.0", "t=now-", "a=framerate:0S"]
            video[0] += "\t "
            video.insert(-1, "a=framerate:0S")
        else:
            session = ["v=0", "o=- %d 1 IN IP4 127.0.0.1" % sid, "s=fieldcam", "c=IN IP4 0.0.0.0", "t=0 0",
                       "a=control:*"]
        if p["sdp"] in ("messy", "tracks"):
            lines = (session + ["m=audio 0 RTP/AVP 0", "a=rtpmap:0 PCMU/8000", "a=control:trackID=0"] + video +
                     ["m=application 0 RTP/AVP 107", "a=rtpmap:107 vnd.onvif.metadata/90000",
                      "a=control:trackID=3",
                      "m=audio 0 RTP/AVP 0", "a=rtpmap:0 PCMU/8000", "a=control:trackID=4", "a=sendonly",
                      "m=application/TP-LINK 0 RTP/AVP smart/1/90000", "a=rtpmap:95 smart/1/90000",
                      "a=control:trackID=5"])
        else:
            lines = session + video
        return ("\r\n".join(lines) + "\r\n").encode("latin-1")

    def _do_describe(self, conn, cseq, url, headers, session):
        codec = self._codec(url)
        if codec is None or codec not in self.clips:
            return self._reply(conn, cseq, "404 Not Found")
        if self.p["redirect"] and conn.port == self.port:
            location = "rtsp://127.0.0.1:%d%s" % (self.target_port, _tail(url))
            return self._reply(conn, cseq, "302 Moved Temporarily", ["Location: " + location])
        base_headers, _ = self._base_forms(url, conn.port)
        return self._reply(conn, cseq, "200 OK", base_headers + ["Content-Type: application/sdp"],
                           self._sdp(codec, self.clips[codec]))

    def _do_setup(self, conn, cseq, url, headers, session):
        p = self.p
        codec = self._codec(url) or ("h264" if "h264" in self.clips else None)
        transport = headers.get("transport", "")
        if p["strict_requests"] and "RTP/AVP/UDP" in transport:
            return self._reply(conn, cseq, "461 Unsupported transport", note="RULE RTP/AVP/UDP")
        # Which track: the requested URL against the base the camera gave.
        wanted = set()
        for c in ("h264", "mpeg4"):
            if c in self.clips:
                for describe_tail in ("/%s?stream=0&mode=live" % c, "/%s" % c):
                    wanted |= self._track_urls(c, self._base_forms("rtsp://h" + describe_tail)[1])
        tail = _tail(url)
        if tail not in wanted:
            other = any(tail.rstrip("/").endswith(t) for t in ("trackID=0", "trackID=3", "trackID=4", "trackID=5"))
            if other and p["sdp"] in ("messy", "tracks"):
                return self._reply(conn, cseq, "200 OK", ["Session: %s" % self._new_id(), "Transport: " + transport],
                                   note="RULE a track other than video set up")
            return self._reply(conn, cseq, "404 Not Found", note="RULE not a track URL")
        self.setups += 1
        if self.setups <= p["busy_453"]:
            return self._reply(conn, cseq, "453 Not Enough Bandwidth")
        tcp = "TCP" in transport.upper() or "interleaved=" in transport
        if not tcp and p["udp"] == "refuse":
            return self._reply(conn, cseq, "461 Unsupported transport")
        s = session or Session(self._new_id(), p["timeout"], conn)
        s.setup_url = url
        s.conn = conn
        ssrc_field = ""
        if tcp:
            s.transport = "tcp"
            asked = (0, 1)
            for part in transport.split(";"):
                if part.strip().startswith("interleaved="):
                    try:
                        a, _, b = part.strip()[12:].partition("-")
                        asked = (int(a), int(b or int(a) + 1))
                    except ValueError:
                        pass
            s.channels = p["tcp_channels"] or asked
            if p["tcp_channels"]:
                answer = "RTP/AVP;unicast;interleaved=%d-%d" % s.channels
            else:
                answer = "RTP/AVP/TCP;unicast;interleaved=%d-%d;mode=play" % s.channels
        else:
            s.transport = "udp"
            ports = None
            for part in transport.split(";"):
                if part.strip().startswith("client_port="):
                    a, _, b = part.strip()[12:].partition("-")
                    try:
                        ports = (int(a), int(b or int(a) + 1))
                    except ValueError:
                        ports = None
            if ports is None:
                return self._reply(conn, cseq, "461 Unsupported transport", note="RULE no client_port")
            rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            rtp.bind(("127.0.0.1", 0))
            rtcp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            rtcp.bind(("127.0.0.1", 0))
            s.udp = (rtp, rtcp)
            s.client = (conn.sock.getpeername()[0], ports[0], ports[1])
            sp = (rtp.getsockname()[1], rtcp.getsockname()[1])
            threading.Thread(target=self._receiver_reports, args=(s,), daemon=True).start()
            if p["transport_answer"] == "odd":
                answer = ("ssrc=%d;RTP/AVP;unicast;client_port=%d-%d;source=;server_port=%d-%d;mode=\"play\";"
                          % (random.randint(1, 1 << 31), ports[0], ports[1], sp[0], sp[1]))
            else:
                ssrc_field = ";ssrc=%08X" % random.getrandbits(32)
                answer = "RTP/AVP;unicast;client_port=%d-%d;server_port=%d-%d%s;mode=play" % (
                    ports[0], ports[1], sp[0], sp[1], ssrc_field)
        s.codec = codec
        with self.lock:
            self.sessions[s.id] = s
        s.last = time.monotonic()
        return self._reply(conn, cseq, "200 OK", ["Session: %s;timeout=%d" % (s.id, s.timeout),
                                                  "Transport: " + answer], note=s.transport)

    def _new_id(self):
        if self.p["session_id"] == "long":
            return "".join(random.choice("0123456789") for _ in range(31))
        return "%08X" % random.getrandbits(32)

    def _client_frame(self, conn, frame):
        """A receiver report on a TCP session's RTCP channel, told like one over UDP."""
        if len(frame) < 6 or frame[5] != 201:
            return
        with self.lock:
            mine = [s for s in self.sessions.values()
                    if s.conn is conn and s.transport == "tcp" and s.channels[1] == frame[1]]
        for s in mine:
            s.reports += 1
            if s.reports == 1:
                self.log("session %s: first receiver report (TCP)" % s.id)

    def _receiver_reports(self, s):
        rtcp = s.udp[1]
        rtcp.settimeout(POLL)
        seen = 0
        while not s.closed:
            try:
                data, _ = rtcp.recvfrom(2048)
            except socket.timeout:
                continue
            except OSError:
                return
            if len(data) >= 2 and data[1] == 201:
                seen += 1
                s.reports += 1
                if seen == 1:
                    self.log("session %s: first receiver report" % s.id)

    def _do_play(self, conn, cseq, url, headers, session):
        p = self.p
        if session is None:
            return self._reply(conn, cseq, "454 Session Not Found")
        clip = self.clips[session.codec]
        if p["play_timeout"]:
            session.timeout = p["play_timeout"]
        if session.streamer is None:
            session.streamer = self._streamer(session, clip)
        seq, ts = session.streamer.first_seq_and_ts()
        extra = ["Session: %s;timeout=%d" % (session.id, session.timeout), "Range: npt=0.000-"]
        if p["rtpinfo"] == "plain":
            extra.append("RTP-Info: url=%s;seq=%d;rtptime=%d" % (session.setup_url, seq, ts))
        elif p["rtpinfo"] == "odd":
            extra.append("RTP-Info: url=trackID=1;seq=0;rtptime=x%dz;ssrc=%08X;, url=trackID=3;seq=0;rtptime=0;"
                         % (ts, session.streamer.ssrc))
        result = self._reply(conn, cseq, "200 OK", extra)
        if not session.playing_since:
            session.playing_since = time.monotonic()
            self.plays += 1
            session.streamer.start()
            self.log("session %s: streaming %s over %s" % (session.id, session.codec, session.transport))
        return result

    def _streamer(self, s, clip):
        p = self.p
        if s.transport == "udp":
            rtp, rtcp = s.udp
            host, rtp_port, rtcp_port = s.client
            if p["udp"] == "blackhole":
                send_rtp = send_rtcp = lambda data: None
            else:
                send_rtp = lambda data: rtp.sendto(data, (host, rtp_port))
                send_rtcp = lambda data: rtcp.sendto(data, (host, rtcp_port))
            send_raw = None
        else:
            conn = s.conn
            ch = s.channels

            def frame(channel, data):
                conn.send(b"$" + bytes([channel]) + struct.pack(">H", len(data)) + data)
            send_rtp = lambda data: frame(ch[0], data)
            send_rtcp = lambda data: frame(ch[1], data)
            send_raw = conn.send
        return Streamer(p, clip, send_rtp, send_rtcp, send_raw, s.alive,
                        lambda text: self.log("session %s: %s" % (s.id, text)))

    def _do_pause(self, conn, cseq, url, headers, session):
        return self._reply(conn, cseq, "200 OK")

    def _do_teardown(self, conn, cseq, url, headers, session):
        if session:
            self._end_session(session, None)
        if self.p["teardown"] == "zero":
            conn.send(b"RTSP/1.0 0\r\n\r\n")
            return "0"
        return self._reply(conn, cseq, "200 OK")
