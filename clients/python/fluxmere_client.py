"""A client for Fluxmere's model connection, on the Python 3 standard library alone.

    from fluxmere_client import Client
    with Client(port=9548) as client:
        state = client.login("alpha")
        while state is not None:
            state = client.decide(ui=max(0.0, state.goal - state.amount))
        print(client.result()["payment"])

`TankEnv` wraps the same exchange in the reset/step interface that reinforcement-learning
and cognitive-modelling code is written against, without depending on any such library:

    env = TankEnv(port=9548)
    observation, info = env.reset()
    terminated = False
    while not terminated:
        gap = observation["goal"] - observation["amount"]
        observation, reward, terminated, truncated, info = env.step((max(0, gap), 0))
    env.close()

Every reply is awaited with a timeout; what the program answers outside the exchange, or a
connection it closes, raises FluxmereError (a socket's own failures raise OSError).
"""

import collections
import math
import socket
import struct
import sys

__all__ = ["Client", "FluxmereError", "NotLoggedIn", "State", "TankEnv"]

PORT = 9548
HOST = "127.0.0.1"
MAX_SEED = 2**53 - 1  # the largest seed a run plays

# The state message's figures: the period, the goal and amount (2 decimals), the
# environment's flows of the period and the model's orders that acted in it (3 decimals;
# -1 each in the state of a login, before any period).
State = collections.namedtuple("State", "time goal amount ei eo ui uo")

_STATE_KEYS = ["TIME", "GOAL", "AMOUNT", "EI", "EO", "UI", "UO"]
_SCENARIO_KEYS = {"MAXTRIAL": "max_trial", "GOAL": "goal", "TOLBELOW": "tol_below",
                  "TOLABOVE": "tol_above", "DELAYUI": "delay_ui", "DELAYUO": "delay_uo",
                  "BONUS": "bonus", "BASE": "base"}
_RESULT_ORDER = ["TIME", "INBAND", "BONUS", "PAYMENT", "LAST"]
_WHOLE = {"max_trial", "delay_ui", "delay_uo"}


class FluxmereError(Exception):
    """The program answered what the exchange does not allow, or went away."""


class NotLoggedIn(FluxmereError):
    """A request that only a logged-in model may make: the program would not answer it."""


def _number(value):
    """A value as the program reads it: whole numbers without a point, others in the
    shortest text that reads back exactly."""
    if value.__class__ is int:
        return "%d" % value
    value = float(value)
    if not math.isfinite(value):
        raise ValueError("a decision's values must be finite numbers, not %r" % value)
    if value.is_integer() and abs(value) < 1e15:
        return "%d" % value
    return repr(value)


def _kernel_timeouts(sock, timeout):
    """Bounds every wait by the kernel's own socket timeouts where it has them, so that no
    send or receive needs a poll of its own first (a pause-free run exchanges thousands of
    lines a second); elsewhere Python's timeout stays."""
    if timeout is None or not hasattr(socket, "SO_RCVTIMEO") or sys.platform == "win32":
        return
    seconds = int(timeout)
    value = struct.pack("ll", seconds, int((timeout - seconds) * 1e6))
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVTIMEO, value)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDTIMEO, value)
    except OSError:
        return
    sock.settimeout(None)


def _fields(line, head, names):
    """The pairs of "HEAD KEY v KEY v ..." as a dict of the given names, or None when the
    line is not of that form."""
    tokens = line.split(" ")
    if tokens[0] != head or tokens[1::2] != list(names) or len(tokens) != 2 * len(names) + 1:
        return None
    try:
        return {names[key]: int(text) if names[key] in _WHOLE else float(text)
                for key, text in zip(tokens[1::2], tokens[2::2])}
    except ValueError:
        return None


def _state(line):
    tokens = line.split(" ")
    if len(tokens) != 15 or tokens[0] != "STATE" or tokens[1::2] != _STATE_KEYS:
        raise FluxmereError("expected a state message, got: %s" % line)
    try:
        return State(int(tokens[2]), float(tokens[4]), float(tokens[6]), float(tokens[8]),
                     float(tokens[10]), float(tokens[12]), float(tokens[14]))
    except ValueError:
        raise FluxmereError("a state message with a value that is not a number: %s"
                            % line) from None


