#!/usr/bin/env bash
# orvane-gateway against a scripted server of the gateway's UDP protocol (tests/e2e/lib/gateway_peer.py,
# written from the protocol's published facts): a node asks to be provisioned again and again,
# the gateway forwards every frame as an rxpk that matches the air log (data, size, time, and a
# tmst that follows the frames' ends across the counter's wrap), keeps the way down open with
# PULL_DATA every 10 s of virtual time, reports its status every 30 s, and answers each PULL_RESP
# with the TX_ACK a forwarder gives: sent at the tmst asked for, TOO_LATE inside its 40 ms lead,
# TOO_EARLY beyond 3 s, GPS_UNLOCKED for a GPS time, nothing for a txpk it cannot read.
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/air.sh"
GATEWAY="$(dirname "$SIM")/orvane-gateway"

# Bad command lines are usage errors (status 2), found before the gateway joins any air.
ok=--server=udp://127.0.0.1:1700
for bad in "--server=http://127.0.0.1:1700" "--server=udp://127.0.0.1:99999" "--server=udp://127.0.0.1" \
  "$ok --eui=4F5256FFFE00000" "$ok --eui=4F5256FFFE00000G" "$ok --at=10" "$ok --at=1,x" "$ok --lead-ms=0"; do
  set +e
  # shellcheck disable=SC2086
  "$GATEWAY" --air "unix:$WORK/none.sock" $bad 2>/dev/null
  status=$?
  set -e
  [ "$status" = 2 ] || fail "orvane-gateway $bad: status $status, not 2"
done

script="50000,30000,-,5000000,imme,gps,bad,50000,700000"
python3 "$(dirname "$0")/lib/gateway_peer.py" "$WORK/port" "$WORK/peer.jsonl" "$script" 2>"$WORK/peer.err" &
PEER=$!
trap 'kill "$PEER" 2>/dev/null || true; for p in "${BACKGROUND[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$WORK"' EXIT
for _ in $(seq 200); do
  [ -s "$WORK/port" ] && break
  sleep 0.05
done
[ -s "$WORK/port" ] || fail "the scripted server did not start: $(cat "$WORK/peer.err")"
start_air "$WORK/air.sock" --air-log "$WORK/air.jsonl" --wait-for gw --stop-after 100
# Seed 287 starts the counter 18.2 s before its wrap.
"$GATEWAY" --air "unix:$WORK/air.sock" --server "udp://127.0.0.1:$(cat "$WORK/port")" --name gw --seed 287 \
  --events "$WORK/gw.jsonl" 2>>"$WORK/gateway.err" &
BACKGROUND+=($!)
printf 'provision\n' | "$SIM" --speed 0 --seed 5 --state "$WORK/node" --air "unix:$WORK/air.sock" \
  --stop-after 100 >"$WORK/node.out" 2>&1 || fail "the node on the air"
wait_background

python3 - "$WORK/air.jsonl" "$WORK/peer.jsonl" "$script" <<'PY' || fail "the gateway's protocol"
import base64, datetime, json, sys

air = [json.loads(l) for l in open(sys.argv[1])]
peer = [json.loads(l) for l in open(sys.argv[2])]
script = sys.argv[3].split(",")
problems = []
def check(ok, what):
    if not ok:
        problems.append(what)

ups = [a for a in air if a["sender"] == "node"]
downs = [a for a in air if a["sender"] == "gateway"]
got = [p for p in peer if p["dir"] == "in"]
sent = [p for p in peer if p["dir"] == "out"]
check(len(ups) >= len(script), f"only {len(ups)} frames from the node")
check(got[0]["id"] == 2 and got[0]["eui"] == "4F5256FFFE000001", "the first datagram is no PULL_DATA with the EUI")
down_ports = {p["port"] for p in got if p["id"] == 2}
up_ports = {p["port"] for p in got if p["id"] == 0}
check(len(down_ports) == 1 and len(up_ports) == 1 and down_ports != up_ports,
      f"PULL_DATA from {down_ports}, PUSH_DATA from {up_ports}: one socket each way")
check(all(p["version"] == 2 for p in got), "a datagram of another version")

