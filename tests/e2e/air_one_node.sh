#!/usr/bin/env bash
# One node and the Vantor through orvane-air give what the in-process medium gives: the same air
# log (each line through the air also names its participant), the same registry, the same console
# and standby lines, over two runs of an hour of the field build with a remote setting queued
# between them, and for a bench session typed through a pipe (standby and reset included). The
# node's process ends at every restart and the air starts it again at that virtual time.
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
# The bench build, its console input carried across the restarts the air makes.
printf 'provision\nsample\ntx\nsleep 3\nprint rtc\nreset\ntx\n' >"$WORK/session.txt"
bench_args=(--speed 0 --seed 3 --load current=5,pf=0.8)
"$SIM" "${bench_args[@]}" --state "$WORK/c" --air-log "$WORK/c.air" <"$WORK/session.txt" >"$WORK/c.out" 2>&1 ||
  fail "in-process bench session"
start_air "$WORK/air.sock" --air-log "$WORK/d.air" --wait-for vantor
start_vantor "$WORK/air.sock" "$WORK/d.sqlite" --seed 3
"$SIM" "${bench_args[@]}" --air "unix:$WORK/air.sock" --state "$WORK/d" <"$WORK/session.txt" >"$WORK/d.out" 2>&1 ||
  fail "bench session on the air"
wait_background
grep -q 'ok: provision done' "$WORK/d.out" || fail "the bench node was not provisioned on the air"
sed 's/,"name":"[^"]*"//' "$WORK/d.air" | diff "$WORK/c.air" - || fail "the bench session's air logs differ"
# Its last reading goes out just before the input ends: the Vantor hears it to its end all the same.
diff <(registry "$WORK/c/vantor.sqlite") <(registry "$WORK/d.sqlite") || fail "the bench session's registries differ"
diff "$WORK/c.out" "$WORK/d.out" || fail "the bench session's consoles differ"
echo "PASS"
