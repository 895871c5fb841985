#!/usr/bin/env bash
# A month unattended on the bench build, with the Vantor of orvane-sim: a provisioning at the start,
# then every day a remote setting queued through the vantor command, a "tx p5" and CYCLES cycles of
# sample, tx and a standby, with one random fault a day from every class: radio, flash, power,
# the Vantor (silent, late, corrupting, replaying), bad console input, corrupt backup registers,
# and a third transmitter replaying a downlink and an uplink.
# Checks (tests/soak/check_month.py): no hang, no crash; every uplink's tag verified independently;
# the node's counters never go back, also across power cuts; every uplink the Vantor heard from the
# node is accepted, and nothing the intruder sent is; the Vantor's counter and settings agree with
# the air log and with the record the node holds; no downlink counter taken twice.
#   tests/soak/bench_month.sh ORVANE_SIM [DAYS] [CYCLES] [SEED]
# By hand for the month (30 days); make test runs a short version.
set -euo pipefail
SIM="$1"
DAYS="${2:-30}"
CYCLES="${3:-24}"  # 2 or more (a standby lasts at most 65535 s)
SEED="${4:-1}"
VANTOR="$(dirname "$SIM")/vantor"
HERE="$(cd "$(dirname "$0")" && pwd)"
LIB="$(cd "$HERE/../e2e/lib" && pwd)"
WORK="$(mktemp -d)"
# KEEP=1 keeps the transcripts, air log and registry for a look afterwards.
if [ -n "${KEEP:-}" ]; then echo "work folder: $WORK"; else trap 'rm -rf "$WORK"' EXIT; fi
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
state="$WORK/node"
db=(--db "$state/vantor.sqlite")
air="$WORK/air.jsonl"
sleep_s=$((86400 / CYCLES - 60))
start=$(date +%s.%N)

# run DAY INPUT_FILE [options...]: one day's session; a hang or a crash fails the soak.
run() {
  local day="$1" input="$2"  # day: 000, 001, 001p (a provisioning again after it)
  shift 2
  local status=0
  timeout 900 "$SIM" --speed 0 --state "$state" --air-log "$air" "$@" <"$input" 2>>"$WORK/stderr" |
    tr -d '\r' >"$WORK/day$day.txt" || status=$?
  [ "$status" = 0 ] || fail "day $day ($*): status $status"
  ! grep -qE 'Sanitizer|runtime error' "$WORK/stderr" || fail "day $day: $(grep -m1 -E 'Sanitizer|runtime error' "$WORK/stderr")"
  rm -f "$state/flash-power-cut-done" "$state/power-cut-done"
}

printf 'provision\n' >"$WORK/provision"
run 000 "$WORK/provision"
grep -q '^ok: provision done (uid 0x000001, config.ok yes)$' "$WORK/day000.txt" || fail "provisioning did not end"

RANDOM=$SEED
faults=(none radio radio radio flash flash power vantor vantor vantor vantor console state intruder)
: >"$WORK/faults"
for day in $(seq 1 "$DAYS"); do
  clock_ms=$(($(cat "$state/clock") / 1000))
  # The day's setting: debug rate, phase or transmit power in turn.
  case $((day % 3)) in
    1) setting=(debug-rate $((day + 1))) ;;
    2) setting=(phase "$(printf '0.%02d' "$day")") ;;
    0) setting=(tx-power $((day % 15))) ;;
  esac
  "$VANTOR" "${db[@]}" queue add 0x000001 "${setting[@]}" >>"$WORK/queue.txt"

  # The day's input: a window first, then the cycles.
  { printf 'tx p5\n'; for _ in $(seq 1 "$CYCLES"); do printf 'sample\ntx\nsleep %s\n' "$sleep_s"; done; } >"$WORK/in"
  class=${faults[$((RANDOM % ${#faults[@]}))]}
  opts=()
  case $class in
    radio)
      r=("spi-error=30" "busy-stuck@4000" "irq-silent@2000" "device-errors-persist=0x0040@3000" "busy-stuck-after-command@900")
      opts=(--radio-fault "${r[$((RANDOM % ${#r[@]}))]}") ;;
    flash)
      f=("--flash-fail-erase" "--flash-power-cut $((RANDOM % 18))" "--flash-power-cut erase" "--flash-fail-program $((RANDOM % 17))")
      read -r -a opts <<<"${f[$((RANDOM % ${#f[@]}))]}" ;;
    power) opts=(--power-cut-at $((clock_ms + 5000 + (RANDOM * 32768 + RANDOM) % 80000000))) ;;
    vantor)
      v=(silent late corrupt replay)
      opts=(--vantor-fault "${v[$((RANDOM % 4))]}@$clock_ms-$((clock_ms + 7200000))") ;;
    console)
      # Junk lines (control bytes, NUL, a line of 10 000 bytes) before the day's commands.
      python3 - "$RANDOM" "$WORK/in" <<'PY'
