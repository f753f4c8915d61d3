"""A sweep: one model played over a grid of scenarios, parameter values, seeds and runs.

    python3 -m fluxmere.sweep --model examples/model.py:policy --param alpha=0.5,1 \\
        --seeds 3 --runs 2 --setup data/Setup.txt --jobs 4
    python3 -m fluxmere.sweep --command "python3 examples/model.py --host {host} \\
        --port {port} --name {name} --alpha {alpha} --no-quit --quiet" --param alpha=0.5,1

The model is in process (`--model module:callable`, a factory of policies as fluxmere.play
calls them, played with fluxmere.Task and the run's seed) or a command that speaks the TCP
protocol (`--command`, run once a run with {host}, {port}, {name}, {seed}, {run} and every
parameter filled in, leaving the program running at its end); a command plays on headless
instances of the program, each on a data folder of its own, whose Setup.txt is rewritten
before a run whose scenario or seed differs from the one before (its EnvSeed set), and its
figures are read back from that folder's Data.txt.

From Python: plan_of(args) or make_plan(...) gives a plan, play(plan, jobs, work_dir) its
runs' rows, tables(plan, results) the two CSVs.

A scenario is a setup file (--setup, repeatable; default the program's own) with the keys of
--set applied (every combination is a scenario); --param NAME=v1,v2 gives the model's
parameters (every combination); --seeds K plays seeds 1 to K (or a list: 3,7,10-12);
--runs N repeats each. The runs are split into --tasks tasks: --plan DIR writes them,
--task DIR INDEX plays one into DIR/out/, --merge DIR writes DIR/runs.csv and
DIR/periods.csv or names every task that failed or left no output (exit 1). Without those,
the sweep plans into a folder of its own under --work-dir, plays the tasks on a pool of
--jobs processes and merges them. SIGTERM or Ctrl-C ends every program instance and worker
the sweep started, and the sweep exits with status 1.
"""

import argparse
import csv
import itertools
import json
import math
import os
import queue
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import fluxmere
from fluxmere import records

MAX_PERIODS = 32767  # the table size and the delay lengths are 16-bit keys
EXIT_TIMEOUT = 30.0
READY_LINE = re.compile(r"Waiting for a model on port (\d+)\.")
PLAN = "plan.json"
TASKS = "tasks.txt"
# The columns that name a run, then its figures; a period's row names its run the same way.
RUN_FIGURES = ["RunId", "Seed", "periods", "in_band", "payment", "mean_abs_distance"]
PERIOD_FIGURES = ["RunId", "Seed"] + list(fluxmere.FIELDS)


class SweepError(Exception):
    """A scenario cannot be played, an instance, model or task failed, or output is missing."""


class Stopped(Exception):
    """SIGTERM, SIGINT or SIGHUP arrived."""


# ---- values of the command line ----------------------------------------------------------

def grid_option(text):
    """KEY=v1,v2,... -> (KEY, [v1, v2, ...]), for a setup key."""
    key, equals, values = text.partition("=")
    values = values.split(",")
    if not equals or not re.fullmatch(r"[^\s=']\S*", key) or key.endswith("="):
        raise argparse.ArgumentTypeError("KEY=v1,v2,... with a setup key, not %r" % text)
    if any(not value.strip() or re.search(r"[;\r\n]", value) for value in values):
        raise argparse.ArgumentTypeError("empty value, or one with ; or a line end, in %r"
                                         % text)
    return key, [value.strip() for value in values]


def param_option(text):
    """NAME=v1,v2,... -> (NAME, [v1, v2, ...]), for a model's parameter."""
    name, equals, values = text.partition("=")
    values = [value.strip() for value in values.split(",")]
    if not equals or not name.isidentifier():
        raise argparse.ArgumentTypeError("NAME=v1,v2,... with a Python name, not %r" % text)
    if any(not value or re.search(r"\s", value) for value in values):
        raise argparse.ArgumentTypeError("an empty value, or one with a blank, in %r" % text)
    return name, values


def seeds_option(text):
    """K -> seeds 1 to K; a list of seeds and ranges (3,7,10-12) -> those seeds."""
    try:
        if text.isdigit():
            return list(range(1, int(text) + 1))
        seeds = []
        for part in text.split(","):
            first, dash, last = part.partition("-")
            seeds += range(int(first), int(last if dash else first) + 1)
    except ValueError:
        raise argparse.ArgumentTypeError("a count K or a list such as 3,7,10-12, not %r" % text)
    if not seeds or not all(1 <= seed <= records.LARGEST_SEED for seed in seeds):
        raise argparse.ArgumentTypeError("seeds are 1 to 2**53 - 1: %r" % text)
    return seeds


def param_value(text):
    """A parameter as the model gets it: a float, or the text when it is no number."""
    try:
        return float(text)
    except ValueError:
        return text


def cell(value):
    """A CSV cell: flags as 1 or 0, numbers in the shortest text that reads back exactly."""
    if value is None:
        return ""
    if isinstance(value, bool):
        return "1" if value else "0"
    if isinstance(value, float) and value.is_integer() and abs(value) < 1e15:
        return "%d" % value
    return repr(value) if isinstance(value, float) else str(value)


# ---- scenarios ----------------------------------------------------------------------------

