"""Parameter store of one simulated camera.

Values live in one of three scopes: global, per video stream (picked by
"Stream.StreamSelector") or per I/O line (picked by "IO.IOSelector").  The
store enforces what a camera enforces: enumeration entries, numeric ranges,
read-only values and the rule that sensor and encoder layout may only be
written in "Configure" operation mode.  Test control writes bypass all checks
so that tests can put the camera into states a real one would refuse.
"""

import re
import threading

GLOBAL = "global"
STREAM = "stream"
IO = "io"

STREAM_SELECTOR = "Stream.StreamSelector"
IO_SELECTOR = "IO.IOSelector"
OPERATION_MODE = "Global.OperationMode"
ENCODER_TYPE = "Stream.EncoderType"
OUTPUT_SIZE = "Stream.OutputSize"
MONITOR_ALL = "IO.MonitorAll"
COMMIT = "Streaming.Commit"

_INT_RE = re.compile(r"^-?[0-9]+$")


class ParamError(Exception):
    """A camera-side refusal; the message is the reason the camera reports."""


def _as_int(text):
    if text is not None and _INT_RE.match(text):
        return int(text)
    return None


def scope_of(name):
    if name.startswith("Stream.") and name != STREAM_SELECTOR:
        return STREAM
    if name.startswith("IO.") and name not in (IO_SELECTOR, MONITOR_ALL):
        return IO
    return GLOBAL


class ParamDef:
    """Static description of one parameter; kind is text, enum, int or action."""

    def __init__(self, name, kind, value="", entries=None, rng=None,
                 readonly=False, per_index=None):
        self.name = name
        self.kind = kind
        self.value = value
        self.entries = list(entries) if entries is not None else None
        self.range = list(rng) if rng is not None else None  # [min, max, inc] as text
        self.readonly = readonly
        self.per_index = dict(per_index or {})
        self.scope = scope_of(name)

    def default(self, index):
        return self.per_index.get(index, self.value)


def _defaults(width, height, camera_id):
    size = "Size_%dx%d" % (width, height)
    sizes = ["Size_640x480", "Size_1280x720", "Size_1280x1024"]
    defs = [
        ParamDef(OPERATION_MODE, "enum", "Normal", entries=["Normal", "Configure"]),
        ParamDef("Sensor.AOILeft", "int", "0", rng=["0", "1264", "1"]),
        ParamDef("Sensor.AOITop", "int", "0", rng=["0", "1008", "1"]),
        ParamDef("Sensor.AOIWidth", "int", "1280", rng=["16", "1280", "1"]),
        ParamDef("Sensor.AOIHeight", "int", "1024", rng=["16", "1024", "1"]),
        ParamDef("Sensor.FrameRateMode", "enum", "Fps_30",
                 entries=["Fps_5", "Fps_7_5", "Fps_10", "Fps_15", "Fps_25", "Fps_30"]),
        ParamDef(STREAM_SELECTOR, "int", "0", rng=["0", "1", "1"]),
        ParamDef("Stream.EncoderType", "enum", "JPEG", entries=["JPEG", "MPEG4", "H_264"],
                 per_index={1: "H_264"}),
        ParamDef("Stream.EncoderMode", "enum", "VBR", entries=["VBR", "CBR"]),
        ParamDef("Stream.Quality", "int", "75", rng=["1", "100", "1"]),
        ParamDef("Stream.FrameRateScaling", "enum", "FpsScale_1_1",
                 entries=["FpsScale_1_1", "FpsScale_1_2", "FpsScale_1_4"]),
        ParamDef("Stream.OutputScaling", "enum", "Scale_1_1",
                 entries=["Scale_1_1", "Scale_1_2", "Scale_1_4"]),
        ParamDef("Stream.OutputSize", "enum", size if size in sizes else sizes[0],
                 entries=sizes),
        ParamDef("Stream.GopLength_ms", "int", "2000", rng=["100", "10000", "100"]),
        ParamDef("Streaming.Enabled", "int", "1", rng=["0", "1", "1"]),
        ParamDef("Streaming.Multicast", "int", "0", rng=["0", "1", "1"]),
        ParamDef("Streaming.RTSPPort", "int", "554", rng=["1", "65535", "1"]),
        ParamDef(COMMIT, "action", "0"),
        ParamDef("SysInfo.ModelName", "text", "BIP2-1280c-dn", readonly=True),
        ParamDef("SysInfo.DeviceVersion", "text", "2", readonly=True),
        ParamDef("SysInfo.ManName", "text", "Basler", readonly=True),
        ParamDef("SysInfo.Manufacturer", "text", "Basler", readonly=True),
        ParamDef("SysInfo.ManSpecInfo", "text", "camsim", readonly=True),
        ParamDef("SysInfo.FirmwareVersion", "text", "3.6.2", readonly=True),
        ParamDef("SysInfo.SerialNumber", "text", "2100%04d" % camera_id, readonly=True),
        ParamDef("SysInfo.MACAddress", "text",
                 "00:30:53:00:%02x:%02x" % ((camera_id >> 8) & 0xFF, camera_id & 0xFF),
                 readonly=True),
        ParamDef(IO_SELECTOR, "int", "0", rng=["0", "3", "1"]),
        ParamDef("IO.Direction", "enum", "Input", entries=["Input", "Output"],
                 per_index={2: "Output", 3: "Output"}),
        ParamDef("IO.Function", "enum", "Monitor", entries=["Off", "Monitor", "UserOutput"],
                 per_index={2: "UserOutput", 3: "UserOutput"}),
        ParamDef("IO.Invert", "int", "0", rng=["0", "1", "1"]),
        ParamDef("IO.State", "int", "0", rng=["0", "1", "1"]),
        ParamDef(MONITOR_ALL, "text", "0", readonly=True),
    ]
    return defs


