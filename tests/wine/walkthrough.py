#!/usr/bin/python3
"""The Windows program end to end under Wine, with its own device code: the panel declared in
the device registry of a private prefix (SetupAPI finds it by its USB identity), COM5 mapped to
the simulated panel's pty, device notices sent to the window from another process as Windows
sends them, and the program clicked through with xdotool on a private Xvfb. A second mapped
port, COM6, is not the panel's and must never be opened.

Run as: walkthrough.py <BrekGSMDemo.exe> <device_helper.exe> <panel-sim> <shared prefix>
                       <artifacts> <Linux artifacts> <start script> [scenario...]
"""
import glob
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tools', 'umockdev'))
from common import OpenCounter, die_with_parent, lines, run_scenarios, script_commands, wait_for  # noqa: E402
from demo import START, Program, Xvfb, second_start, walk_through  # noqa: E402

EXE, HELPER, PANEL_SIM, SHARED_PREFIX, ARTIFACTS, LINUX_ARTIFACTS, START_SCRIPT = sys.argv[1:8]
WANTED = sys.argv[8:]
CONNECT = ['', 'VERSION?', 'AUTH=5916', 'ZOLVA_SN?']


def check(cond, what):
    if not cond:
        raise AssertionError(what)


class Wine:
    """A private copy of the tests' prefix, with COM5 for the panel and COM6 for another
    maker's adapter, both mapped before the Wine server starts (it lists only those)."""

    def __init__(self, folder):
        self.prefix = os.path.join(folder, 'prefix')
        subprocess.run(['cp', '-a', SHARED_PREFIX, self.prefix], check=True)
        self.env = {k: v for k, v in os.environ.items() if k not in ('LD_PRELOAD', 'UMOCKDEV_DIR', 'DISPLAY')}
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=')

    def helper(self, *args):
        r = subprocess.run(['wine', HELPER, *args], env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=60)
        check(r.returncode == 0, f'device_helper {" ".join(args)}: {r.stdout.decode(errors="replace")}')

    def restart_server(self):
        subprocess.run(['wineserver', '-k'], env=self.env)
        subprocess.run(['wineserver', '-w'], env=self.env)

    def close(self):
        subprocess.run(['wineserver', '-k'], env=self.env)


class WinePanel:
    """The simulated panel on a pty that Wine sees as COM5; it is present when declared in the
    device registry. After "reset" it leaves and comes back as the real one does: gone from
    the registry with a removal notice, back after its restart with an arrival notice."""

    def __init__(self, wine, transcript, restart_ms=1500):
        self.wine, self.transcript, self.restart_ms = wine, transcript, restart_ms
        self.restarts = 0
        self.back_at = None
        self.sim = None
        self.serve()

    def serve(self, *sim_args):
        self.sim = subprocess.Popen([PANEL_SIM, '--link', os.path.join(self.wine.prefix, 'dosdevices', 'com5'),
                                     '--transcript', self.transcript, '--restart', str(self.restart_ms), *sim_args],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                    preexec_fn=die_with_parent)
        first = self.sim.stdout.readline().split()
        check(first[:1] == ['PTY'], f'panel-sim said {first!r}')
        self.pty = first[1]
        threading.Thread(target=self._watch, args=(self.sim,), daemon=True).start()

    def _watch(self, sim):
        for line in sim.stdout:
            if not line.startswith('RESTART'):
                continue
            time.sleep(0.05)  # the reply to "reset" goes out before the device drops
            self.wine.helper('unplug')
            time.sleep(int(line.split()[1]) / 1000)
            self.wine.helper('plug', 'COM5')
            self.back_at = time.monotonic()
            self.restarts += 1

    def plug(self):
        self.wine.helper('plug', 'COM5')

    def pull(self):
        """The cable pulled: the line hangs up, the device leaves the registry, a removal notice."""
        self.sim.kill()
        self.sim.wait()
        self.wine.helper('unplug')

    def close(self):
        if self.sim and self.sim.poll() is None:
            self.sim.kill()
            self.sim.wait()


