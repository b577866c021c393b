#!/usr/bin/python3
"""Hot-plug tests under umockdev: the faked panel of umockpanel.py and the
controller with the real libudev layer and serial driver (hotplug_subject).

Run as: umockdev-wrapper /usr/bin/python3 harness.py <hotplug_subject> <panel-sim> [scenario...]
"""
import contextlib
import fcntl
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SUBJECT, PANEL_SIM = sys.argv[1], sys.argv[2]
os.environ['PANEL_SIM'] = PANEL_SIM
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools', 'umockdev'))
from umockpanel import NEXT_NODE, TESTBED, OpenCounter, Panel, lines, node_path, wait_for  # noqa: E402
from common import run_scenarios  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
from subject import Subject as SubjectOf  # noqa: E402
WANTED = sys.argv[3:]
WAIT_CONNECTED, WAIT_CONNECT, WAIT_LOADED = 0, 2, 4


def Subject(folder):
    return SubjectOf(SUBJECT, folder)


class Context:
    def __init__(self):
        self.tb = TESTBED
        self.dir = tempfile.mkdtemp(prefix='brek-hotplug-')
        self.transcript = os.path.join(self.dir, 'transcript.txt')
        self.figures = []
        self.panels = []

    def plug(self, **kw):
        p = Panel(self.tb, NEXT_NODE[0], self.transcript, **kw)
        NEXT_NODE[0] += 1
        self.panels.append(p)
        return p

    def close(self):
        # No panel-sim may outlive its scenario (it would hold the test's output open).
        for p in self.panels:
            if not p.gone:
                p.unplug()
            p.finish_removal()


def check(cond, what):
    if not cond:
        raise AssertionError(what)


@contextlib.contextmanager
def connected(c, what='connected'):
    """The panel plugged in, then the subject started and connected to it."""
    p = c.plug()
    s = Subject(c.dir)
    try:
        check(s.wait_state(WAIT_CONNECT, 5), what)
        yield p, s
    finally:
        s.stop()


def found_at_startup(c):
    with connected(c, 'connected at start-up'):
        check(lines(c.transcript)[:4] == ['', 'VERSION?', 'AUTH=5916', 'ZOLVA_SN?'], 'start of the dialogue')


def plugged_later(c):
    s = Subject(c.dir)
    try:
        check(s.holds(WAIT_CONNECTED, 1.0), 'waiting without a panel')
        t0 = time.monotonic()
        c.plug()
        check(wait_for(lambda: 'VERSION?' in lines(c.transcript), 3), 'VERSION? after the arrival')
        took = (time.monotonic() - t0) * 1000
        c.figures.append(f'node appearing -> VERSION? written: {took:.0f} ms')
        check(took < 3000, f'found through the arrival notice, not the 5 s check ({took:.0f} ms)')
        check(s.wait_state(WAIT_CONNECT, 3), 'connected')
    finally:
        s.stop()


def unplugged_and_replugged(c):
    with connected(c) as (p, s):
        p.unplug()
        check(s.wait_state(WAIT_CONNECTED, 3), 'back to waiting after the unplug')
        c.plug()  # comes back under the next name
        check(s.wait_state(WAIT_CONNECT, 5), 'connected again under the next node name')


def removal_announced_before_the_node_goes(c):
    with connected(c) as (p, s):
        p.unplug(announce_only=True)
        check(s.wait_state(WAIT_CONNECTED, 3), 'back to waiting though the node was still listed')
        p.finish_removal()
        c.plug()
        check(s.wait_state(WAIT_CONNECT, 5), 'connected again')


def removal_without_its_notice(c):
    with connected(c) as (p, s):
        t0 = time.monotonic()
        p.unplug(notice=False, hang_up=False)  # udev restarted: no uevent, no hang-up seen
        check(s.wait_state(WAIT_CONNECTED, 6), 'let go of by the 5 s check')
        c.figures.append(f'removal without notice or hang-up -> let go of: {(time.monotonic() - t0) * 1000:.0f} ms')
        s.send('click start')
        check(s.holds(WAIT_CONNECTED, 1.0), 'the start button writes nothing')
        p = c.plug()
        check(s.wait_state(WAIT_CONNECT, 7), 'found again')
        t0 = time.monotonic()
        p.unplug(notice=False)  # the hang-up alone
        check(s.wait_state(WAIT_CONNECTED, 1.5), 'let go of at its hang-up')
        c.figures.append(f'hang-up without notice -> let go of: {(time.monotonic() - t0) * 1000:.0f} ms')


