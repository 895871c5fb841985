#!/usr/bin/env bash
# A captured downlink replayed after a reset or a power cut of the node is never applied or answered,
# also when it changed nothing in flash (a transmit power, a toggle, a value already in place).
source "$(dirname "$0")/lib/common.sh"

KEY=00112233445566778899AABBCCDDEEFF
printf 'set uid 0x12AB\nset hmacHash %s\nsave\n' "$KEY" | run_sim "$WORK/seed" >/dev/null || fail "exit status (seed)"

# name, frame arguments (counter 5), the line that shows it applied
cases=(
  "power|5 5 12|RX14 SET_TxPowerDbm: txPowerDbm 0 -> 12 dBm (RTC)"
  "toggle|5 1|LoRa RX: applied RXPacket14 (opcode=0x0001), acked"
  "unchanged|5 3 100|  reason: unknown (copiesOk=yes)"
  "phase|5 2 0 0 0 0 0 0 0 0x3E800000|RX14 SET_PhaseShift: inductive50HzPhaseCorrection 0.0000 -> 0.2500 rad, committing flash"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name args shown <<<"$c"
  # shellcheck disable=SC2086
  frame=$("$FRAME_TOOL" p14 "$KEY" 12AB $args) || fail "frame tool"
  printf 'in_rx_ms=100 data=%s\n' "$frame" >"$WORK/air-$name.txt"
  for restart in reset power; do
    state="$WORK/$name-$restart"
    cp -r "$WORK/seed" "$state"
    # The frame in the first window, then the same frame in the first window after the restart.
    if [ "$restart" = reset ]; then input='tx p5\nreset\ntx p5\n'; else input='tx p5\n\001p\ntx p5\n'; fi
    out=$(printf "$input" | run_sim "$state" --no-vantor --air-script "$WORK/air-$name.txt" 2>/dev/null) ||
      fail "$name/$restart: exit status"
    first=$(awk '/^Reset cause:/{n++} n==1' <<<"$out")
    second=$(awk '/^Reset cause:/{n++} n==2' <<<"$out")
    expect_contains "$first" "$shown" "$name/$restart: applied the first time"
    expect_contains "$first" "Payload (packet 17):" "$name/$restart: answered the first time"
    expect_contains "$second" "Payload (RX packet 14):" "$name/$restart: the replay was received"
    ! grep -qF -- "$shown" <<<"$second" || fail "$name/$restart: the replay was applied"
    ! grep -q "Payload (packet 17):" <<<"$second" || fail "$name/$restart: the replay was answered"
  done
done
echo "downlinks replayed after a restart: ok"
