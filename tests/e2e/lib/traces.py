"""Readers of orvane-sim's run records: the event log (JSON lines) and the VCD trace."""
import json


def read_events(path):
    with open(path) as f:
        return [json.loads(line) for line in f]


def read_vcd(path):
    """{signal name: [(t_us, level), ...]} from a VCD file of one-bit wires (timescale 1 us)."""
    names, changes, t = {}, {}, 0
    tokens = open(path).read().split()
    i = 0
    while i < len(tokens):
        tok = tokens[i]
        if tok == "$var":
            end = tokens.index("$end", i)
            code, name = tokens[i + 3], tokens[i + 4]
            names[code] = name
            changes[name] = []
            i = end
        elif tok == "$timescale":
            end = tokens.index("$end", i)
            assert "".join(tokens[i + 1:end]) == "1us", tokens[i + 1:end]
            i = end
        elif tok.startswith("#"):
            t = int(tok[1:])
        elif tok[0] in "01" and tok[1:] in names:
            changes[names[tok[1:]]].append((t, int(tok[0])))
        i += 1
    return changes


def high_time_us(changes, end_us):
    """Time a signal spends high up to end_us."""
    total, since = 0, None
    for t, level in changes:
        if level and since is None:
            since = t
        elif not level and since is not None:
            total += t - since
            since = None
    if since is not None:
        total += end_us - since
    return total


def intervals(events, kind, end_us):
    """[(event, start, end)] of consecutive events of one kind, the last one lasting up to end_us."""
    marks = [(e["t_us"], e) for e in events if e["event"] == kind]
    out = []
    for (t, e), (t_next, _) in zip(marks, marks[1:] + [(end_us, None)]):
        out.append((e, t, t_next))
    return out
