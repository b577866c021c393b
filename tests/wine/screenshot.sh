#!/usr/bin/env bash
# Starts the Windows program under Wine on a private Xvfb display and keeps a screenshot of
# its waiting window: screenshot.sh <BrekGSMDemo.exe> <artifact folder>
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"
program="$1" artifacts="$2"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'kill ${app:-} 2>/dev/null || true; WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true; kill ${xvfb:-} 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$program" "$work/"
start_xvfb 141 190
(cd "$work" && DISPLAY="$display" wine ./"$(basename "$program")" >"$work/out.txt" 2>&1) &
app=$!
wait_window 'Брек GSM' 300 || { echo "window did not appear"; cat "$work/out.txt"; exit 1; }
sleep 1.5
shot="$artifacts/windows-waiting-window.png"
DISPLAY="$display" import -window root "$work/root.png"
geometry=$(DISPLAY="$display" xdotool getwindowgeometry "$id")
title=$(DISPLAY="$display" xdotool getwindowname "$id")
echo "$geometry"; echo "title: $title"
pos=$(echo "$geometry" | sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1+\2/p')
size=$(echo "$geometry" | sed -n 's/.*Geometry: \([0-9x]*\).*/\1/p')
[ "$title" = "Брек GSM: демонстрация работы. Версия 1.21.50" ] || { echo "unexpected title"; exit 1; }
[ "$size" = "640x493" ] || { echo "unexpected client size $size"; exit 1; }
convert "$work/root.png" -crop "640x493+$pos" +repage "$shot"
hex() { convert "$shot" -format "%[hex:p{$1,$2}]" info:; }
luma() { local h; h=$(hex "$1" "$2"); echo $(( (16#${h:0:2} * 299 + 16#${h:2:2} * 587 + 16#${h:4:2} * 114) / 1000 )); }
# The picture where nothing is drawn over it is the bitmap itself.
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
convert "$shot" -crop 640x280+0+0 +repage "$work/top.png"
convert "$source_dir/src/ui/assets/background.bmp" -crop 640x280+0+0 +repage "$work/bitmap-top.png"
diff=$(compare -metric AE "$work/top.png" "$work/bitmap-top.png" null: 2>&1 || true)
echo "picture pixels differing from the bitmap: $diff"
[ "$diff" = "0" ] || { echo "the picture is not drawn 1:1 at (0,0)"; exit 1; }
[ "$(hex 5 440 | cut -c1-6)" = "F3F5F6" ] || { echo "panel colour $(hex 5 440)"; exit 1; }
# Each button face sits exactly on its rectangle: light just inside, the dark picture just outside.
for rect in "30 346 171 25" "30 377 199 25" "340 346 173 25" "340 315 165 25" "340 377 125 25"; do
  set -- $rect
  mid=$(( $2 + $4 / 2 ))
  inside=$(luma $(( $1 + 2 )) $mid); outside=$(luma $(( $1 - 2 )) $mid)
  right_in=$(luma $(( $1 + $3 - 3 )) $mid); right_out=$(luma $(( $1 + $3 + 1 )) $mid)
  echo "button $rect: inside $inside/$right_in, outside $outside/$right_out"
  [ "$inside" -gt 150 ] && [ "$right_in" -gt 150 ] && [ "$outside" -lt 110 ] && [ "$right_out" -lt 110 ] ||
    { echo "button $rect is not where the layout puts it"; exit 1; }
done
[ -s "$work/ErrorLog.log" ] && { echo "error log not empty:"; cat "$work/ErrorLog.log"; exit 1; }
echo "screenshot: $shot"
