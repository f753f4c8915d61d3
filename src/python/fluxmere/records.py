"""A data folder read into Python, its runs played again for a model, and a model scored
against them.

    from fluxmere import records
    runs = records.read_folder("data")            # Runs.txt's runs, each with its periods
    runs[0].periods["Amount"]                     # numpy arrays keyed by Data.txt's columns
    figures = records.replay(runs[0], policy)     # the model in the run's own environment
    fit = records.score(runs, "model:policy", alpha=0.5)   # fit.orders, fit.amount, fit.runs

A model is a factory, `factory(**params)` giving a fresh `policy(figures, pipeline) ->
(inflow, outflow)` for each run (as fluxmere.play calls it), named `module:callable` or given
itself; a policy may be given in its place.
"""

import dataclasses
import importlib
import importlib.util
import inspect
import os
import warnings

import numpy as np

import fluxmere

# Data.txt's columns, as the program writes them.
DATA_COLUMNS = ("Subject", "Version", "Trial", "Date", "StartTime", "EndTime", "CurrentBonus",
                "TotalBonus", "UserInflow", "UserOutflow", "EnvInflow", "EnvOutflow", "Amount",
                "BackOrder", "TotalBackOrder", "ForwardDischarge", "TotalForwardDischarge",
                "GoalAmount", "DelayUI", "DelayUO", "GoalUpperBound", "GoalLowerBound")
# Data.txt's columns that hold text, and those that hold whole numbers; the rest are numbers.
TEXT_COLUMNS = ("Subject", "Version", "Date", "StartTime", "EndTime")
WHOLE_COLUMNS = ("Trial", "DelayUI", "DelayUO")
# The files of run records, the earliest kind first, as their runs came.
RUN_FILES = ("Runs-v1.txt", "Runs-v2.txt", "Runs.txt")
# The columns every kind of Runs.txt has.
RUN_COLUMNS = ("Subject", "Version", "Date", "StartTime", "EndTime", "MaxTrial",
               "PeriodsPlayed", "PeriodsInBand", "TotalBonus", "Ending", "FirstDataLine")
ENDINGS = ("completed", "reset", "quit", "exited", "signal", "failed", "left")
LARGEST_SEED = 2**53 - 1
# The columns to_dataframe gives each period of its run, before Data.txt's.
RUN_FRAME_COLUMNS = ("RunId", "Seed", "SetupId", "StudyCondition", "Player", "Practice")


@dataclasses.dataclass
class Run:
    """One run a data folder records: its Runs.txt record and its periods from Data.txt.

    `periods` holds one numpy array per Data.txt column (text columns as str arrays, Trial,
    DelayUI and DelayUO as integers, the rest as floats), one entry per period in the order
    played. A run whose lines are not all in Data.txt, or are damaged, has fewer entries
    than `periods_played` (see `complete`)."""

    run_id: str
    seed: object  # int, or None when the setup has no noise
    setup_id: str
    setup_text: object = dataclasses.field(repr=False)  # setups/SETUPID.txt's text, or None
    player: str  # "person" or "model"
    subject: str
    version: str
    condition: str  # Runs.txt's StudyCondition
    practice: bool
    ending: str
    max_trial: int
    periods_played: int
    periods_in_band: int
    total_bonus: float
    date: str
    start_time: str
    end_time: str
    data_lines: list  # the run's line numbers in Data.txt (header line 1), those it has
    source: str  # where the record is: "Runs.txt line 3"
    periods: dict = dataclasses.field(default_factory=dict, repr=False)

    @property
    def complete(self):
        """Whether every period the record names is here, periods 1, 2, ... in order."""
        trials = self.periods.get("Trial")
        return (trials is not None and len(trials) == self.periods_played
                and np.array_equal(trials, np.arange(1, self.periods_played + 1)))


# --- Reading a folder ------------------------------------------------------------------