def a_late_removal_of_the_device_before(c):
    """Made anew under its path without a notice, listed, then the old one's removal heard."""
    with connected(c) as (p, s):
        tty = c.tb.get_root_dir() + p.syspaths[0]
        shutil.copytree(tty, tty + '.new', symlinks=True)
        os.rename(tty, tty + '.old')  # kept: its inode is not reused, as in sysfs
        os.rename(tty + '.new', tty)
        time.sleep(5.5)  # at least one tick of the 5 s check
        c.tb.uevent(p.syspaths[0], 'remove')
        check(s.holds(WAIT_CONNECT, 1.5), 'the old device\'s removal let go of the new one')


def held_by_another_process(c):
    p = c.plug(serve=True)
    holder = os.open(f'/dev/ttyACM{p.n}', os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
    s = Subject(c.dir)
    try:
        check(s.holds(WAIT_CONNECTED, 6.0), 'a held port is not used')
        check('VERSION?' not in lines(c.transcript), 'nothing was sent to the held port')
        fcntl.flock(holder, fcntl.LOCK_UN)
        os.close(holder)
        holder = None
        check(s.wait_state(WAIT_CONNECT, 7), 'found by the 5 s check once free')
    finally:
        if holder is not None:
            os.close(holder)
        s.stop()


def unrelated_devices(c):
    with connected(c) as (_, s):
        other = c.plug(serve=False, vendor='1234', product='5678', serial='OTHER')
        time.sleep(0.5)
        other.unplug()
        check(s.holds(WAIT_CONNECT, 1.5), 'unrelated arrival and removal change nothing')


def demo_with_restart(c):
    with connected(c) as (p, s):
        write_demo(c, p, s)


def another_adapter_is_never_opened(c):
    other = c.plug(serve=False, vendor='0403', product='6001', serial='OTHER')
    opens = OpenCounter(node_path(c.tb, f'ttyACM{other.n}'))
    try:
        with connected(c) as (p, s):
            write_demo(c, p, s)
            s.send('click little')
            check(s.wait_state(5, 2), 'a payment situation')
            c.panels[-1].unplug()
            check(s.wait_state(WAIT_CONNECTED, 3), 'searching after the unplug')
            time.sleep(5.5)  # at least one tick of the 5 s check
        check(opens.count() == 0, f'the other adapter was opened {opens.count()} times')
    finally:
        opens.close()


def write_demo(c, p, s):
    """The demo settings written, with the panel's restart, up to the demo being loaded."""
    s.send('click start')
    check(s.wait_state(3, 2), 'writing the demo settings')
    ms = p.restarts.get(timeout=20)
    time.sleep(0.05)
    p.unplug()
    time.sleep(ms / 1000)
    c.plug()
    check(s.wait_state(WAIT_LOADED, 10), 'demo settings written after the restart')
    t = lines(c.transcript)
    check(t.count('reset') == 1 and t[-5:-1] == ['VERSION?', 'AUTH=5916', 'ZOLVA_SN?', 'ARM_IGNORE_TAMPER=1'],
          'completion after the restart: ' + repr(t[-6:]))
    check(t[-1].startswith('TIME='), 'the clock is set')


SCENARIOS = [found_at_startup, plugged_later, unplugged_and_replugged, removal_announced_before_the_node_goes,
             removal_without_its_notice, a_late_removal_of_the_device_before, held_by_another_process, unrelated_devices, demo_with_restart, another_adapter_is_never_opened]

passed, failed = run_scenarios(SCENARIOS, WANTED, Context)
print(f'{passed} passed, {failed} failed')
sys.exit(1 if failed else 0)
