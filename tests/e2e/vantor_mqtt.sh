#!/usr/bin/env bash
# The Vantor on MQTT, with a Mosquitto broker of the test's own: after provisioning, a reading, a
# packet 8 and a "tx p5", the uplink events (numbers at their resolution), the reading, the
# retained status and availability, and the Home Assistant discovery configs (checked against Home
# Assistant's table of units per device class) arrive. A setting published on command/set is
# queued, applied at the next window and acknowledged on ack; bad commands are refused on
# command/result with the CLI's reasons and queue nothing. The broker stopped in the middle of the
# run and started again: every uplink stored meanwhile is published afterwards, in order, once. A
# broker that does not answer: a clear error, the Vantor keeps storing, and what it stored is
# published once a broker answers.
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/../support/servers.sh"
VANTOR="$(dirname "$SIM")/vantor"
LIB="$(dirname "$0")/lib"
s="$WORK/s"
db=(--db "$s/vantor.sqlite")
mq="$WORK/broker"
sub_pid="" sim_pid=""
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  [ -n "$sub_pid" ] && kill "$sub_pid" 2>/dev/null
  mqtt_stop "$mq"
  rm -rf "$WORK"
}
trap cleanup EXIT
chmod 755 "$WORK"  # the broker runs as nobody when the test runs as root

