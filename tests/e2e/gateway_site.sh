#!/usr/bin/env bash
# A site heard through gateways, end to end: orvane-air, three field nodes and two orvane-gateway
# (n3 out of gw-b's reach), the Vantor behind them with `vantor listen --gateway` on a free UDP port
# of the loopback. Run 1: every node provisioned and confirmed through the gateways' downlinks, its
# readings stored with the EUI, RSSI and SNR of the gateway that heard them, each transmission that
# both gateways heard stored once as accepted. Settings are queued with the CLI. Run 2: both gateways
# with a programming lead above the Vantor's answer delay refuse every answer with TOO_LATE; the
# Vantor records it and the items wait. Run 3: a normal lead delivers them, applied and acknowledged.
# Asserted on the registry (vantor --json), the air logs and the gateways' event logs.
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/air.sh"
GATEWAY="$(dirname "$SIM")/orvane-gateway"
DB="$WORK/site.sqlite"

port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$VANTOR" --db "$DB" listen --gateway "udp://127.0.0.1:$port" 2>>"$WORK/vantor.err" &
VANTOR_PID=$!
trap 'kill "$VANTOR_PID" 2>/dev/null || true; for p in "${BACKGROUND[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$WORK"' EXIT
hex_port=$(printf '%04X' "$port")
for _ in $(seq 200); do
  grep -q ":$hex_port " /proc/net/udp && break
  kill -0 "$VANTOR_PID" 2>/dev/null || fail "the Vantor did not start: $(cat "$WORK/vantor.err")"
  sleep 0.05
done
grep -q ":$hex_port " /proc/net/udp || fail "the Vantor does not listen on UDP port $port"

# Path-loss exponent 4: a node's 0 dBm request reaches about 215 m, a 14 dBm frame is below the
# SF7 floor beyond 480 m. gw-a at 0,0 and gw-b at 300,0; n1 nearer gw-a and n2 nearer gw-b, both in reach of each; n3 200 m from
# gw-a and 500 m from gw-b.
site_run() { # RUN LEAD_MS
  local run="$1" lead="$2"
  start_air "$WORK/air.sock" --air-log "$WORK/air$run.jsonl" --path-loss-exponent 4 \
    --wait-for gw-a --wait-for gw-b --wait-for n1 --wait-for n2 --wait-for n3
  # Seeds 33 and 62 start the counters 34 s and 30 s before their wraps.
  "$GATEWAY" --air "unix:$WORK/air.sock" --server "udp://127.0.0.1:$port" --name gw-a --eui 4F5256FFFE00000A \
    --at 0,0 --seed 33 --lead-ms "$lead" --events "$WORK/gw-a$run.jsonl" 2>>"$WORK/gateway.err" &
  BACKGROUND+=($!)
  "$GATEWAY" --air "unix:$WORK/air.sock" --server "udp://127.0.0.1:$port" --name gw-b --eui 4F5256FFFE00000B \
    --at 300,0 --seed 62 --lead-ms "$lead" --events "$WORK/gw-b$run.jsonl" 2>>"$WORK/gateway.err" &
  BACKGROUND+=($!)
  local n at
  for n in n1:120,60 n2:170,-90 n3:-200,0; do
    at="${n#*:}"
    n="${n%%:*}"
    "$FIELD" --speed 0 --seed "${n#n}" --chip-id "00000000000000000000000${n#n}" --load current=5,pf=0.8 --stop-after 3600 \
      --state "$WORK/$n" \
      --air "unix:$WORK/air.sock" --air-name "$n" --air-at "$at" \
      >>"$WORK/$n.out" 2>>"$WORK/$n.err" &
    BACKGROUND+=($!)
  done
  wait_background
  registry "$DB" >"$WORK/registry$run.jsonl"
  "$VANTOR" --db "$DB" --json gateways >"$WORK/gateways$run.jsonl"
}

# Boards switched on at different times (a state folder with its clock and a power-on record, as
# orvane-fleet makes them): nodes that restart together would send in lockstep and collide.
for n in n1:0 n2:7300000 n3:13900000; do
  mkdir -p "$WORK/${n%%:*}"
  echo "${n#*:}" >"$WORK/${n%%:*}/clock"
  echo "csr=0c000000 sr1=00000000" >"$WORK/${n%%:*}/restart"
done
site_run 1 40
python3 "$(dirname "$0")/lib/gateway_site_check.py" provisioned "$WORK" 1 || fail "run 1"
# A setting for n3 (heard by gw-a alone) and for n1 (heard by both).
for uid in $(python3 "$(dirname "$0")/lib/gateway_site_check.py" uids "$WORK" 1); do
  "$VANTOR" --db "$DB" queue add "$uid" sleep 540 >/dev/null || fail "queue add $uid"
done
site_run 2 400
python3 "$(dirname "$0")/lib/gateway_site_check.py" too_late "$WORK" 2 || fail "run 2"
site_run 3 40
python3 "$(dirname "$0")/lib/gateway_site_check.py" delivered "$WORK" 3 || fail "run 3"
kill "$VANTOR_PID"
wait "$VANTOR_PID" || true
echo "PASS"
