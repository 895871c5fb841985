#!/usr/bin/env bash
# The power lost while the node enters standby, while it transmits and while it listens: the next
# start is a power-on on the record it had, the shell takes the next command, and the next standby,
# cycle and window work. Cut times come from a run without a cut (runs are deterministic).
source "$(dirname "$0")/lib/common.sh"

printf 'set uid 0x12AB\nsave\n' | run_sim "$WORK/seed" >/dev/null || fail "exit status (seed)"

# after_cut NAME TRANSCRIPT: a power-on on the same record, and the command after the cut answered.
after_cut() {
  grep -q '^orvane-sim: power cut at t=' "$WORK/err" || fail "$1: no power cut"
  local after
  after=$(awk '/^Reset cause:/{n++} n>=2' <<<"$2")
  grep -q '^Reset cause: PWRRSTF (power-on/brownout reset)$' <<<"$after" || fail "$1: not a power-on"
  ! grep -q 'uid not committed' <<<"$after" || fail "$1: the record was lost"
  grep -qE '^  uid +\| +0x0012AB$' <<<"$after" || fail "$1: identity after the cut"
  grep -q '^ok: info$' <<<"$after" || fail "$1: the next command was not answered"
}

# Standby entry: the moment the reference run goes down, and just before it.
cp -r "$WORK/seed" "$WORK/ref-sleep"
printf 'sleep 5\n' | run_sim "$WORK/ref-sleep" 2>"$WORK/err" >/dev/null || fail "exit status (reference sleep)"
down=$(sed -n 's/^orvane-sim: standby at t=\([0-9.]*\) s.*/\1/p' "$WORK/err" | head -1)
[ -n "$down" ] || fail "no standby in the reference run"
for back_us in 300 100 30 10 2 0; do
  at=$(python3 -c "print(round($down * 1000 - $back_us / 1000, 3))")
  cp -r "$WORK/seed" "$WORK/sleep-$back_us"
  out=$(printf 'sleep 5\ninfo\nsleep 1\n' | run_sim "$WORK/sleep-$back_us" --power-cut-at "$at" 2>"$WORK/err") ||
    fail "standby -$back_us us: exit status"
  after_cut "standby -$back_us us" "$out"
  grep -q 'orvane-sim: standby at t=.*RTC wake-up after 2 x' "$WORK/err" || fail "standby -$back_us us: next standby"
done

# Transmission: halfway through the first frame of the cycle, and through its last (packet 3).
cp -r "$WORK/seed" "$WORK/ref-tx"
printf 'tx\n' | run_sim "$WORK/ref-tx" --air-log "$WORK/ref-tx.jsonl" >/dev/null || fail "exit status (reference tx)"
mapfile -t cuts < <(python3 - "$WORK/ref-tx.jsonl" <<'PY'
import json, sys
frames = [json.loads(l) for l in open(sys.argv[1])]
for f in (frames[0], frames[-1]):
    print(round((f["t_us"] + f["toa_us"] / 2) / 1000, 3))
PY
)
for at in "${cuts[@]}"; do
  cp -r "$WORK/seed" "$WORK/tx-$at"
  out=$(printf 'tx\ninfo\ntx\n' | run_sim "$WORK/tx-$at" --power-cut-at "$at" --air-log "$WORK/tx-$at.jsonl" \
    2>"$WORK/err") || fail "tx cut at $at ms: exit status"
  after_cut "tx cut at $at ms" "$out"
  [ "$(awk '/^Reset cause:/{n++} n>=2' <<<"$out" | grep -c '^ok: tx done$')" = 1 ] || fail "tx cut at $at ms: next cycle"
  # The cycle after the cut ends with its packet 3, whole and on the air after the cut.
  python3 - "$WORK/tx-$at.jsonl" "$at" <<'PY' || fail "tx cut at $at ms: air log"
import json, sys
frames = [json.loads(l) for l in open(sys.argv[1])]
later = [f for f in frames if f["t_us"] > float(sys.argv[2]) * 1000]
assert later and later[-1]["len"] == 16 and later[-1]["hex"][:2] in ("03", "05"), later
PY
done

# A receive window: cut 300 ms into the window that follows packet 5.
cp -r "$WORK/seed" "$WORK/ref-rx"
printf 'tx p5 1000\n' | run_sim "$WORK/ref-rx" --air-log "$WORK/ref-rx.jsonl" >/dev/null || fail "exit status (reference p5)"
at=$(python3 -c "import json; f=json.loads(open('$WORK/ref-rx.jsonl').readline()); print(round((f['t_us']+f['toa_us'])/1000+300, 3))")
cp -r "$WORK/seed" "$WORK/rx"
out=$(printf 'tx p5 1000\ninfo\ntx p5 300\n' | run_sim "$WORK/rx" --power-cut-at "$at" 2>"$WORK/err") ||
  fail "window cut: exit status"
after_cut "window cut" "$out"
grep -q '^ok: tx p5 done$' <<<"$(awk '/^Reset cause:/{n++} n>=2' <<<"$out")" || fail "window cut: next window"
echo "power cut in standby entry, transmission and window: ok"
