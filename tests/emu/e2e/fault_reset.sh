#!/usr/bin/env bash
# A HardFault, and an interrupt the image has no handler for, on the image (orvane-emu --fault-at,
# injected by the emulated chip: nothing in the image is there for the test). The fault handler
# records the exception and the stacked PC in the backup registers and resets; the next start tells
# them once, after its reset cause, and goes on. The field image is not left dead either.
source "$(dirname "$0")/lib.sh"

FAULT_LINE='^Fault before this start: exception ([0-9]+) \(([a-zA-Z ]+)\) at PC 0x(0800[0-9A-F]{4})$'

# bench STATE [options]: the bench image, nothing typed, for 6 s of virtual time.
bench() { run_emu "$1" --image "$IMAGE" --no-vantor --stop-after 6 "${@:2}" </dev/null 2>"$1.err"; }

# name | --fault-at | exception | its name
while IFS='|' read -r name option exception label; do
  out=$(bench "$WORK/$name" --fault-at "$option") || fail "$name: exit status"
  [ "$(grep -c '^Reset cause:' <<<"$out")" = 2 ] || fail "$name: one reset after the fault"
  second=$(start_n "$out" 2)
  expect_contains "$second" "Reset cause: SFTRSTF (software reset)" "$name: the reset"
  line=$(grep -E "$FAULT_LINE" <<<"$second") || fail "$name: no fault line after the reset"
  [[ $line =~ $FAULT_LINE ]]
  [ "${BASH_REMATCH[1]}" = "$exception" ] && [ "${BASH_REMATCH[2]}" = "$label" ] || fail "$name: $line"
  # The stacked PC is an instruction of the image's code.
  pc=$((16#${BASH_REMATCH[3]}))
  text_end=$(arm-none-eabi-size -A "$IMAGE" | awk '$1 == ".text" {print $2 + $3}')
  [ "$pc" -lt "$text_end" ] || fail "$name: $line is outside the code"
  expect_contains "$second" "sample [full|hp|lp]" "$name: the start after the fault reaches the shell"
  # Told once: the next start (the reset button) has no fault line.
  again=$(bench "$WORK/$name") || fail "$name: exit status of the next start"
  grep -qE "$FAULT_LINE" <<<"$again" && fail "$name: the fault was told twice"
done <<'CASES'
hard|3000|3|HardFault
stray|3000:25|41|unexpected interrupt
CASES

# The field image: a fault in its first cycle, then the cycles go on.
out=$(run_emu "$WORK/field" --image "$FIELD_IMAGE" --load current=5 --stop-after 1300 --fault-at 1000 </dev/null 2>/dev/null) ||
  fail "field: exit status"
grep -qE "$FAULT_LINE" <<<"$out" || fail "field: no fault line"
[ "$(grep -c 'field: standby' <<<"$out")" -ge 2 ] || fail "field: the node did not go on after the fault"
# Values the option refuses.
for bad in "" -5 1000:32 1000:-1 1000: 1000:x; do
  "$EMU" --image "$IMAGE" --state "$WORK/bad" --fault-at "$bad" </dev/null >/dev/null 2>"$WORK/err" && fail "--fault-at '$bad' accepted"
  grep -q 'fault-at takes MS' "$WORK/err" || fail "--fault-at '$bad': no message"
done
echo PASS
