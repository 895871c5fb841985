#!/usr/bin/env bash
# A small fleet heard through two simulated gateways (orvane-fleet --gateways 2): four fresh nodes
# powered on together for 15 minutes, the Vantor behind the gateways on a free loopback port. Every
# node is provisioned and confirmed through them; from the air log and the registry alone every
# reading that overlapped nothing was stored (by the time of the gateway's rxpk) and every lost one
# overlapped another frame; the same seed gives the same air log and the same stored frames
# whatever the host does, the gateways' wait for the Vantor's answers included.
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

cmp "$WORK/a/air.jsonl" "$WORK/b/air.jsonl" || fail "the air log depends on the host's scheduling"
# The Vantor's own clock (t_s) is the host's: what it stored, and how, must not depend on it.
stored() {
  "$VANTOR" --db "$1/vantor.sqlite" --json uplinks --limit 100000 |
    python3 -c "import json,sys; [print(x) for x in sorted((u['uid'], u['code'], u['counter'], u['verdict'], u['rx_time']) for u in map(json.loads, sys.stdin))]"
}
diff <(stored "$WORK/a") <(stored "$WORK/b") >/dev/null || fail "the registry depends on the host's scheduling"
echo "fleet through gateways: ok"