def read_folder(path):
    """The runs a data folder records, in the order of its files of run records (Runs-v1.txt,
    Runs-v2.txt, Runs.txt) and of their lines. Damaged lines are left out with a warning
    naming the file and line. Raises FileNotFoundError for a missing folder or Data.txt and
    ValueError for a Data.txt without its header."""
    folder = os.fspath(path)
    if not os.path.isdir(folder):
        raise FileNotFoundError("%s: no such data folder" % folder)
    data_path = os.path.join(folder, "Data.txt")
    if not os.path.isfile(data_path):
        raise FileNotFoundError("%s: the data folder has no Data.txt" % data_path)
    data = _DataFile(data_path)
    runs = []
    found = False
    for name in RUN_FILES:
        runs_path = os.path.join(folder, name)
        if os.path.isfile(runs_path):
            found = True
            runs += [_run(record, data, folder) for record in _read_records(runs_path)]
    if not found:
        warnings.warn("%s: no Runs.txt, so no run is taken from Data.txt" % folder)
    return runs


def _lines(path):
    """The file's lines without their ends, as the program counts them: latin-1, a line ends
    at LF (its CR before it dropped)."""
    with open(path, "rb") as file:
        text = file.read().decode("latin-1")
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    return [line[:-1] if line.endswith("\r") else line for line in lines]


def _number(text):
    """A field's number, or None. Inf, -Inf and NaN are numbers, as the program writes them."""
    if "_" in text:  # float() would read 1_000
        return None
    try:
        return float(text)
    except ValueError:
        return None


def _whole(text, minimum, maximum=None):
    value = _number(text)
    if value is None or not np.isfinite(value) or value != int(value):
        return None
    value = int(value)
    if value < minimum or (maximum is not None and value > maximum):
        return None
    return value


class _DataFile:
    """Data.txt's lines, each read into its fields when a run asks for it."""

    def __init__(self, path):
        self.label = "Data.txt"
        self.lines = _lines(path)
        self.columns = self.lines[0].split("\t") if self.lines else list(DATA_COLUMNS)
        missing = [name for name in DATA_COLUMNS if name not in self.columns]
        if missing:
            raise ValueError("%s: the first line is not Data.txt's header (it lacks %s)"
                             % (path, ", ".join(missing)))
        self.kinds = [_column_kind(name) for name in self.columns]

    def count(self):
        """The lines, the header being line 1."""
        return len(self.lines)

    def row(self, number):
        """The values of line `number`, or None (with a warning) when it is damaged."""
        fields = self.lines[number - 1].split("\t")
        if len(fields) != len(self.columns):
            return self._damaged(number, "%d fields where %d belong"
                                 % (len(fields), len(self.columns)))
        values = []
        for name, kind, text in zip(self.columns, self.kinds, fields):
            value = kind(text)
            if value is None:
                return self._damaged(number, "%s is not a valid value: %r" % (name, text))
            values.append(value)
        return values

    def _damaged(self, number, what):
        warnings.warn("%s line %d: %s; line left out" % (self.label, number, what))
        return None


def _column_kind(name):
    if name in TEXT_COLUMNS or name not in DATA_COLUMNS:
        return str
    if name in WHOLE_COLUMNS:
        return lambda text: _whole(text, -2**62)
    return _number


def _read_records(path):
    """The run records of one Runs.txt file (of any kind), as dicts of text by column."""
    label = os.path.basename(path)
    lines = _lines(path)
    if not lines:
        return []
    header = lines[0].split("\t")
    missing = [name for name in RUN_COLUMNS if name not in header]
    if missing:
        warnings.warn("%s line 1: the header lacks %s; no run is taken from this file"
                      % (label, ", ".join(missing)))
        return []
    records = []
    for number, line in enumerate(lines[1:], start=2):
        fields = line.split("\t")
        if len(fields) != len(header):
            damage = "%d fields where %d belong" % (len(fields), len(header))
        else:
            record = dict(zip(header, fields))
            record["source"] = "%s line %d" % (label, number)
            damage = _check_record(record)
        if damage:
            warnings.warn("%s line %d: %s; line left out" % (label, number, damage))
        else:
            records.append(record)
    return records


