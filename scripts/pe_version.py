#!/usr/bin/env python3
"""Prints the version resource of a Windows PE file (DLL or EXE) as
KEY=VALUE lines: the fixed numbers (FixedFileVersion, FixedProductVersion,
FileType) and every string of the StringFileInfo tables. Exit code 1 when
the file has no version resource or it cannot be read; nothing here trusts
an offset before checking it against the file.

    scripts/pe_version.py FILE
"""
import struct
import sys

RT_VERSION = 16


class Bad(Exception):
    pass


def u16(data, at):
    if at < 0 or at + 2 > len(data):
        raise Bad("read past the end at %#x" % at)
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    if at < 0 or at + 4 > len(data):
        raise Bad("read past the end at %#x" % at)
    return struct.unpack_from("<I", data, at)[0]


def sections(data):
    if data[:2] != b"MZ":
        raise Bad("not an MZ file")
    pe = u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise Bad("no PE signature")
    coff = pe + 4
    count, opt_size = u16(data, coff + 2), u16(data, coff + 16)
    opt = coff + 20
    magic = u16(data, opt)
    dirs = opt + (96 if magic == 0x10B else 112 if magic == 0x20B else -1)
    if dirs < opt:
        raise Bad("unknown optional header %#x" % magic)
    rsrc_rva = u32(data, dirs + 2 * 8)
    table = opt + opt_size
    secs = []
    for i in range(count):
        s = table + 40 * i
        vsize, va, raw_size, raw = u32(data, s + 8), u32(data, s + 12), u32(data, s + 16), u32(data, s + 20)
        secs.append((va, max(vsize, raw_size), raw, raw_size))
    return rsrc_rva, secs


def rva_to_offset(secs, rva):
    for va, size, raw, raw_size in secs:
        if va <= rva < va + size and rva - va < raw_size:
            return raw + (rva - va)
    raise Bad("address %#x is in no section" % rva)


def version_block(data):
    rsrc_rva, secs = sections(data)
    if rsrc_rva == 0:
        raise Bad("no resources")
    base = rva_to_offset(secs, rsrc_rva)

    def entries(directory):
        named, ids = u16(data, directory + 12), u16(data, directory + 14)
        for i in range(named + ids):
            e = directory + 16 + 8 * i
            yield u32(data, e), u32(data, e + 4)

    def first_leaf(offset, depth):
        if depth > 3:
            raise Bad("resource tree too deep")
        for _, target in entries(base + offset):
            if target & 0x80000000:
                return first_leaf(target & 0x7FFFFFFF, depth + 1)
            return target
        raise Bad("empty resource directory")

    for name, target in entries(base):
        if name == RT_VERSION and target & 0x80000000:
            leaf = base + first_leaf(target & 0x7FFFFFFF, 1)
            at = rva_to_offset(secs, u32(data, leaf))
            size = u32(data, leaf + 4)
            if at + size > len(data):
                raise Bad("version resource past the end of the file")
            return data[at:at + size]
    raise Bad("no version resource")


def parse(block, at, end, depth=0):
    """One VS_VERSIONINFO-style node: (key, value bytes, text flag, children)."""
    if depth > 4:
        raise Bad("version resource too deep")
    length, value_length, kind = u16(block, at), u16(block, at + 2), u16(block, at + 4)
    stop = at + length
    if length < 6 or stop > end:
        raise Bad("bad node length at %#x" % at)
    k = at + 6
    key_end = k
    while key_end + 1 < stop and block[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = block[k:key_end].decode("utf-16-le", "replace")
    v = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = block[v:min(v + value_bytes, stop)]
    children = []
    c = (v + value_bytes + 3) & ~3
    while c + 6 <= stop:
        child_length = u16(block, c)
        if child_length == 0:
            break
        children.append(parse(block, c, stop, depth + 1))
        c = (c + child_length + 3) & ~3
    return key, value, kind == 1, children


def describe(block):
    key, value, _, children = parse(block, 0, len(block))
    if key != "VS_VERSION_INFO":
        raise Bad("version resource named %r" % key)
    out = []
    if len(value) >= 52 and u32(value, 0) == 0xFEEF04BD:
        fms, fls, pms, pls = (u32(value, 8), u32(value, 12), u32(value, 16), u32(value, 20))
        out.append("FixedFileVersion=%d.%d.%d.%d" % (fms >> 16, fms & 0xFFFF, fls >> 16, fls & 0xFFFF))
        out.append("FixedProductVersion=%d.%d.%d.%d" % (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF))
        out.append("FileType=%d" % u32(value, 36))
    for name, _, _, tables in children:
        if name != "StringFileInfo":
            continue
        for _, _, _, strings in tables:
            for skey, svalue, text, _ in strings:
                s = svalue.decode("utf-16-le", "replace") if text else svalue.hex()
                out.append("%s=%s" % (skey, s.rstrip("\0")))
    return out


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        with open(sys.argv[1], "rb") as f:
            data = f.read()
        for line in describe(version_block(data)):
            print(line)
    except (Bad, OSError) as e:
        print("%s: %s" % (sys.argv[1], e), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
