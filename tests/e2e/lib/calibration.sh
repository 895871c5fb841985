# Shared steps of the remote calibration's end-to-end runs (orvane-sim-field and the field image on
# orvane-emu): the caller defines node_run STATE SECONDS [options...] and sets VANTOR.

# calibration_state DB -> the state of node 0x000001's latest calibration
calibration_state() {
  "$VANTOR" --db "$1" --json calibration 0x000001 | jq -r '.calibration.state'
}

# expect_calibrated DB PF CURRENT: the calibration is done and recorded on the node; the readings
# the node reported since (packets 3 and 5) give on average the known power factor within 0.02 and
# 230 V x current x PF within 3 % of the load's active power. Known limit: a single reading
# scatters with the moment its capture starts in the mains cycle, by up to the node's own accuracy
# (0.017, docs/measurement.md) plus packet 3's steps of 0.01 (half a step), so each one is held to
# that and the average to the promise.
expect_calibrated() {
  local db="$1" pf="$2" current="$3"
  local c
  c=$("$VANTOR" --db "$db" --json calibration 0x000001)
  jq -e --argjson pf "$pf" '.calibration.state == "done" and .calibrated.known_pf == $pf' <<<"$c" >/dev/null ||
    fail "calibration against $pf: $("$VANTOR" --db "$db" calibration 0x000001)"
  "$VANTOR" --db "$db" --json nodes | jq -e --argjson pf "$pf" '.calibration.known_pf == $pf' >/dev/null ||
    fail "the calibration is not recorded on the node: $("$VANTOR" --db "$db" --json nodes)"
  "$VANTOR" --db "$db" --json uplinks 0x000001 --limit 1000 |
    jq -se --argjson pf "$pf" --argjson i "$current" --argjson done "$(jq .calibration.updated_s <<<"$c")" '
      [.[] | select(.verdict == "accepted" and (.code == 3 or .code == 5) and .t_s > $done)] as $r |
      ($r | length) >= 2 and
      (([$r[].power_factor] | add / length) - $pf | fabs) <= 0.02 and
      (([$r[] | 230 * .current_a * .power_factor] | add / length) / (230 * $i * $pf) - 1 | fabs) <= 0.03 and
      all($r[]; (.power_factor - $pf | fabs) <= 0.017 + 0.005 + 1e-9)' >/dev/null ||
    fail "after the calibration against $pf: $("$VANTOR" --db "$db" uplinks 0x000001 --limit 6)"
}

# calibrate_field STATE LOAD PF CURRENT [SPLIT]: a node provisioned under LOAD, calibrated against
# PF within a virtual day; with SPLIT the day is two runs (the Vantor restarts after SPLIT seconds,
# in the middle of the calibration).
calibrate_field() {
  local state="$1" load="$2" pf="$3" current="$4" split="${5:-}"
  local db="$state/vantor.sqlite"
  node_run "$state" 120 --load "$load"
  "$VANTOR" --db "$db" calibrate 0x000001 --known-pf "$pf" >/dev/null || fail "calibrate against $pf"
  if [ -n "$split" ]; then
    node_run "$state" "$split" --load "$load"
    [ "$(calibration_state "$db")" = collecting ] || fail "not collecting after $split s: $(calibration_state "$db")"
    node_run "$state" $((86400 - 120 - split)) --load "$load"
  else
    node_run "$state" $((86400 - 120)) --load "$load"
  fi
  expect_calibrated "$db" "$pf" "$current"
}

# calibrate_silent STATE LOAD: a node that goes out of reach while it collects; when it is heard
# again its calibration has ended with the reason and it is put back: phase and debug rate as they
# were, its power factor the one it reported before.
calibrate_silent() {
  local state="$1" load="$2"
  local db="$state/vantor.sqlite"
  node_run "$state" 120 --load "$load"
  local before
  before=$("$VANTOR" --db "$db" --json nodes | jq -r '.last_telemetry.power_factor')
  "$VANTOR" --db "$db" calibrate 0x000001 --known-pf 0.8 >/dev/null || fail "calibrate (silent)"
  node_run "$state" 14000 --load "$load"
  [ "$(calibration_state "$db")" = collecting ] || fail "not collecting before the silence"
  node_run "$state" 10000 --load "$load" --link-loss 200
  [ "$(calibration_state "$db")" = collecting ] || fail "the Vantor heard nothing, so nothing moved"
  node_run "$state" 10000 --load "$load"
  local c
  c=$("$VANTOR" --db "$db" --json calibration 0x000001)
  jq -e '.calibration.state == "failed" and (.calibration.message | startswith("the node stopped reporting"))' \
    <<<"$c" >/dev/null || fail "the silence did not end it: $c"
  "$VANTOR" --db "$db" --json queue list 0x000001 | jq -se '
    [.[] | "\(.setting) \(.value) \(.state)"] ==
    ["phase 0.5 done", "debug-rate 0 done", "phase 0 done", "debug-rate 100 done"]' >/dev/null ||
    fail "not put back: $("$VANTOR" --db "$db" queue list 0x000001)"
  "$VANTOR" --db "$db" --json nodes |
    jq -e --argjson before "$before" '.last_telemetry.power_factor == $before and .calibration == null' >/dev/null ||
    fail "the node reports otherwise than before: $("$VANTOR" --db "$db" --json nodes)"
}
