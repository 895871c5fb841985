#!/usr/bin/env python3
"""Two Vantors on one air sharing one registry, checked from the air log and the registry alone.

    two_vantors_check.py AIR_LOG REGISTRY_JSON NAME@X,Y...

REGISTRY_JSON holds `vantor --json nodes`, `uplinks` and `queue list` lines; each NAME@X,Y places
a participant of the air (the Vantors' names start with "vantor"). A frame reaches a Vantor when it
arrives above the SF7 demodulation floor, -124.5 dBm, after the site's link budget (31.2 dB over
the first metre, 30 log10(d) beyond: docs/fleet.md). Every frame a node sent is stored once per
Vantor it reached: one copy with its own verdict, the others "duplicate";
a frame that overlapped another on the air may be lost, nothing else. Each reading is accepted
once. Each queued setting went out in one packet 14, by either Vantor, and was acknowledged once.
No two Vantor transmissions overlap. Prints the tally; exits 1 on a breach.
"""
import json
import math
import sys
from collections import Counter, defaultdict


FLOOR_DBM = -117.0 - 7.5


def loss_db(a, b):
    return 31.2 + 30 * math.log10(max(1.0, math.dist(a, b)))


def main(air_path, registry_path, places):
    at = {}
    for p in places:
        name, xy = p.split("@")
        at[name] = tuple(float(v) for v in xy.split(","))
    vantors = [n for n in at if n.startswith("vantor")]

    def reach(f):
        return sum(f["power_dbm"] - loss_db(at[f["name"]], at[v]) >= FLOOR_DBM for v in vantors)

    air = [json.loads(line) for line in open(air_path)]
    nodes, uplinks, queue = [], [], []
    for line in open(registry_path):
        r = json.loads(line)
        (uplinks if "verdict" in r else queue if "setting" in r else nodes).append(r)
    errors = []
    # Frames on the air, each by its start, identity (little-endian after the code) and code.
    spans = [(f["t_us"], f["t_us"] + f["toa_us"]) for f in air]

    def overlapped(i):
        s, e = spans[i]
        return any(j != i and spans[j][0] < e and s < spans[j][1] for j in range(len(air)))

    rows = defaultdict(list)
    for u in uplinks:
        rows[(round(u["t_s"] * 1e6), int(u["uid"], 16), u["code"])].append(u["verdict"])
    uid_of_node = {}
    copies = Counter()
    for i, f in enumerate(air):
        if f["sender"] != "node":
            continue
        b = bytes.fromhex(f["hex"])
        uid = b[1] | b[2] << 8 | b[3] << 16
        got = rows.pop((f["t_us"], uid, b[0]), [])
        want = reach(f)
        if len(got) != want and not (len(got) < want and overlapped(i)):
            errors.append(f"{f['name']} frame {b[0]} at {f['t_us']} us stored {len(got)} times, heard by {want}")
        if got and sorted(got)[:-1] != ["duplicate"] * (len(got) - 1) and got.count("duplicate") < len(got) - 1:
            errors.append(f"{f['name']} frame {b[0]} at {f['t_us']} us: verdicts {got}")
        if b[0] != 10:
            uid_of_node[f["name"]] = uid
        copies[len(got)] += 1
    if rows:
        errors.append(f"stored without a frame on the air: {sorted(rows)[:5]}")
    readings = Counter((u["uid"], u["counter"]) for u in uplinks if u["code"] in (3, 5) and u["verdict"] == "accepted")
    errors += [f"reading {k} accepted {n} times" for k, n in readings.items() if n != 1]
    # The settings: each out once (one packet 14 on the air per item) and answered once.
    downlinks = [f for f in air if f["sender"] == "vantor" and f["hex"].startswith("0E")]
    acks = Counter(u["uid"] for u in uplinks if u["code"] == 17 and u["verdict"] == "accepted")
    for q in queue:
        if (q["state"], q["reason"], q["attempts"]) != ("done", "Applied", 1):
            errors.append(f"setting {q}")
    per_node = Counter(q["uid"] for q in queue)
    if len(downlinks) != len(queue):
        errors.append(f"{len(downlinks)} packets 14 on the air for {len(queue)} settings")
    if acks != per_node:
        errors.append(f"acknowledgements {dict(acks)} for settings {dict(per_node)}")
    tx = sorted((f["t_us"], f["t_us"] + f["toa_us"], f["name"]) for f in air if f["sender"] == "vantor")
    for a, b in zip(tx, tx[1:]):
        if b[0] < a[1]:
            errors.append(f"{a[2]} and {b[2]} transmit together at {b[0]} us")
    senders = Counter(f["name"] for f in downlinks)
    print(f"frames by copies stored {dict(copies)}, duplicates {sum(u['verdict'] == 'duplicate' for u in uplinks)}, "
          f"readings {len(readings)}, settings {len(queue)} sent by {dict(senders)}")
    for e in errors:
        print("  " + e)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3:]))
