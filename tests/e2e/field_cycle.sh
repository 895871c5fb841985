#!/usr/bin/env bash
# The field build unattended, against scripted downlinks: a fresh board provisions itself, then
# cycles in standby for the sleep limit (585 wake-up periods of 1.024 s for 600 s); while the load
# is steady the quick reads keep it quiet, with a packet 3 at least every hour as a sign of life.
# A reset is told at once; a remote sleep limit of 300 s sets the standby that follows; the
# provisioning button held at start provisions again; typed lines are ignored.
source "$(dirname "$0")/lib/common.sh"
FIELD="$(dirname "$SIM")/orvane-sim-field"
LIB="$(dirname "$0")/lib"

CHIP=00112233445566778899AABB
KEY=C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF
assign=$("$FRAME_TOOL" p13 0 5A5A01 "$CHIP" assign "$KEY") || fail "frame tool"
confirm=$("$FRAME_TOOL" p13 "$KEY" 5A5A01 "$CHIP" confirm "$KEY") || fail "frame tool"
# SET_SleepForceRX (4): 300.0 s as an IEEE single, no forced listening.
sleep300=$("$FRAME_TOOL" p14 "$KEY" 5A5A01 1 4 0x43960000 0) || fail "frame tool"
field() { "$FIELD" --speed 0 --state "$WORK/s" --no-vantor --chip-id "$CHIP" --load current=5,pf=0.8 "$@" | tr -d '\r'; }

# 1. Fresh board, two hours, typed lines on the console.
# The confirm comes in the attempt after the assign (a window longer than the 500 ms re-arm).
cat >"$WORK/air1.txt" <<SCRIPT
in_rx_ms=200 data=$assign
in_rx_ms=600 data=$confirm
SCRIPT
printf 'help\nsample\n' | field --air-script "$WORK/air1.txt" --air-log "$WORK/air.jsonl" --events "$WORK/ev.jsonl" \
  --stop-after 7200 >"$WORK/out1" 2>/dev/null || fail "exit status (fresh)"
out=$(cat "$WORK/out1")
expect_contains "$out" "field: provisioning over the air (configuration not valid)" "provisioning announced"
expect_contains "$out" "field: provisioned (uid 0x5A5A01)" "provisioned"
expect_contains "$out" "field: transmitting: new reading" "first reading told"
expect_contains "$out" "field: reading in band, nothing sent" "quiet cycles"
expect_contains "$out" "field: transmitting: sign of life" "sign of life"
! grep -q "^commands:" <<<"$out" || fail "a typed line was executed"
quiet=$(grep -c "field: reading in band, nothing sent" <<<"$out")
full=$(grep -c "^high power read" <<<"$out")
quick=$(grep -c "^QuickRed Curr:" <<<"$out")
[ "$quiet" -ge 8 ] || fail "only $quiet quiet cycles"
[ "$quick" -ge "$quiet" ] || fail "$quick quick reads for $quiet quiet cycles"
# Full readings: the first cycle's and one per sign of life.
[ "$full" = $((1 + $(grep -c "field: transmitting: sign of life" <<<"$out"))) ] || fail "$full full readings"

# 2. A pin reset (a new launch on the same board) is told at once; a remote sleep limit of 300 s
#    received in that cycle's window sets the standby that follows.
echo "in_rx_ms=100 data=$sleep300" >"$WORK/air2.txt"
field --air-script "$WORK/air2.txt" --air-log "$WORK/air.jsonl" --events "$WORK/ev.jsonl" --stop-after 1800 \
  </dev/null >"$WORK/out2" 2>/dev/null || fail "exit status (reset)"
out=$(cat "$WORK/out2")
expect_contains "$out" "field: transmitting: first cycle after a reset" "reset told"
expect_contains "$out" "RX14 SET_SleepForceRX: sleepMaxSec 600 -> 300 s, forceLoraRX 0 -> 0, committing flash" "setting"
! grep -q "field: provisioning" <<<"$out" || fail "provisioned again after a reset"

# 3. The provisioning button held at start: the handshake again (confirm phase), once.
echo "in_rx_ms=200 data=$confirm" >"$WORK/air3.txt"
field --button-held --air-script "$WORK/air3.txt" --events "$WORK/ev3.jsonl" --stop-after 700 </dev/null \
  >"$WORK/out3" 2>/dev/null || fail "exit status (button)"
