#!/usr/bin/env python3
"""Prints an environment schedule line for Setup.txt.

The keys EnvInflowSchedule and EnvOutflowSchedule take a comma-separated list of numbers for
periods 1, 2, 3, ...: one value for the same flow every period, else exactly MaxTrial values.
This writes the patterns dynamic-decision studies commonly use:

    constant  --level L                          L every period (one value)
    linear    --start A --end B                  A in period 1 rising or falling to B in the last
    sine      --level L --amplitude M --cycles C [--phase F]
              L + M sin(2 pi (C (t - 1) / periods + F)): C whole waves over the run
    step      --level L --to H --at P            L before period P, H from it on
    noise     --level L --sd S [--seed N]        L plus normal noise of deviation S, repeatable
                                                 by its seed

Every value is raised to --min (0 by default: a flow is not negative) and rounded to
--decimals places. For example:

    python3 examples/schedule.py sine --periods 20 --level 2 --amplitude 1 --cycles 2 \\
        --key EnvInflowSchedule >> data/Setup.txt

Only the Python 3 standard library is used.
"""

import argparse
import math
import random
import sys

KEYS = ["EnvInflowSchedule", "EnvOutflowSchedule"]
# The patterns' numbers: option, default, help.
NUMBERS = [
    ("--level", 0.0, "the constant, the mean of a sine or noise, a step's first level"),
    ("--start", 0.0, "linear: period 1's value"),
    ("--end", 1.0, "linear: the last period's value"),
    ("--amplitude", 1.0, "sine: its amplitude"),
    ("--cycles", 1.0, "sine: whole waves over the run (default 1)"),
    ("--phase", 0.0, "sine: its start, in parts of a wave (0.25: at the crest)"),
    ("--to", 1.0, "step: the level after it"),
    ("--sd", 0.1, "noise: its standard deviation"),
    ("--min", 0.0, "values below it are raised to it (default 0)"),
]


def values(args):
    """The schedule's values, one per period (one in all for a constant)."""
    n = args.periods
    if args.pattern == "constant":
        return [args.level]
    if args.pattern == "linear":
        return [args.start + (args.end - args.start) * (t / (n - 1) if n > 1 else 0)
                for t in range(n)]
    if args.pattern == "sine":
        return [args.level + args.amplitude * math.sin(2 * math.pi * (args.cycles * t / n
                                                                      + args.phase))
                for t in range(n)]
    if args.pattern == "step":
        return [args.level if t < args.at else args.to for t in range(1, n + 1)]
    generator = random.Random(args.seed)
    return [args.level + generator.gauss(0.0, args.sd) for _ in range(n)]


def number(value, decimals):
    text = ("%.*f" % (decimals, value)).rstrip("0").rstrip(".") if decimals else "%.0f" % value
    return "0" if text in ("", "-0") else text


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Prints an EnvInflowSchedule or EnvOutflowSchedule line for Setup.txt.",
        epilog=__doc__.split("\n\n")[2], formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("pattern", choices=["constant", "linear", "sine", "step", "noise"])
    parser.add_argument("--key", choices=KEYS, default=KEYS[0],
                        help="the setup key to write (default %(default)s)")
    parser.add_argument("--periods", type=int, default=100,
                        help="MaxTrial: the number of values (default %(default)s)")
    for option, default, text in NUMBERS:
        parser.add_argument(option, type=float, default=default, help=text)
    parser.add_argument("--at", type=int, default=None,
                        help="step: the first period at the new level (default: half way)")
    parser.add_argument("--seed", type=int, default=1, help="noise: its seed (default 1)")
    parser.add_argument("--decimals", type=int, default=3,
                        help="decimal places (default %(default)s)")
    args = parser.parse_args(argv)
    if args.periods < 1:
        parser.error("--periods must be at least 1")
    if not 0 <= args.decimals <= 15:
        parser.error("--decimals takes 0 to 15")
    if not all(math.isfinite(v) for v in vars(args).values() if isinstance(v, float)):
        parser.error("every number must be finite")
    if args.sd < 0:
        parser.error("--sd must not be negative")
    if args.at is None:
        args.at = args.periods // 2 + 1
    numbers = [number(max(args.min, value), args.decimals) for value in values(args)]
    print("%s = %s" % (args.key, ", ".join(numbers)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