def _check_record(record):
    """What is wrong with a record (its values read into it), or None."""
    broken = []

    def read(name, reader):
        value = reader(record.get(name, ""))
        if value is None:
            broken.append("%s %r" % (name, record.get(name, "")))
        return value

    record["MaxTrial"] = read("MaxTrial", lambda t: _whole(t, 1))
    record["PeriodsPlayed"] = read("PeriodsPlayed", lambda t: _whole(t, 1))
    record["PeriodsInBand"] = read("PeriodsInBand", lambda t: _whole(t, 0))
    record["TotalBonus"] = read("TotalBonus", _number)
    record["FirstDataLine"] = read("FirstDataLine", lambda t: _whole(t, 2))
    read("Ending", lambda t: t if t in ENDINGS else None)
    record["Seed"] = read("Seed", lambda t: (0 if t == "" else _whole(t, 1, LARGEST_SEED)))
    read("Player", lambda t: t if t in ("", "person", "model") else None)
    if not broken:
        record["lines"] = _record_lines(record)
        if record["lines"] is None:
            broken.append("DataLines %r" % record["DataLines"])
    return "not a valid value: " + ", ".join(broken) if broken else None


def _record_lines(record):
    """The run's lines in Data.txt as ranges: its DataLines spans when given, else
    FirstDataLine and the PeriodsPlayed - 1 lines after it; None for spans that do not fit
    the record."""
    first, count = record["FirstDataLine"], record["PeriodsPlayed"]
    if not record.get("DataLines"):
        return [range(first, first + count)]
    spans = [_span(text) for text in record["DataLines"].split(",")]
    if None in spans or spans[0].start != first or sum(map(len, spans)) != count:
        return None
    if any(later.start <= earlier[-1] for earlier, later in zip(spans, spans[1:])):
        return None
    return spans


def _span(text):
    """The lines of one span: "12", "12-40", or "12-9012/100" (every 100th line)."""
    text, slash, step = text.partition("/")
    first, dash, last = text.partition("-")
    parts = [first] + ([last] if dash else []) + ([step] if slash else [])
    if not all(part.isdigit() and part.isascii() and int(part) >= 1 for part in parts):
        return None
    if slash and not dash:
        return None
    first, last, step = int(first), int(last) if dash else int(first), int(step or 1)
    if last < first or (last - first) % step:
        return None
    return range(first, last + 1, step)


def _run(record, data, folder):
    """A record as a Run, with its periods from Data.txt and its kept setup."""
    source = record["source"]
    spans = record["lines"]
    if spans[-1][-1] > data.count():
        warnings.warn("%s: the run's lines reach line %d, but Data.txt has %d lines"
                      % (source, spans[-1][-1], data.count()))
    # Only the lines Data.txt has: a damaged record may name billions.
    lines = [line for span in spans
             for line in range(span.start, min(span.stop, data.count() + 1), span.step)]
    rows = [row for row in map(data.row, lines) if row is not None]
    version = record["Version"]
    return Run(run_id=record.get("RunId", ""),
               seed=record["Seed"] or None,
               setup_id=record.get("SetupId", ""),
               setup_text=_kept_setup(folder, record.get("SetupId", "")),
               # Records of the earlier kinds name no player: an empty Version is a person's.
               player=record.get("Player") or ("person" if version == "" else "model"),
               subject=record["Subject"], version=version,
               condition=record.get("StudyCondition", ""),
               practice=record.get("Practice", "") == "1",
               ending=record["Ending"], max_trial=record["MaxTrial"],
               periods_played=record["PeriodsPlayed"],
               periods_in_band=record["PeriodsInBand"], total_bonus=record["TotalBonus"],
               date=record["Date"], start_time=record["StartTime"],
               end_time=record["EndTime"], data_lines=lines, source=source,
               periods=_columns(data, rows))


def _columns(data, rows):
    columns = {}
    for index, (name, kind) in enumerate(zip(data.columns, data.kinds)):
        dtype = str if kind is str else (np.int64 if name in WHOLE_COLUMNS else np.float64)
        columns[name] = np.array([row[index] for row in rows], dtype=dtype)
    return columns


def _kept_setup(folder, setup_id):
    """The text of setups/SETUPID.txt (UTF-8, else latin-1, as the program reads a setup)."""
    if not setup_id or not all(c in "0123456789abcdef" for c in setup_id):
        return None
    path = os.path.join(folder, "setups", setup_id + ".txt")
    try:
        with open(path, "rb") as file:
            contents = file.read()
    except OSError:
        return None
    try:
        return contents.decode("utf-8")
    except UnicodeDecodeError:
        return contents.decode("latin-1")


