"""A scripted server of the gateway's UDP protocol, for the protocol-level test of orvane-gateway.

Written from the protocol's published facts alone, not from our codec: it acknowledges PUSH_DATA
and PULL_DATA at once, answers the n-th frame forwarded as the n-th entry of its script says,
through the address of the latest PULL_DATA, and writes every datagram it got or sent as one JSON
line ("dir": "in" or "out").

    gateway_peer.py PORT_FILE LOG ENTRY[,ENTRY...]

An entry: DELAY_US (txpk at the frame's tmst plus the delay, modulo 2^32), "imme", "gps" (a GPS
time), "bad" (data that is no base64) or "-" (no answer).
"""
import base64
import json
import os
import socket
import sys

port_file, log_path, script = sys.argv[1], sys.argv[2], sys.argv[3].split(",")
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", 0))
with open(port_file + ".tmp", "w") as f:
    f.write(str(sock.getsockname()[1]))
os.rename(port_file + ".tmp", port_file)
log = open(log_path, "a")
down = None
frames = 0
token = 0x4000


def record(direction, data, addr):
    rec = {"dir": direction, "version": data[0], "token": int.from_bytes(data[1:3], "big"), "id": data[3],
           "port": addr[1]}
    body = data[4:]
    if direction == "in" and data[3] in (0, 2, 5):
        rec["eui"], body = body[:8].hex().upper(), body[8:]
    if body:
        rec["json"] = json.loads(body)
    log.write(json.dumps(rec) + "\n")
    log.flush()


def send(data, addr):
    record("out", data, addr)
    sock.sendto(data, addr)


while True:
    data, addr = sock.recvfrom(65535)
    if len(data) < 4:
        continue
    record("in", data, addr)
    ver, tok, ident = data[0], data[1:3], data[3]
    if ident == 2:
        down = addr
        send(bytes([ver]) + tok + b"\x04", addr)
    elif ident == 0:
        send(bytes([ver]) + tok + b"\x01", addr)
        for rx in json.loads(data[12:]).get("rxpk", []):
            entry = script[frames % len(script)]
            frames += 1
            if entry == "-" or down is None:
                continue
            txpk = {"freq": 868.0, "rfch": 0, "powe": 14, "modu": "LORA", "datr": "SF7BW125", "codr": "4/5",
                    "ipol": False, "prea": 8, "size": 4, "data": base64.b64encode(bytes([0x0D, 1, 0, 0])).decode()}
            if entry == "imme":
                txpk["imme"] = True
            elif entry == "gps":
                txpk["time"] = "2026-01-01T00:00:30.000000Z"
            else:
                txpk["tmst"] = (rx["tmst"] + (0 if entry == "bad" else int(entry))) % (1 << 32)
            if entry == "bad":
                txpk["data"] = "!!!!"
            token += 1
            send(bytes([2]) + token.to_bytes(2, "big") + b"\x03" + json.dumps({"txpk": txpk}).encode(), down)
