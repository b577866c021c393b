#!/usr/bin/python3
"""Serial and hot-plug tests against the real kernel driver, run inside the rig's guest
(tools/kernel-rig): the panel is a configfs USB gadget (ffff:2331, serial TUVO) on dummy_hcd,
so cdc_acm makes its /dev/ttyACMn with real udev events; unbinding the gadget is a real
unplug. The gadget side (/dev/ttyGSn) is served by panel-sim. Another maker's serial gadget
(0403:6001) is present throughout and must never be opened.

Run in the guest: harness.py <hotplug_subject> <panel-sim> <serial_tests> [scenario...]
"""
import datetime
import fcntl
import glob
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import termios
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'support'))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tools', 'umockdev'))
from common import OpenCounter, lines, run_scenarios, script_commands, wait_for  # noqa: E402
from demo import END, START, Program, WindowPing, Xvfb, traffic, walk_through  # noqa: E402
from subject import Subject  # noqa: E402

SUBJECT, PANEL_SIM, SERIAL_TESTS = sys.argv[1:4]
# The Windows build's driver checks and its Wine prefix (the windows_driver scenario).
WINE_CHECKS, WINE_PREFIX = os.environ.get('BREK_WINE_CHECKS'), os.environ.get('BREK_WINE_PREFIX')
WINE_PROGRAM = os.environ.get('BREK_WINE_PROGRAM')  # the Windows program (windows_program)
WANTED = sys.argv[4:]
LINUX_PROGRAM = os.path.join(os.path.dirname(SUBJECT), '..', 'src', 'app', 'BrekGSMDemo')  # beside the subject
WAITING, CONNECTED, LOADING, LOADED = 0, 2, 3, 4
GADGETS = '/sys/kernel/config/usb_gadget'
TIOCEXCL = 0x540C


def check(cond, what):
    if not cond:
        raise AssertionError(what)


def write(path, text):
    with open(path, 'w') as f:
        f.write(text)


def raw(fd):
    attrs = termios.tcgetattr(fd)
    attrs[0] = attrs[1] = attrs[3] = 0  # no input, output or local processing
    attrs[2] = termios.CS8 | termios.CREAD | termios.CLOCAL
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


class Gadget:
    """A USB device with one ACM function, bound to a dummy UDC (plugged) or not."""

    def __init__(self, name, udc, vendor, product, serial):
        self.dir, self.udc, self.vendor = f'{GADGETS}/{name}', udc, vendor
        os.makedirs(f'{self.dir}/strings/0x409')
        write(f'{self.dir}/idVendor', '0x' + vendor)
        write(f'{self.dir}/idProduct', '0x' + product)
        write(f'{self.dir}/strings/0x409/serialnumber', serial)
        write(f'{self.dir}/strings/0x409/product', 'Brek GSM' if vendor == 'ffff' else 'Serial adapter')
        os.makedirs(f'{self.dir}/configs/c.1')
        os.makedirs(f'{self.dir}/functions/acm.0')
        os.symlink(f'{self.dir}/functions/acm.0', f'{self.dir}/configs/c.1/acm.0')
        with open(f'{self.dir}/functions/acm.0/port_num') as f:
            self.gadget_tty = f'/dev/ttyGS{f.read().strip()}'
        self.plugged = False

    def plug(self):
        write(f'{self.dir}/UDC', self.udc)
        self.plugged = True
        check(wait_for(lambda: self.node() is not None, 10), f'{self.vendor}: no ttyACM appeared')
        return self.node()

    def unplug(self):
        write(f'{self.dir}/UDC', '\n')
        self.plugged = False

    def node(self):
        """The host-side tty of this gadget: found by its USB identity, as the program does."""
        for tty in glob.glob('/sys/class/tty/ttyACM*'):
            d = os.path.realpath(os.path.join(tty, 'device'))
            while d != '/sys' and not os.path.exists(os.path.join(d, 'idVendor')):
                d = os.path.dirname(d)
            try:
                if open(os.path.join(d, 'idVendor')).read().strip() == self.vendor:
                    return '/dev/' + os.path.basename(tty)
            except OSError:
                pass
        return None


