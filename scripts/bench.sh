#!/usr/bin/env bash
# Builds the linux preset and runs the benchmarks that have a goal, each beside its peer
# in the same run, then prints one table (measure, ratio, goal): each ratio's median of
# the rounds (3 unless --rounds N says otherwise) and its spread, with the load average
# at each round's start and end. The whole runs go in memory, on a journaled file system
# (a loop-mounted ext4 under this script's own temporary folder when it runs as root,
# else memory, and it says which) and on the temporary folder's disk (for information).
# Usage: scripts/bench.sh [--rounds N] [OUTPUT_FOLDER]   (the JSON results are kept there)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
rounds=3
if [ "${1:-}" = --rounds ]; then
  rounds=$2
  shift 2
fi
out=${1:-$(mktemp -d /tmp/vemtu-bench.XXXXXX)}
mkdir -p "$out"
bin=$root/build/linux/bin

cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" >/dev/null

unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY

# The journaled file system for the whole runs.
journal=$(mktemp -d /tmp/vemtu-bench-journal.XXXXXX)
unmount_journal() {
  if mountpoint -q "$journal/mnt" 2>/dev/null; then umount "$journal/mnt"; fi
  rm -rf "$journal"
}
trap unmount_journal EXIT
mkdir -p "$journal/mnt"
if [ "$(id -u)" = 0 ] && truncate -s 1G "$journal/ext4.img" &&
  mkfs.ext4 -q -F -O has_journal "$journal/ext4.img" && mount -o loop "$journal/ext4.img" "$journal/mnt"; then
  echo "== journaled runs on a loop-mounted ext4 ($journal/mnt)"
  export VEMTU_BENCH_JOURNALED=$journal/mnt
else
  echo "== no loop-mounted ext4 (needs root): the journaled runs are in memory (tmpfs)"
  unset VEMTU_BENCH_JOURNALED
fi

# System calls per file of one run posting 1,000 files of 2 KB (half packed) to dcsim,
# counted by strace -f -c; $1 = 1 gives each file a prefix of its own; $2 = agent runs
# the agent, peer the mandated-work peer.
syscalls_per_file() {
  local work port dcsim total
  work=$(mktemp -d /dev/shm/vemtu-syscalls.XXXXXX)
  mkdir -p "$work/agent/Configuration/WebPost" "$work/agent/ATPostLogs"
  cp "$bin/Vemtu.EXE" "$bin"/*.so "$work/agent/"
  "$bin/dcsim" --out "$work/received" >"$work/dcsim.out" 2>&1 &
  dcsim=$!
  for _ in $(seq 100); do grep -q "http=" "$work/dcsim.out" && break; sleep 0.1; done
  port=$(grep -o "http=[0-9]*" "$work/dcsim.out" | cut -d= -f2)
  printf '[MACHINE_INFO]\r\nDCRegId=R1\r\nAgentType=T1\r\n[CONTROLLER_INFO]\r\nMemberId=M1\r\nSiteId=S1\r\n[DCConnURL]\r\nControllerPSite=http://127.0.0.1:%s/dc\r\n' \
    "$port" >"$work/agent/KOLTMobile.INI"
  python3 - "$work/agent/ATPostLogs" "$1" <<'EOF'
import sys
folder, new_prefix = sys.argv[1], sys.argv[2] == "1"
for i in range(1000):
    prefix, serial = ("B%d" % i, 1) if new_prefix else ("B", i)
    filler = chr(ord("a") + i % 26) * 2048
    if i % 2:
        name, body = "%s_Y_%d.xml" % (prefix, serial), "<r><v>" + filler[:2048 - 14] + "</v></r>"
    else:
        name, body = "%s_N_%d.txt" % (prefix, serial), filler
    open(folder + "/" + name, "w").write(body)
EOF
  if [ "$2" = agent ]; then
    (cd "$work/agent" && strace -f -c -o "$work/strace.txt" ./Vemtu.EXE ATPostLogs) || true
  else
    strace -f -c -o "$work/strace.txt" "$bin/bench_mandated_peer" "$work/agent" ATPostLogs \
      "http://127.0.0.1:$port/dc" "mmid=M1&sid=S1&rid=R1&rty=T1" || true
  fi
  kill "$dcsim"
  total=$(awk '$NF == "total" {print $4}' "$work/strace.txt")
  rm -rf "$work"
  echo $((total / 1000))
}

one_round() {
  local dir=$1
  mkdir -p "$dir"
  json() { "$bin/$1" --benchmark_format=json --benchmark_out="$dir/$2.json" "${@:3}" >/dev/null; }
  echo "start $(cut -d' ' -f1-3 /proc/loadavg)" | tee "$dir/load.txt"

  echo "== log lines";  json bench_log_writer_bench log_writer --benchmark_filter='WriteLogEntry|BareOpenAppendClose'
  echo "== posts";      json bench_transport transport --benchmark_filter='SideBySide|Large_|BM_Small_(Curl|SendWinHTTPPOST|SendPOST)/'
  echo "== packing";    json bench_packing packing --benchmark_filter='PackXmlFile|RawDeflate'
  echo "== whole run";  json bench_posting posting --benchmark_filter='^BM_Run_SideBySide'

  echo "== packing memory"
  local big=$dir/P_Y_1.xml line peak_kb
  "$bin/bench_packing_memory" make "$big" 300
  line=$("$bin/bench_packing_memory" pack "$big" "$dir/P_Y_1.zip")
  peak_kb=${line##*peak_rss_kb=}
  printf '{"file_bytes": %d, "peak_bytes": %d}\n' "$(stat -c %s "$big")" $((peak_kb * 1024)) >"$dir/packing_memory.json"
  rm -f "$big" "$dir/P_Y_1.zip"

  if command -v strace >/dev/null; then
    echo "== system calls per file"
    printf '{"new_prefix": %d, "one_prefix": %d, "peer_new_prefix": %d, "peer_one_prefix": %d}\n' \
      "$(syscalls_per_file 1 agent)" "$(syscalls_per_file 0 agent)" \
      "$(syscalls_per_file 1 peer)" "$(syscalls_per_file 0 peer)" >"$dir/syscalls.json"
  fi

  if [ -x "$root/build/windows/bin/Vemtu.EXE" ] && command -v wine >/dev/null; then
    echo "== whole run, Windows build under wine"
    export WINEPREFIX=$root/build/wineprefix
    bash scripts/wine-up.sh
    # For information only: a failure here leaves the round's other figures standing.
    VEMTU_AGENT_EXE=$root/build/windows/bin/Vemtu.EXE VEMTU_AGENT_WRAPPER=$root/scripts/wine-run.sh \
      json bench_posting posting_wine --benchmark_filter='WrappedRun_SideBySide' ||
      echo "== the Windows build's whole run failed under wine: no figure for it this round"
  fi
  echo "end $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$dir/load.txt"
}

if [ "$rounds" = 1 ]; then
  one_round "$out"
  echo "== results in $out"
  python3 scripts/bench_table.py "$out"
else
  folders=()
  for i in $(seq "$rounds"); do
    echo "=== round $i of $rounds"
    one_round "$out/round-$i"
    folders+=("$out/round-$i")
  done
  echo "== results in $out"
  python3 scripts/bench_table.py "${folders[@]}"
fi