def to_dataframe(runs):
    """The runs' periods as one pandas DataFrame: a row per period, the run's
    RUN_FRAME_COLUMNS, then Data.txt's columns."""
    try:
        import pandas
    except ImportError:
        raise ImportError("fluxmere.records.to_dataframe needs pandas, which is not installed "
                          "(Debian: python3-pandas); read_folder's runs hold numpy arrays "
                          "without it") from None
    frames = []
    for run in runs:
        count = len(run.periods.get("Trial", ()))
        frame = pandas.DataFrame({
            "RunId": [run.run_id] * count,
            "Seed": pandas.array([run.seed] * count, dtype="Int64"),
            "SetupId": [run.setup_id] * count,
            "StudyCondition": [run.condition] * count,
            "Player": [run.player] * count,
            "Practice": [run.practice] * count,
        })
        for name, values in run.periods.items():
            frame[name] = values
        frames.append(frame)
    if not frames:
        return pandas.DataFrame(columns=list(RUN_FRAME_COLUMNS + DATA_COLUMNS))
    return pandas.concat(frames, ignore_index=True)


# --- Playing a run again ----------------------------------------------------------------

class Replay:
    """A recorded run played again in process: its kept setup with its seed and, in every
    period, the environment's flows the run recorded (given to the step as a model's EI and
    EO), so that a model meets exactly the environment the player met. Raises ValueError for
    a run without its kept setup or with periods missing."""

    def __init__(self, run):
        name = "%s (run %s)" % (run.source, run.run_id or "without a RunId")
        if not run.complete:
            raise ValueError("%s: Data.txt holds %d readable lines of its %d periods, so the "
                             "run cannot be played again"
                             % (name, len(run.periods.get("Trial", ())), run.periods_played))
        if run.setup_text is None:
            raise ValueError("%s: its setup setups/%s.txt is not kept in the folder, so the "
                             "run cannot be played again" % (name, run.setup_id or "SETUPID"))
        self.run = run
        self.name = name
        self._task = fluxmere.Task(run.setup_text, seed=run.seed)
        self._played = False
        self._environment = list(zip(run.periods["EnvInflow"].tolist(),
                                     run.periods["EnvOutflow"].tolist()))

    def play(self, policy):
        """`policy(figures, pipeline) -> (inflow, outflow)` plays the run's periods in its
        recorded environment. Returns the figures of each period, as Task.step gives them."""
        task = self._fresh_task()
        played = []
        for env_inflow, env_outflow in self._environment:
            inflow, outflow = policy(task.figures, task.pipeline)
            played.append(self._step(task, inflow, outflow, env_inflow, env_outflow))
        return played

    def follow(self, policy=None):
        """The player's own orders played again in the recorded environment. Returns the
        figures of each period and, with a policy, an n x 2 array of the orders it gives
        before each period when shown the player's figures and pipeline so far (else None)."""
        task = self._fresh_task()
        orders = zip(self.run.periods["UserInflow"].tolist(),
                     self.run.periods["UserOutflow"].tolist())
        played, predicted = [], []
        for (inflow, outflow), (env_inflow, env_outflow) in zip(orders, self._environment):
            if policy is not None:
                predicted.append(policy(task.figures, task.pipeline))
            played.append(self._step(task, inflow, outflow, env_inflow, env_outflow))
        return played, (np.array(predicted, dtype=float).reshape(-1, 2)
                        if policy is not None else None)

    def _fresh_task(self):
        if self._played:
            self._task.reset(self.run.seed)
        self._played = True
        return self._task

    def _step(self, task, inflow, outflow, env_inflow, env_outflow):
        try:
            return task.step(float(inflow), float(outflow), env_inflow, env_outflow)
        except RuntimeError as error:  # the kept setup ends before the run did
            raise ValueError("%s: %s, but the run played %d periods"
                             % (self.name, error, self.run.periods_played)) from None


def replay(run, model, **params):
    """The model plays `run` again in the environment the run recorded (see Replay): `model`
    is a policy, or a factory called with `params` (or its `module:callable` name). Returns
    the figures of each period, as Task.step gives them."""
    return Replay(run).play(_policy_maker(model, params)())


