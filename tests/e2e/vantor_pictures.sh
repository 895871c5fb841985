#!/usr/bin/env bash
# The Vantor's pictures of a field node after six virtual hours: the capture (clamp and E-field in
# counts with the fitted 50 Hz wave, the fit checked against a least-squares fit of the CSV rows
# done here) and the telemetry (current, power, power factor: one point per packet 3 of the air
# log, whose tags verify), each SVG parsed, and rendered by a real renderer when one is installed.
source "$(dirname "$0")/lib/common.sh"
FIELD="$(dirname "$SIM")/orvane-sim-field"
VANTOR="$(dirname "$SIM")/vantor"
LIB="$(dirname "$0")/lib"
db=(--db "$WORK/s/vantor.sqlite")

"$FIELD" --speed 0 --state "$WORK/s" --load current=5,pf=0.8 --stop-after 21600 --air-log "$WORK/air.jsonl" \
  </dev/null >/dev/null 2>&1 || fail "exit status"
"$VANTOR" "${db[@]}" plot capture 0x000001 --svg "$WORK/capture.svg" >/dev/null || fail "plot capture"
"$VANTOR" "${db[@]}" plot telemetry 0x000001 --svg "$WORK/telemetry.svg" >/dev/null || fail "plot telemetry"
"$VANTOR" "${db[@]}" capture 0x000001 --csv "$WORK/capture.csv" >/dev/null || fail "capture rows"
"$VANTOR" "${db[@]}" --json nodes >"$WORK/nodes.jsonl" || fail "nodes"
if "$VANTOR" "${db[@]}" plot telemetry 0x000002 --svg "$WORK/none.svg" 2>/dev/null; then fail "an unknown node"; fi

PYTHONPATH="$LIB" python3 - "$WORK" <<'PY' || fail "pictures"
import csv, json, math, re, sys
import xml.etree.ElementTree as ET
import airframes as af
work = sys.argv[1]
NS = "{http://www.w3.org/2000/svg}"


def chart(path):
    root = ET.parse(path).getroot()
    assert root.tag == NS + "svg", root.tag
    title = root.find(f"{NS}text[@class='title']").text
    panels = []
    for g in root.findall(f"{NS}g[@class='panel']"):
        ticks = [t.text for t in g.iter(NS + "text") if t.get("class") == "tick"]
        legend = [t.text for t in g.iter(NS + "text") if t.get("class") == "legend-entry"]
        series = {s.get("data-label"): s for s in g.findall(f"{NS}g[@class='series']")}
        assert len(ticks) >= 4, f"{path}: axes without ticks"
        assert legend == list(series), f"{path}: legend {legend} for {list(series)}"
        panels.append((g.get("data-y-label"), series))
    x_label = root.find(f"{NS}text[@class='axis-label x-label']").text
    return title, panels, x_label


# Capture: two panels in counts over milliseconds, each raw channel with its fit.
title, panels, x_label = chart(f"{work}/capture.svg")
assert title.startswith("Capture of node 0x000001: packet 4,"), title
assert [p[0] for p in panels] == ["clamp (ADC counts)", "E-field (ADC counts)"], panels
assert x_label == "time from the first scan (ms)", x_label
rows = list(csv.DictReader(open(f"{work}/capture.csv")))
assert len(rows) == 231
for (label, series), column in zip(panels, ["b_field", "e_field_ind"]):
    raw, fit = list(series)
    assert int(series[raw].get("data-points")) == 231, label
    # Least squares of mean + a cos + b sin at 50 Hz over the rows, 346 us apart (4 MHz / 2 ADC
    # clock, four conversions of 173 cycles each per row).
    t = [i * 4 * 173 / 2e6 for i in range(231)]
    v = [float(r[column]) for r in rows]
    basis = [[1.0, math.cos(2 * math.pi * 50 * x), math.sin(2 * math.pi * 50 * x)] for x in t]
    m = [[sum(b[i] * b[j] for b in basis) for j in range(3)] for i in range(3)]
    r = [sum(b[i] * y for b, y in zip(basis, v)) for i in range(3)]
    for i in range(3):  # Gauss-Jordan
        p = m[i][i]
        m[i] = [x / p for x in m[i]]
        r[i] /= p
        for k in range(3):
            if k != i:
                f = m[k][i]
                m[k] = [a - f * b for a, b in zip(m[k], m[i])]
                r[k] -= f * r[i]
    mean, amplitude = r[0], math.hypot(r[1], r[2])
    shown = re.match(r"50 Hz fit: mean (-?[0-9.]+), amplitude ([0-9.]+) counts", fit)
    assert shown, fit
    assert abs(float(shown.group(1)) - mean) <= 0.05 and abs(float(shown.group(2)) - amplitude) <= 0.05, (fit, mean, amplitude)
    assert amplitude > 50, f"{label}: no wave"

# Telemetry: current, power and power factor, one point per packet 3 (or 5) the node sent.
title, panels, x_label = chart(f"{work}/telemetry.svg")
sent = [b for _, b in af.read_air_log(f"{work}/air.jsonl") if b[0] in (3, 5)]
assert title.startswith(f"Telemetry of node 0x000001: {len(sent)} frames"), (title, len(sent))
assert [p[0] for p in panels] == ["current (A)", "active power (W)", "power factor"], panels
assert x_label == "virtual time since the first frame (h)", x_label
for label, series in panels:
    first = list(series.values())[0]
    assert int(first.get("data-points")) == len(sent) and len(first.findall(NS + "circle")) == len(sent), label

# The node is quiet between its signs of life, and the Vantor says so rather than calling it gone.
node = json.loads(open(f"{work}/nodes.jsonl").readline())
assert node["sign_of_life_s"] == 3600 and node["activity"] in ("active", "quiet"), node
PY

if command -v rsvg-convert >/dev/null; then
  for f in capture telemetry; do rsvg-convert "$WORK/$f.svg" -o "$WORK/$f.png" || fail "$f.svg does not render"; done
fi
echo "the Vantor's pictures: ok"
