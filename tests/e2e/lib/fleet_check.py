#!/usr/bin/env python3
"""The accounting of a fleet run, from its air log and the Vantor's registry alone.

    fleet_check.py VANTOR DIR

Every reading (packets 3 and 5 from a node) that overlapped no other frame on the air must be
stored by the Vantor; every one it did not store must be explained by an overlap: another node's
frame (a collision, or the capture of the receiver by a stronger one) or the Vantor transmitting
at the time (or, with gateways, a gateway transmitting). The counts must agree with DIR/report.json. Prints the tally; exits 1 on a breach.
"""
import datetime
import json
import subprocess
import sys


def uid_of(hex_text):
    return int(hex_text[6:8] + hex_text[4:6] + hex_text[2:4], 16)


def main(vantor, run):
    air = [json.loads(line) for line in open(f"{run}/air.jsonl")]
    report = json.load(open(f"{run}/report.json"))
    # What the Vantor stored, as its own command lists it: each frame by its start, node and code
    # (heard through a gateway: by its end, the time of the gateway's rxpk on the fleet's epoch).
    listing = subprocess.run([vantor, "--db", f"{run}/vantor.sqlite", "--json", "uplinks", "--limit", "100000000"],
                             check=True, capture_output=True, text=True).stdout
    stored, stored_by_end = set(), set()
    epoch = datetime.datetime(2026, 1, 1)
    for line in listing.splitlines():
        u = json.loads(line)
        if "rx_time" in u:
            end = datetime.datetime.strptime(u["rx_time"], "%Y-%m-%dT%H:%M:%S.%fZ") - epoch
            stored_by_end.add((end // datetime.timedelta(microseconds=1), int(u["uid"], 16), u["code"]))
        else:
            stored.add((round(u["t_s"] * 1e6), int(u["uid"], 16), u["code"]))
    # Each frame's span on the air: [start, start + time on air).
    spans = [(f["t_us"], f["t_us"] + f["toa_us"], f) for f in air]
    spans.sort(key=lambda s: s[0])
    longest = max((e - s for s, e, _ in spans), default=0)

    def overlapping(i):
        start, end, _ = spans[i]
        out = []
        j = i
        while j > 0 and spans[j - 1][0] >= start - longest:
            j -= 1
        while j < len(spans) and spans[j][0] < end:
            if j != i and spans[j][1] > start:
                out.append(spans[j][2])
            j += 1
        return out

    sent = kept = 0
    lost = {"node": 0, "vantor": 0}
    breaches = []
    for i, (start, end, f) in enumerate(spans):
        if f["sender"] != "node" or f["hex"][:2] not in ("03", "05"):
            continue
        sent += 1
        others = overlapping(i)
        key = (uid_of(f["hex"]), int(f["hex"][:2], 16))
        if (f["t_us"], *key) in stored or (end, *key) in stored_by_end:
            kept += 1
            continue
        if not others:
            breaches.append(f"{f['name']} at {start} us: lost with nothing else on the air")
        elif any(o["sender"] in ("vantor", "gateway") for o in others):
            lost["vantor"] += 1
        else:
            lost["node"] += 1
    fleet = report["fleet"]
    if fleet["readings_sent"] != sent or fleet["readings_stored"] != kept:
        breaches.append(f"report.json says {fleet['readings_sent']} sent, {fleet['readings_stored']} stored; "
                        f"the air log and the registry say {sent} and {kept}")
    explained = fleet["lost"]["collision"] + fleet["lost"]["capture"]
    if explained != lost["node"] or fleet["lost"]["vantor_transmitting"] != lost["vantor"]:
        breaches.append(f"report.json explains {fleet['lost']}; the air log: {lost}")
    print(f"readings {sent} sent, {kept} stored, lost to other nodes' frames {lost['node']}, "
          f"to the Vantor's {lost['vantor']}")
    for b in breaches:
        print("BREACH:", b)
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
