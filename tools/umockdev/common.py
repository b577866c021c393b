"""Helpers of the rigs that need no device mocking: waiting, reading a transcript, children
that end with their parent."""
import ctypes
import os
import signal
import sys
import time


# Bound once, here: a child runs die_with_parent between fork and exec, where taking the
# import or the loader lock (held, maybe, by another thread at the fork) would hang it for ever.
_libc = ctypes.CDLL(None, use_errno=True)
_prctl = _libc.prctl


def die_with_parent():
    """preexec_fn for children that must not outlive a harness that is killed."""
    _prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def lines(path):
    try:
        with open(path) as f:
            return f.read().splitlines()
    except FileNotFoundError:
        return []


def script_commands(path, account):
    """The start script's commands as the panel hears them for an account number."""
    with open(path, 'rb') as f:
        out = [x.decode('cp1251').strip() for x in f.read().splitlines()]
    return [f'ACCOUNT={account}' if x.upper() == 'ACCOUNT=""' else x for x in out if x]


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
        target = os.path.realpath(path)
        self.fd = _libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        # Open and close alternate, so inotify never merges two openings into one event.
        if self.fd < 0 or _libc.inotify_add_watch(self.fd, target.encode(), self.IN_OPEN | self.IN_CLOSE) < 0:
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


def run_scenarios(scenarios, wanted, context, run=lambda scenario, c: scenario(c), on_failure=lambda c: (),
                  by_name_only=()):
    """Runs each scenario asked for (all but by_name_only when none is) in a fresh context, then
    closes it; prints an ok or FAIL line for each, what on_failure says of a failed one and the
    figures it left. Returns (passed, failed)."""
    passed = failed = 0
    for scenario in scenarios:
        name = scenario.__name__
        if (wanted and name not in wanted) or (not wanted and scenario in by_name_only):
            continue
        c = context()
        started = time.monotonic()
        try:
            run(scenario, c)
            passed += 1
            print(f'ok   {name} ({time.monotonic() - started:.1f} s)', flush=True)
        except Exception as e:  # noqa: BLE001
            failed += 1
            print(f'FAIL {name}: {e}', flush=True)
            for line in on_failure(c):
                print(f'     {line}', flush=True)
        finally:
            c.close()
        for f in getattr(c, 'figures', []):
            print(f'     {f}', flush=True)
    return passed, failed


def run_main(main):
    """Runs a test script's main: a failed check is reported as FAIL and exits 1."""
    try:
        main()
    except AssertionError as e:
        print(f'FAIL {e}')
        sys.exit(1)
