#!/usr/bin/env bash
# "save" then "reset": the committed record comes back byte for byte and config.ok is yes.
set -euo pipefail
sim="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
hex() { od -An -tx1 -v -j "$2" -N "$3" "$1" | tr -d ' \n'; }

# A board that has never been configured: save commits the defaults, marked valid.
printf 'save\nreset\n' | "$sim" --speed 0 --state "$dir/a" | tr -d '\r' >"$dir/a.out"
grep -q '^ok: save (config.ok now yes)$' "$dir/a.out" || fail "save not acknowledged"
page="$dir/a/flash-page.bin"
[ "$(hex "$page" 118 1)" = 10 ] || fail "version byte"
[ "$(hex "$page" 120 4)" = 04869880 ] || fail "magic bytes"
# After the record, the uplink counter checkpoint every commit keeps (counter 0, three zero bytes,
# marker A5, check byte ~A5 = 5A), then nothing.
[ "$(hex "$page" 128 8)" = 000000000000a55a ] || fail "the checkpoint after the record"
[ "$(hex "$page" 136 1912 | tr -d f)" = "" ] || fail "bytes 136..2047 of the page are not erased"
# Second start (the reset): a software reset that finds its committed record.
second=$(awk '/^Reset cause:/{n++} n==2' "$dir/a.out")
grep -q '^Reset cause: SFTRSTF (software reset)$' <<<"$second" || fail "no software reset"
grep -q '^ready$' <<<"$second" || fail "second start did not reach the shell"
! grep -q 'uid not committed' <<<"$second" || fail "config.ok is not yes after the reset"

# A record with an identity (as provisioning leaves it): save and reset keep it, byte for byte.
printf 'set uid 12ABCD\nsave\n' | "$sim" --speed 0 --state "$dir/seed" >/dev/null
mkdir "$dir/b"
cp "$dir/seed/flash-page.bin" "$dir/b/flash-page.bin"
cp "$dir/b/flash-page.bin" "$dir/seeded.bin"
printf 'save\nreset\n' | "$sim" --speed 0 --state "$dir/b" | tr -d '\r' >"$dir/b.out"
[ "$(grep -c '^  UID (u24): 1223629 (0x12ABCD)$' "$dir/b.out")" = 2 ] || fail "identity not loaded at both starts"
! grep -q 'uid not committed' "$dir/b.out" || fail "record not valid"
grep -q '^ok: save (config.ok now yes)$' "$dir/b.out" || fail "save not acknowledged"
cmp -s "$dir/seeded.bin" "$dir/b/flash-page.bin" || fail "saved page differs from the loaded record"
echo PASS
