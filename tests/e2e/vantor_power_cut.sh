#!/usr/bin/env bash
# A provisioned node that loses the power of its RTC domain (a battery change) goes on with uplink
# counters above every one it sent before: the Vantor accepts every frame after the cut, none is
# a replay. Cuts by the operator (Ctrl-A p) after one and after two checkpoints, and during a standby.
source "$(dirname "$0")/lib/common.sh"
VANTOR="$(dirname "$SIM")/vantor"
s="$WORK/s"

out=$(run_sim "$s" <<<'provision')
expect_contains "$out" "ok: provision done (uid 0x000001, config.ok yes)" "provision"

# 70 cycles (a second checkpoint at 65), a cut, cycles; 3 cycles, a cut, cycles.
cycles() { for _ in $(seq 1 "$1"); do printf 'tx\n'; done; }
input="$(cycles 70)\n\001p\ntx p5\n$(cycles 2)\n\001p\ntx\ntx p5\n"
out=$(printf "$input" | run_sim "$s" 2>/dev/null) || fail "exit status"
[ "$(grep -c '^Reset cause: PWRRSTF' <<<"$out")" = 2 ] || fail "two power cuts"

# A cut in the middle of a standby (the clock file holds the virtual time in microseconds).
cut_ms=$(($(cat "$s/clock") / 1000 + 20000))
out=$(printf 'tx\nsleep 60\ntx\ntx p5\n' | run_sim "$s" --power-cut-at "$cut_ms" 2>/dev/null) || fail "exit status (standby)"
[ "$(grep -c '^Reset cause: PWRRSTF' <<<"$out")" = 1 ] || fail "the cut in standby"

# Every uplink of the node after its provisioning is accepted; the only other verdict is the
# duplicate of the packet 8 a start sends twice (the same bytes).
verdicts=$("$VANTOR" --db "$s/vantor.sqlite" --json uplinks --limit 100000)
counts=$(jq -r 'select(.uid == "0x000001" and .code != 10) | .verdict' <<<"$verdicts" | sort | uniq -c)
grep -q ' accepted$' <<<"$counts" || fail "no uplink accepted: $counts"
bad=$(jq -c 'select(.uid == "0x000001" and .code != 10 and .verdict != "accepted"
  and (.verdict != "duplicate" or .code != 8)) | {code, counter, verdict}' <<<"$verdicts")
[ -z "$bad" ] || fail "uplinks not accepted after a power cut: $bad"
[ "$(jq -r 'select(.uid == "0x000001") | .counter' <<<"$verdicts" | sort -n | tail -1)" -gt 75 ] ||
  fail "the counters did not go on above the first cycles"
echo "vantor_power_cut: ok"