# Every frame of the node as one rxpk, in order.
rxpk = [r for p in got if p["id"] == 0 for r in p.get("json", {}).get("rxpk", [])]
check(len(rxpk) == len(ups), f"{len(rxpk)} rxpk for {len(ups)} frames")
epoch = datetime.datetime(2026, 1, 1, tzinfo=datetime.timezone.utc)
wrapped = False
for i, (r, a) in enumerate(zip(rxpk, ups)):
    end = a["t_us"] + a["toa_us"]
    data = base64.b64decode(r["data"])
    check(data.hex().upper() == a["hex"] and r["size"] == len(data), f"rxpk {i}: data or size")
    when = epoch + datetime.timedelta(microseconds=end)
    check(r["time"] == when.strftime("%Y-%m-%dT%H:%M:%S.%fZ"), f"rxpk {i}: time {r['time']}")
    check((r["freq"], r["chan"], r["rfch"], r["stat"], r["modu"], r["datr"], r["codr"]) ==
          (868.0, 3, 0, 1, "LORA", "SF7BW125", "4/5"), f"rxpk {i}: radio fields {r}")
    # No positions: 80 dB of loss; the noise floor of 125 kHz is -174 + 51 + 6 (noise figure) = -117 dBm.
    signal = a["power_dbm"] - 80
    check(r["rssi"] == signal and r["lsnr"] == signal + 117, f"rxpk {i}: rssi {r['rssi']} lsnr {r['lsnr']}")
    if i:
        prev = ups[i - 1]["t_us"] + ups[i - 1]["toa_us"]
        check((r["tmst"] - rxpk[i - 1]["tmst"]) % (1 << 32) == end - prev, f"rxpk {i}: tmst does not follow the air")
        wrapped = wrapped or r["tmst"] < rxpk[i - 1]["tmst"]
check(wrapped, "the counter never wrapped")

# The answers: TX_ACK on the way down, with the PULL_RESP's token.
acks = [p for p in got if p["id"] == 5]
resps = [p for p in sent if p["id"] == 3]
expected = {"imme": "NONE", "gps": "GPS_UNLOCKED", "-": None, "bad": None, "30000": "TOO_LATE",
            "5000000": "TOO_EARLY"}
want = [expected.get(e, "NONE") for e in (script[i % len(script)] for i in range(len(rxpk)))]
check([a["json"]["txpk_ack"]["error"] for a in acks] == [w for w in want if w], f"TX_ACKs {acks}")
answered = [r for r, e in zip(resps, [e for e in (script[i % len(script)] for i in range(len(rxpk))) if e != "-"])
            if e != "bad"]
check([a["token"] for a in acks] == [r["token"] for r in answered], "TX_ACK tokens")
check(all(a["port"] in down_ports for a in acks), "a TX_ACK not on the way down")
# What was sent went on the air at the frame's end plus the delay (imme: plus the 40 ms lead).
starts = []
for i, a in enumerate(ups):
    e = script[i % len(script)]
    if want[i] == "NONE":
        starts.append(a["t_us"] + a["toa_us"] + (40000 if e == "imme" else int(e)))
check([d["t_us"] for d in downs] == starts, f"transmissions at {[d['t_us'] for d in downs]}, not {starts}")
check(all((d["hex"], d["sync"], d["iq"], d["freq_hz"], d["sf"], d["power_dbm"]) ==
          ("0D010000", "0x12", "normal", 868000000, 7, 14) for d in downs), "a transmission's settings")

# Keep-alive every 10 s of virtual time from the start, status every 30 s.
last = max(a["t_us"] + a["toa_us"] for a in air)
pulls = sum(1 for p in got if p["id"] == 2)
check(pulls == 1 + last // 10_000_000, f"{pulls} PULL_DATA up to {last} us")
stats = [p["json"]["stat"] for p in got if p["id"] == 0 and "stat" in p.get("json", {})]
check(len(stats) == last // 30_000_000, f"{len(stats)} stat up to {last} us")
first = stats[0]
heard = sum(1 for a in ups if a["t_us"] + a["toa_us"] <= 30_000_000)
check((first["time"], first["rxnb"], first["rxok"], first["rxfw"], first["txnb"]) ==
      ("2026-01-01 00:00:30 GMT", heard, heard, heard, sum(1 for d in downs if d["t_us"] <= 30_000_000)),
      f"the first status {first}")
for p in problems:
    print("FAIL:", p)
sys.exit(1 if problems else 0)
PY
echo "PASS"