def set_keys(text, values):
    """`text` (a setup file's) with `values` set: the first "Key = Value" line of each key
    (the one the program reads) replaced, a missing key added at the end."""
    lines = text.splitlines(keepends=True)
    for key, value in values.items():
        pattern = re.compile(r"%s = [^\r\n]*" % re.escape(key))
        for index, line in enumerate(lines):
            if pattern.match(line):
                lines[index] = pattern.sub(lambda _: "%s = %s" % (key, value), line, count=1)
                break
        else:
            if lines and not lines[-1].endswith("\n"):
                lines[-1] += "\r\n"
            lines.append("%s = %s\r\n" % (key, value))
    return "".join(lines)


def key_value(text, key):
    for line in text.splitlines():
        if line.startswith(key + " = "):
            return line[len(key) + 3:].strip()
    return None


def whole_number(text):
    """A whole-number key as the program reads it (halves to even), or None."""
    try:
        value = float(text)
    except (TypeError, ValueError):
        return None
    return round(value) if math.isfinite(value) else None


class Scenario:
    def __init__(self, name, text):
        self.name = name
        self.text = text  # the setup file, as latin-1 text
        self.periods = whole_number(key_value(text, "MaxTrial"))

    def setup(self, seed):
        return set_keys(self.text, {"EnvSeed": seed}) if seed else self.text


