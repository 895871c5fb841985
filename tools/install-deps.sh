#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
#   tools/install-deps.sh host     compilers, CMake, Ninja, GoogleTest, Google Benchmark, clang,
#                                  SQLite, libpq, libmosquitto, nlohmann-json, CLI11 and
#                                  cpp-httplib (the Vantor and its dashboard), PostgreSQL and
#                                  Mosquitto (servers its tests start on loopback ports), jq,
#                                  sigrok-cli and librsvg2-bin (the
#                                  end-to-end tests: sigrok-cli reads the VCD traces back,
#                                  rsvg-convert renders the pictures), time (the benchmarks
#                                  measure CPU time with it), libunicorn-dev (orvane-emu: the
#                                  image on an emulated Cortex-M0+), libgpiod-dev (the Vantor's
#                                  own radio on a Linux board; its 1.x API, Debian 12's)
#   tools/install-deps.sh browser  headless Chromium, its driver and Selenium for Debian's Python
#                                  (the dashboard's browser test)
#   tools/install-deps.sh target   the arm-none-eabi cross toolchain with newlib-nano, and the
#                                  emulators its tests run the image on (QEMU, Unicorn)
set -euo pipefail

host_pkgs=(g++ cmake ninja-build make git python3 libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-dev pkg-config libsqlite3-dev libpq-dev postgresql libmosquitto-dev mosquitto mosquitto-clients nlohmann-json3-dev libcli11-dev libcpp-httplib-dev jq sigrok-cli librsvg2-bin time libunicorn-dev libgpiod-dev)
browser_pkgs=(chromium chromium-driver python3-selenium)
target_pkgs=(gcc-arm-none-eabi libnewlib-arm-none-eabi libstdc++-arm-none-eabi-newlib qemu-system-arm python3-unicorn)

want=()
for set in "$@"; do
  case "$set" in
    host) want+=("${host_pkgs[@]}") ;;
    browser) want+=("${browser_pkgs[@]}") ;;
    target) want+=("${target_pkgs[@]}") ;;
    *) echo "install-deps: unknown set '$set' (host|browser|target)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
