#!/usr/bin/env python3
"""Times the report tool on a large data folder and checks it against its bounds.

It makes a data folder as the program would leave it after a long study (by default 2,000
runs of 100 periods: Data.txt, Runs.txt, the kept setups under setups/ and Krugel.db with
every person's subject record, answers, datRun and datRunQuestionnaire rows; two conditions,
a third of the runs played by models, some people playing twice), runs the real
fluxmere-report on it with every output asked for, and prints the wall time, the peak
resident memory of the tool (getrusage of the children) and the size of each output.

Usage: report_bench.py [--exe build/fluxmere-report] [--runs 2000] [--periods 100]
                       [--keep DIR] [--seed 1]
Exit status: 0 when the tool wrote its outputs within the bounds (30 s, 300 MB, a 40 MB
page), 1 otherwise.

The folder's making (`write_folder`, `bench_runs`) is also used by the report's end-to-end
test, which lays out a few runs of its own.
"""

import argparse
import datetime
import hashlib
import math
import os
import random
import resource
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

BOUNDS = {"seconds": 30.0, "peak_mb": 300.0, "page_mb": 40.0}

DATA_COLUMNS = [
    "Subject", "Version", "Trial", "Date", "StartTime", "EndTime", "CurrentBonus",
    "TotalBonus", "UserInflow", "UserOutflow", "EnvInflow", "EnvOutflow", "Amount",
    "BackOrder", "TotalBackOrder", "ForwardDischarge", "TotalForwardDischarge",
    "GoalAmount", "DelayUI", "DelayUO", "GoalUpperBound", "GoalLowerBound",
]
RUNS_COLUMNS = [
    "Subject", "Version", "Date", "StartTime", "EndTime", "MaxTrial", "PeriodsPlayed",
    "PeriodsInBand", "TotalBonus", "Ending", "FirstDataLine", "RunId", "StudyCondition",
    "SetupId", "Seed", "Practice",
]


def general(value):
    """The data file's number form: up to 15 significant digits, 1E-05 for small ones."""
    text = "%.15G" % value
    return "0" if text in ("-0", "0") else text


def us_date(moment):
    return "%d/%d/%d" % (moment.month, moment.day, moment.year)


def us_time(moment):
    hour = moment.hour % 12 or 12
    return "%d:%02d:%02d %s" % (hour, moment.minute, moment.second,
                               "AM" if moment.hour < 12 else "PM")


def setup_text(values):
    lines = ["' A scenario of the report benchmark."]
    lines += ["%s = %s" % (key, value) for key, value in values.items()]
    return ("\r\n".join(lines) + "\r\n").encode("latin-1")


def setup_id(text):
    """The first 12 hex digits of the SHA-256 of the (already redacted) setup text."""
    return hashlib.sha256(text).hexdigest()[:12]


def round_to_factor(x, f):
    return math.floor(x * f + 0.5) / f


