#!/usr/bin/env bash
# Benchmark, not a test: inputs a second of the libFuzzer targets (preset fuzz: clang, ASan, UBSan)
# from their checked-in seeds, the same inputs on every run (-seed=1), in a scratch copy of the
# corpus so that the seeds stay as they are. Run it alone on a core; best of REPEAT runs.
#   tests/bench/fuzz_rates.sh build/fuzz/tests [REPEAT] [TARGET...]
# With GROWN=DIR, each target also runs from DIR/<target> (a corpus grown by a campaign).
set -euo pipefail
BIN="$1"
REPEAT="${2:-1}"
shift $(($# >= 2 ? 2 : 1))
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(console_fuzz inbound_fuzz vantor_fuzz)
SEEDS="$(cd "$(dirname "$0")/../fuzz/corpus" && pwd)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# rate TARGET CORPUS RUNS: the best exec/s libFuzzer reports over REPEAT runs.
rate() {
  local best=0 r
  for _ in $(seq "$REPEAT"); do
    rm -rf "$WORK/corpus" && mkdir -p "$WORK/corpus" && cp -r "$2"/. "$WORK/corpus/"
    r=$(cd "$WORK" && "$BIN/$1" -seed=1 -runs="$3" -detect_leaks=0 "$WORK/corpus" 2>&1 |
      sed -n 's/.*DONE .*exec\/s: \([0-9]*\).*/\1/p' | tail -1)
    [ "${r:-0}" -gt "$best" ] && best=$r
  done
  echo "$best"
}

for t in "${TARGETS[@]}"; do
  runs=20000
  [ "$t" = console_fuzz ] && runs=3000
  printf '%-14s seeds: %6s inputs/s (%d runs)' "$t" "$(rate "$t" "$SEEDS/$t" $runs)" $runs
  if [ -n "${GROWN:-}" ] && [ -d "$GROWN/$t" ]; then
    printf '   grown corpus (%d files): %6s inputs/s' "$(ls "$GROWN/$t" | wc -l)" "$(rate "$t" "$GROWN/$t" $runs)"
  fi
  echo
done
