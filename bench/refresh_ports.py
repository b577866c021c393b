#!/usr/bin/python3
"""How long one refresh of the port list keeps the user-interface thread, with 1, 16 and 64
serial ports present (the panel and other makers' USB serial adapters, under umockdev), and
how often the other adapters were opened meanwhile. Prints the figures.

Run as: umockdev-wrapper /usr/bin/python3 refresh_ports.py <hotplug_subject> <panel-sim> [refreshes]
"""
import os
import queue
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tools', 'umockdev'))
from umockpanel import NEXT_NODE, TESTBED, OpenCounter, Panel, die_with_parent, node_path, testbed_env  # noqa: E402

subject, os.environ['PANEL_SIM'] = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
refreshes = int(sys.argv[3]) if len(sys.argv) > 3 else 50
folder = tempfile.mkdtemp(prefix='brek-bench-')


def plug(**ids):
    p = Panel(TESTBED, NEXT_NODE[0], os.path.join(folder, 'transcript.txt'), serve=not ids, **ids)
    NEXT_NODE[0] += 1
    return p


panels = [plug()]
proc = subprocess.Popen([subject, folder], cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                        env=testbed_env(QT_QPA_PLATFORM='offscreen', XDG_RUNTIME_DIR=folder), preexec_fn=die_with_parent)
out = queue.Queue()
threading.Thread(target=lambda: [out.put(line.split()) for line in proc.stdout], daemon=True).start()


def expect(word, timeout):
    while True:
        fields = out.get(timeout=timeout)
        if fields and fields[0] == word and (word != 'STATE' or fields[1] == '2'):
            return fields


counters = []
try:
    expect('STATE', 10)  # connected to the panel
    print(f'one refresh while connected, {refreshes} refreshes each (hotplug_subject under umockdev):')
    for total in (1, 16, 64):
        while len(panels) < total:
            p = plug(vendor='0403', product='6001', serial=f'OTHER{len(panels)}')
            panels.append(p)
            counters.append(OpenCounter(node_path(TESTBED, f'ttyACM{p.n}')))
        proc.stdin.write(f'refresh {refreshes}\n')
        proc.stdin.flush()
        _, median, worst = expect('REFRESH', 120)
        opens = sum(c.count() for c in counters)
        print(f'  {total:2d} ports: median {int(median) / 1000:.2f} ms, max {int(worst) / 1000:.2f} ms; '
              f'openings of the other ports so far: {opens}')
finally:
    proc.stdin.write('quit\n')
    proc.stdin.flush()
    proc.wait(timeout=10)
    for p in panels:
        p.unplug()

# The same on this machine's own /sys, without umockdev: whatever serial ttys it has.
env = {k: v for k, v in os.environ.items() if k not in ('LD_PRELOAD', 'UMOCKDEV_DIR')}
ttys, with_device = subprocess.run(['sh', '-c', 'ls /sys/class/tty | wc -l; ls -d /sys/class/tty/*/device | wc -l'],
                                   capture_output=True, text=True, env=env).stdout.split()
real = subprocess.run([subject, folder], cwd=folder, input=f'refresh {refreshes}\nquit\n', capture_output=True, text=True,
                      env=dict(env, QT_QPA_PLATFORM='offscreen', XDG_RUNTIME_DIR=folder), timeout=120)
fields = next(line.split() for line in real.stdout.splitlines() if line.startswith('REFRESH'))
print(f'  this machine\'s /sys ({ttys} ttys, {with_device} with a device): median '
      f'{int(fields[1]) / 1000:.2f} ms, max {int(fields[2]) / 1000:.2f} ms')
