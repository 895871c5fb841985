#!/usr/bin/env bash
# A scripted bench session through every command of the shell (the radio commands only with
# their refusals: their runs are covered with the air log elsewhere), compared line by line with shell_session.expected, CR included (shown
# as ^M). Each expected line is tagged:
#   "= text"   the line, byte for byte
#   "~ ERE"    a line with measured values: the whole line matches the extended regex
#   "* ERE"    any number of such lines (the raw ADC rows, the radio's chip report)
source "$(dirname "$0")/lib/common.sh"

session='help
info
compileInfo
sample lp
sample
print rms
print power
print csv
print vref
print temp
print soc
print adcinfo
print rtc
print adc
print prov
print nothing
set uid 0x00ABCD
set hmacHash 00112233445566778899AABBCCDDEEFF
set phase 0.12
set clampMapping 3 2.5 2.875
set clampMapping 10 1 2
set Phase 0.1
save
info
every 2 1
every 100 865
dbg1 5 5 20
radio on
pin stage1 on
pin stage1 off
pin lora off
tx p4
rx 0
provision now
sleep 0
sleep 1
print prov
unprovision
print prov
reset
'
printf '%s' "$session" | "$SIM" --speed 0 --state "$WORK/s" --load current=5,pf=0.8,ephase=-8.49 \
  --chip-id 00112233445566778899AABB >"$WORK/raw" 2>/dev/null ||
  fail "exit status"

cat -v "$WORK/raw" | awk -v expfile="$(dirname "$0")/shell_session.expected" '
function matches(e, a,   tag, body) {
  tag = substr(e, 1, 2); body = substr(e, 3)
  if (tag == "= ") return a == body
  return a ~ ("^(" body ")$")
}
BEGIN { while ((getline line < expfile) > 0) want[++n] = line }
{ act[++m] = $0 }
END {
  j = 1
  for (i = 1; i <= n; i++) {
    if (substr(want[i], 1, 2) == "* ") {
      while (j <= m && matches(want[i], act[j]) && !(i < n && matches(want[i + 1], act[j]))) j++
      continue
    }
    if (j > m) { printf "expected line %d missing: %s\n", i, want[i]; exit 1 }
    if (!matches(want[i], act[j])) {
      printf "line %d of the transcript:\n  got:      %s\n  expected: %s (line %d)\n", j, act[j], want[i], i
      exit 1
    }
    j++
  }
  if (j <= m) { printf "unexpected extra output from line %d: %s\n", j, act[j]; exit 1 }
}' >&2 || fail "transcript differs"
echo "scripted session: ok"
