"""The task of the tank, played in process by the program's own period steps.

    import fluxmere
    task = fluxmere.Task("data/Setup.txt", seed=7)
    time, amount, goal, ei, eo, ui, uo, in_band, payment, last = task.step(3, 1)

A run plays exactly as the program plays a model's pause-free BATCH run: the same steps in
the same order, and with `record=FOLDER` the same Data.txt lines and Runs.txt records.
"""

import atexit
import contextlib
import os
import tempfile
import weakref

from ._fluxmere import Engine, SetupError, VectorEngine  # noqa: F401

# The figures step() returns, in order.
FIELDS = ("time", "amount", "goal", "env_inflow", "env_outflow", "user_inflow",
          "user_outflow", "in_band", "payment", "last")


class Task:
    """One run of a setup: `setup` is a setup file's path or its text; `seed` (1 to 2**53 - 1)
    seeds the environment's noise (else the setup's EnvSeed or a fresh seed); `record`, a data
    folder, receives every period's line and every run's record."""

    def __init__(self, setup, seed=None, record=None, name="model"):
        self._engine = _engine(setup, record, name)
        # The engine's own step, without a Python call around it (below for its description).
        self.step = self._engine.step
        if seed is not None:
            self._engine.reset(seed)
        if record is not None:
            _recording.add(self)

    def close(self):
        """Ends the run (recorded as quit when it has periods) and puts every line on the
        disk; a recording task is closed when the interpreter exits."""
        self._engine.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def reset(self, seed=None):
        """A fresh run; the one before is recorded as reset when it had periods."""
        self._engine.reset(seed)

    def step(self, ui, uo, ei=None, eo=None):
        """Plays one period: the orders, and the environment's flows where given. Returns
        the period's figures at full precision, as FIELDS names them."""
        return self._engine.step(ui, uo, ei, eo)

    def step_dict(self, ui, uo, ei=None, eo=None):
        return dict(zip(FIELDS, self.step(ui, uo, ei, eo)))

    @property
    def figures(self):
        """The figures of the period played last (as step() returns them); before the first
        period, the start: time 0, the starting amount and goal, no flows, the base payment."""
        return self._engine.figures

    @property
    def pipeline(self):
        """The orders still to arrive, (inflow, outflow), one for each coming period."""
        return self._engine.pipeline()

    @property
    def scenario(self):
        return self._engine.scenario

    @property
    def result(self):
        return self._engine.result


def play(task, policy):
    """Plays the rest of `task`'s run with `policy(figures, pipeline) -> (inflow, outflow)`,
    called before each period with the figures so far and the orders still to arrive. Returns
    the figures of the periods played, in order."""
    figures = task.figures
    periods = []
    while not figures[-1]:
        inflow, outflow = policy(figures, task.pipeline)
        figures = task.step(inflow, outflow)
        periods.append(figures)
    return periods


class VectorTask:
    """n runs of one setup stepped together: step() takes an array of n inflow orders and one
    of n outflow orders and returns an n x 10 array of the periods' figures (the columns of
    FIELDS; in_band and last as 0 or 1). `seeds`, when given, holds one seed for each run.
    The runs are shared out over the machine's cores, or over `threads` threads (1 in a
    sweep's worker that has a core of its own). With `record`, a data folder, they are
    played in order on one thread and their lines interleave in Data.txt, each run's named
    by its record's DataLines."""

    def __init__(self, setup, n, seeds=None, record=None, name="model", threads=None):
        with _setup_file(setup) as path:
            self._engine = VectorEngine(path, n, list(seeds or []),
                                        "" if record is None else os.fspath(record), name,
                                        threads or 0)
        if record is not None:
            _recording.add(self)

    def close(self):
        self._engine.close()

    def __len__(self):
        return len(self._engine)

    def reset(self, seeds=None):
        self._engine.reset(list(seeds or []))

    def step(self, ui, uo):
        return self._engine.step(ui, uo)


# Recording tasks still open: their last lines and records are written at exit.
_recording = weakref.WeakSet()


@atexit.register
def _close_recording():
    for task in list(_recording):
        task.close()


def _engine(setup, record, name):
    with _setup_file(setup) as path:
        return Engine(path, "" if record is None else os.fspath(record), name)


@contextlib.contextmanager
def _setup_file(setup):
    """The path of a setup given as a path or as its text (kept in a file while it is read)."""
    if os.path.isfile(setup):
        yield os.fspath(setup)
        return
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "Setup.txt")
        with open(path, "w", encoding="utf-8", newline="") as text:
            text.write(setup)
        yield path


try:
    from .env import TankEnv  # noqa: E402,F401  (needs numpy)
except ImportError:
    pass
