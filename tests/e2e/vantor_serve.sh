#!/usr/bin/env bash
# The dashboard as a program serves it: `vantor serve` refuses an address beyond the loopback
# without a token (usage) and a port in use (refused), says where it serves, and ends cleanly on
# SIGTERM; orvane-sim --http tells its address once and serves again after its firmware restarts
# (a new process image), with the frames of every start.
source "$(dirname "$0")/lib/common.sh"
VANTOR="$(dirname "$SIM")/vantor"
source "$(dirname "$0")/../support/servers.sh"
get() { python3 -c 'import sys, urllib.request; print(urllib.request.urlopen(sys.argv[1], timeout=5).read().decode())' "$1"; }
serving() { for _ in $(seq 1 100); do get "$1" >/dev/null 2>&1 && return 0; sleep 0.1; done; return 1; }

run_sim "$WORK/s" <<<'provision' >/dev/null
db=(--db "$WORK/s/vantor.sqlite")
set +e
"$VANTOR" "${db[@]}" serve --http 0.0.0.0:8080 2>"$WORK/err"
[ $? = 2 ] || fail "beyond the loopback without a token: usage"
set -e
expect_contains "$(cat "$WORK/err")" "an address beyond the loopback needs --token-file FILE" "the reason"

port=$(free_port)
"$VANTOR" "${db[@]}" serve --http "127.0.0.1:$port" >"$WORK/serve.out" &
pid=$!
serving "http://127.0.0.1:$port/api/nodes" || fail "vantor serve does not answer"
[ "$(cat "$WORK/serve.out")" = "vantor: dashboard of $WORK/s/vantor.sqlite at http://127.0.0.1:$port/" ] ||
  fail "where it serves: $(cat "$WORK/serve.out")"
[ "$(get "http://127.0.0.1:$port/api/nodes" | jq -r '.nodes[0].uid')" = "0x000001" ] || fail "the node"
set +e
"$VANTOR" "${db[@]}" serve --http "127.0.0.1:$port" 2>"$WORK/err"
[ $? = 1 ] || fail "a port in use: refused"
kill -TERM $pid
wait $pid
[ $? = 0 ] || fail "SIGTERM ends it cleanly"
set -e
expect_contains "$(cat "$WORK/err")" "cannot listen on 127.0.0.1:$port" "the reason"

# orvane-sim: the address once, the dashboard again after each reset of the node.
port=$(free_port)
mkfifo "$WORK/in"
"$SIM" --speed 0 --state "$WORK/s" --http "127.0.0.1:$port" <"$WORK/in" >"$WORK/sim.out" 2>"$WORK/sim.err" &
sim=$!
exec 3>"$WORK/in"
echo "reset" >&3
echo "tx" >&3
codes() { get "http://127.0.0.1:$port/api/nodes/1/uplinks" 2>/dev/null | jq -r '[.[].code] | join(" ")'; }
for _ in $(seq 1 100); do [[ "$(codes)" == *" 3" ]] && break; sleep 0.1; done
# The provisioning of the first run, then after the reset (a pin reset) the debug group and packet 3.
[[ "$(codes)" == "10 "*" 8 "*" 3" ]] || fail "after the reset: $(codes)"
exec 3>&-
wait $sim || fail "orvane-sim exit status"
[ "$(cat "$WORK/sim.err")" = "orvane-sim: Vantor dashboard at http://127.0.0.1:$port/" ] ||
  fail "told once: $(cat "$WORK/sim.err")"
echo "vantor_serve: ok"
