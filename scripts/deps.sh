#!/usr/bin/env bash
# Installs the Debian packages that the builds, tests, tools, packages and benchmarks need,
# and only those missing. Packages already present are left as they are, and so are their
# services: a server package installed by this very call never has its system service
# started (the tests start their own servers on their own ports).
set -euo pipefail

packages=(
  # builds
  cmake ninja-build g++ pkg-config
  zlib1g-dev libcurl4-openssl-dev libssl-dev openssl
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  # fuzz preset (clang with libFuzzer and the sanitizer runtimes)
  clang libclang-rt-14-dev
  # tests: GoogleTest, real servers and proxies on loopback, the offline namespace
  libgtest-dev googletest libcpp-httplib-dev
  tinyproxy nginx-light squid apache2-utils
  iproute2 util-linux
  # the Windows build under wine
  wine64 wine
  # benchmarks (pugixml is the parsing peer)
  libbenchmark-dev libpugixml-dev python3
  # the hostile-data tests read what the data centre received with expat
  libexpat1-dev
  # the Windows installer package (wixl; msitools marks its secure properties and lets
  # the package test read its tables) and the simulator page test (headless browser)
  wixl msitools chromium
  # the locale sources that wine's code-page tests build with localedef
  locales
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

[ "$(id -u)" = 0 ] && SUDO="" || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "deps.sh: installing ${missing[*]}"
$SUDO apt-get update -qq
# The server packages (tinyproxy, nginx, squid) would start their system services on
# installation; the tests start their own on their own ports. A policy that forbids
# starting services keeps them from starting at all, for this call only, so nothing
# running has to be stopped afterwards. An existing policy is left as it is.
policy=/usr/sbin/policy-rc.d
own_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
  own_policy=1
fi
status=0
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" || status=$?
[ $own_policy = 1 ] && $SUDO rm -f "$policy"
exit $status
