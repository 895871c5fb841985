#!/usr/bin/env bash
# Power lost in the middle of "save": the next start runs on the defaults (the page was already
# erased) or on the previous record (the erase had not begun), never on a mix of the two.
set -euo pipefail
sim="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The previous record: identity 0x12ABCD.
printf 'set uid 12ABCD\nsave\n' | "$sim" --speed 0 --state "$dir/seed" >/dev/null

for cut in 0 8 15 erase; do
  state="$dir/cut-$cut"
  mkdir "$state"
  cp "$dir/seed/flash-page.bin" "$state/"
  printf 'save\nsave\n' | "$sim" --speed 0 --state "$state" --flash-power-cut "$cut" --events "$dir/ev-$cut" \
    2>/dev/null | tr -d '\r' >"$dir/out"
  # The board's event log: the power-on start follows the erase and exactly $cut double words.
  python3 - "$dir/ev-$cut" "$cut" <<'PY' || fail "$cut: the power cut is not where it was asked for"
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
cut = next(i for i, e in enumerate(events) if e["event"] == "start" and e["kind"] == "power-on")
flash = [e["event"] for e in events[:cut] if e["event"].startswith("flash-")]
expected = [] if sys.argv[2] == "erase" else ["flash-erase"] + ["flash-program"] * int(sys.argv[2])
assert flash == expected, flash
PY
  after=$(awk '/^Reset cause:/{n++} n==2' "$dir/out")
  grep -q '^Reset cause: PWRRSTF (power-on/brownout reset)$' <<<"$after" || fail "$cut: not a power-on"
  if [ "$cut" = erase ]; then
    grep -q '^  UID (u24): 1223629 (0x12ABCD)$' <<<"$after" || fail "$cut: previous record lost"
    ! grep -q 'uid not committed' <<<"$after" || fail "$cut: previous record not valid"
  else
    grep -q '^  UID (u24): 0 (0x000000)$' <<<"$after" || fail "$cut: a torn record was used"
    grep -q '^warn: uid not committed' <<<"$after" || fail "$cut: torn page taken as valid"
  fi
  # The cut happens once; the next save completes.
  grep -q '^ok: save (config.ok now yes)$' <<<"$after" || fail "$cut: save after the cut failed"
done
echo PASS
