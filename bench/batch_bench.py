#!/usr/bin/env python3
"""Plays a long BATCH run against the real program over loopback and reports its pace.

The program is started headless in a private temporary folder (as the end-to-end tests do)
with a scenario of --periods periods. The model decides at once on every state message, so
the time per period is the program's own: its five timer steps of 1 ms each, the drawing
of the hidden task window, the data-file line and the loopback round trip. The floor is
5 ms per period, the five steps alone.

Usage: batch_bench.py [--exe build/fluxmere] [--data build/data] [--periods 1000]
Exit status: 0 when the whole run was played as the protocol says, 1 otherwise.
"""

import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))

from fluxmere_e2e import ProgramUnderTest, ProtocolError, parse_state  # noqa: E402

FLOOR_MS = 5.0


def play(program, periods):
    """Seconds for `periods` periods, from the first decision to the last state message."""
    with program.connect() as model:
        initial = parse_state(model.login("bench", "BATCH"))
        if initial["time"] != 0:
            raise ProtocolError("the initial state is not TIME 0: %r" % initial)
        started = time.perf_counter()
        for period in range(1, periods + 1):
            # Alternating orders keep every flow moving without driving the amount away.
            reply = model.exchange("DECISION UI %d UO %d" % (period % 2, (period + 1) % 2))
            state = parse_state(reply)
            if state["time"] != period:
                raise ProtocolError("period %d answered with %r" % (period, reply))
        elapsed = time.perf_counter() - started
        reply = model.exchange("DECISION UI 0")
        if reply != "END_PROGRAM":
            raise ProtocolError("a decision after the last period got %r" % reply)
        model.send_line("QUIT")
        model.wait_closed()
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", help="the fluxmere executable (default: build/fluxmere)")
    parser.add_argument("--data", help="its data folder, for the database (default: beside it)")
    parser.add_argument("--periods", type=int, default=1000)
    args = parser.parse_args()
    if args.periods < 1:
        parser.error("--periods must be at least 1")

    setup = {"MaxTrial": args.periods, "MaxNumberOfAScenarioType": args.periods,
             "inFlowDelayLength": args.periods, "outFlowDelayLength": args.periods}
    try:
        with ProgramUnderTest(setup, exe=args.exe, data=args.data) as program:
            elapsed = play(program, args.periods)
            lines = len(program.data_rows()) - 1
            if lines != args.periods:
                raise ProtocolError("Data.txt holds %d period lines, expected %d"
                                    % (lines, args.periods))
    except (ProtocolError, TimeoutError, ConnectionError, OSError, RuntimeError) as error:
        print("batch_bench: %s" % error, file=sys.stderr)
        return 1

    per_period_ms = elapsed * 1000.0 / args.periods
    print("BATCH run of %d periods over loopback: %.3f s" % (args.periods, elapsed))
    print("periods per second:   %.1f" % (args.periods / elapsed))
    print("ms per period:        %.3f" % per_period_ms)
    print("ratio to the %.0f ms floor (five 1 ms steps): %.2f" % (FLOOR_MS,
                                                                  per_period_ms / FLOOR_MS))
    return 0


if __name__ == "__main__":
    sys.exit(main())
