#!/usr/bin/env bash
# Prints the table of scripts/test.sh from the files its test phase left in RESULTS:
# one line per build and ctest run (passed, failed, skipped, time), then every skipped
# test with the reason its output gave. Exits 1 when a run failed or left no results.
# Usage: scripts/test-summary.sh RESULTS
set -euo pipefail
results=$1
status=0

# Per JUnit file: "passed failed skipped", then one "SKIP<TAB>name<TAB>reason" per skip.
# A skipped gtest case prints "<file>:<line>: Skipped" and its reason on the next line.
read_junit() {
  awk '
    function unxml(s) {
      gsub(/&lt;/, "<", s); gsub(/&gt;/, ">", s); gsub(/&quot;/, "\"", s)
      gsub(/&apos;/, "\047", s); gsub(/&#10;/, " ", s); gsub(/&amp;/, "\\&", s); return s
    }
    function finish() {
      if (name == "") return
      if (skipped) { s++; skips = skips "SKIP\t" name "\t" (reason == "" ? "(no reason printed)" : reason) "\n" }
      else if (failed) f++
      else p++
      name = ""
    }
    /<testcase / {
      finish()
      match($0, /name="[^"]*"/); name = unxml(substr($0, RSTART + 6, RLENGTH - 7))
      skipped = ($0 ~ /status="(notrun|disabled)"/); failed = ($0 ~ /status="fail"/)
      reason = ""; want = 0
    }
    /<skipped/ { skipped = 1 }
    /<failure/ { failed = 1 }
    {
      if (want && reason == "") { line = unxml($0); sub(/^[ \t]+/, "", line); if (line != "") reason = line; want = 0 }
      if ($0 ~ /: Skipped[ \t\r]*$/) want = 1
    }
    END { finish(); printf "%d %d %d\n%s", p, f, s, skips }
  ' "$1"
}

seconds_of_build() { awk -v p="$1" '$1 == p { print $2 }' "$results/builds" 2>/dev/null; }

echo
echo "== Summary"
printf '%-11s %-24s %7s %7s %8s %8s\n' build "ctest run" passed failed skipped time
skip_lines=""
[ -s "$results/runs" ] || { echo "no test run left results"; exit 1; }
while read -r preset name seconds rc; do
  build_seconds=$(seconds_of_build "$preset")
  if [ -s "$results/$name.xml" ]; then
    counts=$(read_junit "$results/$name.xml")
    read -r passed failed skipped <<<"$(head -n 1 <<<"$counts")"
    skip_lines+=$(tail -n +2 <<<"$counts" | sed "s/^SKIP\t/$name\t/")$'\n'
  else
    passed=- failed=- skipped=-
  fi
  [ "$rc" = 0 ] || status=1
  printf '%-11s %-24s %7s %7s %8s %8s\n' "$preset" "$name" "$passed" "$failed" "$skipped" \
    "${seconds}s${build_seconds:+ (+${build_seconds}s build)}"
done <"$results/runs"
skip_lines=$(sed '/^$/d' <<<"$skip_lines")
if [ -n "$skip_lines" ]; then
  echo
  echo "== Skipped tests and why"
  printf '%s\n' "$skip_lines" | awk -F'\t' '{ printf "  %-24s %s\n      %s\n", $1, $2, $3 }'
fi
exit $status
