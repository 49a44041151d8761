"""One profile per way a field camera's RTSP server departs from a clean
one. A profile is a set of switches over the defaults; the server reads
them. "note" says in a line what the profile does to a client."""

DEFAULTS = {
    "note": "a clean server",
    # Authentication: "digest", "basic", "dual" (Digest then Basic in one
    # 401), "none".
    "auth": "digest",
    "realm": "fieldcam",
    "algorithm": "MD5",          # the Digest algorithm offered
    "qop": False,
    "stale_false": False,        # stale="FALSE" in the challenge
    "nonce_style": "hex",        # hex, HEX, decimal, uuid, base64
    "renonce_after": 0,          # seconds of streaming after which the nonce changes
    "challenge_header": "WWW-Authenticate",
    # DESCRIBE answer.
    "content_base": "slash",     # slash, query, noscheme, double_scheme, location_only, none
    "control": "trackID=1",      # or "abs_query" for an absolute URL with a query
    "sdp": "clean",              # clean, lines (malformed), tracks (other media around video), messy (both)
    "sprop": "both",             # both (SDP and in-band), sdp_only, inband_only, broken
    "header_case": False,        # Cseq, Content-length, x- headers, Session on OPTIONS
    "redirect": False,           # DESCRIBE answered 302 to a second port
    # SETUP answer.
    "udp": "ok",                 # ok, refuse (461), blackhole (accepted, never sent)
    "transport_answer": "plain", # plain, odd
    "tcp_channels": None,        # interleaved channels answered instead of those asked
    "session_id": "short",       # short, long (31 digits)
    "timeout": 10,
    "play_timeout": None,        # another timeout on the PLAY answer (enforced from then)
    "busy_453": 0,               # first N SETUPs answered 453
    # PLAY answer.
    "rtpinfo": "plain",          # plain, odd, none
    # Keeping the session alive.
    "activity": "any",           # any: every request in the session; getparam_only
    "keepalive": "ok",           # ok, error (answered 500 then never)
    "strict_requests": False,    # 400 to OPTIONS *, 401 without User-Agent, 461 to RTP/AVP/UDP
    # Interleaved stream.
    "interleaved_mixed": False,  # garbage, an unknown channel and an SDES without END in the stream
    # RTP stream.
    "packetize": "plain",        # plain, stap_a, annexb
    "marker": True,
    "fu_faults": False,
    "ssrc_per_idr": False,
    "foreign_payload": False,
    "timestamps_odd": False,
    "mtu": 1400,
    "teardown": "ok",            # ok, zero ("RTSP/1.0 0")
}

