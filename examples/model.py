#!/usr/bin/env python3
"""An example model for Fluxmere: logs in over TCP and plays whole runs of the tank task.

Each period it reads the state message and orders with an anchoring-and-adjustment rule:
it anchors on the amount it expects after the environment's flows of the coming period and
adjusts a share `alpha` of the way to the goal:

    gap     = goal - (amount + env_in - env_out)
    inflow  = alpha * max(0, gap)
    outflow = alpha * max(0, -gap)

By default the environment is whatever the setup file schedules: the model sends no flows
of its own and expects each period's environment to repeat the last one it saw (none before
period 1). With --env-in / --env-out it sets those flows itself, sending them with every
decision, and so knows them.

With the default scenario (both delays 1) and alpha 1 every order acts in its own period,
so the amount sits on the goal from period 1 on. With longer delays the rule, which ignores
the orders still on their way, overshoots and oscillates, as people tend to.

It plays through the client library clients/python/fluxmere_client.py; at the end of each
run it asks the program for the run's result (RESULT) and prints the payment.

Only the Python 3 standard library is used. Run it with --help for the options.
"""

import argparse
import os
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "clients", "python"))

import fluxmere_client  # noqa: E402

# What the program answers outside the exchange, or a connection it closes.
ModelError = fluxmere_client.FluxmereError


class Connection(fluxmere_client.Client):
    """The client, connected to the program, trying again for `connect_timeout` seconds
    while it starts or serves another model; send() sends one message as it stands."""

    def __init__(self, host, port, connect_timeout, read_timeout):
        deadline = time.monotonic() + connect_timeout
        while True:
            try:
                super().__init__(port, host, read_timeout)
                return
            except (ConnectionRefusedError, socket.timeout) as error:
                if time.monotonic() >= deadline:
                    raise ModelError("cannot connect to %s:%d: %s" % (host, port, error))
                time.sleep(0.2)

    def send(self, message):
        self._send(message)


def number(value):
    """A value as plain decimal text, for names and tables."""
    text = ("%.6f" % value).rstrip("0").rstrip(".")
    return "0" if text in ("", "-0") else text


def expected_environment(state, env_in=None, env_out=None):
    """The environment's flows the model expects in the coming period: its own when it sets
    them, else those of the last period (the initial state's -1 means none yet)."""
    return (max(0.0, state.ei) if env_in is None else env_in,
            max(0.0, state.eo) if env_out is None else env_out)


def decide(state, alpha, env_in, env_out):
    gap = state.goal - (state.amount + env_in - env_out)
    return alpha * max(0.0, gap), alpha * max(0.0, -gap)


class _Figures:
    """A period's figures from the Python module under the names of the STATE message."""

    def __init__(self, figures):
        _, self.amount, self.goal, self.ei, self.eo = figures[:5]


def policy(alpha=1.0, env_in=None, env_out=None):
    """The same rule in process (`model:policy`, e.g. for fluxmere.play): a fresh policy
    `(figures, pipeline) -> (inflow, outflow)` for one run, given the figures of
    fluxmere.Task.step, which carry STATE's numbers at full precision."""
    alpha = float(alpha)

    def order(figures, pipeline):
        state = _Figures(figures)
        return decide(state, alpha, *expected_environment(state, env_in, env_out))

    return order


def reset(client):
    client.reset()


def play_run(client, name, mode="BATCH", alpha=1.0, env_in=None, env_out=None,
             say=lambda text: None):
    """Logs in and plays one run to its end. Returns the number of periods played and the
    run's result as the program gives it (in_band, bonus, payment, ...)."""
    state = client.login(name, mode)
    if state.time != 0:
        raise ModelError("expected the initial state (TIME 0), got period %d" % state.time)
    say("goal %.2f, amount %.2f" % (state.goal, state.amount))
    periods = 0
    while True:
        inflow, outflow = decide(state, alpha, *expected_environment(state, env_in, env_out))
        state = client.decide(inflow, outflow, env_in, env_out)
        if state is None:
            break  # the decision came after the last period and played nothing
        periods += 1
        if state.time != periods:
            raise ModelError("expected period %d, got period %d" % (periods, state.time))
        say("period %d: amount %.2f" % (periods, state.amount))
    return periods, client.result()


def main(argv=None):
    parser = argparse.ArgumentParser(description="Plays the tank task as a model over TCP.")
    parser.add_argument("--name", default="alpha", help="model name (no blanks)")
    parser.add_argument("--mode", default="BATCH", choices=["BATCH", "NONBATCH"],
                        help="BATCH: hidden, 1 ms pauses; NONBATCH: shown, 2 s pauses")
    parser.add_argument("--runs", type=int, default=1, help="runs, with a reset between them")
    parser.add_argument("--alpha", type=float, default=1.0,
                        help="share of the gap to the goal ordered each period")
    parser.add_argument("--env-in", type=float,
                        help="environment inflow of every period, sent with each decision "
                             "(default: none sent; the setup file's schedule plays)")
    parser.add_argument("--env-out", type=float,
                        help="environment outflow of every period, sent with each decision "
                             "(default: none sent)")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=9548)
    parser.add_argument("--connect-timeout", type=float, default=10.0,
                        help="seconds to keep trying to connect while the program starts")
    parser.add_argument("--timeout", type=float, default=30.0,
                        help="seconds to wait for each answer")
    parser.add_argument("--no-quit", action="store_true",
                        help="leave the program running at the end instead of sending QUIT")
    parser.add_argument("--quiet", action="store_true", help="print only each run's result")
    args = parser.parse_args(argv)
    if not args.name or any(c.isspace() or ord(c) <= 32 for c in args.name):
        parser.error("--name must be a non-empty word without blanks")
    if args.runs < 1:
        parser.error("--runs must be at least 1")

    try:
        connection = Connection(args.host, args.port, args.connect_timeout, args.timeout)
    except ModelError as error:
        print("model: %s" % error, file=sys.stderr)
        return 2
    try:
        for run in range(1, args.runs + 1):
            if run > 1:
                reset(connection)
            say = (lambda text: None) if args.quiet else (
                lambda text, run=run: print("run %d: %s" % (run, text)))
            periods, result = play_run(connection, args.name, args.mode, args.alpha,
                                       args.env_in, args.env_out, say)
            print("run %d: %d periods, %d in the band, payment $%s (bonus $%s)"
                  % (run, periods, result["in_band"], number(result["payment"]),
                     number(result["bonus"])))
        if not args.no_quit:
            connection.quit()  # the program ends without answering
    except (ModelError, OSError, ValueError) as error:
        print("model: %s" % error, file=sys.stderr)
        return 1
    finally:
        connection.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
