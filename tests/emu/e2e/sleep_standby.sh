#!/usr/bin/env bash
# "sleep 5" on the image: the chip enters standby (the RTC wake-up timer set to 5 + 1 periods of its
# 1 Hz clock, the supplies' enables held low by PWR's pull-downs, every other traced pin let go) and
# wakes from it as a standby wake-up (SBF, the internal wake-up line), the backup registers kept.
source "$(dirname "$0")/lib.sh"

# A board whose RTC domain holds a packet counter of 0x0100FE (sim/state_folder.md).
mkdir "$WORK/s"
echo "bkp 7f0100fe 12340005 00f70009 00000000 00000000" >"$WORK/s/backup-registers"
printf 'sleep 5\nprint rtc\n' | run_emu "$WORK/s" --no-vantor --events "$WORK/events" >"$WORK/out" 2>/dev/null ||
  fail "exit status"
out=$(cat "$WORK/out")
expect_contains "$out" "ok: sleep 5 (standby now, board will reset on wake)" "sleep"
after=$(start_n "$out" 2)
expect_contains "$after" "boot cause: SBF (standby flag set)" "the start after standby"
grep -Eq 'loraPacketCounter *\| *65790 \| 0x000100FE$' <<<"$after" || fail "the backup registers did not survive standby"
python3 - "$WORK/events" <<'PY' || fail "standby events"
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
standby = [e for e in events if e["event"] == "standby"]
assert len(standby) == 1, standby
s = standby[0]
assert s["periods"] == 6 and abs(s["period_s"] - 1.024) < 1e-9, s
floating = s["floating"].split()
assert "radio_supply_PA8" not in floating and "stage1_supply_PB5" not in floating, floating
assert "radio_cs_PB12" in floating, floating
starts = [e["kind"] for e in events if e["event"] == "start"]
assert starts == ["pin-reset", "standby-wake"], starts
wake = next(e for e in events if e["event"] == "start" and e["kind"] == "standby-wake")
assert wake["t_us"] == s["wake_us"], (wake, s)
PY
echo PASS
