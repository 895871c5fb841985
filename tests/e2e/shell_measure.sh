#!/usr/bin/env bash
# The measurement commands against a load scenario: "sample" reads the scenario's current, power
# and power factor once the phase correction is set, "print csv" agrees with the tables, "every"
# takes its samples the given virtual seconds apart, and a saved correction survives a reset.
source "$(dirname "$0")/lib/common.sh"

# 5 A at PF 0.8 (lagging), with an E-field pick-up whose calibrated correction is 0.12 rad
# (the calibration procedure of the README, run on this scenario, gives 0.1199).
LOAD="current=5,pf=0.8,ephase=-8.49"

# block TEXT N -> output of the N-th command (1-based) of a transcript, from its echo line to
# the output of the next command
block() {
  awk -v n="$2" '/^> /{k++} k==n' <<<"$1"
}
# value TEXT LABEL [COLUMN] -> a value column (default: the last) of the table row LABEL
value() {
  awk -F'|' -v l="$2" -v c="${3:-0}" '{lab=$1; sub(/^  /,"",lab); sub(/ +$/,"",lab)}
    lab==l {v=(c>0 ? $(c+1) : $NF); gsub(/ /,"",v); print v; exit}' <<<"$1"
}
# within VALUE LOW HIGH
within() {
  awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN{exit !(v+0>=lo+0 && v+0<=hi+0 && v!="")}'
}
# csv_value LINE K DIGITS -> the number in columns K (integer text) and K+1 (fraction digits),
# columns counted from the line prefix as 1
csv_value() {
  awk -F, -v i="$2" -v d="$3" '{s=$i; neg=(s ~ /^-/); sub(/^-/,"",s); v=s + $(i+1)/(10^d); printf "%.6f\n", (neg?-v:v)}' <<<"$1"
}
# close A B TOL
close() {
  awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN{d=a-b; if(d<0)d=-d; exit !(d<=t)}'
}

script='sample
print csv
set phase 0.12
sample
print csv
save
reset
sample
print prov
'
out="$(printf '%s' "$script" | run_sim "$WORK/a" --load "$LOAD" 2>/dev/null)" || fail "exit status"

# 1: automatic phase correction: the current is right, the node reports PF = cos(clamp lead).
b="$(block "$out" 1)"
expect_contains "$b" "=== sample full ===" "sample section"
i="$(value "$b" "current corrected (A)")"
within "$i" 4.95 5.05 || fail "current 5 A within 1 %, got '$i'"
[ "$(value "$b" "phase corr (rad)")" = "AUTO" ] || fail "automatic correction before 'set phase'"
within "$(value "$b" "power factor")" 0.95 1 || fail "automatic mode reads PF near 1"

