# Shared helpers of the end-to-end tests: run orvane-sim on a script, compare transcripts.
set -euo pipefail
SIM="$1"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# run_sim STATE_DIR [extra args...] < input  -> console transcript on stdout (CR removed)
run_sim() {
  local state="$1"
  shift
  "$SIM" --speed 0 --state "$state" "$@" | tr -d '\r'
}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# expect_contains TEXT NEEDLE DESCRIPTION
expect_contains() {
  grep -qF -- "$2" <<<"$1" || fail "$3: missing '$2'"
}

# count_of TEXT NEEDLE -> number of lines equal to NEEDLE
count_of() {
  grep -cxF -- "$2" <<<"$1" || true
}

# Downlink frames built with the node's own encoders (tests/tools/downlink_frame.cpp).
FRAME_TOOL="${FRAME_TOOL:-$(dirname "$SIM")/tests/downlink_frame}"

# check_burst TRANSCRIPT SENT_FILE: lines sent in one burst while the shell answers. Every line the
# shell ran is one that was sent, whole, in order and once; if any never ran, the loss was reported
# ("err: rx overflow" or "err: uart rx error"). Prints how many ran.
check_burst() {
  local ran pieces
  ran=$(grep '^> ' <<<"$1" | cut -c3- || true)
  pieces=$(grep -vxF -f "$2" <<<"$ran" || true)
  [ -z "$pieces" ] || fail "burst: commands made of pieces ran: $(tr '\n' '|' <<<"$pieces")"
  [ "$(grep -nxF -f <(printf '%s\n' "$ran") "$2" | cut -d: -f2-)" = "$ran" ] || fail "burst: lines out of order or twice"
  if [ "$(grep -c . <<<"$ran")" -lt "$(grep -c . "$2")" ]; then
    grep -qE '^err: (rx overflow|uart rx error)' <<<"$1" || fail "burst: lines lost without a report"
  fi
  grep -c . <<<"$ran"
}
