#!/usr/bin/env bash
# The test phase of scripts/test.sh: starts the wine server, then runs ctest for each
# preset. Each run leaves RESULTS/<run>.xml (JUnit: every test, its output and its skip)
# and a line in RESULTS/runs (build, run, seconds, ctest's exit status), in run order.
# Usage: scripts/test-phase.sh RESULTS JOBS
# VEMTU_TEST_REGEX, when set, runs only the tests whose names match it (ctest -R).
set -uo pipefail
cd "$(dirname "$0")/.."
results=$1 jobs=$2
export WINEPREFIX=${WINEPREFIX:-$(pwd)/build/wineprefix}

# Wine opens its sockets in the wineserver, so a server of this build's prefix started
# outside this network namespace (or in another one) would carry the tests' traffic there:
# past the isolation, or to a loopback where none of the tests' servers listen. Stop it
# and start one here. wine-up.sh leaves a persistent server: one that a wine client starts
# by itself ends with its last client, and parallel tests then meet it on its way out
# ("wine client error:0: recvmsg: Connection reset by peer").
bash scripts/wine-down.sh
bash scripts/wine-up.sh

# run NAME PRESET TIMEOUT [env...]: one ctest invocation; its closing lines stay visible.
run() {
  local name=$1 preset=$2 timeout=$3 start=$SECONDS rc=0
  shift 3
  echo "== tests: $name"
  env "$@" ctest --preset "$preset" -j "$jobs" --timeout "$timeout" \
    ${VEMTU_TEST_REGEX:+-R "$VEMTU_TEST_REGEX"} \
    --output-junit "$results/$name.xml" </dev/null || rc=$?
  echo "$preset $name $((SECONDS - start)) $rc" >>"$results/runs"
  return $rc
}

status=0
run native+wine-scenarios linux 600 || status=1
run asan linux-asan 900 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 || status=1
# Whatever the earlier phases did to the server, the wine units start with a persistent one.
bash scripts/wine-up.sh
run wine-units windows 600 || status=1
exit $status
