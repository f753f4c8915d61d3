#!/usr/bin/env python3
"""A period of the task, timed where each kind of model meets it, side by side in one run:
the core's steps in a bare C++ loop, a Data.txt line's formatting, the run object (without and
with its records), the Python module's Task.step (without and with records), VectorTask at
n = 1, 100 and 10,000, TankEnv in process and over TCP, and a raw TCP client against the
program at --batch-pause-ms 0.

Usage: engine_bench.py --loop build/fluxmere-engine-loop --exe build/fluxmere
                       --module build/python [--periods 30000] [--runs 3]
Every figure is nanoseconds a period (the median of the runs) and periods a second.
"""

import argparse
import contextlib
import os
import re
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def setup_text(periods):
    values = {"MaxTrial": periods, "InitialAmountInTank": 2, "GoalLinePoisition": 4,
              "InitialBackOrder": 0, "InitialForwardDischarge": 0,
              "MaxNumberOfAScenarioType": periods, "inFlowDelayValue": 2,
              "inFlowDelayLength": periods, "outFlowDelayValue": 1,
              "outFlowDelayLength": periods, "EnvInflowNoise": 0.5, "EnvSeed": 7}
    return "".join("%s = %s\r\n" % item for item in values.items())


def loop_figures(loop, setup, runs):
    out = subprocess.run([loop, setup, str(runs)], capture_output=True, text=True, check=True)
    return {name: float(value) for name, value in (line.split() for line in out.stdout.split("\n") if line)}


def module_ns(module, setup, periods, runs):
    sys.path.insert(0, module)
    import fluxmere
    spent = []
    for run in range(runs):
        task = fluxmere.Task(setup, seed=run + 1)
        step = task.step
        start = time.perf_counter()
        for period in range(periods):
            step(period % 3, 1.0)
        spent.append((time.perf_counter() - start) / periods * 1e9)
    return statistics.median(spent)


def vector_ns(module, setup, n, rounds):
    """A run-period of n runs stepped together (runs of 100 periods, played to their end)."""
    sys.path.insert(0, module)
    import numpy as np
    import fluxmere
    vector = fluxmere.VectorTask(setup, n, seeds=list(range(1, n + 1)))
    ui, uo = np.full(n, 1.0), np.full(n, 0.5)
    spent = []
    for round_ in range(rounds):
        vector.reset(list(range(round_ * n + 1, round_ * n + n + 1)))
        start = time.perf_counter()
        for _ in range(100):
            vector.step(ui, uo)
        spent.append((time.perf_counter() - start) / (100 * n) * 1e9)
    return statistics.median(spent)


def recorded_ns(module, setup, periods, runs):
    """Task.step recording into a data folder of its own, its close (the last block and the
    record, synced) included."""
    sys.path.insert(0, module)
    import fluxmere
    spent = []
    for run in range(runs):
        with tempfile.TemporaryDirectory() as folder:
            task = fluxmere.Task(setup, seed=run + 1, record=folder)
            step = task.step
            start = time.perf_counter()
            for period in range(periods):
                step(period % 3, 1.0)
            task.close()
            spent.append((time.perf_counter() - start) / periods * 1e9)
    return statistics.median(spent)


def env_ns(module, setup, periods, runs):
    sys.path.insert(0, module)
    import fluxmere
    env = fluxmere.TankEnv(setup)
    action = [1.0, 0.5]
    spent = []
    for run in range(runs):
        env.reset(seed=run)
        start = time.perf_counter()
        for _ in range(periods):
            env.step(action)
        spent.append((time.perf_counter() - start) / periods * 1e9)
    return statistics.median(spent)


@contextlib.contextmanager
def program_on(exe, setup):
    """A headless program with `setup`, pause-free, and the port it listens on."""
    with tempfile.TemporaryDirectory() as folder:
        data = os.path.join(folder, "data")
        subprocess.run([exe, "--data-dir", data, "--init"], capture_output=True, check=True)
        with open(os.path.join(data, "Setup.txt"), "w", newline="") as f:
            f.write(open(setup).read())
        program = subprocess.Popen([exe, "--data-dir", data, "--port", "0",
                                    "--batch-pause-ms", "0", "-platform", "offscreen"],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        port = None
        for line in program.stdout:
            found = re.match(r"Waiting for a model on port (\d+)\.", line)
            if found:
                port = int(found.group(1))
                break
        try:
            yield port
        finally:
            program.terminate()
            program.wait(10)


def tcp_ns(exe, setup, periods, runs):
    spent = []
    for _ in range(runs):
        with program_on(exe, setup) as port:
            with socket.create_connection(("127.0.0.1", port)) as sock:
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                replies = sock.makefile("rb")
                sock.sendall(b"ENTRY-ID bench VERSION BATCH\r\n")
                replies.readline()
                start = time.perf_counter()
                for period in range(periods):
                    sock.sendall(b"DECISION UI %d UO 1\r\n" % (period % 3))
                    replies.readline()
                spent.append((time.perf_counter() - start) / periods * 1e9)
    return statistics.median(spent)


def tcp_env_ns(exe, setup, periods, runs):
    sys.path.insert(0, os.path.join(ROOT, "clients", "python"))
    import fluxmere_client
    spent = []
    for run in range(runs):
        with program_on(exe, setup) as port:
            with fluxmere_client.TankEnv(port=port) as env:
                env.reset(seed=run + 1)
                start = time.perf_counter()
                for _ in range(periods):
                    env.step((1.0, 0.5))
                spent.append((time.perf_counter() - start) / periods * 1e9)
    return statistics.median(spent)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--loop", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--module", required=True)
    parser.add_argument("--periods", type=int, default=30000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        setup = os.path.join(scratch, "Setup.txt")
        with open(setup, "w", newline="") as f:
            f.write(setup_text(args.periods))
        short = os.path.join(scratch, "Short.txt")
        with open(short, "w", newline="") as f:
            f.write(setup_text(100))
        loop = loop_figures(args.loop, setup, args.runs)
        rows = [("core steps, C++ loop", loop["steps"]),
                ("a Data.txt line, formatted", loop["line"]),
                ("run object, no records", loop["run"]),
                ("run object, Data.txt and Runs.txt", loop["recorded"]),
                ("Task.step from Python", module_ns(args.module, setup, args.periods, args.runs)),
                ("Task.step, recording", recorded_ns(args.module, setup, args.periods, args.runs))]
        rows += [("VectorTask.step, n = %d, a run-period" % n,
                  vector_ns(args.module, short, n, args.runs)) for n in (1, 100, 10000)]
        tcp_periods = args.periods // 10
        rows += [("TankEnv.step in process", env_ns(args.module, setup, args.periods, args.runs)),
                 ("TankEnv.step over TCP", tcp_env_ns(args.exe, setup, tcp_periods, args.runs)),
                 ("TCP, raw client, pause 0", tcp_ns(args.exe, setup, tcp_periods, args.runs))]
    print("%-36s %12s %14s" % ("a period", "ns", "periods/s"))
    for name, ns in rows:
        print("%-36s %12.0f %14.0f" % (name, ns, 1e9 / ns))
    return 0


if __name__ == "__main__":
    sys.exit(main())
