#!/usr/bin/env bash
# A virtual week of the field build with the Vantor, from a fresh board: it provisions itself, then
# cycles unattended under a steady load; halfway a sleep limit of 300 s is queued (between two runs
# of 3.5 days, so the second begins with a reset). Then: the Vantor holds every frame the node sent,
# each with a verified tag; a packet 3 went at least every hour; the standby followed the setting
# from the window that delivered it; and the quick reads kept the node from full readings.
source "$(dirname "$0")/lib/common.sh"
FIELD="$(dirname "$SIM")/orvane-sim-field"
VANTOR="$(dirname "$SIM")/vantor"
LIB="$(dirname "$0")/lib"
db=(--db "$WORK/s/vantor.sqlite")
half=302400
run() {
  "$FIELD" --speed 0 --state "$WORK/s" --load current=5,pf=0.8 --stop-after "$half" --air-log "$WORK/air.jsonl" \
    --events "$WORK/ev.jsonl" </dev/null 2>/dev/null | tr -d '\r' >>"$WORK/out" || fail "exit status"
}

run
"$VANTOR" "${db[@]}" queue add 0x000001 sleep 300 >/dev/null || fail "queue"
run
"$VANTOR" "${db[@]}" --json uplinks --limit 100000 >"$WORK/uplinks.jsonl" || fail "uplinks"
"$VANTOR" "${db[@]}" --json queue list >"$WORK/queue.jsonl" || fail "queue list"

PYTHONPATH="$LIB" python3 - "$WORK" <<'PY' || fail "the week"
import json, re, sys
import airframes as af
import traces
work = sys.argv[1]
air = af.read_air_log(f"{work}/air.jsonl")
uplinks = [json.loads(l) for l in open(f"{work}/uplinks.jsonl")]
events = traces.read_events(f"{work}/ev.jsonl")
out = open(f"{work}/out").read()

# Every frame the node sent is in the Vantor (by code and counter; a capture's frames share one),
# with its tag verified.
sent = sorted((b[0], af.header(b)["counter"]) for _, b in air)
stored = sorted((u["code"], u["counter"]) for u in uplinks)
assert sent == stored, f"{len(sent)} sent, {len(stored)} stored"
# (After a reset packet 8 goes twice, the second a duplicate.)
bad = [u for u in uplinks if not u["tag_ok"] or u["verdict"] not in ("accepted", "duplicate" if u["code"] == 8 else "")]
assert not bad, bad[:2]

# A packet 3 (or 5) at least every hour, by the air log's clock.
telemetry = [r["t_us"] for r, b in air if b[0] in (3, 5)]
gaps = [b - a for a, b in zip(telemetry, telemetry[1:])]
assert max(gaps) <= 3600e6, f"a silence of {max(gaps) / 1e6:.0f} s"

# The standby follows the setting from the cycle whose window delivered it.
[item] = [json.loads(l) for l in open(f"{work}/queue.jsonl")]
assert item["state"] == "done" and item["reason"] == "Applied", item
acked = next(r["t_us"] for r, b in air if b[0] == 17)
standbys = [e for e in events if e["event"] == "standby"]
before = {s["periods"] for s in standbys if s["t_us"] < acked}
after = {s["periods"] for s in standbys if s["t_us"] > acked}
assert before == {585} and after == {292}, (before, after)
cycles = len([e for e in events if e["event"] == "start"])
assert 1400 < cycles < 1600, cycles  # 3.5 days of 599.1 s cycles, then 3.5 days of 299.1 s

# While the load is steady the quick reads keep the node from full readings: full readings only
# when it transmits (first cycle, after the reset, signs of life), quick reads in every cycle.
quick = len(re.findall(r"^QuickRed Curr:", out, re.M))
full = len(re.findall(r"^high power read", out, re.M))
told = len(re.findall(r"field: transmitting", out))
assert full == told and quick >= cycles - 2 and told <= cycles // 5 + 2, (quick, full, told, cycles)
print(f"{cycles} cycles, {told} transmitting, {len(sent)} frames stored, longest silence {max(gaps) / 1e6:.0f} s")
PY
echo "field week with the Vantor: ok"