class Client:
    """One model's connection to the program. Requests are sent one at a time and each waits
    for its answer (`timeout` seconds at most)."""

    def __init__(self, port=PORT, host=HOST, timeout=10.0):
        self._sock = socket.create_connection((host, port), timeout=timeout)
        self._sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        _kernel_timeouts(self._sock, timeout)
        self._buffer = b""
        self.logged_in = False

    # ---- the exchange --------------------------------------------------------------------

    def _send(self, *messages):
        self._sock.sendall(b"".join(message.encode("latin-1") + b"\n"
                                    for message in messages))

    def _line(self):
        end = self._buffer.find(b"\n")
        while end < 0:
            try:
                chunk = self._sock.recv(65536)
            except (BlockingIOError, socket.timeout):
                raise FluxmereError("no answer from the program in time") from None
            if not chunk:
                raise FluxmereError("the program closed the connection")
            self._buffer += chunk
            end = self._buffer.find(b"\n")
        line = self._buffer[:end]
        self._buffer = self._buffer[end + 1:]
        return line.rstrip(b"\r").decode("latin-1")

    def _require_login(self, what):
        if not self.logged_in:
            raise NotLoggedIn("%s needs a logged-in model: log in first" % what)

    # ---- the verbs -----------------------------------------------------------------------

    def login(self, name, mode="BATCH", seed=None):
        """Logs in as `name` and returns the initial state (period 0). mode: "BATCH" (hidden,
        without the person's pauses), "NONBATCH" (shown, 2 s pauses) or None (the mode of the
        last login). `seed` (1 to 2**53 - 1, with a mode) seeds the run's environment noise
        in place of the setup's EnvSeed or a fresh seed."""
        if not name or any(c.isspace() or ord(c) < 33 for c in name):
            raise ValueError("a model's name is one word without blanks: %r" % name)
        if seed is not None and not (mode and isinstance(seed, int) and 1 <= seed <= MAX_SEED):
            raise ValueError("a seed is a whole number from 1 to 2**53 - 1, given with a mode")
        message = "ENTRY-ID %s VERSION %s" % (name, mode) if mode else "ENTRY-ID %s" % name
        self._send(message + (" SEED %d" % seed if seed is not None else ""))
        reply = self._line()
        if reply.startswith("Bad login"):
            raise FluxmereError("the login was refused: %s" % reply)
        state = _state(reply)
        self.logged_in = True
        return state

    def decide(self, ui=0, uo=0, ei=None, eo=None):
        """Plays one period with the orders `ui` and `uo` (and, when given, the environment's
        flows of this period); the state after it, or None when the run is over (the
        program's END_PROGRAM: nothing was played)."""
        self._require_login("decide()")
        self._send(self._decision(ui, uo, ei, eo))
        return self._decision_reply()

    def scenario(self):
        """The run's settings: max_trial, goal, tol_below, tol_above, delay_ui, delay_uo (the
        delays in force now), bonus (per period in the band) and base (payment)."""
        self._require_login("scenario()")
        self._send("SCENARIO")
        return self._reply("SCENARIO", _SCENARIO_KEYS)

    def result(self):
        """How the run stands: time (periods played), in_band, bonus (earned so far),
        payment (base plus bonus) and last (True once the last period has been played)."""
        self._require_login("result()")
        self._send("RESULT")
        return self._result_reply()

    def reset(self):
        """Ends the run; the model is logged out and logs in again for the next one."""
        self._send("SIMULATION RESET")
        reply = self._line()
        if reply != "SIMULATION_RESETED":
            raise FluxmereError("expected SIMULATION_RESETED, got: %s" % reply)
        self.logged_in = False

    def quit(self):
        """Ends the program (it answers nothing) and closes the connection."""
        try:
            self._send("QUIT")
        finally:
            self.close()

    def close(self):
        """Closes the connection; the program logs the model out and serves the next."""
        self.logged_in = False
        self._sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # ---- a decision and its result in one round trip -------------------------------------

    def decide_with_result(self, ui=0, uo=0, ei=None, eo=None):
        """decide() and result() in one round trip: both are sent at once and the program
        answers them in order. Returns the state (None at the run's end) and the result."""
        self._require_login("decide_with_result()")
        self._sock.sendall((self._decision(ui, uo, ei, eo) + "\nRESULT\n").encode("latin-1"))
        try:
            state = self._decision_reply()
        finally:
            result = self._result_reply()  # answered also when the decision was refused
        return state, result

    @staticmethod
    def _decision(ui, uo, ei, eo):
        message = "DECISION UI %s UO %s" % (_number(ui), _number(uo))
        if ei is not None:
            message += " EI %s" % _number(ei)
        if eo is not None:
            message += " EO %s" % _number(eo)
        return message

    def _decision_reply(self):
        reply = self._line()
        if reply == "END_PROGRAM":
            return None
        if reply.startswith("Bad decision"):
            raise FluxmereError("a decision was refused: %s" % reply)
        return _state(reply)

    def _result_reply(self):
        reply = self._line()
        tokens = reply.split(" ")
        if len(tokens) != 11 or tokens[0] != "RESULT" or tokens[1::2] != _RESULT_ORDER:
            raise FluxmereError("expected RESULT ..., got: %s" % reply)
        try:
            return {"time": int(tokens[2]), "in_band": int(tokens[4]),
                    "bonus": float(tokens[6]), "payment": float(tokens[8]),
                    "last": tokens[10] == "1"}
        except ValueError:
            raise FluxmereError("a RESULT with a value that is not a number: %s"
                                % reply) from None

    def _reply(self, head, names):
        reply = self._line()
        values = _fields(reply, head, names)
        if values is None:
            raise FluxmereError("expected %s ..., got: %s" % (head, reply))
        return values


