#!/usr/bin/env bash
# "provision" against scripted assign and confirm frames (the Vantor of orvane-sim stays off): the handshake numbers its attempts, every
# packet 10 of it carries the same counter, and the node ends provisioned (identity and key kept
# across a reset). A node whose record is valid starts in the confirm phase.
source "$(dirname "$0")/lib/common.sh"

CHIP=00112233445566778899AABB
NEWKEY=C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF
assign=$("$FRAME_TOOL" p13 0 5A5A01 "$CHIP" assign "$NEWKEY") || fail "frame tool"
confirm=$("$FRAME_TOOL" p13 "$NEWKEY" 5A5A01 "$CHIP" confirm "$NEWKEY") || fail "frame tool"
other=$("$FRAME_TOOL" p14 "$NEWKEY" 000001 1 1) || fail "frame tool"
cat >"$WORK/air.txt" <<SCRIPT
# a frame for another node ends the first attempt's window; the assign comes in the second; the
# confirm in the next window longer than the 500 ms one that follows a handled frame
in_rx_ms=200 data=$other
in_rx_ms=200 data=$assign
in_rx_ms=600 data=$confirm
SCRIPT
out=$(printf 'provision\ninfo\nreset\ninfo\n' |
  run_sim "$WORK/s" --no-vantor --chip-id "$CHIP" --air-script "$WORK/air.txt" --air-log "$WORK/air.jsonl") || fail "exit status"
expect_contains "$out" "provision: LoRa P10/P13 handshake running (board blocks until confirm)" "run announced"
for n in 1 2 3; do grep -qE "^\[wake\+[0-9]+ms\] provision attempt $n \(wake \+[0-9]+ms\)$" <<<"$out" || fail "attempt $n"; done
! grep -q "provision attempt 4" <<<"$out" || fail "a fourth attempt"
grep -qE '^\[wake\+[0-9]+ms\] LoRa RX: ignored len=80 code=0x0E \(wake \+[0-9]+ms\)' <<<"$out" || fail "ignored frame"
expect_contains "$out" "LoRa RX: applied RXPacket13 assign (uid + HMAC)" "assign applied"
expect_contains "$out" "LoRa RX: applied RXPacket13 confirm" "confirm applied"
expect_contains "$out" "ok: provision done (uid 0x5A5A01, config.ok yes)" "closing line"
[ "$(grep -cE '^  uid +\| +0x5A5A01$' <<<"$out")" = 2 ] || fail "identity before and after the reset"
[ "$(grep -cE '^  config.ok +\| +yes$' <<<"$out")" = 2 ] || fail "config.ok before and after the reset"
[ "$(grep -cE '^  hmacKey +\| +set$' <<<"$out")" = 2 ] || fail "key before and after the reset"

PYTHONPATH="$(dirname "$0")/lib" python3 - "$WORK/air.jsonl" "$NEWKEY" <<'PY' || fail "air log"
import sys
import airframes as af
frames = [af.packet10(b) | {"tag_ok": af.tag_ok(b, bytes.fromhex(sys.argv[2]) if b[1] else bytes(16))}
          for _, b in af.read_air_log(sys.argv[1])]
assert [f["uid"] for f in frames] == [0, 0, 0x5A5A01], frames
assert len({f["counter"] for f in frames}) == 1, "one counter for the whole handshake"
assert all(f["tag_ok"] and f["chip"] == ["BBAA99887766554433221100"] * 4 for f in frames), frames
PY

# A valid record: confirm phase at once, attempt 1.
cat >"$WORK/air2.txt" <<SCRIPT
in_rx_ms=200 data=$confirm
SCRIPT
out=$(printf 'provision\n' | run_sim "$WORK/s" --no-vantor --chip-id "$CHIP" --air-script "$WORK/air2.txt") || fail "exit status (valid)"
grep -qE "provision attempt 1 " <<<"$out" || fail "valid record: attempt 1"
! grep -q "provision attempt 2" <<<"$out" || fail "valid record: a second attempt"
expect_contains "$out" "ok: provision done (uid 0x5A5A01, config.ok yes)" "valid record: closing line"
echo "provisioning handshake: ok"
