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
VANTOR="$HOST/vantor"
# The simulator's end-to-end helpers (fail, expect_contains, count_of, WORK, FRAME_TOOL, run_sim).
# shellcheck source=../../e2e/lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../e2e/lib/common.sh" "$HOST/orvane-sim"
for program in "$EMU" "$SIM" "$VANTOR"; do
  [ -x "$program" ] || { echo "$program is missing: build the host preset first (make sim)" >&2; exit 1; }
done

# run_emu STATE_DIR [orvane-emu options...] < input -> console transcript (CR removed)
run_emu() {
  local state="$1"
  shift
  "$EMU" --speed 0 --state "$state" "$@" | tr -d '\r'
}

# The transcript of the start after the Nth "Reset cause" line (N = 1: the first start).
start_n() {
  awk -v n="$2" '/^Reset cause:/{k++} k==n' <<<"$1"
}