def play(setup, decisions, env):
    """The engine's rules for one run (Parts 2.1 to 2.4): the Data.txt figures of each
    period, from the decisions (inflow, outflow) and the environment's flows (in, out)."""
    max_trial = int(setup["MaxTrial"])
    goal = float(setup["GoalLinePoisition"])
    delays = [int(setup["inFlowDelayValue"]), int(setup["outFlowDelayValue"])]
    lengths = [int(setup["inFlowDelayLength"]), int(setup["outFlowDelayLength"])]
    initial = [float(setup["InitialBackOrder"]), float(setup["InitialForwardDischarge"])]
    shares = []
    for order, delay in zip(initial, delays):
        table = [0.0] * (max_trial + 2)
        last, share = (1, order) if delay < 2 else (delay - 1, order / (delay - 1))
        for t in range(1, min(last, max_trial + 1) + 1):
            table[t] = share
        shares.append(table)
    outstanding = list(initial)
    amount = float(setup["InitialAmountInTank"])
    total_bonus = 5.0
    orders = [[0.0] * (max_trial + 2), [0.0] * (max_trial + 2)]
    rows = []
    for t, ((ui, uo), (ei, eo)) in enumerate(zip(decisions, env), start=1):
        orders[0][t], orders[1][t] = ui, uo
        if ei >= 0 or eo >= 0:
            amount += ei - eo
        for side in (0, 1):
            if t == lengths[side] and t != max_trial:
                delays[side] = 0
        for side, sign in ((0, 1), (1, -1)):
            source = t - (delays[side] - 1)
            if source < 1:
                quantity = shares[side][t]
            elif source <= t and orders[side][source] > 0:
                quantity = orders[side][source]
            else:
                continue
            outstanding[side] += orders[side][t] - quantity
            amount += sign * quantity
        lower = round_to_factor(goal - 0.1, 1000)
        upper = round_to_factor(goal + 0.1, 1000)
        bonus = 0.05 if lower <= round_to_factor(amount, 1000) <= upper else 0.0
        total_bonus += bonus
        rows.append({
            "Trial": t, "CurrentBonus": bonus, "TotalBonus": total_bonus, "UserInflow": ui,
            "UserOutflow": uo, "EnvInflow": ei, "EnvOutflow": eo, "Amount": amount,
            "BackOrder": shares[0][t], "TotalBackOrder": outstanding[0],
            "ForwardDischarge": shares[1][t], "TotalForwardDischarge": outstanding[1],
            "GoalAmount": goal, "DelayUI": delays[0], "DelayUO": delays[1],
            "GoalUpperBound": 0.1, "GoalLowerBound": 0.1,
        })
    return rows


class RunSpec:
    """One run to lay out: who played, the condition and setup, each period's decisions
    and environment flows, and for a person the subject record and the answers."""

    def __init__(self, subject, version, condition, setup, decisions, env, ending="completed",
                 record=None, answers=None, practice=0):
        self.subject, self.version, self.condition = subject, version, condition
        self.setup, self.decisions, self.env, self.ending = setup, decisions, env, ending
        self.record = record    # (major, gender, age) for a person
        self.answers = answers  # the three QuestionAnswer texts, as Tasks1 stores them
        self.practice = practice


