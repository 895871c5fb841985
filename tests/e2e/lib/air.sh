# Helpers of the end-to-end tests on orvane-air: the air and the Vantor as background processes of
# the test, stopped with it.
AIR="$(dirname "$SIM")/orvane-air"
VANTOR="$(dirname "$SIM")/vantor"
FIELD="$(dirname "$SIM")/orvane-sim-field"
BACKGROUND=()
trap 'for p in "${BACKGROUND[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$WORK"' EXIT

# start_air SOCKET [orvane-air options...]: in the background; returns once it listens.
start_air() {
  local socket="$1"
  shift
  "$AIR" --socket "$socket" --quiet "$@" 2>>"$WORK/air.err" &
  BACKGROUND+=($!)
  for _ in $(seq 200); do
    [ -S "$socket" ] && return 0
    sleep 0.05
  done
  fail "orvane-air did not start: $(cat "$WORK/air.err")"
}

# start_vantor SOCKET DB [vantor listen options...]: the Vantor on that air, in the background.
start_vantor() {
  local socket="$1" db="$2"
  shift 2
  "$VANTOR" --db "$db" listen --air "unix:$socket" "$@" 2>>"$WORK/vantor.err" &
  BACKGROUND+=($!)
}

# wait_background: every background process of the test has ended, each with status 0.
wait_background() {
  for p in "${BACKGROUND[@]}"; do
    wait "$p" || fail "a background process ended with status $?: $(cat "$WORK"/*.err 2>/dev/null)"
  done
  BACKGROUND=()
}

# registry DB: what the Vantor holds (nodes, every uplink, the queue), one JSON object per line.
registry() {
  "$VANTOR" --db "$1" --json nodes
  "$VANTOR" --db "$1" --json uplinks --limit 1000000
  "$VANTOR" --db "$1" --json queue list
}
