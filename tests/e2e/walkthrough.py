#!/usr/bin/python3
"""The built program itself, on Xvfb, against the simulated panel faked on the USB bus by
umockdev, clicked through a whole demonstration with xdotool. Checks what the panel heard,
the traffic log and the error log, and keeps a screenshot of every state. A screen reader
reads the window and hears the state change.

Run as: umockdev-wrapper /usr/bin/python3 walkthrough.py <BrekGSMDemo> <panel-sim> <start script> <artifacts>
"""
import os
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tools', 'umockdev'))
from common import run_main  # noqa: E402
from demo import Program, ScreenReader, Xvfb, walk_through  # noqa: E402
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
        figures = {}
        states = walk_through(rig, program, shots, figures=figures, reader=reader)
        # For the Windows end-to-end test, which prints them next to its own.
        with open(os.path.join(ARTIFACTS, 'timings-linux.txt'), 'w') as f:
            for k, v in figures.items():
                f.write(f'{k}\t{v:.0f}\n')
        t = lines(rig.transcript)
        # Connected again at the end: the state text, and the bar named by it; connecting announced it first.
        tree, connected = '\n'.join(reader.tree()), "'Брек GSM подключен.\\nДля того"
        print('read by a screen reader:', tree, sep='\n')
        check(f'label {connected}' in tree and f'progress bar {connected}' in tree, 'the connected state is not read')
        said = [n for r, n in reader.names if r == reader.at.ROLE_LABEL and n.startswith('Брек GSM')]
        check(said and repr(said[0]).startswith(connected), f'announced first: {said[:1]!r}')

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
