#!/usr/bin/env bash
# Runs a Windows program under Wine on a private Xvfb display (Wine makes no window without
# one): on-display.sh <program.exe> [arguments]
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"
trap 'wineserver -k 2>/dev/null || true; kill ${xvfb:-} 2>/dev/null || true' EXIT
start_xvfb 191 240
wineserver -k 2>/dev/null || true  # one left by a run without a display makes windows without one
wineserver -w
DISPLAY="$display" wine "$@"
