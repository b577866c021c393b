#!/usr/bin/python3
"""The built program itself, on Xvfb, against the simulated panel faked on the USB bus by
umockdev, clicked through a whole demonstration with xdotool. Checks what the panel heard,
the traffic log and the error log, and keeps a screenshot of every state. A screen reader's
client (AT-SPI on a private session bus) reads the window and hears the state change.

Run as: umockdev-wrapper /usr/bin/python3 walkthrough.py <BrekGSMDemo> <panel-sim> <start script> <artifacts>
"""
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tools', 'umockdev'))
from common import die_with_parent, run_main, wait_for  # noqa: E402
from demo import Program, Xvfb, walk_through, x_env  # noqa: E402
from umockpanel import Rig, lines  # noqa: E402

PROGRAM, PANEL_SIM, START_SCRIPT, ARTIFACTS = sys.argv[1:5]
os.environ['PANEL_SIM'] = PANEL_SIM
PASSWORD, SERIAL = 'AUTH=5916', '123456'


def check(cond, what):
    if not cond:
        raise AssertionError(what)


def script_commands(path, account):
    with open(path, 'rb') as f:
        out = [x.decode('cp1251').strip() for x in f.read().splitlines()]
    return [f'ACCOUNT={account}' if x.upper() == 'ACCOUNT=""' else x for x in out if x]


class ScreenReader:
    """AT-SPI as Orca reads it: a private session bus with the accessibility bus enabled; the
    program started after this reads to it."""

    def __init__(self, display):
        run = dict(env=x_env(display), stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        self.bus = subprocess.Popen(['dbus-daemon', '--session', '--nofork', '--print-address=1'], stdout=subprocess.PIPE,
                                    text=True, **run)
        os.environ.update(DBUS_SESSION_BUS_ADDRESS=self.bus.stdout.readline().strip(), QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1')
        run['env'] = x_env(display)
        self.launcher = subprocess.Popen(['/usr/libexec/at-spi-bus-launcher', '--launch-immediately'], **run)
        enable = ['dbus-send', '--session', '--dest=org.a11y.Bus', '/org/a11y/bus', 'org.freedesktop.DBus.Properties.Set',
                  'string:org.a11y.Status', 'string:IsEnabled', 'variant:boolean:true']
        check(wait_for(lambda: subprocess.run(enable, timeout=10, **run).returncode == 0, 10), 'no accessibility bus')
        self.names = []  # (role, name) of what announced a new name, read as it was heard

    def attach(self):
        """Finds the program (the first looks may find none, or it without children yet) and listens."""
        import pyatspi
        from gi.repository import GLib
        self.pyatspi, self.context = pyatspi, GLib.MainContext.default()
        desktop = pyatspi.Registry.getDesktop(0)
        apps = lambda: [a for a in desktop if a and a.childCount]  # noqa: E731
        check(wait_for(apps, 15), 'the program is not on the accessibility bus')
        self.app = apps()[0]
        pyatspi.Registry.registerEventListener(lambda e: self.names.append((e.source.getRole(), e.source.name)),
                                               'object:property-change:accessible-name')
        self.pump(1)  # the program learns of the listener

    def pump(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.context.iteration(False) or time.sleep(0.01)

    def tree(self, acc=None, depth=0):
        acc = acc or self.app
        own = [f'{"  " * depth}{acc.getRoleName()} {acc.name!r}']
        return own + [line for child in acc for line in self.tree(child, depth + 1)]

    def close(self):
        for p in (self.launcher, self.bus):
            p.terminate()
            p.wait()


def main():
    folder = tempfile.mkdtemp(prefix='brek-e2e-')
    shots = os.path.join(ARTIFACTS, 'demo')
    os.makedirs(shots, exist_ok=True)
    for old in os.listdir(shots):
        os.unlink(os.path.join(shots, old))
    rig = Rig(os.path.join(folder, 'panel-transcript.txt'))
    xvfb = Xvfb()
    reader = ScreenReader(xvfb.display)
    program = Program(PROGRAM, folder, xvfb.display)
    try:
        program.wait_window()
        reader.attach()
        check(any("label 'Брек GSM не подключен.\\n" in x for x in reader.tree()), 'no state read: %s' % reader.tree())
        figures = {}
        # Events are heard after each step, while the window shows what the step led to.
        states = walk_through(rig, program, shots, say=lambda x: print(x) or reader.pump(0.3), figures=figures)
        # For the Windows end-to-end test, which prints them next to its own.
        with open(os.path.join(ARTIFACTS, 'timings-linux.txt'), 'w') as f:
            for k, v in figures.items():
                f.write(f'{k}\t{v:.0f}\n')
        t = lines(rig.transcript)
        reader.pump(1)
        tree = '\n'.join(reader.tree())
        with open(os.path.join(ARTIFACTS, 'screen-reader-connected.txt'), 'w') as f:
            f.write(tree + '\n')
        # The state text, and the bar of its progress, as connected; that change was announced first.
        connected = "'Брек GSM подключен.\\nДля того"
        check(f'label {connected}' in tree and f'progress bar {connected}' in tree, 'connected, read as:\n' + tree)
        said = [n for r, n in reader.names if r == reader.pyatspi.ROLE_LABEL and n.startswith('Брек GSM')]
        check(said[:1] and repr(said[0]).startswith(connected), f'announced first: {said[:1]!r}')

        # Connecting, the demo settings and the completion after the panel's restart.
        start = ['', 'VERSION?', PASSWORD, 'ZOLVA_SN?']
        check(t[:4] == start, f'connecting: {t[:4]!r}')
        script = script_commands(START_SCRIPT, int(SERIAL) % 10000)
        check(t[4:4 + len(script)] == script, 'the demo settings, every command once and in order')
        at = 4 + len(script)
        check(t[at:at + 5] == ['', 'VERSION?', PASSWORD, 'ZOLVA_SN?', 'ARM_IGNORE_TAMPER=1']
              and t[at + 5].startswith('TIME='), f'completion after the restart: {t[at:at + 6]!r}')
        at += 6
        # The three situations, then the factory settings and the completion after the restart.
        check(t[at:at + 3] == ['ARM_ALLOWED=2', 'ARM_ALLOWED=3', 'ARM_ALLOWED=0'], f'situations: {t[at:at + 3]!r}')
        at += 3
        check(t[at:] == ['ftdef', 'settings_save', 'reset', '', 'VERSION?', PASSWORD, 'ZOLVA_SN?'], f'factory settings: {t[at:]!r}')
        check(rig.restarts == 2, f'two restarts, saw {rig.restarts}')

        # The traffic log holds every line sent, in order, and the replies.
        traffic = program.traffic()
        check(all(d in ('OUT', 'IN') for d, _ in traffic), 'every traffic log line is stamped and marked')
        check([s for d, s in traffic if d == 'OUT'] == [x for x in t if x], 'traffic log OUT lines = what the panel heard')
        check(('IN', f'ZOLVA_SN={SERIAL}') in traffic, 'the serial number reply is logged')
        check(program.error_log() == '', 'error log: ' + program.error_log())

        # Every state looks different from the one before it.
        for (a, pa), (b, pb) in zip(states, states[1:]):
            check(pa != pb, f'{b} looks the same as {a}')
        check(program.proc.poll() is None, 'the program still runs')
        print(f'ok: {len(states)} states, {len(said)} state texts announced, {len(t)} lines heard, {len(traffic)} traffic log lines; shots in {shots}')
    finally:
        program.close()
        rig.close()
        reader.close()
        xvfb.close()


if __name__ == '__main__':
    run_main(main)
