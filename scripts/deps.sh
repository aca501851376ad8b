#!/usr/bin/env bash
# Installs every Debian package that the builds, tests, tools and benchmarks need.
# Idempotent: packages already present are skipped quickly.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  zlib1g-dev libcurl4-openssl-dev libssl-dev openssl
  libgtest-dev googletest libbenchmark-dev libcpp-httplib-dev libpugixml-dev
  tinyproxy curl iproute2 util-linux
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  libz-mingw-w64-dev
  wine64 wine
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" = 0 ] && SUDO="" || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# tinyproxy is started by the tests on their own ports; keep the system service quiet.
if command -v systemctl >/dev/null 2>&1; then systemctl disable --now tinyproxy >/dev/null 2>&1 || true; fi
pkill -x tinyproxy >/dev/null 2>&1 || true
exit 0
