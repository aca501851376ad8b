#!/usr/bin/env bash
here=$(cd "$(dirname "$0")" && pwd)
WINEPREFIX=${WINEPREFIX:-$here/../build/wineprefix} wineserver -k >/dev/null 2>&1 || true
