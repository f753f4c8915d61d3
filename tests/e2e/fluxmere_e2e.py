"""Helpers for the end-to-end tests: the real program, run headless, and a model's TCP client.

Every run gets a data folder of its own (--data-dir) with its own Setup.txt and a copy of
the database, and listens on a port the system chooses (--port 0), read back from the line
the program prints when it is ready; so runs never share a file or a port and the tests may
run side by side. Every wait is bounded, so a program that hangs fails a test instead of
blocking the run.
"""

import math
import os
import re
import resource
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest
from decimal import ROUND_HALF_UP, Decimal

PORT = 9548
HOST = "127.0.0.1"
READ_TIMEOUT = 5.0
READY_TIMEOUT = 20.0
EXIT_TIMEOUT = 5.0
READY_TEXT = "Waiting for a model on port 9548."
READY_LINE = re.compile(r"Waiting for a model on port (\d+)\.")

BAD_LOGIN_PREFIX = (
    "Bad login. Format: [ENTRY-ID] <id_name> [VERSION] [BATCH/NONBATCH] Received:"
)
BAD_DECISION_PREFIX = (
    "Bad decision format. Format: [decision] [UI] <ui_value> [UO] <uo_value> "
    "EI <ei_value>EO <eo_value>Received:"
)

DATA_COLUMNS = [
    "Subject", "Version", "Trial", "Date", "StartTime", "EndTime", "CurrentBonus",
    "TotalBonus", "UserInflow", "UserOutflow", "EnvInflow", "EnvOutflow", "Amount",
    "BackOrder", "TotalBackOrder", "ForwardDischarge", "TotalForwardDischarge",
    "GoalAmount", "DelayUI", "DelayUO", "GoalUpperBound", "GoalLowerBound",
]

# A small scenario: goal 4, initial amount 2, decisions act in their own period.
DEFAULT_SETUP = {
    "MaxTrial": 5,
    "InitialAmountInTank": 2,
    "GoalLinePoisition": 4,
    "InitialBackOrder": 0,
    "InitialForwardDischarge": 0,
    "MaxNumberOfAScenarioType": 100,
    "inFlowDelayValue": 1,
    "inFlowDelayLength": 100,
    "outFlowDelayValue": 1,
    "outFlowDelayLength": 100,
}


class ProtocolError(AssertionError):
    """The program sent something other than what the exchange calls for."""


def _repo_root():
    return os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def find_executable(exe=None):
    """`exe`, or else $FLUXMERE_EXE or build/fluxmere, as an absolute path: the program runs
    in a folder of its own."""
    exe = exe or os.environ.get("FLUXMERE_EXE") or os.path.join(_repo_root(), "build",
                                                                 "fluxmere")
    found = shutil.which(exe) if os.sep not in exe else exe
    if not found or not os.path.isfile(found):
        raise FileNotFoundError(
            "fluxmere executable not found at %s; build it or set FLUXMERE_EXE" % exe)
    return os.path.abspath(found)


def find_data(exe):
    data = os.environ.get("FLUXMERE_DATA") or os.path.join(os.path.dirname(exe), "data")
    return data


def setup_text(values):
    """A setup file in the lab's form: one "Key = Value" line per key."""
    lines = ["' Written by the end-to-end tests."]
    lines += ["%s = %s" % (key, value) for key, value in values.items()]
    return "\r\n".join(lines) + "\r\n"


def state_amount(value):
    """'00.00': at least two digits before the point, two after, halves away from zero."""
    return _fixed(value, 2)


def figure(value):
    """'00.000', the task window's figure format."""
    return _fixed(value, 3)


def _fixed(value, decimals):
    quantum = Decimal(1).scaleb(-decimals)
    rounded = abs(Decimal(value)).quantize(quantum, rounding=ROUND_HALF_UP)
    whole, _, fraction = format(rounded, "f").partition(".")
    text = whole.rjust(2, "0") + "." + fraction
    return "-" + text if value < 0 and rounded != 0 else text


def state_message(time_, goal, amount, ei, eo, ui, uo):
    return "STATE TIME %d GOAL %s AMOUNT %s EI %s EO %s UI %s UO %s" % (
        time_, state_amount(goal), state_amount(amount), figure(ei), figure(eo), figure(ui),
        figure(uo))


def initial_state_message(goal, amount):
    return "STATE TIME 0 GOAL %s AMOUNT %s EI -1 EO -1 UI -1 UO -1" % (
        state_amount(goal), state_amount(amount))


