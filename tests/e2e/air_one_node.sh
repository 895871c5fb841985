#!/usr/bin/env bash
# One node and the Vantor through orvane-air give what the in-process medium gives: the same air
# log (each line through the air also names its participant), the same registry, the same console
# and standby lines, over two runs of an hour with a remote setting queued between them. The node's
# process ends at every standby and the air starts it again at its wake-up.
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/air.sh"

node_args=(--speed 0 --seed 7 --load current=5,pf=0.8 --stop-after 3600)

# The in-process medium.
"$FIELD" "${node_args[@]}" --state "$WORK/a" --air-log "$WORK/a.air" >"$WORK/a.out" 2>"$WORK/a.err" ||
  fail "in-process run 1"
"$VANTOR" --db "$WORK/a/vantor.sqlite" queue add 0x000001 sleep 300 >/dev/null || fail "queue (in-process)"
"$FIELD" "${node_args[@]}" --state "$WORK/a" --air-log "$WORK/a.air" >>"$WORK/a.out" 2>>"$WORK/a.err" ||
  fail "in-process run 2"

# The same through orvane-air, a new air and Vantor for each run.
air_run() {
  start_air "$WORK/air.sock" --air-log "$WORK/b.air" --wait-for vantor
  start_vantor "$WORK/air.sock" "$WORK/b.sqlite" --seed 7
  "$FIELD" "${node_args[@]}" --air "unix:$WORK/air.sock" --state "$WORK/b" >>"$WORK/b.out" 2>>"$WORK/b.err" ||
    fail "node on the air"
  wait_background
}
air_run
"$VANTOR" --db "$WORK/b.sqlite" queue add 0x000001 sleep 300 >/dev/null || fail "queue (air)"
air_run

[ "$(grep -c . "$WORK/a.air")" -ge 20 ] || fail "too few frames: $(grep -c . "$WORK/a.air")"
grep -q '"sender":"vantor"' "$WORK/a.air" || fail "the Vantor never answered"
grep -q '"sender":"node","name":"node",' "$WORK/b.air" || fail "no participant's name in the air's log"
sed 's/,"name":"[^"]*"//' "$WORK/b.air" | diff "$WORK/a.air" - || fail "the air logs differ"
diff <(registry "$WORK/a/vantor.sqlite") <(registry "$WORK/b.sqlite") || fail "the registries differ"
grep -q '"setting":"sleep".*"state":"done"' <(registry "$WORK/b.sqlite") || fail "the setting was not applied"
diff "$WORK/a.out" "$WORK/b.out" || fail "the consoles differ"
diff "$WORK/a.err" "$WORK/b.err" || fail "the standby lines differ"
[ "$(grep -c 'standby at' "$WORK/b.err")" -ge 10 ] || fail "the node did not sleep and wake through the air"
echo "PASS"
