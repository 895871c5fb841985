#!/usr/bin/env bash
# The image on orvane-emu through orvane-air gives what it gives with the in-process medium: the same
# air log (each line through the air also names its participant), the same Vantor registry and the
# same console. The bench image is provisioned, reads and sends, sleeps in standby and is reset; the
# field image runs two hours with a remote setting queued between them. Each restart of the image
# ends its process and the air starts it again at that virtual time.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../../e2e/lib/air.sh"

# air_run NAME [orvane-emu options...] < input: a new air and Vantor, the image on them.
air_run() {
  local name="$1"
  shift
  start_air "$WORK/air.sock" --air-log "$WORK/$name.air" --wait-for vantor
  start_vantor "$WORK/air.sock" "$WORK/$name.sqlite" --seed 7
  "$EMU" --speed 0 --seed 7 --air "unix:$WORK/air.sock" "$@" >>"$WORK/$name.out" 2>>"$WORK/$name.err" ||
    fail "$name: the image on the air"
  wait_background
}

# same IN_PROCESS ON_AIR DB_IN_PROCESS DB_ON_AIR: the two runs agree.
same() {
  local a="$1" b="$2"
  [ "$(grep -c . "$WORK/$a.air")" -ge 10 ] || fail "$a: too few frames"
  grep -q '"sender":"vantor"' "$WORK/$a.air" || fail "$a: the Vantor never answered"
  grep -q '"sender":"node","name":"node",' "$WORK/$b.air" || fail "$b: no participant's name in the air's log"
  sed 's/,"name":"[^"]*"//' "$WORK/$b.air" | diff "$WORK/$a.air" - || fail "$b: the air logs differ"
  diff <(registry "$3") <(registry "$4") || fail "$b: the registries differ"
  diff "$WORK/$a.out" "$WORK/$b.out" || fail "$b: the consoles differ"
  diff "$WORK/$a.err" "$WORK/$b.err" || fail "$b: the standby lines differ"
}

# The bench image, typed through a pipe: its input is carried across the restarts the air makes.
printf 'provision\nsample\ntx\nsleep 3\nprint rtc\nreset\ntx\n' >"$WORK/session.txt"
bench=(--load "current=5,pf=0.8")
"$EMU" --speed 0 --seed 7 "${bench[@]}" --state "$WORK/a" --air-log "$WORK/bench.air" <"$WORK/session.txt" \
  >"$WORK/bench.out" 2>"$WORK/bench.err" || fail "the bench image in one process"
air_run bench-air "${bench[@]}" --state "$WORK/b" <"$WORK/session.txt"
grep -q 'ok: provision done' "$WORK/bench-air.out" || fail "the bench image was not provisioned on the air"
grep -q 'boot cause: SBF (standby flag set)' "$WORK/bench-air.out" || fail "the bench image did not wake from standby on the air"
[ "$(grep -c 'Reset cause:' "$WORK/bench-air.out")" -eq 3 ] || fail "the bench image did not wake and reset on the air"
same bench bench-air "$WORK/a/vantor.sqlite" "$WORK/bench-air.sqlite"

# The field image, unattended: standby cycles, readings, a setting applied and acknowledged.
field=(--image "$FIELD_IMAGE" --load "current=5,pf=0.8" --stop-after 3600)
for run in 1 2; do
  "$EMU" --speed 0 --seed 7 "${field[@]}" --state "$WORK/c" --air-log "$WORK/field.air" </dev/null \
    >>"$WORK/field.out" 2>>"$WORK/field.err" || fail "the field image in one process, run $run"
  air_run field-air "${field[@]}" --state "$WORK/d" </dev/null
  [ "$run" = 2 ] && break
  "$VANTOR" --db "$WORK/c/vantor.sqlite" queue add 0x000001 sleep 300 >/dev/null || fail "queue (one process)"
  "$VANTOR" --db "$WORK/field-air.sqlite" queue add 0x000001 sleep 300 >/dev/null || fail "queue (air)"
done
[ "$(grep -c 'standby at' "$WORK/field-air.err")" -ge 10 ] || fail "the field image did not sleep and wake on the air"
grep -q '"setting":"sleep".*"state":"done"' <(registry "$WORK/field-air.sqlite") || fail "the setting was not applied"
same field field-air "$WORK/c/vantor.sqlite" "$WORK/field-air.sqlite"

# The air's errors name this program.
out=$("$EMU" --air "unix:$WORK/none.sock" </dev/null 2>&1) && fail "an air that is not there was accepted"
expect_contains "$out" "orvane-emu: cannot reach the air at $WORK/none.sock" "no air"
out=$("$EMU" --air "unix:$WORK/none.sock" --air-log "$WORK/x" </dev/null 2>&1) && fail "--air-log with --air was accepted"
expect_contains "$out" "orvane-emu: --air-log belongs to orvane-air or vantor listen when the node joins --air" "--air-log"
echo PASS
