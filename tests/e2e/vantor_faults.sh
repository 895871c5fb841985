#!/usr/bin/env bash
# A setting survives a Vantor that answers late and one that corrupts its frame: each try counts
# as an attempt, the node's window ends without a frame it takes, and the next good window
# delivers the setting.
source "$(dirname "$0")/lib/common.sh"
VANTOR="$(dirname "$SIM")/vantor"
s="$WORK/s"
db=(--db "$s/vantor.sqlite")
item() { "$VANTOR" "${db[@]}" --json queue list | jq -r '"\(.state) \(.reason) \(.attempts)"'; }

out=$(run_sim "$s" <<<'provision')
expect_contains "$out" "ok: provision done" "provision"
"$VANTOR" "${db[@]}" queue add 0x000001 debug-rate 3 >/dev/null

out=$(run_sim "$s" --vantor-fault late <<<'tx p5')
grep -qE '^  outcome +\| +timeout$' <<<"$out" || fail "late: the window ends empty"
[ "$(item)" = "sent null 1" ] || fail "late: $(item)"

out=$(run_sim "$s" --vantor-fault corrupt --air-log "$WORK/air.jsonl" <<<'tx p5')
expect_contains "$out" "LoRa RX: 80 bytes" "corrupt: the frame is received"
grep -q 'applied RXPacket14' <<<"$out" && fail "corrupt: a corrupt frame was applied"
[ "$(jq -r 'select(.sender == "node") | .hex[0:2]' "$WORK/air.jsonl")" = "05" ] || fail "corrupt: no answer"
[ "$(item)" = "sent null 2" ] || fail "corrupt: $(item)"

out=$(run_sim "$s" <<<'tx p5')
expect_contains "$out" "LoRa RX: applied RXPacket14 (opcode=0x0003), acked" "delivered"
[ "$(item)" = "done Applied 3" ] || fail "delivered: $(item)"
echo "vantor_faults: ok"