class Panel:
    """panel-sim on the gadget side. Unbinding the gadget hangs its side up, so every plugging
    opens it anew. After "reset" the gadget is unbound and bound again as the real panel
    restarts. hold_old: keep the old host node open over the restart, as a program still
    holding it would, so the panel returns under a new name."""

    def __init__(self, gadget, transcript, restart_ms=1500):
        self.gadget, self.transcript, self.restart_ms = gadget, transcript, restart_ms
        self.fd = None
        self.sim = None
        self.restarts = 0
        self.names = []
        self.hold_old = False
        self._held = []
        self.error = None
        self.options = []  # panel-sim's, e.g. a slow start
        self.on_plug = None  # called with the new node on every plugging
        self.back_at = None

    def serve(self):
        self.stop_serving()
        self.fd = os.open(self.gadget.gadget_tty, os.O_RDWR | os.O_NOCTTY)
        raw(self.fd)
        self.sim = subprocess.Popen([PANEL_SIM, '--fd', str(self.fd), '--transcript', self.transcript, '--restart',
                                     str(self.restart_ms)] + self.options, pass_fds=[self.fd], stdout=subprocess.PIPE,
                                    stderr=open(self.transcript + '.stderr', 'a'), text=True)
        threading.Thread(target=self._watch, args=(self.sim,), daemon=True).start()

    def _watch(self, sim):
        try:
            self._restart_on_reset(sim)
        except Exception as e:  # noqa: BLE001
            self.error = e

    def _restart_on_reset(self, sim):
        for line in sim.stdout:
            if line.startswith('RESTART'):
                time.sleep(0.05)
                old = self.gadget.node()
                if self.hold_old and old:
                    self._held.append(os.open(old, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK))
                self.unplug()
                time.sleep(int(line.split()[1]) / 1000)
                self.names.append(self.plug())
                self.restarts += 1
                return

    def plug(self):
        # Its side is opened once bound: opened earlier, the unbinding's late hang-up could
        # reach the new descriptor. (The host's bytes wait in the driver until it is open.)
        node = self.gadget.plug()
        time.sleep(0.2)  # the unbinding's hang-up can still reach the gadget side just after the bind
        self.serve()
        if self.on_plug:
            self.on_plug(node)
        self.back_at = time.monotonic()
        return node

    def unplug(self):
        self.gadget.unplug()
        self.stop_serving()

    def stop_serving(self):
        if self.sim:
            self.sim.kill()
            self.sim.wait()
            self.sim = None
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None

    def close(self):
        self.stop_serving()
        for fd in self._held:
            os.close(fd)


class Context:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix='brek-kernel-')
        self.transcript = os.path.join(self.dir, 'transcript.txt')
        self.subject = None
        self.panel = None
        self.figures = []

    def start(self):
        with open(os.path.join(self.dir, 'BrekGSMDemo.ini'), 'wb') as f:
            f.write(b'[ProgrammSet]\r\nControllerLogFileName=' + self.dir.encode() + b'/Panel.txt\r\n')
        self.subject = Subject(SUBJECT, self.dir)
        return self.subject

    def diagnosis(self):
        """What the program said and did last, and where its threads wait."""
        out = []
        for name in sorted(glob.glob(os.path.join(self.dir, '*.log'))):
            with open(name, 'rb') as f:
                out.append(os.path.basename(name) + ': ' + ' | '.join(f.read().decode('cp1251').splitlines()[-6:]))
        if self.subject and self.subject.proc.poll() is None:
            pid = self.subject.proc.pid
            waits = [open(f'/proc/{pid}/task/{t}/wchan').read() for t in os.listdir(f'/proc/{pid}/task')]
            out.append('threads wait in ' + ', '.join(waits))
        if os.path.exists(self.transcript + '.stderr'):
            out.append('panel-sim said: ' + open(self.transcript + '.stderr').read()[-300:])
        return '; '.join(out)

    def heard(self):
        return lines(self.transcript)

    def close(self):
        if self.subject:
            self.subject.stop()
        self.panel.close()


def demonstration(c, s, p):
    """Demo settings with the restart, the three situations, the factory settings with theirs."""
    mark = len(c.heard())
    s.send('click start')
    check(s.wait_state(LOADED, 60), f'demo settings written after the restart; states {s.seen}, restarts '
                                    f'{p.restarts} {p.names}, restart error {p.error!r}, nodes {glob.glob("/dev/ttyACM*")}')
    check(any(x.startswith('TIME=') for x in c.heard()[mark:]), 'the clock is set')
    for button, state in (('little', 5), ('off', 6), ('full', 7)):
        s.send(f'click {button}')
        check(s.wait_state(state, 10), f'situation {button}')
    s.send('click end')
    check(s.wait_state(CONNECTED, 60), 'factory settings written, connected again')


def found_by_identity_and_a_whole_demonstration(c, panel, other):
    panel.hold_old = True
    panel.serve()
    s = c.start()
    check(s.wait_state(CONNECTED, 30), 'found by identity and connected')
    check(c.heard()[:4] == ['', 'VERSION?', 'AUTH=5916', 'ZOLVA_SN?'], f'connecting: {c.heard()[:4]!r}')
    first = panel.gadget.node()
    demonstration(c, s, panel)
    check(panel.restarts == 2, f'two restarts, saw {panel.restarts}')
    check(first not in panel.names, f'the panel came back under new names {panel.names} (first {first})')
    c.figures.append(f'panel nodes: {first} then {", ".join(panel.names)}')


