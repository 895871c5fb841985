#!/usr/bin/env bash
# The capacity study of docs/fleet.md: fleets of field-build nodes and one Vantor on one channel,
# their reports and the pictures drawn from them (with the Vantor's plotting code).
#   tests/bench/fleet_study.sh BUILD_SIM OUT [BEFORE_BUILD_SIM]
# BUILD_SIM holds orvane-fleet, orvane-fleet-chart and the programs they start; a BEFORE build
# (the firmware before a change) adds its storm beside the current one. Each run keeps its
# report.json in OUT/NAME/; the pictures go to OUT/*.svg. Long: hours of CPU for the largest fleets.
# STUDY_SIZES and STORM_SIZES override the numbers of nodes.
set -euo pipefail
BIN="$(cd "$1" && pwd)"
OUT="$2"
BEFORE="${3:+$(cd "$3" && pwd)}"
mkdir -p "$OUT"
OUT="$(cd "$OUT" && pwd)"
SIZES=(${STUDY_SIZES:-10 30 100 300 1000})
STORMS=(${STORM_SIZES:-10 30 100})
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# run BIN NAME orvane-fleet options...: the report of one fleet, kept in OUT/NAME (not run again
# when it is there).
run() {
  local bin="$1" name="$2"
  shift 2
  [ -s "$OUT/$name/report.json" ] && return 0
  rm -rf "$WORK/run"
  echo "fleet study: $name" >&2
  nice -n 19 "$bin/orvane-fleet" --dir "$WORK/run" --quiet "$@"
  mkdir -p "$OUT/$name"
  cp "$WORK/run/report.json" "$OUT/$name/"
}

# 1. Capacity at the 10-minute cycle: every node reports each cycle (the Vantor gives each node it
# confirms "sleep 600 force-rx": a full reading, packet 5 and its window every cycle, the debug group
# every tenth). Powered on over the first cycle; a node takes the setting in its first receive window
# (its first sign of life, within the hour after it was confirmed), so the study measures from 1.5 h on.
capacity=()
for n in "${SIZES[@]}"; do
  run "$BIN" "capacity-$n" --nodes "$n" --stop-after 14400 --power-on spread --setting "sleep 600 force-rx" \
    --measure-from 5400
  capacity+=("$OUT/capacity-$n/report.json")
done
"$BIN/orvane-fleet-chart" capacity --svg "$OUT/capacity.svg" "${capacity[@]}"

# 2. Provisioning storm: fresh nodes powered on together, until all are confirmed (six hours at most).
storm=()
for n in "${STORMS[@]}"; do
  run "$BIN" "storm-$n" --nodes "$n" --stop-after 21600 --power-on together
  storm+=("backoff=$OUT/storm-$n/report.json")
  if [ -n "$BEFORE" ]; then
    run "$BEFORE" "storm-before-$n" --nodes "$n" --stop-after 21600 --power-on together
    storm+=("before=$OUT/storm-before-$n/report.json")
  fi
done
"$BIN/orvane-fleet-chart" storm --svg "$OUT/storm.svg" "${storm[@]}"

# 3. Outage: provisioned nodes reporting every cycle, every supply cut together at 3 h, for 6 h more.
run "$BIN" "outage-100" --nodes 100 --stop-after 32400 --power-on spread --setting "sleep 600 force-rx" \
  --outage-at 10800
"$BIN/orvane-fleet-chart" hourly --svg "$OUT/outage.svg" "100 nodes, outage at 3 h=$OUT/outage-100/report.json"
echo "fleet study: $OUT" >&2
