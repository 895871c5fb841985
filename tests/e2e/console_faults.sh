#!/usr/bin/env bash
# The console under bad input: a line of 10 000 bytes, NUL and control bytes, a flood while an action
# runs (the ring overflows), lines that arrive while the board enters standby. Each ends in its exact
# message, nothing is armed twice, and the next line is handled.
source "$(dirname "$0")/lib/common.sh"

# A 10 000-byte line: one "line too long", nothing dispatched from it, the next line handled.
out=$( { printf 'help'; head -c 9996 /dev/zero | tr '\0' 'x'; printf '\ninfo\n'; } | run_sim "$WORK/long") ||
  fail "long line: exit status"
[ "$(count_of "$out" "err: line too long")" = 1 ] || fail "long line: one message"
expect_contains "$out" "ok: info" "long line: the next line"
[ "$(count_of "$out" "ok: help")" = 1 ] || fail "long line: the long line was dispatched"

# NUL bytes vanish, control bytes stay in the line (no command name), CR LF and LF CR end lines once.
out=$(printf 'he\0lp\r\n\a\033[A\n\rinfo\n\r' | run_sim "$WORK/ctl") || fail "control: exit status"
[ "$(count_of "$out" "ok: help")" = 2 ] || fail "control: NUL inside a line"
[ "$(count_of "$out" "err: bad command")" = 1 ] || fail "control: control bytes"
[ "$(count_of "$out" "ok: info")" = 1 ] || fail "control: line ends"

# A flood in one burst while a repeat run blocks the loop: the ring overflows once, the rest of that
# line and what follows it in the burst are lost up to the next line end, nothing runs twice, and the
# line after that is handled.
flood=$(head -c 800 /dev/zero | tr '\0' 'y')
# (The operator's next line comes once the run is over, as it would after reading its output.)
out=$( { printf 'every 2 1\n%s\nsample\n' "$flood"; sleep 3; printf 'help\ninfo\n'; } | run_sim "$WORK/flood" --burst) ||
  fail "flood: exit status"
[ "$(count_of "$out" "err: rx overflow")" = 1 ] || fail "flood: one overflow message"
expect_contains "$out" "ok: every done (2 samples)" "flood: the action ended"
# The overflowed line ends only at the next line end: the operator's next line closes it unseen.
[ "$(count_of "$out" "ok: help")" = 1 ] || fail "flood: the line that closed the dropped one"
expect_contains "$out" "ok: info" "flood: the line after the flood"
[ "$(grep -c '^=== sample full ===$' <<<"$out")" = 2 ] || fail "flood: a sample was run twice or not at all"

# Lines in the same burst as "sleep": handled before the board goes down, and the board wakes.
out=$(printf 'sleep 1\nsample\ninfo\n' | run_sim "$WORK/sleep" --burst 2>"$WORK/err") || fail "sleep: exit status"
expect_contains "$out" "err: busy, a command is already pending (one at a time)" "sleep: second arming refused"
expect_contains "$out" "ok: info" "sleep: a line needing no action is answered"
grep -q 'orvane-sim: standby at t=' "$WORK/err" || fail "sleep: no standby"
[ "$(grep -c '^Reset cause:' <<<"$out")" = 2 ] || fail "sleep: no wake-up"
echo "console faults: ok"
