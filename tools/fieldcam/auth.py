"""Challenges and the check of a client's answer: Digest (MD5 or SHA-256,
with or without qop=auth) and Basic, as field cameras offer them."""

import base64
import hashlib
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from authfields import parse_auth_fields  # noqa: E402


def _hash(algorithm, text):
    name = "sha256" if algorithm.upper().startswith("SHA-256") else "md5"
    return hashlib.new(name, text.encode("latin-1")).hexdigest()


parse_fields = parse_auth_fields


def digest_response(algorithm, user, realm, password, method, uri, nonce, qop="", nc="", cnonce=""):
    ha1 = _hash(algorithm, "%s:%s:%s" % (user, realm, password))
    ha2 = _hash(algorithm, "%s:%s" % (method, uri))
    if qop:
        return _hash(algorithm, "%s:%s:%s:%s:%s:%s" % (ha1, nonce, nc, cnonce, qop, ha2))
    return _hash(algorithm, "%s:%s:%s" % (ha1, nonce, ha2))


class Verdict:
    OK = "ok"
    MISSING = "missing"
    WRONG = "wrong"
    STALE = "stale"          # right credentials, an old nonce
    WEAK = "weak"            # Basic although Digest was offered
    ALGORITHM = "algorithm"  # a Digest algorithm the server did not offer


def check(header, method, user, password, realm, nonce, schemes, algorithm="MD5", qop=False):
    """schemes: the schemes offered ("digest", "basic"). Returns (verdict,
    scheme name used)."""
    if not header:
        return Verdict.MISSING, ""
    scheme, _, rest = header.strip().partition(" ")
    scheme = scheme.lower()
    if scheme == "basic":
        if "digest" in schemes:
            return Verdict.WEAK, "Basic"
        if "basic" not in schemes:
            return Verdict.WRONG, "Basic"
        try:
            given = base64.b64decode(rest.strip()).decode("latin-1")
        except Exception:
            return Verdict.WRONG, "Basic"
        return (Verdict.OK if given == "%s:%s" % (user, password) else Verdict.WRONG), "Basic"
    if scheme != "digest" or "digest" not in schemes:
        return Verdict.WRONG, scheme
    f = parse_fields(rest)
    used = f.get("algorithm", "MD5")
    name = "Digest/" + used
    if used.upper() != algorithm.upper():
        return Verdict.ALGORITHM, name
    if f.get("username") != user or f.get("realm") != realm:
        return Verdict.WRONG, name
    if qop and f.get("qop") != "auth":
        return Verdict.WRONG, name
    expected = digest_response(used, user, realm, password, method, f.get("uri", ""), f.get("nonce", ""),
                               f.get("qop", ""), f.get("nc", ""), f.get("cnonce", ""))
    if f.get("response", "").lower() != expected:
        return Verdict.WRONG, name
    if f.get("nonce") != nonce:
        return Verdict.STALE, name
    return Verdict.OK, name
