#!/usr/bin/env python3
"""Times `fluxmere --verify` on a data folder of many runs.

One run of --periods periods is played by a model over loopback (decisions and environment
flows of many digits, delays and an initial order, so that every figure moves); its lines and
its record are then repeated into a data folder of --runs runs, each record naming its own
lines, and --verify is run on it --rounds times. Prints the folder's size and the median and
best wall time with the periods verified per second.

Usage: verify_bench.py [--exe build/fluxmere] [--runs 2000] [--periods 100] [--rounds 5]
Exit status: 0 when every round verified every run without a difference, 1 otherwise.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))

from fluxmere_e2e import ProgramUnderTest, find_executable, split_rows  # noqa: E402

FIRST_DATA_LINE = 10  # the column of FirstDataLine in Runs.txt


def play_one_run(exe, periods, folder):
    """Plays one run and copies its data folder into `folder`."""
    setup = {"MaxTrial": periods, "MaxNumberOfAScenarioType": periods, "InitialBackOrder": 2,
             "inFlowDelayValue": 3, "inFlowDelayLength": periods // 2, "outFlowDelayValue": 2}
    rng = random.Random(7)
    with ProgramUnderTest(setup, exe=exe, args=["--batch-pause-ms", "0"]) as program:
        with program.connect() as model:
            model.login("bench")
            for _ in range(periods):
                model.exchange("DECISION UI %r UO %r EI %r EO %r" % tuple(
                    rng.uniform(0, 2) for _ in range(4)))
            model.exchange("SIMULATION RESET")
        shutil.copytree(program.data_dir, folder)


def repeat_runs(folder, runs):
    """Data.txt and Runs.txt of `runs` copies of the folder's one run."""
    def rows(name):
        with open(os.path.join(folder, name), "rb") as f:
            return split_rows(f.read())

    def write(name, table):
        with open(os.path.join(folder, name), "wb") as f:
            f.write("".join("\t".join(row) + "\r\n" for row in table).encode("latin-1"))

    data, records = rows("Data.txt"), rows("Runs.txt")
    lines = data[1:]
    write("Data.txt", data[:1] + lines * runs)
    copies = []
    for n in range(runs):
        record = list(records[1])
        record[FIRST_DATA_LINE] = str(2 + n * len(lines))
        copies.append(record)
    write("Runs.txt", records[:1] + copies)
    return os.path.getsize(os.path.join(folder, "Data.txt"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", default=None)
    parser.add_argument("--runs", type=int, default=2000)
    parser.add_argument("--periods", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    exe = find_executable(args.exe)
    work = tempfile.mkdtemp(prefix="fluxmere-verify-bench-")
    try:
        folder = os.path.join(work, "data")
        play_one_run(exe, args.periods, folder)
        size = repeat_runs(folder, args.runs)
        expected = "%d runs, %d periods verified, 0 differences\n" % (
            args.runs, args.runs * args.periods)
        times = []
        for _ in range(args.rounds):
            start = time.monotonic()
            done = subprocess.run([exe, "--verify", "--data-dir", folder], capture_output=True,
                                  text=True)
            times.append(time.monotonic() - start)
            if done.returncode != 0 or done.stdout != expected:
                print("--verify did not verify the folder cleanly: status %d, %r, %r"
                      % (done.returncode, done.stdout[:200], done.stderr[:200]))
                return 1
        periods = args.runs * args.periods
        print("--verify of %d runs x %d periods (Data.txt %.1f MiB), %d rounds"
              % (args.runs, args.periods, size / 2**20, args.rounds))
        print("  median %.2f s (%.0f periods/s), best %.2f s"
              % (statistics.median(times), periods / statistics.median(times), min(times)))
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
