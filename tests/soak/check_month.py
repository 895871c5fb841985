"""Checks an unattended month (tests/soak/bench_month.sh) against the air log, the node's console
transcripts, its flash page and the Vantor's registry. Tags, frame headers and the record layout are
read here independently of the firmware (tests/e2e/lib/airframes.py).

    check_month.py WORK STATE
"""
import glob
import json
import re
import struct
import sys

import airframes as af

MASK, HALF = 0xFFFFFF, 0x800000
work, state = sys.argv[1], sys.argv[2]
failures, notes = [], []


def check(cond, what):
    if not cond:
        failures.append(what)


def behind(counter, top):
    """The Vantor's rule: behind the latest by up to half the 24-bit circle."""
    d = (top - counter) & MASK
    return 0 < d <= HALF


# The key the Vantor holds for the node (export: uid,chip,key,state).
uid_text, chip, key_hex, node_state = open(f"{work}/registry.csv").read().strip().splitlines()[-1].split(",")
key, zero = bytes.fromhex(key_hex), bytes(16)
check(node_state == "confirmed", f"the node is {node_state} at the Vantor")

# 1. Every uplink's tag, and the counters of the node (a provisioning starts them over at the Vantor).
air = [json.loads(line) for line in open(f"{work}/air.jsonl")]
node = [(r, bytes.fromhex(r["hex"])) for r in air if r["sender"] == "node"]
bad_tags, top, went_back = [], None, []
for rec, b in node:
    h = af.header(b)
    under_zero = h["uid"] == 0 or b[0] == 10
    if not (af.tag_ok(b, key) or (under_zero and af.tag_ok(b, zero))):
        bad_tags.append(rec["t_us"])
    if b[0] == 10:
        top = None
        continue
    if top is not None and behind(h["counter"], top):
        went_back.append((rec["t_us"], h["counter"], top))
    if top is None or not behind(h["counter"], top):
        top = h["counter"]
check(not bad_tags, f"{len(bad_tags)} uplinks whose tag fails, first at t_us {bad_tags[:1]}")
check(not went_back, f"the node's counter went back: {went_back[:3]}")

# 2. The registry against the air log: what the Vantor heard from the node is accepted (frames sent
# twice are duplicates; frames of identity 0 before a new provisioning are unregistered); nothing
# the intruder sent is.
rows = [json.loads(line) for line in open(f"{work}/uplinks.json")]
by_time = {}
for r in rows:
    by_time.setdefault(round(r["t_s"] * 1e6), []).append(r)
heard = missing = 0
sent_before = set()
for rec, b in node:
    again = b in sent_before
    sent_before.add(b)
    match = [r for r in by_time.get(rec["t_us"], []) if r["code"] == b[0] and r.get("counter") == af.header(b)["counter"]]
    if not match:
        missing += 1
        continue
    heard += 1
    v = match[0]["verdict"]
    # The same bytes again (a start sends packet 8 twice, a provisioning asks again with the same
    # packet 10, and counters start over after a record lost with the counter) are duplicates.
    ok = v == "accepted" or (v == "duplicate" and again) or (v == "unregistered" and af.header(b)["uid"] == 0)
    check(ok, f"node frame code {b[0]} counter {af.header(b)['counter']} at t_us {rec['t_us']}: {v}")
intruder = [r for r in air if r["sender"] == "intruder"]
for rec in intruder:
    for r in by_time.get(rec["t_us"], []):
        check(r["verdict"] != "accepted", f"an intruder's frame was accepted at t_us {rec['t_us']}")
accepted = [r for r in rows if r["verdict"] == "accepted" and r["uid"] == uid_text and r["code"] != 10]
nodes = [json.loads(line) for line in open(f"{work}/nodes.json")]
if accepted:
    check(nodes[0]["last_counter"] == accepted[-1]["counter"],
          f"the Vantor's counter {nodes[0]['last_counter']} is not the last accepted {accepted[-1]['counter']}")

# 3. The node's own story from its transcripts: settings committed (packet 17 ok), lost with the
# record, downlink counters taken once.
DEFAULTS = {"phase": 0.0, "rate": 100}
held = dict(DEFAULTS)
allowed = {k: {v} for k, v in held.items()}
pending, answered, applied = None, [], []
last_rx_counter = None
texts = sorted(glob.glob(f"{work}/day*.txt"))  # day000.txt, day001.txt, day001p.txt, ...
for path in texts:
    lines = open(path, errors="replace").read().splitlines()
    for i, line in enumerate(lines):
        m = re.match(r"RX14 SET_PhaseShift: inductive50HzPhaseCorrection \S+ -> (\S+) rad, committing flash", line)
        m2 = re.match(r"RX14 SET_txDebugPacketRate: txDebugPacketRate \d+ -> (\d+), committing flash", line)
        if m or m2:
            pending = ("phase", float(m.group(1))) if m else ("rate", int(m2.group(1)))
        elif line == "Payload (RX packet 14):":
            last_rx_counter = int(lines[i + 2].split(":")[1])
        elif line == "Payload (packet 17):":
            ok = lines[i + 4].startswith("  ok: true")
            if last_rx_counter is not None:
                answered.append(last_rx_counter)
                last_rx_counter = None
            if pending and ok:
                held[pending[0]] = pending[1]
                allowed[pending[0]] = {pending[1]}
                applied.append(pending)
            pending = None
        elif line.startswith("Reset cause:"):
            if pending:  # cut between the commit and the answer: either value may stand
                allowed[pending[0]] = allowed[pending[0]] | {pending[1]}
                held[pending[0]] = pending[1]
            pending, last_rx_counter = None, None
        elif line.startswith("warn: uid not committed"):
            held = dict(DEFAULTS)
            allowed = {k: {v} for k, v in held.items()}
check(len(answered) == len(set(answered)), f"a downlink counter was answered twice: {sorted(answered)}")

page = open(f"{state}/flash-page.bin", "rb").read()
phase, = struct.unpack_from("<f", page, 0)
rate, = struct.unpack_from("<H", page, 116)
magic, = struct.unpack_from("<I", page, 120)
check(magic == 0x80988604, "the node ends without a valid record")
check(any(abs(phase - v) < 1e-6 for v in allowed["phase"]), f"phase on the page {phase}, expected {allowed['phase']}")
check(rate in allowed["rate"], f"debug rate on the page {rate}, expected {allowed['rate']}")

# 4. The Vantor's queue against the node: an item done Applied was applied by the node with its
# value; attempts within their bound.
queue = [json.loads(line) for line in open(f"{work}/queue.json")]
for q in queue:
    check(q["attempts"] <= q["max_attempts"], f"item {q['id']}: {q['attempts']} attempts")
    if q["state"] != "done" or q["reason"] != "Applied":
        continue
    if q["setting"] == "phase":
        check(any(k == "phase" and abs(v - float(q["value"])) < 1e-6 for k, v in applied), f"item {q['id']} {q}")
    elif q["setting"] == "debug-rate":
        check(("rate", int(q["value"])) in applied, f"item {q['id']} {q}")

states = {}
for q in queue:
    name = q["state"] + (" " + q["reason"] if q.get("reason") else "")
    states[name] = states.get(name, 0) + 1
print(f"uplinks {len(node)} (tags verified), heard by the Vantor {heard}, not heard {missing}; "
      f"intruder frames {len(intruder)}; downlinks answered {len(answered)}; settings committed {len(applied)}; "
      f"queue {dict(sorted(states.items()))}")
for n in notes:
    print("note:", n)
for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