class Context:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix='brek-wine-e2e-')
        self.wine = Wine(self.dir)
        self.panel = WinePanel(self.wine, os.path.join(self.dir, 'transcript.txt'))
        # Another maker's adapter on COM6, whose openings are counted.
        self.other_master, other = pty.openpty()
        self.other_path = os.ttyname(other)
        self.wine.helper('port', 'COM5', self.panel.pty)
        self.wine.helper('port', 'COM6', self.other_path)
        self.wine.restart_server()
        self.other_opens = OpenCounter(self.other_path)
        self.xvfb = Xvfb()
        self.program = None
        self.figures = []

    def start(self, scenario):
        """The program in a folder named in Cyrillic, as under a Russian user's profile, its
        logs in another, under the system locale and in the settings encoding the scenario has."""
        locale, encoding = LOCALES.get(scenario.__name__, ('C.UTF-8', 'utf-8'))
        folder, logs = os.path.join(self.dir, 'Иван', 'Брек GSM'), os.path.join(self.dir, 'Иван', 'Журналы')
        os.makedirs(folder)
        os.makedirs(logs)
        self.program = Program(EXE, folder, self.xvfb.display, launcher=('wine',), logs=logs, encoding=encoding,
                               env=dict(self.wine.env, DISPLAY=self.xvfb.display, LANG=locale, LC_ALL=locale),
                               path=lambda p: 'Z:' + p.replace('/', '\\'))
        self.program.wait_window()
        check(re.search(r'\. Версия \d+\.\d+\.\d+$', self.program.title()), f'the title: {self.program.title()!r}')

    def heard(self):
        return lines(self.panel.transcript)

    def close(self):
        if self.program:
            self.program.close()
        self.panel.close()
        self.wine.close()
        self.xvfb.close()
        self.other_opens.close()
        os.close(self.other_master)
        shutil.rmtree(self.dir, ignore_errors=True)  # the prefix's copy is large


def shot(c, name):
    return c.program.settled_shot(os.path.join(c.dir, f'{name}.png'))


def whole_demonstration(c):
    # The manifest Windows 10 and 11 read: every supported version named, GDI scaling on.
    with open(EXE, 'rb') as f:
        exe = f.read()
    for os_id in (b'35138b9a-5d96-4fbd-8e2d-a2440225f93a', b'4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38',
                  b'1f676c76-80e1-4239-95bb-83d0f6d0da78', b'8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a'):
        check(b'<supportedOS Id="{' + os_id + b'}"/>' in exe, f'the manifest names the system {os_id.decode()}')
    check(b'>true</gdiScaling>' in exe, 'the manifest turns GDI scaling on')
    shots = os.path.join(ARTIFACTS, 'windows-demo')
    os.makedirs(shots, exist_ok=True)
    for old in os.listdir(shots):
        os.unlink(os.path.join(shots, old))
    figures = {}
    states = walk_through(c.panel, c.program, shots, say=lambda _: None, figures=figures)
    t = c.heard()
    check(t[:4] == CONNECT, f'connecting: {t[:4]!r}')
    script = script_commands(START_SCRIPT, 3456)
    check(t[4:4 + len(script)] == script, 'the demo settings, every command once and in order')
    at = 4 + len(script)
    check(t[at:at + 5] == ['', 'VERSION?', 'AUTH=5916', 'ZOLVA_SN?', 'ARM_IGNORE_TAMPER=1']
          and t[at + 5].startswith('TIME='), f'completion after the restart: {t[at:at + 6]!r}')
    at += 6
    check(t[at:at + 3] == ['ARM_ALLOWED=2', 'ARM_ALLOWED=3', 'ARM_ALLOWED=0'], f'situations: {t[at:at + 3]!r}')
    at += 3
    check(t[at:] == ['ftdef', 'settings_save', 'reset'] + CONNECT, f'factory settings: {t[at:]!r}')
    check(c.panel.restarts == 2, f'two restarts, saw {c.panel.restarts}')
    traffic = c.program.traffic()
    check(all(d in ('OUT', 'IN') for d, _ in traffic), 'every traffic log line is stamped and marked')
    check([s for d, s in traffic if d == 'OUT'] == [x for x in t if x], 'traffic log OUT lines = what the panel heard')
    check(('IN', 'ZOLVA_SN=123456') in traffic, 'the serial number reply is logged')
    check(c.program.error_log() == '', 'error log: ' + c.program.error_log())
    for (a, pa), (b, pb) in zip(states, states[1:]):
        check(pa != pb, f'{b} looks the same as {a}')
    check(c.other_opens.count() == 0, f'COM6, not the panel, was opened {c.other_opens.count()} times')
    side_by_side(shots)
    linux = {}
    try:
        with open(os.path.join(LINUX_ARTIFACTS, 'timings-linux.txt')) as f:
            linux = dict(line.rstrip('\n').split('\t') for line in f if '\t' in line)
    except FileNotFoundError:
        pass
    for k, v in figures.items():
        c.figures.append(f'{k}: Windows under Wine {v:.0f} ms, Linux {linux.get(k, "(not run)")} ms')


