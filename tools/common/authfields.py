"""The parameter list of an HTTP or RTSP authentication header, as the test
peers read what the driver sends them."""


def parse_auth_fields(rest):
    """name=value pairs of a challenge or an Authorization header, in any
    spacing and quoting, names in lower case."""
    fields = {}
    i, n = 0, len(rest)
    while i < n:
        while i < n and rest[i] in " \t,":
            i += 1
        start = i
        while i < n and rest[i] not in "=, \t":
            i += 1
        name = rest[start:i].lower()
        if i >= n or rest[i] != "=":
            continue
        i += 1
        if i < n and rest[i] == '"':
            i += 1
            value = ""
            while i < n and rest[i] != '"':
                if rest[i] == "\\" and i + 1 < n:
                    i += 1
                value += rest[i]
                i += 1
            i += 1
        else:
            start = i
            while i < n and rest[i] not in ", \t":
                i += 1
            value = rest[start:i]
        fields[name] = value
    return fields
