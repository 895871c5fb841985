#!/usr/bin/env bash
# Runs a self-test image on QEMU's micro:bit (Cortex-M0) and prints its semihosting output.
#   run_qemu.sh IMAGE.elf
set -uo pipefail
out=$(mktemp)
trap 'rm -f "$out"' EXIT
qemu-system-arm -M microbit -display none -monitor none -serial null -icount shift=0 \
  -chardev file,id=console,path="$out" -semihosting-config enable=on,target=native,chardev=console \
  -kernel "$1"
rc=$?
cat "$out"
exit $rc
