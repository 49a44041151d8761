"""RTSP side of a simulated camera: a small RTSP/1.0 server that can be made
to misbehave in the ways real cameras do, with a byte-exact request log.

Attached to a camera by the control API (/cameras/<id>/rtsp...); it shares
the camera's credentials and lifetime and writes its port into
Streaming.RTSPPort.
"""

import hashlib
import os
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from authfields import parse_auth_fields  # noqa: E402

REALM = "camsim"
POLL = 0.05
SDP_SPS = "Z0LAHtkBQfsBEAAAAwAQAAADAyDxYuSA"
SDP_PPS = "aMuMsg=="


def _md5(text):
    return hashlib.md5(text.encode("latin-1")).hexdigest()


_digest_fields = parse_auth_fields


def escape(raw):
    return raw.replace(b"\\", b"\\\\").replace(b"\r", b"\\r").replace(b"\n", b"\\n").decode("latin-1")


class RtspSwitches:
    def __init__(self):
        self.auth = None            # None: the camera's mode
        self.qop = False
        self.always_401 = False
        self.nonce_uses = 0         # 0: a nonce never expires
        self.stale = True           # mark an expired nonce stale=true
        self.describe_status = 0
        self.header_pad = 0         # bytes of an extra header in every reply
        self.length_nospace = False
        self.body_delay_ms = 0
        self.stall = set()          # methods not answered
        self.close_after = set()    # methods after whose answer the connection closes
        self.session_timeout = 0
        self.content_base = None    # None: request URL + "/"; "": no header
        self.control = "trackID=1"
        self.interleaved = False
        self.tcp = False            # a SETUP asking for RTP/AVP/TCP is answered interleaved=0-1
        self.rtp_packets = 10
        self.bye = False
        self.refuse_udp = 0         # status of a SETUP asking for UDP (461, 406, ...); 0 accepts it
        self.refuse_tcp = 0         # the same for a SETUP asking for TCP
        self.public = None          # None: the default Public list of OPTIONS; else on OPTIONS and DESCRIBE
        self.keepalive_methods = set()  # with session_timeout: only these (and SETUP/PLAY/PAUSE/TEARDOWN)
                                        # keep the session; it expires and the connection closes
        self.error_methods = set()  # answered 551 Option not supported
        self.stream_ms = 0          # interleaved: go on sending a packet every 40 ms for this long
        self.redirect = ""          # DESCRIBE of any other URL is answered 302 with this Location


