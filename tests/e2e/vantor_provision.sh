#!/usr/bin/env bash
# The Vantor in orvane-sim provisions a fresh node (assign, then confirm) and registers it with its
# chip; a reset keeps identity and key; a silent Vantor makes the node keep trying with numbered
# attempts until the first window after the silence; without the Vantor a window times out.
source "$(dirname "$0")/lib/common.sh"
VANTOR="$(dirname "$SIM")/vantor"
s="$WORK/s"

out=$(printf 'provision\ninfo\nprint prov\nreset\ninfo\nprint prov\n' | run_sim "$s" --air-log "$WORK/air.jsonl")
expect_contains "$out" "ok: provision done (uid 0x000001, config.ok yes)" "provision"
[ "$(grep -cE '^  uid +\| +0x000001$' <<<"$out")" = 2 ] || fail "identity before and after the reset"
[ "$(grep -cE '^  config.ok +\| +yes$' <<<"$out")" = 2 ] || fail "config.ok before and after the reset"
chip=$(grep -m1 -E '^  stm32 uid +\|' <<<"$out" | awk '{print $NF}')
keys=$(grep '^HMAC key (hex): ' <<<"$out" | awk '{print $NF}' | sort -u)
[ "$(wc -l <<<"$keys")" = 1 ] || fail "the key changed across the reset: $keys"

node=$("$VANTOR" --db "$s/vantor.sqlite" --json nodes)
[ "$(wc -l <<<"$node")" = 1 ] || fail "one node: $node"
[ "$(jq -r '.uid' <<<"$node")" = "0x000001" ] || fail "uid: $node"
[ "$(jq -r '.state' <<<"$node")" = "confirmed" ] || fail "state: $node"
[ "$(jq -r '.chip_id' <<<"$node")" = "$chip" ] || fail "chip $chip: $node"
"$VANTOR" --db "$s/vantor.sqlite" export | grep -qx "0x000001,$chip,$keys,confirmed" || fail "export: the node's key"
# One assign and one confirm went out, both from the Vantor.
[ "$(jq -r 'select(.sender == "vantor") | .hex[134:142]' "$WORK/air.jsonl" | tr '\n' ' ')" = "AAAAAAAA 55555555 " ] ||
  fail "assign then confirm: $(jq -c 'select(.sender == "vantor") | .hex[0:20]' "$WORK/air.jsonl")"

# Silent for the first 25 s of virtual time: the attempts go on, numbered, and the first packet 10
# that ends after the silence is answered within its window; the confirm follows at the next.
out=$(printf 'provision\n' | run_sim "$WORK/s2" --vantor-fault silent@0-25000 --air-log "$WORK/air2.jsonl")
expect_contains "$out" "ok: provision done (uid 0x000001, config.ok yes)" "provision after the silence"
numbers=$(grep -oE 'provision attempt [0-9]+' <<<"$out" | awk '{print $3}' | tr '\n' ' ')
requests=$(jq -r 'select(.sender == "node" and .len == 79) | "\(.t_us) \(.toa_us)"' "$WORK/air2.jsonl")
[ "$numbers" = "$(seq -s ' ' 1 "$(wc -l <<<"$requests")") " ] || fail "attempts numbered 1..n: $numbers"
answers=$(jq -r 'select(.sender == "vantor") | .t_us' "$WORK/air2.jsonl")
[ "$(wc -l <<<"$answers")" = 2 ] || fail "assign and confirm only: $answers"
first_after=$(awk '$1 + $2 >= 25000000 { print $1 + $2; exit }' <<<"$requests")
first_answer=$(head -1 <<<"$answers")
[ -n "$first_after" ] && [ "$first_answer" -ge "$first_after" ] && [ "$first_answer" -lt $((first_after + 10000000)) ] ||
  fail "the first answer ($first_answer us) falls in the window of the first request after 25 s ($first_after us)"
[ "$(wc -l <<<"$requests")" = "$(($(awk '$1 + $2 < 25000000' <<<"$requests" | wc -l) + 2))" ] ||
  fail "complete in the first two windows after the silence: $(tr '\n' ' ' <<<"$requests")"

# Without the Vantor the node's window after packet 5 times out, and a queued setting stays queued.
"$VANTOR" --db "$s/vantor.sqlite" queue add 0x000001 dbg1 >/dev/null
out=$(printf 'tx p5\n' | run_sim "$s" --no-vantor)
grep -qE '^  outcome +\| +timeout$' <<<"$out" || fail "tx p5 without the Vantor: $out"
[ "$("$VANTOR" --db "$s/vantor.sqlite" --json queue list | jq -r '"\(.state) \(.attempts)"')" = "pending 0" ] ||
  fail "the setting was not sent"
# Options the Vantor cannot work with stop orvane-sim before the firmware starts (usage status).
for bad in "--vantor-fault loud" "--vantor-fault late@5-2" "--vantor-db $WORK/missing/dir/v.sqlite"; do
  # shellcheck disable=SC2086
  if "$SIM" --state "$WORK/s4" $bad </dev/null >/dev/null 2>"$WORK/err"; then fail "$bad accepted"; fi
  grep -q '^orvane-sim: ' "$WORK/err" || fail "$bad: $(cat "$WORK/err")"
done
echo "vantor_provision: ok"
