#!/usr/bin/env bash
# `vantor listen --mqtt` on orvane-air, with a Mosquitto broker of the test's own: a fresh node's
# uplinks are published on PREFIX/<uid>/up, each stored uplink once and in order, with the
# Vantor's availability retained (offline once the air has ended). Bad output options are refused
# before the Vantor joins the air, as orvane-sim refuses them. orvane-fleet passes --mqtt and
# --http to its Vantor: its uplinks reach the broker and the dashboard's address is told once.
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/air.sh"
source "$(dirname "$0")/../support/servers.sh"
mq="$WORK/broker"
sub_pid=""
trap 'for p in "${BACKGROUND[@]}" $sub_pid; do kill "$p" 2>/dev/null || true; done; mqtt_stop "$mq"; rm -rf "$WORK"' EXIT
chmod 755 "$WORK"  # the broker runs as nobody when the test runs as root

# Refused with orvane-sim's reasons, exit status 2.
refused() {
  local want="$1"
  shift
  if "$VANTOR" "$@" 2>"$WORK/refused.err"; then fail "accepted: $*"; fi
  [ "$(cat "$WORK/refused.err")" = "$want" ] || fail "$*: $(cat "$WORK/refused.err")"
}
refused "vantor: --mqtt: the prefix 'a/#' must be a topic without wildcards, with no leading or trailing '/'" \
  --db "$WORK/x.sqlite" listen --air "unix:$WORK/none" --mqtt mqtt://127.0.0.1:1 --mqtt-prefix 'a/#'
refused "vantor: --mqtt needs the Vantor's database in a file or on a server (--db)" \
  --db :memory: listen --air "unix:$WORK/none" --mqtt mqtt://127.0.0.1:1
refused "vantor: --token-file goes with --http" --db "$WORK/x.sqlite" listen --air "unix:$WORK/none" --token-file /x

url=$(mqtt_start "$mq")
port=${url##*:}
mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -v -t 'site/#' -t 'fleet/#' >"$WORK/sub.txt" &
sub_pid=$!
mosquitto_pub -h 127.0.0.1 -p "$port" -q 1 -r -t site/probe -m ready
for _ in $(seq 200); do grep -q '^site/probe ready' "$WORK/sub.txt" && break; sleep 0.05; done

start_air "$WORK/air.sock" --air-log "$WORK/air.jsonl" --wait-for vantor
start_vantor "$WORK/air.sock" "$WORK/site.sqlite" --mqtt "$url" --mqtt-prefix site --mqtt-client-id vantor-air
"$FIELD" --speed 0 --seed 2 --load current=5,pf=0.8 --state "$WORK/n1" --air "unix:$WORK/air.sock" \
  --air-name n1 --stop-after 60 >"$WORK/n1.out" 2>"$WORK/n1.err" || fail "the node: $(cat "$WORK/n1.err")"
wait_background  # the Vantor publishes what it stored before it ends

order() { jq -r '"\(.uid) \(.code) \(.counter) \(.verdict) \(.t_s * 1000000 | round)"'; }
stored=$("$VANTOR" --db "$WORK/site.sqlite" --json uplinks --limit 100000 | order)
[ "$(grep -c . <<<"$stored")" -ge 5 ] || fail "too few uplinks stored: $stored"
# The subscriber's last messages (up to 60 s on a loaded machine).
for _ in $(seq 1200); do
  [ "$(grep -c '^site/0x[0-9A-F]*/up ' "$WORK/sub.txt")" -ge "$(grep -c . <<<"$stored")" ] && break
  sleep 0.05
done
published=$(grep '^site/0x[0-9A-F]*/up ' "$WORK/sub.txt" | cut -d' ' -f2- | order)
[ "$published" = "$stored" ] || fail "every uplink once, in order: $(diff <(echo "$published") <(echo "$stored"))"
grep -q '^site/0x000001/status ' "$WORK/sub.txt" || fail "no status"
[ "$(mosquitto_sub -h 127.0.0.1 -p "$port" -C 1 -W 5 -t site/vantor/vantor-air/availability)" = offline ] ||
  fail "availability after the run"

FLEET="$(dirname "$SIM")/orvane-fleet"
http_port=$(free_port)
"$FLEET" --nodes 1 --stop-after 60 --dir "$WORK/fleet" --quiet --mqtt "$url" --mqtt-prefix fleet \
  --mqtt-client-id vantor-fleet --http "127.0.0.1:$http_port" 2>"$WORK/fleet.err" || fail "orvane-fleet: $(cat "$WORK/fleet.err")"
[ "$(grep -c "dashboard" "$WORK/fleet.err")" = 1 ] &&
  grep -qxF "vantor: dashboard of $WORK/fleet/vantor.sqlite at http://127.0.0.1:$http_port/" "$WORK/fleet.err" ||
  fail "the fleet's dashboard address: $(cat "$WORK/fleet.err")"
stored=$("$VANTOR" --db "$WORK/fleet/vantor.sqlite" --json uplinks --limit 100000 | order)
for _ in $(seq 1200); do
  [ "$(grep -c '^fleet/0x[0-9A-F]*/up ' "$WORK/sub.txt" || true)" -ge "$(grep -c . <<<"$stored")" ] && break
  sleep 0.05
done
[ "$(grep '^fleet/0x[0-9A-F]*/up ' "$WORK/sub.txt" | cut -d' ' -f2- | order)" = "$stored" ] || fail "the fleet's uplinks on MQTT"
echo "vantor_air_mqtt: ok"
