#!/usr/bin/env python3
"""A parameter sweep of the example model's rule over headless instances of Fluxmere.

Every share of --shares is played --runs times, each run --periods periods long, by the
anchoring-and-adjustment rule of examples/model.py with that share as its alpha. The runs
are spread over --instances instances of the program started side by side, each with a data
folder of its own (made with --init under --work-dir) and a port the system chooses. The
figures of the CSV come from each instance's Data.txt, the program's own arithmetic, not
from the state messages.

An instance plays its runs one after another, each after a login of its own and a
SIMULATION RESET between them, so its Data.txt holds them as consecutive blocks of --periods
lines (after the lines of any earlier sweep in the same folder); every block carries the
run's login name, share<alpha>-run<n>.

    python3 examples/sweep.py --shares 0.2,0.5,1 --runs 10 --periods 100

Exit status: 0 when every run was played and recorded, 1 when an instance failed or
answered wrongly (with a message), 2 for a bad command line. Only the Python 3 standard
library is used.
"""

import argparse
import csv
import math
import os
import queue
import re
import shutil
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

HEADER = ["share", "run", "periods", "in_band", "total_bonus", "mean_abs_distance"]
EXIT_TIMEOUT = 30.0


class SweepError(Exception):
    """An instance failed, or its data file does not hold the runs as they were played."""


