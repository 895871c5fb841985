#!/usr/bin/env bash
# Benchmark, not a test: a virtual day of a provisioned node with the Vantor answering. 144 cycles
# of "sample", "tx" (the debug group every 10th, a receive window every cycle) and "sleep 600",
# with a phase setting queued every 12 cycles through the CLI while the simulation runs.
# Prints the wall time and the ratio of virtual to wall time.
#   tests/bench/vantor_day.sh build/sim/orvane-sim
set -euo pipefail
SIM="$1"
VANTOR="$(dirname "$SIM")/vantor"
WORK="$(mktemp -d)"
trap 'exec 3>&- 2>/dev/null || true; rm -rf "$WORK"' EXIT
s="$WORK/s"
db=(--db "$s/vantor.sqlite")

mkfifo "$WORK/in"
"$SIM" --speed 0 --state "$s" --load current=5,pf=0.8 <"$WORK/in" >"$WORK/out.txt" 2>"$WORK/err.txt" &
sim_pid=$!
exec 3>"$WORK/in"
count() { tr -d '\r' <"$WORK/out.txt" | grep -c "$1" || true; }
wait_for() {  # pattern, count
  while [ "$(count "$1")" -lt "$2" ]; do
    kill -0 "$sim_pid" 2>/dev/null || { echo "orvane-sim ended early" >&2; tail "$WORK/out.txt" >&2; exit 1; }
    sleep 0.01
  done
}

# Provisioning, then one window to deliver the day's settings: forced receive window every cycle
# and the debug group every 10th.
printf 'provision\n' >&3
wait_for '^ok: provision done' 1
"$VANTOR" "${db[@]}" queue add 0x000001 sleep 600 force-rx >/dev/null
"$VANTOR" "${db[@]}" queue add 0x000001 debug-rate 10 >/dev/null
printf 'tx p5\n' >&3
wait_for '^  outcome ' 1
[ "$("$VANTOR" "${db[@]}" --json queue list | jq -s '[.[] | select(.state == "done")] | length')" = 2 ] ||
  { echo "the day's settings were not delivered" >&2; exit 1; }

v0=$("$VANTOR" "${db[@]}" --json uplinks --limit 1 | jq '.t_s * 1e6 | floor')  # virtual time of the day's start
w0=$(date +%s%N)
for block in $(seq 0 11); do
  "$VANTOR" "${db[@]}" queue add 0x000001 phase "0.$((block + 1))" >/dev/null
  for i in $(seq 1 12); do printf 'sample\ntx\nsleep 600\n' >&3; done
  wait_for '^ok: tx done' $(( (block + 1) * 12 ))
done
exec 3>&-
wait "$sim_pid"
w1=$(date +%s%N)
v1=$(cat "$s/clock")

cycles=$(count '^ok: tx done')
settings=$("$VANTOR" "${db[@]}" --json queue list | jq -s '[.[] | select(.setting == "phase" and .state == "done")] | length')
stored=$("$VANTOR" "${db[@]}" --json uplinks --limit 100000 | wc -l)
debug=$("$VANTOR" "${db[@]}" --json uplinks --limit 100000 | jq -s '[.[] | select(.code == 7)] | length')
awk -v c="$cycles" -v v0="$v0" -v v1="$v1" -v w0="$w0" -v w1="$w1" -v s="$settings" -v n="$stored" -v d="$debug" 'BEGIN {
  virt = (v1 - v0) / 1e6; wall = (w1 - w0) / 1e9
  printf "vantor day: %d cycles, %.0f s virtual (%.2f h) in %.2f s wall: %.0f x real time\n", c, virt, virt / 3600, wall, virt / wall
  printf "vantor day: %d uplinks stored, %d debug groups, %d of 12 phase settings applied\n", n, d, s
}'
