#!/usr/bin/env bash
# A capture whose DMA transfer stalls (--adc-stall): it is taken once more; with no whole capture the
# shell prints an error instead of the tables and the field build sends nothing, so no frame carries
# a value computed from part of a capture. A stall of the first capture only costs the retry.
source "$(dirname "$0")/lib/common.sh"
FIELD="$(dirname "$SIM")/orvane-sim-field"
STALL="ADC scan: no end of capture (DMA stalled), capture incomplete"
NO_READING="err: sample failed, capture incomplete (no reading)"

out=$(printf 'sample\nsample hp\n' | run_sim "$WORK/b1" --no-vantor --adc-stall 25) || fail "shell: exit status"
[ "$(count_of "$out" "$NO_READING")" = 2 ] || fail "shell: one error line per sample"
[ "$(count_of "$out" "$STALL")" = 3 ] || fail "shell: the full sample tries twice, hp once"
grep -q '^=== sample' <<<"$out" && fail "shell: tables of a partial capture"

out=$(printf 'sample\n' | run_sim "$WORK/b2" --no-vantor --adc-stall 25x1 --load current=5,pf=0.8) || fail "retry: exit status"
[ "$(count_of "$out" "$STALL")" = 1 ] || fail "retry: one stalled capture"
current=$(awk -F'|' '/current corrected \(A\)/{gsub(/ /,"",$2); print $2}' <<<"$out")
awk -v c="$current" 'BEGIN{exit !(c > 4.8 && c < 5.2)}' || fail "retry: current $current A, 5 A expected"

# The field build: no reading, nothing sent but the provisioning; with the retry, the first cycle.
field() { "$FIELD" --speed 0 --state "$WORK/$1" --air-log "$WORK/$1.air" --load current=5 --stop-after 700 "${@:2}" 2>/dev/null | tr -d '\r'; }
sent_codes() { python3 -c 'import json,sys; print(" ".join(sorted({l["hex"][:2] for l in map(json.loads, open(sys.argv[1])) if l["sender"] == "node"})))' "$1"; }
out=$(field f1 --adc-stall 25 </dev/null) || fail "field: exit status"
[ "$(grep -c 'field: no reading (capture incomplete), nothing sent' <<<"$out")" = 2 ] || fail "field: two starts without a reading"
grep -q 'field: transmitting' <<<"$out" && fail "field: transmitted without a reading"
[ "$(sent_codes "$WORK/f1.air")" = "0A" ] || fail "field: frames other than the provisioning: $(sent_codes "$WORK/f1.air")"
out=$(field f2 --adc-stall 25x1 </dev/null) || fail "field retry: exit status"
expect_contains "$out" "field: transmitting: new reading" "field retry"
grep -qw 03 <<<"$(sent_codes "$WORK/f2.air")" || fail "field retry: frames $(sent_codes "$WORK/f2.air")"
echo "capture stall: ok"