def read_setup(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except OSError as error:
        raise SweepError("cannot read the setup file %s: %s" % (path, error.strerror))


def default_setup(exe, work_dir):
    folder = os.path.join(work_dir, "default-setup")
    shutil.rmtree(folder, ignore_errors=True)
    code, _, err = run_program(exe, ["--data-dir", folder, "--init"])
    if code != 0:
        raise SweepError("--init of %s ended with status %d: %s" % (folder, code, err.strip()))
    return read_setup(os.path.join(folder, "Setup.txt"))


def with_periods(text, values, periods):
    """The keys that --periods (or --set MaxTrial) brings along, unless --set names them."""
    if "MaxTrial" in values:
        periods = whole_number(values["MaxTrial"])
        if periods is None:
            return values
    if periods is None:
        return values
    if not 1 <= periods <= MAX_PERIODS:
        raise SweepError("%d periods: a run has 1 to %d periods" % (periods, MAX_PERIODS))
    tables = whole_number(key_value(text, "MaxNumberOfAScenarioType")) or 0
    derived = {"MaxTrial": periods, "MaxNumberOfAScenarioType": max(tables, periods),
               "inFlowDelayLength": periods, "outFlowDelayLength": periods}
    return dict(derived, **values)


def scenarios_of(setups, sets, periods, default_text):
    """Every setup file (or the default text) with every combination of `sets` applied,
    each named by the file's stem and the keys set."""
    bases = [(os.path.splitext(os.path.basename(path))[0], read_setup(path))
             for path in setups] or [(None, default_text())]
    stems = [stem for stem, _ in bases]
    if len(set(stems)) != len(stems):
        raise SweepError("two setup files with one name: a scenario is named by its file")
    keys = [key for key, _ in sets]
    if len(set(keys)) != len(keys):
        raise SweepError("--set names a key twice")
    scenarios = []
    for stem, text in bases:
        for values in itertools.product(*[values for _, values in sets]):
            assigned = dict(zip(keys, values))
            name = ";".join(([stem] if stem else []) +
                            ["%s=%s" % item for item in assigned.items()]) or "default"
            scenarios.append(Scenario(name, set_keys(text, with_periods(text, assigned,
                                                                        periods))))
    return scenarios


def check_with_program(exe, scenarios, work_dir, seeded):
    """Every scenario through the program's --check-setup: one it cannot play fails the
    sweep with the check's problems; the warnings of the others are printed."""
    for index, scenario in enumerate(scenarios, 1):
        folder = os.path.join(work_dir, "scenarios", "scenario-%d" % index)
        os.makedirs(folder, exist_ok=True)
        write_setup(os.path.join(folder, "Setup.txt"), scenario.setup(1 if seeded else 0))
        code, out, err = run_program(exe, ["--data-dir", folder, "--check-setup"])
        findings = [line.strip() for line in out.splitlines() if line.startswith("  ")]
        if code not in (0, 1):
            raise SweepError("--check-setup of scenario %s ended with status %d: %s" % (
                scenario.name, code, err.strip() or "no message"))
        if "A model: Start cannot use this file." in out or scenario.periods is None:
            raise SweepError("scenario %s (%s) cannot be played:\n  %s" % (
                scenario.name, os.path.join(folder, "Setup.txt"),
                "\n  ".join(findings or [out.strip()])))
        for finding in findings:
            print("sweep: scenario %s: %s" % (scenario.name, finding), file=sys.stderr)


def check_in_process(scenarios):
    for scenario in scenarios:
        try:
            fluxmere.Task(scenario.text)
        except (fluxmere.SetupError, ValueError) as error:
            raise SweepError("scenario %s cannot be played: %s" % (scenario.name, error))
        if scenario.periods is None:
            raise SweepError("scenario %s cannot be played: no MaxTrial" % scenario.name)


def write_setup(path, text, after_ms=None):
    """Writes a setup file whole. With `after_ms`, its modification time is set later than
    that (in milliseconds), so the program sees a change even within one clock tick."""
    part = path + ".part"
    with open(part, "wb") as f:
        f.write(text.encode("latin-1"))
    os.replace(part, path)
    if after_ms is None:
        return None
    stamp = max(time.time_ns() // 1_000_000, after_ms + 1)
    os.utime(path, ns=(stamp * 1_000_000, stamp * 1_000_000))
    return stamp


# ---- the grid -----------------------------------------------------------------------------

def number_text(text):
    """A parameter's value as it goes into a login name: a number plainly, else as given."""
    value = param_value(text)
    if isinstance(value, str):
        return re.sub(r"[^\w.+-]", "_", value)
    text = ("%.6f" % value).rstrip("0").rstrip(".")
    return "0" if text in ("", "-0") else text


def run_name(job, param_names, many_scenarios):
    """The run's login name: its scenario, parameters, seed and run number."""
    parts = ["%s%s" % (name, number_text(value))
             for name, value in zip(param_names, job["params"])]
    if job["seed"]:
        parts.append("seed%d" % job["seed"])
    parts.append("run%d" % job["run"])
    return "-".join((["sc%d" % (job["scenario"] + 1)] if many_scenarios else []) + parts)


def jobs_of(scenarios, params, seeds, runs, name=run_name):
    """Every run of the sweep, in its order: scenario, parameters, seed, run."""
    names = [name for name, _ in params]
    jobs = []
    for scenario in range(len(scenarios)):
        for values in itertools.product(*[values for _, values in params]):
            for seed in seeds or [None]:
                for run in range(1, runs + 1):
                    job = {"scenario": scenario, "params": list(values), "seed": seed,
                           "run": run}
                    job["name"] = name(job, names, len(scenarios) > 1)
                    jobs.append(job)
    return jobs


def split_tasks(jobs, count):
    """`count` tasks of consecutive runs, as even as can be."""
    count = max(1, min(count, len(jobs)))
    return [{"name": "task-%d" % index,
             "jobs": list(range(index * len(jobs) // count, (index + 1) * len(jobs) // count))}
            for index in range(count)]


def make_plan(model, scenarios, params, seeds, runs, tasks, options, name=run_name):
    """Everything a task needs to play its runs anywhere: the model, the scenarios' texts,
    the runs and the tasks (a count, or a function of the runs giving [{"name", "jobs"}])."""
    jobs = jobs_of(scenarios, params, seeds, runs, name)
    tasks = split_tasks(jobs, tasks) if isinstance(tasks, int) else tasks(jobs)
    return {"model": model, "cwd": os.getcwd(), "params": [name for name, _ in params],
            "scenarios": [{"name": s.name, "text": s.text} for s in scenarios],
            "jobs": jobs, "tasks": tasks, "options": options}


# ---- the processes the sweep starts -------------------------------------------------------

_children = set()
_children_lock = threading.Lock()


def spawn(command, **kwargs):
    """Starts a process in a session (and process group) of its own, which end_children()
    ends; a signal to the sweep's own group does not reach it."""
    with _children_lock:
        child = subprocess.Popen(command, start_new_session=True, **kwargs)
        _children.add(child)
    return child


def forget(child):
    with _children_lock:
        _children.discard(child)


def end_children(grace=10.0):
    """Ends every process group the sweep started: SIGTERM, then SIGKILL after `grace` s."""
    with _children_lock:
        children = list(_children)
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for child in children:
            if child.poll() is None:
                try:
                    os.killpg(child.pid, sig)
                except ProcessLookupError:
                    pass
        deadline = time.monotonic() + grace
        for child in children:
            try:
                child.wait(max(0.0, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                pass
        if all(child.poll() is not None for child in children):
            break
    for child in children:
        forget(child)


def _stop(signum, frame):
    raise Stopped("stopped by %s" % signal.Signals(signum).name)


def stop_on_signals():
    """SIGTERM, SIGINT and SIGHUP raise Stopped in the main thread."""
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, _stop)


# ---- the program --------------------------------------------------------------------------

def find_executable(exe=None):
    """`exe`, else $FLUXMERE_EXE, else the program of the build this package lies in
    (build/python/fluxmere -> build/fluxmere), else `fluxmere` on the PATH."""
    beside = os.path.join(os.path.dirname(os.path.abspath(fluxmere.__file__)), "..", "..",
                          "fluxmere")
    exe = exe or os.environ.get("FLUXMERE_EXE") or (beside if os.path.isfile(beside)
                                                    else "fluxmere")
    found = shutil.which(exe) if os.sep not in exe else exe
    if not found or not os.path.isfile(found):
        raise SweepError("the fluxmere executable is not at %s: build it, or give --exe or "
                         "$FLUXMERE_EXE" % exe)
    return os.path.abspath(found)


def headless_environment():
    return dict(os.environ, QT_QPA_PLATFORM="offscreen")


def run_program(exe, args, timeout=30.0):
    """Runs the program to its end: exit code, standard output and error."""
    child = spawn([exe] + list(args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                  stderr=subprocess.PIPE, env=headless_environment())
    try:
        out, err = child.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        child.kill()
        out, err = child.communicate()
        err += b"(ended after %.0f s)" % timeout
    finally:
        forget(child)
    return child.returncode, out.decode("latin-1"), err.decode("latin-1")


class Instance:
    """The program, headless, on one data folder, listening on a port the system chooses."""

    def __init__(self, exe, folder, batch_pause_ms, timeout):
        self.exe = exe
        self.folder = os.path.abspath(folder)  # the program runs in it
        self.data_dir = os.path.join(self.folder, "data")
        self.args = ["--batch-pause-ms", str(batch_pause_ms)]
        self.timeout = timeout
        self.process = None
        self.port = None

    def prepare(self):
        """Makes the data folder ready (never overwriting); the number of runs it holds."""
        code, _, err = run_program(self.exe, ["--data-dir", self.data_dir, "--init"])
        if code != 0:
            raise SweepError("--init of %s ended with status %d: %s" % (self.data_dir, code,
                                                                        err.strip()))
        return len(read_runs(self.data_dir))

    def start(self):
        ready = threading.Event()
        with open(os.path.join(self.folder, "stderr.txt"), "ab") as err:
            self.process = spawn([self.exe, "--port", "0", "--data-dir", self.data_dir,
                                  "-platform", "offscreen"] + self.args,
                                 cwd=self.folder, env=headless_environment(),
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=err)
        self.port = None
        threading.Thread(target=self._read_port, args=(ready,), daemon=True).start()
        if not ready.wait(self.timeout):
            raise SweepError("the program did not start listening within %.0f s"
                             % self.timeout)
        if self.port is None:
            raise SweepError("the program ended at its start")

    def _read_port(self, ready):
        for raw in self.process.stdout:
            found = READY_LINE.fullmatch(raw.decode("latin-1").rstrip("\r\n"))
            if found and self.port is None:
                self.port = int(found.group(1))
                ready.set()
        ready.set()

    def running(self):
        return self.process is not None and self.process.poll() is None

    def ended_fine(self, wait=1.0):
        try:
            return self.process.wait(wait) == 0
        except subprocess.TimeoutExpired:
            return False

    def quit(self):
        """Ends the program with QUIT (it answers nothing); SweepError unless it ends fine."""
        with socket.create_connection(("127.0.0.1", self.port), self.timeout) as connection:
            connection.sendall(b"QUIT\n")
        try:
            status = self.process.wait(EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise SweepError("the program still runs %.0f s after QUIT" % EXIT_TIMEOUT)
        forget(self.process)
        if status != 0:
            raise SweepError(self.ending())

    def ending(self):
        """How the program ended, with what it wrote to standard error."""
        try:
            state = "ended with status %d" % self.process.wait(1.0)
        except subprocess.TimeoutExpired:
            state = "still running"
        with open(os.path.join(self.folder, "stderr.txt"), "rb") as f:
            messages = f.read().decode("latin-1", "replace").strip()
        return "%s; its messages: %s" % (state, messages or "none")


def read_runs(data_dir):
    """The runs the folder records; none before its first run."""
    if not os.path.isfile(os.path.join(data_dir, "Runs.txt")):
        return []
    try:
        return records.read_folder(data_dir)
    except (OSError, ValueError) as error:
        raise SweepError("cannot read the data folder %s: %s" % (data_dir, error))


# ---- results ------------------------------------------------------------------------------

def identity(plan, job):
    """The cells that name a run: scenario, parameters, seed, run."""
    return ([plan["scenarios"][job["scenario"]]["name"]] + list(job["params"]) +
            [cell(job["seed"]), str(job["run"])])


def header(plan, figures):
    return ["scenario"] + plan["params"] + ["seed", "run"] + figures


def mean_abs_distance(amounts, goals):
    # Summed in order, so that every way of playing a run gives the same figure.
    return sum(abs(float(a) - float(g)) for a, g in zip(amounts, goals)) / len(amounts)


def result_of_task(task, figures):
    """The run's row and its periods' rows, from a Task played to its end."""
    scenario = task.scenario
    run_id, seed = scenario.get("RunId"), scenario.get("Seed") or None
    distance = mean_abs_distance([f[1] for f in figures], [f[2] for f in figures])
    result = task.result
    run = [run_id, seed, len(figures), result["in_band"], result["payment"], distance]
    periods = [[run_id, seed] + list(f) for f in figures]
    return [cell(v) for v in run], [[cell(v) for v in row] for row in periods]


def result_of_record(run):
    """The run's row and its periods' rows, from the run as its data folder records it."""
    p = run.periods
    count = len(p["Trial"])
    distance = mean_abs_distance(p["Amount"], p["GoalAmount"])
    in_band = [float(bonus) > 0 for bonus in p["CurrentBonus"]]
    row = [run.run_id, run.seed, count, sum(in_band), float(p["TotalBonus"][-1]), distance]
    periods = []
    for index in range(count):
        figures = (int(p["Trial"][index]), float(p["Amount"][index]),
                   float(p["GoalAmount"][index]), float(p["EnvInflow"][index]),
                   float(p["EnvOutflow"][index]), float(p["UserInflow"][index]),
                   float(p["UserOutflow"][index]), in_band[index],
                   float(p["TotalBonus"][index]), index == count - 1)
        periods.append([run.run_id, run.seed] + list(figures))
    return [cell(v) for v in row], [[cell(v) for v in r] for r in periods]


# ---- playing in process -------------------------------------------------------------------

def play_in_process(plan, jobs):
    """Plays the jobs with the plan's factory, each a fresh policy on a Task of its seed."""
    factory = load_factory(plan)
    results = []
    with tempfile.TemporaryDirectory(prefix="fluxmere-sweep-") as scratch:
        # Each setup as a file of the very bytes it was read from.
        paths = []
        for index, scenario in enumerate(plan["scenarios"]):
            paths.append(os.path.join(scratch, "scenario-%d.txt" % index))
            write_setup(paths[-1], scenario["text"])
        for index in jobs:
            job = plan["jobs"][index]
            params = dict(zip(plan["params"], map(param_value, job["params"])))
            task = fluxmere.Task(paths[job["scenario"]], seed=job["seed"], name=job["name"])
            try:
                figures = fluxmere.play(task, factory(**params))
            except Exception as error:
                raise SweepError("run %s: the model failed: %s: %s" % (
                    job["name"], type(error).__name__, error)) from error
            results.append(result_of_task(task, figures))
    return results


def load_factory(plan):
    if plan["cwd"] not in sys.path:
        sys.path.insert(0, plan["cwd"])
    try:
        return records.load_model(plan["model"]["factory"])
    except Exception as error:  # whatever the model's module raises while it is loaded
        raise SweepError("the model %s: %s: %s" % (plan["model"]["factory"],
                                                   type(error).__name__, error)) from error


# ---- playing a command model on program instances -----------------------------------------

def command_line(template, values):
    """The command's words with {host}, {port}, {name}, ... filled in."""
    try:
        return [word.format(**values) for word in shlex.split(template)]
    except (KeyError, IndexError) as error:
        raise SweepError("the command names {%s}, which is neither host, port, name, seed, "
                         "run nor a parameter" % error.args[0])


class Player(threading.Thread):
    """One instance's runs: takes jobs until none is left, one command each."""

    def __init__(self, number, instance, plan, jobs, failed):
        super().__init__(daemon=True)
        self.number = number
        self.instance = instance
        self.plan = plan
        self.jobs = jobs
        self.failed = failed
        self.played = []
        self.error = None
        self.setup = None
        self.setup_ms = 0

    def run(self):
        try:
            while not self.failed.is_set():
                try:
                    index = self.jobs.get_nowait()
                except queue.Empty:
                    break
                self.play(self.plan["jobs"][index])
                self.played.append(index)
            if self.instance.running():
                self.instance.quit()
        except (SweepError, OSError) as error:
            self.error = str(error)
            self.failed.set()

    def use_setup(self, text):
        if text != self.setup:
            path = os.path.join(self.instance.data_dir, "Setup.txt")
            self.setup_ms = write_setup(path, text, self.setup_ms)
            self.setup = text

    def play(self, job):
        if not self.instance.running():
            # A model that ends the program with QUIT after its run gets a fresh one.
            if self.instance.process is not None:
                forget(self.instance.process)
                if self.instance.process.wait() != 0:
                    raise SweepError(self.instance.ending())
            self.instance.start()
        scenario = self.plan["scenarios"][job["scenario"]]
        self.use_setup(Scenario(scenario["name"], scenario["text"]).setup(job["seed"]))
        values = dict(zip(self.plan["params"], job["params"]), host="127.0.0.1",
                      port=self.instance.port, name=job["name"], seed=job["seed"] or "",
                      run=job["run"])
        options = self.plan["options"]
        child = spawn(command_line(self.plan["model"]["command"], values),
                      cwd=self.plan["cwd"], stdin=subprocess.DEVNULL,
                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            out, err = child.communicate(timeout=options.get("run_timeout"))
        except subprocess.TimeoutExpired:
            raise SweepError("the model's command for %s did not end within %s s" % (
                job["name"], options["run_timeout"]))
        finally:
            forget(child)
        with open(os.path.join(self.instance.folder, "model.log"), "ab") as log:
            log.write(b"== %s\n" % job["name"].encode() + out + err)
        if child.returncode != 0:
            message = (err or out).decode("latin-1", "replace").strip() or "no message"
            if self.instance.ended_fine():
                message += (" (the program had ended: a model that sends QUIT after its run "
                            "races the next run's start; leave the program running)")
            raise SweepError("the model's command for %s ended with status %d: %s" % (
                job["name"], child.returncode, message))


def play_on_instances(plan, jobs, work_dir, instances, exe):
    """Plays the jobs with the plan's command on `instances` program instances side by side,
    each with a data folder under `work_dir`, and reads each run back from its folder."""
    options = plan["options"]
    count = max(1, min(instances, len(jobs)))
    waiting = queue.Queue()
    for index in jobs:
        waiting.put(index)
    failed = threading.Event()
    players = []
    for number in range(1, count + 1):
        folder = os.path.join(work_dir, "instance-%d" % number)
        os.makedirs(folder, exist_ok=True)
        instance = Instance(exe, folder, options["batch_pause_ms"], options["timeout"])
        earlier = instance.prepare()
        players.append((Player(number, instance, plan, waiting, failed), earlier))
    for player, _ in players:
        player.start()
    for player, _ in players:
        while player.is_alive():
            player.join(0.2)  # short waits: a signal must reach the main thread
        if player.error:
            raise SweepError("instance %d (%s): %s; %s" % (
                player.number, player.instance.data_dir, player.error,
                player.instance.ending()))
    results = {}
    for player, earlier in players:
        recorded = read_runs(player.instance.data_dir)[earlier:]
        results.update(zip(player.played, check_recorded(plan, player, recorded)))
    return [results[index] for index in jobs]


def check_recorded(plan, player, recorded):
    """Each run the instance played, as its folder records it, in the order played."""
    where = player.instance.data_dir
    if len(recorded) != len(player.played):
        raise SweepError("%s records %d runs, not the %d played" % (where, len(recorded),
                                                                   len(player.played)))
    results = []
    for index, run in zip(player.played, recorded):
        job = plan["jobs"][index]
        periods = Scenario("", plan["scenarios"][job["scenario"]]["text"]).periods
        if run.subject != job["name"] or not run.complete or run.periods_played != periods:
            raise SweepError("%s: run %s (%s) is not one complete run of %s periods by %s" % (
                where, run.run_id, run.source, periods, job["name"]))
        results.append(result_of_record(run))
    return results


# ---- tasks and their submission folder ----------------------------------------------------

def write_csv(path, rows):
    """Writes the rows whole, or nothing when the path cannot be written; - is stdout."""
    if path == "-":
        csv.writer(sys.stdout, lineterminator="\n").writerows(rows)
        return
    part = path + ".part"
    with open(part, "w", newline="") as out:
        csv.writer(out, lineterminator="\n").writerows(rows)
    os.replace(part, path)


def read_csv(path):
    try:
        with open(path, newline="") as f:
            return list(csv.reader(f))
    except FileNotFoundError:
        return None


def check_new_submission(folder):
    if os.path.isdir(folder) and os.listdir(folder):
        raise SweepError("%s is not empty: a submission needs a folder of its own" % folder)


def write_plan(folder, plan):
    """Makes `folder` (new or empty) a submission of the plan's tasks."""
    check_new_submission(folder)
    for sub in ("out", "logs"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    with open(os.path.join(folder, PLAN), "w") as f:
        json.dump(plan, f, indent=1)
    with open(os.path.join(folder, TASKS), "w") as f:
        f.writelines(task["name"] + "\n" for task in plan["tasks"])


def read_plan(folder):
    try:
        with open(os.path.join(folder, PLAN)) as f:
            return json.load(f)
    except (OSError, ValueError) as error:
        raise SweepError("%s is no submission: %s" % (folder, error))


def play(plan, jobs, work_dir, instances=1, exe=None):
    """The jobs' results, [(run row, period rows)] in the jobs' order; a command model's
    instances have their data folders under `work_dir`."""
    if "factory" in plan["model"]:
        return play_in_process(plan, jobs)
    exe = find_executable(exe or plan["options"].get("exe"))
    return play_on_instances(plan, jobs, work_dir, instances, exe)


def play_task(folder, index, work_dir=None, instances=1, exe=None):
    """Plays task `index` of the submission into its out/ folder; on failure writes the
    reason beside it and raises SweepError."""
    plan = read_plan(folder)
    if not 0 <= index < len(plan["tasks"]):
        raise SweepError("%s has tasks 0 to %d, not %d" % (folder, len(plan["tasks"]) - 1,
                                                            index))
    task = plan["tasks"][index]
    out = os.path.join(folder, "out", task["name"])
    for stale in (".failed", "-runs.csv", "-periods.csv"):
        if os.path.exists(out + stale):
            os.remove(out + stale)
    work_dir = work_dir or os.path.join(folder, "work", task["name"])
    try:
        results = play(plan, task["jobs"], work_dir, instances, exe)
        write_csv(out + "-periods.csv", [row for _, periods in results for row in periods])
        write_csv(out + "-runs.csv", [run for run, _ in results])
    except (SweepError, OSError) as error:
        with open(out + ".failed", "w") as f:
            f.write("%s\n" % error)
        raise
    finally:
        keep_data(work_dir, os.path.join(folder, "data", task["name"]))
    return task["name"]


def keep_data(work_dir, target):
    """Copies each instance's records into the submission, so none stays on a node."""
    if os.path.abspath(work_dir) == os.path.abspath(target) or not os.path.isdir(work_dir):
        return
    for name in sorted(os.listdir(work_dir)):
        data = os.path.join(work_dir, name, "data")
        if name.startswith("instance-") and os.path.isdir(data):
            shutil.copytree(data, os.path.join(target, name), dirs_exist_ok=True,
                            ignore=shutil.ignore_patterns("Krugel.db*", "*.lock"))


def merge(folder):
    """The runs' rows and the periods' rows of every task, in the sweep's order, each under
    its header; SweepError naming every task that failed or left no output."""
    plan = read_plan(folder)
    found, missing, failures = {}, [], []
    for index, task in enumerate(plan["tasks"]):
        out = os.path.join(folder, "out", task["name"])
        runs, periods = read_csv(out + "-runs.csv"), read_csv(out + "-periods.csv")
        if runs is None or periods is None or len(runs) != len(task["jobs"]):
            missing.append("%s (task %d)" % (task["name"], index))
        else:
            found[task["name"]] = (runs, periods)
        if os.path.exists(out + ".failed"):
            with open(out + ".failed") as f:
                failures.append("task %d (%s) failed: %s" % (index, task["name"],
                                                            f.read().strip()))
    if missing or failures:
        raise SweepError("%s: %d of %d tasks have no results: %s%s; see their logs in %s" % (
            folder, len(missing), len(plan["tasks"]), ", ".join(missing) or "none",
            "".join("; " + failure for failure in failures), os.path.join(folder, "logs")))
    results = {}
    for task in plan["tasks"]:
        runs, periods = found[task["name"]]
        for index, run in zip(task["jobs"], runs):
            count = int(run[2])
            results[index] = (run, periods[:count])
            periods = periods[count:]
    return tables(plan, results)


def tables(plan, results):
    """The CSV of runs and the CSV of periods, each under its header, in the sweep's order,
    from {job index: (run row, period rows)}."""
    order = sorted(results)
    return ([header(plan, RUN_FIGURES)] +
            [identity(plan, plan["jobs"][i]) + results[i][0] for i in order],
            [header(plan, PERIOD_FIGURES)] +
            [identity(plan, plan["jobs"][i]) + period for i in order for period in results[i][1]])


def run_pool(folder, jobs):
    """Plays every task of the submission, `jobs` at a time, each in a process group of its
    own, its standard error in logs/. Every task runs even when one fails: the merge names
    the failed ones."""
    count = len(read_plan(folder)["tasks"])
    pending = list(range(count))
    running = {}
    while pending or running:
        while pending and len(running) < jobs:
            index = pending.pop(0)
            with open(os.path.join(folder, "logs", "task-%d.log" % index), "wb") as log:
                running[index] = spawn(task_command(folder, index), env=worker_environment(),
                                       stdin=subprocess.DEVNULL, stdout=log,
                                       stderr=subprocess.STDOUT)
        for index, child in list(running.items()):
            if child.poll() is not None:
                forget(child)
                del running[index]
                if child.returncode != 0:
                    print("sweep: task %d ended with status %d; see %s" % (
                        index, child.returncode,
                        os.path.join(folder, "logs", "task-%d.log" % index)), file=sys.stderr)
        time.sleep(0.05)


def task_command(folder, index):
    return [sys.executable, "-m", "fluxmere.sweep", "--task", folder, str(index)]


def worker_environment():
    """This environment, with the folder of the package this sweep runs first on the path."""
    root = os.path.dirname(os.path.dirname(os.path.abspath(fluxmere.__file__)))
    path = os.environ.get("PYTHONPATH")
    return dict(os.environ, PYTHONPATH=root + (os.pathsep + path if path else ""))


# ---- the command line ---------------------------------------------------------------------

def parser_of():
    parser = argparse.ArgumentParser(
        prog="python3 -m fluxmere.sweep",
        description="Plays one model over scenarios x parameters x seeds x runs and writes "
                    "a CSV of runs and one of periods.")
    model = parser.add_mutually_exclusive_group()
    model.add_argument("--model", metavar="MODULE:CALLABLE",
                       help="an in-process model: a factory of policies (module:callable or "
                            "file.py:callable)")
    model.add_argument("--command", metavar="CMD",
                       help="a model over TCP: a command run once a run, with {host}, {port}, "
                            "{name}, {seed}, {run} and each {parameter} filled in")
    parser.add_argument("--setup", action="append", default=[], metavar="FILE",
                        help="a setup file, repeatable: a scenario named by its stem "
                             "(default: the program's own)")
    parser.add_argument("--set", action="append", default=[], type=grid_option,
                        metavar="KEY=V1,V2", help="setup values, repeatable: every "
                        "combination is a scenario")
    parser.add_argument("--periods", type=int, help="periods a run: sets MaxTrial, "
                        "MaxNumberOfAScenarioType and both delay lengths")
    parser.add_argument("--param", action="append", default=[], type=param_option,
                        metavar="NAME=V1,V2", help="the model's parameter values, "
                        "repeatable: every combination is played")
    parser.add_argument("--seeds", type=seeds_option, default=[], metavar="K|LIST",
                        help="seeds 1 to K, or a list such as 3,7,10-12 (default: none "
                             "given: the setup's EnvSeed or a fresh seed)")
    parser.add_argument("--runs", type=int, default=1, help="runs of each combination "
                        "(default 1)")
    parser.add_argument("--tasks", type=int, help="tasks the runs are split into (default: "
                        "--jobs)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1,
                        help="tasks played at once on this machine (default: the cores)")
    parser.add_argument("--runs-csv", default="sweep-runs.csv", metavar="FILE",
                        help="one row a run (default sweep-runs.csv; DIR/runs.csv for "
                             "--merge; - for standard output)")
    parser.add_argument("--periods-csv", default="sweep-periods.csv", metavar="FILE",
                        help="one row a period (default sweep-periods.csv; DIR/periods.csv "
                             "for --merge)")
    parser.add_argument("--work-dir", help="where submissions and data folders go (default "
                        "sweep-work; DIR/work/TASK for --task)")
    parser.add_argument("--instances", type=int, default=1,
                        help="program instances side by side in one task (default 1)")
    parser.add_argument("--exe", help="the fluxmere executable (default $FLUXMERE_EXE, or "
                        "the build's)")
    parser.add_argument("--batch-pause-ms", type=int, default=0,
                        help="the pause of each timed step of a period (default 0)")
    parser.add_argument("--timeout", type=float, default=30.0,
                        help="seconds to wait for an instance to start (default 30)")
    parser.add_argument("--run-timeout", type=float,
                        help="seconds a command may take for one run (default: no limit)")
    modes = parser.add_mutually_exclusive_group()
    modes.add_argument("--plan", metavar="DIR", help="play nothing: make DIR a submission")
    modes.add_argument("--task", nargs=2, metavar=("DIR", "INDEX"),
                       help="play task INDEX (from 0) of the submission in DIR")
    modes.add_argument("--merge", metavar="DIR", help="merge the submission's outputs")
    return parser


def checked_args(parser, argv):
    args = parser.parse_args(argv)
    if args.task and not args.task[1].isdigit():
        parser.error("--task DIR INDEX: INDEX must be a number from 0")
    if not (args.task or args.merge or args.model or args.command):
        parser.error("name the model: --model MODULE:CALLABLE or --command CMD")
    for name in ("runs", "jobs", "tasks", "instances"):
        if getattr(args, name) is not None and getattr(args, name) < 1:
            parser.error("--%s must be at least 1" % name.replace("_", "-"))
    if args.periods is not None and not 1 <= args.periods <= MAX_PERIODS:
        parser.error("--periods must be from 1 to %d" % MAX_PERIODS)
    if args.batch_pause_ms < 0 or not args.timeout > 0:
        parser.error("--batch-pause-ms must not be negative, --timeout must be positive")
    if len({name for name, _ in args.param}) != len(args.param):
        parser.error("--param names a parameter twice")
    for path in args.setup:
        if not os.path.isfile(path):
            parser.error("no setup file %s" % path)
    return args


def plan_of(args, work_dir, name=run_name, tasks=None):
    """The plan of the sweep the options describe, its scenarios checked."""
    exe = None if args.model and args.setup else find_executable(args.exe)
    os.makedirs(work_dir, exist_ok=True)
    scenarios = scenarios_of(args.setup, args.set, args.periods,
                             lambda: default_setup(exe, work_dir))
    if args.model:
        check_in_process(scenarios)
        model = {"factory": os.path.abspath(args.model) if ".py:" in args.model
                 else args.model}
        load_factory({"cwd": os.getcwd(), "model": model})  # fails here, not in every task
    else:
        check_with_program(exe, scenarios, work_dir, bool(args.seeds))
        model = {"command": args.command}
    options = {"exe": exe, "batch_pause_ms": args.batch_pause_ms, "timeout": args.timeout,
               "run_timeout": args.run_timeout}
    return make_plan(model, scenarios, args.param, args.seeds, args.runs,
                     tasks or args.tasks or args.jobs, options, name)


def sweep_here(args):
    """Plans into a submission of its own, plays it on the pool, merges it."""
    work_dir = args.work_dir or "sweep-work"
    plan = plan_of(args, work_dir)
    folder = tempfile.mkdtemp(prefix=time.strftime("%Y%m%d-%H%M%S-"), dir=work_dir)
    write_plan(folder, plan)
    print("sweep: %d runs in %d tasks, %d at a time, in %s" % (
        len(plan["jobs"]), len(plan["tasks"]), args.jobs, folder), file=sys.stderr)
    run_pool(folder, args.jobs)
    runs, periods = merge(folder)
    write_csv(args.periods_csv, periods)
    write_csv(args.runs_csv, runs)
    return runs


def main(argv=None):
    args = checked_args(parser_of(), argv)
    stop_on_signals()
    started = time.monotonic()
    try:
        if args.plan:
            check_new_submission(args.plan)
            with tempfile.TemporaryDirectory(prefix="fluxmere-sweep-") as scratch:
                write_plan(args.plan, plan_of(args, scratch))
            print("sweep: %s holds %d tasks (%s)" % (args.plan, len(read_plan(args.plan)[
                "tasks"]), TASKS), file=sys.stderr)
        elif args.task:
            name = play_task(args.task[0], int(args.task[1]), args.work_dir, args.instances,
                             args.exe)
            print("sweep: task %s of %s played" % (name, args.task[0]), file=sys.stderr)
        elif args.merge:
            runs, periods = merge(args.merge)
            write_csv(os.path.join(args.merge, "periods.csv"), periods)
            write_csv(os.path.join(args.merge, "runs.csv"), runs)
            print("sweep: wrote %s and periods.csv" % os.path.join(args.merge, "runs.csv"),
                  file=sys.stderr)
        else:
            runs = sweep_here(args)
            print("sweep: %d runs in %.1f s; wrote %s and %s" % (
                len(runs) - 1, time.monotonic() - started, args.runs_csv, args.periods_csv),
                file=sys.stderr)
    except Stopped as stop:
        end_children()
        print("sweep: %s; ended every instance and worker it started" % stop, file=sys.stderr)
        return 1
    except (SweepError, OSError) as error:
        end_children()
        print("sweep: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