# 2: the CSV lines agree with the tables printed just before.
check_csv() {
  local table="$1" csv="$2" corr_int="$3" corr_frac="$4"
  local m p
  [ "$(grep -c '^MEASURE_CSV,' <<<"$csv")" -eq 2 ] || fail "two MEASURE_CSV lines"
  while IFS= read -r m; do
    [ "$(awk -F, '{print NF}' <<<"$m")" -eq 15 ] || fail "MEASURE_CSV has 14 fields: $m"
    grep -qE '^MEASURE_CSV,3,[02],231,-?[0-9]+(,-?[0-9]+,[0-9]+){2},(20|0),[01](,-?[0-9]+,[0-9]+){2}$' <<<"$m" ||
      fail "MEASURE_CSV layout: $m"
  done < <(grep '^MEASURE_CSV,' <<<"$csv")
  m="$(grep '^MEASURE_CSV,3,0,' <<<"$csv")"
  [ "$(cut -d, -f5 <<<"$m")" = "$(value "$table" "average (counts)" 1)" ] || fail "Bfield average agrees"
  close "$(csv_value "$m" 6 4)" "$(value "$table" "rmsRaw (counts)" 1)" 0.0002 || fail "Bfield rmsRaw agrees"
  close "$(csv_value "$m" 12 4)" "$(value "$table" "phase (rad)" 1)" 0.0002 || fail "Bfield phase agrees"
  m="$(grep '^MEASURE_CSV,3,2,' <<<"$csv")"
  [ "$(cut -d, -f5 <<<"$m")" = "$(value "$table" "average (counts)" 2)" ] || fail "EfieldInd average agrees"
  # (a magnitude of 30000 has a float resolution of 0.002: its fourth decimal is noise)
  close "$(csv_value "$m" 14 4)" "$(value "$table" "magnitude" 2)" 0.005 || fail "EfieldInd magnitude agrees"
  p="$(grep '^POWER_CSV,' <<<"$csv")"
  [ "$(awk -F, '{print NF}' <<<"$p")" -eq 25 ] || fail "POWER_CSV has 24 fields: $p"
  grep -qE '^POWER_CSV,4,1,1,0,(-?[0-9]+,[0-9]+,){2}0,0,(-?[0-9]+,[0-9]+,){2}0,0,0,0(,-?[0-9]+,[0-9]+){3}$' <<<"$p" ||
    fail "POWER_CSV layout: $p"
  close "$(csv_value "$p" 14 4)" "$(value "$table" "current raw (A)")" 0.0002 || fail "current agrees"
  close "$(csv_value "$p" 20 4)" "$(value "$table" "power factor")" 0.0002 || fail "power factor agrees"
  close "$(csv_value "$p" 22 2)" "$(value "$table" "active power (W @ 230V)")" 0.011 || fail "power agrees"
  close "$(csv_value "$p" 12 4)" "$(value "$table" "phase shift (rad)")" 0.0002 || fail "phase shift agrees"
  [ "$(cut -d, -f24,25 <<<"$p")" = "$corr_int,$corr_frac" ] || fail "configured correction in POWER_CSV: $p"
}
check_csv "$b" "$(block "$out" 2)" 0 0
echo "automatic correction, CSV agrees: ok"

# 3 and 4: the staged correction is used by the next sample; the scenario's values come back.
expect_contains "$(block "$out" 3)" "ok: phase staged" "set phase"
b="$(block "$out" 4)"
[ "$(value "$b" "phase corr (rad)")" = "0.1200" ] || fail "correction 0.1200 in the power table"
within "$(value "$b" "current corrected (A)")" 4.95 5.05 || fail "current within 1 %"
within "$(value "$b" "power factor")" 0.78 0.82 || fail "PF 0.8 within 0.02, got $(value "$b" "power factor")"
within "$(value "$b" "active power (W @ 230V)")" 901.6 938.4 || fail "920 W within 2 %, got $(value "$b" "active power (W @ 230V)")"
check_csv "$b" "$(block "$out" 5)" 0 1200
echo "set phase 0.12 then sample: ok"

# 6 to 9: saved, reset (RAM lost), and the correction is still the one in use.
expect_contains "$(block "$out" 6)" "ok: save (config.ok now yes)" "save"
[ "$(count_of "$out" "=== Orvane demo shell ===")" -eq 2 ] || fail "the reset restarted the firmware"
b="$(block "$out" 8)"
[ "$(value "$b" "phase corr (rad)")" = "0.1200" ] || fail "correction kept across the reset"
within "$(value "$b" "power factor")" 0.78 0.82 || fail "PF after the reset"
expect_contains "$(block "$out" 9)" "Phase correction: 0.1200 rad" "print prov after the reset"
echo "save and reset keep the correction: ok"

# every: n samples, n - 1 waits of <sec> virtual seconds. The two runs differ only in the wait.
elapsed() {
  printf 'every %s\n' "$2" | run_sim "$WORK/$1" --load "$LOAD" >"$WORK/$1.out" 2>/dev/null || fail "exit status ($2)"
  cat "$WORK/$1/clock"
}
t2="$(elapsed e2 "3 2")"
t1="$(elapsed e1 "3 1")"
out="$(cat "$WORK/e2.out")"
[ "$(count_of "$out" "=== sample full ===")" -eq 3 ] || fail "every 3 2 takes 3 samples"
for k in 1 2 3; do [ "$(count_of "$out" "-- sample $k/3")" -eq 1 ] || fail "sample $k/3 announced"; done
expect_contains "$out" "ok: every done (3 samples)" "closing line"
diff_us=$((t2 - t1))
[ "$diff_us" -ge 1999000 ] && [ "$diff_us" -le 2001000 ] ||
  fail "two waits one second longer each: 2 s more virtual time expected, got ${diff_us} us"
echo "every 3 2: ok"
