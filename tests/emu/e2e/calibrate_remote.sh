#!/usr/bin/env bash
# The Vantor calibrates the field image's phase correction from its frames, the image's own code
# applying the settings: at PF 0.8 (the Vantor restarting in the middle) and on a resistive load
# the node then reports the known power factor and the active power (tests/e2e/vantor_calibrate.sh
# on orvane-sim-field).
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../../e2e/lib/calibration.sh"
node_run() {
  local state="$1" seconds="$2"
  shift 2
  "$EMU" --speed 0 --state "$state" --image "$FIELD_IMAGE" --stop-after "$seconds" "$@" </dev/null >/dev/null 2>&1 ||
    fail "field image run"
}

calibrate_field "$WORK/a" current=8,pf=0.8 0.8 8 30000
calibrate_field "$WORK/b" current=8,pf=1 1 8
echo PASS
