# Shared helpers of the image's end-to-end runs on orvane-emu (tests/emu/e2e): the image as flashed on
# the emulated chip, driven as an operator or the Vantor would.
#   SCRIPT HOST_BUILD IMAGE FIELD_IMAGE
# HOST_BUILD holds orvane-emu (and orvane-sim, vantor) from the host preset; the images come from the
# target build that runs these tests.
set -euo pipefail
HOST="$1"
IMAGE="$2"
FIELD_IMAGE="$3"
EMU="$HOST/orvane-emu"
SIM="$HOST/orvane-sim"
VANTOR="$HOST/vantor"
FRAME_TOOL="$HOST/tests/downlink_frame"
for program in "$EMU" "$SIM" "$VANTOR"; do
  [ -x "$program" ] || { echo "$program is missing: build the host preset first (make sim)" >&2; exit 1; }
done
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# run_emu STATE_DIR [orvane-emu options...] < input -> console transcript (CR removed)
run_emu() {
  local state="$1"
  shift
  "$EMU" --speed 0 --state "$state" "$@" | tr -d '\r'
}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# expect_contains TEXT NEEDLE DESCRIPTION
expect_contains() {
  grep -qF -- "$2" <<<"$1" || fail "$3: missing '$2'"
}

# The transcript of the start after the Nth "Reset cause" line (N = 1: the first start).
start_n() {
  awk -v n="$2" '/^Reset cause:/{k++} k==n' <<<"$1"
}
