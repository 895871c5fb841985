#!/usr/bin/env bash
# "unprovision" erases the page and resets into defaults; a failing erase changes nothing.
set -euo pipefail
sim="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
starts() { grep -c '^Reset cause:' "$1"; }

state="$dir/state"
printf 'save\n' | "$sim" --speed 0 --state "$state" >/dev/null
cp "$state/flash-page.bin" "$dir/committed.bin"

# The erase fails: the error line, no reset, the page as it was, the record still live.
printf 'unprovision\n' | "$sim" --speed 0 --state "$state" --flash-fail-erase | tr -d '\r' >"$dir/fail.out"
grep -q '^err: unprovision failed (flash erase)$' "$dir/fail.out" || fail "no erase error"
[ "$(starts "$dir/fail.out")" = 1 ] || fail "the board reset after a failed erase"
cmp -s "$dir/committed.bin" "$state/flash-page.bin" || fail "page changed by a failed erase"

printf 'unprovision\n' | "$sim" --speed 0 --state "$state" | tr -d '\r' >"$dir/ok.txt"
grep -q '^ok: unprovision (config erased, resetting)$' "$dir/ok.txt" || fail "not acknowledged"
[ "$(starts "$dir/ok.txt")" = 2 ] || fail "no reset after the erase"
after=$(awk '/^Reset cause:/{n++} n==2' "$dir/ok.txt")
grep -q '^Reset cause: SFTRSTF (software reset)$' <<<"$after" || fail "not a software reset"
grep -q '^warn: uid not committed' <<<"$after" || fail "defaults not in use after the reset"
[ "$(od -An -tx1 -v "$state/flash-page.bin" | tr -d ' \nf')" = "" ] || fail "page not erased"
echo PASS