import random, sys
rng = random.Random(int(sys.argv[1]))
junk = [b"zz" + bytes(rng.choice(b"abc 019;\x00\x01\x07\x08\x1b\x7f\xff") for _ in range(rng.randrange(1, 80))),
        b"q" * 10000, b"set phase nonsense", b"every 0 0", b"tx p99"]
day = open(sys.argv[2], "rb").read()
open(sys.argv[2], "wb").write(b"\n".join(junk) + b"\n" + day)
PY
      ;;
    state)
      # Backup registers with any values (the counter, the transmit power, the stable state).
      w=()
      for _ in 1 2 3; do w+=($((((RANDOM << 17) ^ (RANDOM << 2) ^ RANDOM) & 0xFFFFFFFF))); done
      printf 'bkp %08x %08x %08x 00000000 00000000\n' "${w[@]}" >"$state/backup-registers" ;;
    intruder)
      # Yesterday's last downlink and an early uplink of the node, played again in the node's windows.
      down=$(jq -r 'select(.sender == "vantor" and (.hex | startswith("0E"))) | .hex' "$air" | tail -1)
      up=$(jq -r 'select(.sender == "node" and (.hex | startswith("05"))) | .hex' "$air" | head -1)
      : >"$WORK/intruder.txt"
      [ -n "$down" ] && echo "in_rx_ms=300 sender=intruder data=$down" >>"$WORK/intruder.txt"
      [ -n "$up" ] && echo "in_rx_ms=420 sender=intruder data=$up" >>"$WORK/intruder.txt"
      opts=(--air-script "$WORK/intruder.txt") ;;
  esac
  echo "$day $class ${opts[*]}" >>"$WORK/faults"
  d=$(printf '%03d' "$day")
  run "$d" "$WORK/in" "${opts[@]}"
  # A record lost with a cut in a commit: the operator provisions the node again, as in the field.
  if printf 'info\n' | "$SIM" --speed 0 --state "$state" 2>/dev/null | tr -d '\r' | grep -qE '^  config.ok +\| +NO$'; then
    echo "$day provisioned-again" >>"$WORK/faults"
    run "${d}p" "$WORK/provision"
    grep -q '^ok: provision done (uid 0x000001, config.ok yes)$' "$WORK/day${d}p.txt" || fail "day $day: provisioning again"
  fi
done
end=$(date +%s.%N)

printf 'info\n' | "$SIM" --speed 0 --state "$state" 2>/dev/null | tr -d '\r' >"$WORK/final.txt"
"$VANTOR" "${db[@]}" export >"$WORK/registry.csv"
"$VANTOR" "${db[@]}" --json nodes >"$WORK/nodes.json"
"$VANTOR" "${db[@]}" --json uplinks --limit 10000000 >"$WORK/uplinks.json"
"$VANTOR" "${db[@]}" --json queue list >"$WORK/queue.json"
PYTHONPATH="$LIB" python3 "$HERE/check_month.py" "$WORK" "$state" || fail "the month does not add up (faults: $(cat "$WORK/faults"))"
virtual=$(python3 -c "print(int(open('$state/clock').read()) / 1e6)")
wall=$(python3 -c "print(round($end - $start, 1))")
echo "days $DAYS, cycles a day $CYCLES: virtual $virtual s, wall $wall s, ratio $(python3 -c "print(round($virtual / $wall))")"
echo "faults: $(cut -d' ' -f2 "$WORK/faults" | sort | uniq -c | tr -s ' ' | tr '\n' ';')"
