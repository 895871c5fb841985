#!/usr/bin/env bash
# The VCD trace of "tx p3", read back by sigrok-cli (the logic analyser software that PulseView is
# built on): every lane is there, the transmitter is on for its ramp and the frame's time on air by
# the published formula, inside the raised antenna switch, and the power-state lanes are one-hot.
source "$(dirname "$0")/lib/common.sh"
LIB="$(dirname "$0")/lib"
command -v sigrok-cli >/dev/null || fail "sigrok-cli is not installed (tools/install-deps.sh host)"

printf 'tx p3\n' | run_sim "$WORK/s" --vcd "$WORK/trace.vcd" --air-log "$WORK/air.jsonl" >/dev/null 2>&1 || fail "exit"
sigrok-cli -I vcd -i "$WORK/trace.vcd" -O vcd >"$WORK/back.vcd" || fail "sigrok-cli could not read the trace"

PYTHONPATH="$LIB" python3 - "$WORK/back.vcd" "$WORK/air.jsonl" <<'PY' || fail "trace read back"
import math, sys
import airframes as af
import traces
lanes = traces.read_vcd(sys.argv[1])
expected = ["radio_supply_PA8", "radio_reset_PB0", "radio_cs_PB12", "radio_busy_PB11", "ant_tx_PB10", "ant_rx_PB2",
            "stage1_supply_PB5", "gain_s0_PC7", "gain_s1_PC6", "range_hp_PB6", "range_lp_PB7", "dbg1_PD0", "dbg2_PB13",
            "dbg3_PB14", "dbg4_PB15", "button_PD3", "mcu_run", "mcu_sleep", "mcu_standby", "radio_off", "radio_sleep",
            "radio_standby", "radio_fs", "radio_rx", "radio_tx", "adc_converting"]
assert list(lanes) == expected, list(lanes)


def edges(name):
    return [(t, v) for (t, v), prev in zip(lanes[name], [None] + lanes[name]) if prev is None or prev[1] != v]


[(rec, frame)] = af.read_air_log(sys.argv[2])
tx = [t for t, v in edges("radio_tx")]
assert len(tx) == 3, edges("radio_tx")  # low, on, off
on, off = tx[1], tx[2]
assert off - on == 130 + math.ceil(af.time_on_air_us(len(frame))), off - on
ant = [t for t, v in edges("ant_tx_PB10")]
assert len(ant) == 3 and ant[1] < on and ant[2] > off, (ant, on, off)
supply = edges("radio_supply_PA8")
assert [v for _, v in supply] == [0, 1, 0], supply
cs = [t for t, v in edges("radio_cs_PB12")[1:]]
assert cs and supply[1][0] <= cs[0] and cs[-1] <= supply[2][0], "chip select outside the radio's supply"

times = sorted({t for changes in lanes.values() for t, _ in changes})


def level(name, t):
    v = 0
    for tc, vc in lanes[name]:
        if tc > t:
            break
        v = vc
    return v


for t in times:
    assert sum(level(n, t) for n in ("mcu_run", "mcu_sleep", "mcu_standby")) == 1, t
    assert sum(level(n, t) for n in expected[19:25]) == 1, t
PY
echo "VCD trace read back by sigrok-cli: ok"