class RtspService:
    def __init__(self, camera):
        self.camera = camera
        self.switches = RtspSwitches()
        self.lock = threading.Lock()
        self.changed = threading.Condition(self.lock)
        self._log = []
        self._rtcp_frames = 0       # "$" frames the client sent on an RTCP channel it was granted
        self._rtcp_last = b""       # the last of them, "$" header included
        self._nonce = os.urandom(8).hex()
        self._nonce_used = 0
        self.closed = threading.Event()
        self._connections = set()
        self._per_connection = threading.local()  # each connection is served on its own thread
        self._send_lock = threading.Lock()  # interleaved frames and answers share a connection
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.listener.settimeout(POLL)
        self.port = self.listener.getsockname()[1]
        camera.store.force_value("Streaming.RTSPPort", str(self.port))
        camera.attach_service(self)
        self._thread = threading.Thread(target=self._accept, name="rtsp-%d" % camera.id, daemon=True)
        self._thread.start()

    # ----- control -----

    def apply_switches(self, pairs):
        s = self.switches
        try:
            with self.lock:
                for name, value in pairs:
                    if name == "auth":
                        if value not in ("", "none", "basic", "digest"):
                            raise ValueError("auth must be none, basic or digest")
                        s.auth = value or None
                    elif name in ("qop", "always_401", "length_nospace", "interleaved", "tcp", "bye", "stale"):
                        setattr(s, name, value == "1")
                    elif name in ("nonce_uses", "describe_status", "header_pad", "body_delay_ms",
                                  "session_timeout", "rtp_packets", "refuse_udp", "refuse_tcp", "stream_ms"):
                        if not value.isdigit() or int(value) > 1 << 24:
                            raise ValueError("%s needs a number" % name)
                        setattr(s, name, int(value))
                    elif name == "public":
                        s.public = None if value == "default" else value
                    elif name in ("stall", "close_after", "keepalive_methods", "error_methods"):
                        getattr(s, name).clear()
                        getattr(s, name).update(m.upper() for m in value.split(",") if m)
                    elif name == "content_base":
                        s.content_base = None if value == "default" else value
                    elif name == "redirect":
                        s.redirect = value
                    elif name == "control":
                        s.control = value
                    else:
                        raise ValueError("unknown switch %s" % name)
                self.changed.notify_all()
        except ValueError as e:
            return str(e)
        return None

    def log_lines(self):
        with self.lock:
            return ["%d %d %s" % (t, status[0], text) for t, status, text in self._log]

    def clear_log(self):
        with self.lock:
            self._log = []
            self._rtcp_frames = 0
            self._rtcp_last = b""

    def rtcp_counts(self):
        with self.lock:
            return self._rtcp_frames, self._rtcp_last

    def close(self):
        self.closed.set()
        with self.lock:
            self.changed.notify_all()
            connections = list(self._connections)
        for c in connections:
            try:
                c.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        self._thread.join(5)
        self.listener.close()

    # ----- serving -----

    def _accept(self):
        while not self.closed.is_set():
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            with self.lock:
                self._connections.add(conn)
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        pending = b""
        self._per_connection.activity = None
        self._per_connection.streaming = None
        try:
            conn.settimeout(POLL)
            while not self.closed.is_set():
                if self._expired():
                    break
                if pending[:1] == b"$":
                    # A client's RTCP between its requests (RFC 2326 10.12).
                    if len(pending) >= 4 and len(pending) >= 4 + struct.unpack("!H", pending[2:4])[0]:
                        size = 4 + struct.unpack("!H", pending[2:4])[0]
                        self._note_frame(pending[:size])
                        pending = pending[size:]
                        continue
                    end = -1
                else:
                    end = pending.find(b"\r\n\r\n")
                if end < 0:
                    try:
                        data = conn.recv(65536)
                    except socket.timeout:
                        continue
                    if not data:
                        break
                    pending += data
                    continue
                raw, pending = pending[:end + 4], pending[end + 4:]
                if not self._handle(conn, raw):
                    break
        except OSError:
            pass
        finally:
            streaming = getattr(self._per_connection, "streaming", None)
            if streaming is not None:
                streaming.set()
            with self.lock:
                self._connections.discard(conn)
            with self._send_lock:
                conn.close()

    def _note_frame(self, frame):
        channel = getattr(self._per_connection, "channel", None)
        if channel is None or frame[1] != channel + 1:
            return
        with self.lock:
            self._rtcp_frames += 1
            self._rtcp_last = frame

    def _expired(self):
        """A session kept alive only by the listed methods has timed out."""
        s = self.switches
        last = getattr(self._per_connection, "activity", None)
        return (last is not None and s.keepalive_methods and s.session_timeout
                and time.monotonic() - last > s.session_timeout)

    def _handle(self, conn, raw):
        text = raw.decode("latin-1")
        lines = text.split("\r\n")
        parts = lines[0].split(" ")
        method = parts[0].upper()
        url = parts[1] if len(parts) > 1 else ""
        headers = {}
        for line in lines[1:]:
            name, sep, value = line.partition(":")
            if sep:
                headers.setdefault(name.strip().lower(), value.strip())
        status = [0]
        with self.lock:
            self._log.append((int(time.monotonic() * 1000), status, escape(raw)))
            s = self.switches
            stall = method in s.stall
        self.camera.record(method, url, headers.get("authorization"))
        if stall:
            with self.lock:
                while method in self.switches.stall and not self.closed.is_set():
                    self.changed.wait(POLL)
            if self.closed.is_set():
                return False
        cseq = headers.get("cseq", "0")
        if method in ("SETUP", "PLAY", "PAUSE", "TEARDOWN") or method in self.switches.keepalive_methods:
            self._per_connection.activity = time.monotonic()
        refusal = self._check_auth(method, headers.get("authorization"))
        if refusal is not None:
            status[0] = 401
            self._send(conn, 401, "Unauthorized", cseq, refusal)
            return True
        answer = getattr(self, "_on_" + method.lower(), None)
        if method in self.switches.error_methods:
            status[0] = 551
            self._send(conn, 551, "Option not supported", cseq, [])
            return True
        if answer is None:
            status[0] = 405
            self._send(conn, 405, "Method Not Allowed", cseq, [])
            return True
        code, extra, body, after = answer(url, headers)
        status[0] = code
        reasons = {200: "OK", 302: "Moved Temporarily", 461: "Unsupported transport", 406: "Not Acceptable", 453: "Not Enough Bandwidth"}
        self._send(conn, code, reasons.get(code, "Refused"), cseq, extra, body)
        if after:
            after(conn)
        return method not in self.switches.close_after and method != "TEARDOWN"

    # ----- authentication -----

    def _mode(self):
        return self.switches.auth or self.camera.auth.mode

    def _challenge(self, stale=False):
        if self._mode() == "basic":
            return [("WWW-Authenticate", 'Basic realm="%s"' % REALM)]
        value = 'Digest realm="%s", nonce="%s"' % (REALM, self._nonce)
        if self.switches.qop:
            value += ', qop="auth"'
        if stale:
            value += ", stale=true"
        return [("WWW-Authenticate", value)]

    def _check_auth(self, method, header):
        """None when accepted, else the challenge headers of a 401."""
        mode = self._mode()
        if mode == "none" or method == "OPTIONS" and not header:
            return None
        s = self.switches
        with self.lock:
            if not header or s.always_401:
                return self._challenge()
            scheme, _, rest = header.partition(" ")
            user, password = self.camera.auth.user, self.camera.auth.password
            if mode == "basic" and scheme == "Basic":
                import base64
                try:
                    plain = base64.b64decode(rest.strip(), validate=True).decode("latin-1")
                except ValueError:
                    return self._challenge()
                return None if plain == "%s:%s" % (user, password) else self._challenge()
            if mode != "digest" or scheme != "Digest":
                return self._challenge()
            f = _digest_fields(rest)
            if f.get("nonce") != self._nonce:
                return self._challenge(stale=s.stale)
            if f.get("username") != user or f.get("realm") != REALM or "uri" not in f:
                return self._challenge()
            ha1 = _md5("%s:%s:%s" % (user, REALM, password))
            ha2 = _md5("%s:%s" % (method, f["uri"]))
            if s.qop:
                if f.get("qop") != "auth" or "nc" not in f or "cnonce" not in f:
                    return self._challenge()
                expected = _md5("%s:%s:%s:%s:auth:%s" % (ha1, self._nonce, f["nc"], f["cnonce"], ha2))
            else:
                expected = _md5("%s:%s:%s" % (ha1, self._nonce, ha2))
            if f.get("response", "").lower() != expected:
                return self._challenge()
            self._nonce_used += 1
            if s.nonce_uses and self._nonce_used >= s.nonce_uses:
                # The next request finds this nonce expired.
                self._nonce = os.urandom(8).hex()
                self._nonce_used = 0
            return None

    # ----- methods -----

    def _on_options(self, url, headers):
        public = self.switches.public
        return 200, [("Public", "OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN" if public is None else public)], b"", None

    def _on_get_parameter(self, url, headers):
        return 200, [("Session", "CAMSIM%d" % self.camera.id)], b"", None

    def _on_describe(self, url, headers):
        s = self.switches
        if s.describe_status:
            return s.describe_status, [], b"", None
        if s.redirect and not url.startswith(s.redirect):
            return 302, [("Location", s.redirect)], b"", None
        base = url.partition("?")[0].rstrip("/") + "/"
        sdp = ("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=camsim\r\nt=0 0\r\na=control:*\r\n"
               "m=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:96 H264/90000\r\n"
               "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=%s,%s\r\n"
               "a=control:%s\r\n" % (SDP_SPS, SDP_PPS, s.control)).encode()
        extra = [("Content-Type", "application/sdp")]
        if s.public is not None:
            extra.append(("Public", s.public))
        if s.content_base is None:
            extra.append(("Content-Base", base))
        elif s.content_base:
            extra.append(("Content-Base", s.content_base))
        return 200, extra, sdp, None

    def _on_setup(self, url, headers):
        s = self.switches
        transport = headers.get("transport", "")
        session = "CAMSIM%d" % self.camera.id
        asks_tcp = "TCP" in transport.upper()
        refusal = s.refuse_tcp if asks_tcp else s.refuse_udp
        if refusal:
            return refusal, [], b"", None
        if s.session_timeout:
            session += ";timeout=%d" % s.session_timeout
        self._per_connection.channel = None
        if s.interleaved:
            reply_transport = "RTP/AVP/TCP;unicast;interleaved=4-5"
            self._per_connection.channel = 4
        elif (s.tcp or s.refuse_udp) and asks_tcp:
            reply_transport = "RTP/AVP/TCP;unicast;interleaved=0-1"
            self._per_connection.channel = 0
        else:
            reply_transport = transport + ";server_port=6970-6971"
        return 200, [("Transport", reply_transport), ("Session", session)], b"", None

    def _on_play(self, url, headers):
        extra = [("Session", "CAMSIM%d" % self.camera.id), ("Range", "npt=0.000-")]
        if getattr(self._per_connection, "channel", None) is None:
            return 200, extra, b"", None
        return 200, extra, b"", self._send_interleaved

    def _on_teardown(self, url, headers):
        return 200, [], b"", None

    def _send_interleaved(self, conn):
        """Interleaved RTP on the channel SETUP gave (a non-matching frame on
        channel 9 first, which the client must skip), optionally an RTCP BYE
        on the next channel."""
        channel = self._per_connection.channel
        stream_ms = self.switches.stream_ms
        if stream_ms:
            done = threading.Event()
            self._per_connection.streaming = done
            threading.Thread(target=self._stream_interleaved, args=(conn, channel, stream_ms, done),
                             daemon=True).start()
            return
        data = b"$\x09\x00\x04junk"
        for seq in range(self.switches.rtp_packets):
            payload = bytes([0x65]) + bytes(range(16))
            rtp = struct.pack("!BBHII", 0x80, 96 | 0x80, seq, seq * 3600, 0x1234) + payload
            data += b"$" + bytes([channel]) + struct.pack("!H", len(rtp)) + rtp
        if self.switches.bye:
            rr = struct.pack("!BBHI", 0x80, 201, 1, 0x1234)
            bye = struct.pack("!BBHI", 0x81, 203, 1, 0x1234)
            data += b"$" + bytes([channel + 1]) + struct.pack("!H", len(rr + bye)) + rr + bye
        with self._send_lock:
            conn.sendall(data)

    def _stream_interleaved(self, conn, channel, stream_ms, done):
        """A packet every 40 ms with junk on a foreign channel now and
        then, while answers to requests go out between the frames."""
        end = time.monotonic() + stream_ms / 1000.0
        seq = 0
        while not done.is_set() and not self.closed.is_set() and time.monotonic() < end:
            payload = bytes([0x65]) + bytes(range(16))
            rtp = struct.pack("!BBHII", 0x80, 96 | 0x80, seq & 0xFFFF, seq * 3600, 0x1234) + payload
            data = b"$" + bytes([channel]) + struct.pack("!H", len(rtp)) + rtp
            if seq % 10 == 5:
                data += b"$\x09\x00\x04junk"
            try:
                with self._send_lock:
                    conn.sendall(data)
            except OSError:
                return
            seq += 1
            done.wait(0.04)

    def _send(self, conn, code, reason, cseq, extra, body=b""):
        s = self.switches
        head = "RTSP/1.0 %d %s\r\nCSeq: %s\r\n" % (code, reason, cseq)
        head += "".join("%s: %s\r\n" % h for h in extra)
        if s.header_pad:
            head += "X-Pad: %s\r\n" % ("p" * s.header_pad)
        if body:
            head += ("Content-Length:%d\r\n" if s.length_nospace else "Content-Length: %d\r\n") % len(body)
        data = (head + "\r\n").encode("latin-1")
        with self._send_lock:
            if body and s.body_delay_ms:
                conn.sendall(data)
                time.sleep(s.body_delay_ms / 1000.0)
                conn.sendall(body)
            else:
                conn.sendall(data + body)


def service_of(camera):
    """The camera's RTSP side, started on first use."""
    with camera.lock:
        service = getattr(camera, "rtsp_service", None)
    if service is None:
        service = RtspService(camera)
        with camera.lock:
            camera.rtsp_service = service
    return service


def control(camera, command, pairs, reply):
    """/cameras/<id>/rtsp[/set|/log|/log/clear]"""
    service = service_of(camera)
    if command == []:
        frames, last = service.rtcp_counts()
        reply(200, "port=%d\nrtcp_frames=%d\nrtcp_last=%s\n" % (service.port, frames, last.hex()))
    elif command == ["set"]:
        error = service.apply_switches(pairs)
        reply(400 if error else 200, (error or "OK") + "\n")
    elif command == ["log"]:
        reply(200, "".join(line + "\n" for line in service.log_lines()))
    elif command == ["log", "clear"]:
        service.clear_log()
        reply(200, "OK\n")
    else:
        reply(404, "unknown command\n")
