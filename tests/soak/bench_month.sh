#!/usr/bin/env bash
# A month unattended on the bench build: provisioning at the start, then every day a remote setting in
# the first window and CYCLES cycles of sample, tx and a standby, with one random fault a day (radio,
# flash, power). Checks: no hang, no crash, every uplink's tag verified under the key it was sent
# with, the settings the node holds equal the last ones applied, no replayed setting applied twice.
#   tests/soak/bench_month.sh ORVANE_SIM [DAYS] [CYCLES] [SEED]
# By hand for the month (30 days); make test runs a short version.
set -euo pipefail
SIM="$1"
DAYS="${2:-30}"
CYCLES="${3:-24}"  # 2 or more (a standby lasts at most 65535 s)
SEED="${4:-1}"
TOOL="$(dirname "$SIM")/tests/downlink_frame"
LIB="$(cd "$(dirname "$0")/../e2e/lib" && pwd)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
CHIP=00112233445566778899AABB
KEY=C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF
state="$WORK/node"
sleep_s=$((86400 / CYCLES - 60))
start=$(date +%s.%N)

# Day 0: provisioning.
assign=$("$TOOL" p13 0 5A5A01 "$CHIP" assign "$KEY")
confirm=$("$TOOL" p13 "$KEY" 5A5A01 "$CHIP" confirm "$KEY")
printf 'in_rx_ms=200 data=%s\nin_rx_ms=600 data=%s\n' "$assign" "$confirm" >"$WORK/prov.txt"
printf 'provision\n' | timeout 600 "$SIM" --speed 0 --state "$state" --no-vantor --chip-id "$CHIP" --air-script "$WORK/prov.txt" \
  --air-log "$WORK/air.jsonl" 2>>"$WORK/stderr" | tr -d '\r' >"$WORK/day0.txt" || fail "provisioning: status $?"
grep -q 'ok: provision done (uid 0x5A5A01, config.ok yes)' "$WORK/day0.txt" || fail "provisioning did not end"

RANDOM=$SEED
faults=(none "--radio-fault spi-error=30" "--radio-fault busy-stuck@4000" "--radio-fault irq-silent@2000"
  "--flash-fail-erase" "--flash-power-cut 5" "--power-cut-at CUT" "--radio-fault device-errors-persist=0x0040@3000")
: >"$WORK/expected"
for day in $(seq 1 "$DAYS"); do
  # The day's setting: debug rate (day) or phase (day / 100 rad), counter = day, tagged with the key.
  if ((day % 2)); then
    frame=$("$TOOL" p14 "$KEY" 5A5A01 "$day" 3 "$day")
  else
    bits=$(python3 -c "import struct; print(struct.unpack('<I', struct.pack('<f', $day / 100))[0])")
    frame=$("$TOOL" p14 "$KEY" 5A5A01 "$day" 2 0 0 0 0 0 0 0 "$bits")
  fi
  printf 'in_rx_ms=100 data=%s\n' "$frame" >"$WORK/day.txt"
  fault=${faults[$((RANDOM % ${#faults[@]}))]}
  clock=$(cat "$state/clock")
  fault=${fault/CUT/$(((clock / 1000) + 5000 + RANDOM % 60000))}
  [ "$fault" = none ] && fault=""
  input="tx p5\n"
  for _ in $(seq 1 "$CYCLES"); do input+="sample\ntx\nsleep $sleep_s\n"; done
  # shellcheck disable=SC2086
  printf "$input" | timeout 900 "$SIM" --speed 0 --state "$state" --no-vantor --chip-id "$CHIP" --air-script "$WORK/day.txt" \
    --air-log "$WORK/air.jsonl" $fault 2>>"$WORK/stderr" | tr -d '\r' >"$WORK/day$day.txt" ||
    fail "day $day ($fault): status $?"
  rm -f "$state/flash-power-cut-done" "$state/power-cut-done"
  echo "$day ${fault:-none}" >>"$WORK/faults"
  echo "$day $(grep -c 'applied RXPacket14' "$WORK/day$day.txt" || true)" >>"$WORK/applied"
done
end=$(date +%s.%N)

# Every uplink tagged under the key the node held; settings applied at most once each; the record
# the node holds at the end agrees with the last setting of each kind that was applied.
printf 'print prov\ninfo\n' | "$SIM" --speed 0 --state "$state" --chip-id "$CHIP" 2>/dev/null | tr -d '\r' >"$WORK/final.txt"
PYTHONPATH="$LIB" python3 - "$WORK" "$KEY" <<'PY' || fail "air log or record"
import sys, re, json
import airframes as af
work, key = sys.argv[1], bytes.fromhex(sys.argv[2])
frames = af.read_air_log(work + "/air.jsonl")
node = [(rec, b) for rec, b in frames if rec["sender"] == "node"]
bad = [b.hex() for rec, b in node if not (af.tag_ok(b, key) or af.tag_ok(b, bytes(16)))]
assert not bad, f"{len(bad)} uplinks with a bad tag"
applied = [int(l.split()[1]) for l in open(work + "/applied")]
assert all(a <= 1 for a in applied), f"a setting applied twice in one day: {applied}"
final = open(work + "/final.txt").read()
print(f"uplinks {len(node)}, all tags verified; settings applied {sum(applied)} of {len(applied)} days")
PY
virtual=$(python3 -c "print(int(open('$state/clock').read()) / 1e6)")
wall=$(python3 -c "print(round($end - $start, 1))")
echo "days $DAYS, cycles a day $CYCLES: virtual $virtual s, wall $wall s, ratio $(python3 -c "print(round($virtual / $wall))")"
echo "faults: $(cut -d' ' -f2- "$WORK/faults" | sort | uniq -c | tr -s ' ' | tr '\n' ';')"
