#!/usr/bin/env bash
# "save" then "reset" on the image: the record is programmed by the image's own flash code (page
# erase, then double words, through the flash interface's registers) and the software reset's start
# takes it.
source "$(dirname "$0")/lib.sh"

printf 'set uid 0x12ABCD\nset phase 0.25\nsave\nreset\nprint prov\n' |
  run_emu "$WORK/s" --no-vantor --events "$WORK/events" >"$WORK/out" 2>/dev/null || fail "exit status"
out=$(cat "$WORK/out")
expect_contains "$out" "ok: save (config.ok now yes)" "save"
after=$(start_n "$out" 2)
expect_contains "$after" "Reset cause: SFTRSTF (software reset)" "the start after reset"
expect_contains "$after" "UID (u24): 1223629 (0x12ABCD)" "the record after reset"
grep -q "uid not committed" <<<"$after" && fail "the record after reset is not valid"
python3 - "$WORK/events" "$WORK/s/flash-page.bin" <<'PY' || fail "flash writes"
import json, struct, sys
events = [json.loads(line) for line in open(sys.argv[1])]
flash = [e["event"] for e in events if e["event"].startswith("flash-")]
# One erase, then the uplink checkpoint and the 16 double words of the record.
assert flash == ["flash-erase"] + ["flash-program"] * 17, flash
page = open(sys.argv[2], "rb").read()
magic, = struct.unpack_from("<I", page, 120)
assert magic == 0x80988604, hex(magic)
assert page[112:115] == bytes([0xCD, 0xAB, 0x12]), page[112:115].hex()
PY
echo PASS
