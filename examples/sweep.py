#!/usr/bin/python3
"""A parameter sweep of the example model's rule over headless instances of Fluxmere.

Every scenario is played with every share of --shares, --runs times (and with every seed of
--seeds), by the anchoring-and-adjustment rule of examples/model.py with that share as its
alpha. A scenario is a setup file (--setup, repeatable; default: the program's own) with the
keys of --set applied (KEY=v1,v2,...; repeatable: every combination is a scenario of its
own). --periods N sets MaxTrial, the table size and both delay lengths to N, so that orders
act to the end of the run; --set MaxTrial=... does the same for its scenarios, and a key
that --set names is left as --set gives it.

The runs are spread over --instances instances of the program started side by side, each
with a data folder of its own (made with --init under --work-dir) and a port the system
chooses. Before a run whose scenario differs from the one before it, the instance's
Setup.txt is rewritten. Each run is examples/model.py logging in once under a name of its
own; the figures of the CSV come from each instance's data folder, the program's own
arithmetic, not from the state messages.

    python3 examples/sweep.py --shares 0.2,0.5,1 --runs 10 --periods 100
    python3 examples/sweep.py --setup short.txt --setup long.txt --set GoalLinePoisition=3,5

Past one machine the same sweep is a submission: --plan DIR writes the tasks it expects (one
per share) and their options into DIR, --task DIR INDEX plays one of them (into DIR/out/,
its data folders copied to DIR/data/), and --merge DIR writes DIR/sweep.csv (and the
sweep's runs.csv and periods.csv) from them, or names every task that failed or left no
results and exits 1. examples/sweep-parallel.sh and sweep-slurm.sbatch do all three.

This is a front end on the sweep runner of the Python module, fluxmere.sweep: given --model
or --command, every option goes to it instead (python3 -m fluxmere.sweep --help), and
--task and --merge play and merge its submissions too. The package is taken from
$FLUXMERE_PYTHON when set, else from python/ of the build in $FLUXMERE_BUILD or in build/
of this checkout when it has been built, else from the installed module; it needs the
interpreter it was built for (Debian's /usr/bin/python3, with numpy). SIGTERM or Ctrl-C
ends every instance the sweep started.

Exit status: 0 when every run was played and recorded, 1 when an instance or task failed,
a scenario cannot be played, results are missing or the sweep was stopped (with a
message), 2 for a bad command line.
"""

import argparse
import math
import os
import shlex
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)


def package_folder():
    """Where the fluxmere package is taken from: $FLUXMERE_PYTHON, else the python/ folder of
    the build in $FLUXMERE_BUILD or of this checkout's build/ when it holds the package, else
    None (the installed one)."""
    if os.environ.get("FLUXMERE_PYTHON"):
        return os.environ["FLUXMERE_PYTHON"]
    build = os.environ.get("FLUXMERE_BUILD") or os.path.join(os.path.dirname(HERE), "build")
    built = os.path.join(build, "python")
    return built if os.path.isfile(os.path.join(built, "fluxmere", "sweep.py")) else None


if package_folder():
    sys.path.insert(1, package_folder())
try:
    from fluxmere import sweep as runner  # noqa: E402
except ImportError as error:
    sys.exit("sweep: the Python module fluxmere cannot be imported (%s): build it, set "
             "FLUXMERE_PYTHON to its folder, and run this with the interpreter it was built "
             "for (Debian's /usr/bin/python3)" % error)

import model  # noqa: E402

SweepError = runner.SweepError
FIGURES = ["run", "periods", "in_band", "total_bonus", "mean_abs_distance"]
MAX_PERIODS = runner.MAX_PERIODS
# What the merge of a submission this front end planned writes besides the runner's CSVs.
FRONT = "examples/sweep.py"


def header(seeds):
    return ["scenario", "share"] + (["seed"] if seeds else []) + FIGURES


# ---- the command line ---------------------------------------------------------------------

