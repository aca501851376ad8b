#!/usr/bin/env bash
# The whole product in one go: builds the agent and the data-centre simulator, lays out a
# sample agent folder, starts the simulator on free loopback ports, runs Vemtu.EXE without
# a word (the chain AlertTkt -> Status -> Configuration, and AlertTkt -> ATPostLogs),
# waits for the four runs to finish, runs ATPostLogs three times more (with a default
# proxy) so that a file the data centre refuses every time reaches Error/, and shows what the simulator received, the end
# of every log and what became of each sample file. Exits 1 when a run did not finish.
# The site is a loopback address where nothing listens (127.0.0.9:9), reached through
# the simulator's proxy only: the first send method (direct) fails and the cascade moves
# on to the configured proxy. No name is ever looked up.
#   scripts/demo.sh            build in build/demo and run
#   DEMO_KEEP=1 scripts/demo.sh  keep the sample folder afterwards
#   DEMO_BIN=build/linux/bin scripts/demo.sh  use programs already built there
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ -n "${DEMO_BIN:-}" ]; then
  bin=$(cd "$DEMO_BIN" && pwd)
else
  echo "== Installing what the build needs (Debian packages; needs root or sudo)"
  bash scripts/deps.sh --build
  echo "== Building the agent and its tools (build/demo)"
  cmake --preset linux -B build/demo -DVEMTU_TESTS=OFF >/dev/null
  cmake --build build/demo -j "$(nproc)"
  bin=$root/build/demo/bin
fi

demo=$(mktemp -d /tmp/vemtu-demo.XXXXXX)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  if [ "${DEMO_KEEP:-0}" = 1 ]; then
    echo "The sample folder is $demo (kept)."
  else
    rm -rf "$demo"
    echo "The sample folder was $demo; it is removed now. Run DEMO_KEEP=1 scripts/demo.sh to keep it."
  fi
}
trap cleanup EXIT

echo "== Starting the data-centre simulator"
mkdir -p "$demo/received"
"$bin/dcsim" --out "$demo/received" --ports-file "$demo/dcsim.ports" \
  --rule 'prefix=REFUSED reply=0' >"$demo/dcsim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -s "$demo/dcsim.ports" ] && break; sleep 0.1; done
