#!/usr/bin/env python3
"""The web server's cost per period and per participant, beside a model's over TCP.

Pause-free, N participants (N = 1, 10, 50 by default) play a whole run each at once over
WebSockets on loopback; for each N it prints the periods a second of all runs together and
the server's CPU time per period (user + system, read from /proc). A BATCH model over TCP
with --batch-pause-ms 0 plays the same number of periods on the desktop program alone, for
comparison. Then 50 participants play with a person's pacing (the setup's pauses, 2 s each)
and the share of one core the server used is printed: the target is at most a tenth.

Usage: web_bench.py [--build build] [--crowds 1,10,50] [--periods 200] [--paced-periods 3]
Exit status: 0 when every run was played whole, 1 otherwise.
"""

import argparse
import os
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "web"))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))

from fluxmere_e2e import ProgramUnderTest, parse_state  # noqa: E402
from fluxmere_web import Participant, WebServer  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User and system time of process `pid` so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def long_run(periods):
    return {"MaxTrial": periods, "MaxNumberOfAScenarioType": periods,
            "inFlowDelayLength": periods, "outFlowDelayLength": periods}


def play_crowd(people, periods, pause_args):
    """(periods a second, server CPU seconds per period, wall seconds) of `people` at once."""
    with WebServer(long_run(periods), args=pause_args) as server:
        pages = [Participant(server, {"PROLIFIC_PID": "bench%03d" % n}, timeout=600)
                 for n in range(people)]
        errors, ends = [], []
        go = threading.Barrier(people + 1)

        def person(page):
            try:
                go.wait()
                ends.append(page.play([("1", "0"), ("0", "1")] * (periods // 2 + 1)))
            except Exception as error:  # noqa: BLE001  (counted below)
                errors.append(repr(error))

        threads = [threading.Thread(target=person, args=(page,)) for page in pages]
        for thread in threads:
            thread.start()
        cpu_before = cpu_seconds(server.process.pid)
        go.wait()
        began = time.monotonic()
        for thread in threads:
            thread.join()
        wall = time.monotonic() - began
        cpu = cpu_seconds(server.process.pid) - cpu_before
        played = len(server.table("Data.txt"))
        if errors or played != people * periods:
            raise RuntimeError("%d of %d periods played; %s" % (played, people * periods,
                                                                 errors[:3]))
        return played / wall, cpu / played, wall


def play_model(periods):
    """(periods a second, program CPU seconds per period) of one BATCH model, pause-free."""
    with ProgramUnderTest(long_run(periods), args=["--batch-pause-ms", "0"]) as program:
        with program.connect() as model:
            parse_state(model.login("bench", "BATCH"))
            cpu_before = cpu_seconds(program.process.pid)
            began = time.monotonic()
            for period in range(periods):
                model.send_line("DECISION UI %d UO %d" % (period % 2, 1 - period % 2))
                model.read_line()
            wall = time.monotonic() - began
            cpu = cpu_seconds(program.process.pid) - cpu_before
            model.send_line("QUIT")
        return periods / wall, cpu / periods


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--crowds", default="1,10,50")
    parser.add_argument("--periods", type=int, default=200)
    parser.add_argument("--paced-periods", type=int, default=3)
    options = parser.parse_args()
    os.environ.setdefault("FLUXMERE_EXE", os.path.join(options.build, "fluxmere"))
    os.environ.setdefault("FLUXMERE_WEB_EXE", os.path.join(options.build, "fluxmere-web"))
    try:
        rate, cpu = play_model(options.periods)
        print("%-34s %12s %16s" % ("pause-free", "periods/s", "CPU µs/period"))
        print("%-34s %12.0f %16.0f" % ("TCP model, 1 run", rate, cpu * 1e6))
        for people in (int(n) for n in options.crowds.split(",")):
            rate, cpu, _ = play_crowd(people, options.periods, ["--pause-ms", "0"])
            print("%-34s %12.0f %16.0f" % ("web, %d participants at once" % people, rate,
                                            cpu * 1e6))
        rate, cpu, wall = play_crowd(50, options.paced_periods, [])
        share = cpu * 50 * options.paced_periods / wall
        print("50 participants at a person's pace: %.3f of one core over %.0f s (target 0.1)"
              % (share, wall))
    except RuntimeError as error:
        print("web_bench: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
