#!/usr/bin/env bash
# The kernel tests: prepares the rig (once) and runs the harness inside its guest.
#   run.sh <rig folder> <hotplug_subject> <panel-sim> <serial_tests> [scenario...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
rig="$1"; shift
"$here/../../tools/kernel-rig/rig.sh" prepare "$rig"
args=""
for a in "$here/harness.py" "$@"; do
  [ -e "$a" ] && a=$(realpath "$a")  # the guest starts elsewhere
  args="$args '$a'"
done
# The guest starts with a fresh environment: what the harness reads is passed on the line.
# Unbuffered, so that a guest stopped at its time limit still shows how far it got.
wine=""
for v in BREK_WINE_CHECKS BREK_WINE_PREFIX BREK_WINE_PROGRAM; do
  if [ -n "${!v:-}" ]; then wine="$wine $v='$(realpath "${!v}")'"; fi
done
exec "$here/../../tools/kernel-rig/rig.sh" run "$rig" "BREK_SOAK_CYCLES=${BREK_SOAK_CYCLES:-20} $wine PYTHONUNBUFFERED=1 /usr/bin/python3 $args"
