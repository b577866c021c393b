"""A faked USB panel under umockdev (vendor ffff, product 2331, serial TUVO) with a
cdc-acm tty whose other end is served by the panel-sim program. Import it in a process
started under umockdev-wrapper."""
import os
import queue
import subprocess
import threading
import time

import gi

from common import OpenCounter, die_with_parent, lines, wait_for  # noqa: F401 (theirs to import from here too)

gi.require_version('UMockdev', '1.0')
from gi.repository import UMockdev  # noqa: E402
TESTBED = UMockdev.Testbed.new()
NEXT_NODE = [0]


def node_path(tb, node):
    """The pty behind a faked device node."""
    return os.path.realpath(os.path.join(tb.get_root_dir(), 'dev', node))


def testbed_env(**extra):
    """An environment for a child that sees the testbed: the testbed sets UMOCKDEV_DIR in the
    C environment, which os.environ does not mirror."""
    return dict(os.environ, UMOCKDEV_DIR=TESTBED.get_root_dir(), **extra)


def usb_description(n, vendor='ffff', product='2331', serial='TUVO'):
    base = f'/devices/pci0000:00/0000:00:14.0/usb1/1-{n}'
    return f"""P: {base}
N: bus/usb/001/{n + 10:03d}
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
E: ID_VENDOR_ID={vendor}
E: ID_MODEL_ID={product}
A: idVendor={vendor}
A: idProduct={product}
A: serial={serial}
A: product=Brek GSM
A: manufacturer=Brek

P: {base}/1-{n}:1.0
E: SUBSYSTEM=usb
E: DEVTYPE=usb_interface
E: DRIVER=cdc_acm

P: {base}/1-{n}:1.0/tty/ttyACM{n}
N: ttyACM{n}
E: SUBSYSTEM=tty
E: DEVNAME=/dev/ttyACM{n}
""", ['/sys' + p for p in (f'{base}/1-{n}:1.0/tty/ttyACM{n}', f'{base}/1-{n}:1.0', base)]


class Panel:
    """One plugging-in of a (faked) USB device with its tty."""

    def __init__(self, tb, n, transcript, serve=True, restart_ms=1500, sim_args=(), **ids):
        self.tb, self.n = tb, n
        desc, self.syspaths = usb_description(n, **ids)
        stale = os.path.join(tb.get_root_dir(), 'dev', '.ptymap', 'ttyACM%d' % n)
        if os.path.exists(stale):
            os.unlink(stale)
        tb.add_from_string(desc)
        self.fd = tb.get_dev_fd(f'/dev/ttyACM{n}')
        self.restarts = queue.Queue()
        self.gone = False
        self.listed = True
        self.sim = None
        if serve:
            self.sim = subprocess.Popen([os.environ.get('PANEL_SIM', 'panel-sim'), '--fd', str(self.fd), '--transcript', transcript,
                                         '--restart', str(restart_ms), *sim_args], pass_fds=[self.fd], stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
            threading.Thread(target=self._watch, daemon=True).start()
        self.announced = time.monotonic()
        for p in reversed(self.syspaths):
            tb.uevent(p, 'add')

    def _watch(self):
        for line in self.sim.stdout:
            if line.startswith('RESTART'):
                self.restarts.put(int(line.split()[1]))

    def unplug(self, announce_only=False, notice=True, hang_up=True):
        """Pulls the cable. announce_only: the removal is announced while the device is
        still listed (udev may deliver it so); finish_removal() then takes it away.
        notice/hang_up False: the removal's uevent is lost, the line is not hung up."""
        self.gone = True
        if self.sim:
            self.sim.kill()
            self.sim.wait()
            self.sim = None
        if hang_up:
            # A real unplug hangs up the line under the program's open descriptor.
            null = os.open('/dev/null', os.O_RDWR)
            os.dup2(null, self.fd)
            os.close(null)
        for p in self.syspaths if notice else []:
            self.tb.uevent(p, 'remove')
        if not announce_only:
            self.finish_removal(close_line=hang_up)

    def finish_removal(self, close_line=True):
        if self.listed:
            self.listed = False
            for p in self.syspaths:
                self.tb.remove_device(p)
        # Closing our side of the line hangs it up too.
        if close_line and self.fd is not None:
            os.close(self.fd)
            self.fd = None


class Rig:
    """The panel as a demonstrator has it: plugged in on demand, and when a command restarts
    it, gone from the bus and back under the next node name, as the real one does."""

    def __init__(self, transcript, **panel_args):
        self.tb, self.transcript, self.panel_args = TESTBED, transcript, panel_args
        self.panel = None
        self.restarts = 0
        self.back_at = None  # when the panel last came back from a restart
        self._lock = threading.Lock()
        self._stop = threading.Event()
        threading.Thread(target=self._restarter, daemon=True).start()

    def plug(self):
        with self._lock:
            self.panel = Panel(self.tb, NEXT_NODE[0], self.transcript, **self.panel_args)
            NEXT_NODE[0] += 1
            return self.panel

    def unplug(self):
        with self._lock:
            if self.panel and not self.panel.gone:
                self.panel.unplug()

    def _restarter(self):
        while not self._stop.is_set():
            panel = self.panel
            try:
                ms = panel.restarts.get(timeout=0.05) if panel else None
            except queue.Empty:
                continue
            if ms is None:
                time.sleep(0.05)
                continue
            time.sleep(0.05)  # the reply to "reset" goes out before the device drops
            self.unplug()
            time.sleep(ms / 1000)
            if not self._stop.is_set():
                self.plug()
                self.back_at = time.monotonic()
                self.restarts += 1

    def close(self):
        self._stop.set()
        self.unplug()

