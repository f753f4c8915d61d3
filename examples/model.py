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

The program does not tell the model its bonus. The figure printed at the end is worked out
the way the program judges a period (the amount, rounded to 3 decimals, within 0.1 of the
goal earns 0.05 dollars; the base payment is 5 dollars), but from the amounts of the state
messages, which carry 2 decimals, so it is an estimate.

Only the Python 3 standard library is used. Run it with --help for the options.
"""

import argparse
import math
import socket
import sys
import time

BASE_PAYMENT = 5.0
BONUS_PER_PERIOD = 0.05
TOLERANCE = 0.1


class ModelError(Exception):
    """The program answered something the exchange does not allow, or went away."""


class Connection:
    """Lines to the program end with a line feed; its lines end with CR LF."""

    def __init__(self, host, port, connect_timeout, read_timeout):
        deadline = time.monotonic() + connect_timeout
        while True:
            try:
                self.sock = socket.create_connection((host, port), timeout=read_timeout)
                break
            except (ConnectionRefusedError, socket.timeout) as error:
                # The program may still be starting, or serving another model.
                if time.monotonic() >= deadline:
                    raise ModelError("cannot connect to %s:%d: %s" % (host, port, error))
                time.sleep(0.2)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = b""

    def send(self, message):
        self.sock.sendall(message.encode("ascii") + b"\n")

    def receive(self):
        while b"\n" not in self.buffer:
            try:
                chunk = self.sock.recv(4096)
            except socket.timeout:
                raise ModelError("no answer from the program in time")
            if not chunk:
                raise ModelError("the program closed the connection")
            self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line.rstrip(b"\r").decode("latin-1")

    def close(self):
        self.sock.close()


def parse_state(message):
    """STATE TIME t GOAL g AMOUNT a EI v EO v UI v UO v -> dict of numbers."""
    tokens = message.split(" ")
    names = ["TIME", "GOAL", "AMOUNT", "EI", "EO", "UI", "UO"]
    if len(tokens) != 15 or tokens[0] != "STATE" or tokens[1::2] != names:
        raise ModelError("expected a state message, got: %s" % message)
    try:
        values = [float(token) for token in tokens[2::2]]
    except ValueError:
        raise ModelError("a state message with a value that is not a number: %s" % message)
    return dict(zip([name.lower() for name in names], values))


def round3(x):
    """To 3 decimals, halves upwards, as the program rounds before judging the band."""
    return math.floor(x * 1000 + 0.5) / 1000


def in_band(amount, goal):
    return round3(goal - TOLERANCE) <= round3(amount) <= round3(goal + TOLERANCE)


def number(value):
    """A value as the program reads it: plain decimal text."""
    text = ("%.6f" % value).rstrip("0").rstrip(".")
    return "0" if text in ("", "-0") else text


def expected_environment(state, env_in=None, env_out=None):
    """The environment's flows the model expects in the coming period: its own when it sets
    them, else those of the last period (the initial state's -1 means none yet)."""
    return (max(0.0, state["ei"]) if env_in is None else env_in,
            max(0.0, state["eo"]) if env_out is None else env_out)


def decide(state, alpha, env_in, env_out):
    gap = state["goal"] - (state["amount"] + env_in - env_out)
    return alpha * max(0.0, gap), alpha * max(0.0, -gap)


def decision_message(inflow, outflow, env_in=None, env_out=None):
    """A decision; the environment's flows only when the model sets them, so that a run
    without them plays the environment the setup file schedules."""
    message = "DECISION UI %s UO %s" % (number(inflow), number(outflow))
    if env_in is not None:
        message += " EI %s" % number(env_in)
    if env_out is not None:
        message += " EO %s" % number(env_out)
    return message


def reset(connection):
    connection.send("SIMULATION RESET")
    reply = connection.receive()
    if reply != "SIMULATION_RESETED":
        raise ModelError("expected SIMULATION_RESETED, got: %s" % reply)


def play_run(connection, name, mode="BATCH", alpha=1.0, env_in=None, env_out=None,
             say=lambda text: None):
    """Logs in and plays one run to its end. Returns the number of periods played and the
    payment estimated from the state messages."""
    connection.send("ENTRY-ID %s VERSION %s" % (name, mode))
    reply = connection.receive()
    if reply.startswith("Bad login"):
        raise ModelError("the login was refused: %s" % reply)
    state = parse_state(reply)
    if state["time"] != 0:
        raise ModelError("expected the initial state (TIME 0), got: %s" % reply)
    say("goal %.2f, amount %.2f" % (state["goal"], state["amount"]))
    periods = 0
    bonus = BASE_PAYMENT
    while True:
        inflow, outflow = decide(state, alpha, *expected_environment(state, env_in, env_out))
        connection.send(decision_message(inflow, outflow, env_in, env_out))
        reply = connection.receive()
        if reply == "END_PROGRAM":
            break  # the decision came after the last period and played nothing
        if reply.startswith("Bad decision"):
            raise ModelError("a decision was refused: %s" % reply)
        state = parse_state(reply)
        periods += 1
        if state["time"] != periods:
            raise ModelError("expected period %d, got: %s" % (periods, reply))
        if in_band(state["amount"], state["goal"]):
            bonus += BONUS_PER_PERIOD
        say("period %d: amount %.2f" % (periods, state["amount"]))
    return periods, bonus


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
            periods, bonus = play_run(connection, args.name, args.mode, args.alpha,
                                      args.env_in, args.env_out, say)
            print("run %d: %d periods, estimated payment $%.2f (base $%.2f plus $%.2f for each"
                  " period within %.1f of the goal)" % (run, periods, bonus, BASE_PAYMENT,
                                                        BONUS_PER_PERIOD, TOLERANCE))
        if not args.no_quit:
            connection.send("QUIT")  # the program ends without answering
    except (ModelError, OSError) as error:
        print("model: %s" % error, file=sys.stderr)
        return 1
    finally:
        connection.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
