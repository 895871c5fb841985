#!/usr/bin/env bash
# Benchmark, not a test: a site of N field-build nodes (default 100) and the Vantor on one channel
# for a virtual day (docs/fleet.md), powered on over the first cycle. Checks what the fleet must
# give (every node confirmed; from the air log and the registry alone every reading that
# overlapped nothing was stored, every lost one overlapped another frame) and prints the wall
# time, the CPU time of the whole run, nodes x virtual seconds per wall second and the peak memory.
#   tests/bench/fleet_day.sh build/sim [NODES] [SECONDS]
set -euo pipefail
BIN="$(cd "$1" && pwd)"
NODES="${2:-100}"
SECONDS_VIRTUAL="${3:-86400}"
LIB="$(cd "$(dirname "$0")/../e2e/lib" && pwd)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

start=$(date +%s.%N)
/usr/bin/time -f "%U %S" -o "$WORK/cpu" "$BIN/orvane-fleet" --nodes "$NODES" --stop-after "$SECONDS_VIRTUAL" \
  --power-on spread --dir "$WORK/run" --quiet
end=$(date +%s.%N)
python3 "$LIB/fleet_check.py" "$BIN/vantor" "$WORK/run"
python3 - "$WORK/run/report.json" "$WORK/cpu" "$start" "$end" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
user, system = map(float, open(sys.argv[2]).read().split())
wall = float(sys.argv[4]) - float(sys.argv[3])
run, fleet = r["run"], r["fleet"]
nodes = run["nodes"]
print(f"{nodes} nodes, {run['stop_after_s']:.0f} s of virtual time: wall {wall:.0f} s, CPU {user + system:.0f} s "
      f"(user {user:.0f}, system {system:.0f}), {nodes * run['stop_after_s'] / wall:.0f} node-seconds per wall second, "
      f"peak memory {run['peak_rss_mib']:.0f} MiB, {run['node_starts']} node starts")
print(f"confirmed {fleet['confirmed']}/{nodes} (all by {fleet['all_confirmed_at_s']} s), readings {fleet['readings_sent']} "
      f"sent, {fleet['readings_stored']} stored, delivery {fleet['delivery_ratio']:.4f}, G {fleet['offered_load_g']:.4f}, "
      f"e^-2G {fleet['aloha_prediction']:.4f}, lost {fleet['lost']}")
if fleet["confirmed"] != nodes:
    sys.exit("not every node was confirmed")
PY
