#!/usr/bin/env bash
# "radio on" and "pin lora": the chip report of a working radio, the error of a missing one, and the
# radio options of orvane-sim (air log, scripted transmitter, faults).
set -euo pipefail
sim="$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

printf '# a frame from the scripted transmitter, logged like any transmission\nat_ms=5 data=0D0102 rssi=-70\n' >"$tmp/air.txt"
out=$(printf 'radio on\npin lora off\npin lora on\nradio on now\npin lora\n' |
  "$sim" --state "$tmp/s1" --speed 0 --air-log "$tmp/air.jsonl" --air-script "$tmp/air.txt" | tr -d '\r')
grep -q '^ok: radio on$' <<<"$out" || fail "radio on: $out"
grep -q '^========== LLCC68 / SX126x CHIP INFO ==========$' <<<"$out" || fail "no chip report"
grep -q '^  Packet type:      LoRa (0x01)$' <<<"$out" || fail "packet type"
grep -q '^  Busy (100ms):    OK (idle)$' <<<"$out" || fail "busy line"
grep -q '^ok: pin lora off$' <<<"$out" || fail "pin lora off"
grep -q '^ok: pin lora on$' <<<"$out" || fail "pin lora on"
[ "$(grep -c '^Lora configured$' <<<"$out")" = 2 ] || fail "the radio is configured again after its supply was cut"
grep -q "^err: radio takes on (use 'pin lora off' to cut power)$" <<<"$out" || fail "radio on now"
grep -q '^err: pin takes stage1|optohp|lora followed by on|off$' <<<"$out" || fail "pin lora"

[ "$(wc -l <"$tmp/air.jsonl")" = 1 ] || fail "air log: $(cat "$tmp/air.jsonl")"
grep -q '"sender":"script".*"freq_hz":868000000,"sf":7,"bw_hz":125000,"cr":"4/5".*"len":3,.*"hex":"0D0102"' \
  "$tmp/air.jsonl" || fail "air log line: $(cat "$tmp/air.jsonl")"

out=$(printf 'radio on\npin lora on\n' | "$sim" --state "$tmp/s2" --speed 0 --radio-fault absent | tr -d '\r')
[ "$(grep -c '^err: radio did not init (check supply and SPI)$' <<<"$out")" = 2 ] || fail "absent radio: $out"

if "$sim" --state "$tmp/s3" --radio-fault bogus </dev/null >/dev/null 2>"$tmp/err"; then fail "bad fault accepted"; fi
grep -q "unknown radio fault 'bogus'" "$tmp/err" || fail "fault message: $(cat "$tmp/err")"
printf 'at_ms=5 data=123\n' >"$tmp/bad.txt"
if "$sim" --state "$tmp/s3" --air-script "$tmp/bad.txt" </dev/null >/dev/null 2>"$tmp/err"; then fail "bad script"; fi
grep -q "bad.txt:1: bad value in 'data=123'" "$tmp/err" || fail "script message: $(cat "$tmp/err")"
echo "radio_shell: ok"
