#!/usr/bin/env bash
# A valid configuration record whose phase correction is a huge finite value (a damaged page or an
# older firmware can leave one) must not stop the node: "sample" completes and the next command is
# handled.
source "$(dirname "$0")/lib/common.sh"

printf 'save\n' | run_sim "$WORK/base" >/dev/null || fail "exit status (base record)"
for value in 1e30 -3e38; do
  state="$WORK/s$value"
  mkdir "$state"
  cp "$WORK/base/flash-page.bin" "$state/"
  # The phase correction is the record's first field: an IEEE single, little-endian.
  python3 -c "import struct,sys; sys.stdout.buffer.write(struct.pack('<f', float('$value')))" |
    dd of="$state/flash-page.bin" bs=1 seek=0 conv=notrunc status=none
  out="$(printf 'sample\nhelp\n' | timeout 60 "$SIM" --speed 0 --state "$state" | tr -d '\r')" ||
    fail "phase $value: the node did not finish (status $?)"
  expect_contains "$out" "=== sample full ===" "phase $value: sample ran"
  expect_contains "${out#*=== sample full ===}" "ok: help" "phase $value: the next command is handled"
done
echo "huge phase correction: ok"
