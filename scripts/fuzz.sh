#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for SECONDS (default 60) on its corpus.
# New inputs go to build/fuzz/corpus/<name> (seeded from fuzz/corpus/<name>), so the
# checked-in corpus stays as it is; crashing inputs go to build/fuzz/findings/<name>/.
# Exits 1 when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${JOBS:-2}

# The compiler cache speeds up rebuilds where it is installed; a fresh machine builds without.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

status=0
for source in fuzz/fuzz_*.cpp; do
  target=$(basename "$source" .cpp)
  name=${target#fuzz_}
  corpus=build/fuzz/corpus/$name
  findings=build/fuzz/findings/$name
  mkdir -p "$corpus" "$findings"
  if [ -d "fuzz/corpus/$name" ]; then cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true; fi
  echo "== $target for ${seconds}s"
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "build/fuzz/bin/$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" \
      >"$findings/log.txt" 2>&1; then
    grep -E "^stat::number_of_executed_units|^stat::new_units_added" "$findings/log.txt" | tr '\n' ' '
    echo
  else
    status=1
    echo "FOUND: see $findings/log.txt"
    grep -E "ERROR|runtime error|SUMMARY" "$findings/log.txt" | head -5 || true
  fi
done
exit $status
