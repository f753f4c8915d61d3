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

Then, given the two bare servers (bench/bare_server.c and bench/bare_qt_server.cpp, which do
only a period's least work: frame, update the amount, append the line, answer), it sets the
program's pause-free pace and CPU time per period against theirs: the three are played by
the same client, one at a time, in turn for a number of rounds, so that a change in the
machine's load touches all three alike.

Usage: batch_bench.py [--exe build/fluxmere] [--data build/data] [--periods 1000]
                      [--fast-periods 20000] [--instances 1,2,4]
                      [--bare-c build/fluxmere-bare-c --bare-qt build/fluxmere-bare-qt]
                      [--rounds 5] [--compare-periods 20000] [--only-compare]
Exit status: 0 when every run was played as the protocol says, 1 otherwise.
"""

import argparse
import os
import socket
import statistics
import struct
import subprocess
import sys
import time
from contextlib import ExitStack

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))

from fluxmere_e2e import (  # noqa: E402
    DATA_COLUMNS,
    EXIT_TIMEOUT,
    READ_TIMEOUT,
    ModelClient,
    ProgramUnderTest,
    ProtocolError,
    parse_state,
)

FLOOR_MS = 5.0
CLIENT_TIMEOUT = 600.0
# What a failed run raises: a protocol check, a wait, the connection or a process.
RUN_ERRORS = (ProtocolError, TimeoutError, ConnectionError, OSError, RuntimeError,
              subprocess.TimeoutExpired)


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


def run_setup(periods):
    """A setup whose run lasts `periods` periods, with no delay change before its end."""
    return {"MaxTrial": periods, "MaxNumberOfAScenarioType": periods,
            "inFlowDelayLength": periods, "outFlowDelayLength": periods}


def start_client(stack, port, periods):
    """A client process for the server on `port`; it is killed when `stack` closes."""
    process = subprocess.Popen(
        [sys.executable, os.path.abspath(__file__), "--client", str(port),
         "--periods", str(periods)], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    stack.callback(process.kill)
    return process


def await_logins(clients):
    """Returns once every client has logged in and waits for "go"."""
    for process in clients:
        if process.stdout.readline().strip() != "ready":
            raise ProtocolError("a client could not log in (status %r)" % process.wait(5))


def play(clients):
    """Lets logged-in clients go together; returns each one's times of its first decision
    and its last state message."""
    for process in clients:
        process.stdin.write("go\n")
        process.stdin.flush()
    times = []
    for process in clients:
        out, _ = process.communicate(timeout=CLIENT_TIMEOUT)
        if process.returncode != 0:
            raise ProtocolError("a client failed with status %d" % process.returncode)
        times.append([float(value) for value in out.split()])
    return times


def check_data(server, periods):
    """ProtocolError unless Data.txt holds one line of every column for each period."""
    rows = server.data_rows()
    if len(rows) - 1 != periods:
        raise ProtocolError("Data.txt holds %d period lines, expected %d"
                            % (len(rows) - 1, periods))
    if any(len(row) != len(DATA_COLUMNS) for row in rows):
        raise ProtocolError("a line of Data.txt does not hold %d fields" % len(DATA_COLUMNS))


def measure(args, pause, instances, periods):
    """Periods per second of `instances` instances side by side, and the slowest one's."""
    options = [] if pause is None else ["--batch-pause-ms", str(pause)]
    with ExitStack() as stack:
        programs = [stack.enter_context(ProgramUnderTest(run_setup(periods), exe=args.exe,
                                                         data=args.data, args=options))
                    for _ in range(instances)]
        clients = [start_client(stack, program.port, periods) for program in programs]
        await_logins(clients)
        times = play(clients)
        for program in programs:
            if program.wait_exit() != 0:
                raise ProtocolError("an instance ended with status %r: %s"
                                    % (program.process.returncode, program.stderr_text()))
            check_data(program, periods)
    elapsed = max(end for _, end in times) - min(start for start, _ in times)
    slowest = max(end - start for start, end in times)
    return instances * periods / elapsed, periods / slowest, elapsed


def cpu_so_far(pid):
    """CPU seconds (user and system) a running process has used, in clock ticks' steps."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rpartition(")")[2].split()
    # utime and stime, the 14th and 15th fields; the 3rd is the first after the name.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wait_with_usage(process, timeout=EXIT_TIMEOUT):
    """The exit code and CPU seconds (user and system, all threads) of an ending server.

    The child is reaped here, by wait4, for its rusage; Popen never sees that status, so its
    return code is set from it, and Popen's own later wait returns at once."""
    deadline = time.monotonic() + timeout
    while True:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() > deadline:
            raise TimeoutError("a server is still running %.0f s after its client left"
                               % timeout)
        time.sleep(0.002)
    process.returncode = os.waitstatus_to_exitcode(status)
    return process.returncode, usage.ru_utime + usage.ru_stime


def compare_run(args, server, periods):
    """One run of `server` (a COMPARED name) played by one client: its periods per second,
    its CPU microseconds per period and the CPU milliseconds it had used at log-in."""
    exe, options = {"program": (args.exe, ["--batch-pause-ms", "0"]),
                    "C": (args.bare_c, []), "Qt": (args.bare_qt, [])}[server]
    with ExitStack() as stack:
        running = stack.enter_context(ProgramUnderTest(run_setup(periods), exe=exe,
                                                       data=args.data, args=options))
        model = start_client(stack, running.port, periods)
        await_logins([model])
        start_up = cpu_so_far(running.process.pid)
        [(started, ended)] = play([model])
        status, cpu = wait_with_usage(running.process)
        if status != 0:
            raise ProtocolError("the %s server ended with status %r: %s"
                                % (server, status, running.stderr_text()))
        check_data(running, periods)
    return periods / (ended - started), cpu / periods * 1e6, start_up * 1e3


COMPARED = ["program", "C", "Qt"]
# The program's figures over a bare server's: that server, the figure's name and its index.
RATIOS = [("C", "periods/s", 0), ("C", "CPU us/period", 1),
          ("Qt", "periods/s", 0), ("Qt", "CPU us/period", 1)]


def spread(values, decimals):
    """'median (min-max)'."""
    return "%.*f (%.*f-%.*f)" % (decimals, statistics.median(values), decimals, min(values),
                                 decimals, max(values))


def compare(args):
    """Plays the program without pauses and the two bare servers in turn, round after round,
    and prints each one's pace and CPU time per period, and their ratios round by round."""
    results = {server: [] for server in COMPARED}
    for round_ in range(1, args.rounds + 1):
        for server in COMPARED:
            try:
                results[server].append(compare_run(args, server, args.compare_periods))
            except RUN_ERRORS as error:
                raise RuntimeError("%s, round %d: %s" % (server, round_, error)) from error
    print("\nthe program without pauses against the bare servers: %d periods a run, each "
          "server once a round,\none at a time, %d rounds" % (args.compare_periods,
                                                               args.rounds))
    print("%-10s %26s %26s %24s" % ("server", "periods/s", "CPU us/period",
                                    "CPU ms at log-in"))
    for server in COMPARED:
        paces, cpus, start_ups = zip(*results[server])
        print("%-10s %26s %26s %24s" % (server, spread(paces, 1), spread(cpus, 2),
                                        spread(start_ups, 0)))
    print("%-10s %-14s %20s" % ("ratio", "of", "median (min-max)"))
    for bare, figure, index in RATIOS:
        ratios = [mine[index] / theirs[index]
                  for mine, theirs in zip(results["program"], results[bare])]
        print("%-10s %-14s %20s" % ("program/" + bare, figure, spread(ratios, 2)))
    print("each figure: the median of the rounds, with their least and greatest; a ratio is "
          "taken\nwithin each round. CPU us/period: the server's user and system time over "
          "its whole life,\nfrom its rusage, per period played; the start-up it includes "
          "is the CPU at log-in,\nread from /proc in clock ticks.")


def measure_all(args):
    """The program alone: its own pauses, then none with each count of instances."""
    runs = [("1 ms pauses", None, 1, args.periods)]
    runs += [("no pauses", 0, count, args.fast_periods) for count in args.instances]
    print("%-12s %9s %8s %9s %11s %12s %8s" % ("mode", "instances", "periods", "seconds",
                                               "periods/s", "slowest one", "scaling"))
    single = None
    for name, pause, count, periods in runs:
        rate, slowest, elapsed = measure(args, pause, count, periods)
        if pause is None:
            specified_ms = 1000.0 / rate
        elif count == 1 or single is None:
            single = rate / count
        print("%-12s %9d %8d %9.3f %11.1f %12.1f %8s" % (
            name, count, periods, elapsed, rate, slowest,
            "%.2f" % (rate / (count * single)) if pause == 0 else "-"), flush=True)
    print("periods/s: all instances' periods over the time from the first decision to the "
          "last state;\nslowest one: the slowest instance's own pace; scaling: periods/s over "
          "N times one instance's.")
    print("1 ms pauses: %.3f ms per period, %.2f times the %.0f ms floor of five 1 ms steps"
          % (specified_ms, specified_ms / FLOOR_MS, FLOOR_MS))


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
    parser.add_argument("--bare-c", metavar="PATH",
                        help="the bare C server (fluxmere-bare-c) to set the program against")
    parser.add_argument("--bare-qt", metavar="PATH",
                        help="the bare Qt server (fluxmere-bare-qt) to set the program against")
    parser.add_argument("--rounds", type=int, default=5,
                        help="rounds of the comparison, each server once a round (default 5)")
    parser.add_argument("--compare-periods", type=int, default=20000,
                        help="periods of a run in the comparison (default 20000)")
    parser.add_argument("--only-compare", action="store_true",
                        help="run the comparison with the bare servers alone")
    parser.add_argument("--client", type=int, metavar="PORT", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if min(args.periods, args.fast_periods, args.rounds, args.compare_periods) < 1:
        parser.error("--periods, --fast-periods, --rounds and --compare-periods must be at "
                     "least 1")
    if args.client is not None:
        return client(args.client, args.periods)
    comparing = bool(args.bare_c and args.bare_qt)
    if args.only_compare and not comparing:
        parser.error("--only-compare needs --bare-c and --bare-qt")

    # Other work on the machine shows in every figure; the load says how much there was.
    print("load average before the runs: %.2f %.2f %.2f" % os.getloadavg())
    try:
        if not args.only_compare:
            measure_all(args)
        if comparing:
            compare(args)
        else:
            print("\nno comparison with the bare servers: --bare-c and --bare-qt were not "
                  "both given")
    except RUN_ERRORS as error:
        print("batch_bench: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
