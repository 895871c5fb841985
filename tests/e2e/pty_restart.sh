#!/usr/bin/env bash
# A board on a pseudo-terminal keeps its console across a restart (each start is a fresh process
# image; the pty's descriptor is carried over as exec would), and a terminate signal to orvane-sim
# ends it with no start left behind.
set -euo pipefail
sim="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

python3 - "$sim" "$dir" <<'PY'
import os, select, signal, subprocess, sys, time
sim, d = sys.argv[1], sys.argv[2]
link = d + "/pty"
p = subprocess.Popen([sim, "--console", "pty", "--pty-link", link, "--state", d + "/state", "--speed", "0",
                      "--no-vantor"], stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
def fail(why):
    p.kill()
    sys.exit("FAIL: " + why)
for _ in range(100):
    if os.path.exists(link): break
    time.sleep(0.1)
else:
    fail("no pty")
fd = os.open(link, os.O_RDWR | os.O_NOCTTY)
# What was read and not yet matched stays for the next wait: a start's lines and its prompt can
# come in one read.
pending = b""
def read_until(text, seconds=20):
    global pending
    want, end = text.encode(), time.time() + seconds
    while time.time() < end and want not in pending:
        if select.select([fd], [], [], 0.2)[0]:
            pending += os.read(fd, 4096)
    at = pending.find(want)
    if at < 0: return False
    pending = pending[at + len(want):]
    return True
read_until("> ") or fail("no shell after the power-on")
os.write(fd, b"reset\r\n")
read_until("Reset cause") or fail("no start after the reset")
read_until("> ") or fail("no shell after the reset")
os.write(fd, b"info\r\n")
read_until("ok: info") or fail("the console was lost over the restart")
# The start that runs now is a child of the process we started: it must end with it.
def children_of(pid):
    found = []
    for entry in os.listdir("/proc"):
        try:
            stat = open("/proc/%s/stat" % entry).read()
        except (OSError, ValueError):
            continue
        if entry.isdigit() and int(stat.rsplit(")", 1)[1].split()[1]) == pid: found.append(entry)
    return found
children = children_of(p.pid)
if not children: fail("no start running")
p.send_signal(signal.SIGTERM)
p.wait(timeout=10)
if p.returncode != -signal.SIGTERM: fail("exit %s, not the terminate signal" % p.returncode)
time.sleep(0.5)
for c in children:
    if os.path.exists("/proc/" + c): fail("a start outlived orvane-sim")
PY