def side_by_side(shots):
    """Each state's Linux and Windows pictures side by side, all states in one picture."""
    linux_shots = os.path.join(LINUX_ARTIFACTS, 'demo')
    if not os.path.isdir(linux_shots):
        return
    rows = []
    for name in sorted(os.listdir(shots)):
        other = os.path.join(linux_shots, name)
        if os.path.exists(other):
            row = os.path.join(tempfile.gettempdir(), f'brek-row-{os.getpid()}-{name}')
            subprocess.run(['convert', other, os.path.join(shots, name), '+append', row], check=True)
            rows.append(row)
    if rows:
        subprocess.run(['convert', *rows, '-append', '-resize', '50%',
                        os.path.join(ARTIFACTS, 'linux-and-windows-side-by-side.png')], check=True)
        for r in rows:
            os.unlink(r)


def notices(c):
    c.program.wait_window()
    waiting = shot(c, 'waiting')
    # Notices the program must ignore, with the panel declared quietly: nothing before the check's tick.
    c.wine.helper('declare', 'COM5')
    declared = time.monotonic()
    c.wine.helper('notice', 'nodes-changed')
    c.wine.helper('notice', 'other-type')
    check(wait_for(lambda: 'ZOLVA_SN?' in c.heard(), 12), 'found by the 5 s check')
    c.figures.append(f'declared quietly -> connected: {(time.monotonic() - declared) * 1000:.0f} ms (the check)')
    connected = shot(c, 'connected')
    check(connected != waiting, 'the window shows the connection')

    # A removal notice of another device while the dialogue is open changes nothing.
    before = len(c.heard())
    c.wine.helper('notice', 'removal')
    time.sleep(1)
    check(len(c.heard()) == before, f'nothing sent after an unrelated removal: {c.heard()[before:]!r}')
    check(shot(c, 'after-removal') == connected, 'the window is unchanged')

    # Unplugged with its notice, then back with an arrival notice: connected at once, long
    # before the 5 s check, which the removal notice restarted.
    c.panel.pull()
    removed = time.monotonic()  # the helper returns once the window has handled its notice
    c.panel.serve()
    before = len(c.heard())
    c.wine.helper('declare', 'COM5')
    sent = time.monotonic()
    c.wine.helper('notice', 'arrival')
    check(wait_for(lambda: 'VERSION?' in c.heard()[before:], 10), 'asked after the arrival')
    found = time.monotonic()
    c.figures.append(f'arrival notice -> VERSION? at the panel: {(found - sent) * 1000:.0f} ms')
    check(found - removed < 4.0, f'found by the arrival notice, not the check ({(found - removed) * 1000:.0f} ms '
                                 'after the removal)')
    check(wait_for(lambda: 'ZOLVA_SN?' in c.heard()[before:], 10), 'connected again')
    # Started again while it runs, under another Windows program's window (Wine restacks only
    # among its own): one window, the running one, in front.
    second_start(c.program, cover=('wine', 'notepad'), cover_class='notepad.exe', cover_env=c.wine.env)
    # Closed mid-script: the window goes at once, the process within a second, the cut is logged.
    mark = len(c.heard())
    c.program.click(START)
    check(wait_for(lambda: len(c.heard()) >= mark + 5, 10), 'the script under way')
    window, process = c.program.close_box()
    c.figures.append(f'closed mid-script: the window gone in {(window or 9) * 1000:.0f} ms, the process in '
                     f'{(process or 9) * 1000:.0f} ms')
    check((process or 9) < 1 and (window or 9) < 1, f'closed: window {window}, process {process} s')
    check('interrupted by closing the program and dropped' in c.program.error_log(), 'the cut is logged')