def write_folder(folder, runs, start=datetime.datetime(2026, 12, 7, 9, 0, 0),
                 v1_runs=()):
    """Lays out a data folder holding `runs` (RunSpec), one every ten minutes from `start`,
    as the program writes it. `v1_runs` are played first and recorded in a Runs-v1.txt
    without the identity columns, with no datRun rows, as an older program left them.
    Returns, for each run, its RunId (empty for a v1 run)."""
    os.makedirs(os.path.join(folder, "setups"), exist_ok=True)
    data = ["\t".join(DATA_COLUMNS)]
    records, records_v1, ids = [], [], []
    database = sqlite3.connect(os.path.join(folder, "Krugel.db"))
    with open(os.path.join(ROOT, "data", "Krugel.sql"), encoding="utf-8") as schema:
        database.executescript(schema.read())
    all_runs = [(run, True) for run in v1_runs] + [(run, False) for run in runs]
    for number, (run, old) in enumerate(all_runs, start=1):
        moment = start + datetime.timedelta(minutes=10 * (number - 1))
        text = setup_text(run.setup)
        sid = setup_id(text)
        with open(os.path.join(folder, "setups", sid + ".txt"), "wb") as kept:
            kept.write(text)
        run_id = "" if old else moment.strftime("%Y%m%d-%H%M%S-") + str(number)
        ids.append(run_id)
        first_line = len(data) + 1
        periods = play(run.setup, run.decisions, run.env)
        begun = moment
        for period in periods:
            ended = moment + datetime.timedelta(seconds=4)
            fields = {"Subject": run.subject, "Version": run.version, "Date": us_date(ended),
                      "StartTime": us_time(moment), "EndTime": us_time(ended)}
            fields.update({k: (str(v) if isinstance(v, int) else general(v))
                           for k, v in period.items()})
            data.append("\t".join(fields[name] for name in DATA_COLUMNS))
            moment = ended + datetime.timedelta(seconds=1)
        in_band = sum(1 for period in periods if period["CurrentBonus"] > 0)
        record = [run.subject, run.version, us_date(begun), us_time(begun), us_time(moment),
                  str(run.setup["MaxTrial"]), str(len(periods)), str(in_band),
                  general(periods[-1]["TotalBonus"]), run.ending, str(first_line)]
        if old:
            records_v1.append("\t".join(record))
        else:
            records.append("\t".join(record + [run_id, run.condition, sid, "",
                                               str(run.practice)]))
        if run.version == "" and run.record is not None:
            major, gender, age = run.record
            cursor = database.execute(
                "INSERT INTO datSubject (Subject, Version, Condition, Major, Gender, Age, Date, "
                "Time) VALUES (?, '', 'continuous', ?, ?, ?, ?, ?)",
                (run.subject, major, gender, age, begun.strftime("%Y-%m-%d"),
                 begun.strftime("%H:%M:%S")))
            if not old:
                database.execute("INSERT INTO datRun (RunId, Subject, StudyCondition, SetupId, "
                                 "SubjectRowId, Player) VALUES (?, ?, ?, ?, ?, 'person')",
                                 (run_id, run.subject, run.condition, sid, cursor.lastrowid))
            for question, answer in enumerate(run.answers or [], start=1):
                cursor = database.execute(
                    "INSERT INTO datQuestionnaire VALUES (?, '', ?, ?)",
                    (run.subject, question, answer))
                if not old:
                    database.execute("INSERT INTO datRunQuestionnaire VALUES (?, ?)",
                                     (run_id, cursor.lastrowid))
    database.commit()
    database.close()

    def write_lines(name, lines):
        with open(os.path.join(folder, name), "wb") as out:
            out.write(("\r\n".join(lines) + "\r\n").encode("latin-1"))

    write_lines("Data.txt", data)
    write_lines("Runs.txt", ["\t".join(RUNS_COLUMNS)] + records)
    if records_v1:
        write_lines("Runs-v1.txt", ["\t".join(RUNS_COLUMNS[:11])] + records_v1)
    with open(os.path.join(folder, "Setup.txt"), "wb") as current:
        current.write(setup_text(runs[-1].setup if runs else {}))
    return ids


def scenario(condition, periods):
    """Two conditions: 'steady' (no environment, delays 1) and 'wavy' (an environment that
    swings, the inflow acting two periods after its order, an initial back order)."""
    setup = {"MaxTrial": periods, "InitialAmountInTank": 2, "GoalLinePoisition": 4,
             "InitialBackOrder": 0, "InitialForwardDischarge": 0,
             "MaxNumberOfAScenarioType": periods, "inFlowDelayValue": 1,
             "inFlowDelayLength": periods, "outFlowDelayValue": 1,
             "outFlowDelayLength": periods, "ExitPassword": "***"}
    env = [(0.0, 0.0)] * periods
    if condition == "wavy":
        setup.update({"inFlowDelayValue": 3, "InitialBackOrder": 2})
        env = [(round(1 + math.sin(t / 8.0), 3), 1.0) for t in range(1, periods + 1)]
        setup["EnvInflowSchedule"] = ", ".join(general(ei) for ei, _ in env)
        setup["EnvOutflowSchedule"] = "1"
    return setup, env


def decide(setup, env, rng, share):
    """Anchoring and adjustment on the amount the player has seen, in whole tenths."""
    decisions = []
    for t in range(len(env)):
        seen = play(setup, decisions, env)[-1]["Amount"] if t else 2.0
        gap = (4.0 - seen) * share + rng.gauss(0, 0.3)
        decisions.append((round(max(gap, 0.0), 1), round(max(-gap, 0.0), 1)))
    return decisions


