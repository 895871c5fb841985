#!/usr/bin/env bash
# A short version of the unattended month (tests/soak/bench_month.sh): two days of two cycles each.
exec bash "$(dirname "$0")/../soak/bench_month.sh" "$1" 2 2 3