def requires_configure_mode(name):
    return name.startswith("Sensor.") or name in ("Stream.EncoderType", "Stream.OutputSize")


_INDEXED_RE = re.compile(r"^(.*)\[([0-9]+)\]$")


class ParamStore:
    def __init__(self, width=640, height=480, camera_id=0):
        self.lock = threading.RLock()
        self._defs = {}
        self._values = {}  # (name, index or None) -> text
        # Picture sizes offered per compression (Stream.OutputSize@<encoder>);
        # an encoder without its own list offers the parameter's entries.
        self._sizes_by_encoder = {}
        for d in _defaults(width, height, camera_id):
            self._defs[d.name] = d

    # ----- camera side (checked) -----

    def _def(self, name):
        d = self._defs.get(name)
        if d is None:
            raise ParamError("Unknown parameter %s" % name)
        return d

    def _index(self, d):
        if d.scope == GLOBAL:
            return None
        selector = STREAM_SELECTOR if d.scope == STREAM else IO_SELECTOR
        return _as_int(self._read(self._defs[selector], None)) or 0

    def _read(self, d, index):
        return self._values.get((d.name, index), d.default(index))

    def get_value(self, name):
        d = self._def(name)
        if d.kind == "action":
            raise ParamError("%s is a command" % name)
        return self._read(d, self._index(d))

    def set_value(self, name, value):
        d = self._def(name)
        if d.kind == "action":
            return self.execute(name)
        if d.readonly:
            raise ParamError("%s is read-only" % name)
        if requires_configure_mode(name) and self.get_value(OPERATION_MODE) == "Normal":
            raise ParamError("%s can only be written in Configure mode" % name)
        if d.kind == "enum" and value not in (self._entries(d) or []):
            raise ParamError("Value %s is not an entry of %s" % (value, name))
        if d.kind == "int":
            self._check_int(d, value)
        self._values[(name, self._index(d))] = value
        return value

    def _check_int(self, d, value):
        v = _as_int(value)
        if v is None:
            raise ParamError("Value %s of %s is not an integer" % (value, d.name))
        if not d.range:
            return
        lo, hi = _as_int(d.range[0]), _as_int(d.range[1])
        inc = _as_int(d.range[2]) if len(d.range) > 2 else None
        if (lo is not None and v < lo) or (hi is not None and v > hi):
            raise ParamError("Value %s of %s is out of range" % (value, d.name))
        if lo is not None and inc and inc > 1 and (v - lo) % inc:
            raise ParamError("Value %s of %s is not a multiple of the increment" % (value, d.name))

    def _range_part(self, name, part):
        d = self._def(name)
        if not d.range or len(d.range) <= part:
            raise ParamError("%s has no range" % name)
        return d.range[part]

    def get_min(self, name):
        return self._range_part(name, 0)

    def get_max(self, name):
        return self._range_part(name, 1)

    def get_inc(self, name):
        return self._range_part(name, 2)

    def _entries(self, d):
        if d.name == OUTPUT_SIZE and self._sizes_by_encoder:
            encoder_def = self._defs.get(ENCODER_TYPE)
            if encoder_def is not None:
                encoder = self._read(encoder_def, self._index(encoder_def))
                if encoder in self._sizes_by_encoder:
                    return self._sizes_by_encoder[encoder]
        return d.entries

    def get_entries(self, name):
        d = self._def(name)
        entries = self._entries(d)
        if entries is None:
            raise ParamError("%s has no entries" % name)
        return "".join('(%d,"%s")' % (i, e) for i, e in enumerate(entries))

    def execute(self, name):
        d = self._def(name)
        if d.kind != "action":
            raise ParamError("%s is not a command" % name)
        count = (_as_int(self._read(d, None)) or 0) + 1
        self._values[(name, None)] = str(count)
        return ""

    # ----- test control side (unchecked) -----

    def _split_indexed(self, name):
        m = _INDEXED_RE.match(name)
        if m:
            return m.group(1), int(m.group(2))
        return name, None

    def _def_or_new(self, name):
        d = self._defs.get(name)
        if d is None:
            d = ParamDef(name, "text")
            self._defs[name] = d
        return d

    def force_value(self, name, value):
        """Sets a value without any check; Name[i] addresses stream or line i."""
        with self.lock:
            base, index = self._split_indexed(name)
            d = self._def_or_new(base)
            if d.scope != GLOBAL and index is None:
                index = self._index(d)
            if d.scope == GLOBAL:
                index = None
            self._values[(base, index)] = value

    def force_entries(self, name, entries):
        """Name@Encoder sets the picture sizes offered with that compression."""
        with self.lock:
            base, at, encoder = name.partition("@")
            if at:
                if base != OUTPUT_SIZE or not encoder:
                    raise ValueError("only %s@<encoder> has per-compression entries" % OUTPUT_SIZE)
                self._sizes_by_encoder[encoder] = list(entries)
                return
            d = self._def_or_new(name)
            d.entries = list(entries)
            if d.kind == "text":
                d.kind = "enum"

    def force_range(self, name, parts):
        with self.lock:
            d = self._def_or_new(name)
            d.range = list(parts) + [""] * (3 - len(parts))
            if d.kind == "text":
                d.kind = "int"

    def remove(self, name):
        """Makes the camera stop knowing a parameter (for tests of unknown names)."""
        with self.lock:
            self._defs.pop(name, None)
            for key in [k for k in self._values if k[0] == name]:
                del self._values[key]

    def _indices(self, d):
        if d.scope == STREAM:
            sel = self._defs[STREAM_SELECTOR]
        elif d.scope == IO:
            sel = self._defs[IO_SELECTOR]
        else:
            return [None]
        lo = _as_int(sel.range[0]) if sel.range else 0
        hi = _as_int(sel.range[1]) if sel.range else 0
        lo = 0 if lo is None else max(lo, 0)
        hi = lo if hi is None else min(max(hi, lo), lo + 255)
        known = {k[1] for k in self._values if k[0] == d.name and k[1] is not None}
        return sorted(set(range(lo, hi + 1)) | known)

    def dump(self):
        """name=value lines; per-stream and per-line values as Name[i]=value."""
        with self.lock:
            lines = []
            for name in sorted(self._defs):
                d = self._defs[name]
                for index in self._indices(d):
                    key = name if index is None else "%s[%d]" % (name, index)
                    lines.append("%s=%s" % (key, self._read(d, index)))
            return lines

    def value_at(self, name, index=None):
        with self.lock:
            d = self._defs.get(name)
            if d is None:
                return None
            return self._read(d, None if d.scope == GLOBAL else (index or 0))
