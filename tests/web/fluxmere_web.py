"""Helpers for the browser tests: the real web server on a study folder of its own, on a port
the system chooses, and a participant's page played over a WebSocket without a browser."""

import json
import os
import re
import shutil
import signal
import sqlite3
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "e2e"))

import websocket  # noqa: E402  (python3-websocket)

from fluxmere_e2e import DEFAULT_SETUP, find_data, find_executable, setup_text  # noqa: E402

READY_LINE = re.compile(r"Serving the study of .* at http://[^:]+:(\d+)/")


def web_executable():
    exe = os.environ.get("FLUXMERE_WEB_EXE") or os.path.join(
        os.path.dirname(find_executable()), "fluxmere-web")
    if not os.path.isfile(exe):
        raise FileNotFoundError("fluxmere-web not found at %s; set FLUXMERE_WEB_EXE" % exe)
    return exe


def png(width, height, rgb):
    """A small one-colour PNG."""
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    rows = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


class WebServer:
    """fluxmere-web on a data folder laid out from `setup` (a dict of setup keys), `files`
    (relative path -> text or bytes) and `conditions` (name -> setup changes)."""

    def __init__(self, setup=None, files=None, conditions=None, args=()):
        self.setup = dict(DEFAULT_SETUP)
        self.setup.update(setup or {})
        self.files = files or {}
        self.conditions = conditions or {}
        self.args = list(args)
        self.folder = tempfile.mkdtemp(prefix="fluxmere-web-")
        self.data_dir = os.path.join(self.folder, "data")
        self.process = None
        self.port = None
        self.lines = []

    def __enter__(self):
        try:
            self._lay_out()
            self.start()
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        self.kill()
        if not os.environ.get("FLUXMERE_E2E_KEEP"):
            shutil.rmtree(self.folder, ignore_errors=True)

    def _lay_out(self):
        os.makedirs(self.data_dir)
        self.write(os.path.join(self.data_dir, "Setup.txt"), setup_text(self.setup))
        for name, changes in self.conditions.items():
            values = dict(self.setup)
            values.update(changes)
            self.write(os.path.join(self.data_dir, "conditions", name + ".txt"), setup_text(values))
        for name, contents in self.files.items():
            self.write(os.path.join(self.data_dir, name), contents)
        shutil.copy2(os.path.join(find_data(find_executable()), "Krugel.db"), self.data_dir)

    @staticmethod
    def write(path, contents):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(contents if isinstance(contents, bytes) else contents.encode("utf-8"))

    def start(self, timeout=20):
        self.stderr = open(os.path.join(self.folder, "stderr.txt"), "ab")
        self.process = subprocess.Popen(
            [web_executable(), "--data-dir", self.data_dir, "--port", "0"] + self.args,
            stdout=subprocess.PIPE, stderr=self.stderr, stdin=subprocess.DEVNULL,
            start_new_session=True)
        ready = threading.Event()

        def read():
            for raw in self.process.stdout:
                line = raw.decode("utf-8", "replace").rstrip()
                self.lines.append(line)
                match = READY_LINE.search(line)
                if match:
                    self.port = int(match.group(1))
                    ready.set()
            ready.set()
        threading.Thread(target=read, daemon=True).start()
        if not ready.wait(timeout) or self.port is None:
            raise RuntimeError("fluxmere-web did not start: %s" % self.stderr_text())

    def stderr_text(self):
        with open(os.path.join(self.folder, "stderr.txt"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def url(self, path="/"):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def stop(self, sig=signal.SIGTERM, timeout=10):
        """Sends `sig` and returns the exit code."""
        self.process.send_signal(sig)
        code = self.process.wait(timeout)
        self.process.stdout.close()
        self.stderr.close()
        self.port = None
        return code

    def kill(self):
        if self.process is not None:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait(10)
            self.process.stdout.close()
            self.stderr.close()

    def running(self):
        return self.process.poll() is None

    # ---- the records ---------------------------------------------------------------------

    def table(self, path):
        """Header and rows of a TAB-separated CR LF record file of the data folder."""
        with open(os.path.join(self.data_dir, path), "rb") as f:
            lines = f.read().decode("latin-1").split("\r\n")
        rows = [line.split("\t") for line in lines if line]
        return [dict(zip(rows[0], row)) for row in rows[1:]]

    def query(self, sql, *args):
        db = sqlite3.connect("file:%s?mode=ro" % os.path.join(self.data_dir, "Krugel.db"),
                             uri=True, timeout=5)
        try:
            return db.execute(sql, args).fetchall()
        finally:
            db.close()

    def verify(self):
        """fluxmere --verify on the folder: (exit code, output)."""
        done = subprocess.run([find_executable(), "--verify", "--data-dir", self.data_dir],
                              capture_output=True, text=True, timeout=120,
                              env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        return done.returncode, done.stdout + done.stderr


class Participant:
    """One person's page over a WebSocket: says hello, then answers each step as told."""

    def __init__(self, server, query=None, token=None, timeout=20):
        self.ws = websocket.create_connection("ws://127.0.0.1:%d/" % server.port,
                                              timeout=timeout)
        hello = {"token": token} if token else {"query": query or {}}
        self.send({"hello": hello})
        self.token = token
        self.step = None
        self.view = None

    def send(self, message):
        self.ws.send(json.dumps(message))

    def receive(self):
        message = json.loads(self.ws.recv())
        self.token = message.get("token", self.token)
        if "view" in message:
            self.view = message["view"]
        if "step" in message:
            self.step = message
            self.view = message.get("view", self.view)
        return message

    def next_step(self):
        """The next step the server sends (notices and views on the way are kept)."""
        while True:
            if "step" in self.receive():
                return self.step

    def act(self, action, **fields):
        fields.update({"do": action, "at": self.step["at"]})
        self.send(fields)

    def wait_input(self, revision=-1):
        """Waits until the task takes a decision after the entry boxes' `revision`; returns
        the next step instead when the run is over or another step comes."""
        while True:
            view = self.view
            if view and view["entryRevision"] > revision and view["submitEnabled"]:
                if view["period"] != view["periods"] or view["entryRevision"] == 0:
                    return None
            if "step" in self.receive() and self.step["step"] != "task":
                return self.step

    def play(self, decisions, answers=None):
        """A whole sitting, or the rest of one in its task: the form, any questions, each
        period's decision, then the end step, which it returns."""
        decisions = list(decisions)
        step = self.step if self.step and self.step["step"] == "task" else self.next_step()
        while step["step"] != "end":
            kind = step["step"]
            if kind == "consent":
                self.act("consent", agreed=True)
            elif kind == "form":
                self.act("form", gender=1, age="30", major="Biology")
            elif kind == "questions":
                given = answers or {}
                self.act("answers", answers={q["id"]: given.get(q["id"], "3")
                                             for q in step["questions"]})
            elif kind in ("pages", "info"):
                self.act("next")
            elif kind == "task":
                ended, revision = None, -1
                while ended is None:
                    ended = self.wait_input(revision)
                    if ended is None:
                        inflow, outflow = decisions.pop(0) if decisions else ("0", "0")
                        revision = self.view["entryRevision"]
                        self.act("submit", inflow=inflow, outflow=outflow)
                step = ended
                continue
            else:
                raise AssertionError("unexpected step %r" % step)
            step = self.next_step()
        return step

    def close(self):
        self.ws.close()