def bench_runs(count, periods, seed):
    """`count` runs: two conditions in turn, one in three played by a model, every tenth
    person playing a second time."""
    rng = random.Random(seed)
    plans = {}
    for condition in ("steady", "wavy"):
        setup, env = scenario(condition, periods)
        # A few decision series per condition, reused: the folder's size, not its variety,
        # is what the benchmark measures, and playing each run anew would take minutes.
        plans[condition] = (setup, env, [decide(setup, env, rng, share)
                                         for share in (0.3, 0.5, 0.8, 1.0)])
    runs = []
    for number in range(count):
        condition = ("steady", "wavy")[number % 2]
        setup, env, series = plans[condition]
        decisions = series[rng.randrange(len(series))]
        if number % 3 == 2:
            runs.append(RunSpec("model%d" % number, "BATCH", condition, setup, decisions, env))
            continue
        person = number - 30 if number % 10 == 0 and number >= 30 else number
        answers = ["%d, Hard at first, run %d" % (rng.randint(1, 10), number),
                   "Inflow first, then small steps (run %d)" % number,
                   "Yes, after period %d" % rng.randint(1, periods)]
        runs.append(RunSpec("person%d" % person, "", condition, setup, decisions, env,
                            record=("Biology", "Female", 20 + number % 30), answers=answers))
    return runs


def run_report(exe, folder, out):
    """Runs the tool with every output; gives its status, seconds and peak RSS in MB."""
    outputs = {"-o": "report.html", "--csv": "runs.csv", "--periods-csv": "periods.csv",
               "--answers-csv": "answers.csv"}
    command = [exe, "--data-dir", folder]
    for option, name in outputs.items():
        command += [option, os.path.join(out, name)]
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    began = time.monotonic()
    finished = subprocess.run(command, env=environment, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
    seconds = time.monotonic() - began
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    if peak <= before:
        print("note: an earlier child had a larger peak; the figure below is an upper bound")
    sizes = {name: os.path.getsize(os.path.join(out, name))
             for name in outputs.values() if os.path.exists(os.path.join(out, name))}
    return finished, seconds, peak / 1024.0, sizes


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", default=os.path.join(ROOT, "build", "fluxmere-report"))
    parser.add_argument("--runs", type=int, default=2000)
    parser.add_argument("--periods", type=int, default=100)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", help="make the folder here and keep it")
    args = parser.parse_args()

    work = args.keep or tempfile.mkdtemp(prefix="fluxmere-report-bench-")
    folder, out = os.path.join(work, "data"), os.path.join(work, "out")
    try:
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        os.makedirs(out, exist_ok=True)
        began = time.monotonic()
        write_folder(folder, bench_runs(args.runs, args.periods, args.seed))
        print("data folder: %d runs x %d periods, Data.txt %.1f MB, made in %.1f s"
              % (args.runs, args.periods,
                 os.path.getsize(os.path.join(folder, "Data.txt")) / 1e6,
                 time.monotonic() - began))
        finished, seconds, peak_mb, sizes = run_report(args.exe, folder, out)
        if finished.returncode != 0:
            print("fluxmere-report failed with status %d:\n%s"
                  % (finished.returncode, finished.stderr[-4000:]))
            return 1
        page_mb = sizes.get("report.html", 0) / 1e6
        print("%-12s %10s %10s" % ("", "measured", "bound"))
        print("%-12s %10.1f %10.0f" % ("wall s", seconds, BOUNDS["seconds"]))
        print("%-12s %10.1f %10.0f" % ("peak RSS MB", peak_mb, BOUNDS["peak_mb"]))
        print("%-12s %10.1f %10.0f" % ("page MB", page_mb, BOUNDS["page_mb"]))
        for name, size in sizes.items():
            print("  %-14s %8.1f MB" % (name, size / 1e6))
        within = (seconds <= BOUNDS["seconds"] and peak_mb <= BOUNDS["peak_mb"]
                  and page_mb <= BOUNDS["page_mb"])
        print("within bounds" if within else "OUT OF BOUNDS")
        return 0 if within else 1
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
