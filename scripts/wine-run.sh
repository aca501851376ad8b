#!/usr/bin/env bash
# Runs a Windows program under wine in the build's own prefix, without a display
# and without the proxy environment (a test that wants a proxy sets VEMTU_WINE_KEEP_PROXY=1).
# scripts/wine-up.sh must have started the persistent wineserver first.
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=C.UTF-8
unset DISPLAY
if [ "${VEMTU_WINE_KEEP_PROXY:-0}" != 1 ]; then unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; fi
exec wine "$@"
