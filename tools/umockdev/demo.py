#!/usr/bin/python3
"""A whole demonstration without hardware: the built program against the simulated panel,
faked on the USB bus by umockdev. Run under umockdev-wrapper:

  demo.py --program BrekGSMDemo --panel-sim panel-sim [--walk] [--shots DIR]

On a display the program shows there and you click its buttons; the panel restarts when a
script tells it to, as the real one does. With no display (or --walk) the program runs on a
private Xvfb, the buttons are clicked for you through the whole demonstration and a
screenshot of every state is left in DIR; --screen-reader prints what a screen reader reads
in each state.
"""
import argparse
import ctypes
import glob
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from common import die_with_parent, lines, wait_for  # noqa: E402

# Button centres in the window's client area.
START, END, LITTLE, OFF, FULL = (115, 358), (129, 389), (422, 327), (426, 358), (402, 389)
WINDOW_NAME = 'Брек GSM'
WIDTH, HEIGHT = 640, 493
TRAFFIC_LINE = re.compile(r'^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (OUT: |IN:  )(.*)$')


def traffic(folder):
    """The traffic logs in a folder as (stamp, OUT|IN, text); a line of another shape as
    (None, '?', line)."""
    out = []
    for name in sorted(glob.glob(os.path.join(folder, 'Panel*.log'))):
        with open(name, 'rb') as f:
            for raw in f.read().decode('cp1251').split('\r\n'):
                m = TRAFFIC_LINE.match(raw)
                if m:
                    out.append((m.group(1), m.group(2).split(':')[0], m.group(3)))
                elif raw:
                    out.append((None, '?', raw))
    return out


def x_env(display):
    """X clients and the X server must not see the umockdev preload."""
    env = {k: v for k, v in os.environ.items() if k not in ('LD_PRELOAD', 'UMOCKDEV_DIR')}
    env['DISPLAY'] = display
    return env


