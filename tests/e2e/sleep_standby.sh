#!/usr/bin/env bash
# "sleep 5": standby, the RTC wake-up about 6 virtual seconds later (6 periods of 1.024 s), a
# restart that names the standby flag, and the backup registers intact. A power cut clears them.
set -euo pipefail
sim="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

state="$dir/state"
mkdir "$state"
echo "bkp 7f0100fe 12340005 00f70009 00000000 00000000" >"$state/backup-registers"
printf 'print rtc\nsleep 5\nprint rtc\n\001p\nprint rtc\n' | "$sim" --speed 0 --state "$state" \
  2>"$dir/err" | tr -d '\r' >"$dir/out"

grep -q '^ok: sleep 5 (standby now, board will reset on wake)$' "$dir/out" || fail "sleep not acknowledged"
# Virtual time of the standby, from the simulated board's note.
line=$(grep 'orvane-sim: standby at' "$dir/err") || fail "no standby"
grep -q 'RTC wake-up after 6 x 1.024000 s' <<<"$line" || fail "wrong wake-up timer: $line"
read -r t0 t1 < <(sed -E 's/.*standby at t=([0-9.]+) s.*wake at t=([0-9.]+) s.*/\1 \2/' <<<"$line")
awk -v a="$t0" -v b="$t1" 'BEGIN { d = b - a; exit !(d > 6.1439 && d < 6.1441) }' || fail "slept $t0 -> $t1"
clock=$(cat "$state/clock")
awk -v c="$clock" -v b="$t1" 'BEGIN { exit !(c / 1e6 >= b) }' || fail "clock $clock before the wake-up $t1"

# Three starts: pin reset, standby wake-up, power-on.
mapfile -t resets < <(grep -E '^(Reset|boot) cause:' "$dir/out")
[ "${#resets[@]}" = 6 ] || fail "expected three starts: ${resets[*]}"
[ "${resets[2]}" = "Reset cause: unhandled reason CSR=0x00000000" ] || fail "${resets[2]}"
[ "${resets[3]}" = "boot cause: SBF (standby flag set)" ] || fail "${resets[3]}"
[ "${resets[4]}" = "Reset cause: PWRRSTF (power-on/brownout reset)" ] || fail "${resets[4]}"
[ "${resets[5]}" = "boot cause: unhandled reason SR1=0x00000000" ] || fail "${resets[5]}"

tables() { awk '/^RTC backup status:/{n++} n && /^  [a-zA-Z]+ +\|/{print n ": " $0}' "$dir/out"; }
tables >"$dir/tables"
before=$(grep '^1: ' "$dir/tables" | cut -c4-)
woken=$(grep '^2: ' "$dir/tables" | cut -c4-)
cut=$(grep '^3: ' "$dir/tables" | cut -c4-)
grep -q 'loraPacketCounter  *|      65790 | 0x000100FE' <<<"$before" || fail "seeded counter not read: $before"
grep -q 'stableReadCounter  *|        127 | 0x0000007F' <<<"$before" || fail "stable count: $before"
grep -q 'firstStableRawCoarseRMSCurrent |       4660 | 0x00001234' <<<"$before" || fail "current: $before"
[ "$before" = "$woken" ] || fail "backup registers changed across standby"
[ "$(grep -c '|          0 | 0x00000000' <<<"$cut")" = 5 ] || fail "power cut kept the registers: $cut"
echo PASS
