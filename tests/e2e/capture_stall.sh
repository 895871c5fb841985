#!/usr/bin/env bash
# A capture whose DMA transfer stalls (--adc-stall): it is taken once more; with no whole capture the
# shell prints an error instead of the tables and the field build sends nothing, so no frame carries
# a value computed from part of a capture. A stall of the first capture only costs the retry.
source "$(dirname "$0")/lib/common.sh"
FIELD="$(dirname "$SIM")/orvane-sim-field"
bench() { run_sim "$@"; }
field() { "$FIELD" --speed 0 --state "$1" --air-log "$1.air" --load current=5 --stop-after 700 "${@:2}" </dev/null 2>/dev/null | tr -d '\r'; }
source "$(dirname "$0")/lib/capture_stall_checks.sh"

# Values the option refuses: a row beyond the capture's 231, no rows, no or a zero count.
for bad in 231 -1 x1 25x 25x0 25x1x 2.5; do
  "$SIM" --state "$WORK/bad" --adc-stall "$bad" </dev/null >/dev/null 2>"$WORK/err" && fail "--adc-stall $bad accepted"
  grep -q 'adc-stall takes ROWS' "$WORK/err" || fail "--adc-stall $bad: no message"
done
echo "capture stall: ok"