def a_panel_that_loses_its_first_line(c, panel, other):
    """Its firmware reads only after its USB side is up: the first line after each plug and
    each restart is lost. Asked again, it is connected, and its demo settings completed once."""
    panel.options = ['--lose-first', '1']
    panel.serve()
    started = time.monotonic()
    s = c.start()
    check(s.wait_state(CONNECTED, 30), 'connected')
    took = time.monotonic() - started
    heard = c.heard()
    check(heard[:5] == ['', '!LOST VERSION?', 'VERSION?', 'AUTH=5916', 'ZOLVA_SN?'], f'connecting: {heard[:5]!r}')
    # From the first question to the serial number's answer, by the traffic log's stamps.
    log = [x.decode('cp1251') for name in glob.glob(os.path.join(c.dir, 'Panel*.log')) for x in open(name, 'rb').read().splitlines()]
    stamp = lambda text: next(datetime.datetime.strptime(x[:23], '%Y-%m-%d %H:%M:%S.%f') for x in log if text in x)
    asked = (stamp(' IN:  ZOLVA_SN=') - stamp(' OUT: VERSION?')).total_seconds()
    check(asked < 3, f'connected {asked:.1f} s after the port opened')
    mark = len(heard)
    s.send('click start')
    check(s.wait_state(LOADED, 60), f'demo settings written and completed; states {s.seen}')
    after = c.heard()[mark:]
    restart = after.index('reset') if 'reset' in after else len(after)
    completion = after[restart + 1:]
    check(completion.count('!LOST VERSION?') == 1 and completion.count('AUTH=5916') == 1 and
          completion.count('ARM_IGNORE_TAMPER=1') == 1 and sum(x.startswith('TIME=') for x in completion) == 1,
          f'the completion once: {completion!r}')
    c.figures.append(f'a panel losing its first line: connected {asked:.2f} s after the port opened, '
                     f'{took:.1f} s after the program started')


def cable_pulled_at_ten_points(c, panel, other):
    panel.serve()
    s = c.start()
    check(s.wait_state(CONNECTED, 30), 'connected')
    script = 67
    for k in (1, 5, 12, 20, 28, 36, 44, 50, 55, 60):  # the script's "reset" is its 67th line
        start = len(c.heard())
        s.send('click start')
        check(wait_for(lambda: len(c.heard()) >= start + k, 30), f'{k} commands of the script heard')
        panel.unplug()
        check(s.wait_state(WAITING, 10), f'cut after {k}: waiting for the panel')
        time.sleep(0.3)
        check(s.state != LOADED, f'cut after {k}: shown as written')
        panel.plug()
        check(s.wait_state(CONNECTED, 15), f'cut after {k}: connected again')
        check('reset' not in c.heard()[start:], f'cut after {k}: the script went on to its end')
    check(LOADED not in s.seen, 'no cut script was ever shown as written')
    start = len(c.heard())
    s.send('click start')
    check(s.wait_state(LOADED, 60), 'the next demonstration succeeds')
    check(len([x for x in c.heard()[start:] if x]) >= script, 'written whole')


