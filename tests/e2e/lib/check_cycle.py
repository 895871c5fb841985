"""Checks the air log of one production cycle against the node's console transcript."""
import re
import sys

import airframes as af

KEY = bytes.fromhex("00112233445566778899AABBCCDDEEFF")
CHIP = "BBAA99887766554433221100"  # --chip-id 00112233445566778899AABB, byte 0 first
UID = 0x12AB

air, transcript = sys.argv[1], open(sys.argv[2]).read()
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def printed(label):
    """A one-value table row of the transcript ("  label | value"), last occurrence."""
    rows = re.findall(r"^  " + re.escape(label) + r" +\| +(\S+)$", transcript, re.M)
    return float(rows[-1])


frames = af.read_air_log(air)
codes = [b[0] for _, b in frames]
check(codes == [8, 8, 4, 4, 4, 7, 3], f"frame order {codes}")
for rec, b in frames:
    h = af.header(b)
    check(af.tag_ok(b, KEY), f"tag of packet {b[0]}")
    check(h["uid"] == UID and h["counter"] == 1, f"header of packet {b[0]}: {h}")
    check(rec["len"] == len(b), "length field")
    check(abs(rec["toa_us"] - af.time_on_air_us(len(b))) <= 1, f"time on air of {len(b)} bytes: {rec['toa_us']}")

decoded = {}
for _, b in frames:
    decoded.setdefault(b[0], []).append(af.DECODERS[b[0]](b))

# Packet 3 against the printed reading.
p3 = decoded[3][0]
temperature = float(re.search(r"^Temperature: (\S+)$", transcript, re.M).group(1))
check(abs(p3["temperature_c"] - temperature) <= 1 / 6 + 1e-9, f"temperature {p3['temperature_c']} vs {temperature}")
check(abs(p3["supply_v"] - printed("VRef (V)")) <= 0.0025 + 0.0005, f"supply {p3['supply_v']}")
check(abs(p3["power_factor"] - printed("power factor")) <= 0.005 + 0.00005, f"pf {p3['power_factor']}")
check(abs(p3["current_ma"] / 1000 - printed("current corrected (A)")) <= 0.001 + 0.00005, f"current {p3['current_ma']}")

# Packet 8: build, chip, calibration.
build = re.search(r"^git rev: (\S+)  dirty: \S+  built: (\S+)$", transcript, re.M)
for p8 in decoded[8]:
    check(p8["git"] == build.group(1) and p8["built"] == build.group(2), f"build identity {p8['git']} {p8['built']}")
    check(p8["chip"] == CHIP, f"chip {p8['chip']}")
    check(p8["hw"] == 10 and p8["gap47"] == 0 and p8["gap158"] == b"\0\0", "revision and gaps")
    check(p8["phase_corr"] == 0.0, "phase correction")
    mapping = [float(v) for pair in re.findall(r"^clampMapping\[\d+\]: in=(\S+) out=(\S+)$", transcript, re.M)
               for v in pair]
    check(len(mapping) == 22 and all(abs(a - b) <= 1e-5 for a, b in zip(p8["clamp"], mapping)), "clamp mapping")

# Packet 4: the whole 231-row capture, as the ADC dump printed it.
rows = [(int(m[0]), int(m[1])) for m in re.findall(
    r"^ +\d+ +-?\d+ \( *-?\d+\) +-?\d+ \( *-?\d+\) +(-?\d+) \( *-?\d+\) +(-?\d+) \( *-?\d+\) +-?\d+ \( *-?\d+\)$",
    transcript, re.M)]
check(len(rows) == 231, f"{len(rows)} rows dumped")
sent = []
for i, p4 in enumerate(decoded[4]):
    check(p4["sequence"] == i and p4["readings"] == [80, 80, 71][i], f"capture frame {i}")
    sent += p4["rows"]
clamp = lambda v, lo, hi: max(lo, min(hi, v))
check(sent == [(clamp(b, -2048, 2047), clamp(e, 0, 4095)) for b, e in rows], "capture rows differ from the dump")

# Packet 7: revisions, channels and the printed power results.
p7 = decoded[7][0]
check(p7["revs"] == (5, 3, 5) and p7["gap11"] == 0, f"packet 7 revisions {p7['revs']}")
check(p7["e_ind"]["chan"] == 2 and p7["b"]["chan"] == 0, "channel numbers")
check(p7["b"]["samples"] == 231 and p7["b"]["burden"] == 20 and p7["b"]["gap"] == 0, "clamp channel view")
check(abs(p7["power"]["curr_corr"] - printed("current corrected (A)")) <= 2e-4, "packet 7 current")
check(abs(p7["power"]["pf"] - printed("power factor")) <= 2e-4, "packet 7 power factor")
check(p7["power"]["gaps"] == (0, 0, 0), "power block gap")

if failures:
    print("\n".join(failures))
    sys.exit(1)
