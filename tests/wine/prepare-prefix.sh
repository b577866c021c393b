#!/usr/bin/env bash
# Makes the Wine prefix the Windows tests share (once; later runs reuse it).
set -euo pipefail
prefix="$1"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
fi
WINEPREFIX="$prefix" wineserver -w
# Windows has Tahoma, the window's font. Debian's Wine does not find the copy fonts-wine
# ships, and GDI then draws the window in DejaVu Sans, a fifth wider: in the fonts folder it is found.
for f in tahoma.ttf tahomabd.ttf; do
  [ -f "$prefix/drive_c/windows/Fonts/$f" ] || cp "/usr/share/wine/fonts/$f" "$prefix/drive_c/windows/Fonts/"
done
test -f "$prefix/system.reg"
