"""Checks an energy report against a hand computation: times from the run's VCD trace, event log
and air log (the frames' time on air by the published formula), currents from docs/energy.md."""
import math
import re
import sys

import airframes as af
import traces

docs, report_path, events_path, vcd_path, air_path = sys.argv[1:6]
TX_RAMP_US = 130  # standby to TX, the published transition time

currents = {}
for line in open(docs):
    m = re.match(r"^\| ([^|]+?) \| ([0-9.]+) \|", line)
    if m:
        currents[m.group(1)] = float(m.group(2))
report = open(report_path).read()
rows = {}
for line in report.splitlines():
    m = re.match(r"^  (.{22}) +([0-9.]+) +([0-9.]+) +([0-9.]+) +([0-9.]+) +([0-9.]+) %$", line)
    if m:
        rows[m.group(1).strip()] = [float(v) for v in m.groups()[1:]]

events = traces.read_events(events_path)
start_us, end_us = events[0]["t_us"], events[-1]["t_us"]
assert events[-1]["event"] == "end" and events[-1]["reason"] == "stop-after", events[-1]
vcd = traces.read_vcd(vcd_path)

expected = {}  # component -> (time us, current mA)
for lane, name in [("mcu_run", "MCU run"), ("mcu_sleep", "MCU sleep (WFI)"), ("mcu_standby", "MCU standby"),
                   ("stage1_supply_PB5", "front end (stage 1)"), ("adc_converting", "ADC converting")]:
    expected[name] = (traces.high_time_us(vcd[lane], end_us), currents[name])
radio_names = {"sleep-cold": "radio sleep (cold)", "sleep-warm": "radio sleep (warm)", "standby-rc": "radio standby RC",
               "reset": "radio standby RC", "booting": "radio standby RC", "standby-xosc": "radio standby XOSC",
               "fs": "radio FS", "rx": "radio RX"}
for e, t0, t1 in traces.intervals(events, "radio", end_us):
    name = radio_names.get(e["mode"])
    if name:
        time, ma = expected.get(name, (0, currents[name]))
        expected[name] = (time + t1 - t0, ma)

# The transmitter: each frame's ramp and time on air, at the power it went out with.
def tx_ma(dbm):
    p14 = currents["radio TX +14 dBm"]
    return p14 if dbm == 14 else 20 + (p14 - 20) * 10 ** ((dbm - 14) / 10)


frames = [(rec["power_dbm"], math.ceil(af.time_on_air_us(len(b)))) for rec, b in af.read_air_log(air_path)]
tx = {}
for dbm, toa in frames:
    us, n = tx.get(dbm, (0, 0))
    tx[dbm] = (us + TX_RAMP_US + toa, n + 1)
for dbm, (us, n) in tx.items():
    expected[f"radio TX {dbm:+d} dBm"] = (us, tx_ma(dbm))

failures = []
total_uc = 0
for name, (us, ma) in expected.items():
    if us == 0:
        continue
    total_uc += us * ma / 1000
    if name not in rows:
        failures.append(f"no row {name}")
        continue
    time_s, current, charge_mc = rows[name][0], rows[name][1], rows[name][2]
    # Each frame's time on air is rounded to whole microseconds.
    slack = tx[int(name.split()[2])][1] if name.startswith("radio TX") else 0
    if abs(time_s * 1e6 - us) > 0.5 + slack:
        failures.append(f"{name}: {time_s} s, by hand {us / 1e6} s")
    if abs(current - ma) > 5e-6:
        failures.append(f"{name}: {current} mA, the table says {ma}")
    if abs(charge_mc - time_s * ma) > 1e-6 + 1e-6 * ma:  # both printed to six places
        failures.append(f"{name}: {charge_mc} mC, by hand {us * ma / 1e6}")
extra = set(rows) - set(k for k, (us, _) in expected.items() if us) - {"total"}
if extra:
    failures.append(f"rows not accounted by hand: {extra}")
run_s = (end_us - start_us) / 1e6
average_ua = total_uc / run_s
years = 2600 * 0.85 / (average_ua / 1000) / (24 * 365)
last = report.strip().splitlines()[-1]
m = re.match(r"^energy: average ([0-9.]+) uA, battery ([0-9.]+) years$", last)
if not m:
    failures.append(f"last line: {last}")
elif abs(float(m.group(1)) - average_ua) > 0.002 or abs(float(m.group(2)) - years) > 0.01 * years:
    failures.append(f"{last}; by hand {average_ua:.3f} uA, {years:.2f} years")

# The floor: the frames on air at their power, one capture, standby for the rest.
cycles = int(re.search(r"of virtual time, (\d+) cycles", report).group(1))
floor = sum(toa * tx_ma(dbm) / 1000 for dbm, toa in frames) / cycles
floor += 80000 * (currents["ADC converting"] + currents["front end (stage 1)"] + currents["MCU sleep (WFI)"]) / 1000
floor += (end_us - start_us) / cycles * currents["MCU standby"] / 1000
m = re.search(r"floor \(.*\): ([0-9.]+) uC per cycle", report)
if not m or abs(float(m.group(1)) - floor) > 0.0005 + len(frames) * 45e-3:
    failures.append(f"floor {m and m.group(1)}, by hand {floor:.3f}")

if failures:
    print("\n".join(failures))
    sys.exit(1)
