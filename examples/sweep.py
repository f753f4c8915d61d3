#!/usr/bin/env python3
"""A parameter sweep of the example model's rule over headless instances of Fluxmere.

Every scenario is played with every share of --shares, --runs times (and with every seed of
--seeds), by the anchoring-and-adjustment rule of examples/model.py with that share as its
alpha. A scenario is a setup file (--setup, repeatable; default: the program's own) with the
keys of --set applied (KEY=v1,v2,...; repeatable: every combination is a scenario of its
own). --periods N sets MaxTrial, the table size and both delay lengths to N, so that orders
act to the end of the run; --set MaxTrial=... does the same for its scenarios, and a key
that --set names is left as --set gives it.

The runs are spread over --instances instances of the program started side by side, each
with a data folder of its own (made with --init under --work-dir) and a port the system
chooses. Before a run whose scenario differs from the one before it, the instance's
Setup.txt is rewritten. The figures of the CSV come from each instance's Data.txt, the
program's own arithmetic, not from the state messages: its runs are consecutive blocks of
their scenario's periods, each under its own login name.

    python3 examples/sweep.py --shares 0.2,0.5,1 --runs 10 --periods 100
    python3 examples/sweep.py --setup short.txt --setup long.txt --set GoalLinePoisition=3,5

Past one machine the same sweep is a submission: --plan DIR writes the tasks it expects (one
per share) and their options into DIR, --task DIR INDEX plays one of them (into
DIR/csv/), and --merge DIR writes DIR/sweep.csv from them, or names every task whose CSV is
missing or empty and exits 1. examples/sweep-parallel.sh and sweep-slurm.sbatch do all three.

Exit status: 0 when every run was played and recorded, 1 when an instance or task failed,
a scenario cannot be played, or results are missing (with a message), 2 for a bad command
line. Only the Python 3 standard library is used.
"""

import argparse
import csv
import itertools
import json
import math
import os
import queue
import re
import shutil
import subprocess
import sys
import threading
import time
from contextlib import ExitStack

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))

import model  # noqa: E402
from fluxmere_e2e import (  # noqa: E402
    DATA_COLUMNS,
    ProgramUnderTest,
    find_executable,
    run_program,
    split_rows,
)

FIGURES = ["run", "periods", "in_band", "total_bonus", "mean_abs_distance"]
EXIT_TIMEOUT = 30.0
MAX_PERIODS = 32767  # the table size and the delay lengths are 16-bit keys
PERIOD_KEYS = ("MaxNumberOfAScenarioType", "inFlowDelayLength", "outFlowDelayLength")


class SweepError(Exception):
    """An instance failed, a scenario cannot be played, or results are missing."""


def header(seeds):
    return ["scenario", "share"] + (["seed"] if seeds else []) + FIGURES


# ---- the command line ---------------------------------------------------------------------