url=$(mqtt_start "$mq")
port=${url##*:}
# A subscriber with a session the broker keeps (also across its restart): it misses nothing.
mosquitto_sub -h 127.0.0.1 -p "$port" -c -i orvane-e2e -q 1 -v -t 'orvane/#' -t 'homeassistant/#' >"$WORK/sub.txt" &
sub_pid=$!

# wait_until DESCRIPTION COMMAND...: polls for up to 60 s (a loaded machine, a sanitizer build).
wait_until() {
  local what="$1" i
  shift
  for i in $(seq 1 1200); do
    "$@" && return 0
    sleep 0.05
  done
  fail "waited in vain for $what"
}
lines_of() { grep -c "^$1 " "$WORK/sub.txt" || true; }
at_least() { [ "$(lines_of "$1")" -ge "$2" ]; }
payloads() { grep "^$1 " "$WORK/sub.txt" | cut -d' ' -f2-; }
said() { [ "$(grep -cF -- "$1" "$WORK/sim.out")" -ge "$2" ]; }
mosquitto_pub -h 127.0.0.1 -p "$port" -q 1 -r -t orvane/probe -m ready  # retained: whenever it subscribes
wait_until "the subscriber" at_least orvane/probe 1

# The Vantor runs as long as the test feeds it lines.
mkfifo "$WORK/in"
"$SIM" --speed 0 --state "$s" --load current=5,pf=0.8 --mqtt "$url" --mqtt-client-id vantor-e2e \
  <"$WORK/in" >"$WORK/sim.out" 2>"$WORK/sim.err" &
sim_pid=$!
exec 3>"$WORK/in"
send() { printf '%s\n' "$@" >&3; }

send provision sample "tx p8" "tx p5"
wait_until "tx p5" said "ok: tx p5 done" 1
said "ok: provision done (uid 0x000001" 1 || fail "provision"
stored() { "$VANTOR" "${db[@]}" --json uplinks --limit 100000 | wc -l; }
published_all() { [ "$(lines_of 'orvane/0x[0-9A-F]*/up')" -eq "$(stored)" ]; }
wait_until "the uplinks on MQTT" published_all

# The reading: fields at their resolution; the power as the node computes it.
p5=$(payloads orvane/0x000001/up | jq -c 'select(.code == 5)' | tail -1)
cli=$("$VANTOR" "${db[@]}" --json uplinks --limit 100000 | jq -c 'select(.code == 5)' | tail -1)
[ "$(jq -r '[.uid, .verdict, .counter, .listen] | join(" ")' <<<"$p5")" = "0x000001 accepted $(jq -r .counter <<<"$cli") true" ] ||
  fail "packet 5 event: $p5"
[ "$(jq -r .chip_id <<<"$p5")" = "$(jq -r .chip_id <<<"$("$VANTOR" "${db[@]}" --json nodes)")" ] || fail "chip id: $p5"
python3 - "$p5" "$cli" <<'PY' || fail "packet 5 numbers: $p5"
import json, sys
up, cli = json.loads(sys.argv[1]), json.loads(sys.argv[2])
decimals = {"current_a": 3, "power_factor": 2, "temperature_c": 2, "supply_v": 3, "power_w": 2, "rssi_dbm": 1,
            "snr_db": 1, "t_s": 6}
for key, places in decimals.items():
    text = repr(up[key])
    assert len(text.split(".")[1]) <= places if "." in text else True, (key, text)
for key in ("current_a", "power_factor", "supply_v", "rssi_dbm", "snr_db", "t_s"):
    assert abs(up[key] - cli[key]) < 1e-9, key
assert abs(up["temperature_c"] - cli["temperature_c"]) <= 0.005
assert up["power_w"] == round(230 * cli["current_a"] * cli["power_factor"], 2), up["power_w"]
PY
reading=$(payloads orvane/0x000001/reading | tail -1)
[ "$(jq -c '[.current_a, .power_w, .power_factor]' <<<"$reading")" = "$(jq -c '[.current_a, .power_w, .power_factor]' <<<"$p5")" ] ||
  fail "reading: $reading"
# Packet 8 as the CLI shows it.
p8=$(payloads orvane/0x000001/up | jq -c 'select(.code == 8)' | tail -1)
revision=$(jq -r .git_revision <<<"$p8")
[ -n "$revision" ] && [ "$revision" != null ] || fail "packet 8 event: $p8"

# Retained: the node's status and the Vantor's availability, for a client that comes later.
retained() { mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -C 1 -W 5 -t "$1"; }
status=$(retained orvane/0x000001/status)
[ "$(jq -r '[.state, .activity, .expected_interval_s, .last_counter] | join(" ")' <<<"$status")" = \
  "confirmed active 600 $(jq -r .counter <<<"$p5")" ] || fail "status: $status"
[ "$(retained orvane/vantor/vantor-e2e/availability)" = online ] || fail "availability"

# Discovery: five sensors of the node, with the firmware revision of its packet 8.
configs=()
for field in current power power_factor temperature supply_voltage; do
  configs+=("$(retained "homeassistant/sensor/orvane_0x000001_$field/config")")
done
python3 "$LIB/ha_units.py" "${configs[@]}" || fail "discovery configs against Home Assistant's units"
for c in "${configs[@]}"; do
  [ "$(jq -r '[.state_topic, .state_class, .expire_after, .device.sw_version, .availability_topic] | join(" ")' <<<"$c")" = \
    "orvane/0x000001/reading measurement 1800 $revision orvane/vantor/vantor-e2e/availability" ] || fail "config: $c"
done
[ "$(jq -r '[.device_class, .unit_of_measurement // "none", .value_template] | join(" ")' <<<"${configs[2]}")" = \
  "power_factor none {{ value_json.power_factor }}" ] || fail "power factor: ${configs[2]}"
[ "$(jq -r '.unit_of_measurement' <<<"${configs[3]}")" = "°C" ] || fail "temperature: ${configs[3]}"

# Commands: one setting queued; bad ones refused with the CLI's reasons, nothing queued.
command() { mosquitto_pub -h 127.0.0.1 -p "$port" -q 1 -t "orvane/$1/command/set" -m "$2"; }
command 0x000001 '{"setting": "phase", "value": 0.12}'
command 0x000001 '{"setting": "volume", "value": 11}'
command 0x000001 '{"setting": "phase", "value": 30000}'
command 0x000001 '{"setting": "phase",'
command 0x00002A '{"setting": "dbg1"}'
wait_until "five results" at_least orvane/0x000001/command/result 4
wait_until "the unknown node's result" at_least orvane/0x00002A/command/result 1
results=$(payloads orvane/0x000001/command/result; payloads orvane/0x00002A/command/result)
expect_contains "$results" '"id":1,"message":"queued #1 for 0x000001: phase 0.12","ok":true' "queued"
expect_contains "$results" '"ok":false,"reason":"unknown setting '"'"'volume'"'"'"' "unknown setting"
expect_contains "$results" '"reason":"phase takes one value in radians, -21474.83647..21474.83647"' "out of range"
expect_contains "$results" '"reason":"the command is not a JSON object' "broken JSON"
expect_contains "$results" '"reason":"no node 0x00002A in the registry"' "unknown node"
[ "$("$VANTOR" "${db[@]}" --json queue list | jq -r '"\(.id) \(.setting) \(.value) \(.state)"')" = "1 phase 0.12 pending" ] ||
  fail "queue: $("$VANTOR" "${db[@]}" queue list)"

# The next window applies it; the node's answer comes back on ack.
send "tx p5" "print prov"
wait_until "the window" said "ok: tx p5 done" 2
said "LoRa RX: applied RXPacket14 (opcode=0x0002), acked" 1 || fail "applied: $(cat "$WORK/sim.out")"
said "Phase correction: 0.1200 rad" 1 || fail "phase"
wait_until "the ack" at_least orvane/0x000001/ack 1
ack=$(payloads orvane/0x000001/ack | tail -1)
[ "$(jq -r '[.ok, .reason, .setting.id, .setting.setting, .setting.value, .setting.state] | join(" ")' <<<"$ack")" = \
  "true Applied 1 phase 0.12 done" ] || fail "ack: $ack"

# The broker goes away for a while: the Vantor keeps storing; afterwards everything arrives.
wait_until "the uplinks on MQTT" published_all
mqtt_stop "$mq"
send tx tx tx
wait_until "three readings while the broker is away" said "ok: tx done" 3
wait_until "the Vantor to notice" grep -q "mqtt: lost $url" "$WORK/sim.err"
mqtt_start "$mq" "$port" >/dev/null 3>&-  # the broker must not hold the Vantor's input open
send tx tx
wait_until "two more" said "ok: tx done" 5
wait_until "the uplinks on MQTT" published_all
exec 3>&-
wait "$sim_pid" || fail "orvane-sim: $(cat "$WORK/sim.err")"
sim_pid=""
order() { jq -r '"\(.uid) \(.code) \(.counter) \(.verdict) \(.t_s * 1000000 | round)"'; }
[ "$(payloads 'orvane/0x[0-9A-F]*/up' | order)" = "$("$VANTOR" "${db[@]}" --json uplinks --limit 100000 | order)" ] ||
  fail "every uplink once, in order: $(diff <(payloads 'orvane/0x[0-9A-F]*/up' | order) <("$VANTOR" "${db[@]}" --json uplinks --limit 100000 | order))"
[ "$(retained orvane/vantor/vantor-e2e/availability)" = offline ] || fail "offline after the run"

# A broker that does not answer: said once, storing goes on; the next Vantor that reaches a
# broker publishes what waited, then its own.
dead=$(free_port)
before=$(stored)
printf 'tx\n' | run_sim "$s" --mqtt "mqtt://127.0.0.1:$dead" --mqtt-client-id vantor-e2e 2>"$WORK/dead.err" >"$WORK/dead.out" ||
  fail "orvane-sim without its broker"
expect_contains "$(cat "$WORK/dead.err")" \
  "orvane-sim: mqtt: cannot reach mqtt://127.0.0.1:$dead (Connection refused); storing goes on, messages wait in the database until it answers" \
  "the unreachable broker"
[ "$(stored)" -gt "$before" ] || fail "stored while the broker was unreachable"
printf 'tx\n' | run_sim "$s" --mqtt "$url" --mqtt-client-id vantor-e2e >/dev/null 2>&1 || fail "orvane-sim again"
wait_until "the waiting uplinks" published_all
[ "$(payloads 'orvane/0x[0-9A-F]*/up' | order)" = "$("$VANTOR" "${db[@]}" --json uplinks --limit 100000 | order)" ] ||
  fail "what waited, in order"
echo "vantor_mqtt: ok"
