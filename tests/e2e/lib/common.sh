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
