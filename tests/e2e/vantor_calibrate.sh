#!/usr/bin/env bash
# The Vantor calibrates a field node's phase correction from its frames (vantor calibrate): at PF
# 0.8 the node then reports 0.80 and the active power, against a resistive load 1.00, within a
# virtual day, also when the Vantor restarts in the middle; a node that goes silent ends its
# calibration with the reason and is put back. The command's errors and its cancel.
source "$(dirname "$0")/lib/common.sh"
FIELD="$(dirname "$SIM")/orvane-sim-field"
VANTOR="$(dirname "$SIM")/vantor"
source "$(dirname "$0")/lib/calibration.sh"
node_run() {
  local state="$1" seconds="$2"
  shift 2
  "$FIELD" --speed 0 --state "$state" --stop-after "$seconds" "$@" </dev/null >/dev/null 2>&1 || fail "field run"
}

calibrate_field "$WORK/a" current=8,pf=0.8 0.8 8 30000
calibrate_field "$WORK/b" current=8,pf=1 1 8
calibrate_silent "$WORK/c" current=8,pf=1

# Errors: usage (2) before the database, refusals (1) from it; one calibration at a time; cancel.
db=(--db "$WORK/b/vantor.sqlite")
while IFS='|' read -r code expected args; do
  # shellcheck disable=SC2086
  out=$("$VANTOR" "${db[@]}" $args 2>&1) && rc=0 || rc=$?
  [ "$rc" = "$code" ] || fail "$args: exit $rc, not $code: $out"
  expect_contains "$out" "$expected" "$args"
done <<'CASES'
2|known-pf takes the load's power factor, above 0 and at most 1|calibrate 0x000001 --known-pf 0
2|known-pf takes the load's power factor, above 0 and at most 1|calibrate 0x000001 --known-pf 1.2
2|readings takes 4..256 (default 16)|calibrate 0x000001 --known-pf 1 --readings 3
2|bad node 'xyz': an identity in hex, 0x000001 to 0xFFFFFF|calibrate xyz --known-pf 1
2|--known-pf is required|calibrate 0x000001
0|node 0x000001: calibrated at|calibration 0x000001
1|no node 0x000002 in the registry|calibrate 0x000002 --known-pf 1
1|no calibration of 0x000001 in progress|calibration 0x000001 --cancel
0|calibrating 0x000001 against power factor 0.90 (leading), 8 readings: start value 0.5 rad|calibrate 0x000001 --known-pf 0.9 --leading --readings 8
1|a calibration of 0x000001 is in progress (setting-up): cancel it first|calibrate 0x000001 --known-pf 1
0|cancelled the calibration of 0x000001: cancelled; correction|calibration 0x000001 --cancel
0|calibration #2: cancelled (against power factor 0.90 (leading), 8 readings|calibration 0x000001
CASES
echo "vantor_calibrate: ok"
