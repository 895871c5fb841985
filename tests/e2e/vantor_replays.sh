#!/usr/bin/env bash
# Uplinks replayed or forged by a third transmitter never count at the Vantor: every frame a
# provisioned node sent (packets 3, 5, 8, 4, 7, 17), played again later, and forged frames (a
# counter moved ahead under the old tag, a tag under the zero key) are stored as replays,
# duplicates or bad tags; none is answered, none moves the node's counter, none closes or sends
# a queued setting. The node's own next window then gets the setting.
source "$(dirname "$0")/lib/common.sh"
VANTOR="$(dirname "$SIM")/vantor"
s="$WORK/s"
db=(--db "$s/vantor.sqlite")
item() { "$VANTOR" "${db[@]}" --json queue list | jq -r "select(.id == $1) | \"\(.state) \(.reason) \(.attempts)\""; }
last_counter() { "$VANTOR" "${db[@]}" --json nodes | jq -r '.last_counter'; }

out=$(run_sim "$s" <<<'provision')
expect_contains "$out" "ok: provision done (uid 0x000001, config.ok yes)" "provision"
"$VANTOR" "${db[@]}" queue add 0x000001 debug-rate 7 >/dev/null
out=$(printf 'sample\ntx\ntx p5\ntx\n' | run_sim "$s" --air-log "$WORK/air.jsonl")
expect_contains "$out" "LoRa RX: applied RXPacket14 (opcode=0x0003), acked" "the first setting"
[ "$(item 1)" = "done Applied 1" ] || fail "item 1: $(item 1)"
"$VANTOR" "${db[@]}" queue add 0x000001 tx-power 5 >/dev/null
before=$(last_counter)

# The attack: every node frame again, then forged ones, 1 s apart.
mapfile -t sent < <(jq -r 'select(.sender == "node") | .hex' "$WORK/air.jsonl")
codes=$(for h in "${sent[@]}"; do echo "${h:0:2}"; done | sort -u | tr '\n' ' ')
[ "$codes" = "03 04 05 07 08 11 " ] || fail "captured codes: $codes"
# A packet 5 with its counter moved 1000 ahead under its old tag, and the same under the zero key.
mapfile -t forged < <(PYTHONPATH="$(dirname "$0")/lib" python3 - "${sent[@]}" <<'PY'
import struct, sys
import airframes as af
p5 = next(bytes.fromhex(h) for h in sys.argv[1:] if h.startswith("05"))
ahead = (af.u24(p5, 4) + 1000) & 0xFFFFFF
body = p5[:4] + ahead.to_bytes(3, "little") + p5[7:-4]
print((body + p5[-4:]).hex().upper())
print((body + struct.pack("<I", af.halfsiphash_2_4(bytes(8), body))).hex().upper())
PY
)
[ "${#forged[@]}" = 2 ] || fail "forging"
start_ms=$(($(cat "$s/clock") / 1000 + 2000))
{
  echo "at_ms=$start_ms sender=intruder data=${sent[0]}"
  for h in "${sent[@]:1}" "${forged[@]}"; do echo "after_ms=1000 sender=intruder data=$h"; done
} >"$WORK/attack.txt"
# The node listens on meanwhile (a window ends with the frame it receives, so one after another).
windows=$(for _ in $(seq 1 $((2 * ${#sent[@]} + 6))); do echo 'rx 2000'; done)
run_sim "$s" --air-script "$WORK/attack.txt" --air-log "$WORK/attack.jsonl" <<<"$windows" >/dev/null ||
  fail "exit status (attack)"
[ "$(jq -r 'select(.sender == "intruder")' "$WORK/attack.jsonl" | jq -s length)" = $((${#sent[@]} + 2)) ] ||
  fail "not every frame went out"
verdicts=$("$VANTOR" "${db[@]}" --json uplinks --limit $((${#sent[@]} + 2)) | jq -r '.verdict' | sort | uniq -c)
! grep -q ' accepted$' <<<"$verdicts" || fail "a replayed or forged uplink was accepted: $verdicts"
grep -q ' bad_tag$' <<<"$verdicts" || fail "the forged frames: $verdicts"
[ -z "$(jq -r 'select(.sender == "vantor") | .hex' "$WORK/attack.jsonl")" ] || fail "the Vantor answered"
[ "$(last_counter)" = "$before" ] || fail "the node's counter moved: $before -> $(last_counter)"
[ "$(item 2)" = "pending null 0" ] || fail "item 2 during the attack: $(item 2)"

# The node itself: accepted, and its window takes the setting.
out=$(run_sim "$s" <<<'tx p5')
expect_contains "$out" "RX14 SET_TxPowerDbm: txPowerDbm 0 -> 5 dBm (RTC)" "the node's next window"
[ "$(item 2)" = "done Applied 1" ] || fail "item 2: $(item 2)"
echo "vantor_replays: ok"
