#!/usr/bin/env bash
# The energy account of two field cycles (a provisioned board after a reset: a full reading, the
# debug group and packet 3, standby for 600 s; then a quiet cycle, the run ended by --stop-after in
# its standby), across the restart of the wake-up, against a hand computation: the times from the
# VCD trace, the event log and the frames' time on air by the published formula, the currents from
# docs/energy.md, the average and the battery life from those.
source "$(dirname "$0")/lib/common.sh"
FIELD="$(dirname "$SIM")/orvane-sim-field"
LIB="$(dirname "$0")/lib"

printf 'set uid 0x12AB\nset hmacHash 00112233445566778899AABBCCDDEEFF\nsave\n' | run_sim "$WORK/s" >/dev/null 2>&1 ||
  fail "provisioning by the shell"
"$FIELD" --speed 0 --state "$WORK/s" --no-vantor --load current=5,pf=0.8 --stop-after 700 --energy-report \
  --events "$WORK/ev.jsonl" --vcd "$WORK/trace.vcd" --air-log "$WORK/air.jsonl" </dev/null >"$WORK/out" \
  2>"$WORK/err" || fail "exit status"
grep -q "field: transmitting: new reading" "$WORK/out" || fail "no cycle"
grep -q "^energy account: 700.000 s of virtual time, 2 cycles" "$WORK/err" || fail "$(head -1 "$WORK/err")"
PYTHONPATH="$LIB" python3 "$LIB/check_energy.py" "$(dirname "$0")/../../docs/energy.md" "$WORK/err" \
  "$WORK/ev.jsonl" "$WORK/trace.vcd" "$WORK/air.jsonl" || { cat "$WORK/err" >&2; fail "account differs"; }
echo "energy account of two cycles: ok"
