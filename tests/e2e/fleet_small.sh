#!/usr/bin/env bash
# A small fleet on one channel: six fresh nodes powered on together beside the Vantor for an hour.
# Every node is provisioned and confirmed; from the air log and the registry alone every reading
# that overlapped nothing was stored and every lost one overlapped another frame (checked apart from
# orvane-fleet's own report, which must agree); the same seed gives the same air log and registry
# whatever the host does (one node process at a time, or many).
source "$(dirname "$0")/lib/common.sh"
FLEET="$(dirname "$SIM")/orvane-fleet"
VANTOR="$(dirname "$SIM")/vantor"
LIB="$(dirname "$0")/lib"

fleet() {
  "$FLEET" --nodes 6 --stop-after 3600 --seed 5 --power-on together --radius 60 --quiet "$@" ||
    fail "orvane-fleet $* exited with $?"
}
fleet --dir "$WORK/a" --processes 1
fleet --dir "$WORK/b" --processes 8

for f in air.jsonl vantor.sqlite report.json nodes/n0001/console.log nodes/n0006/sim.log; do
  [ -s "$WORK/a/$f" ] || fail "no $f"
done
python3 "$LIB/fleet_check.py" "$VANTOR" "$WORK/a" || fail "the accounting of lost readings"
report() { python3 -c "import json,sys; r=json.load(open('$1/report.json')); print(eval(sys.argv[1]))" "$2"; }
[ "$(report "$WORK/a" "r['fleet']['confirmed']")" = 6 ] || fail "not every node confirmed: $(report "$WORK/a" "[(n['name'], n['state']) for n in r['nodes']]")"
[ "$(report "$WORK/a" "all(n['state'] == 'confirmed' for n in r['nodes'])")" = True ] || fail "the registry does not hold every node confirmed"
[ "$(report "$WORK/a" "r['fleet']['readings_sent'] >= 12")" = True ] || fail "too few readings: $(report "$WORK/a" "r['fleet']")"
# Each frame on the air names its node; nodes differ in chip and LSI, within the datasheet's range.
grep -q '"sender":"node","name":"n0003",' "$WORK/a/air.jsonl" || fail "frames without their node's name"
[ "$(report "$WORK/a" "len({n['chip_id'] for n in r['nodes']})")" = 6 ] || fail "chip ids repeat"
[ "$(report "$WORK/a" "all(31040 <= n['lsi_hz'] <= 32960 for n in r['nodes'])")" = True ] || fail "LSI out of range"

cmp "$WORK/a/air.jsonl" "$WORK/b/air.jsonl" || fail "the air log depends on the host's scheduling"
diff <("$VANTOR" --db "$WORK/a/vantor.sqlite" --json uplinks --limit 100000) \
  <("$VANTOR" --db "$WORK/b/vantor.sqlite" --json uplinks --limit 100000) >/dev/null ||
  fail "the registry depends on the host's scheduling"

# A folder that holds a run is not overwritten.
if "$FLEET" --nodes 2 --stop-after 60 --dir "$WORK/a" --quiet 2>"$WORK/err"; then fail "a second run into the same folder"; fi
grep -q "holds a run already" "$WORK/err" || fail "no reason given: $(cat "$WORK/err")"
echo "small fleet: ok"
