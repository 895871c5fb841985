#!/usr/bin/env bash
# Runs a program of the host build (the emulator, its image tests) from a test of the target build:
# the image is built with the cross compiler, the emulator with the host compiler; `make test` builds
# both before it runs any test.
#   host_program.sh PROGRAM [ARGS...]
if [ ! -x "$1" ]; then
  echo "host_program: $1 is missing: build the host preset first (make sim, or cmake --build --preset sim)" >&2
  exit 1
fi
exec "$@"
