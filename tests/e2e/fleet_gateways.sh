#!/usr/bin/env bash
# A small fleet heard through two simulated gateways (orvane-fleet --gateways 2): four fresh nodes
# powered on together for 15 minutes, the Vantor behind the gateways on a free loopback port. Every
# node is provisioned and confirmed through them; from the air log and the registry alone every
# reading that overlapped nothing was stored (by the time of the gateway's rxpk) and every lost one
# overlapped another frame, with one node process at a time or many. (The same air log twice is not
# asserted: which gateway answers depends on the Vantor's 30 ms gathering of the copies in wall
# time, which a loaded host can miss; sim/AIR.md, "The clock waits for the server".)
source "$(dirname "$0")/lib/common.sh"
FLEET="$(dirname "$SIM")/orvane-fleet"
VANTOR="$(dirname "$SIM")/vantor"
LIB="$(dirname "$0")/lib"

fleet() {
  "$FLEET" --nodes 4 --stop-after 900 --seed 2 --power-on together --radius 60 --gateways 2 --quiet "$@" ||
    fail "orvane-fleet $* exited with $?"
}
fleet --dir "$WORK/a" --processes 1
fleet --dir "$WORK/b" --processes 8

for f in air.jsonl vantor.sqlite report.json gateways/gw01.jsonl gateways/gw02.jsonl; do
  [ -s "$WORK/a/$f" ] || fail "no $f"
done
python3 "$LIB/fleet_check.py" "$VANTOR" "$WORK/a" || fail "the accounting of lost readings"
report() { python3 -c "import json,sys; r=json.load(open('$1/report.json')); print(eval(sys.argv[1]))" "$2"; }
[ "$(report "$WORK/a" "(r['run']['gateways'], r['fleet']['confirmed'])")" = "(2, 4)" ] ||
  fail "not every node confirmed: $(report "$WORK/a" "[(n['name'], n['state']) for n in r['nodes']]")"
# Only the nodes and the gateways on the air; the Vantor is behind them.
python3 - "$WORK/a/air.jsonl" <<'PY' || fail "other transmitters than the gateways"
import json, sys
others = {(l["sender"], l["name"]) for l in map(json.loads, open(sys.argv[1])) if l["sender"] != "node"}
sys.exit(0 if others and others <= {("gateway", "gw01"), ("gateway", "gw02")} else 1)
PY
[ "$("$VANTOR" --db "$WORK/a/vantor.sqlite" --json gateways | python3 -c "import json,sys; print(sorted(json.loads(l)['eui'] for l in sys.stdin))")" = \
  "['4F5256FFFE000001', '4F5256FFFE000002']" ] || fail "the Vantor's gateways"

python3 "$LIB/fleet_check.py" "$VANTOR" "$WORK/b" || fail "the accounting of lost readings (8 processes)"
echo "fleet through gateways: ok"
