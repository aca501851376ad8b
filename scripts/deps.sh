#!/usr/bin/env bash
# Installs the Debian packages that the builds, tests, tools, packages and benchmarks need,
# and only those missing. Packages already present are left as they are, and so are their
# services: only a server package installed by this very call has its system service
# stopped and disabled again (the tests start their own servers on their own ports).
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
  # the Windows installer package (wixl) and the simulator page test (headless browser)
  wixl chromium
)
# Server packages whose system service starts on installation.
services=(tinyproxy nginx squid)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

[ "$(id -u)" = 0 ] && SUDO="" || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "deps.sh: installing ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

# Only what this call installed: its service was not running before and is not wanted.
for service in "${services[@]}"; do
  package=$service
  [ "$service" = nginx ] && package=nginx-light
  case " ${missing[*]} " in *" $package "*) ;; *) continue ;; esac
  if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
    $SUDO systemctl disable --now "$service" >/dev/null 2>&1 || true
  elif command -v service >/dev/null 2>&1; then
    $SUDO service "$service" stop >/dev/null 2>&1 || true
  fi
done
exit 0
