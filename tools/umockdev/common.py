"""Helpers of the rigs that need no device mocking: waiting, reading a transcript, children
that end with their parent."""
import os
import time


def die_with_parent():
    """preexec_fn for children that must not outlive a harness that is killed."""
    import ctypes
    import signal
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def lines(path):
    try:
        with open(path) as f:
            return f.read().splitlines()
    except FileNotFoundError:
        return []


def wait_for(pred, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if pred():
            return True
        time.sleep(0.005)
    return pred()


class OpenCounter:
    """Counts the openings of a device node by any process (inotify on it): a device that is
    not the panel's must never be opened."""
    IN_OPEN, IN_CLOSE = 0x20, 0x18

    def __init__(self, path):
        import ctypes
        self._libc = ctypes.CDLL(None, use_errno=True)
        target = os.path.realpath(path)
        self.fd = self._libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        # Open and close alternate, so inotify never merges two openings into one event.
        if self.fd < 0 or self._libc.inotify_add_watch(self.fd, target.encode(), self.IN_OPEN | self.IN_CLOSE) < 0:
            raise OSError(ctypes.get_errno(), f'cannot watch {target}')
        self.opens = 0

    def count(self):
        import struct
        while True:
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                return self.opens
            at = 0
            while at + 16 <= len(data):
                _, mask, _, size = struct.unpack_from('iIII', data, at)
                if mask & self.IN_OPEN:
                    self.opens += 1
                at += 16 + size

    def close(self):
        os.close(self.fd)
