#!/usr/bin/env bash
# The power lost at every step of every commit: as each erase starts and after each double word
# (16 of the record, and the counters before them) of "save", of the provisioning assign and of a
# remote setting. After each cut the
# node runs on the previous record or on the defaults (the page then holds nothing valid), never
# on a mix of old and new, and the next commit works.
source "$(dirname "$0")/lib/common.sh"

CHIP=00112233445566778899AABB
KEY=00112233445566778899AABBCCDDEEFF
NEWKEY=C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF

# The provisioning printout, the node's whole view of its record (last block of a transcript).
prov_of() { awk '/^    Current Provisioning:$/{b=""; on=1; next} on{b=b $0 "\n"} /^clampMapping\[10\]/{on=0} END{printf "%s", b}' <<<"$1"; }

# Reference views: the defaults, and the record the commits start from.
defaults=$(prov_of "$(printf 'print prov\n' | run_sim "$WORK/fresh")") || fail "defaults"
# The seed sends a frame, so that the runs below program no uplink counter checkpoint of their own
# before the commit under test.
printf 'set uid 0x12AB\nset hmacHash %s\nset phase 0.25\nsave\ntx p5\n' "$KEY" |
  run_sim "$WORK/seed" --no-vantor >/dev/null || fail "seed"
old=$(prov_of "$(printf 'print prov\n' | run_sim "$WORK/seed")") || fail "seed view"
[ "$defaults" != "$old" ] || fail "the reference views do not differ"

# check NAME CUT TRANSCRIPT: the view printed after the cut, and the commit after it.
check() {
  local name="$1" cut="$2" out="$3" want after view
  grep -q 'power cut during a flash write' "$WORK/err" || fail "$name $cut: no power cut"
  after=$(awk '/^Reset cause:/{n++} n>=2' <<<"$out")
  grep -q '^Reset cause: PWRRSTF (power-on/brownout reset)$' <<<"$after" || fail "$name $cut: not a power-on"
  view=$(prov_of "$after")
  want="$defaults"
  [ "$cut" = erase ] && want="$4"
  [ "$view" = "$want" ] || fail "$name $cut: the node runs on neither the previous record nor the defaults"
  grep -q '^ok: save (config.ok now yes)$' <<<"$after" || fail "$name $cut: the next commit failed"
}

# A commit programs the record's 16 double words after its downlink counter (when not 0) and the
# uplink counter checkpoint: 17 for "save" and the assign, 18 for the remote setting.
steps="erase $(seq 0 16)"
steps18="$steps 17"

# "save" of a staged identity, key and phase over the seed record.
for cut in $steps; do
  cp -r "$WORK/seed" "$WORK/save-$cut"
  out=$(printf 'set uid 0x34CD\nset hmacHash %s\nset phase -0.5\nsave\nprint prov\nsave\n' "$NEWKEY" |
    run_sim "$WORK/save-$cut" --flash-power-cut "$cut" 2>"$WORK/err") || fail "save $cut: exit status"
  check save "$cut" "$out" "$old"
done

# The assign of a provisioning on a fresh node: the handshake runs again after the cut and ends.
assign=$("$FRAME_TOOL" p13 0 5A5A01 "$CHIP" assign "$NEWKEY") || fail "frame tool"
confirm=$("$FRAME_TOOL" p13 "$NEWKEY" 5A5A01 "$CHIP" confirm "$NEWKEY") || fail "frame tool"
printf 'in_rx_ms=200 data=%s\nin_rx_ms=600 data=%s\n' "$assign" "$confirm" >"$WORK/prov.txt"
for cut in $steps; do
  out=$(printf 'provision\nprint prov\nprovision\nsave\n' |
    run_sim "$WORK/prov-$cut" --no-vantor --chip-id "$CHIP" --air-script "$WORK/prov.txt" --flash-power-cut "$cut" \
      2>"$WORK/err") || fail "assign $cut: exit status"
  check assign "$cut" "$out" "$defaults"
  expect_contains "$out" "ok: provision done (uid 0x5A5A01, config.ok yes)" "assign $cut: handshake after the cut"
done

# A remote phase setting committed in the window of "tx p5".
phase=$("$FRAME_TOOL" p14 "$KEY" 12AB 1 2 0 0 0 0 0 0 0 0xBF000000) || fail "frame tool"
printf 'in_rx_ms=100 data=%s\n' "$phase" >"$WORK/set.txt"
for cut in $steps18; do
  cp -r "$WORK/seed" "$WORK/set-$cut"
  out=$(printf 'tx p5\nprint prov\nsave\n' |
    run_sim "$WORK/set-$cut" --no-vantor --air-script "$WORK/set.txt" --flash-power-cut "$cut" 2>"$WORK/err") ||
    fail "setting $cut: exit status"
  expect_contains "$out" "RX14 SET_PhaseShift: inductive50HzPhaseCorrection 0.2500 -> -0.5000 rad, committing flash" \
    "setting $cut: applied"
  check setting "$cut" "$out" "$old"
done
echo "power lost at every step of every commit: ok"
