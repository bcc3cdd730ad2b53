"""Network serial servers for the tests: Debian's ser2net serving a pty, and a small RFC 2217
server that answers with other settings than asked."""

import os
import pty
import select
import signal
import socket
import subprocess
import tempfile
import threading
import time


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def listening(port):
    """True when something listens on the port. Read from the kernel's table, not by connecting:
    a probe connection would make ser2net open the sign's device for it."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as entries:
                for entry in entries.readlines()[1:]:
                    fields = entry.split()
                    if fields[3] == "0A" and int(fields[1].rsplit(":", 1)[1], 16) == port:
                        return True
        except OSError:
            continue
    return False


def wait_listening(port, timeout=5.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if listening(port):
            return True
        time.sleep(0.02)
    return False


class Ser2net:
    """ser2net serving `device` on a raw TCP port and an RFC 2217 port, both on loopback."""

    def __init__(self, device, raw_port=None, rfc2217_port=None):
        self.device = device
        self.raw_port = raw_port or free_port()
        self.rfc2217_port = rfc2217_port or free_port()
        self.folder = tempfile.mkdtemp(prefix="ser2net-")
        self.config = os.path.join(self.folder, "ser2net.yaml")
        with open(self.config, "w") as config:
            for name, accepter in (("raw", f"tcp,127.0.0.1,{self.raw_port}"),
                                   ("rfc2217", f"telnet(rfc2217),tcp,127.0.0.1,{self.rfc2217_port}")):
                # kickolduser: a connection left over from a dropped path does not turn the next away.
                config.write(f"connection: &{name}\n  accepter: {accepter}\n"
                             f"  connector: serialdev,{device},9600n81,local\n"
                             "  options:\n    kickolduser: true\n")
        self.process = None
        self.start()

    @property
    def raw(self):
        return f"tcp://127.0.0.1:{self.raw_port}"

    @property
    def rfc2217(self):
        return f"rfc2217://127.0.0.1:{self.rfc2217_port}"

    def start(self):
        self.process = subprocess.Popen(["ser2net", "-n", "-u", "-c", self.config, "-P", os.path.join(self.folder, "pid")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        assert wait_listening(self.raw_port) and wait_listening(self.rfc2217_port), "ser2net did not start"

    def stop(self):
        os.kill(self.process.pid, signal.SIGSTOP)

    def resume(self):
        os.kill(self.process.pid, signal.SIGCONT)

    def kill(self):
        self.process.kill()
        self.process.wait(5)

    def close(self):
        if self.process and self.process.poll() is None:
            self.resume()
            self.kill()


class RefusingServer:
    """An RFC 2217 server that answers every setting with another value (as a server whose UART
    cannot take the speed asked would): ser2net takes any speed, even 12345."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.url = f"rfc2217://127.0.0.1:{self.listener.getsockname()[1]}"
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        connection, _ = self.listener.accept()
        with connection:
            connection.settimeout(3)
            data = b""
            try:
                while True:
                    chunk = connection.recv(256)
                    if not chunk:
                        return
                    data += chunk
                    while b"\xff\xfa\x2c" in data and b"\xff\xf0" in data[data.index(b"\xff\xfa\x2c"):]:
                        start = data.index(b"\xff\xfa\x2c")
                        end = data.index(b"\xff\xf0", start)
                        command = data[start + 3]
                        if command == 1:  # SET-BAUDRATE: answered with 9600 whatever was asked
                            connection.sendall(b"\xff\xfa\x2c\x65" + (9600).to_bytes(4, "big") + b"\xff\xf0")
                        elif 2 <= command <= 4:
                            connection.sendall(b"\xff\xfa\x2c" + bytes([command + 100]) + data[start + 4:end] + b"\xff\xf0")
                        data = data[end + 2:]
            except OSError:
                return

    def close(self):
        self.listener.close()


class Sign:
    """A pty for ser2net to serve, read on its master side as bytes arrive, each chunk timed."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        self.path = os.ttyname(self.slave)
        self.chunks = []
        self.lock = threading.Lock()
        self.running = True
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        while self.running:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if not ready:
                continue
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                return
            with self.lock:
                self.chunks.append((time.monotonic(), chunk))

    def read(self, seconds=0.3):
        """The chunks that arrived so far and within `seconds` more, taken off the line."""
        time.sleep(seconds)
        with self.lock:
            taken, self.chunks = self.chunks, []
        return taken

    def received(self, seconds=0.3):
        return b"".join(chunk for _, chunk in self.read(seconds))

    def close(self):
        self.running = False
        self.reader.join()
        os.close(self.master)
        os.close(self.slave)
