#!/usr/bin/env bash
# Prepares the wine prefix (once) and starts a persistent wineserver whose output is
# detached, so that later wine processes neither hang pipes nor pay its start-up.
#
# The server must be the persistent one. `wineserver -p` detaches itself once it is
# listening, so it is run in the foreground: started in the background, the first wine
# client below could start its own server first, and that one (Debian's wrapper gives it
# -p0) ends whenever its last client does; under parallel tests a client then meets a
# server on its way out ("wine client error:0: recvmsg: Connection reset by peer").
set -eu
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../build/wineprefix}
export WINEDEBUG=-all LANG=C.UTF-8
unset DISPLAY http_proxy https_proxy no_proxy
mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i </dev/null >/dev/null 2>&1 || true
fi
# A server that is still running (wineboot's, lingering) is not persistent: replace it.
for attempt in 1 2 3; do
  rc=0
  wineserver -p </dev/null >/dev/null 2>&1 || rc=$?
  [ $rc = 0 ] && break
  wineserver -k </dev/null >/dev/null 2>&1 || true
  sleep 1
done
if [ $rc != 0 ]; then
  echo "wine-up: no persistent wineserver for $WINEPREFIX (exit $rc)" >&2
  exit 1
fi
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
