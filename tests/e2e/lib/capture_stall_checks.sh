# The checks of a capture whose DMA transfer stalls (--adc-stall), shared by orvane-sim and the image
# on orvane-emu. The caller defines bench STATE [options] < input and field STATE [options] (both
# print the transcript without CR; field runs the field build with an air log at STATE.air).
STALL="ADC scan: no end of capture (DMA stalled), capture incomplete"
NO_READING="err: sample failed, capture incomplete (no reading)"

# The codes of the frames the node sent, in order of first appearance.
sent_codes() {
  python3 -c 'import json,sys; print(" ".join(dict.fromkeys(l["hex"][:2] for l in map(json.loads, open(sys.argv[1])) if l["sender"] == "node")))' "$1"
}

# Every capture stalls: an error line per sample instead of the tables (the full sample tries twice).
out=$(printf 'sample\nsample hp\n' | bench "$WORK/b1" --no-vantor --adc-stall 25) || fail "shell: exit status"
[ "$(count_of "$out" "$NO_READING")" = 2 ] || fail "shell: one error line per sample"
[ "$(count_of "$out" "$STALL")" = 3 ] || fail "shell: the full sample tries twice, hp once"
grep -q '^=== sample' <<<"$out" && fail "shell: tables of a partial capture"

# Only the first capture of the start stalls: the retry gives the whole reading.
out=$(printf 'sample\n' | bench "$WORK/b2" --no-vantor --adc-stall 25x1 --load current=5,pf=0.8) || fail "retry: exit status"
[ "$(count_of "$out" "$STALL")" = 1 ] || fail "retry: one stalled capture"
current=$(awk -F'|' '/current corrected \(A\)/{gsub(/ /,"",$2); print $2}' <<<"$out")
awk -v c="$current" 'BEGIN{exit !(c > 4.8 && c < 5.2)}' || fail "retry: current '$current' A, 5 A expected"

# The field build: two starts without a reading send nothing but the provisioning; with the retry
# the first cycle transmits its reading.
out=$(field "$WORK/f1" --adc-stall 25) || fail "field: exit status"
[ "$(grep -c 'field: no reading (capture incomplete), nothing sent' <<<"$out")" = 2 ] || fail "field: two starts without a reading"
grep -q 'field: transmitting' <<<"$out" && fail "field: transmitted without a reading"
[ "$(sent_codes "$WORK/f1.air")" = "0A" ] || fail "field: frames other than the provisioning: $(sent_codes "$WORK/f1.air")"
out=$(field "$WORK/f2" --adc-stall 25x1) || fail "field retry: exit status"
expect_contains "$out" "field: transmitting: new reading" "field retry"
grep -qw 03 <<<"$(sent_codes "$WORK/f2.air")" || fail "field retry: no packet 3 in $(sent_codes "$WORK/f2.air")"
