#!/usr/bin/env bash
# The image with the Vantor on the air: "provision" gets the node an identity and a key (packets 10,
# 13 assign and confirm), kept on its flash page; a setting queued at the Vantor goes out in the
# receive window after packet 5, the image applies it and answers with packet 17, and the Vantor
# records it done.
source "$(dirname "$0")/lib.sh"

printf 'provision\n' | run_emu "$WORK/s" --load current=5,pf=0.8 --air-log "$WORK/air" >"$WORK/out" 2>/dev/null ||
  fail "provision: exit status"
expect_contains "$(cat "$WORK/out")" "ok: provision done (uid 0x000001, config.ok yes)" "provision"
nodes=$("$VANTOR" --db "$WORK/s/vantor.sqlite" nodes)
grep -Eq '^0x000001 .* confirmed ' <<<"$nodes" || fail "the Vantor does not hold the node confirmed: $nodes"

"$VANTOR" --db "$WORK/s/vantor.sqlite" queue add 0x000001 phase 0.5 >/dev/null || fail "queue add"
printf 'tx p5\nprint prov\n' | run_emu "$WORK/s" --load current=5,pf=0.8 --air-log "$WORK/air" >"$WORK/out" 2>/dev/null ||
  fail "tx p5: exit status"
out=$(cat "$WORK/out")
expect_contains "$out" "applied RXPacket14" "the remote setting"
expect_contains "$out" "acked" "the remote setting's answer"
queue=$("$VANTOR" --db "$WORK/s/vantor.sqlite" queue list 0x000001)
grep -Eq '^1 +0x000001 +phase +0.5 +done +Applied' <<<"$queue" || fail "the setting is not done at the Vantor: $queue"
echo PASS
