#!/usr/bin/env bash
# Remote settings in the receive window of "tx p5": a packet 14 from the scripted transmitter is
# applied and answered with packet 17 one counter above packet 5; the same frame again is stale and
# left unanswered; a corrupt frame in an "rx" window is dropped and counted.
source "$(dirname "$0")/lib/common.sh"

KEY=00112233445566778899AABBCCDDEEFF
printf 'set uid 0x12AB\nset hmacHash %s\nsave\n' "$KEY" | run_sim "$WORK/s" >/dev/null || fail "exit status (setup)"
rate7=$("$FRAME_TOOL" p14 "$KEY" 12AB 1 3 7) || fail "frame tool"
cat >"$WORK/air.txt" <<SCRIPT
# the rate setting in the first window; the same frame again in the second "tx p5" (550 ms into a
# window longer than that: the 500 ms window that follows the answer is passed over); junk in "rx"
in_rx_ms=100 data=$rate7
in_rx_ms=550 data=$rate7
in_rx_ms=50 data=0E0102 crc=bad
SCRIPT
out=$(printf 'tx p5\ntx p5 1000\nrx 300\n' |
  run_sim "$WORK/s" --no-vantor --air-script "$WORK/air.txt" --air-log "$WORK/air.jsonl") || fail "exit status"

first=$(sed -n '/^> tx p5$/,/^ok: tx p5 done$/p' <<<"$out")
expect_contains "$first" "RX14 SET_txDebugPacketRate: txDebugPacketRate 100 -> 7, committing flash" "applied"
expect_contains "$first" "LoRa RX: applied RXPacket14 (opcode=0x0003), acked" "acknowledged"
expect_contains "$first" "  ok: true (copiesOk=yes)" "packet 17 accepted"
grep -qE '^  outcome +\| +rx-done$' <<<"$first" || fail "first window outcome"
grep -qE '^  frame \(bytes\) +\| +80$' <<<"$first" || fail "first window frame"
second=$(sed -n '/^> tx p5 1000$/,/^ok: tx p5 done$/p' <<<"$out")
expect_contains "$second" "Payload (RX packet 14):" "the replay is decoded"
! grep -q "Payload (packet 17)" <<<"$second" || fail "a replayed setting was answered"
third=$(sed -n '/^> rx 300$/,/^ok: rx done$/p' <<<"$out")
grep -qE '^  outcome +\| +timeout$' <<<"$third" || fail "rx outcome"
grep -qE '^  frame +\| +none$' <<<"$third" || fail "rx frame row"
grep -qE '^  corrupt dropped +\| +1$' <<<"$third" || fail "rx dropped row"
! grep -q '^warn: ' <<<"$third" || fail "a timeout with a dropped frame has no warning"

# On the air: packet 5, packet 17 one above it (tagged, ok, Applied), packet 5 again one above that.
PYTHONPATH="$(dirname "$0")/lib" python3 - "$WORK/air.jsonl" "$KEY" <<'PY' || fail "air log"
import sys
import airframes as af
frames = af.read_air_log(sys.argv[1])
key = bytes.fromhex(sys.argv[2])
got = [(b[0], af.header(b)["counter"], rec["power_dbm"]) for rec, b in frames]
assert got == [(5, 1, 14), (17, 2, 0), (5, 3, 14)], got
assert all(af.tag_ok(b, key) for _, b in frames)
ack = af.packet17(frames[1][1])
assert ack["ok"] == [1] * 4 and ack["reason"] == [2] * 3, ack
PY
echo "downlinks in the receive windows: ok"
