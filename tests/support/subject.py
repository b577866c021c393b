"""The hot-plug subject seen from a harness."""
import os
import queue
import subprocess
import threading
import time


class Subject:
    """hotplug_subject: the controller with the real Linux device layer and serial driver,
    without a window; its demo state read from what it prints, clicks sent to its input."""

    def __init__(self, program, folder, env=None):
        self.proc = subprocess.Popen([os.path.abspath(program), folder], cwd=folder, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.states = queue.Queue()
        self.state = None
        self.seen = []  # every state it printed, in order
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            if line.startswith('STATE'):
                self.seen.append(int(line.split()[1]))
                self.states.put(self.seen[-1])

    def wait_state(self, wanted, timeout):
        end = time.monotonic() + timeout
        while True:
            if self.state == wanted:
                return True
            left = end - time.monotonic()
            if left <= 0:
                return False
            try:
                self.state = self.states.get(timeout=left)
            except queue.Empty:
                return False

    def holds(self, state, seconds):
        """The state stays for that long."""
        return self.wait_state(state, 1) and not self._changes_within(seconds)

    def _changes_within(self, seconds):
        try:
            self.state = self.states.get(timeout=seconds)
            return True
        except queue.Empty:
            return False

    def send(self, line):
        self.proc.stdin.write(line + '\n')
        self.proc.stdin.flush()

    def stop(self):
        try:
            self.send('quit')
            self.proc.wait(timeout=10)
        except Exception:
            self.proc.kill()
