#!/usr/bin/env bash
# "sample" then "tx" on a provisioned node: the Vantor stores the debug group and packet 3 with
# verified tags, the decoded telemetry equals what the node printed within each field's resolution,
# and `vantor capture` gives back the 231 rows of "print adc".
source "$(dirname "$0")/lib/common.sh"
VANTOR="$(dirname "$SIM")/vantor"
s="$WORK/s"
db=(--db "$s/vantor.sqlite")

out=$(printf 'provision\nsample\ntx\nprint power\ninfo\nprint adc\n' | run_sim "$s" --load current=5,pf=0.8)
expect_contains "$out" "ok: tx done" "tx"
uplinks=$("$VANTOR" "${db[@]}" --json uplinks --limit 100)
[ "$(jq -s 'all(.tag_ok)' <<<"$uplinks")" = true ] || fail "every tag verifies: $uplinks"
t=$(jq -c 'select(.code == 3)' <<<"$uplinks")
[ "$(wc -l <<<"$t")" = 1 ] || fail "one packet 3: $t"
counter=$(jq '.counter' <<<"$t")
# A first start is a power-on with the pin-reset flag: the debug group goes in this cycle.
[ "$(jq -s -c "[.[] | select(.counter == $counter and .verdict == \"accepted\") | .code] | sort" <<<"$uplinks")" = \
  "[3,4,4,4,7,8]" ] || fail "debug group and packet 3 of cycle $counter: $uplinks"

# The node's figures: temperature and supply from "info", power factor and current from "print power".
value() { grep -m1 -E "^  $1 +\|" <<<"$out" | awk '{print $NF}'; }
check() {  # name, node value, Vantor value, lowest and highest allowed (node - Vantor)
  awk -v n="$2" -v v="$3" -v lo="$4" -v hi="$5" 'BEGIN { d = n - v; exit !(d >= lo && d <= hi) }' ||
    fail "$1: node $2, Vantor $3"
}
# Resolution: 1/3 degC and 5 mV rounded, 0.01 rounded, 1 mA truncated; the node prints 3 or 4 decimals.
check temperature "$(value 'temperature \(C\)')" "$(jq '.temperature_c' <<<"$t")" -0.1672 0.1672
check supply "$(value 'VRef \(V\)')" "$(jq '.supply_v' <<<"$t")" -0.0030 0.0030
check "power factor" "$(value 'power factor')" "$(jq '.power_factor' <<<"$t")" -0.00505 0.00505
check current "$(value 'current corrected \(A\)')" "$(jq '.current_a' <<<"$t")" -0.00005 0.00105

# The capture: the clamp value and the inductive E-field of every row, within packet 4's 12 bits.
node_rows=$(sed -n '/^=== ADC Raw Values ===$/,/^=== END ADC Raw Values ===$/p' <<<"$out" | sed -E 's/\( *-?[0-9]+\)//g' |
  awk '$1 ~ /^[0-9]+$/ { b = $4; e = $5; if (b > 2047) b = 2047; if (b < -2048) b = -2048;
                         if (e > 4095) e = 4095; if (e < 0) e = 0; print $1, b, e }')
vantor_rows=$("$VANTOR" "${db[@]}" --json capture 0x000001 | jq -r '"\(.row) \(.b_field) \(.e_field_ind)"')
[ "$(wc -l <<<"$node_rows")" = 231 ] || fail "print adc rows: $(wc -l <<<"$node_rows")"
[ "$node_rows" = "$vantor_rows" ] || fail "capture differs: $(diff <(echo "$node_rows") <(echo "$vantor_rows") | head)"
"$VANTOR" "${db[@]}" capture 0x000001 --csv "$WORK/capture.csv" >/dev/null
[ "$(wc -l <"$WORK/capture.csv")" = 232 ] || fail "CSV: a header and 231 rows"
echo "vantor_telemetry: ok"
