#!/usr/bin/env bash
# The image on the emulated chip and orvane-sim, the same firmware on the same simulated world, tell
# the same story:
# 1. The shell session of the transcript test (tests/e2e/shell_session.txt) gives the same console
#    text line for line, except the lines named below, whose figures depend on the time things
#    take: the emulated core spends the cycles each instruction takes, the simulated board a
#    microsecond per call into its hardware layer, so a capture starts at another point of the mains
#    cycle, and wake-up times and listening times differ.
# 2. For one scenario on the air with the Vantor (no load on the conductor: what the node measures
#    then does not depend on when it measures), every frame on the air has the same bytes and the
#    Vantor stores the same uplinks. The one exception is named too: packet 8 carries the build
#    identity of the program that sent it (its revision and build time), which two builds
#    made at different times do not share, and with it its tag.
source "$(dirname "$0")/lib.sh"
tests_dir="$(cd "$(dirname "$0")/../.." && pwd)"

world=(--load current=5,pf=0.8,ephase=-8.49 --chip-id 00112233445566778899AABB)
"$SIM" --speed 0 --state "$WORK/sim" "${world[@]}" <"$tests_dir/e2e/shell_session.txt" 2>/dev/null | tr -d '\r' >"$WORK/sim.txt"
run_emu "$WORK/emu" "${world[@]}" <"$tests_dir/e2e/shell_session.txt" 2>/dev/null >"$WORK/emu.txt"

python3 - "$WORK/sim.txt" "$WORK/emu.txt" <<'PY' || fail "the shell session's transcripts differ"
import re, sys
# Lines allowed to differ, and why: both transcripts' lines must be of the same kind.
NAMED = {
    "the build identity of each program": r"git rev: [0-9a-f]{7}  dirty: \w+  built: \S+",
    "a reading's figures (the capture's start in the mains cycle)": (
        r"  (average \(counts\)|rmsRaw \(counts\)|rmsV \(V\)|phase \(rad\)|phase \(deg\)|magnitude|"
        r"active power \(W @ 230V\)|power factor|current raw \(A\)|current corrected \(A\)|B phase corrected|"
        r"phase shift \(rad\)|phase shift \(deg\)) +\|.*"),
    "the reading's log lines": (
        r"(high power read .* W|Measure \w+: N=.*|  phaseOk=.*|MEASURE_CSV,.*|POWER_CSV,.*|"
        r"  phaseRad B=.*|  IOriginal=.*|  power_2: PF=.*)"),
    "the capture's extremes": r"  (Bfield|EfieldInd|EFieldCap) +\| +-?\d+ / -?\d+ \| +-?\d+ / -?\d+",
    "the capture's rows": r" *\d+( +-?\d+ \( *-?\d+\)){5}",
}
a = open(sys.argv[1]).read().split("\n")
b = open(sys.argv[2]).read().split("\n")
if len(a) != len(b):
    sys.exit(f"{len(a)} lines from orvane-sim, {len(b)} from the image")
kinds = {}
for n, (x, y) in enumerate(zip(a, b), 1):
    if x == y:
        continue
    kind = next((k for k, p in NAMED.items() if re.fullmatch(p, x) and re.fullmatch(p, y)), None)
    if kind is None:
        sys.exit(f"line {n}:\n  orvane-sim: {x}\n  the image:  {y}")
    kinds[kind] = kinds.get(kind, 0) + 1
same = sum(1 for x, y in zip(a, b) if x == y)
print(f"shell session: {same} of {len(a)} lines the same; differing, as named: {kinds}")
PY

# On the air, with the Vantor.
air=(--load current=0,epick=0,ecap=0,noise=0 --seed 7)
script=$'provision\ntx\ntx p3\ntx p7\ntx p8\ntx p9\ntx p10\ntx p4\ntx p5\nprint prov\n'
"$SIM" --speed 0 --state "$WORK/sim-air" "${air[@]}" --air-log "$WORK/sim.air" <<<"$script" >/dev/null 2>&1
run_emu "$WORK/emu-air" "${air[@]}" --air-log "$WORK/emu.air" <<<"$script" >/dev/null 2>&1
for side in sim emu; do
  "$VANTOR" --db "$WORK/$side-air/vantor.sqlite" --json uplinks --limit 1000 >"$WORK/$side.uplinks"
done
python3 - "$WORK/sim.air" "$WORK/emu.air" "$WORK/sim.uplinks" "$WORK/emu.uplinks" <<'PY' || fail "the air differs"
import json, sys
def lines(path):
    return [json.loads(l) for l in open(path) if l.strip()]
def masked(frame):
    # Packet 8: its build identity (revision and build time, bytes 7..46) and its 4-byte tag.
    hexes = frame["hex"]
    if hexes.startswith("08"):
        hexes = hexes[:14] + "?" * 80 + hexes[94:-8] + "?" * 8
    return frame["sender"], frame["len"], hexes
sim_air, emu_air = lines(sys.argv[1]), lines(sys.argv[2])
assert len(sim_air) == len(emu_air), (len(sim_air), len(emu_air))
for n, (x, y) in enumerate(zip(sim_air, emu_air), 1):
    assert masked(x) == masked(y), f"frame {n}:\n  orvane-sim: {x['hex']}\n  the image:  {y['hex']}"
TIME_AND_BUILD = {"t_s", "id", "build_timestamp", "git_revision", "git_dirty"}
def stored(u):
    return {k: v for k, v in u.items() if k not in TIME_AND_BUILD}
sim_up, emu_up = lines(sys.argv[3]), lines(sys.argv[4])
assert len(sim_up) == len(emu_up), (len(sim_up), len(emu_up))
for x, y in zip(sim_up, emu_up):
    assert stored(x) == stored(y), f"uplink:\n  orvane-sim: {x}\n  the image:  {y}"
print(f"air: {len(sim_air)} frames with the same bytes (packet 8's build identity and tag aside), "
      f"{len(sim_up)} uplinks stored alike")
PY
echo PASS
