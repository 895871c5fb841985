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
# A board whose RTC domain holds values, seeded in the state folder's text form of the five
# registers (sim/state_folder.md): packet counter 0x0100FE with stable-read count 127; time since
# the last transmission 5 under first coarse current 0x1234; time since the last reception 9
# under TX power 0xF7 (-9 dBm). No command sets them: the firmware only counts them up.
echo "bkp 7f0100fe 12340005 00f70009 00000000 00000000" >"$state/backup-registers"
printf 'print rtc\nsleep 5\nprint rtc\n\001p\nprint rtc\n' | "$sim" --speed 0 --state "$state" \
  --events "$dir/events.jsonl" 2>/dev/null | tr -d '\r' >"$dir/out"

grep -q '^ok: sleep 5 (standby now, board will reset on wake)$' "$dir/out" || fail "sleep not acknowledged"
# Virtual times of the standby and of the wake-up, from the board's event log.
python3 - "$dir/events.jsonl" "$(cat "$state/clock")" <<'PY' || fail "standby and wake-up in the event log"
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
standby = [e for e in events if e["event"] == "standby"]
assert len(standby) == 1, standby
s = standby[0]
assert s["periods"] == 6 and s["period_s"] == 1.024, s  # the hardware wakes after counter + 1 periods
assert s["wake_us"] - s["t_us"] == 6144000, s
starts = [e for e in events if e["event"] == "start"]
assert [e["kind"] for e in starts] == ["pin-reset", "standby-wake", "power-on"], starts
assert starts[1]["t_us"] == s["wake_us"] and starts[1]["csr"] == "0x00000000", starts[1]
assert int(sys.argv[2]) >= s["wake_us"], "clock before the wake-up"
PY

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