def shares_list(text):
    try:
        shares = [float(part) for part in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError("a comma-separated list of numbers, not %r" % text)
    if not all(math.isfinite(share) for share in shares):
        raise argparse.ArgumentTypeError("shares must be finite numbers: %r" % text)
    return shares


def run_name(share, run):
    return "share%s-run%d" % (model.number(share), run)


# ---- data folders -------------------------------------------------------------------------

def set_keys(path, values):
    """Sets `values` in a setup file: the first "Key = Value" line of each key (the one the
    program reads) is replaced, a missing key added at the end."""
    with open(path, "rb") as f:
        lines = f.read().decode("latin-1").splitlines(keepends=True)
    for key, value in values.items():
        pattern = re.compile(r"%s = [^\r\n]*" % re.escape(key))
        for index, line in enumerate(lines):
            if pattern.match(line):
                lines[index] = pattern.sub("%s = %s" % (key, value), line, count=1)
                break
        else:
            if lines and not lines[-1].endswith("\n"):
                lines[-1] += "\r\n"
            lines.append("%s = %s\r\n" % (key, value))
    with open(path, "wb") as f:
        f.write("".join(lines).encode("latin-1"))


def key_value(path, key):
    with open(path, "rb") as f:
        for line in f.read().decode("latin-1").splitlines():
            if line.startswith(key + " = "):
                return line[len(key) + 3:].strip()
    return None


def prepare_folder(exe, folder, setup, periods):
    """Makes folder/data ready for `periods` periods a run: --init, with `setup` (or the
    default) as its Setup.txt."""
    data = os.path.join(folder, "data")
    if setup:
        os.makedirs(data, exist_ok=True)
        shutil.copyfile(setup, os.path.join(data, "Setup.txt"))
    code, _, err = run_program(["--data-dir", data, "--init"], exe=exe)
    if code != 0:
        raise SweepError("--init of %s ended with status %d: %s" % (data, code, err.strip()))
    setup_file = os.path.join(data, "Setup.txt")
    try:
        tables = int(float(key_value(setup_file, "MaxNumberOfAScenarioType") or 0))
    except ValueError:
        tables = 0
    set_keys(setup_file, {"MaxTrial": periods,
                          "MaxNumberOfAScenarioType": max(tables, periods)})
    return period_lines(os.path.join(data, "Data.txt"))


def period_lines(data_file):
    try:
        with open(data_file, "rb") as f:
            return max(0, len(split_rows(f.read())) - 1)
    except FileNotFoundError:
        return 0


# ---- figures ------------------------------------------------------------------------------

def summarize(rows, names, periods):
    """One (in_band, total_bonus, mean_abs_distance) a run from the data file's period
    lines, which must hold the runs `names` as consecutive blocks of `periods` lines."""
    if len(rows) != len(names) * periods:
        raise SweepError("%d period lines for %d runs of %d periods"
                         % (len(rows), len(names), periods))
    column = {name: DATA_COLUMNS.index(name) for name in DATA_COLUMNS}
    figures = []
    for index, name in enumerate(names):
        block = rows[index * periods:(index + 1) * periods]
        trials = [row[column["Trial"]] for row in block]
        subjects = {row[column["Subject"]] for row in block}
        if trials != [str(t) for t in range(1, periods + 1)] or (name and subjects != {name}):
            raise SweepError("run %d of the data file is not one run of %d periods%s"
                             % (index + 1, periods, " by %s" % name if name else ""))
        try:
            in_band = sum(float(row[column["CurrentBonus"]]) > 0 for row in block)
            distance = sum(abs(float(row[column["Amount"]]) - float(row[column["GoalAmount"]]))
                           for row in block) / periods
        except ValueError as error:
            raise SweepError("a period line of run %d is not numeric: %s" % (index + 1, error))
        figures.append((in_band, model.number(float(block[-1][column["TotalBonus"]])),
                        "%.6f" % distance))
    return figures


def write_csv(path, results):
    out = sys.stdout if path == "-" else open(path, "w", newline="")
    try:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(HEADER)
        for (share, run), (in_band, bonus, distance), periods in results:
            writer.writerow([model.number(share), run, periods, in_band, bonus, distance])
    finally:
        if out is not sys.stdout:
            out.close()


# ---- playing ------------------------------------------------------------------------------

class Player(threading.Thread):
    """One instance's model: takes jobs until none is left, one login and run each."""

    def __init__(self, number, program, jobs, args, failed):
        super().__init__(daemon=True)
        self.number = number
        self.program = program
        self.jobs = jobs
        self.args = args
        self.failed = failed
        self.played = []
        self.error = None

    def run(self):
        try:
            connection = model.Connection("127.0.0.1", self.program.port, self.args.timeout,
                                          self.args.timeout)
            try:
                self.play_all(connection)
                connection.send("QUIT")  # the program ends without answering
            finally:
                connection.close()
        except (model.ModelError, SweepError, OSError) as error:
            self.error = str(error)
            self.failed.set()

    def play_all(self, connection):
        while not self.failed.is_set():
            try:
                share, run = self.jobs.get_nowait()
            except queue.Empty:
                return
            if self.played:
                model.reset(connection)
            periods, _ = model.play_run(connection, run_name(share, run), "BATCH", share)
            if periods != self.args.periods:
                raise SweepError("%s played %d periods, not %d"
                                 % (run_name(share, run), periods, self.args.periods))
            self.played.append((share, run))


def ending(program):
    """How an instance ended, with what it wrote to standard error."""
    try:
        state = "ended with status %d" % program.wait_exit(1.0)
    except TimeoutError:
        state = "still running"
    return "%s; its messages: %s" % (state, program.stderr_text().strip() or "none")


def sweep(args, exe):
    jobs = queue.Queue()
    for share in args.shares:
        for run in range(1, args.runs + 1):
            jobs.put((share, run))
    count = min(args.instances, jobs.qsize())
    folders = [os.path.join(args.work_dir, "instance-%d" % n) for n in range(1, count + 1)]
    earlier = [prepare_folder(exe, folder, args.setup, args.periods) for folder in folders]
    failed = threading.Event()
    with ExitStack() as stack:
        players = []
        for number, folder in enumerate(folders, 1):
            program = ProgramUnderTest(exe=exe, folder=folder,
                                       args=["--batch-pause-ms", str(args.batch_pause_ms)])
            try:
                stack.enter_context(program)
            except RuntimeError as error:
                raise SweepError("instance %d: %s" % (number, error))
            players.append(Player(number, program, jobs, args, failed))
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
                raise SweepError("instance %d: %s" % (player.number, ending(player.program)))
    results = []
    for player, offset in zip(players, earlier):
        with open(player.program.data_file, "rb") as f:
            rows = split_rows(f.read())[1 + offset:]
        try:
            figures = summarize(rows, [run_name(*job) for job in player.played], args.periods)
        except SweepError as error:
            raise SweepError("%s: %s" % (player.program.data_file, error))
        results += [(job, figure, args.periods) for job, figure in zip(player.played, figures)]
    order = {share: index for index, share in enumerate(args.shares)}
    return sorted(results, key=lambda result: (order[result[0][0]], result[0][1])), count


def from_data(args):
    """The CSV of runs played elsewhere (one share, runs as consecutive blocks)."""
    if len(args.shares) != 1:
        raise SweepError("--from-data takes the one share its runs were played with")
    try:
        with open(args.from_data, "rb") as f:
            rows = split_rows(f.read())[1:]
    except OSError as error:
        raise SweepError("cannot read %s: %s" % (args.from_data, error))
    runs = len(rows) // args.periods
    try:
        figures = summarize(rows, [None] * max(runs, 1), args.periods)
    except SweepError as error:
        raise SweepError("%s: %s" % (args.from_data, error))
    return [((args.shares[0], run), figure, args.periods)
            for run, figure in enumerate(figures, 1)]


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Plays a sweep of the example model's adjustment share over headless "
                    "instances of the program and writes one CSV line a run.")
    parser.add_argument("--shares", type=shares_list, default=[0.25, 0.5, 0.75, 1.0],
                        help="comma-separated adjustment shares alpha (default 0.25,0.5,0.75,1)")
    parser.add_argument("--runs", type=int, default=10, help="runs per share (default 10)")
    parser.add_argument("--periods", type=int, default=100,
                        help="periods per run, set as MaxTrial (default 100)")
    parser.add_argument("--instances", type=int, default=os.cpu_count() or 1,
                        help="instances side by side (default: the number of CPU cores, %(default)s)")
    parser.add_argument("--output", default="sweep.csv", help="the CSV file, - for standard "
                        "output (default sweep.csv)")
    parser.add_argument("--work-dir", default="sweep-work",
                        help="where each instance's data folder is made (default sweep-work)")
    parser.add_argument("--setup", help="a Setup.txt to start every instance's from (default: "
                        "the program's own); MaxTrial is set to --periods")
    parser.add_argument("--exe", help="the fluxmere executable (default: build/fluxmere, or "
                        "$FLUXMERE_EXE)")
    parser.add_argument("--batch-pause-ms", type=int, default=0,
                        help="the pause of each timed step of a period (default 0)")
    parser.add_argument("--timeout", type=float, default=30.0,
                        help="seconds to wait for the program to start and for each answer "
                             "(default 30)")
    parser.add_argument("--from-data", metavar="DATA_TXT",
                        help="play nothing: write the CSV of the runs of one share in this "
                             "Data.txt, as consecutive blocks of --periods lines")
    args = parser.parse_args(argv)
    for name in ("runs", "periods", "instances"):
        if getattr(args, name) < 1:
            parser.error("--%s must be at least 1" % name)
    if args.batch_pause_ms < 0:
        parser.error("--batch-pause-ms must not be negative")
    if not args.timeout > 0:
        parser.error("--timeout must be positive")

    started = time.monotonic()
    try:
        if args.from_data:
            results, count = from_data(args), 0
        else:
            if args.setup and not os.path.isfile(args.setup):
                raise SweepError("no setup file %s" % args.setup)
            results, count = sweep(args, find_executable(args.exe))
        write_csv(args.output, results)
    except (SweepError, FileNotFoundError, OSError) as error:
        print("sweep: %s" % error, file=sys.stderr)
        return 1
    if count:
        print("sweep: %d runs of %d periods on %d instances in %.1f s; wrote %s" % (
            len(results), args.periods, count, time.monotonic() - started, args.output),
            file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
