#!/usr/bin/env bash
# The simulated panel on a pty that Wine sees as COM5, and the Windows serial tests against
# it: com5.sh <panel-sim> <wine prefix> <wine_platform_tests.exe>
set -euo pipefail
sim="$1" prefix="$2" tests="$3"
work=$(mktemp -d)
trap 'kill ${pid:-} 2>/dev/null || true; rm -f "$prefix/dosdevices/com5"; rm -rf "$work"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all
# Wine reads the port links when its server starts: the link must be there before.
wineserver -k 2>/dev/null || true
"$sim" --link "$prefix/dosdevices/com5" --transcript "$work/transcript.txt" --restart 300 >"$work/sim.txt" 2>&1 &
pid=$!
for _ in $(seq 100); do [ -L "$prefix/dosdevices/com5" ] && break; sleep 0.05; done
[ -L "$prefix/dosdevices/com5" ] || { echo "panel-sim did not serve"; cat "$work/sim.txt"; exit 1; }
BREK_TRANSCRIPT="$work/transcript.txt" wine "$tests" --gtest_filter='PortFive.TheStartScript*'
# The driver's own calls on a port that is still there, after the dialogue's closing.
wine "$tests" --gtest_filter='PortFive.Closing*'
