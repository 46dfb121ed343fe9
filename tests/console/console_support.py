"""Helpers of the console tests: ifcsim-console and ifcsim in child
processes with their output collected, the server's protocol spoken
directly, the set files read, plain HTTP requests. CTest passes the paths of
the built programs in the environment."""

import http.client
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest

CONSOLE = os.environ.get("IFCSIM_CONSOLE", "")
IFCSIM = os.environ.get("IFCSIM_BINARY", "")
WAIT_SECONDS = 20  # bound of every wait for a program to start or to end

URL_LINE = re.compile(r"^ifcsim-console: console at (http://[^/]+)/")
SERVER_LINE = re.compile(r"^ifcsim-console: ifcsim on 127\.0\.0\.1:(\d+),")


class Output:
    """Lines a child writes to one stream, collected by a thread."""

    def __init__(self, stream):
        self.lines = []
        self.ended = False
        self.cond = threading.Condition()
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for raw in stream:
            with self.cond:
                self.lines.append(raw.decode(errors="replace").rstrip("\n"))
                self.cond.notify_all()
        with self.cond:
            self.ended = True
            self.cond.notify_all()

    def wait_for(self, pattern, seconds=WAIT_SECONDS):
        """The first match of `pattern` in a line, waiting for it; None when
        the stream ends or the time is up first."""
        deadline = time.monotonic() + seconds
        with self.cond:
            while True:
                for line in self.lines:
                    m = pattern.search(line)
                    if m:
                        return m
                left = deadline - time.monotonic()
                if self.ended or left <= 0:
                    return None
                self.cond.wait(left)

    def wait_end(self, seconds=WAIT_SECONDS):
        with self.cond:
            self.cond.wait_for(lambda: self.ended, seconds)
            return list(self.lines)

    def text(self):
        with self.cond:
            return "\n".join(self.lines)


class Program:
    """A child process with both output streams collected."""

    def __init__(self, argv, cwd):
        self.proc = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.out = Output(self.proc.stdout)
        self.err = Output(self.proc.stderr)

    def stop(self, sig=signal.SIGTERM):
        """Sends `sig` unless it has ended; returns its exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        return self.wait()

    def wait(self):
        """Its exit status, once it has ended by itself."""
        try:
            return self.proc.wait(WAIT_SECONDS)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError(f"{self.proc.args[0]} did not end within {WAIT_SECONDS} s")

    def children(self):
        """Process ids of its direct children."""
        try:
            with open(f"/proc/{self.proc.pid}/task/{self.proc.pid}/children") as f:
                return [int(p) for p in f.read().split()]
        except OSError:
            return []


class Console(Program):
    """ifcsim-console on a free HTTP port, started and waited for."""

    def __init__(self, *args, cwd, program=CONSOLE):
        super().__init__([program, "--http-port", "0", *args], cwd)
        m = self.out.wait_for(URL_LINE)
        if m is None:
            self.stop()
            raise AssertionError("ifcsim-console printed no URL:\n"
                                 f"{self.out.text()}\n{self.err.text()}")
        self.url = m.group(1)
        self.http_port = int(self.url.rsplit(":", 1)[1])
        server = self.out.wait_for(SERVER_LINE, 0)
        self.server_port = int(server.group(1)) if server else None


def start_server(cwd, *args, port=0):
    """ifcsim in `cwd` with `args`, on a free loopback port (another on
    collision); returns the Program and its port."""
    for _ in range(10):
        chosen = port or free_port()
        server = Program([IFCSIM, "--port", str(chosen), "--bind", "127.0.0.1", *args], cwd)
        deadline = time.monotonic() + WAIT_SECONDS
        while server.proc.poll() is None and time.monotonic() < deadline:
            try:
                protocol_get(chosen, "no_such_command")  # a request it answers at once
                return server, chosen
            except ConnectionRefusedError:
                time.sleep(0.02)
        server.stop()
        if port:
            break
    raise AssertionError(f"ifcsim did not start:\n{server.out.text()}\n{server.err.text()}")


def wait_lines(path, n, seconds=WAIT_SECONDS):
    """Waits until the file at `path` holds `n` lines or more."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            with open(path, "rb") as f:
                if f.read().count(b"\n") >= n:
                    return
        except FileNotFoundError:
            pass
        if time.monotonic() > deadline:
            raise AssertionError(f"{path} did not reach {n} lines within {seconds} s")
        time.sleep(0.02)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def closed_port():
    """A loopback port that nothing listens on (none can take it while the
    socket that holds it stays open and does not listen)."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    return s, s.getsockname()[1]


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().split(") ", 1)[1][0] != "Z"
    except OSError:
        return False


def wait_gone(pids, seconds=WAIT_SECONDS):
    """The pids still alive once all have ended or the time is up."""
    deadline = time.monotonic() + seconds
    while True:
        left = [p for p in pids if alive(p)]
        if not left or time.monotonic() > deadline:
            return left
        time.sleep(0.02)


def _recv_exact(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise ConnectionError(f"closed after {len(data)} of {n} bytes")
        data += chunk
    return data


def protocol_get(port, name):
    """The reply of the server on `port` to GET `name`, spoken directly (None
    for a name it does not know)."""
    with socket.create_connection(("127.0.0.1", port), WAIT_SECONDS) as s:
        s.sendall(b"GET" + name.encode().ljust(20))
        head = _recv_exact(s, 13)
        if head[:3] != b"LEN":
            raise ConnectionError(f"no length header: {head!r}")
        length = int(head[3:])
        if length < 0:
            return None
        reply = b""
        while len(reply) < length:
            s.sendall(b"NEXT")
            reply += _recv_exact(s, min(1024, length - len(reply)))
        return reply.decode()


def protocol_put(port, name, text):
    """PUT `name` with `text`; returns once the server closed after "FIN"."""
    payload = name.encode() + b"\0" + text.encode()
    with socket.create_connection(("127.0.0.1", port), WAIT_SECONDS) as s:
        s.sendall(b"PUT" + str(len(payload)).encode().ljust(20))
        for i in range(0, len(payload), 1024):
            if _recv_exact(s, 4) != b"NEXT":
                raise ConnectionError("no NEXT")
            s.sendall(payload[i:i + 1024])
        if _recv_exact(s, 3) != b"FIN":
            raise ConnectionError("no FIN")
        if s.recv(1):
            raise ConnectionError("bytes after FIN")


def pairs(reply):
    """A reply of key:value pieces as a dict of ints."""
    return {k: int(v) for k, v in (p.split(":") for p in reply.split())}


def set_file_record(path, name):
    """Slots 0 to 6 of the record `name` in the table image at `path`."""
    with open(path, "rb") as f:
        image = f.read()
    for at in range(0, len(image) - 79, 80):
        kind, = struct.unpack_from("<i", image, at)
        if kind == 0:
            break
        if image[at + 4:at + 32].split(b"\0")[0].decode() == name:
            return struct.unpack_from("<7i", image, at + 32)
    raise KeyError(f"no record {name} in {path}")


def http_get(base, path):
    """(status, headers, body) of a GET through the console's web server."""
    host, port = base[len("http://"):].rsplit(":", 1)
    conn = http.client.HTTPConnection(host, int(port), timeout=WAIT_SECONDS)
    try:
        conn.request("GET", path)
        r = conn.getresponse()
        return r.status, dict(r.getheaders()), r.read().decode(errors="replace")
    finally:
        conn.close()


class TempDirCase(unittest.TestCase):
    """A fresh temporary directory per test (self.dir), removed afterwards."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="ifcsim-console-test-")
        self.addCleanup(shutil.rmtree, self.dir, True)
