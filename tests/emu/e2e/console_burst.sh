#!/usr/bin/env bash
# The console burst on the image: sixty "print vref NN" in one burst, and "sample" ahead of forty
# more. What the ring cannot hold is reported and never spliced into a command; reception restarts
# in time at 115200 baud on the chip's 4 MHz (no overrun while a restart waits).
source "$(dirname "$0")/lib.sh"

for i in $(seq 10 69); do echo "print vref $i"; done >"$WORK/vref"
{ echo sample; for i in $(seq 10 49); do echo "print vref $i"; done; } >"$WORK/sample"
for burst in vref sample; do
  out=$(run_emu "$WORK/$burst-state" --image "$IMAGE" --no-vantor --burst <"$WORK/$burst") || fail "$burst: exit status"
  ran=$(check_burst "$out" "$WORK/$burst")
  [ "$ran" -ge 20 ] || fail "$burst: only $ran lines ran"
  grep -q '^err: uart rx error' <<<"$out" && fail "$burst: the USART overran"
done
echo PASS