read -r http_field _ proxy_field <"$demo/dcsim.ports"
port=${http_field#http=}
proxy_port=${proxy_field#proxy=}
echo "   $(cat "$demo/dcsim.ports") on 127.0.0.1; what it receives: http://127.0.0.1:$port/"
site=http://127.0.0.9:9

echo "== Laying out the agent folder $demo/agent"
agent=$demo/agent
mkdir -p "$agent/Configuration/WebPost" "$agent/AlertTkt" "$agent/ATPostLogs" "$agent/Status"
cp "$bin/Vemtu.EXE" "$agent/"
find "$bin" -maxdepth 1 \( -name '*.so' -o -name '*.so.*' \) -exec cp {} "$agent/" \;

# The agent INI: identity, the data centre behind the simulator's proxy (no credentials).
printf '%s\r\n' \
  '[MACHINE_INFO]' 'DCRegId=DEMO-REG-0001' 'AgentType=TVQA' \
  '[CONTROLLER_INFO]' 'MemberId=1001' 'SiteId=42' \
  '[DCConnURL]' "ControllerPSite=$site/dc" 'ControllerSSite=' \
  '[ProxySettings]' 'ProxyIP=127.0.0.1' "ProxyPort=$proxy_port" 'ProxyUserName=' 'ProxyPassword=' \
  >"$agent/KOLTMobile.INI"

# The posting configuration: update counters and the WinHTTP write settings.
printf '%s\r\n' \
  '[ConfigCycles]' 'KOLTMobileUpdateCycle=3' 'DNSSpecificUpdateCycle=0' 'RepriortizeUpdateCycle=7' \
  '[ConfigWebPostWriteData]' 'NumberOfBytesToWrite=4096' 'WriteDataDelay=0' \
  >"$agent/Configuration/WebPost/WebPostConfig.INI"

# Routing rules: URGENT goes first, to its own page; KEEP stays; JUNK is set aside.
cat >"$agent/Configuration/WebPost/Reprioritize.XML" <<'EOF'
<rules>
  <pr nm='URGENT'/>
  <ig nm='KEEP'/>
  <del nm='JUNK'/>
</rules>
EOF
cat >"$agent/Configuration/WebPost/DNSSpecific.XML" <<EOF
<rules>
  <wp name='urgent' url='$site/priority'/>
</rules>
EOF

# Result files as the monitoring agent leaves them.
xml() { printf '<?xml version="1.0" encoding="utf-8"?>\r\n<%s id="%s">\r\n  <state>%s</state>\r\n</%s>\r\n' "$1" "$2" "$3" "$1"; }
xml ALRT 1 "disk almost full" >"$agent/AlertTkt/ALRT_N_0001.xml"
xml ALRT 2 "service restarted" >"$agent/AlertTkt/ALRT_Y_0002.xml"
printf 'ticket 3: backup late\r\n' >"$agent/AlertTkt/TKT_N_0003.txt"
printf 'urgent: fan failure\r\n' >"$agent/AlertTkt/tfr_URGENT_0004.txt"
printf 'kept for later\r\n' >"$agent/AlertTkt/KEEP_N_0005.txt"
printf 'obsolete\r\n' >"$agent/AlertTkt/JUNK_N_0006.txt"
printf 'no prefix\r\n' >"$agent/AlertTkt/notes.txt"
printf 'refused by the data centre\r\n' >"$agent/ATPostLogs/REFUSED_N_0007.txt"
printf 'log line 1\r\nlog line 2\r\n' >"$agent/ATPostLogs/LOG_N_0001.txt"
xml LOGS 2 "rotated" >"$agent/ATPostLogs/LOGS_Y_0002.xml"
printf 'cpu=12%%\r\nmem=48%%\r\n' >"$agent/Status/PSTAT_0001.txt"
printf 'uptime 12 days\r\n' >"$agent/Status/PSTAT_0002.out"
mapfile -t samples < <(cd "$agent" && find AlertTkt ATPostLogs Status -type f | sort)
echo "   files before the runs:"
printf '     %s\n' "${samples[@]}"

echo "== Checking the folder and the way to the data centre (vemtu-check)"
cp "$bin/vemtu-check" "$agent/"
"$agent/vemtu-check" config | sed 's/^/   /'
"$agent/vemtu-check" output --timeout 10 | sed 's/^/   /' || true

echo "== Running Vemtu.EXE without a word"
unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY
"$agent/Vemtu.EXE"
logs=$agent/ApplicationLog/WebPost/WebPostExe
finished() { grep -q 'MSG: Finished Web Posting' "$logs/WebPost$1.log" 2>/dev/null; }
for _ in $(seq 600); do
  if finished AlertTkt && finished Status && finished ATPostLogs && finished Configuration; then
    break
  fi
  sleep 0.1
done
unfinished=0
for k in AlertTkt Status ATPostLogs Configuration; do
  if finished "$k"; then echo "   $k run finished"; else echo "   $k run did NOT finish"; unfinished=1; fi
done
sleep 0.3

# A file takes its next retry name only when the last method, through the default proxy,
# is refused too. In the runs above there is no default proxy: that method goes direct to
# the dead site and fails (12029), so REFUSED_N_0007.txt keeps its name for ever. With the
# simulator's proxy as the default proxy every method is refused; each run then takes the
# file two retry names further (X.txt1 at once, X.txt2 in its last pass), and after X.txt5
# it goes to Error/.
echo "== ATPostLogs runs with a default proxy: the refused REFUSED_N_0007.txt goes on to Error/"
for run in 2 3 4; do
  http_proxy=http://127.0.0.1:$proxy_port "$agent/Vemtu.EXE" ATPostLogs
  echo "   run $run: $(cd "$agent/ATPostLogs" && ls -d REFUSED_* Error/REFUSED_* 2>/dev/null | tr '\n' ' ')"
done

echo "== What the data centre saw (index: number, way, method, target, prefix, bytes, packed, status, reply, time)"
cat "$demo/received/index.txt" 2>/dev/null || echo "   nothing"
for body in "$demo"/received/*.body; do
  [ -e "$body" ] || continue
  n=$(basename "$body" .body)
  if [ -e "$demo/received/$n.unpacked" ]; then
    echo "-- request $n (packed; unpacked text follows)"
    cat "$demo/received/$n.unpacked"
  else
    echo "-- request $n"
    cat "$body"
  fi
  echo
done

echo "== Files left in the agent folder"
(cd "$agent" && find AlertTkt ATPostLogs Status Configuration -type f | sort | sed 's/^/   /')
echo "== Update counters after the Configuration run"
sed 's/^/   /' "$agent/Configuration/WebPost/WebPostConfig.INI"

echo "== The end of each log"
for log in "$logs"/*.log; do
  echo "-- $(basename "$log")"
  tail -n 12 "$log" | tr '\t' '|' | sed 's/\r$//; s/^/   /'
done

echo "== vemtu-check status: the verdict a monitoring system reads, and its reasons"
{ "$agent/vemtu-check" status || true; } | sed -n '/^$/q; s/^/   /; p'

echo "== What became of each sample file"
refused() { awk -F'\t' -v p="$1" '$5 == p && $9 == "0" { found = 1 } END { exit !found }' "$demo/received/index.txt"; }
rule_of() { grep -io "<$1 nm='$2'" "$agent/Configuration/WebPost/Reprioritize.XML" >/dev/null; }
outcome() {
  local category=$1 name=$2 prefix=${2%%_*} folder=$agent/$1 retry
  retry=$(cd "$folder" && ls -d "$name"[0-9] 2>/dev/null | tail -n 1 || true)
  if [ -e "$folder/$name" ]; then
    if rule_of ig "$prefix"; then echo "left|an ig rule keeps $prefix files"
    elif refused "$prefix"; then echo "left|refused (reply 0); the next run posts it again"
    else echo "left|not posted: see tfr_$prefix.log"; fi
  elif [ -e "$folder/Error/$name" ]; then
    if [[ $name != *_* ]]; then echo "Error folder|the name has no _ (no prefix)"
    elif refused "$prefix"; then echo "Error folder|refused (reply 0) in every run: Error/ after X.txt5"
    elif rule_of del "$prefix"; then echo "Error folder|a del rule sets $prefix files aside"
    else echo "Error folder|set aside by the run: see WebPost$category.log"; fi
  elif [ -n "$retry" ]; then
    echo "renamed to $retry|refused (reply 0): posted again by later runs, Error/ after the fifth"
  elif ls "$folder/Error/$name"[0-9] >/dev/null 2>&1; then
    echo "Error folder|refused five times"
  elif grep -F "$folder/$name" "$logs/tfr_$prefix.log" 2>/dev/null | grep -q "Successfully WebPosted File"; then
    echo "accepted and deleted|the data centre answered 1"
  else
    echo "gone|no log line names it"
  fi
}
printf '   %-34s %-30s %s\n' "sample file" "what became of it" "why"
for path in "${samples[@]}"; do
  IFS='|' read -r what why <<<"$(outcome "${path%%/*}" "${path#*/}")"
  printf '   %-34s %-30s %s\n' "$path" "$what" "$why"
done

echo
if [ $unfinished = 1 ]; then
  echo "A run did not finish: see the logs above." >&2
  exit 1
fi
