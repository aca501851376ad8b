#!/usr/bin/env bash
# Installs what is missing, builds the three presets and runs every test: natively,
# under AddressSanitizer + UndefinedBehaviorSanitizer, and the Windows build under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

bash scripts/deps.sh

export WINEPREFIX="$root/build/wineprefix"
cleanup() { bash scripts/wine-down.sh; }
trap cleanup EXIT

echo "== windows build"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

echo "== linux build"
cmake --preset linux -DVEMTU_WINDOWS_BIN="$root/build/windows/bin" >/dev/null
cmake --build --preset linux -j "$jobs"

echo "== linux-asan build"
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan -j "$jobs"

echo "== wine"
bash scripts/wine-up.sh

status=0
echo "== tests: linux (native, and the Windows agent under wine)"
ctest --preset linux -j "$jobs" --timeout 600 </dev/null || status=1
echo "== tests: linux-asan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset linux-asan -j "$jobs" --timeout 900 </dev/null || status=1
echo "== tests: windows unit tests under wine"
ctest --preset windows -j "$jobs" --timeout 600 </dev/null || status=1
exit $status
