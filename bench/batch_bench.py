#!/usr/bin/env python3
"""Plays long BATCH runs against the real program over loopback and reports their pace.

In one run on one machine it measures periods per second for:
  - the program's own pauses (five timer steps of 1 ms a period), one instance;
  - --batch-pause-ms 0 with 1, 2 and 4 instances side by side.
Each instance is started headless on a data folder and a port of its own (as the end-to-end
tests do) and is played by a client process of its own, so that the clients do not share
one Python interpreter. The clients log in, wait until all are ready, then decide at once on
every state message; the pace of N instances is N runs' periods over the time from the first
client's first decision to the last client's last state message.

Usage: batch_bench.py [--exe build/fluxmere] [--data build/data] [--periods 1000]
                      [--fast-periods 20000] [--instances 1,2,4]
Exit status: 0 when every run was played as the protocol says, 1 otherwise.
"""

import argparse
import os
import socket
import struct
import subprocess
import sys
import time
from contextlib import ExitStack

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))

from fluxmere_e2e import (  # noqa: E402
    READ_TIMEOUT,
    ModelClient,
    ProgramUnderTest,
    ProtocolError,
    parse_state,
)

FLOOR_MS = 5.0
CLIENT_TIMEOUT = 600.0


def client(port, periods):
    """One instance's client: logs in, says "ready", waits for "go" on standard input, plays
    `periods` periods and prints the monotonic times of its first decision and last state."""
    with ModelClient(port=port) as model:
        initial = parse_state(model.login("bench", "BATCH"))
        if initial["time"] != 0 or model.buffer:
            raise ProtocolError("the initial state is not TIME 0: %r" % initial)
        # The measured loop is lean: one send and one buffered line read a period, the
        # messages made beforehand.
        sock = model.sock
        # The kernel bounds each wait, so that Python need not poll before every read.
        sock.settimeout(None)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVTIMEO,
                        struct.pack("ll", int(READ_TIMEOUT), 0))
        reader = sock.makefile("rb")
        # Alternating orders keep every flow moving without driving the amount away.
        decisions = [b"DECISION UI 0 UO 1\n", b"DECISION UI 1 UO 0\n"]
        expected = [b"STATE TIME %d " % period for period in range(periods + 1)]
        print("ready", flush=True)
        if sys.stdin.readline().strip() != "go":
            return 1
        started = time.monotonic()
        for period in range(1, periods + 1):
            sock.sendall(decisions[period % 2])
            line = reader.readline()
            if not line.startswith(expected[period]):
                raise ProtocolError("period %d answered with %r" % (period, line))
        ended = time.monotonic()
        sock.sendall(b"DECISION UI 0\n")
        if reader.readline() != b"END_PROGRAM\r\n":
            raise ProtocolError("a decision after the last period got no END_PROGRAM")
        sock.sendall(b"QUIT\n")
        reader.close()
        model.wait_closed()
    print("%.9f %.9f" % (started, ended), flush=True)
    return 0


def measure(args, pause, instances, periods):
    """Periods per second of `instances` instances side by side, and the slowest one's."""
    setup = {"MaxTrial": periods, "MaxNumberOfAScenarioType": periods,
             "inFlowDelayLength": periods, "outFlowDelayLength": periods}
    options = [] if pause is None else ["--batch-pause-ms", str(pause)]
    with ExitStack() as stack:
        programs = [stack.enter_context(ProgramUnderTest(setup, exe=args.exe, data=args.data,
                                                         args=options))
                    for _ in range(instances)]
        clients = []
        for program in programs:
            process = subprocess.Popen(
                [sys.executable, os.path.abspath(__file__), "--client", str(program.port),
                 "--periods", str(periods)], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                text=True)
            stack.callback(process.kill)
            clients.append(process)
        for process in clients:
            if process.stdout.readline().strip() != "ready":
                raise ProtocolError("a client could not log in (status %r)" % process.wait(5))
        for process in clients:
            process.stdin.write("go\n")
            process.stdin.flush()
        times = []
        for process in clients:
            out, _ = process.communicate(timeout=CLIENT_TIMEOUT)
            if process.returncode != 0:
                raise ProtocolError("a client failed with status %d" % process.returncode)
            times.append([float(value) for value in out.split()])
        for program in programs:
            if program.wait_exit() != 0:
                raise ProtocolError("an instance ended with status %r: %s"
                                    % (program.process.returncode, program.stderr_text()))
            lines = len(program.data_rows()) - 1
            if lines != periods:
                raise ProtocolError("Data.txt holds %d period lines, expected %d"
                                    % (lines, periods))
    elapsed = max(end for _, end in times) - min(start for start, _ in times)
    slowest = max(end - start for start, end in times)
    return instances * periods / elapsed, periods / slowest, elapsed


def counts(text):
    try:
        values = [int(part) for part in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError("a comma-separated list of whole numbers: %r" % text)
    if not values or min(values) < 1:
        raise argparse.ArgumentTypeError("instance counts must be at least 1: %r" % text)
    return values


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", help="the fluxmere executable (default: build/fluxmere)")
    parser.add_argument("--data", help="its data folder, for the database (default: beside it)")
    parser.add_argument("--periods", type=int, default=1000,
                        help="periods of a run with the program's own pauses")
    parser.add_argument("--fast-periods", type=int, default=20000,
                        help="periods of a run without pauses")
    parser.add_argument("--instances", type=counts, default=[1, 2, 4],
                        help="instance counts to play without pauses (default 1,2,4)")
    parser.add_argument("--client", type=int, metavar="PORT", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.periods < 1 or args.fast_periods < 1:
        parser.error("--periods and --fast-periods must be at least 1")
    if args.client is not None:
        return client(args.client, args.periods)

    # Other work on the machine shows in every figure; the load says how much there was.
    print("load average before the runs: %.2f %.2f %.2f" % os.getloadavg())
    runs = [("1 ms pauses", None, 1, args.periods)]
    runs += [("no pauses", 0, count, args.fast_periods) for count in args.instances]
    print("%-12s %9s %8s %9s %11s %12s %8s" % ("mode", "instances", "periods", "seconds",
                                               "periods/s", "slowest one", "scaling"))
    single = None
    try:
        for name, pause, count, periods in runs:
            rate, slowest, elapsed = measure(args, pause, count, periods)
            if pause is None:
                specified_ms = 1000.0 / rate
            elif count == 1 or single is None:
                single = rate / count
            print("%-12s %9d %8d %9.3f %11.1f %12.1f %8s" % (
                name, count, periods, elapsed, rate, slowest,
                "%.2f" % (rate / (count * single)) if pause == 0 else "-"), flush=True)
    except (ProtocolError, TimeoutError, ConnectionError, OSError, RuntimeError,
            subprocess.TimeoutExpired) as error:
        print("batch_bench: %s" % error, file=sys.stderr)
        return 1
    print("periods/s: all instances' periods over the time from the first decision to the "
          "last state;\nslowest one: the slowest instance's own pace; scaling: periods/s over "
          "N times one instance's.")
    print("1 ms pauses: %.3f ms per period, %.2f times the %.0f ms floor of five 1 ms steps"
          % (specified_ms, specified_ms / FLOOR_MS, FLOOR_MS))
    return 0


if __name__ == "__main__":
    sys.exit(main())
