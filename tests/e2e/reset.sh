#!/usr/bin/env bash
# "reset" restarts the firmware from its entry point: the banner appears again, input typed
# after the reset is still delivered, and the start reports a software reset.
source "$(dirname "$0")/lib/common.sh"

out="$(printf 'reset\nhelp\n' | run_sim "$WORK/s")" || fail "exit status"
[ "$(count_of "$out" "=== Orvane demo shell ===")" -eq 2 ] || fail "banner should appear twice"
expect_contains "$out" "ok: reset" "reset acknowledged"
after_reset="${out#*ok: reset}"
expect_contains "$after_reset" "> help" "line after the reset is handled by the new start"
[ "$(grep -c '^Reset cause: ' <<<"$out")" -eq 2 ] || fail "each start reports its reset cause"
expect_contains "${out%%ok: reset*}" "Reset cause: PWRRSTF (power-on/brownout reset)" "a new state folder is a power-on"
expect_contains "$after_reset" "Reset cause: SFTRSTF (software reset)" "reset names the software reset"

# "reset" wins over an action armed earlier in the same burst, and a burst is one delivery.
out="$(printf 'reset\nreset\n' | run_sim "$WORK/b" --burst)" || fail "exit status (burst)"
[ "$(count_of "$out" "ok: reset")" -eq 2 ] || fail "both resets acknowledged in one burst"
[ "$(count_of "$out" "=== Orvane demo shell ===")" -eq 2 ] || fail "one restart for the burst"
echo "reset command: ok"

# A folder made empty beforehand (mkdir, mktemp -d) holds no board yet: also a power-on.
mkdir "$WORK/empty"
out="$(printf 'help\n' | run_sim "$WORK/empty")" || fail "exit status (empty folder)"
expect_contains "$out" "Reset cause: PWRRSTF (power-on/brownout reset)" "an empty state folder is a power-on"
echo "empty state folder: ok"

# The reset button (Ctrl-A r) restarts the board too; Ctrl-A x leaves the simulator at once.
out="$(printf 'help\n\001r\nhelp\n\001x\nhelp\n' | run_sim "$WORK/p")" || fail "exit status (escapes)"
[ "$(count_of "$out" "=== Orvane demo shell ===")" -eq 2 ] || fail "reset button restarts once"
[ "$(count_of "$out" "ok: help")" -eq 4 ] || fail "help before and after the reset button, none after quit"
expect_contains "$out" "Reset cause: PINRSTF (NRST pin reset)" "the reset button is a pin reset"
echo "reset button: ok"
