"""Readers of orvane-sim's run records: the event log (JSON lines) and the VCD trace."""
import json


def read_events(path):
    with open(path) as f:
        return [json.loads(line) for line in f]


def read_vcd(path):
    """{signal name: [(t_us, level), ...]} from a VCD file of one-bit wires."""
    names, changes, t = {}, {}, 0
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line.startswith("$var"):
                _, _, _, code, name, _ = line.split()
                names[code] = name
                changes[name] = []
            elif line.startswith("#"):
                t = int(line[1:])
            elif line and line[0] in "01" and line[1:] in names:
                changes[names[line[1:]]].append((t, int(line[0])))
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


def intervals(events, kind, key, end_us):
    """[(value of key, start, end)] of consecutive events of one kind, the last one up to end_us."""
    marks = [(e["t_us"], e) for e in events if e["event"] == kind]
    out = []
    for (t, e), (t_next, _) in zip(marks, marks[1:] + [(end_us, None)]):
        out.append((e, t, t_next))
    return out
