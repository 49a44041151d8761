"""Answers of the camera's parameter CGI.

The request carries NumActions and, per action i, Action_i=<Param>.<Op> and
optionally Parameter_i_0=<value>, unescaped.  The answer holds one line per
action, "Return_i=<value>" or "Exception_i=<reason>", each ended by CR LF.
Actions run in order, so a selector written by one action applies to the
actions after it.
"""

from urllib.parse import unquote

from paramstore import ParamError


def parse_raw_query(query):
    """Splits a query at '&' and the first '='; first occurrence of a key wins."""
    fields = {}
    for item in query.split("&") if query else []:
        key, _, value = item.partition("=")
        key = unquote(key)
        if key not in fields:
            fields[key] = unquote(value)
    return fields


def _run(store, name, op, fields, i):
    has_param = ("Parameter_%d_0" % i) in fields
    param = fields.get("Parameter_%d_0" % i, "")
    if op == "GetValue":
        return store.get_value(name)
    if op == "SetValue":
        if not has_param:
            raise ParamError("SetValue of %s without a value" % name)
        return store.set_value(name, param)
    if op == "GetMin":
        return store.get_min(name)
    if op == "GetMax":
        return store.get_max(name)
    if op == "GetInc":
        return store.get_inc(name)
    if op == "GetEntries":
        return store.get_entries(name)
    if op in ("Execute", "Excecute"):
        return store.execute(name)
    raise ParamError("Unknown operation %s" % op)


def answer(store, query, refused=None, omitted=None):
    """Returns the response body, or None when the request is malformed.

    refused maps an action key to the reason the camera gives instead of
    answering; omitted is a set of action keys the camera silently skips.
    """
    refused = refused or {}
    omitted = omitted or set()
    fields = parse_raw_query(query)
    count_text = fields.get("NumActions", "")
    if not count_text.isdigit() or int(count_text) > 1000:
        return None
    lines = []
    with store.lock:
        for i in range(int(count_text)):
            action = fields.get("Action_%d" % i)
            if action is None:
                lines.append("Exception_%d=Action_%d missing" % (i, i))
                continue
            if action in omitted:
                continue
            if action in refused:
                lines.append("Exception_%d=%s" % (i, refused[action]))
                continue
            name, dot, op = action.rpartition(".")
            try:
                if not dot or not name:
                    raise ParamError("Malformed action %s" % action)
                lines.append("Return_%d=%s" % (i, _run(store, name, op, fields, i)))
            except ParamError as e:
                lines.append("Exception_%d=%s" % (i, e))
    return "".join(line + "\r\n" for line in lines)