# --- Scoring a model --------------------------------------------------------------------

def rmse(predicted, observed):
    """The root mean square of the differences, over every element."""
    difference = np.asarray(predicted, dtype=float) - np.asarray(observed, dtype=float)
    return float(np.sqrt(np.mean(np.square(difference)))) if difference.size else float("nan")


@dataclasses.dataclass
class RunScore:
    """One run's figures: `orders`, the loss of the model's (inflow, outflow) against the
    player's orders, each period given the player's own history; `amount`, the loss of the
    amount the model keeps, playing the run freely, against the player's."""

    run_id: str
    source: str
    periods: int
    orders: float
    amount: float


@dataclasses.dataclass
class Score:
    """`orders` and `amount` over every period of every run together; `runs`, a RunScore
    for each run, in the order given."""

    orders: float
    amount: float
    runs: list


def score(runs, model, loss=None, **params):
    """Scores a model against recorded runs (Runs, one Run, or a data folder's path): see
    RunScore. `model` is a factory called with `params` for a fresh policy each time, or its
    `module:callable` name, or a policy; `loss(predicted, observed) -> float` defaults to
    rmse (orders are n x 2 arrays, amounts n). Raises ValueError for a run that cannot be
    played again (see Replay)."""
    if isinstance(runs, (str, os.PathLike)):
        runs = read_folder(runs)
    elif isinstance(runs, Run):
        runs = [runs]
    if not runs:
        raise ValueError("no runs to score")
    loss = loss or rmse
    new_policy = _policy_maker(model, params)
    scores, orders, amounts = [], [], []
    for run in runs:
        again = Replay(run)
        predicted = again.follow(new_policy())[1]
        observed = np.column_stack([run.periods["UserInflow"], run.periods["UserOutflow"]])
        kept = np.array([figures[1] for figures in again.play(new_policy())])
        amount = (kept, run.periods["Amount"])
        scores.append(RunScore(run.run_id, run.source, run.periods_played,
                               float(loss(predicted, observed)), float(loss(*amount))))
        orders.append((predicted, observed))
        amounts.append(amount)
    return Score(float(loss(*_joined(orders))), float(loss(*_joined(amounts))), scores)


def _joined(pairs):
    return (np.concatenate([predicted for predicted, _ in pairs]),
            np.concatenate([observed for _, observed in pairs]))


# --- Naming a model ---------------------------------------------------------------------

def load_model(name):
    """The callable `module:callable` names: a module on the path (`model:policy`) or a
    Python file (`examples/model.py:policy`)."""
    module_name, colon, attribute = name.rpartition(":")
    if not colon or not module_name or not attribute:
        raise ValueError("%r: name a model as module:callable, e.g. examples/model.py:policy"
                         % name)
    if module_name.endswith(".py") or os.sep in module_name:
        module = _module_from_file(module_name)
    else:
        module = importlib.import_module(module_name)
    found = module
    for part in attribute.split("."):
        found = getattr(found, part, None)
    if not callable(found):
        raise ValueError("%r: %s has no callable %s" % (name, module_name, attribute))
    return found


def _module_from_file(path):
    if not os.path.isfile(path):
        raise FileNotFoundError("%s: no such model file" % path)
    stem = os.path.splitext(os.path.basename(path))[0]
    source = importlib.util.spec_from_file_location(stem, path)
    module = importlib.util.module_from_spec(source)
    source.loader.exec_module(module)
    return module


def _policy_maker(model, params):
    """A function that gives a fresh policy for each run. A name or a callable that can be
    called without arguments (or is given parameters) is a factory; else it is the policy."""
    if isinstance(model, str):
        model = load_model(model)
    if not callable(model):
        raise TypeError("a model is a callable or its module:callable name, not %r" % (model,))
    if params or _callable_without_arguments(model):
        return lambda: model(**params)
    return lambda: model


def _callable_without_arguments(function):
    try:
        signature = inspect.signature(function)
    except (TypeError, ValueError):
        return False
    return all(parameter.default is not parameter.empty
               or parameter.kind in (parameter.VAR_POSITIONAL, parameter.VAR_KEYWORD)
               for parameter in signature.parameters.values())
