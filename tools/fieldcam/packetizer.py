"""RTP payloads of one frame: H.264 (RFC 6184: single NAL unit, FU-A,
STAP-A) and MPEG-4 Visual (RFC 3016), with the payload faults field cameras
produce. Returns the payloads in order; the caller sets the marker on the
last one (or never)."""

import struct

FU_A = 28
STAP_A = 24
START = b"\x00\x00\x00\x01"


def fu_a(unit, mtu, reserved=False, both_bits=False, type_change=None):
    """Fragments one NAL unit. reserved sets the R bit in every FU header;
    both_bits marks a unit that fits one fragment with S and E together;
    type_change gives the type the later fragments claim."""
    header = unit[0]
    indicator = (header & 0xE0) | FU_A
    body = unit[1:]
    chunk = max(1, mtu - 2)
    pieces = [body[i:i + chunk] for i in range(0, len(body), chunk)] or [b""]
    out = []
    for k, piece in enumerate(pieces):
        t = header & 0x1F
        if type_change is not None and k > 0:
            t = type_change
        fu = t
        if k == 0:
            fu |= 0x80
        if k == len(pieces) - 1:
            fu |= 0x40
        if reserved:
            fu |= 0x20
        out.append(bytes([indicator, fu]) + piece)
    if both_bits and len(out) == 1:
        out[0] = bytes([out[0][0], out[0][1] | 0xC0]) + out[0][2:]
    return out


def stap_a(units):
    nri = max((u[0] & 0x60) for u in units)
    data = bytearray([nri | STAP_A])
    for u in units:
        data += struct.pack(">H", len(u)) + u
    return bytes(data)


def h264_payloads(frame, mtu, mode="plain", fault=None):
    """mode: "plain" (single NAL units, FU-A above the MTU), "stap_a"
    (parameter sets and SEI aggregated, the slice too when it fits),
    "annexb" (the units of a key frame packed as one unit with start codes
    inside, fragmented when large). fault: None, "both_bits", "reserved",
    "type_change" (FU-A header faults on this frame's slices)."""
    out = []
    units = list(frame)
    if mode == "annexb" and len(units) > 1 and any((u[0] & 0x1F) == 5 for u in units):
        packed = units[0] + b"".join(START + u for u in units[1:])
        units = [packed]
    elif mode == "stap_a":
        small = [u for u in units if (u[0] & 0x1F) in (6, 7, 8)]
        rest = [u for u in units if (u[0] & 0x1F) not in (6, 7, 8)]
        if small:
            total = sum(len(u) + 2 for u in small) + 1
            if rest and total + len(rest[0]) + 2 <= mtu:
                out.append(stap_a(small + [rest[0]]))
                rest = rest[1:]
            else:
                out.append(stap_a(small))
        units = rest
    for u in units:
        slice_unit = (u[0] & 0x1F) in (1, 5)
        if len(u) <= mtu and not (slice_unit and fault in ("both_bits", "reserved")):
            out.append(u)
        elif slice_unit and fault:
            out.extend(fu_a(u, mtu if len(u) > mtu else len(u) + 2,
                            reserved=fault == "reserved", both_bits=fault == "both_bits",
                            type_change=(u[0] & 0x1F) ^ 4 if fault == "type_change" else None))
        else:
            out.extend(fu_a(u, mtu))
    return out


def mpeg4_payloads(frame, mtu):
    return [frame[i:i + mtu] for i in range(0, len(frame), mtu)]


def rtp_header(pt, seq, ts, ssrc, marker):
    return struct.pack(">BBHII", 0x80, (0x80 if marker else 0) | (pt & 0x7F), seq & 0xFFFF,
                       ts & 0xFFFFFFFF, ssrc & 0xFFFFFFFF)


def sender_report(ssrc, ntp_seconds, rtp_ts, packets, octets):
    whole = int(ntp_seconds) + 2208988800
    frac = int((ntp_seconds % 1) * (1 << 32))
    return struct.pack(">BBHIIIIII", 0x80, 200, 6, ssrc, whole & 0xFFFFFFFF, frac & 0xFFFFFFFF,
                       rtp_ts & 0xFFFFFFFF, packets & 0xFFFFFFFF, octets & 0xFFFFFFFF)


def sdes_without_end(ssrc, cname=b"fieldcam"):
    """An SDES chunk whose item list lacks its END item (padded to words
    with non-zero bytes, as one camera does)."""
    item = bytes([1, len(cname)]) + cname
    while (len(item) + 4) % 4:
        item += b"\x01"
    body = struct.pack(">I", ssrc) + item
    return struct.pack(">BBH", 0x81, 202, len(body) // 4) + body