out=$(cat "$WORK/out3")
[ "$(grep -c "field: provisioning over the air (provisioning button held)" <<<"$out")" = 1 ] || fail "button"
expect_contains "$out" "LoRa RX: applied RXPacket13 confirm" "confirm applied"

PYTHONPATH="$LIB" python3 - "$WORK/air.jsonl" "$WORK/ev.jsonl" "$KEY" <<'PY' || fail "air log and events"
import json, sys
import airframes as af
key = bytes.fromhex(sys.argv[3])
frames = af.read_air_log(sys.argv[1])
events = [json.loads(l) for l in open(sys.argv[2])]

# Every frame after the handshake carries the identity and the tag under the assigned key.
sent = [(r["t_us"], b) for r, b in frames if b[0] != 10]
assert all(af.header(b)["uid"] == 0x5A5A01 and af.tag_ok(b, key) for _, b in sent), "identity or tag"
telemetry = [(t, af.header(b)["counter"]) for t, b in sent if b[0] in (3, 5)]
assert [c for _, c in telemetry] == sorted(c for _, c in telemetry), "counters"
gaps = [b - a for (a, _), (b, _) in zip(telemetry, telemetry[1:])]
assert gaps and max(gaps) <= 3600e6, f"silence beyond the hour: {max(gaps) / 1e6} s"

starts = [e for e in events if e["event"] == "start"]
assert starts[0]["kind"] == "power-on" and starts[0]["csr"] == "0x0C000000", starts[0]
kinds = [e["kind"] for e in starts]
assert kinds.count("pin-reset") == 1 and kinds.count("power-on") == 1, kinds
standbys = [e for e in events if e["event"] == "standby"]
for s in standbys:
    assert s["wake_us"] - s["t_us"] == s["periods"] * 1024000, s
# Each standby wake-up is the next start, at the wake-up time.
for s, nxt in zip(standbys, starts[1:]):
    if nxt["kind"] == "standby-wake":
        assert nxt["t_us"] == s["wake_us"], (s, nxt)
# 600 s before the remote setting, 300 s after it (the cycle that received it already sleeps 300 s).
reset_at = next(e["t_us"] for e in starts if e["kind"] == "pin-reset")
before = {s["periods"] for s in standbys if s["t_us"] < reset_at}
after = [s["periods"] for s in standbys if s["t_us"] > reset_at]
assert before == {585} and after and set(after) == {292}, (before, after)
# The setting was answered: packet 17, ok, Applied.
acks = [af.packet17(b) for _, b in frames if b[0] == 17]
assert acks and acks[0]["ok"] == [1] * 4 and acks[0]["reason"] == [2] * 3, acks
PY

# 4. Nobody answers: a fresh board asks 6 times (10 s windows), then sleeps an hour before it asks
#    again, instead of listening without end.
"$FIELD" --speed 0 --state "$WORK/alone" --no-vantor --chip-id "$CHIP" --events "$WORK/ev4.jsonl" \
  --stop-after 4000 </dev/null 2>/dev/null | tr -d '\r' >"$WORK/out4" || fail "exit status (alone)"
out=$(cat "$WORK/out4")
[ "$(grep -c "field: no answer to provisioning after 6 attempts, trying again in 3600 s" <<<"$out")" = 2 ] ||
  fail "unanswered provisioning: $(grep -c 'provision attempt' <<<"$out") attempts"
[ "$(grep -c "provision attempt 6 " <<<"$out")" = 2 ] && ! grep -q "provision attempt 7 " <<<"$out" || fail "attempts per start"
! grep -q "field: transmitting" <<<"$out" || fail "an unprovisioned node transmitted"
PYTHONPATH="$LIB" python3 - "$WORK/ev4.jsonl" <<'PY' || fail "standby after unanswered provisioning"
import json, sys
standbys = [e for e in map(json.loads, open(sys.argv[1])) if e["event"] == "standby"]
assert standbys and standbys[0]["periods"] == 3515, standbys  # floor(3600 s / 1.024 s)
PY
echo "field build: ok"
