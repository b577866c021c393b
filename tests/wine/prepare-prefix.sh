#!/usr/bin/env bash
# Makes the Wine prefix the Windows tests share (once; later runs reuse it).
set -euo pipefail
prefix="$1"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
fi
WINEPREFIX="$prefix" wineserver -w
test -f "$prefix/system.reg"