def a_panel_that_stops_reading(c, panel, other):
    """The gadget side is held but not read: the host's output queue fills and stays full."""
    panel.serve()
    panel.sim.kill()  # its side stays open, unread
    node = panel.gadget.node()
    try:
        r = subprocess.run([SERIAL_TESTS, '--gtest_filter=RealDevice.*'],
                           env=dict(os.environ, BREK_STALLED_TTY=node, BREK_STALLED_PANEL=panel.gadget.gadget_tty),
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
    finally:
        panel.unplug()  # the cable pulled: the only end of a stall
    for line in r.stdout.splitlines():
        if line.startswith('stalled write'):
            c.figures.append(line)
    check(r.returncode == 0, 'the bounded write on a stalled device: ' + r.stdout[-1500:])


def held_by_another_process(c, panel, other):
    panel.serve()
    holder = os.open(panel.gadget.node(), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
    fcntl.ioctl(holder, TIOCEXCL)
    s = c.start()
    try:
        check(s.wait_state(WAITING, 30), 'started')
        check(s.holds(WAITING, 6.0), 'a held port is not used')
        check('VERSION?' not in c.heard(), 'nothing was sent to the held port')
    finally:
        os.close(holder)
    released = time.monotonic()
    found = s.wait_state(CONNECTED, 10)
    fds = sorted(os.readlink(f'/proc/{s.proc.pid}/fd/{n}') for n in os.listdir(f'/proc/{s.proc.pid}/fd'))
    check(found, f'found by the 5 s check once free (after {time.monotonic() - released:.1f} s; states {s.seen}; '
                 f'node {panel.gadget.node()}; its descriptors {fds})')


MM_LOG, RULES, RULE = '/run/ModemManager.log', '/run/udev/rules.d', '70-brekgsm-panel.rules'
PACKAGED = open(os.path.join(HERE, '..', '..', 'packaging', RULE)).read()
# ModemManager wanting the panel, as a plugin claims a modem it knows: only a blocklist (our rule) stops it.
WANTED_BY_MM = 'SUBSYSTEM=="tty", ATTRS{idVendor}=="ffff", ENV{ID_MM_X22X_TAGGED}="1"\n'


def udev_rules(rules=((RULE, PACKAGED), ('79-mm-wanted.rules', WANTED_BY_MM))):
    """Puts rules into the guest's udev rules, or takes them out (None), for the next events."""
    for name, text in rules:
        write(f'{RULES}/{name}', text) if text else os.path.exists(f'{RULES}/{name}') and os.remove(f'{RULES}/{name}')
    subprocess.run(['udevadm', 'control', '--reload'], check=True)


def foreign_lines(c, since=0):
    """The lines the panel heard from its since-th on that our program did not send, each with
    whether it came inside our dialogue: after a line of ours, before our opening's empty line."""
    ours = [t for _, d, t in traffic(c.dir) if d == 'OUT']
    out, pending, k, inside = [], [], 0, False
    for i, line in enumerate(c.heard()):
        if not line or (k < len(ours) and line == ours[k]):
            out += [(x, inside and bool(line)) for x in pending]
            pending, inside, k = [], i >= since, k + bool(line)
        elif i >= since and not line.startswith('!FRAMING'):
            pending.append(line)
    return out + [(x, inside) for x in pending]


def modemmanager(c, panel, other):
    """ModemManager beside the panel, wanting it: with the package's rule never at its port; without,
    left to its own filter, then wanting it again: the program waits its turn."""
    panel.options = ['--reply', 'unknown']  # the firmware's answer to "AT"
    panel.serve()
    s, mm = c.start(), len(open(MM_LOG).read())
    check(s.wait_state(CONNECTED, 30), 'connected with the rule')
    time.sleep(30)
    demonstration(c, s, panel)
    n = sum(len(x) + 1 for x, _ in foreign_lines(c))
    print(f'modemmanager: with the rule {n} bytes from ModemManager at the panel', flush=True)
    check(n == 0 and 'port filtered: device is blocklisted' in open(MM_LOG).read()[mm:], 'the rule kept it away')
    took = []
    try:
        for wanted in (None, WANTED_BY_MM):
            udev_rules(((RULE, None), ('79-mm-wanted.rules', wanted)))
            panel.unplug()
            check(s.wait_state(WAITING, 10), 'unplugged')
            mark, mm, plugged = len(c.heard()), len(open(MM_LOG).read()), time.monotonic()
            panel.plug()
            check(s.wait_state(CONNECTED, 90), f'connected without the rule, {len(took)} in')
            took.append(time.monotonic() - plugged)
        s.send('click start')
        check(s.wait_state(LOADED, 120), 'demo settings written across a restart')
        heard, probed = foreign_lines(c, mark), open(MM_LOG).read()[mm:].count('opening serial port')
        m = sum(inside for _, inside in heard)
        print(f'modemmanager: without the rule connected in {took[1]:.1f} s, {m} modem lines inside the dialogue', flush=True)
        c.figures.append(f'{probed} pluggings probed, {len(heard)} lines; {took[0]:.1f} s to connect where left to its filter')
        held = [x for x in open(os.path.join(c.dir, 'ErrorLog.log'), encoding='cp1251') if 'held by another' in x]
        check(m == 0 and probed and len(held) == probed and all(RULE in x for x in held), f'{heard}; errors: {held}')
    finally:
        udev_rules()


def usage(pid):
    """Descriptors, threads and resident kB: the smallest of a few looks (a port check holds
    a few descriptors for a moment; a leak holds them for ever)."""
    looks = []
    for _ in range(5):
        fds = len(os.listdir(f'/proc/{pid}/fd'))
        status = dict(line.split(':', 1) for line in open(f'/proc/{pid}/status'))
        looks.append((fds, int(status['Threads']), int(status['VmRSS'].split()[0])))
        time.sleep(0.05)
    return tuple(min(v[i] for v in looks) for i in range(3))


def soak(c, panel, other):
    """Plug/unplug cycles against the real driver, with a whole demonstration every tenth;
    descriptors and threads must not grow. Cycles: BREK_SOAK_CYCLES (20)."""
    cycles = int(os.environ.get('BREK_SOAK_CYCLES', '20'))
    panel.serve()
    s = c.start()
    check(s.wait_state(CONNECTED, 30), 'connected')
    first = None
    started = time.monotonic()
    for i in range(cycles):
        panel.unplug()
        check(s.wait_state(WAITING, 10), f'cycle {i}: waiting')
        panel.plug()
        check(s.wait_state(CONNECTED, 15), f'cycle {i}: connected again')
        if i % 10 == 9:
            demonstration(c, s, panel)
        if first is None:
            first = usage(s.proc.pid)
        if (i + 1) % 50 == 0:
            now = usage(s.proc.pid)
            print(f'     soak: {i + 1} of {cycles} cycles in {time.monotonic() - started:.0f} s: {now[0]} fds, '
                  f'{now[1]} threads, {now[2] / 1024:.1f} MB', flush=True)
    last = usage(s.proc.pid)
    c.figures.append(f'{cycles} cycles in {time.monotonic() - started:.0f} s; after the first: {first[0]} fds, '
                     f'{first[1]} threads, {first[2] / 1024:.1f} MB; at the end: {last[0]} fds, {last[1]} threads, '
                     f'{last[2] / 1024:.1f} MB')
    check(last[:2] == first[:2], f'descriptors or threads grew: {first} -> {last}')


def wine_prefix():
    """The host's prefix with an overlay: what Wine writes stays in the guest's /run."""
    top = '/run/wine'
    prefix = f'{top}/prefix'
    if not os.path.ismount(prefix):
        for d in ('upper', 'work', 'prefix'):
            os.makedirs(f'{top}/{d}', exist_ok=True)
        subprocess.run(['mount', '-t', 'overlay', 'overlay', '-o',
                        f'lowerdir={WINE_PREFIX},upperdir={top}/upper,workdir={top}/work', prefix], check=True)
    return prefix


def name_ports(prefix, ports, declared=''):
    """Wine's mount manager maps every ttyS, ttyUSB and ttyACM to a COM number of its own when
    its server starts, over any link made before: COM5 was another maker's ttyACM0 until the
    ports were named in its registry key. Read when the server starts; declared: more keys."""
    with open(f'{prefix}/system.reg') as f:
        registry = f.read()
    named = ''.join(f'"COM{n}"="{node}"\n' for n, node in ports.items())
    registry = re.sub(r'(\[Software\\\\Wine\\\\Ports\] \d+\n#time=\w+\n)(?:"COM\d+"=".*"\n)*',
                      lambda m: m.group(1) + named, registry, count=1)
    check(named in registry, 'the prefix has the Wine Ports key')
    with open(f'{prefix}/system.reg', 'w') as f:
        f.write(registry if declared in registry else registry + declared)


def windows_driver(c, panel, other):
    """The Windows program's driver and port object under Wine on the real tty (COM5 and,
    after the pull, COM6 are dosdevices links to the panel's ttyACMn): the steps it asks
    for (pull, plug back, stop reading, pull) are taken here; its lines are its checks."""
    check(WINE_CHECKS and WINE_PREFIX, 'BREK_WINE_CHECKS and BREK_WINE_PREFIX name the Windows build')
    panel.serve()
    prefix = wine_prefix()
    exe = shutil.copy(WINE_CHECKS, '/run/tmp/')  # started from the 9p share it dies at once
    steps = tempfile.mkdtemp(prefix='brek-wine-', dir='/run/tmp')
    nodes = []

    def link(number, node):
        path = f'{prefix}/dosdevices/com{number}'
        if os.path.lexists(path):
            os.remove(path)
        os.symlink(node, path)
        nodes.append(f'COM{number} {node}')

    node = panel.gadget.node()
    name_ports(prefix, {5: node, 6: node})
    nodes.append(f'COM5 {node}')
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=')
    server = open(os.path.join(c.dir, 'wineserver.out'), 'w')
    subprocess.run(['wineserver', '-p'], env=env, check=True, stdout=server, stderr=server)  # one for every start
    output = os.path.join(c.dir, 'wine.out')
    mark = len(c.heard())
    started = time.monotonic()
    with open(output, 'w') as out:  # a file: Wine's helper processes keep a pipe open
        proc = subprocess.Popen(['wine', exe, 'Z:' + steps.replace('/', '\\'), '5'], env=env, stdout=out,
                                stderr=subprocess.STDOUT)

    def pull():
        panel.unplug()

    def plug_back():
        again = panel.plug()
        if again != node:
            link(6, again)  # after the server's start a link is used as it is
        return '6'

    def stall():
        panel.sim.kill()  # its side stays open, unread

    answers = {'pull': ('pulled', pull), 'closed': ('plugged', plug_back), 'stall': ('stalled', stall),
               'unstall': ('unstalled', pull)}  # what the checks ask for, and the answer
    try:
        while proc.poll() is None and time.monotonic() - started < 600:
            for step, (answer, act) in answers.items():
                if os.path.exists(os.path.join(steps, step)) and not os.path.exists(os.path.join(steps, answer)):
                    text = act() or answer
                    write(os.path.join(steps, answer), text)
            time.sleep(0.02)
    finally:
        if proc.poll() is None:
            proc.kill()
        subprocess.run(['wineserver', '-k'], env=env, stdout=server, stderr=server)
    took = time.monotonic() - started
    said = open(output, errors='replace').read().splitlines()
    for line in said:
        if line.startswith(('ok', 'FAIL', '     wine:')):
            print('     windows: ' + line, flush=True)
    c.figures.append(f'the Windows checks under Wine: {took:.0f} s with Wine\'s start; {", ".join(nodes)}')
    zones = 'PART_ZONES=0=1' + ',0' * 119
    heard = c.heard()[mark:mark + 8]
    check(heard == ['', 'VERSION?', 'AUTH=5916', 'ZOLVA_SN?', 'ZONE_ENABLED=0,1', 'STATEMAP=0,0,2', zones,
                    'PART_ENABLED=0,1'], f'the panel heard {heard!r}')
    check(proc.returncode == 0 and said and said[-1].endswith(' 0 failed'),
          f'the checks ended with {proc.returncode}: ' + ' | '.join(said[-12:]))


# The panel in the device registry, as Windows lists it: found by SetupAPI by its USB identity.
DECLARED = r'''
[System\\CurrentControlSet\\Enum\\USB\\VID_FFFF&PID_2331\\TUVO] 1796841928
"ClassGUID"="{4d36e978-e325-11ce-bfc1-08002be10318}"
"FriendlyName"="Brek GSM Virtual COM Port (COM5)"

[System\\CurrentControlSet\\Control\\DeviceClasses\\{86e0d1e0-8089-11d0-9ce4-08003e301f73}\\##?#USB#VID_FFFF&PID_2331#TUVO#{86e0d1e0-8089-11d0-9ce4-08003e301f73}] 1796841928
"DeviceInstance"="USB\\VID_FFFF&PID_2331\\TUVO"

[System\\CurrentControlSet\\Control\\DeviceClasses\\{86e0d1e0-8089-11d0-9ce4-08003e301f73}\\##?#USB#VID_FFFF&PID_2331#TUVO#{86e0d1e0-8089-11d0-9ce4-08003e301f73}\\#\\Control] 1796841928
"Linked"=dword:00000001
'''


def first_heard(c, mark, text, timeout):
    """When the panel first heard a line starting with text after the first mark lines."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if any(x.startswith(text) for x in c.heard()[mark:]):
            return time.monotonic()
        time.sleep(0.005)
    raise AssertionError(f'{text!r} not heard within {timeout} s: {c.heard()[mark:][-5:]!r}')


XVFB = []


def guest_display():
    """The guest's one X server (a second one did not start in 20 s under TCG). Its socket needs a
    writable /tmp: an overlay keeps the host's /tmp (a checkout may live there) in sight."""
    if not os.access('/tmp', os.W_OK):
        for d in ('tmp-upper', 'tmp-work'):
            os.makedirs(f'/run/{d}', exist_ok=True)
        subprocess.run(['mount', '-t', 'overlay', 'overlay', '-o',
                        'lowerdir=/tmp,upperdir=/run/tmp-upper,workdir=/run/tmp-work', '/tmp'], check=True)
    if not XVFB:
        XVFB.append(Xvfb())
    return XVFB[0].display


def stalled_panel(c, panel, program, link=lambda node: None):
    """The program beside a panel that reads nothing (its side held unread, every buffer on the way
    filled first) for 30 s, its window pinged every 0.3 s. link names the node for the program."""
    ping = WindowPing(program.display, program.window)
    idle = ping.during(10)  # no panel yet: what the window's own work costs
    panel.gadget.plug()
    panel.serve()
    panel.sim.kill()
    fd = os.open(panel.gadget.node(), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        raw(fd)
        taken, since = 0, time.monotonic()
        while time.monotonic() < since + 2:  # nothing taken for 2 s: full
            try:
                taken += os.write(fd, b'A' * 4096)
                since = time.monotonic()
            except BlockingIOError:
                time.sleep(0.05)
        link(panel.gadget.node())
        times = ping.during(30)
        window, process = program.close_box()  # while a line is still held in the driver
    finally:
        ping.close()
        panel.unplug()
        os.close(fd)
    sent, worst = sum(d == 'OUT' for d, _ in program.traffic()), max(times)
    c.figures += [f'stalled panel: the window answered within {worst:.0f} ms at worst',
                  f'{len(times)} pings, median {statistics.median(times):.1f} ms; {taken} bytes filled the panel\'s '
                  f'side first; the program wrote {sent} lines meanwhile; with no panel, {max(idle):.0f} ms at worst']
    ms = lambda s: 'never' if s is None else f'{s * 1000:.0f} ms'  # noqa: E731
    c.figures.append(f'closed beside it: the window gone in {ms(window)}, the process in {ms(process)}')
    check(len(times) >= 50 and sent >= 2, f'{len(times)} pings, {sent} lines written')
    check(worst < 1000, f'the window answered within {worst:.0f} ms at worst')
    check(process is not None and process < 1, f'the process ended {ms(process)} after the close')


def stalled_panel_linux(c, panel, other):
    panel.unplug()
    display, folder = guest_display(), tempfile.mkdtemp(prefix='brek-linux-', dir='/run/tmp')
    program = Program(LINUX_PROGRAM, folder, display,
                      env=dict(os.environ, DISPLAY=display, XDG_RUNTIME_DIR=folder, QT_QPA_PLATFORM='xcb'))
    try:
        program.wait_window(120)
        stalled_panel(c, panel, program)
        again = Program(LINUX_PROGRAM, folder, display, env=program.env)  # the lock was let go of
        again.wait_window(120)
        again.close()
    finally:
        program.close()


class WindowsProgram:
    """The Windows program itself under Wine on the real tty, its window on an Xvfb in the
    guest; the panel declared in the device registry on COM5, a link that follows the
    gadget's node while follow is on (else names no device). The gadget starts unplugged."""

    def __init__(self, c, panel):
        check(WINE_PROGRAM and WINE_PREFIX, 'BREK_WINE_PROGRAM and BREK_WINE_PREFIX name the Windows build')
        self.c, self.panel, self.follow = c, panel, True
        prefix = wine_prefix()
        display = guest_display()
        self.com5 = f'{prefix}/dosdevices/com5'
        panel.on_plug = lambda node: self.link(node if self.follow else '/dev/brek-none')
        panel.unplug()
        name_ports(prefix, {5: '/dev/brek-none'}, DECLARED)
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=')
        self.server = open(os.path.join(c.dir, 'wineserver.out'), 'w')
        subprocess.run(['wineserver', '-p'], env=self.env, check=True, stdout=self.server, stderr=self.server)
        folder = tempfile.mkdtemp(prefix='brek-win-', dir='/run/tmp')  # started from the 9p share it dies
        started = time.monotonic()
        self.program = Program(WINE_PROGRAM, folder, display, launcher=('wine',),
                               env=dict(self.env, DISPLAY=display), path=lambda p: 'Z:' + p.replace('/', '\\'))
        self.program.wait_window(400)
        c.figures.append(f'the Windows program\'s window under Wine in {time.monotonic() - started:.0f} s')

    def link(self, node):
        if os.path.lexists(self.com5):
            os.remove(self.com5)
        os.symlink(node, self.com5)  # after the server's start a link is used as it is

    def serials(self):
        return sum(d == 'IN' and 'ZOLVA_SN=' in x for d, x in self.program.traffic())

    def said(self):
        return (f'its traffic log ends {self.program.traffic()[-3:]!r}; its errors: {self.program.error_log()[-400:]!r}; '
                f'COM5 {os.readlink(self.com5)}, {glob.glob("/dev/ttyACM*")}')

    def close(self):
        self.program.close()
        subprocess.run(['wineserver', '-k'], env=self.env, stdout=self.server, stderr=self.server)
        self.panel.on_plug = None


def windows_program(c, panel, other):
    """A whole demonstration of the Windows program on the real tty: plugged once its window
    is up, clicked through with both restarts, the panel's transcript compared line by line."""
    w = WindowsProgram(c, panel)
    try:
        figures = {}
        try:
            walk_through(panel, w.program, tempfile.mkdtemp(dir='/run/tmp'), say=lambda _: None, figures=figures)
        except AssertionError as e:
            raise AssertionError(f'{e}; {w.said()}') from None
        t = c.heard()
        script = start_script()
        connect = ['', 'VERSION?', 'AUTH=5916', 'ZOLVA_SN?']
        # The driver checks' stalled write can still reach the gadget first, the opening's
        # empty line appended to it.
        at = next((i for i in range(len(t)) if t[i:i + 3] == connect[1:]), None)
        check(at == 1, f'connecting: {t[:5]!r}')
        t = [''] + t[at:]
        check(t[4:4 + len(script)] == script, 'the demo settings, every command once and in order')
        at = 4 + len(script)
        check(t[at:at + 5] == ['', 'VERSION?', 'AUTH=5916', 'ZOLVA_SN?', 'ARM_IGNORE_TAMPER=1']
              and t[at + 5].startswith('TIME='), f'completion after the restart: {t[at:at + 6]!r}')
        check(t[at + 6:] == ['ARM_ALLOWED=2', 'ARM_ALLOWED=3', 'ARM_ALLOWED=0', 'ftdef', 'settings_save', 'reset']
              + connect, f'situations and factory settings: {t[at + 5:]!r}')
        check(panel.restarts == 2, f'two restarts, saw {panel.restarts}')
        check(w.program.error_log() == '', 'error log: ' + w.program.error_log())
        c.figures += [f'{k}: {v:.0f} ms' for k, v in figures.items()]
    finally:
        w.close()


def stalled_panel_windows(c, panel, other):
    w = WindowsProgram(c, panel)
    try:
        stalled_panel(c, panel, w.program, link=w.link)  # named once full: every line it writes stalls
    finally:
        w.close()


def start_script():
    return script_commands(os.path.join(HERE, '..', '..', 'src', 'scripts', 'resources', 'BREKGSMDEMOSTARTCMD.txt'), 3456)


def traffic_stamps(folder):
    """The traffic log's lines as (time, OUT|IN)."""
    return [(datetime.datetime.strptime(t, '%Y-%m-%d %H:%M:%S.%f'), d) for t, d, _ in traffic(folder) if t]


def turnaround(rows):
    """Where a command's time goes: to its reply, and from the reply to the next command (ms)."""
    gaps = {('OUT', 'IN'): [], ('IN', 'OUT'): []}
    for (t0, d0), (t1, d1) in zip(rows, rows[1:]):
        gaps.get((d0, d1), []).append((t1 - t0).total_seconds() * 1000)
    return [statistics.median(v) if v else 0 for v in gaps.values()]


def windows_and_linux_in_turns(c, panel, other):
    """The start script written by the Windows program under Wine and by the Linux subject in
    turns, 3 each, on the same gadget: from the start button to "reset" at the panel. The
    Windows program lets go at its factory settings' restart (COM5 then names no device)."""
    w = WindowsProgram(c, panel)
    first = start_script()[0]

    def click(button, mark, heard):
        """Clicked until the panel hears the first command (the button is enabled once the
        last reply is handled); the time of the click that took."""
        for _ in range(10):
            clicked = time.monotonic()
            w.program.click(button)
            if wait_for(lambda: heard in c.heard()[mark:], 2):
                return clicked
        raise AssertionError(f'{heard!r} never sent; the panel heard {c.heard()[-5:]!r}; {w.said()}')

    def windows_round():
        before = w.serials()
        w.follow = True
        if panel.gadget.plugged:
            w.link(panel.gadget.node())
        else:
            panel.plug()
        check(wait_for(lambda: w.serials() > before, 30), f'the Windows program connects; {w.said()}')
        mark, logged = len(c.heard()), len(traffic_stamps(w.program.folder))
        clicked = click(START, mark, first)
        took = first_heard(c, mark, 'reset', 60) - clicked
        turns['Windows'].append(turnaround(traffic_stamps(w.program.folder)[logged:]))
        first_heard(c, mark, 'TIME=', 60)
        w.follow = False
        w.link('/dev/brek-none')
        restarts = panel.restarts
        click(END, len(c.heard()), 'ftdef')
        check(wait_for(lambda: panel.restarts > restarts, 60), 'factory settings written')
        return took

    def linux_round():
        s = c.start()
        check(s.wait_state(CONNECTED, 30), 'the Linux subject connects')
        mark, logged = len(c.heard()), len(traffic_stamps(c.dir))
        clicked = time.monotonic()
        s.send('click start')
        took = first_heard(c, mark, 'reset', 60) - clicked
        turns['Linux'].append(turnaround(traffic_stamps(c.dir)[logged:]))
        check(s.wait_state(LOADED, 60), 'the Linux subject: demo settings written')
        s.send('click end')
        check(s.wait_state(CONNECTED, 60), 'the Linux subject: factory settings written')
        s.stop()
        c.subject = None
        return took

    turns = {'Windows': [], 'Linux': []}
    try:
        windows, linux = [], []
        for _ in range(3):
            windows.append(windows_round() * 1000)
            linux.append(linux_round() * 1000)
        wm, lm = statistics.median(windows), statistics.median(linux)
        c.figures.append(f'start script, start button to "reset" at the panel, medians of 3 in turns: Linux {lm:.0f} '
                         f'ms, Windows under Wine {wm:.0f} ms, ratio {wm / lm:.2f} (Windows '
                         f'{", ".join(f"{x:.0f}" for x in windows)}; Linux {", ".join(f"{x:.0f}" for x in linux)})')
        for k, v in turns.items():
            c.figures.append(f'{k}, medians of the rounds\' medians: a reply logged {statistics.median(x[0] for x in v):.1f} '
                             f'ms after its command, the next command {statistics.median(x[1] for x in v):.1f} ms after it')
    finally:
        w.close()


SCENARIOS = [found_by_identity_and_a_whole_demonstration, a_panel_that_loses_its_first_line, cable_pulled_at_ten_points,
             a_panel_that_stops_reading, held_by_another_process, modemmanager, stalled_panel_linux]
EXTRA = [soak, windows_driver, windows_program, windows_and_linux_in_turns, stalled_panel_windows]  # by name only


def main():
    os.makedirs(GADGETS, exist_ok=True)
    udev_rules()  # the package's rule, and ModemManager wanting the panel
    other = Gadget('other', 'dummy_udc.1', '0403', '6001', 'OTHER1')
    other_node = other.plug()
    opens = OpenCounter(other_node)
    gadget = Gadget('panel', 'dummy_udc.0', 'ffff', '2331', 'TUVO')

    def context():
        if not gadget.plugged:
            gadget.plug()
        c = Context()
        c.panel = Panel(gadget, c.transcript)
        return c

    passed, failed = run_scenarios(SCENARIOS + EXTRA, WANTED, context, run=lambda scenario, c: scenario(c, c.panel, other),
                                   on_failure=lambda c: [f'the panel heard {c.heard()[-5:]!r}', c.diagnosis()],
                                   by_name_only=EXTRA)
    n = opens.count()
    if n:
        failed += 1
        print(f'FAIL another maker\'s device ({other_node}) was opened {n} times', flush=True)
    else:
        passed += 1
        print(f'ok   another maker\'s device ({other_node}) never opened', flush=True)
    print(f'{passed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