def shares_list(text):
    try:
        shares = [float(part) for part in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError("a comma-separated list of numbers, not %r" % text)
    if not all(math.isfinite(share) for share in shares):
        raise argparse.ArgumentTypeError("shares must be finite numbers: %r" % text)
    return shares


def grid_option(text):
    """KEY=v1,v2,... -> (KEY, [v1, v2, ...])."""
    key, equals, values = text.partition("=")
    values = values.split(",")
    if not equals or not re.fullmatch(r"[^\s=']\S*", key) or key.endswith("="):
        raise argparse.ArgumentTypeError("KEY=v1,v2,... with a setup key, not %r" % text)
    if any(not value.strip() or re.search(r"[;\r\n]", value) for value in values):
        raise argparse.ArgumentTypeError("empty value, or one with ; or a line end, in %r"
                                         % text)
    return key, [value.strip() for value in values]


def run_name(job, many_scenarios):
    scenario, share, seed, run = job
    name = "share%s-run%d" % (model.number(share), run)
    if seed:
        name = "share%s-seed%d-run%d" % (model.number(share), seed, run)
    return "sc%d-%s" % (scenario + 1, name) if many_scenarios else name


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
    code, _, err = run_program(["--data-dir", folder, "--init"], exe=exe)
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


def scenarios_of(args, exe):
    bases = [(os.path.splitext(os.path.basename(path))[0], read_setup(path))
             for path in args.setup] or [(None, default_setup(exe, args.work_dir))]
    stems = [stem for stem, _ in bases]
    if len(set(stems)) != len(stems):
        raise SweepError("two setup files with one name: a scenario is named by its file")
    keys = [key for key, _ in args.set]
    if len(set(keys)) != len(keys):
        raise SweepError("--set names a key twice")
    scenarios = []
    for stem, text in bases:
        for values in itertools.product(*[values for _, values in args.set]):
            assigned = dict(zip(keys, values))
            name = ";".join(([stem] if stem else []) +
                            ["%s=%s" % item for item in assigned.items()]) or "default"
            setup = set_keys(text, with_periods(text, assigned, args.periods))
            scenarios.append(Scenario(name, setup))
    return scenarios


def check_scenarios(exe, scenarios, work_dir, seeds):
    """Every scenario through the program's --check-setup: one it cannot play fails the
    sweep with the check's problems; the warnings of the others are printed."""
    for index, scenario in enumerate(scenarios, 1):
        folder = os.path.join(work_dir, "scenarios", "scenario-%d" % index)
        os.makedirs(folder, exist_ok=True)
        write_setup(os.path.join(folder, "Setup.txt"), scenario.setup(1 if seeds else 0))
        code, out, err = run_program(["--data-dir", folder, "--check-setup"], exe=exe)
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


def period_lines(data_file):
    try:
        with open(data_file, "rb") as f:
            return max(0, len(split_rows(f.read())) - 1)
    except FileNotFoundError:
        return 0


# ---- figures ------------------------------------------------------------------------------

def summarize(rows, runs):
    """One (in_band, total_bonus, mean_abs_distance) a run from the data file's period
    lines, which must hold the runs, (name, periods) each, as consecutive blocks."""
    if len(rows) != sum(periods for _, periods in runs):
        raise SweepError("%d period lines for %d runs of %s periods" % (
            len(rows), len(runs), "/".join(sorted({str(p) for _, p in runs}))))
    column = {name: DATA_COLUMNS.index(name) for name in DATA_COLUMNS}
    figures = []
    start = 0
    for index, (name, periods) in enumerate(runs):
        block = rows[start:start + periods]
        start += periods
        trials = [row[column["Trial"]] for row in block]
        subjects = {row[column["Subject"]] for row in block}
        if trials != [str(t) for t in range(1, periods + 1)] or subjects != {name}:
            raise SweepError("run %d of the data file is not one run of %d periods by %s"
                             % (index + 1, periods, name))
        try:
            in_band = sum(float(row[column["CurrentBonus"]]) > 0 for row in block)
            distance = sum(abs(float(row[column["Amount"]]) - float(row[column["GoalAmount"]]))
                           for row in block) / periods
        except ValueError as error:
            raise SweepError("a period line of run %d is not numeric: %s" % (index + 1, error))
        figures.append((in_band, model.number(float(block[-1][column["TotalBonus"]])),
                        "%.6f" % distance))
    return figures


def write_csv(path, rows):
    """Writes the rows whole, or nothing when the path cannot be written."""
    if path == "-":
        csv.writer(sys.stdout, lineterminator="\n").writerows(rows)
        return
    part = path + ".part"
    with open(part, "w", newline="") as out:
        csv.writer(out, lineterminator="\n").writerows(rows)
    os.replace(part, path)


# ---- playing ------------------------------------------------------------------------------

class Player(threading.Thread):
    """One instance's model: takes jobs until none is left, one login and run each."""

    def __init__(self, number, program, jobs, sweep, failed):
        super().__init__(daemon=True)
        self.number = number
        self.program = program
        self.jobs = jobs
        self.sweep = sweep
        self.failed = failed
        self.played = []
        self.error = None
        self.setup = None
        self.setup_ms = 0

    def run(self):
        try:
            connection = model.Connection("127.0.0.1", self.program.port, self.sweep.timeout,
                                          self.sweep.timeout)
            try:
                self.play_all(connection)
                connection.send("QUIT")  # the program ends without answering
            finally:
                connection.close()
        except (model.ModelError, SweepError, OSError) as error:
            self.error = str(error)
            self.failed.set()

    def use_setup(self, text):
        if text != self.setup:
            path = os.path.join(self.program.data_dir, "Setup.txt")
            self.setup_ms = write_setup(path, text, self.setup_ms)
            self.setup = text

    def play_all(self, connection):
        while not self.failed.is_set():
            try:
                job = self.jobs.get_nowait()
            except queue.Empty:
                return
            scenario = self.sweep.scenarios[job[0]]
            self.use_setup(scenario.setup(job[2]))
            if self.played:
                model.reset(connection)
            name = self.sweep.name(job)
            periods, _ = model.play_run(connection, name, "BATCH", job[1])
            if periods != scenario.periods:
                raise SweepError("%s played %d periods, not %d" % (name, periods,
                                                                  scenario.periods))
            self.played.append(job)


def ending(program):
    """How an instance ended, with what it wrote to standard error."""
    try:
        state = "ended with status %d" % program.wait_exit(1.0)
    except TimeoutError:
        state = "still running"
    return "%s; its messages: %s" % (state, program.stderr_text().strip() or "none")


class Sweep:
    def __init__(self, args, exe):
        self.args = args
        self.exe = exe
        self.timeout = args.timeout
        self.seeds = list(range(1, args.seeds + 1)) if args.seeds else [0]
        self.scenarios = scenarios_of(args, exe)
        check_scenarios(exe, self.scenarios, args.work_dir, args.seeds)

    def name(self, job):
        return run_name(job, len(self.scenarios) > 1)

    def jobs(self):
        return [(scenario, share, seed, run) for scenario in range(len(self.scenarios))
                for share in self.args.shares for seed in self.seeds
                for run in range(1, self.args.runs + 1)]

    def play(self):
        jobs = queue.Queue()
        for job in self.jobs():
            jobs.put(job)
        count = min(self.args.instances, jobs.qsize())
        folders = [os.path.join(self.args.work_dir, "instance-%d" % n)
                   for n in range(1, count + 1)]
        earlier = [self.prepare_folder(folder) for folder in folders]
        failed = threading.Event()
        with ExitStack() as stack:
            players = []
            for number, folder in enumerate(folders, 1):
                program = ProgramUnderTest(
                    exe=self.exe, folder=folder,
                    args=["--batch-pause-ms", str(self.args.batch_pause_ms)])
                try:
                    stack.enter_context(program)
                except RuntimeError as error:
                    raise SweepError("instance %d: %s" % (number, error))
                players.append(Player(number, program, jobs, self, failed))
            for player in players:
                player.start()
            for player in players:
                player.join()
                if player.error:
                    raise SweepError("instance %d (%s): %s; %s" % (
                        player.number, player.program.data_dir, player.error,
                        ending(player.program)))
            for player in players:
                try:
                    status = player.program.wait_exit(EXIT_TIMEOUT)
                except TimeoutError as error:
                    raise SweepError("instance %d: %s after QUIT" % (player.number, error))
                if status != 0:
                    raise SweepError("instance %d: %s" % (player.number,
                                                          ending(player.program)))
        results = {}
        for player, offset in zip(players, earlier):
            with open(player.program.data_file, "rb") as f:
                rows = split_rows(f.read())[1 + offset:]
            runs = [(self.name(job), self.scenarios[job[0]].periods) for job in player.played]
            try:
                figures = summarize(rows, runs)
            except SweepError as error:
                raise SweepError("%s: %s" % (player.program.data_file, error))
            results.update(zip(player.played, figures))
        return self.rows(results), count

    def prepare_folder(self, folder):
        data = os.path.join(folder, "data")
        code, _, err = run_program(["--data-dir", data, "--init"], exe=self.exe)
        if code != 0:
            raise SweepError("--init of %s ended with status %d: %s" % (data, code,
                                                                        err.strip()))
        return period_lines(os.path.join(data, "Data.txt"))

    def rows(self, results):
        rows = [header(self.args.seeds)]
        for job in self.jobs():
            scenario, share, seed, run = job
            rows.append([self.scenarios[scenario].name, model.number(share)] +
                        ([seed] if self.args.seeds else []) +
                        [run, self.scenarios[scenario].periods] + list(results[job]))
        return rows


# ---- a submission past one machine --------------------------------------------------------

TASKS = "tasks.txt"
PLAN = "plan.json"


def plan(args, folder):
    """Writes the tasks a submission expects, one a share, and the options they play with;
    the setup files are copied, so that later edits do not change the submission."""
    if os.path.isdir(folder) and os.listdir(folder):
        raise SweepError("%s is not empty: a submission needs a folder of its own" % folder)
    os.makedirs(os.path.join(folder, "setups"), exist_ok=True)
    os.makedirs(os.path.join(folder, "csv"), exist_ok=True)
    setups = []
    for path in args.setup:
        copy = os.path.join("setups", "%d" % (len(setups) + 1), os.path.basename(path))
        os.makedirs(os.path.dirname(os.path.join(folder, copy)))
        shutil.copyfile(path, os.path.join(folder, copy))
        setups.append(copy)
    options = {"setup": setups, "set": args.set, "periods": args.periods, "runs": args.runs,
               "seeds": args.seeds, "batch_pause_ms": args.batch_pause_ms,
               "timeout": args.timeout}
    with open(os.path.join(folder, PLAN), "w") as f:
        json.dump(options, f, indent=1)
    with open(os.path.join(folder, TASKS), "w") as f:
        f.writelines("share-%s\n" % model.number(share) for share in args.shares)
    return len(args.shares)


def expected_tasks(folder):
    try:
        with open(os.path.join(folder, TASKS)) as f:
            return [line.strip() for line in f if line.strip()]
    except OSError as error:
        raise SweepError("%s is no submission: %s" % (folder, error.strerror))


def task_args(args, folder, index):
    tasks = expected_tasks(folder)
    if not 0 <= index < len(tasks):
        raise SweepError("%s expects tasks 0 to %d, not %d" % (folder, len(tasks) - 1, index))
    with open(os.path.join(folder, PLAN)) as f:
        options = json.load(f)
    for key, value in options.items():
        setattr(args, key, value)
    args.setup = [os.path.join(folder, path) for path in args.setup]
    args.set = [tuple(item) for item in args.set]
    args.shares = [float(tasks[index][len("share-"):])]
    args.work_dir = args.work_dir or os.path.join(folder, "work", tasks[index])
    args.output = os.path.join(folder, "csv", tasks[index] + ".csv")
    return tasks[index]


def read_task_csv(path):
    try:
        with open(path, newline="") as f:
            rows = list(csv.reader(f))
    except FileNotFoundError:
        return None
    return rows if len(rows) > 1 else None


def merge(folder):
    """The rows of every task's CSV, scenario by scenario in the tasks' order (as one sweep
    orders them); a task without rows fails the merge, named."""
    tasks = expected_tasks(folder)
    found = {task: read_task_csv(os.path.join(folder, "csv", task + ".csv")) for task in tasks}
    missing = ["%s (task %d)" % (task, index) for index, task in enumerate(tasks)
               if found[task] is None]
    if missing:
        raise SweepError("%s: %d of %d tasks have no results: %s; see their logs in %s" % (
            folder, len(missing), len(tasks), ", ".join(missing),
            os.path.join(folder, "logs")))
    headers = {tuple(rows[0]) for rows in found.values()}
    if len(headers) != 1:
        raise SweepError("%s: the tasks' CSVs have different columns" % folder)
    scenarios = list(dict.fromkeys(row[0] for task in tasks for row in found[task][1:]))
    merged = [found[tasks[0]][0]]
    for scenario in scenarios:
        merged += [row for task in tasks for row in found[task][1:] if row[0] == scenario]
    return merged


# ---- main ---------------------------------------------------------------------------------

def parser_of():
    parser = argparse.ArgumentParser(
        description="Plays a sweep of the example model's adjustment share over scenarios on "
                    "headless instances of the program and writes one CSV line a run.")
    parser.add_argument("--shares", type=shares_list, default=[0.25, 0.5, 0.75, 1.0],
                        help="comma-separated adjustment shares alpha (default 0.25,0.5,0.75,1)")
    parser.add_argument("--runs", type=int, default=10,
                        help="runs per scenario, share and seed (default 10)")
    parser.add_argument("--periods", type=int,
                        help="periods per run: sets MaxTrial, MaxNumberOfAScenarioType and both "
                             "delay lengths (default: each setup's own)")
    parser.add_argument("--setup", action="append", default=[], metavar="FILE",
                        help="a setup file to play, repeatable: each file is a scenario named "
                             "by its stem (default: the program's own)")
    parser.add_argument("--set", action="append", default=[], type=grid_option,
                        metavar="KEY=V1,V2",
                        help="setup values to sweep, repeatable: every combination is a "
                             "scenario, named KEY=value;KEY=value")
    parser.add_argument("--seeds", type=int, default=0, metavar="K",
                        help="play every scenario and share with EnvSeed 1 to K (default: no "
                             "EnvSeed set; the CSV then has no seed column)")
    parser.add_argument("--instances", type=int,
                        help="instances side by side (default: the number of CPU cores; 1 "
                             "for --task)")
    parser.add_argument("--output", help="the CSV file, - for standard output (default "
                        "sweep.csv; DIR/sweep.csv for --merge)")
    parser.add_argument("--work-dir", help="where each instance's data folder is made "
                        "(default sweep-work; DIR/work/TASK for --task)")
    parser.add_argument("--exe", help="the fluxmere executable (default: build/fluxmere, or "
                        "$FLUXMERE_EXE)")
    parser.add_argument("--batch-pause-ms", type=int, default=0,
                        help="the pause of each timed step of a period (default 0)")
    parser.add_argument("--timeout", type=float, default=30.0,
                        help="seconds to wait for the program to start and for each answer "
                             "(default 30)")
    modes = parser.add_mutually_exclusive_group()
    modes.add_argument("--plan", metavar="DIR",
                       help="play nothing: make DIR a submission of one task a share")
    modes.add_argument("--task", nargs=2, metavar=("DIR", "INDEX"),
                       help="play task INDEX (from 0) of the submission in DIR into DIR/csv/")
    modes.add_argument("--merge", metavar="DIR",
                       help="play nothing: merge the submission's CSVs, naming every missing "
                            "one")
    return parser


def checked_args(parser, argv):
    args = parser.parse_args(argv)
    if args.task and not args.task[1].isdigit():
        parser.error("--task DIR INDEX: INDEX must be a number from 0")
    for name in ("runs", "instances"):
        if getattr(args, name) is not None and getattr(args, name) < 1:
            parser.error("--%s must be at least 1" % name)
    if args.periods is not None and not 1 <= args.periods <= MAX_PERIODS:
        parser.error("--periods must be from 1 to %d" % MAX_PERIODS)
    if args.seeds < 0:
        parser.error("--seeds must not be negative")
    if args.batch_pause_ms < 0:
        parser.error("--batch-pause-ms must not be negative")
    if not args.timeout > 0:
        parser.error("--timeout must be positive")
    for path in args.setup:
        if not os.path.isfile(path):
            parser.error("no setup file %s" % path)
    return args


def play(args):
    started = time.monotonic()
    args.work_dir = args.work_dir or "sweep-work"
    args.instances = args.instances or os.cpu_count() or 1
    os.makedirs(args.work_dir, exist_ok=True)
    rows, count = Sweep(args, find_executable(args.exe)).play()
    write_csv(args.output or "sweep.csv", rows)
    print("sweep: %d runs on %d instances in %.1f s; wrote %s" % (
        len(rows) - 1, count, time.monotonic() - started, args.output or "sweep.csv"),
        file=sys.stderr)


def main(argv=None):
    args = checked_args(parser_of(), argv)
    try:
        if args.plan:
            count = plan(args, args.plan)
            print("sweep: %s expects %d tasks (%s)" % (args.plan, count, TASKS),
                  file=sys.stderr)
        elif args.merge:
            output = args.output or os.path.join(args.merge, "sweep.csv")
            write_csv(output, merge(args.merge))
            print("sweep: wrote %s" % output, file=sys.stderr)
        elif args.task:
            task = task_args(args, args.task[0], int(args.task[1]))
            args.instances = args.instances or 1
            print("sweep: task %s of %s" % (task, args.task[0]), file=sys.stderr)
            play(args)
        else:
            play(args)
    except (SweepError, FileNotFoundError, OSError) as error:
        print("sweep: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
