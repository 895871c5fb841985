#!/usr/bin/env bash
# A scripted bench session through every command of the shell (shell_session.txt; the radio
# commands only with their refusals: their runs are covered with the air log elsewhere), compared
# line by line with shell_session.expected, CR included (shown as ^M). Each expected line is tagged:
#   "= text"   the line, byte for byte
#   "~ ERE"    a line with measured values: the whole line matches the extended regex
#   "* ERE"    any number of such lines (the raw ADC rows, the radio's chip report)
source "$(dirname "$0")/lib/common.sh"

"$SIM" --speed 0 --state "$WORK/s" --load current=5,pf=0.8,ephase=-8.49 \
  --chip-id 00112233445566778899AABB <"$(dirname "$0")/shell_session.txt" >"$WORK/raw" 2>/dev/null ||
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