class TankEnv:
    """One run after another as an environment: reset() logs in for a new run, step() plays
    a period. The observation is a dict of the state message's figures (time, amount, goal,
    env_in, env_out, user_in, user_out; the flows are 0 before period 1); the reward is the
    bonus the period earned; `terminated` is True after the last period, `truncated` never;
    info holds in_band (periods in the band so far) and payment (base plus bonus so far).

    reset(seed=N) plays the new run with seed N (1 to 2**53 - 1) of the environment's noise;
    without one the run plays the setup's EnvSeed or a fresh seed. `options` changes nothing.
    """

    def __init__(self, port=PORT, name="env", mode="BATCH", host=HOST, timeout=10.0):
        self._client = Client(port, host, timeout)
        self._name = name
        self._mode = mode
        self._bonus = 0.0
        self._last = None
        self._terminated = True

    def reset(self, seed=None, options=None):
        if self._client.logged_in:
            self._client.reset()
        state = self._client.login(self._name, self._mode, seed)
        result = self._client.result()
        self._bonus = result["bonus"]
        self._terminated = result["last"]
        self._last = self._observation(state)
        return self._last, self._info(result)

    def step(self, action):
        if self._terminated:
            raise FluxmereError("the run is over: call reset() for the next one")
        ui, uo = action
        state, result = self._client.decide_with_result(ui, uo)
        bonus = result["bonus"]
        reward = bonus - self._bonus
        self._bonus = bonus
        self._terminated = result["last"] or state is None
        if state is not None:
            self._last = self._observation(state)
        info = {"in_band": result["in_band"], "payment": result["payment"]}
        return self._last, reward, self._terminated, False, info

    def close(self):
        self._client.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @staticmethod
    def _observation(state):
        time, goal, amount, ei, eo, ui, uo = state
        if time == 0:
            ei = eo = ui = uo = 0.0  # -1 on the wire: no period has flowed yet
        return {"time": time, "amount": amount, "goal": goal, "env_in": ei, "env_out": eo,
                "user_in": ui, "user_out": uo}

    @staticmethod
    def _info(result):
        return {"in_band": result["in_band"], "payment": result["payment"]}
