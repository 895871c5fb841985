#!/usr/bin/env bash
# Two Vantors on one orvane-air sharing one registry on a PostgreSQL server of the test's own,
# 2000 m apart, and four fresh field-build nodes powered on together: two in the reach of one
# Vantor each, two heard by both. Every node is provisioned and confirmed once; every frame is
# stored once per Vantor that heard it, the second copy as a duplicate, and each reading accepted
# once; the settings both Vantors queue for a node they confirm are queued once, each sent in one
# packet 14 by whichever Vantor answered the window and acknowledged once; the Vantors never
# transmit together.
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/air.sh"
source "$(dirname "$0")/../support/servers.sh"
LIB="$(dirname "$0")/lib"
pg="$WORK/pg"
trap 'for p in "${BACKGROUND[@]}"; do kill "$p" 2>/dev/null || true; done; pg_stop "$pg"; rm -rf "$WORK"' EXIT
chmod 755 "$WORK"  # the server runs as nobody when the test runs as root
url=$(pg_start "$pg")

# At 0 dBm a node reaches about 1290 m (docs/fleet.md's link budget, n = 3; SF7 demodulates down
# to 7.5 dB below the -117 dBm noise floor): 1900 m is out of reach, 1050 m within. Its packet 5
# goes at +14 dBm and reaches both.
vantors=(vantor-a@0,0 vantor-b@2000,0)
nodes=(n1@100,0 n2@950,0 n3@1050,100 n4@1900,0)
waits=()
for p in "${vantors[@]}" "${nodes[@]}"; do waits+=(--wait-for "${p%@*}"); done
start_air "$WORK/air.sock" --air-log "$WORK/air.jsonl" "${waits[@]}"
for v in "${vantors[@]}"; do
  start_vantor "$WORK/air.sock" "$url" --name "${v%@*}" --at "${v#*@}" \
    --setting "sleep 120 force-rx" --setting "phase 0.1"
done
i=0
for n in "${nodes[@]}"; do
  i=$((i + 1))
  # The first receive window opens with the fifth cycle's report (~3000 s); then every 120 s.
  "$FIELD" --speed 0 --seed "$i" --chip-id "$(printf '%024X' "$i")" --load "current=$i,pf=0.8" \
    --state "$WORK/${n%@*}" --air "unix:$WORK/air.sock" --air-name "${n%@*}" --air-at "${n#*@}" \
    --stop-after 3400 >"$WORK/${n%@*}.out" 2>"$WORK/${n%@*}.err" &
  BACKGROUND+=($!)
done
wait_background

[ "$("$VANTOR" --db "$url" --json nodes | jq -r .state | sort | uniq -c | xargs)" = "4 confirmed" ] ||
  fail "nodes: $("$VANTOR" --db "$url" nodes)"
registry "$url" >"$WORK/registry.jsonl"
[ "$(jq -r 'select(.setting) | .setting' "$WORK/registry.jsonl" | sort | uniq -c | xargs)" = "4 phase 4 sleep" ] ||
  fail "the settings were not queued once per node: $("$VANTOR" --db "$url" queue list)"
python3 "$LIB/two_vantors_check.py" "$WORK/air.jsonl" "$WORK/registry.jsonl" "${vantors[@]}" "${nodes[@]}" ||
  fail "two Vantors on one registry"
for v in vantor-a vantor-b; do
  grep -q "\"sender\":\"vantor\",\"name\":\"$v\"" "$WORK/air.jsonl" || fail "$v never answered"
done
echo "vantor_air_postgres: ok"
