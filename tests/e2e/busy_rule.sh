#!/usr/bin/env bash
# One pending action at a time: in one burst of input the first arming command wins, a second
# is refused with the busy line (its own reply is not printed), and "reset" replaces what was armed.
source "$(dirname "$0")/lib/common.sh"

out="$(printf 'sleep 30\nsleep 40\n' | run_sim "$WORK/a" --burst 2>/dev/null)" || fail "exit status"
expect_contains "$out" "ok: sleep 30 (standby now, board will reset on wake)" "first arming accepted"
[ "$(count_of "$out" "err: busy, a command is already pending (one at a time)")" -eq 1 ] || fail "second arming refused"
grep -qF "ok: sleep 40" <<<"$out" && fail "the refused command must not acknowledge"
expect_contains "$out" "boot cause: SBF (standby flag set)" "the first action (standby) is what ran"

out="$(printf 'sleep 30\nreset\n' | run_sim "$WORK/b" --burst 2>/dev/null)" || fail "exit status (reset)"
expect_contains "$out" "Reset cause: SFTRSTF (software reset)" "reset replaced the armed standby"
grep -qF "boot cause: SBF" <<<"$out" && fail "standby must not have run"

echo "busy rule: ok"