def pulled_mid_script(c):
    c.program.wait_window()
    waiting = shot(c, 'waiting')
    # A panel that takes 150 ms a line, so the script is still going after its first second.
    c.panel.close()
    c.panel.serve('--line-delay', '150')
    c.panel.plug()
    check(wait_for(lambda: 'ZOLVA_SN?' in c.heard(), 15), 'connected')
    time.sleep(0.5)
    mark = len(c.heard())
    clicked = time.monotonic()
    c.program.click(START)
    check(wait_for(lambda: len(c.heard()) >= mark + 10 and time.monotonic() - clicked > 1.5, 10), 'the script under way')
    shots = os.path.join(ARTIFACTS, 'windows-demo')
    os.makedirs(shots, exist_ok=True)
    c.program.shot(os.path.join(shots, 'slow-panel-mid-script.png'))
    c.panel.pull()
    check(wait_for(lambda: shot(c, 'pulled') == waiting, 10), 'the window shows waiting for the panel')
    cut = len(c.heard())
    check('reset' not in c.heard()[mark:], 'the script was cut before its end')
    check('script was interrupted by a disconnect and dropped' in c.program.error_log(), 'the drop is logged')
    c.panel.serve()
    c.panel.plug()
    check(wait_for(lambda: 'ZOLVA_SN?' in c.heard()[cut:], 15), 'connected again')
    time.sleep(1)
    check(c.heard()[cut:] == CONNECT, f'a plain connection, no completion of the dropped script: {c.heard()[cut:]!r}')
    again = len(c.heard())
    c.program.click(START)
    check(wait_for(lambda: any(x.startswith('TIME=') for x in c.heard()[again:]), 30), 'the next demonstration succeeds')
    script = script_commands(START_SCRIPT, 3456)
    check(c.heard()[again:again + len(script)] == script, 'written whole this time')
    # Gone from the device list and its notice lost (the line not hung up either): the 5 s
    # check, which runs while connected too, lets go of it.
    time.sleep(1)
    c.wine.helper('undeclare')
    gone = time.monotonic()
    check(wait_for(lambda: shot(c, 'pulled-unnoticed') == waiting, 8), 'let go of without a notice')
    c.figures.append(f'gone without a notice -> waiting shown: {(time.monotonic() - gone) * 1000:.0f} ms')
    check(c.other_opens.count() == 0, f'COM6 was opened {c.other_opens.count()} times')