def shares_list(text):
    try:
        shares = [float(part) for part in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError("a comma-separated list of numbers, not %r" % text)
    if not all(math.isfinite(share) for share in shares):
        raise argparse.ArgumentTypeError("shares must be finite numbers: %r" % text)
    return shares


def parser_of():
    parser = argparse.ArgumentParser(
        description="Plays a sweep of the example model's adjustment share over scenarios on "
                    "headless instances of the program and writes one CSV line a run.")
    parser.add_argument("--shares", type=shares_list, default=[0.25, 0.5, 0.75, 1.0],
                        help="comma-separated adjustment shares alpha (default 0.25,0.5,0.75,1)")
    parser.add_argument("--runs", type=int, default=10,
                        help="runs per scenario, share and seed (default 10)")
    parser.add_argument("--periods", type=int,
                        help="periods per run: sets MaxTrial, MaxNumberOfAScenarioType and both "
                             "delay lengths (default: each setup's own)")
    parser.add_argument("--setup", action="append", default=[], metavar="FILE",
                        help="a setup file to play, repeatable: each file is a scenario named "
                             "by its stem (default: the program's own)")
    parser.add_argument("--set", action="append", default=[], type=runner.grid_option,
                        metavar="KEY=V1,V2",
                        help="setup values to sweep, repeatable: every combination is a "
                             "scenario, named KEY=value;KEY=value")
    parser.add_argument("--seeds", type=int, default=0, metavar="K",
                        help="play every scenario and share with EnvSeed 1 to K (default: no "
                             "EnvSeed set; the CSV then has no seed column)")
    parser.add_argument("--instances", type=int,
                        help="instances side by side (default: the number of CPU cores; 1 "
                             "for --task)")
    parser.add_argument("--output", help="the CSV file, - for standard output (default "
                        "sweep.csv; DIR/sweep.csv for --merge)")
    parser.add_argument("--work-dir", help="where each instance's data folder is made "
                        "(default sweep-work; DIR/work/TASK for --task)")
    parser.add_argument("--exe", help="the fluxmere executable (default: build/fluxmere, or "
                        "$FLUXMERE_EXE)")
    parser.add_argument("--batch-pause-ms", type=int, default=0,
                        help="the pause of each timed step of a period (default 0)")
    parser.add_argument("--timeout", type=float, default=30.0,
                        help="seconds to wait for the program to start and for each answer "
                             "(default 30)")
    modes = parser.add_mutually_exclusive_group()
    modes.add_argument("--plan", metavar="DIR",
                       help="play nothing: make DIR a submission of one task a share")
    modes.add_argument("--task", nargs=2, metavar=("DIR", "INDEX"),
                       help="play task INDEX (from 0) of the submission in DIR into DIR/out/")
    modes.add_argument("--merge", metavar="DIR",
                       help="play nothing: merge the submission's CSVs, naming every missing "
                            "one")
    return parser


def checked_args(parser, argv):
    args = parser.parse_args(argv)
    if args.task and not args.task[1].isdigit():
        parser.error("--task DIR INDEX: INDEX must be a number from 0")
    for name in ("runs", "instances"):
        if getattr(args, name) is not None and getattr(args, name) < 1:
            parser.error("--%s must be at least 1" % name)
    if args.periods is not None and not 1 <= args.periods <= MAX_PERIODS:
        parser.error("--periods must be from 1 to %d" % MAX_PERIODS)
    if args.seeds < 0:
        parser.error("--seeds must not be negative")
    if args.batch_pause_ms < 0:
        parser.error("--batch-pause-ms must not be negative")
    if not args.timeout > 0:
        parser.error("--timeout must be positive")
    for path in args.setup:
        if not os.path.isfile(path):
            parser.error("no setup file %s" % path)
    return args




def model_command(timeout):
    """examples/model.py playing one run as the runner's command model."""
    return " ".join([shlex.quote(sys.executable), shlex.quote(os.path.join(HERE, "model.py")),
                     "--host {host} --port {port} --name {name} --alpha {alpha} --no-quit "
                     "--quiet --connect-timeout %r --timeout %r" % (timeout, timeout)])


def run_name(job, names, many_scenarios):
    share = model.number(float(job["params"][0]))
    name = "share%s-run%d" % (share, job["run"])
    if job["seed"]:
        name = "share%s-seed%d-run%d" % (share, job["seed"], job["run"])
    return "sc%d-%s" % (job["scenario"] + 1, name) if many_scenarios else name


def share_tasks(shares):
    """One task a share, in the order given."""
    def tasks(jobs):
        return [{"name": "share-%s" % model.number(share),
                 "jobs": [i for i, job in enumerate(jobs) if job["params"][0] == repr(share)]}
                for share in shares]
    return tasks


def checkout_program():
    program = os.path.join(os.path.dirname(HERE), "build", "fluxmere")
    return program if os.path.isfile(program) else None


def plan_of(args, work_dir, tasks):
    """The runner's plan of this sweep: the shares as the model's alpha."""
    options = argparse.Namespace(
        model=None, command=model_command(args.timeout), setup=args.setup, set=args.set,
        periods=args.periods, param=[("alpha", [repr(share) for share in args.shares])],
        seeds=list(range(1, args.seeds + 1)), runs=args.runs, tasks=None, jobs=1,
        exe=args.exe or os.environ.get("FLUXMERE_EXE") or checkout_program(),
        batch_pause_ms=args.batch_pause_ms, timeout=args.timeout,
        run_timeout=None)
    plan = runner.plan_of(options, work_dir, run_name, tasks)
    plan["front"] = FRONT
    return plan


def sweep_rows(runs):
    """This sweep's CSV from the runner's CSV of runs."""
    head, rows = runs[0], runs[1:]
    column = {name: index for index, name in enumerate(head)}
    seeds = any(row[column["seed"]] for row in rows)
    out = [header(seeds)]
    for row in rows:
        share = model.number(float(row[column["alpha"]]))
        out.append([row[column["scenario"]], share] + ([row[column["seed"]]] if seeds else []) +
                   [row[column["run"]], row[column["periods"]], row[column["in_band"]],
                    model.number(float(row[column["payment"]])),
                    "%.6f" % float(row[column["mean_abs_distance"]])])
    return out


def play(args):
    started = time.monotonic()
    args.work_dir = args.work_dir or "sweep-work"
    instances = args.instances or os.cpu_count() or 1
    plan = plan_of(args, args.work_dir, lambda jobs: [{"name": "all",
                                                       "jobs": list(range(len(jobs)))}])
    jobs = plan["tasks"][0]["jobs"]
    results = runner.play(plan, jobs, args.work_dir, instances)
    runs, _ = runner.tables(plan, dict(zip(jobs, results)))
    runner.write_csv(args.output or "sweep.csv", sweep_rows(runs))
    print("sweep: %d runs on %d instances in %.1f s; wrote %s" % (
        len(runs) - 1, max(1, min(instances, len(jobs))), time.monotonic() - started,
        args.output or "sweep.csv"), file=sys.stderr)


def merge(folder, output):
    runs, periods = runner.merge(folder)
    written = [os.path.join(folder, "runs.csv"), os.path.join(folder, "periods.csv")]
    if runner.read_plan(folder).get("front") == FRONT:
        written.insert(0, output or os.path.join(folder, "sweep.csv"))
        runner.write_csv(written[0], sweep_rows(runs))
    runner.write_csv(written[-1], periods)
    runner.write_csv(written[-2], runs)
    print("sweep: wrote %s" % ", ".join(written), file=sys.stderr)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if "--model" in argv or "--command" in argv:
        return runner.main(argv)
    args = checked_args(parser_of(), argv)
    runner.stop_on_signals()
    try:
        if args.plan:
            runner.check_new_submission(args.plan)
            with tempfile.TemporaryDirectory(prefix="fluxmere-sweep-") as scratch:
                plan = plan_of(args, scratch, share_tasks(args.shares))
            runner.write_plan(args.plan, plan)
            print("sweep: %s expects %d tasks (%s)" % (args.plan, len(plan["tasks"]),
                                                       runner.TASKS), file=sys.stderr)
        elif args.merge:
            merge(args.merge, args.output)
        elif args.task:
            task = runner.play_task(args.task[0], int(args.task[1]), args.work_dir,
                                    args.instances or 1, args.exe)
            print("sweep: task %s of %s played" % (task, args.task[0]), file=sys.stderr)
        else:
            play(args)
    except runner.Stopped as stop:
        runner.end_children()
        print("sweep: %s; ended every instance it started" % stop, file=sys.stderr)
        return 1
    except (SweepError, OSError) as error:
        runner.end_children()
        print("sweep: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
