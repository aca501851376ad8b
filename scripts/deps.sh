#!/usr/bin/env bash
# Installs the Debian packages that are missing, and only those. Needs root, or sudo.
#   scripts/deps.sh           everything the builds, tests, tools, packages and benchmarks use
#   scripts/deps.sh --build   only what building the agent and its tools (and the demo) needs
# The packages a build needs are installed all together, or the script fails. The others
# serve some tests only: one that this Debian release does not offer, or that will not
# install, is left out with a line saying so, and its tests skip with their reason.
# Packages already present are left as they are, and so are their services: a server
# package installed by this very call never has its system service started (the tests
# start their own servers on their own ports).
set -euo pipefail

build_packages=(cmake ninja-build g++ pkg-config git
                zlib1g-dev libcurl4-openssl-dev libssl-dev openssl)
# The rest, each group a line: what needs it.
test_packages=(
  # the Windows build
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  # GoogleTest, the offline namespace, benchmarks (pugixml is the parsing peer), expat for
  # what the data centre received
  libgtest-dev googletest libcpp-httplib-dev iproute2 util-linux
  libbenchmark-dev libpugixml-dev python3 libexpat1-dev
  # the locale sources that wine's code-page tests build with localedef
  locales
)
# Each optional: "name" or "name|fallback" (the first one this release offers).
optional_packages=(
  clang "libclang-rt-dev|libclang-rt-14-dev"   # fuzz preset
  tinyproxy "nginx-light|nginx" squid apache2-utils   # real servers and proxies on loopback
  wine64 wine     # the Windows build's tests under wine
  wixl            # the Windows installer package
  msitools        # marks the package's secure properties; its test reads the tables
  chromium        # the status page in a headless browser
  systemd         # systemd-analyze checks the shipped unit files
)

case "${1:-}" in
  --build) test_packages=(); optional_packages=() ;;
  "") ;;
  *) echo "usage: scripts/deps.sh [--build]" >&2; exit 2 ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
offered() { apt-cache policy "$1" 2>/dev/null | grep -q 'Candidate: [^(]'; }

missing=()
for p in "${build_packages[@]}" "${test_packages[@]}"; do installed "$p" || missing+=("$p"); done
optional_missing=()
for choice in "${optional_packages[@]}"; do
  found=""
  for p in ${choice//|/ }; do installed "$p" && found=1 && break; done
  [ -n "$found" ] || optional_missing+=("$choice")
done
[ ${#missing[@]} -eq 0 ] && [ ${#optional_missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" = 0 ]; then
  SUDO=""
elif command -v sudo >/dev/null; then
  SUDO="sudo"
else
  echo "deps.sh: installing packages needs root or sudo; missing: ${missing[*]} ${optional_missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
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
if [ ${#missing[@]} -gt 0 ]; then
  echo "deps.sh: installing ${missing[*]}"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" || status=$?
fi
for choice in "${optional_missing[@]}"; do
  chosen=""
  for p in ${choice//|/ }; do offered "$p" && chosen=$p && break; done
  if [ -z "$chosen" ]; then
    echo "deps.sh: ${choice//|/ or } is not offered by this release: the tests that use it skip"
  elif echo "deps.sh: installing $chosen" &&
       ! $SUDO apt-get install -y -qq --no-install-recommends "$chosen"; then
    echo "deps.sh: $chosen did not install: the tests that use it skip"
  fi
done
[ $own_policy = 1 ] && $SUDO rm -f "$policy"
exit $status
