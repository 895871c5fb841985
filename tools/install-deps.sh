#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
#   tools/install-deps.sh host     compilers, CMake, Ninja, GoogleTest, Google Benchmark, clang,
#                                  SQLite, nlohmann-json and CLI11 (the Vantor), jq (end-to-end tests)
#   tools/install-deps.sh target   the arm-none-eabi cross toolchain with newlib-nano
set -euo pipefail

host_pkgs=(g++ cmake ninja-build make git python3 libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-dev libsqlite3-dev nlohmann-json3-dev libcli11-dev jq)
target_pkgs=(gcc-arm-none-eabi libnewlib-arm-none-eabi libstdc++-arm-none-eabi-newlib)

want=()
for set in "$@"; do
  case "$set" in
    host) want+=("${host_pkgs[@]}") ;;
    target) want+=("${target_pkgs[@]}") ;;
    *) echo "install-deps: unknown set '$set' (host|target)" >&2; exit 2 ;;
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
