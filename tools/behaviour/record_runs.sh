#!/usr/bin/env bash
# Records what the node shows of itself in a fixed set of runs of both simulators: every console
# transcript, the air logs, the event logs, VCD traces, energy reports, the state folders and the
# Vantor's registry. Two builds that behave the same give identical folders:
#
#   tools/behaviour/record_runs.sh BUILD_A/sim OUT_A
#   tools/behaviour/record_runs.sh BUILD_B/sim OUT_B
#   diff -r OUT_A OUT_B
#
# Build both from trees without git metadata (git archive) and with the same SOURCE_DATE_EPOCH:
# the build identity is in the banner and in packet 8.
set -euo pipefail
bin="$(cd "$1" && pwd)"
out="$2"
rm -rf "$out"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
sim="$bin/orvane-sim"
field="$bin/orvane-sim-field"
vantor="$bin/vantor"
frame="$bin/tests/downlink_frame"

# run NAME PROGRAM [options...] < input: transcript, stderr and records of one run in OUT/NAME
# (the board's state folder there too, or STATE).
run() {
  local name="$1" program="$2"
  shift 2
  local dir="$out/$name"
  mkdir -p "$dir"
  set +e
  "$program" --speed 0 --state "${STATE:-$dir/state}" --air-log "$dir/air.jsonl" --events "$dir/events.jsonl" \
    --vcd "$dir/trace.vcd" "$@" >"$dir/console.txt" 2>"$dir/stderr.txt"
  echo "exit $?" >"$dir/status"
  set -e
}

# registry NAME [STATE]: the Vantor's view in OUT/NAME (nodes, uplinks, queue).
registry() {
  local db=(--db "${2:-$out/$1/state}/vantor.sqlite")
  {
    "$vantor" "${db[@]}" --json nodes || true
    "$vantor" "${db[@]}" --json uplinks --limit 100000 || true
    "$vantor" "${db[@]}" --json queue list || true
  } >"$out/$1/registry.jsonl" 2>&1
}

# 1. Every shell command on a fresh board with a load (the session of the shell transcript test).
run shell "$sim" --load current=5,pf=0.8,ephase=-8.49 --chip-id 00112233445566778899AABB \
  <"$(dirname "$0")/../../tests/e2e/shell_session.txt"

# 2. On the air with the Vantor: provisioning, the production cycle, every packet, windows, a
# queued setting of each kind, a raw frame, standby and its wake-up, a reset.
run air "$sim" --load current=5,pf=0.8 --seed 7 <<'EOF'
provision
sample
tx
tx debug
tx p3
tx p7
tx p8
tx p9
tx p10
tx p4
tx p5
tx p5 300
tx raw 0102030405
tx raw -n AABB
rx 200
print prov
sleep 3
print rtc
reset
tx
EOF
registry air
for setting in "phase 0.5" "debug-rate 3" "sleep 120 force-rx" "tx-power 7" "dbg1"; do
  # shellcheck disable=SC2086
  "$vantor" --db "$out/air/state/vantor.sqlite" queue add 0x000001 $setting >>"$out/air/queue.txt" 2>&1
done
STATE="$out/air/state" run air-settings "$sim" --load current=12,pf=0.6,lead=1 --seed 7 <<'EOF'
tx p5
print prov
tx
reset
print prov
EOF
registry air-settings "$out/air/state"

# 3. Frames from the scripted transmitter: downlinks built with the node's encoders, corrupt and
# foreign frames, an interferer on the channel, a lossy link.
mkdir -p "$out/script"
key=00112233445566778899AABBCCDDEEFF
{
  # Settings for 0x00ABCD (phase 0.25 as float bits in the last argument, then a debug rate twice),
  # a corrupt frame, a bad header, and a setting for another node.
  echo "in_rx_ms=50 data=$("$frame" p14 $key 00ABCD 1 2 0 0 0 0 0 0 0 0x3E800000)"
  echo "after_ms=600 data=$("$frame" p14 $key 00ABCD 2 3 9)"
  echo "after_ms=600 data=$("$frame" p14 $key 00ABCD 2 3 9)"
  echo "after_ms=600 data=0D0102 crc=bad"
  echo "after_ms=300 data=0D0102 header=bad"
  echo "after_ms=300 data=$("$frame" p14 $key 00ABCE 3 3 4)"
} >"$out/script/frames.txt" 2>&1 || true
run script "$sim" --no-vantor --air-script "$out/script/frames.txt" --interferer -90:20:180 --link-loss 95 <<'EOF'
set uid 0x00ABCD
set hmacHash 00112233445566778899AABBCCDDEEFF
save
tx p5 3000
rx 2000
print prov
tx
EOF

# 4. Transceiver and flash faults.
run radio-faults "$sim" --no-vantor --radio-fault spi-error=3 --radio-fault busy-stuck-after-command@4000 <<'EOF'
radio on
tx p3
pin lora off
radio on
tx
EOF
run radio-absent "$sim" --no-vantor --radio-fault absent <<'EOF'
radio on
tx
EOF
run flash-faults "$sim" --flash-fail-program 3 <<'EOF'
set uid 0x1234
save
print prov
save
EOF
run power-cut "$sim" --flash-power-cut 5 <<'EOF'
set uid 0x1234
save
print prov
save
print prov
EOF

# 5. The field build: a virtual day with the Vantor from a fresh board, and one with the button
# held and no Vantor.
run field-day "$field" --load current=5,pf=0.8 --stop-after 86400 --energy-report </dev/null
registry field-day
run field-button "$field" --no-vantor --button-held --stop-after 900 --energy-report </dev/null

# The state folders hold the Vantor's database (binary, compared through the registry above) and
# the run's carry-over: keep the board's own files.
find "$out" -name 'vantor.sqlite*' -delete
echo "recorded in $out"
