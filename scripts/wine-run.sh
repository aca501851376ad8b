#!/usr/bin/env bash
# Runs a Windows program under wine in the build's own prefix, without a display
# and without the proxy environment (a test that wants a proxy sets VEMTU_WINE_KEEP_PROXY=1).
# scripts/wine-up.sh must have started the persistent wineserver first.
# VEMTU_WINE_LANG sets the locale, and with it wine's ANSI code page (default C.UTF-8:
# 1252; hi_IN.UTF-8: UTF-8).
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=${VEMTU_WINE_LANG:-C.UTF-8} LC_ALL=${VEMTU_WINE_LANG:-C.UTF-8}
unset DISPLAY
if [ "${VEMTU_WINE_KEEP_PROXY:-0}" != 1 ]; then unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; fi
exec wine "$@"
