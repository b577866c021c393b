#!/usr/bin/python3
"""Time from the panel's node appearing (the udev "add" event) to "VERSION?" reaching the
panel, for the program itself (offscreen) under umockdev. Prints the figures.

Run as: umockdev-wrapper /usr/bin/python3 hotplug_arrival.py <BrekGSMDemo> <panel-sim> [cycles]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tools', 'umockdev'))
from umockpanel import NEXT_NODE, TESTBED, Panel, die_with_parent, lines, testbed_env, wait_for  # noqa: E402

program, os.environ['PANEL_SIM'] = sys.argv[1], os.path.abspath(sys.argv[2])
cycles = int(sys.argv[3]) if len(sys.argv) > 3 else 20
folder = tempfile.mkdtemp(prefix='brek-bench-')
exe = os.path.join(folder, 'BrekGSMDemo')
shutil.copy2(program, exe)
proc = subprocess.Popen([exe], cwd=folder, env=testbed_env(QT_QPA_PLATFORM='offscreen', XDG_RUNTIME_DIR=folder),
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
time.sleep(1.5)  # started and waiting
took = []
try:
    for i in range(cycles):
        transcript = os.path.join(folder, f'transcript{i}.txt')
        panel = Panel(TESTBED, NEXT_NODE[0], transcript)
        NEXT_NODE[0] += 1
        end = time.monotonic() + 5
        while 'VERSION?' not in lines(transcript) and time.monotonic() < end:
            time.sleep(0.0005)
        now = time.monotonic()
        if now >= end:
            panel.unplug()
            sys.exit(f'cycle {i}: VERSION? never arrived')
        took.append((now - panel.announced) * 1000)
        wait_for(lambda: 'ZOLVA_SN?' in lines(transcript), 5)
        panel.unplug()
        time.sleep(0.3)  # back to waiting
finally:
    proc.terminate()
    proc.wait()
took.sort()
print(f'node appearing -> "VERSION?" at the panel, {cycles} plug-ins under umockdev (target < 100 ms):')
print(f'  median {statistics.median(took):.1f} ms, p90 {took[int(0.9 * (len(took) - 1))]:.1f} ms, '
      f'max {took[-1]:.1f} ms, min {took[0]:.1f} ms')
