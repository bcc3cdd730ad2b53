"""Pseudo-terminals standing in for signs, and the built library and plug-ins."""

import os
import pty
import random
import string
import select
import time

import pytest


class Line:
    """A pty: the sign reads the master side; the slave stays held so the line never hangs up."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        self.path = os.ttyname(self.slave)

    def read(self, count, timeout=3.0):
        """Waits for `count` bytes (or the time-out) and returns what arrived."""
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < count and time.monotonic() < deadline:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if ready:
                data += os.read(self.master, 4096)
        return data

    def quiet(self, seconds=0.1):
        """What arrives within a short while: nothing, for a call that must send nothing."""
        return self.read(1 << 20, seconds)

    def close(self):
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass


@pytest.fixture
def lines():
    made = []

    def make():
        made.append(Line())
        return made[-1]

    yield make
    for line in made:
        line.close()


@pytest.fixture
def port_link(tmp_path_factory):
    """A short symlink name for a pty, as a udev rule gives an adapter one."""
    links = []

    def make(target, name=None):
        """`name`, or a free "/tmp/" name of four letters: nine characters, as a plug-in takes."""
        while name is None or (os.path.lexists(name) and name not in links):
            name = "/tmp/" + "".join(random.choice(string.ascii_letters) for _ in range(4))
        path = name
        if os.path.lexists(path):
            os.unlink(path)
        os.symlink(target, path)
        links.append(path)
        return path

    yield make
    for path in links:
        if os.path.lexists(path):
            os.unlink(path)
