#!/usr/bin/env bash
# The start script written by the Linux program and by the Windows one under Wine, taken in
# turns in one run against the same simulated panel on a pty (Wine sees it as COM9):
#   script-write.sh <bench_demo_load> <bench_demo_load_win32.exe> <panel-sim> <wine prefix> [rounds]
# Prints every round, the medians of the script's time and their ratio, Windows over Linux.
set -euo pipefail
linux="$1" windows="$2" sim="$3" prefix="$4" rounds="${5:-5}"
work=$(mktemp -d)
trap 'kill ${pid:-} 2>/dev/null || true; wineserver -k >/dev/null 2>&1 || true; rm -f "$prefix/dosdevices/com9"; rm -rf "$work"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
wineserver -k >/dev/null 2>&1 || true
# Wine reads the port links when its server starts: the link must be there before.
"$sim" --link "$prefix/dosdevices/com9" --restart 200 >"$work/sim.txt" 2>&1 &
pid=$!
for _ in $(seq 100); do [ -L "$prefix/dosdevices/com9" ] && break; sleep 0.05; done
[ -L "$prefix/dosdevices/com9" ] || { echo "panel-sim did not serve"; cat "$work/sim.txt"; exit 1; }
wineserver -p >/dev/null 2>&1  # one server for every round: its start is not the program's time

# The script's own time: the start button to the port's closing after "reset".
script() { tr -d '\r' <"$1" | sed -n 's/^  script \([0-9.]*\) ms .*/\1/p'; }
for r in $(seq "$rounds"); do
  (cd "$work" && TMPDIR="$work" "$linux") >"$work/linux.$r" 2>&1 || { cat "$work/linux.$r"; exit 1; }
  (cd "$work" && wine "$windows") >"$work/windows.$r" 2>&1 || { cat "$work/windows.$r"; exit 1; }
  echo "round $r: the script written in $(script "$work/linux.$r") ms on Linux, $(script "$work/windows.$r") ms under Wine"
done
echo "== the last round"
cat "$work/linux.$rounds" "$work/windows.$rounds"
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
l=$(for r in $(seq "$rounds"); do script "$work/linux.$r"; done | median)
w=$(for r in $(seq "$rounds"); do script "$work/windows.$r"; done | median)
awk -v l="$l" -v w="$w" -v n="$rounds" \
  'BEGIN {printf "the start script (start button to \"reset\"), median of %d: Linux %.1f ms, Windows under Wine %.1f ms, ratio %.3f\n", n, l, w, w / l}'
