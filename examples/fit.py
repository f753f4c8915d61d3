#!/usr/bin/env python3
"""Fits the example model's alpha to recorded runs, and shows that the fit finds it.

Simulates a few "people" who order by the example model's rule (examples/model.py) at a
known alpha, each with a little decision noise and a noisy environment of its own seed, and
records them into a scratch data folder as the program would. It then reads the folder back
(fluxmere.records.read_folder), scores the rule over a grid of alphas against those runs
(fluxmere.records.score: each period the rule is shown the person's own history, and its
orders are compared with the person's), prints the grid and the alpha that fits best, and
exits 0 when that is the known one (1 when it is not).

    python3 examples/fit.py [--alpha 0.6] [--people 6] [--folder runs/fit]
"""

import argparse
import os
import random
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
# The package from $FLUXMERE_PYTHON, else the build beside this checkout, else the installed one.
for place in (os.environ.get("FLUXMERE_PYTHON"), os.path.join(os.path.dirname(HERE), "build",
                                                              "python")):
    if place and os.path.isdir(os.path.join(place, "fluxmere")):
        sys.path.insert(1, place)
        break
try:
    import fluxmere
    from fluxmere import records
except ImportError as error:
    sys.exit("fit: the Python module fluxmere is not built or installed (%s)" % error)

import model  # noqa: E402  (examples/model.py: its rule and its in-process policy)

PERIODS = 30
# Inflow orders act a period late; the environment has a steady inflow and noise.
SETUP = """\
MaxTrial = %d
InitialAmountInTank = 2
GoalLinePoisition = 4
InitialBackOrder = 0
InitialForwardDischarge = 0
MaxNumberOfAScenarioType = %d
inFlowDelayValue = 2
inFlowDelayLength = %d
outFlowDelayValue = 1
outFlowDelayLength = %d
EnvInflowSchedule = 0.5
EnvInflowNoise = 0.3
EnvOutflowNoise = 0.3
""".replace("\n", "\r\n") % ((PERIODS,) * 4)
GRID = [round(0.2 + 0.1 * step, 2) for step in range(11)]  # 0.2 ... 1.2


def person(alpha, noise):
    """The rule at `alpha`, each order off by a random factor of about 10 %."""
    rule = model.policy(alpha)

    def order(figures, pipeline):
        inflow, outflow = rule(figures, pipeline)
        return inflow * noise.lognormvariate(0, 0.1), outflow * noise.lognormvariate(0, 0.1)

    return order


def record_people(folder, alpha, count):
    for number in range(1, count + 1):
        task = fluxmere.Task(SETUP, seed=1000 + number, record=folder, name="p%d" % number)
        fluxmere.play(task, person(alpha, random.Random(number)))
        del task  # its record is written when it goes


def fit(folder, alpha, people):
    """Records the people, reads them back and scores the rule at each alpha of the grid."""
    os.makedirs(folder, exist_ok=True)
    record_people(folder, alpha, people)
    runs = records.read_folder(folder)
    print("%d runs read from %s" % (len(runs), folder))
    print("alpha  orders RMSE  amount RMSE")
    fits = {}
    for candidate in GRID:
        fits[candidate] = records.score(runs, model.policy, alpha=candidate)
        print("%5.2f  %11.4f  %11.4f"
              % (candidate, fits[candidate].orders, fits[candidate].amount))
    return fits


def main(argv=None):
    parser = argparse.ArgumentParser(description="Recovers the example model's alpha from "
                                                 "simulated people's runs.")
    parser.add_argument("--alpha", type=float, default=0.6,
                        help="the people's alpha (0.2 to 1.2)")
    parser.add_argument("--people", type=int, default=6, help="how many people")
    parser.add_argument("--folder", help="data folder to record into (default: a scratch one)")
    args = parser.parse_args(argv)
    if args.people < 1:
        parser.error("--people must be at least 1")
    if not GRID[0] <= args.alpha <= GRID[-1]:
        parser.error("--alpha must lie within the grid, %g to %g" % (GRID[0], GRID[-1]))
    with tempfile.TemporaryDirectory(prefix="fluxmere-fit-") as scratch:
        try:
            fits = fit(args.folder or scratch, args.alpha, args.people)
        except (OSError, ValueError, RuntimeError) as error:
            print("fit: %s" % error, file=sys.stderr)
            return 1
    best = min(GRID, key=lambda alpha: fits[alpha].orders)
    print("recovered alpha %.2f (the people's: %.2f)" % (best, args.alpha))
    return 0 if abs(best - args.alpha) < 0.05 else 1


if __name__ == "__main__":
    sys.exit(main())
