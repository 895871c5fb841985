#!/usr/bin/env bash
# The Vantor's faults during the real flows, and the node recovering once they are gone:
# - a provisioning while the Vantor corrupts or answers late: the node applies nothing it should
#   not, keeps asking, and ends provisioned with the identity and key the Vantor holds;
# - a setting that changed nothing in flash (a transmit power, kept in the RTC domain), replayed
#   by the Vantor in the node's later windows, also after a power cut and a reset: never applied or
#   answered again;
# - a record lost to a commit that failed half-way, the node provisioned again with the same
#   identity and key: the setting of that commit, replayed, is not taken;
# - a silent Vantor over several cycles: nothing sent, the setting waits, then goes out.
source "$(dirname "$0")/lib/common.sh"
VANTOR="$(dirname "$SIM")/vantor"

# fault during the first 25 s of virtual time | the node's line that shows the fault met it
cases=(
  "corrupt@0-25000|LoRa RX: P13 decode failed reason="
  "late@0-25000|provision attempt 2 "
)
for c in "${cases[@]}"; do
  IFS='|' read -r fault line <<<"$c"
  s="$WORK/prov-${fault%%@*}"
  out=$(printf 'provision\nhelp\n' | run_sim "$s" --vantor-fault "$fault") || fail "$fault: exit status"
  expect_contains "$out" "$line" "$fault"
  expect_contains "$out" "ok: provision done (uid 0x000001, config.ok yes)" "$fault: provisioned"
  [ "$(count_of "$out" "ok: help")" = 2 ] || fail "$fault: the next command"
  node=$("$VANTOR" --db "$s/vantor.sqlite" --json nodes)
  [ "$(jq -r '.state' <<<"$node")" = confirmed ] || fail "$fault: $node"
  # The key the node holds is the one the Vantor gave.
  key=$(printf 'print prov\n' | run_sim "$s" | grep -m1 '^HMAC key (hex): ' | awk '{print $NF}')
  "$VANTOR" --db "$s/vantor.sqlite" export | grep -q ",$key,confirmed$" || fail "$fault: the key differs"
done

# The replayed setting.
s="$WORK/replay"
db=(--db "$s/vantor.sqlite")
item() { "$VANTOR" "${db[@]}" --json queue list | jq -r "select(.id == $1) | \"\(.state) \(.reason) \(.attempts)\""; }
out=$(run_sim "$s" <<<'provision')
expect_contains "$out" "ok: provision done" "provision"
"$VANTOR" "${db[@]}" queue add 0x000001 tx-power 5 >/dev/null
out=$(run_sim "$s" <<<'tx p5')
expect_contains "$out" "RX14 SET_TxPowerDbm: txPowerDbm 0 -> 5 dBm (RTC)" "applied"
[ "$(item 1)" = "done Applied 1" ] || fail "item 1: $(item 1)"
out=$(printf 'tx p5\n\001p\ntx p5\nreset\ntx p5\nhelp\n' |
  run_sim "$s" --vantor-fault replay --air-log "$WORK/replay.jsonl" 2>/dev/null) || fail "exit status (replay)"
[ "$(count_of "$out" "Payload (RX packet 14):")" = 3 ] || fail "three replays reach the node"
! grep -q 'RX14 SET_TxPowerDbm' <<<"$out" || fail "a replayed setting was applied"
[ "$(jq -r 'select(.sender == "node") | .hex[0:2]' "$WORK/replay.jsonl" | sort -u)" = "05" ] ||
  fail "a replayed setting was answered"
# One "ok: help" at each of the three starts, one for the command.
[ "$(count_of "$out" "ok: help")" = 4 ] || fail "replay: the next command"
# The fault gone: the next setting goes out at once.
"$VANTOR" "${db[@]}" queue add 0x000001 debug-rate 9 >/dev/null
out=$(run_sim "$s" <<<'tx p5')
expect_contains "$out" "LoRa RX: applied RXPacket14 (opcode=0x0003), acked" "after the replays"
[ "$(item 2)" = "done Applied 1" ] || fail "item 2: $(item 2)"

# A commit that fails half-way loses the record; the Vantor provisions the node again with the same
# identity and key, then replays the setting whose commit failed: stale, not taken.
"$VANTOR" "${db[@]}" queue add 0x000001 phase 0.75 >/dev/null
out=$(run_sim "$s" --flash-fail-program 5 <<<'tx p5')
expect_contains "$out" "RX14 SET_PhaseShift: inductive50HzPhaseCorrection 0.0000 -> 0.7500 rad, committing flash" "commit"
[ "$(item 3)" = "failed CommitFailed 1" ] || fail "failed commit: $(item 3)"
out=$(printf 'info\nprovision\n' | run_sim "$s")
grep -qE '^  config.ok +\| +NO$' <<<"$out" || fail "the record was not lost"
expect_contains "$out" "ok: provision done (uid 0x000001, config.ok yes)" "provisioned again"
out=$(printf 'tx p5\nprint prov\n' | run_sim "$s" --vantor-fault replay)
expect_contains "$out" "Payload (RX packet 14):" "the replayed frame reaches the node"
! grep -q 'RX14 SET_PhaseShift' <<<"$out" || fail "the setting whose commit failed was taken after the new provisioning"
expect_contains "$out" "Phase correction: 0.0000 rad" "phase after the replay"

# Silent over four cycles, then the fault is gone.
"$VANTOR" "${db[@]}" queue add 0x000001 phase 0.25 >/dev/null
silent_to=$(($(cat "$s/clock") / 1000 + 60000))
out=$(printf 'tx p5\ntx p5\ntx p5\ntx p5\n' | run_sim "$s" --vantor-fault "silent@0-$silent_to")
[ "$(grep -cE '^  outcome +\| +timeout$' <<<"$out")" = 4 ] || fail "silent: four windows without a frame"
[ "$(item 4)" = "pending null 0" ] || fail "silent: $(item 4)"
out=$(printf 'sleep 60\ntx p5\n' | run_sim "$s" --vantor-fault "silent@0-$silent_to" 2>/dev/null)
expect_contains "$out" "RX14 SET_PhaseShift: inductive50HzPhaseCorrection 0.0000 -> 0.2500 rad, committing flash" \
  "after the silence"
[ "$(item 4)" = "done Applied 1" ] || fail "item 4: $(item 4)"
echo "vantor_faults_flows: ok"