def parse_state(line):
    """The 15 tokens of a state message as a dict; ProtocolError for anything else."""
    tokens = line.split(" ")
    keys = ["STATE", "TIME", "GOAL", "AMOUNT", "EI", "EO", "UI", "UO"]
    if len(tokens) != 15 or tokens[0] != "STATE" or tokens[1::2] != keys[1:]:
        raise ProtocolError("not a state message: %r" % line)
    return {
        "time": int(tokens[2]),
        "goal": float(tokens[4]),
        "amount": float(tokens[6]),
        "amount_text": tokens[6],
        "ei": float(tokens[8]),
        "eo": float(tokens[10]),
        "ui": float(tokens[12]),
        "uo": float(tokens[14]),
    }


def port_is_free(port):
    probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        probe.bind((HOST, port))
        return True
    except OSError:
        return False
    finally:
        probe.close()


class ModelClient:
    """A model's side of the connection: raw sends, and reads of CR LF-ended lines."""

    # The port has no default: a client must talk to the program its test started.
    def __init__(self, *, port, host=HOST, timeout=READ_TIMEOUT, family=socket.AF_INET):
        self.timeout = timeout
        self.sock = socket.socket(family, socket.SOCK_STREAM)
        self.sock.settimeout(timeout)
        self.sock.connect((host, port))
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = bytearray()
        self.closed_by_peer = False

    @classmethod
    def connect_retrying(cls, timeout=READ_TIMEOUT, **kwargs):
        """Connects, trying again while the program has not resumed listening."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                return cls(**kwargs)
            except ConnectionRefusedError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)

    def send(self, data):
        if isinstance(data, str):
            data = data.encode("latin-1")
        self.sock.sendall(data)

    def send_line(self, text, end="\n"):
        self.send(text + end)

    def _fill(self, deadline):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise TimeoutError("no complete line within the time limit; received so far: %r"
                               % bytes(self.buffer))
        self.sock.settimeout(remaining)
        try:
            chunk = self.sock.recv(65536)
        except socket.timeout:
            raise TimeoutError("no complete line within the time limit; received so far: %r"
                               % bytes(self.buffer)) from None
        if not chunk:
            self.closed_by_peer = True
            raise ConnectionError("the program closed the connection; received so far: %r"
                                  % bytes(self.buffer))
        self.buffer += chunk

    def read_raw_line(self, timeout=None):
        """The next line as bytes, line feed included."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        while b"\n" not in self.buffer:
            self._fill(deadline)
        end = self.buffer.index(b"\n") + 1
        line = bytes(self.buffer[:end])
        del self.buffer[:end]
        return line

    def read_line(self, timeout=None):
        """The next line without its CR LF; ProtocolError if it does not end in CR LF."""
        raw = self.read_raw_line(timeout)
        if not raw.endswith(b"\r\n") or b"\r" in raw[:-2]:
            raise ProtocolError("a line that does not end in a single CR LF: %r" % raw)
        return raw[:-2].decode("latin-1")

    def exchange(self, text, timeout=None):
        self.send_line(text)
        return self.read_line(timeout)

    def login(self, name="alpha", mode="BATCH", timeout=None):
        """Logs in and returns the initial state message."""
        message = "ENTRY-ID %s VERSION %s" % (name, mode) if mode else "ENTRY-ID %s" % name
        return self.exchange(message, timeout)

    def silent_for(self, seconds):
        """True when nothing at all arrives (and the peer does not close) for `seconds`."""
        if self.buffer:
            return False
        self.sock.settimeout(seconds)
        try:
            chunk = self.sock.recv(65536)
        except socket.timeout:
            return True
        if not chunk:
            self.closed_by_peer = True
            return False
        self.buffer += chunk
        return False

    def wait_closed(self, timeout=READ_TIMEOUT):
        """The bytes that arrived before the program closed the connection; TimeoutError if
        it stays open."""
        deadline = time.monotonic() + timeout
        received = bytearray(self.buffer)
        self.buffer.clear()
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError("the connection stayed open; received: %r" % bytes(received))
            self.sock.settimeout(remaining)
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                continue
            except (ConnectionResetError, BrokenPipeError):
                chunk = b""
            if not chunk:
                self.closed_by_peer = True
                return bytes(received)
            received += chunk

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class ProgramUnderTest:
    """The real executable, headless, on a data folder of its own, listening for a model.

    with ProgramUnderTest({"MaxTrial": 3}) as program:
        with program.connect() as model: ...

    port: 0 lets the system choose (the default), None leaves --port out so the program
    takes its default, a number asks for that port. args: further arguments, such as
    ["--batch-pause-ms", "0"]. folder: a folder whose data/ is ready (made with --init, say)
    to run on as it is, and to keep; without it a temporary folder is laid out and removed.
    """

    def __init__(self, setup=None, exe=None, data=None, keep=False, port=0, args=(),
                 folder=None, file_size_limit=None):
        self.setup = dict(DEFAULT_SETUP)
        self.setup.update(setup or {})
        self.exe = find_executable(exe)
        self.source_data = data or find_data(self.exe)
        self.requested_port = port
        self.args = list(args)
        self.own_folder = folder is None
        self.keep = keep or not self.own_folder or bool(os.environ.get("FLUXMERE_E2E_KEEP"))
        self.folder = folder and os.path.abspath(folder)  # the program runs in it
        self.file_size_limit = file_size_limit
        self.port = None
        self.process = None
        self.stdout_lines = []
        self._ready = threading.Event()
        self._reader = None
        self._stderr_file = None

    # ---- files ---------------------------------------------------------------------------

    @property
    def data_dir(self):
        return os.path.join(self.folder, "data")

    @property
    def data_file(self):
        return os.path.join(self.data_dir, "Data.txt")

    def data_bytes(self):
        with open(self.data_file, "rb") as f:
            return f.read()

    def data_rows(self):
        """Header and rows of Data.txt, split on CR LF and TAB."""
        return split_rows(self.data_bytes())

    def wait_rows(self, periods, timeout=2.0):
        """Header and rows once Data.txt holds `periods` period lines, or what it holds when
        the time is up."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                rows = self.data_rows()
            except FileNotFoundError:
                rows = []
            if len(rows) - 1 >= periods or time.monotonic() > deadline:
                return rows
            time.sleep(0.01)

    def stderr_text(self):
        if not self.folder:
            return ""
        try:
            with open(os.path.join(self.folder, "stderr.txt"), "rb") as f:
                return f.read().decode("latin-1", "replace")
        except OSError:
            return ""

    # ---- process -------------------------------------------------------------------------

    def __enter__(self):
        fixed = PORT if self.requested_port is None else self.requested_port
        if fixed and not port_is_free(fixed):
            raise RuntimeError("port %d is in use by another process; the program under test "
                               "could not listen on it" % fixed)
        if self.own_folder:
            self.folder = tempfile.mkdtemp(prefix="fluxmere-e2e-")
        try:
            if self.own_folder:
                self._lay_out()
            self._start()
        except BaseException:
            self._stop()
            raise
        return self

    def __exit__(self, *exc):
        self._stop()

    def _lay_out(self):
        os.makedirs(self.data_dir)
        with open(os.path.join(self.data_dir, "Setup.txt"), "w", newline="") as f:
            f.write(setup_text(self.setup))
        database = os.path.join(self.source_data, "Krugel.db")
        if os.path.isfile(database):
            shutil.copy2(database, self.data_dir)

    def command(self):
        port = [] if self.requested_port is None else ["--port", str(self.requested_port)]
        return ([self.exe] + port + ["--data-dir", self.data_dir, "-platform", "offscreen"]
                + self.args)

    def _start(self):
        self._stderr_file = open(os.path.join(self.folder, "stderr.txt"), "wb")
        self.process = subprocess.Popen(
            self.command(), cwd=self.folder, env=headless_environment(),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=self._stderr_file,
            start_new_session=True, preexec_fn=self._limit_file_size)
        self._reader = threading.Thread(target=self._read_stdout, daemon=True)
        self._reader.start()
        if not self._ready.wait(READY_TIMEOUT):
            raise RuntimeError("the program did not report the port it listens on within "
                               "%.0f s; exit code %r; stdout %r; stderr %r" % (
                                   READY_TIMEOUT, self.process.poll(), self.stdout_lines,
                                   self.stderr_text()))
        if self.port is None:
            raise RuntimeError("the program ended at start with code %r; stderr %r"
                               % (self.process.wait(EXIT_TIMEOUT), self.stderr_text()))

    def _limit_file_size(self):
        """With file_size_limit, no file the program writes may grow past it, as on a full
        disk: a write is cut short and fails (SIGXFSZ ignored) instead of ending the program."""
        if self.file_size_limit is not None:
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE,
                               (self.file_size_limit, self.file_size_limit))

    def _read_stdout(self):
        # Other lines (the data folder's, say) may come first; the ready line names the port.
        for raw in self.process.stdout:
            line = raw.decode("latin-1").rstrip("\r\n")
            self.stdout_lines.append(line)
            ready = READY_LINE.fullmatch(line)
            if ready and self.port is None:
                self.port = int(ready.group(1))
                self._ready.set()
        self._ready.set()  # ended: let the waiter look at the exit code

    def wait_exit(self, timeout=EXIT_TIMEOUT):
        """The exit code; TimeoutError while the program is still running."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise TimeoutError("the program is still running after %.0f s" % timeout) from None

    def running(self):
        return self.process is not None and self.process.poll() is None

    def rss_kib(self):
        """The program's resident memory in KiB, from /proc."""
        with open("/proc/%d/status" % self.process.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise RuntimeError("no VmRSS for the program")

    def write_setup(self, changes):
        """Rewrites data/Setup.txt with `changes` applied, as an experimenter edits it."""
        values = dict(self.setup)
        values.update(changes)
        with open(os.path.join(self.data_dir, "Setup.txt"), "w", newline="") as f:
            f.write(setup_text(values))

    def _stop(self):
        if self.process is not None:
            if self.process.poll() is None:
                self.process.kill()
            try:
                self.process.wait(EXIT_TIMEOUT)
            except subprocess.TimeoutExpired:
                pass
            if self.process.stdout:
                self.process.stdout.close()
        if self._reader is not None:
            self._reader.join(EXIT_TIMEOUT)
        if self._stderr_file is not None:
            self._stderr_file.close()
        if self.folder and not self.keep:
            shutil.rmtree(self.folder, ignore_errors=True)

    def connect(self, retry=True, **kwargs):
        kwargs.setdefault("port", self.port)
        if retry:
            return ModelClient.connect_retrying(**kwargs)
        return ModelClient(**kwargs)


class ProgramTestCase(unittest.TestCase):
    """A test that starts the program (on a data folder and port of its own) and connects to
    it; both are closed when the test ends."""

    def start(self, *, port=0, args=(), folder=None, file_size_limit=None, **setup):
        program = ProgramUnderTest(setup, port=port, args=args, folder=folder,
                                   file_size_limit=file_size_limit)
        program.__enter__()
        self.addCleanup(program.__exit__, None, None, None)
        return program

    def connect(self, program, **kwargs):
        client = program.connect(**kwargs)
        self.addCleanup(client.close)
        return client


def split_rows(raw):
    """Header and rows of a data file's bytes, split on CR LF and TAB."""
    lines = raw.decode("latin-1").split("\r\n")
    if lines and lines[-1] == "":
        lines.pop()
    return [line.split("\t") for line in lines]


def headless_environment(**changes):
    """This process's environment for a program without a screen, with `changes` applied
    (None removes a variable)."""
    env = dict(os.environ)
    env["QT_QPA_PLATFORM"] = "offscreen"
    for key, value in changes.items():
        if value is None:
            env.pop(key, None)
        else:
            env[key] = value
    return env


def run_program(args, timeout=10.0, exe=None, env=None, cwd=None):
    """Runs the executable with `args` to its end. Returns exit code, stdout and stderr."""
    done = subprocess.run([find_executable(exe)] + list(args), cwd=cwd,
                          env=env or headless_environment(), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=timeout)
    return done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1")


def run_to_exit(setup_file_text, timeout=10.0, exe=None, port=0):
    """Starts the program on a data folder of its own with `setup_file_text` as Setup.txt
    (None: no setup file) and waits for it to end. Returns exit code, stdout and stderr."""
    folder = tempfile.mkdtemp(prefix="fluxmere-e2e-")
    try:
        data = os.path.join(folder, "data")
        os.makedirs(data)
        if setup_file_text is not None:
            with open(os.path.join(data, "Setup.txt"), "w", newline="") as f:
                f.write(setup_file_text)
        return run_program(["--port", str(port), "--data-dir", data], timeout, exe, cwd=folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


class TankReference:
    """The task's rules, worked out independently of the program, to predict every state
    message and data-file line of a run."""

    def __init__(self, setup):
        self.max_trial = int(setup["MaxTrial"])
        self.goal = float(setup["GoalLinePoisition"])
        self.amount = float(setup["InitialAmountInTank"])
        self.in_delay = int(setup["inFlowDelayValue"])
        self.out_delay = int(setup["outFlowDelayValue"])
        self.in_delay_end = int(setup["inFlowDelayLength"])
        self.out_delay_end = int(setup["outFlowDelayLength"])
        size = self.max_trial + 2
        self.user_in = [0.0] * size
        self.user_out = [0.0] * size
        self.back_order = self._spread(float(setup["InitialBackOrder"]), self.in_delay, size)
        self.forward = self._spread(float(setup["InitialForwardDischarge"]), self.out_delay, size)
        self.total_back = float(setup["InitialBackOrder"])
        self.total_forward = float(setup["InitialForwardDischarge"])
        self.env_in = {}
        self.env_out = {}
        self.t = 0
        self.total_bonus = 5.0
        self.current_bonus = 0.0

    @staticmethod
    def _spread(initial, delay, size):
        table = [0.0] * size
        if delay < 2:
            table[1] = initial
        else:
            for period in range(1, min(delay - 1, size - 1) + 1):
                table[period] = initial / (delay - 1)
        return table

    @staticmethod
    def _at(table, index):
        return table[index] if 0 <= index < len(table) else 0.0

    @staticmethod
    def round3(x):
        return math.floor(x * 1000 + 0.5) / 1000

    def _arrival(self, delay, decisions, initial):
        source = self.t - (delay - 1)
        if source < 1:
            return True, self._at(initial, self.t), 0.0
        quantity = self._at(decisions, source)
        return quantity > 0, quantity, quantity

    def play(self, ui=0.0, uo=0.0, ei=None, eo=None):
        """Plays one period; returns the expected state message and data-file values."""
        if ei is not None:
            self.env_in[self.t + 1] = ei
        if eo is not None:
            self.env_out[self.t + 1] = eo
        self.t += 1
        t = self.t
        self.user_in[t] = ui
        self.user_out[t] = uo
        env_in = self.env_in.get(t, 0.0)
        env_out = self.env_out.get(t, 0.0)
        if env_in >= 0 or env_out >= 0:
            self.amount += env_in - env_out
        if t == self.in_delay_end and t != self.max_trial:
            self.in_delay = 0
        if t == self.out_delay_end and t != self.max_trial:
            self.out_delay = 0
        in_acts, in_q, in_shown = self._arrival(self.in_delay, self.user_in, self.back_order)
        out_acts, out_q, out_shown = self._arrival(self.out_delay, self.user_out, self.forward)
        if in_acts:
            self.total_back += -in_q + ui
            self.amount += in_q
        if out_acts:
            self.total_forward += -out_q + uo
            self.amount -= out_q
        lower = self.round3(self.goal - 0.1)
        upper = self.round3(self.goal + 0.1)
        a = self.round3(self.amount)
        self.current_bonus = 0.05 if lower <= a <= upper else 0.0
        self.total_bonus += self.current_bonus
        return {
            "message": state_message(t, self.goal, self.amount, env_in, env_out, in_shown,
                                     out_shown),
            "Trial": t,
            "Amount": self.amount,
            "UserInflow": ui,
            "UserOutflow": uo,
            "EnvInflow": env_in,
            "EnvOutflow": env_out,
            "BackOrder": self._at(self.back_order, t),
            "TotalBackOrder": self.total_back,
            "ForwardDischarge": self._at(self.forward, t),
            "TotalForwardDischarge": self.total_forward,
            "CurrentBonus": self.current_bonus,
            "TotalBonus": self.total_bonus,
            "GoalAmount": self.goal,
            "DelayUI": self.in_delay,
            "DelayUO": self.out_delay,
        }


class XvfbDisplay:
    """An Xvfb display of `size` (width, height); Xvfb picks a free number itself and writes it
    to the pipe once it is ready, which is read to its line end, as Xvfb fails when it is
    closed too early. `name` is the DISPLAY to give a program."""

    def __init__(self, size, timeout=60.0):
        self.timeout = timeout
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % size,
             "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            ready = select.select([pipe], [], [], timeout)[0]
            number = pipe.readline().decode().strip() if ready else ""
        if not number:
            self.close()
            raise AssertionError("Xvfb did not start a display within %.0f s" % timeout)
        self.name = ":" + number

    def close(self):
        self.process.terminate()
        self.process.wait(self.timeout)