def installed_by_setup(c):
    """The setup as a user runs it: silent and per user, a shortcut and an uninstall entry,
    the program run from where it went with the traffic log beside it, an upgrade that keeps
    the settings, a silent uninstall that leaves no program, shortcut or entry."""
    c.program.close()
    env = c.wine.env
    key = r'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\BrekGSMDemo'

    def wine(*args):
        r = subprocess.run(['wine', *args], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=180)
        subprocess.run(['wineserver', '-w'], env=env, timeout=180)  # an uninstaller returns at once
        return r

    started = time.monotonic()
    wine(os.environ['BREK_WINDOWS_SETUP'], '/S')
    c.figures.append(f'silent install: {time.monotonic() - started:.1f} s')
    folders = glob.glob(os.path.join(c.wine.prefix, 'drive_c/users/*/AppData/Local/Programs/BrekGSMDemo'))
    check(len(folders) == 1, f'installed into the user\'s programs folder: {folders!r}')
    folder = folders[0]
    for name in ('BrekGSMDemo.exe', 'BrekGSMDemo.ini', 'Uninstall.exe'):
        check(os.path.exists(os.path.join(folder, name)), f'{name} installed')
    shortcuts = glob.glob(os.path.join(c.wine.prefix, 'drive_c/users/*/AppData/Roaming/Microsoft/Windows/Start Menu/'
                                                      'Programs/*.lnk'))
    check(len(shortcuts) == 1, f'one Start-menu shortcut: {shortcuts!r}')
    entry = wine('reg', 'query', key).stdout.decode(errors='replace')
    for value in ('DisplayName', 'DisplayVersion    REG_SZ    1.21.0.50', 'DisplayIcon', 'UninstallString',
                  'QuietUninstallString', 'EstimatedSize', 'NoModify', 'NoRepair'):
        check(value in entry, f'the uninstall entry has {value}: {entry!r}')

    # Run from there, with settings its user wrote: the traffic log beside the program.
    ini = os.path.join(folder, 'BrekGSMDemo.ini')
    with open(ini, 'wb') as f:
        f.write(b'[ProgrammSet]\r\nControllerLogFileName=Z:' + os.path.join(folder, 'Panel.txt').replace('/', '\\').encode() +
                b'\r\n; the demonstrator\'s own\r\n')
    c.program = Program(os.path.join(folder, 'BrekGSMDemo.exe'), folder, c.xvfb.display, launcher=('wine',),
                        env=dict(env, DISPLAY=c.xvfb.display), installed=True)
    c.program.wait_window()
    c.panel.plug()
    check(wait_for(lambda: 'ZOLVA_SN?' in c.heard(), 15), 'the installed program connects')
    check(wait_for(lambda: ('IN', 'ZOLVA_SN=123456') in c.program.traffic(), 5),
          f'its traffic log is beside it: {os.listdir(folder)!r}')
    c.program.close()

    wine(os.environ['BREK_WINDOWS_SETUP'], '/S')
    with open(ini, 'rb') as f:
        check(b"the demonstrator's own" in f.read(), 'an upgrade keeps the settings file')
    check(glob.glob(os.path.join(folder, 'Panel*.log')), 'and the logs')

    wine(os.path.join(folder, 'Uninstall.exe'), '/S')
    for name in ('BrekGSMDemo.exe', 'Uninstall.exe'):
        check(not os.path.exists(os.path.join(folder, name)), f'{name} removed')
    check(not any(os.path.exists(x) for x in shortcuts), 'the shortcut removed')
    check(wine('reg', 'query', key).returncode != 0, 'the uninstall entry removed')
    check(os.path.exists(ini), 'the settings file stays')


SCENARIOS = [whole_demonstration, notices, pulled_mid_script, installed_by_setup]
# Wine's LANG=C cannot name a file in Cyrillic at all; C.UTF-8 is its code page 1252 all the same.
LOCALES = {'whole_demonstration': ('ru_RU.UTF-8', 'cp1251'), 'notices': ('ru_RU.UTF-8', 'utf-16'),
           'pulled_mid_script': ('C.UTF-8', 'utf-8-sig'), 'installed_by_setup': ('C.UTF-8', 'utf-8')}

passed, failed = run_scenarios(SCENARIOS, WANTED, Context, run=lambda scenario, c: (c.start(scenario), scenario(c)),
                               on_failure=lambda c: [f'the panel heard (last 8): {c.heard()[-8:]!r}'])
print(f'{passed} passed, {failed} failed')
sys.exit(1 if failed else 0)
