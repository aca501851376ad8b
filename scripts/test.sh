#!/usr/bin/env bash
# Installs what is missing, builds the three presets and runs every test: natively,
# under AddressSanitizer + UndefinedBehaviorSanitizer, and the Windows build under wine.
# The whole test phase (the wine server included) runs in a network namespace with only
# the loopback device, so a test that tried to reach past this machine would fail here.
# Ends with one table (per build and ctest run: passed, failed, skipped, time) and the
# reason of every skipped test. VEMTU_TEST_REGEX=REGEX runs only the tests it matches.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)
results=$root/build/test-results
mkdir -p "$results"
rm -f "$results"/*.xml "$results"/runs "$results"/builds

bash scripts/deps.sh

export WINEPREFIX="$root/build/wineprefix"
cleanup() { bash scripts/wine-down.sh; }
trap cleanup EXIT

# build PRESET [configure options...]: configures and builds, records the time taken.
build() {
  local preset=$1 start=$SECONDS
  shift
  echo "== $preset build"
  cmake --preset "$preset" "$@" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "$preset $((SECONDS - start))" >>"$results/builds"
}
build windows
build linux -DVEMTU_WINDOWS_BIN="$root/build/windows/bin"
build linux-asan

status=0
bash scripts/offline.sh bash scripts/test-phase.sh "$results" "$jobs" || status=1
bash scripts/test-summary.sh "$results" || status=1
exit $status
