#!/usr/bin/env bash
# Transceiver faults during the real flows (the cycle, a window after packet 5, a plain window): each
# ends in its documented lines, every command closes with its "ok:" line, the shell takes the next
# command, the record is untouched, and once the fault is gone the cycle and the handshake work.
source "$(dirname "$0")/lib/common.sh"

KEY=00112233445566778899AABBCCDDEEFF
printf 'set uid 0x12AB\nset hmacHash %s\nsave\n' "$KEY" | run_sim "$WORK/seed" >/dev/null || fail "exit status (seed)"
view() { printf 'print prov\n' | run_sim "$1" | sed -n '/Current Provisioning:/,/clampMapping\[10\]/p'; }
before=$(view "$WORK/seed")

# fault | a line it must leave on the console
cases=(
  "absent|err: radio did not init (check supply and SPI)"
  "busy-stuck|warn: the radio never entered RX -- check the lora switch pin and SPI"
  "busy-stuck-after-command|warn: the radio never entered RX -- check the lora switch pin and SPI"
  "spi-error=1000000|warn: the radio never entered RX -- check the lora switch pin and SPI"
  "irq-silent|warn: no IRQ before the poll limit -- the radio stopped answering, suspect SPI"
  "device-errors-persist=0x0041|LoRa: persistent device errors 0x0041 (RC64K,PLL_LOCK) during pre-tx error check #1"
  "device-errors=0x0041@1200|LoRa: clearing device errors 0x0041 during pre-tx error check #1"
  "busy-stuck@1500|LoRa: BUSY timeout during pre-tx idle check #1"
  "irq-silent@900|warn: no IRQ before the poll limit -- the radio stopped answering, suspect SPI"
)
for c in "${cases[@]}"; do
  IFS='|' read -r fault line <<<"$c"
  state="$WORK/${fault//[=@]/_}"
  cp -r "$WORK/seed" "$state"
  out=$(printf 'radio on\ntx\ntx p5 300\nrx 200\nhelp\n' | timeout 300 "$SIM" --speed 0 --state "$state" \
    --radio-fault "$fault" | tr -d '\r') || fail "$fault: the node did not finish (status $?)"
  expect_contains "$out" "$line" "$fault"
  for done in "ok: tx done" "ok: tx p5 done" "ok: rx done"; do expect_contains "$out" "$done" "$fault"; done
  [ "$(count_of "$out" "ok: help")" = 2 ] || fail "$fault: the next command was not answered"
  [ "$(view "$state")" = "$before" ] || fail "$fault: the record changed"
  # The fault gone (a fresh start without it): the cycle goes on the air again.
  printf 'tx\n' | run_sim "$state" --air-log "$state/air.jsonl" >/dev/null || fail "$fault: exit status after"
  grep -q '"hex":"0[35]AB1200' "$state/air.jsonl" || fail "$fault: no packet 3 once the fault was gone"
done

# A passing SPI fault in the middle of a provisioning: the handshake goes on and ends.
CHIP=00112233445566778899AABB
NEWKEY=C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF
assign=$("$FRAME_TOOL" p13 0 5A5A01 "$CHIP" assign "$NEWKEY") || fail "frame tool"
confirm=$("$FRAME_TOOL" p13 "$NEWKEY" 5A5A01 "$CHIP" confirm "$NEWKEY") || fail "frame tool"
printf 'in_rx_ms=200 data=%s\nin_rx_ms=600 data=%s\n' "$assign" "$confirm" >"$WORK/prov.txt"
out=$(printf 'provision\nhelp\n' | timeout 300 "$SIM" --speed 0 --state "$WORK/prov" --no-vantor --chip-id "$CHIP" \
  --air-script "$WORK/prov.txt" --radio-fault spi-error=40 | tr -d '\r') || fail "handshake: status $?"
expect_contains "$out" "ok: provision done (uid 0x5A5A01, config.ok yes)" "handshake after a passing fault"
[ "$(count_of "$out" "ok: help")" = 2 ] || fail "handshake: the next command was not answered"
echo "radio faults in the flows: ok"
