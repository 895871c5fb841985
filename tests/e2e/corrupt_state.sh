#!/usr/bin/env bash
# A configuration record or backup registers holding any values their layout allows (a page written
# by another firmware, a damaged RTC domain) still give a working node: measuring, the transmission
# cycle, a receive window and a repeat run complete, the radio stays within 0..14 dBm, and the next
# command is answered.
source "$(dirname "$0")/lib/common.sh"

printf 'set uid 0x12AB\nsave\n' | run_sim "$WORK/base" >/dev/null || fail "exit status (base)"

# name | record edits (offset:struct format:value, ...) | backup registers (0 1 2)
cases=(
  "phase nan|0:<f:nan|"
  "phase -inf|0:<f:-inf|"
  "phase 1e30|0:<f:1e30|"
  "sleep limit 0|92:<f:0|"
  "sleep limit nan|92:<f:nan|"
  "mapping nan and inf|28:<f:nan,32:<f:inf|"
  "mapping descending|4:<f:60,12:<f:50,20:<f:40,28:<f:30,36:<f:20,44:<f:10,52:<f:5,60:<f:2,68:<f:1,76:<f:0.5,84:<f:0|"
  "mapping all zero|$(python3 -c "print(','.join(f'{4+4*i}:<f:0' for i in range(22)))")|"
  "debug rate 0|116:<H:0|"
  "flag byte 0xFF|115:<B:255|"
  "downlink counter max|124:<I:4294967295|"
  "counters at their ends, power 127||ffffffff ffffffff 007fffff"
  "power -128||ffffffff ffffffff 0080ffff"
  "power 20, counter before wrap||00fffffe 0 00140000"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name edits regs <<<"$c"
  state="$WORK/${name// /_}"
  cp -r "$WORK/base" "$state"
  python3 - "$state/flash-page.bin" "$edits" <<'PY'
import struct, sys
page = bytearray(open(sys.argv[1], "rb").read())
for item in filter(None, sys.argv[2].split(",")):
    off, fmt, val = item.split(":")
    v = float(val) if "f" in fmt else int(val)
    struct.pack_into(fmt, page, int(off), v)
open(sys.argv[1], "wb").write(page)
PY
  [ -z "$regs" ] || echo "bkp $regs 0 0" >"$state/backup-registers"
  out=$(printf 'sample\ntx\ntx p5 300\nevery 2 1\ninfo\nhelp\n' |
    timeout 120 "$SIM" --speed 0 --state "$state" --air-log "$state/air.jsonl" | tr -d '\r') ||
    fail "$name: the node did not finish (status $?)"
  for line in "=== sample full ===" "ok: tx done" "ok: tx p5 done" "ok: every done (2 samples)" "ok: info"; do
    expect_contains "$out" "$line" "$name"
  done
  [ "$(count_of "$out" "ok: help")" = 2 ] || fail "$name: the last command was not answered"
  python3 - "$state/air.jsonl" <<'PY' || fail "$name: transmit power"
import json, sys
powers = {json.loads(l)["power_dbm"] for l in open(sys.argv[1])}
assert powers and all(0 <= p <= 14 for p in powers), powers
PY
done
echo "corrupt records and backup registers: ok"
