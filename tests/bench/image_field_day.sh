#!/usr/bin/env bash
# Benchmark, not a test: a virtual day of the field image on the emulated chip with the Vantor (a
# fresh board, a steady 5 A load, the default 10-minute cycle), next to the same day of
# orvane-sim-field. Prints the wall time of each (the image's must stay within 60 s on the development
# machine), the cycles and uplinks, and the two energy accounts side by side: the image's takes the
# time the core is awake from the cycles its instructions take, the simulator's from its calls into
# the hardware layer.
#   tests/bench/image_field_day.sh build/sim/orvane-emu build/stm32g070/orvane-node-field.elf build/sim/orvane-sim-field
set -euo pipefail
EMU="$1"
IMAGE="$2"
SIM="$3"
VANTOR="$(dirname "$SIM")/vantor"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
day=(--speed 0 --load current=5,pf=0.8 --stop-after 86400 --energy-report)

w0=$(date +%s%N)
"$EMU" --image "$IMAGE" --state "$WORK/emu" "${day[@]}" </dev/null >/dev/null 2>"$WORK/emu.err"
w1=$(date +%s%N)
"$SIM" --state "$WORK/sim" "${day[@]}" </dev/null >/dev/null 2>"$WORK/sim.err"
w2=$(date +%s%N)

uplinks() { "$VANTOR" --db "$1/vantor.sqlite" --json uplinks --limit 100000 | wc -l; }
python3 - "$WORK/emu.err" "$WORK/sim.err" "$(( (w1 - w0) / 1000000 ))" "$(( (w2 - w1) / 1000000 ))" \
  "$(uplinks "$WORK/emu")" "$(uplinks "$WORK/sim")" <<'PY'
import re, sys
def account(path):
    text = open(path).read()
    cycles = int(re.search(r"(\d+) cycles \(starts of the firmware\)", text).group(1))
    average = float(re.search(r"energy: average ([0-9.]+) uA", text).group(1))
    rows = {}
    for line in text.split("\n"):
        m = re.match(r"  (\S.*?)\s{2,}[0-9.]+\s+(?:[0-9.]+\s+)?[0-9.]+\s+([0-9.]+)(?:\s+[0-9.]+ %)?$", line)
        if m:
            rows[m.group(1)] = float(m.group(2))
    return cycles, average, rows
(ce, ae, re_), (cs, as_, rs) = account(sys.argv[1]), account(sys.argv[2])
we, ws = int(sys.argv[3]) / 1000, int(sys.argv[4]) / 1000
print(f"image field day: {we:.1f} s wall for 86400 s virtual ({ce} cycles, {sys.argv[5]} uplinks stored), "
      f"{ae:.2f} uA average" + ("  OVER the 60 s budget" if we > 60 else ""))
print(f"orvane-sim-field day: {ws:.1f} s wall ({cs} cycles, {sys.argv[6]} uplinks stored), {as_:.2f} uA average")
print(f"the image's account: {ae - as_:+.2f} uA ({(ae - as_) / as_ * 100:+.1f} %)")
print(f"{'uC per cycle':28}{'image':>10}{'orvane-sim':>12}{'difference':>12}")
for name in re_:
    print(f"{name:28}{re_[name]:10.1f}{rs.get(name, 0.0):12.1f}{re_[name] - rs.get(name, 0.0):+12.1f}")
PY
