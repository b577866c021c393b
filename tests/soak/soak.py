#!/usr/bin/python3
"""Soak under umockdev: plug/unplug cycles and whole demonstrations against the controller
with the real libudev layer and serial driver (hotplug_subject, sanitizer build in CI).
File descriptors and threads must be the same at the end as after the first cycle; memory
may not grow (without a sanitizer) and nothing may leak (LeakSanitizer, with one).

Run as: umockdev-wrapper /usr/bin/python3 soak.py <hotplug_subject> <panel-sim> <cycles> <demonstrations>
A progress line every 50 cycles; past BREK_SOAK_LIMIT seconds (300 + 1 a cycle + 6 a
demonstration) it stops and says how far it got.
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools', 'umockdev'))
from umockpanel import Rig, die_with_parent, lines, testbed_env, wait_for  # noqa: E402

SUBJECT, PANEL_SIM, CYCLES, DEMOS = os.path.abspath(sys.argv[1]), sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
os.environ['PANEL_SIM'] = os.path.abspath(PANEL_SIM)
RSS_GROWTH_LIMIT_KB = 2048  # allocator noise; a leak per cycle passes it within a long run
LIMIT_S = float(os.environ.get('BREK_SOAK_LIMIT', 300 + CYCLES + 6 * DEMOS))


class Subject:
    def __init__(self, folder):
        self.proc = subprocess.Popen([SUBJECT, folder], cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                     env=testbed_env(), preexec_fn=die_with_parent)
        self.state = None
        os.set_blocking(self.proc.stdout.fileno(), False)

    def poll(self):
        while True:
            line = self.proc.stdout.readline()
            if not line:
                return self.state
            if line.startswith('STATE'):
                self.state = int(line.split()[1])

    def wait_state(self, wanted, timeout):
        return wait_for(lambda: self.poll() == wanted, timeout)

    def send(self, line):
        self.proc.stdin.write(line + '\n')
        self.proc.stdin.flush()

    def sanitized(self):
        with open(f'/proc/{self.proc.pid}/maps') as maps:
            return any('libasan' in line for line in maps)

    def usage(self):
        # The smallest of a few looks: a port check in progress holds sysfs and probe
        # descriptors for a moment; a leak holds them for ever.
        looks = []
        for _ in range(5):
            looks.append(self._look())
            time.sleep(0.05)
        return tuple(min(v[i] for v in looks) for i in range(3))

    def _look(self):
        pid = self.proc.pid
        names = sorted(os.readlink(f'/proc/{pid}/fd/{n}') for n in os.listdir(f'/proc/{pid}/fd'))
        if os.environ.get('SOAK_SHOW_FDS'):
            print('fds:', names, flush=True)
        fds = len(names)
        status = dict(line.split(':', 1) for line in open(f'/proc/{pid}/status'))
        return fds, int(status['Threads']), int(status['VmRSS'].split()[0])


def fail(what):
    print(f'FAIL {what} (state {subject.state}; the panel heard {lines(rig.transcript)[-6:]!r})', flush=True)
    sys.exit(1)


def cycle_once(cycle):
    rig.plug()
    if not subject.wait_state(2, 10):
        fail(f'cycle {cycle}: not connected')
    rig.unplug()
    if not subject.wait_state(0, 10):
        fail(f'cycle {cycle}: not back to waiting')


def demonstration(demo):
    rig.plug()
    if not subject.wait_state(2, 10):
        fail(f'demonstration {demo}: not connected')
    for click, state in (('start', 4), ('little', 5), ('off', 6), ('full', 7), ('end', 2)):
        mark = len(lines(rig.transcript))
        subject.send(f'click {click}')
        if not subject.wait_state(state, 30):
            fail(f'demonstration {demo}: "{click}" did not reach state {state}; heard {lines(rig.transcript)[mark:][-4:]!r}')
        if click == 'end' and not wait_for(lambda: 'ZOLVA_SN?' in lines(rig.transcript)[mark:], 10):
            fail(f'demonstration {demo}: the factory settings were not completed')
    rig.unplug()
    if not subject.wait_state(0, 10):
        fail(f'demonstration {demo}: not back to waiting')


folder = tempfile.mkdtemp(prefix='brek-soak-')
rig = Rig(os.path.join(folder, 'transcript.txt'), restart_ms=300)
subject = Subject(folder)
first = None
baseline_rss = 0
sanitized = False
started = time.monotonic()
try:
    if not subject.wait_state(0, 10):
        fail('the subject did not start')
    # The demonstrations are spread over the cycles; memory is compared from a fifth of the
    # way on, when the allocator's caches and the sanitizer's quarantine have filled.
    demo_every = max(1, CYCLES // max(DEMOS, 1))
    demos_done = 0
    for cycle in range(1, CYCLES + 1):
        if time.monotonic() - started > LIMIT_S:
            fail(f'out of time: stopped after {time.monotonic() - started:.0f} s (the limit is {LIMIT_S:.0f} s, '
                 f'BREK_SOAK_LIMIT) at cycle {cycle} of {CYCLES}, {demos_done} of {DEMOS} demonstrations done')
        cycle_once(cycle)
        if cycle % 50 == 0:
            now = subject.usage()
            print(f'soak: {cycle} of {CYCLES} cycles, {demos_done} demonstrations in {time.monotonic() - started:.0f} s: '
                  f'{now[0]} fds, {now[1]} threads, {now[2]} kB', flush=True)
        if cycle == 1:
            time.sleep(0.3)
            first = subject.usage()
        if demos_done < DEMOS and cycle % demo_every == 0:
            demos_done += 1
            demonstration(demos_done)
        if cycle == max(1, CYCLES // 5):
            baseline_rss = subject.usage()[2]
    while demos_done < DEMOS:
        demos_done += 1
        demonstration(demos_done)
    time.sleep(0.3)
    last = subject.usage()
    sanitized = subject.sanitized()
finally:
    rig.close()
    subject.send('quit')
    try:
        subject.proc.wait(timeout=20)
    except subprocess.TimeoutExpired:
        subject.proc.kill()
took = time.monotonic() - started
print(f'{CYCLES} plug/unplug cycles and {DEMOS} whole demonstrations in {took:.0f} s')
print(f'after the first cycle: {first[0]} fds, {first[1]} threads; at the end: {last[0]} fds, {last[1]} threads')
print(f'memory: {first[2]} kB after the first cycle, {baseline_rss} kB a fifth of the way, {last[2]} kB at the end')
if subject.proc.returncode != 0:
    fail(f'the subject ended with {subject.proc.returncode} (a sanitizer report, leaks included, ends it so)')
if last[0] != first[0] or last[1] != first[1]:
    fail('file descriptors or threads changed')
# Under AddressSanitizer the resident size follows its allocator, not the program; there
# LeakSanitizer (detect_leaks=1) judges leaks when the subject ends.
if not sanitized and last[2] - baseline_rss > RSS_GROWTH_LIMIT_KB:
    fail(f'memory grew by {last[2] - baseline_rss} kB')
print('ok')
