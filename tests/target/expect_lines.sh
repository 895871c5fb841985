#!/usr/bin/env bash
# Runs a program and compares what it prints with the reference lines, line by line.
#   expect_lines.sh REFERENCE PROGRAM [ARGS...]
set -uo pipefail
reference=$1
shift
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$@" >"$out"
rc=$?
if [ $rc -ne 0 ]; then
  echo "expect_lines: '$*' exited with $rc" >&2
  exit 1
fi
if ! diff -u "$reference" "$out" >&2; then
  echo "expect_lines: the output of '$1' differs from $reference (first differences above)" >&2
  exit 1
fi
echo "expect_lines: $(wc -l <"$out") lines identical to $(basename "$reference")"
