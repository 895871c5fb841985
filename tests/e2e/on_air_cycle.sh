#!/usr/bin/env bash
# The production cycle on the air: after "set uid", "set hmacHash", "save" and "sample", "tx" puts
# the debug group (the board started with a pin reset: packet 8 twice, packet 4 as three frames,
# packet 7) and packet 3 on the air. Every frame is read back from the air log independently of the
# firmware (lib/check_cycle.py): layout, tag under the configured key, time on air by the published
# formula, and values against what the node printed.
source "$(dirname "$0")/lib/common.sh"

session='set uid 0x12AB
set hmacHash 00112233445566778899AABBCCDDEEFF
save
sample
print vref
print power
print adc
print prov
tx
'
printf '%s' "$session" | run_sim "$WORK/s" --air-log "$WORK/air.jsonl" --load current=5,pf=0.8 \
  --chip-id 00112233445566778899AABB >"$WORK/out" || fail "exit status"
grep -q '^ok: tx done$' "$WORK/out" || fail "no closing line"
python3 "$(dirname "$0")/lib/check_cycle.py" "$WORK/air.jsonl" "$WORK/out" || fail "frames differ from the node's account"
echo "production cycle on the air: ok"
