#!/usr/bin/env bash
# The shell start measures the supply and the temperature of the simulated chip: the scenario's
# VDDA and temperature come back in the boot lines, from the command line or from a file; a bad
# scenario is refused before the board starts.
source "$(dirname "$0")/lib/common.sh"

out="$(printf '' | run_sim "$WORK/a" --load vdda=3.05,temp=41.5)" || fail "exit status"
expect_contains "$out" "boot: calibrating vref" "reference step"
mv="$(sed -n 's/.*VDDA estimated at (\([0-9]*\)) mV.*/\1/p' <<<"$out")"
[ -n "$mv" ] && [ "$mv" -ge 3040 ] && [ "$mv" -le 3060 ] || fail "VDDA 3050 mV expected, got '$mv'"
t="$(sed -n 's/^Temperature: \([0-9-]*\)\..*/\1/p' <<<"$out")"
[ "$t" = "41" ] || [ "$t" = "40" ] || [ "$t" = "42" ] || fail "temperature 41.5 C expected, got '$t'"
echo "scenario on the command line: ok"

printf '# bench supply\nvdda=2.9\ntemp=-5  # cold\n' >"$WORK/scenario.txt"
out="$(printf '' | run_sim "$WORK/b" --load-file "$WORK/scenario.txt")" || fail "exit status (file)"
mv="$(sed -n 's/.*VDDA estimated at (\([0-9]*\)) mV.*/\1/p' <<<"$out")"
[ "$mv" -ge 2890 ] && [ "$mv" -le 2910 ] || fail "VDDA 2900 mV expected from the file, got '$mv'"
echo "scenario from a file: ok"

if "$SIM" --speed 0 --state "$WORK/c" --load vdda=9 </dev/null >/dev/null 2>"$WORK/err"; then fail "bad scenario accepted"; fi
grep -qF "vdda must be" "$WORK/err" || fail "bad scenario message"
echo "bad scenario refused: ok"
