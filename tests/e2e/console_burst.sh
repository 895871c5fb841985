#!/usr/bin/env bash
# Lines sent in one burst while the shell prints its replies: sixty "print vref NN", and "sample"
# ahead of forty more (it blocks the loop for its capture). The ring overflows; what is lost is
# reported, and no command is ever made of pieces of several lines.
source "$(dirname "$0")/lib/common.sh"

for i in $(seq 10 69); do echo "print vref $i"; done >"$WORK/vref"
{ echo sample; for i in $(seq 10 49); do echo "print vref $i"; done; } >"$WORK/sample"
for burst in vref sample; do
  out=$(run_sim "$WORK/$burst-state" --no-vantor --burst <"$WORK/$burst") || fail "$burst: exit status"
  ran=$(check_burst "$out" "$WORK/$burst")
  [ "$ran" -ge 20 ] || fail "$burst: only $ran lines ran"
done
echo "console burst: ok"
