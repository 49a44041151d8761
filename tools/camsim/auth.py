"""HTTP authentication of a simulated camera: none, Basic, or Digest (RFC 2617).

A camera configured for Digest still accepts Basic credentials, because the
platform HTTP stack under test cannot send Digest; tests observe the 401
challenge and the retry instead.
"""

import base64
import hashlib
import os
import re

REALM = "camsim"

_DIGEST_FIELD_RE = re.compile(r'(\w+)\s*=\s*(?:"([^"]*)"|([^\s,]+))')


def _md5(text):
    return hashlib.md5(text.encode("latin-1")).hexdigest()


class Authenticator:
    def __init__(self, mode, user, password, digest_first=False):
        if mode not in ("none", "basic", "digest"):
            raise ValueError("auth must be none, basic or digest")
        self.mode = mode
        self.user = user or ""
        self.password = password or ""
        self.digest_first = digest_first
        self.nonce = os.urandom(16).hex()

    def challenges(self):
        """WWW-Authenticate header values for a 401 answer, in order."""
        basic = 'Basic realm="%s"' % REALM
        if self.mode == "basic":
            return [basic]
        digest = 'Digest realm="%s", nonce="%s", qop="auth"' % (REALM, self.nonce)
        return [digest, basic] if self.digest_first else [digest]

    def accepts(self, method, header):
        if self.mode == "none":
            return True
        if not header:
            return False
        scheme, _, rest = header.strip().partition(" ")
        scheme = scheme.lower()
        if scheme == "basic":
            try:
                decoded = base64.b64decode(rest.strip(), validate=True).decode("latin-1")
            except (ValueError, UnicodeDecodeError):
                return False
            user, sep, password = decoded.partition(":")
            return bool(sep) and user == self.user and password == self.password
        if scheme == "digest" and self.mode == "digest":
            return self._digest_ok(method, rest)
        return False

    def _digest_ok(self, method, rest):
        f = {m.group(1).lower(): m.group(2) if m.group(2) is not None else m.group(3)
             for m in _DIGEST_FIELD_RE.finditer(rest)}
        if f.get("username") != self.user or f.get("nonce") != self.nonce:
            return False
        if f.get("realm") != REALM or "uri" not in f or "response" not in f:
            return False
        ha1 = _md5("%s:%s:%s" % (self.user, REALM, self.password))
        ha2 = _md5("%s:%s" % (method, f["uri"]))
        qop = f.get("qop")
        if qop:
            if qop != "auth" or "nc" not in f or "cnonce" not in f:
                return False
            expected = _md5("%s:%s:%s:%s:%s:%s" % (ha1, self.nonce, f["nc"], f["cnonce"], qop, ha2))
        else:
            expected = _md5("%s:%s:%s" % (ha1, self.nonce, ha2))
        return f["response"].lower() == expected
