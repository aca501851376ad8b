#!/usr/bin/env bash
# Builds the agent, lays out a sample agent folder and runs the agent in it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target Vemtu.EXE
demo=$(mktemp -d /tmp/vemtu-demo.XXXXXX)
cp build/linux/bin/Vemtu.EXE "$demo/"
"$demo/Vemtu.EXE" Status
echo "Agent folder: $demo"
find "$demo" -name '*.log' -exec sh -c 'echo "== $1"; cat "$1"' _ {} \;
