#!/usr/bin/env bash
# Benchmark, not a test: a virtual month (30 days) of the field build with the Vantor, as fast as
# the host runs it (--speed 0): provisioning over the air, then a cycle every 10 minutes under a
# steady load. Prints the wall time, the ratio of virtual to wall time and what the Vantor stored.
#   tests/bench/field_month.sh build/sim/orvane-sim-field
set -euo pipefail
FIELD="$1"
VANTOR="$(dirname "$FIELD")/vantor"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
s="$WORK/s"
days=30

w0=$(date +%s%N)
"$FIELD" --speed 0 --state "$s" --load current=5,pf=0.8 --stop-after $((days * 86400)) --energy-report \
  </dev/null >"$WORK/out.txt" 2>"$WORK/err.txt"
w1=$(date +%s%N)

cycles=$(grep -c "field: standby" "$WORK/out.txt" || true)
sent=$(grep -c "field: transmitting" "$WORK/out.txt" || true)
stored=$("$VANTOR" --db "$s/vantor.sqlite" --json uplinks --limit 1000000 | wc -l)
energy=$(tail -1 "$WORK/err.txt")
awk -v d="$days" -v w0="$w0" -v w1="$w1" -v c="$cycles" -v t="$sent" -v n="$stored" -v e="$energy" 'BEGIN {
  wall = (w1 - w0) / 1e9
  printf "field month: %d days virtual, %d cycles (%d transmitting) in %.1f s wall: %.0f x real time\n", d, c, t, wall, d * 86400 / wall
  printf "field month: %d uplinks stored by the Vantor; %s\n", n, e
}'
