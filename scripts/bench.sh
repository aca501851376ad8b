#!/usr/bin/env bash
# Builds the linux preset and runs the benchmarks that have a goal, each beside its peer
# in the same run, then prints one table (measure, ratio, goal).
# Usage: scripts/bench.sh [OUTPUT_FOLDER]   (the JSON results are kept there)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-$(mktemp -d /tmp/vemtu-bench.XXXXXX)}
mkdir -p "$out"
bin=$root/build/linux/bin

cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" >/dev/null

unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY
json() { "$bin/$1" --benchmark_format=json --benchmark_out="$out/$2.json" "${@:3}" >/dev/null; }

echo "== log lines";  json bench_log_writer_bench log_writer --benchmark_filter='WriteLogEntry|BareOpenAppendClose'
echo "== posts";      json bench_transport transport --benchmark_filter='SideBySide|Large_|BM_Small_(Curl|SendWinHTTPPOST|SendPOST)/'
echo "== packing";    json bench_packing packing --benchmark_filter='PackXmlFile|RawDeflate'
echo "== whole run";  json bench_posting posting --benchmark_filter='^BM_Run_SideBySide'

echo "== packing memory"
big=$out/P_Y_1.xml
"$bin/bench_packing_memory" make "$big" 300
line=$("$bin/bench_packing_memory" pack "$big" "$out/P_Y_1.zip")
peak_kb=${line##*peak_rss_kb=}
printf '{"file_bytes": %d, "peak_bytes": %d}\n' "$(stat -c %s "$big")" $((peak_kb * 1024)) >"$out/packing_memory.json"
rm -f "$big" "$out/P_Y_1.zip"

if [ -x "$root/build/windows/bin/Vemtu.EXE" ] && command -v wine >/dev/null; then
  echo "== whole run, Windows build under wine"
  export WINEPREFIX=$root/build/wineprefix
  bash scripts/wine-up.sh
  VEMTU_AGENT_EXE=$root/build/windows/bin/Vemtu.EXE VEMTU_AGENT_WRAPPER=$root/scripts/wine-run.sh \
    json bench_posting posting_wine --benchmark_filter='WrappedRun_SideBySide'
fi

echo "== load: $(cut -d' ' -f1-3 /proc/loadavg); results in $out"
python3 scripts/bench_table.py "$out"
