#!/usr/bin/env bash
# The start script written by the Windows program under Wine and by the Linux subject in turns,
# 3 each, on the real cdc_acm driver in the kernel rig (several minutes under TCG); prints the
# medians from the start button to "reset" at the panel and their ratio, Windows over Linux:
#   script-write-rig.sh <BrekGSMDemo.exe> <wine prefix> <hotplug_subject> <panel-sim>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
BREK_WINE_PROGRAM="$1" BREK_WINE_PREFIX="$2" BREK_RIG_TIMEOUT="${BREK_RIG_TIMEOUT:-1200}" \
  exec "$here/../tests/kernel/run.sh" "$here/../build/kernel-rig" "$3" "$4" - windows_and_linux_in_turns