PROFILES = {
    "clean": {},
    "dual_challenge": {"note": "Digest then Basic in one 401, stale=\"FALSE\", realm with spaces",
                       "auth": "dual", "realm": "IP Camera(C1214)", "stale_false": True},
    "sha256_only": {"note": "Digest with SHA-256 only and qop=auth", "algorithm": "SHA-256", "qop": True,
                    "realm": "Login to 4K01FD2PAJ6E3FF", "nonce_style": "base64", "challenge_header": "Www-Authenticate"},
    "basic_only": {"note": "Basic only", "auth": "basic", "realm": "VERINT_00079A191F18"},
    "renonce": {"note": "a keep-alive answered 401 with a new nonce after 6 s", "renonce_after": 6,
                "nonce_style": "uuid", "qop": True},
    "content_base_query": {"note": "Content-Base with a query and no /", "content_base": "query"},
    "content_base_noscheme": {"note": "Content-Base without scheme", "content_base": "noscheme"},
    "content_base_double_scheme": {"note": "Content-Base with the scheme twice", "content_base": "double_scheme"},
    "content_location_only": {"note": "no Content-Base, Content-Location", "content_base": "location_only"},
    "no_content_base": {"note": "neither Content-Base nor Content-Location", "content_base": "none"},
    "control_abs_query": {"note": "absolute control URL with a query", "control": "abs_query"},
    "control_trackid_video": {"note": "a=control:trackID=video", "control": "trackID=video"},
    "control_track1": {"note": "a=control:track1", "control": "track1"},
    "control_zero": {"note": "a=control:0", "control": "0"},
    "sdp_messy": {"note": "malformed session lines, audio first, metadata, back-channel and vendor tracks",
                  "sdp": "messy"},
    "sdp_lines": {"note": "malformed session lines, bogus profile-level-id, a=framerate:0S, fmtp of another type",
                  "sdp": "lines"},
    "sdp_tracks": {"note": "audio first, ONVIF metadata, back-channel and TP-LINK tracks after video", "sdp": "tracks"},
    "header_case": {"note": "Cseq, Content-length, x- headers, a Session header on OPTIONS", "header_case": True},
    "sprop_only": {"note": "parameter sets only in the SDP", "sprop": "sdp_only"},
    "inband_only": {"note": "no sprop-parameter-sets", "sprop": "inband_only"},
    "sprop_broken": {"note": "sprop without PPS, start codes and zero padding inside", "sprop": "broken"},
    "transport_odd": {"note": "Transport answer: ssrc first, decimal, mode=\"play\", trailing ;",
                      "transport_answer": "odd"},
    "tcp_channels": {"note": "UDP refused; TCP answered with other channels and no /TCP",
                     "udp": "refuse", "tcp_channels": (6, 7)},
    "long_session": {"note": "31-digit Session id, timeout=15 on SETUP, 10 on PLAY",
                     "session_id": "long", "timeout": 15, "play_timeout": 10},
    "rtpinfo_odd": {"note": "RTP-Info with relative url, seq=0, bad rtptime, trailing ;", "rtpinfo": "odd"},
    "no_rtpinfo": {"note": "PLAY without RTP-Info", "rtpinfo": "none"},
    "getparam_only": {"note": "only GET_PARAMETER, SETUP, PLAY, TEARDOWN keep the session", "activity": "getparam_only"},
    "keepalive_error": {"note": "keep-alives answered 500, later not at all", "keepalive": "error"},
    "strict_requests": {"note": "400 to OPTIONS *, 401 without User-Agent, 461 to RTP/AVP/UDP",
                        "strict_requests": True},
    "refuse_udp": {"note": "461 Unsupported transport for UDP", "udp": "refuse"},
    "udp_blackhole": {"note": "UDP accepted, never sent; TCP interleaved served", "udp": "blackhole"},
    "interleaved_mixed": {"note": "TCP: answers between frames, garbage, unknown channel, SDES without END",
                          "udp": "refuse", "interleaved_mixed": True},
    "no_marker": {"note": "marker bit never set", "marker": False},
    "stap_a": {"note": "parameter sets in STAP-A", "packetize": "stap_a"},
    "annexb_in_payload": {"note": "start codes inside a NAL unit and FU-A payload", "packetize": "annexb"},
    "fu_faults": {"note": "FU-A with S and E, R bit set, type changing between fragments", "fu_faults": True},
    "ssrc_per_idr": {"note": "new SSRC at every key frame", "ssrc_per_idr": True},
    "foreign_payload": {"note": "undeclared payload type with repeated sequence numbers", "foreign_payload": True},
    "timestamps_odd": {"note": "a frame stamped hours away, a step back at the loop", "timestamps_odd": True},
    "big_packets": {"note": "10,000-byte RTP packets over UDP", "mtu": 10000},
    "teardown_odd": {"note": "TEARDOWN answered RTSP/1.0 0", "teardown": "zero"},
    "busy_453": {"note": "first SETUP answered 453 Not Enough Bandwidth", "busy_453": 1},
    "redirect": {"note": "DESCRIBE answered 302 to another port", "redirect": True},
}

# Profiles whose behaviour exists only in H.264 streams.
H264_ONLY = {"sprop_only", "inband_only", "sprop_broken", "stap_a", "annexb_in_payload", "fu_faults"}


def profile(name):
    if name not in PROFILES:
        raise KeyError(name)
    p = dict(DEFAULTS)
    p.update(PROFILES[name])
    p["name"] = name
    return p
