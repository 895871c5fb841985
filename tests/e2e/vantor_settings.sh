#!/usr/bin/env bash
# A phase setting queued with the CLI is applied at the next "tx p5", acknowledged Applied, shown
# by "print prov" and kept across a reset. A packet 14 replayed by the Vantor is refused by the
# node as stale and left unanswered; a replayed uplink is recorded by the Vantor as a replay. Queued
# settings follow one another in the extra windows; the same value again is Unchanged.
source "$(dirname "$0")/lib/common.sh"
VANTOR="$(dirname "$SIM")/vantor"
s="$WORK/s"
db=(--db "$s/vantor.sqlite")
item() { "$VANTOR" "${db[@]}" --json queue list | jq -r "select(.id == $1) | \"\(.state) \(.reason) \(.attempts)\""; }

out=$(run_sim "$s" <<<'provision')
expect_contains "$out" "ok: provision done" "provision"
[ "$("$VANTOR" "${db[@]}" queue add 0x000001 phase 0.5)" = "queued #1 for 0x000001: phase 0.5" ] || fail "queue add"
out=$(printf 'tx p5\nprint prov\nreset\nprint prov\n' | run_sim "$s" --air-log "$WORK/air.jsonl")
expect_contains "$out" "LoRa RX: applied RXPacket14 (opcode=0x0002), acked" "applied"
[ "$(count_of "$out" "Phase correction: 0.5000 rad")" = 2 ] || fail "phase before and after the reset"
[ "$(item 1)" = "done Applied 1" ] || fail "item 1: $(item 1)"

# The Vantor sends its last packet 14 again instead of the next item: stale for the node (whose
# flash holds that counter since the setting was committed), so no answer.
"$VANTOR" "${db[@]}" queue add 0x000001 debug-rate 7 >/dev/null
last=$(jq -r 'select(.sender == "vantor") | .hex' "$WORK/air.jsonl" | tail -1)
out=$(printf 'tx p5\n' | run_sim "$s" --air-log "$WORK/air2.jsonl" --vantor-fault replay)
expect_contains "$out" "Payload (RX packet 14):" "the replayed frame reaches the node"
[ "$(jq -r 'select(.sender == "vantor") | .hex' "$WORK/air2.jsonl")" = "$last" ] || fail "the same frame again"
[ "$(jq -r 'select(.sender == "node") | .hex[0:2]' "$WORK/air2.jsonl")" = "05" ] || fail "no answer to a stale frame"
[ "$(item 2)" = "pending null 0" ] || fail "item 2 waits: $(item 2)"

# The node's first packet 5 on the air again, later: behind the counter, a replay for the Vantor.
first5=$(jq -r 'select(.sender == "node" and (.hex | startswith("05"))) | .hex' "$WORK/air.jsonl" | head -1)
printf 'in_rx_ms=100 data=%s\n' "$first5" >"$WORK/script.txt"
run_sim "$s" --air-script "$WORK/script.txt" <<<'rx 1000' >/dev/null
[ "$("$VANTOR" "${db[@]}" --json uplinks --limit 1 | jq -r '"\(.code) \(.verdict)"')" = "5 replay" ] ||
  fail "replayed uplink: $("$VANTOR" "${db[@]}" uplinks --limit 3)"
# The next window takes the waiting item; the extra window after its answer takes the next one,
# the phase the node already holds.
"$VANTOR" "${db[@]}" queue add 0x000001 phase 0.5 >/dev/null
out=$(run_sim "$s" <<<'tx p5')
expect_contains "$out" "LoRa RX: applied RXPacket14 (opcode=0x0003), acked" "item 2 after the replay"
[ "$(item 2)" = "done Applied 1" ] || fail "item 2: $(item 2)"
[ "$(item 3)" = "done Unchanged 1" ] || fail "item 3: $(item 3)"
echo "vantor_settings: ok"
