#!/usr/bin/env bash
# A capture whose DMA transfer stalls (--adc-stall) on the image: the bench image prints an error
# instead of the tables and the field image sends nothing without a whole capture; a stall of the
# first capture only costs the retry.
source "$(dirname "$0")/lib.sh"
bench() { run_emu "$1" --image "$IMAGE" "${@:2}"; }
field() { run_emu "$1" --image "$FIELD_IMAGE" --air-log "$1.air" --load current=5 --stop-after 700 "${@:2}" </dev/null 2>/dev/null; }
source "$(dirname "$0")/../../e2e/lib/capture_stall_checks.sh"
echo PASS
