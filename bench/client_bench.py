#!/usr/bin/env python3
"""The pace of a pause-free run played through the Python client library, set against a
lean raw-socket client.

Three clients play the same run (--batch-pause-ms 0, alternating orders), each on a fresh
instance of its own, one at a time and in turn for a number of rounds, so that a change in
the machine's load touches all alike:
  - raw:     one prepared send and one buffered line read a period (as bench/batch_bench.py);
  - Client:  fluxmere_client.Client.decide(), lock-step, its reply parsed into a State;
  - TankEnv: TankEnv.step(), the decision and RESULT sent together, both replies parsed.
It prints the median periods per second of each (with the least and greatest round) and
TankEnv's pace over the raw client's, taken within each round.

Usage: client_bench.py [--exe build/fluxmere] [--data build/data] [--periods 20000]
                       [--rounds 5]
Exit status: 0 when every run was played as the protocol says, 1 otherwise.
"""

import argparse
import os
import socket
import statistics
import struct
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "clients", "python"))
sys.path.insert(0, HERE)

from batch_bench import RUN_ERRORS, check_data, run_setup, spread  # noqa: E402
from fluxmere_client import Client, FluxmereError, TankEnv  # noqa: E402
from fluxmere_e2e import ModelClient, ProgramUnderTest, ProtocolError, parse_state  # noqa: E402

ORDERS = [(0, 1), (1, 0)]  # alternating, so that every flow keeps moving


def play_raw(port, periods):
    with ModelClient(port=port) as model:
        if parse_state(model.login("raw", "BATCH"))["time"] != 0:
            raise ProtocolError("the initial state is not TIME 0")
        sock = model.sock
        # As bench/batch_bench.py: the kernel bounds each wait, so Python need not poll.
        sock.settimeout(None)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVTIMEO, struct.pack("ll", 5, 0))
        reader = sock.makefile("rb")
        decisions = [b"DECISION UI %d UO %d\n" % order for order in ORDERS]
        expected = [b"STATE TIME %d " % period for period in range(periods + 1)]
        started = time.monotonic()
        for period in range(1, periods + 1):
            sock.sendall(decisions[period % 2])
            if not reader.readline().startswith(expected[period]):
                raise ProtocolError("period %d was not answered with its state" % period)
        ended = time.monotonic()
        reader.close()
    return ended - started


def play_client(port, periods):
    with Client(port) as client:
        client.login("client")
        started = time.monotonic()
        for period in range(1, periods + 1):
            if client.decide(*ORDERS[period % 2]).time != period:
                raise ProtocolError("period %d was not answered with its state" % period)
        return time.monotonic() - started


def play_env(port, periods):
    with TankEnv(port, name="env") as env:
        env.reset()
        started = time.monotonic()
        for period in range(1, periods + 1):
            observation, _, terminated, _, _ = env.step(ORDERS[period % 2])
            if observation["time"] != period or terminated != (period == periods):
                raise ProtocolError("period %d was not answered with its state" % period)
        return time.monotonic() - started


CLIENTS = [("raw", play_raw), ("Client", play_client), ("TankEnv", play_env)]


def one_run(args, play):
    with ProgramUnderTest(run_setup(args.periods), exe=args.exe, data=args.data,
                          args=["--batch-pause-ms", "0"]) as program:
        seconds = play(program.port, args.periods)
        # Each line is written before its state is sent: all are there by now.
        check_data(program, args.periods)
    return args.periods / seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", help="the fluxmere executable (default: build/fluxmere)")
    parser.add_argument("--data", help="its data folder, for the database (default: beside it)")
    parser.add_argument("--periods", type=int, default=20000, help="periods of a run")
    parser.add_argument("--rounds", type=int, default=5, help="rounds, each client once a round")
    args = parser.parse_args()
    if min(args.periods, args.rounds) < 1:
        parser.error("--periods and --rounds must be at least 1")
    print("load average before the runs: %.2f %.2f %.2f" % os.getloadavg())
    paces = {name: [] for name, _ in CLIENTS}
    try:
        for _ in range(args.rounds):
            for name, play in CLIENTS:
                paces[name].append(one_run(args, play))
    except RUN_ERRORS + (FluxmereError, socket.error) as error:
        print("client_bench: %s" % error, file=sys.stderr)
        return 1
    print("pause-free runs of %d periods, each client on an instance of its own, %d rounds"
          % (args.periods, args.rounds))
    print("%-10s %30s" % ("client", "periods/s median (min-max)"))
    for name, _ in CLIENTS:
        print("%-10s %30s" % (name, spread(paces[name], 1)))
    ratios = [env / raw for env, raw in zip(paces["TankEnv"], paces["raw"])]
    print("%-10s %30s" % ("TankEnv/raw", spread(ratios, 3)))
    print("TankEnv's median pace is %.3f of the raw client's (%.1f against %.1f periods/s)"
          % (statistics.median(ratios), statistics.median(paces["TankEnv"]),
             statistics.median(paces["raw"])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
