#!/usr/bin/env bash
# Prepares the wine prefix (once) and starts a persistent wineserver whose output is
# detached, so that later wine processes neither hang pipes nor pay its start-up.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../build/wineprefix}
export WINEDEBUG=-all LANG=C.UTF-8
unset DISPLAY http_proxy https_proxy no_proxy
mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i </dev/null >/dev/null 2>&1 || true
fi
wineserver -p </dev/null >/dev/null 2>&1 &
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