class Xvfb:
    """A private X server; it picks a free display number itself, so parallel tests never share one.
    -noreset: by default the server resets when its last client leaves, and a client that connects
    during the reset is turned away, so a probe that disconnects just as the program starts would
    make the program fail with "could not connect to display"."""

    def __init__(self):
        read, write = os.pipe()
        self.proc = subprocess.Popen(['Xvfb', '-displayfd', str(write), '-noreset', '-screen', '0', '1024x768x24',
                                      '-nolisten', 'tcp'],
                                     env=x_env(os.environ.get('DISPLAY', '')), pass_fds=[write],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        os.close(write)
        number = b''
        with os.fdopen(read, 'rb') as f:
            while not number.endswith(b'\n'):
                # A server that never says its display must fail the run, not hang it (the rig's
                # guest on a loaded machine took over 20 s).
                if not select.select([f], [], [], 60)[0]:
                    self.proc.kill()
                    raise RuntimeError('Xvfb did not say its display within 60 s')
                chunk = f.read(1)
                if not chunk:
                    raise RuntimeError('Xvfb did not start')
                number += chunk
        self.display = ':' + number.decode().strip()

    def close(self):
        if self.proc:
            self.proc.terminate()
            self.proc.wait()


class XClientMessage(ctypes.Structure):
    _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
                ('display', ctypes.c_void_p), ('window', ctypes.c_ulong), ('message_type', ctypes.c_ulong),
                ('format', ctypes.c_int), ('l', ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [('type', ctypes.c_int), ('xclient', XClientMessage), ('pad', ctypes.c_long * 24)]


class WindowPing:
    """A window manager's ping (_NET_WM_PING) to a top-level window: the program answers it on
    its user-interface thread, so the time to the answer is how long that thread was busy."""
    CLIENT_MESSAGE, STRUCTURE_NOTIFY, SUBSTRUCTURE_NOTIFY = 33, 1 << 17, 1 << 19

    def __init__(self, display, window):
        self.x = ctypes.CDLL('libX11.so.6')
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        for f in ('XDefaultRootWindow', 'XInternAtom'):
            getattr(self.x, f).restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        self.x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        for f in ('XFlush', 'XPending', 'XConnectionNumber', 'XCloseDisplay'):
            getattr(self.x, f).argtypes = [ctypes.c_void_p]
        self.x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        self.d = self.x.XOpenDisplay(display.encode())
        if not self.d:
            raise RuntimeError(f'no X display {display}')
        self.window = int(window)
        self.root = self.x.XDefaultRootWindow(self.d)
        self.protocols = self.x.XInternAtom(self.d, b'WM_PROTOCOLS', 0)
        self.ping = self.x.XInternAtom(self.d, b'_NET_WM_PING', 0)
        # The answer goes to the root window, for whoever listens there.
        self.x.XSelectInput(self.d, self.root, self.STRUCTURE_NOTIFY | self.SUBSTRUCTURE_NOTIFY)
        self.stamp = 0

    def once(self, timeout):
        """Milliseconds to the answer, or None when none came within timeout seconds."""
        self.stamp += 1
        e = XEvent()
        e.xclient.type, e.xclient.window, e.xclient.message_type, e.xclient.format = (
            self.CLIENT_MESSAGE, self.window, self.protocols, 32)
        e.xclient.l[0], e.xclient.l[1], e.xclient.l[2] = self.ping, self.stamp, self.window
        sent = time.monotonic()
        self.x.XSendEvent(self.d, self.window, 0, 0, ctypes.byref(e))
        self.x.XFlush(self.d)
        while time.monotonic() < sent + timeout:
            if not self.x.XPending(self.d):
                select.select([self.x.XConnectionNumber(self.d)], [], [], 0.005)
                continue
            self.x.XNextEvent(self.d, ctypes.byref(e))
            c = e.xclient
            if e.type == self.CLIENT_MESSAGE and c.message_type == self.protocols and c.l[0] == self.ping \
                    and c.l[1] == self.stamp:
                return (time.monotonic() - sent) * 1000
        return None

    def during(self, seconds, every=0.3, timeout=10):
        """The answer times of pings every so often for some seconds (timeout for none)."""
        times, end = [], time.monotonic() + seconds
        while time.monotonic() < end:
            took = self.once(timeout)
            times.append(timeout * 1000 if took is None else took)
            time.sleep(every)
        return times

    def delete(self):
        """WM_DELETE_WINDOW, what a click on the title bar's close box sends."""
        e = XEvent()
        e.xclient.type, e.xclient.window, e.xclient.message_type, e.xclient.format = (
            self.CLIENT_MESSAGE, self.window, self.protocols, 32)
        e.xclient.l[0] = self.x.XInternAtom(self.d, b'WM_DELETE_WINDOW', 0)
        self.x.XSendEvent(self.d, self.window, 0, 0, ctypes.byref(e))
        self.x.XFlush(self.d)

    def close(self):
        self.x.XCloseDisplay(self.d)


class Program:
    """The program copied into its own folder, with a settings file that turns the traffic
    log on, so what it said and heard can be read back. The Windows program passes its
    launcher (wine), its environment and how it spells a path; an installed program runs
    where it is, with the settings its user has (installed=True)."""

    def __init__(self, exe, folder, display, launcher=(), env=None, path=lambda p: p, installed=False, logs=None,
                 encoding='utf-8'):
        self.folder, self.display = folder, display
        self.logs = logs or folder  # where the settings put both logs
        self.exe = exe
        if not installed:
            self.exe = os.path.join(folder, os.path.basename(exe))
            shutil.copy2(exe, self.exe)
            with open(os.path.join(folder, 'BrekGSMDemo.ini'), 'wb') as f:
                f.write(f'[ProgrammSet]\r\nControllerLogFileName={path(os.path.join(self.logs, "Panel.txt"))}\r\n'
                        f'ErrorLogFileName={path(os.path.join(self.logs, "ErrorLog.log"))}\r\n'.encode(encoding))
        if env is None:
            from umockpanel import testbed_env
            # Its own configuration and state folders: a settings file of the user's would win.
            env = testbed_env(DISPLAY=display, XDG_RUNTIME_DIR=folder, XDG_CONFIG_HOME=os.path.join(folder, 'config'),
                              XDG_STATE_HOME=os.path.join(folder, 'state'))
        self.output = open(os.path.join(folder, 'output.txt'), 'w')
        self.command, self.env = [*launcher, self.exe], env
        self.proc = subprocess.Popen(self.command, cwd=folder, env=env, stdout=self.output,
                                     stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
        self.window = None

    def x(self, *args, capture=False):
        r = subprocess.run(list(args), env=x_env(self.display), stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        return r.stdout if capture else r.returncode

    def wait_window(self, timeout=15):
        def found():
            out = self.x('xdotool', 'search', '--onlyvisible', '--name', WINDOW_NAME, capture=True).split()
            self.window = out[0].decode() if out else None
            return self.window is not None
        wait_for(lambda: found() or self.proc.poll() is not None, timeout)
        if self.window is None:
            self.output.flush()
            with open(self.output.name, encoding='utf-8', errors='replace') as f:
                said = f.read().strip()
            state = 'still runs' if self.proc.poll() is None else f'exited with {self.proc.returncode}'
            raise RuntimeError(f'the window did not appear; the program {state}; it printed: {said!r}')

    def close_box(self, timeout=5):
        """Clicks the close box; seconds from it until no window was shown and until the
        process had ended (None: not within timeout)."""
        ping = WindowPing(self.display, self.window)
        ping.delete()
        ping.close()
        sent, gone = time.monotonic(), {}
        while time.monotonic() < sent + timeout and len(gone) < 2:
            if 'window' not in gone and not self.x('xdotool', 'search', '--onlyvisible', '--name', WINDOW_NAME,
                                                   capture=True).split():
                gone['window'] = time.monotonic() - sent
            if 'process' not in gone and self.proc.poll() is not None:
                gone['process'] = time.monotonic() - sent
            time.sleep(0.005)
        return gone.get('window'), gone.get('process')

    def title(self):
        return self.x('xdotool', 'getwindowname', self.window, capture=True).decode().strip()

    def click(self, at):
        self.x('xdotool', 'mousemove', '--window', self.window, str(at[0]), str(at[1]), 'click', '1')

    def pixels(self):
        return self.x('import', '-window', self.window, '-depth', '8', 'rgb:-', capture=True)

    def shot(self, path):
        """The window as it is now (a moving bar never settles)."""
        subprocess.run(['convert', '-size', f'{WIDTH}x{HEIGHT}', '-depth', '8', 'rgb:-', path], input=self.pixels(),
                       check=True)

    def start_again(self, timeout=120):
        """Starts the program a second time as the first was started; its exit code once it ends."""
        return subprocess.run(self.command, cwd=self.folder, env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout, preexec_fn=die_with_parent).returncode

    def on_top(self, *windows):
        """Which of some windows (ids as xdotool gives them) is the highest on the display."""
        wanted = {int(w): w for w in windows}
        for line in self.x('xwininfo', '-root', '-children', capture=True).decode(errors='replace').splitlines():
            m = re.match(r'^\s+(0x[0-9a-f]+) ', line)  # topmost first
            if m and int(m.group(1), 16) in wanted:
                return wanted[int(m.group(1), 16)]
        return None

    def settled_shot(self, path, timeout=5):
        """Waits until two captures a moment apart agree, and keeps that picture."""
        last = self.pixels()
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            time.sleep(0.25)
            now = self.pixels()
            if now == last and len(now) == WIDTH * HEIGHT * 3:
                break
            last = now
        subprocess.run(['convert', '-size', f'{WIDTH}x{HEIGHT}', '-depth', '8', 'rgb:-', path],
                       input=last, check=True)
        return last

    def traffic(self):
        """The traffic log's lines as (OUT|IN, text); a line of another shape as ('?', line)."""
        return [(d, text) for _, d, text in traffic(self.logs)]

    def error_log(self):
        try:
            with open(os.path.join(self.logs, 'ErrorLog.log'), 'rb') as f:
                return f.read().decode('cp1251')
        except FileNotFoundError:
            return ''

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.output.close()


class FirstHeard:
    """When the panel first heard a line starting with each of some texts (polled every 5 ms
    on its own thread, so a screenshot in between does not delay the reading)."""

    def __init__(self, transcript, *texts):
        import threading
        self.at = {}
        self._stop = False
        self._thread = threading.Thread(target=self._watch, args=(transcript, texts), daemon=True)
        self._thread.start()

    def _watch(self, transcript, texts):
        while not self._stop and len(self.at) < len(texts):
            heard = lines(transcript)
            for text in texts:
                if text not in self.at and any(x.startswith(text) for x in heard):
                    self.at[text] = time.monotonic()
            time.sleep(0.005)

    def stop(self):
        self._stop = True
        self._thread.join()


class ScreenReader:
    """What a screen reader reads of a program started after this one is made: pyatspi, the
    client Orca uses, on a private session bus with the accessibility bus enabled. names holds
    (role, name) of whatever announced a new name, read as the announcement was heard."""

    def __init__(self, display):
        self.bus = subprocess.Popen(['dbus-daemon', '--session', '--nofork', '--print-address=1'], stdout=subprocess.PIPE,
                                    text=True, env=x_env(display), preexec_fn=die_with_parent)
        os.environ.update(DBUS_SESSION_BUS_ADDRESS=self.bus.stdout.readline().strip(), QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1')
        # The bus's launcher is started by the call, the accessibility bus by the first client.
        subprocess.run(['dbus-send', '--session', '--print-reply', '--dest=org.a11y.Bus', '/org/a11y/bus',
                        'org.freedesktop.DBus.Properties.Set', 'string:org.a11y.Status', 'string:IsEnabled',
                        'variant:boolean:true'], env=x_env(display), check=True, timeout=60, stdout=subprocess.DEVNULL)
        import pyatspi
        from gi.repository import GLib
        self.at, self.context, self.names, self.app = pyatspi, GLib.MainContext.default(), [], None

    def attach(self):
        """Finds the program (the first looks may find none, or it without children yet) and
        listens to it."""
        apps = lambda: [a for a in self.at.Registry.getDesktop(0) if a and a.childCount]  # noqa: E731
        if not wait_for(apps, 15):
            raise AssertionError('the program is not on the accessibility bus')
        self.app = apps()[0]
        self.at.Registry.registerEventListener(lambda e: self.names.append((e.source.getRole(), e.source.name)),
                                               'object:property-change:accessible-name')
        self.pump(1)  # the program learns of the listener

    def pump(self, seconds):
        """Hears what was announced, for that long."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.context.iteration(False) or time.sleep(0.01)

    def tree(self, acc=None, depth=0):
        """The program as read, one line an object: role and name."""
        acc = acc or self.app
        return [f'{"  " * depth}{acc.getRoleName()} {acc.name!r}'] + [x for c in acc for x in self.tree(c, depth + 1)]

    def close(self):
        self.bus.terminate()
        self.bus.wait()


def walk_through(rig, program, shots, say=print, figures=None, reader=None):
    """Clicks through a whole demonstration, waiting for the panel to hear each step, and
    leaves one screenshot per state. Raises when a step does not happen; returns the states
    as (name, pixels). figures, a dict, gets the click-to-"reset" and the panel's
    return-to-"TIME=" times of the demo settings, in ms. A ScreenReader hears each step's
    announcements after it, while the window still shows the state."""
    t = rig.transcript
    seen = []
    heard = lambda text, after=0: text in lines(t)[after:]  # noqa: E731
    serial_replies = lambda: sum(d == 'IN' and 'ZOLVA_SN=' in s for d, s in program.traffic())  # noqa: E731

    def step(name, done, timeout):
        if not wait_for(done, timeout):
            raise AssertionError(f'{name}: did not happen within {timeout} s; the panel heard {lines(t)[-5:]!r}')
        path = os.path.join(shots, f'{len(os.listdir(shots)) + 1:02d}-{name}.png')
        seen.append((name, program.settled_shot(path)))
        if reader:
            reader.pump(0.3)
        say(f'{name}: {path}')

    program.wait_window()
    if reader:
        reader.attach()
    step('waiting', lambda: True, 1)
    rig.plug()
    step('connected', lambda: serial_replies() > 0, 10)

    # Each baseline before its click: on a slow machine the restart can be over by the time
    # the step's screenshot has settled.
    mark = len(lines(t))
    restarts = rig.restarts
    watch = FirstHeard(t, 'reset', 'TIME=')
    clicked = time.monotonic()
    program.click(START)
    step('loading-demo', lambda: len(lines(t)) > mark, 5)
    step('demo-loaded', lambda: rig.restarts > restarts and any(x.startswith('TIME=') for x in lines(t)[mark:]), 60)
    watch.stop()
    if figures is not None and 'reset' in watch.at and 'TIME=' in watch.at and rig.back_at:
        figures['click to "reset"'] = (watch.at['reset'] - clicked) * 1000
        figures['panel back to "TIME="'] = (watch.at['TIME='] - rig.back_at) * 1000

    for name, button, command in (('money-little', LITTLE, 'ARM_ALLOWED=2'), ('money-off', OFF, 'ARM_ALLOWED=3'),
                                  ('money-full', FULL, 'ARM_ALLOWED=0')):
        mark = len(lines(t))
        program.click(button)
        step(name, lambda: heard(command, mark), 5)

    mark = len(lines(t))
    restarts = rig.restarts
    serials = serial_replies()
    program.click(END)
    step('loading-factory', lambda: heard('ftdef', mark), 5)
    # Back to connected: after the restart it logs in and reads the serial number again.
    step('factory-restored', lambda: rig.restarts > restarts and serial_replies() > serials, 60)
    return seen


def second_start(program, cover=('xmessage', '-geometry', '1024x768+0+0', 'covering'), cover_class='Xmessage',
                 cover_env=None):
    """Starts the program again while it runs, with another program's window over it: the
    running window must come to the front and the new start end without a window of its own."""
    cover = subprocess.Popen(list(cover), env=dict(cover_env or x_env(program.display), DISPLAY=program.display),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
    try:
        def covering():
            out = program.x('xdotool', 'search', '--onlyvisible', '--class', cover_class, capture=True).split()
            return out[0].decode() if out else None
        wait_for(lambda: covering() is not None and program.on_top(program.window, covering()) == covering(), 60)
        cover_id = covering()
        if not cover_id or program.on_top(program.window, cover_id) != cover_id:
            raise AssertionError('second start: the window could not be covered')
        code = program.start_again()
        windows = program.x('xdotool', 'search', '--onlyvisible', '--name', WINDOW_NAME, capture=True).split()
        if code != 0 or len(windows) != 1:
            raise AssertionError(f'second start: exit {code}, {len(windows)} windows')
        if program.on_top(program.window, cover_id) != program.window:
            raise AssertionError('second start: the running window did not come to the front')
    finally:
        cover.terminate()
        cover.wait()


def slow_panel_mid_script(rig, program, path, say=print):
    """A panel that takes a while over each line: connects, starts the demo settings and keeps
    a picture of the window once the script has run past its first second."""
    t = rig.transcript
    program.wait_window()
    rig.plug()
    if not wait_for(lambda: 'ZOLVA_SN?' in lines(t), 15):
        raise AssertionError(f'slow panel: not connected; it heard {lines(t)[-5:]!r}')
    time.sleep(0.5)  # the serial number's answer, one line-delay later
    mark = len(lines(t))
    clicked = time.monotonic()
    program.click(START)
    if not wait_for(lambda: len(lines(t)) >= mark + 5 and time.monotonic() - clicked > 2, 30):
        raise AssertionError(f'slow panel: the script did not get going; it heard {lines(t)[mark:]!r}')
    program.shot(path)
    say(f'slow panel, mid-script ({len(lines(t)) - mark} lines in): {path}')


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--program', required=True)
    ap.add_argument('--panel-sim', required=True)
    ap.add_argument('--walk', action='store_true', help='click through the demonstration on a private display')
    ap.add_argument('--shots', default='demo-shots', help='where the screenshots go')
    ap.add_argument('--screen-reader', action='store_true', help='print what a screen reader reads in each state (--walk)')
    args = ap.parse_args()
    os.environ['PANEL_SIM'] = os.path.abspath(args.panel_sim)
    from umockpanel import Rig
    walk = args.walk or not os.environ.get('DISPLAY')
    folder = tempfile.mkdtemp(prefix='brek-demo-')
    rig = Rig(os.path.join(folder, 'panel-transcript.txt'))
    xvfb = Xvfb() if walk else None
    reader = ScreenReader(xvfb.display) if walk and args.screen_reader else None
    program = Program(os.path.abspath(args.program), folder, xvfb.display if walk else os.environ['DISPLAY'])
    try:
        if walk:
            shots = os.path.abspath(args.shots)
            shutil.rmtree(shots, ignore_errors=True)
            os.makedirs(shots)
            print(f'No display given: clicking through the demonstration on Xvfb {xvfb.display}.')
            walk_through(rig, program, shots, reader=reader,
                         say=lambda x: print(x, *(reader.tree() if reader else ()), sep='\n    '))
            # Again with a panel that answers a line in 300 ms, as one busy writing its flash:
            # the window mid-script, beside the fast panel's.
            program.close()
            rig.close()
            slow = tempfile.mkdtemp(prefix='brek-demo-slow-')
            rig = Rig(os.path.join(slow, 'panel-transcript.txt'), sim_args=('--line-delay', '300'))
            program = Program(os.path.abspath(args.program), slow, xvfb.display)
            mid = os.path.join(shots, f'{len(os.listdir(shots)) + 1:02d}-slow-panel-mid-script.png')
            slow_panel_mid_script(rig, program, mid)
            subprocess.run(['convert', *sorted(glob.glob(os.path.join(shots, '*-loading-demo.png'))), mid, '+append',
                            os.path.join(shots, 'loading-demo-fast-and-slow-panel.png')], check=True)
            print(f'Done. Screenshots in {shots}')
        else:
            rig.plug()
            print('The simulated panel is plugged in; close the window to end the demonstration.')
            program.proc.wait()
    finally:
        program.close()
        rig.close()
        if reader:
            reader.close()
        if xvfb:
            xvfb.close()
    print(f'Traffic log and the panel\'s transcript: {folder}')


if __name__ == '__main__':
    main()
