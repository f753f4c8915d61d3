"""The sweep example against the real program: its CSV, its data folders and its failures."""

import csv
import io
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SWEEP = os.path.join(ROOT, "examples", "sweep.py")
TASK = os.path.join(ROOT, "examples", "sweep-task.sh")
MERGE = os.path.join(ROOT, "examples", "sweep-merge.sh")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from fluxmere_e2e import find_executable, split_rows  # noqa: E402


class SweepTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="fluxmere-sweep-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def sweep(self, *args, work="work", timeout=60):
        done = subprocess.run(
            [sys.executable, SWEEP, "--work-dir", os.path.join(self.folder, work),
             "--output", "-", *args], capture_output=True, text=True, timeout=timeout,
            stdin=subprocess.DEVNULL)
        return done.returncode, list(csv.reader(io.StringIO(done.stdout))), done.stderr

    def test_runs_are_spread_over_instances_and_summed_up_from_their_data_files(self):
        args = ["--shares", "0.5,1", "--runs", "2", "--periods", "10", "--instances", "2"]
        code, rows, err = self.sweep(*args)
        self.assertEqual(code, 0, err)
        self.assertEqual(rows[0], ["scenario", "share", "run", "periods", "in_band",
                                   "total_bonus", "mean_abs_distance"])
        rows = [row[1:] for row in rows if row[0] != "scenario"]
        self.assertEqual([row[:3] for row in rows],
                         [["0.5", "1", "10"], ["0.5", "2", "10"], ["1", "1", "10"],
                          ["1", "2", "10"]])
        # Delays 1: alpha 1 puts the amount on the goal in period 1; alpha 0.5 gets there later.
        self.assertEqual(rows[2][3:], ["10", "5.5", "0.000000"])
        self.assertEqual(rows[0], rows[1][:1] + ["1"] + rows[1][2:])
        self.assertLess(int(rows[0][3]), 10)
        subjects = []
        for instance in ("instance-1", "instance-2"):
            with open(os.path.join(self.folder, "work", instance, "data", "Data.txt"), "rb") as f:
                subjects += [row[0] for row in split_rows(f.read())[1:]]
        self.assertEqual(sorted(set(subjects)), ["share0.5-run1", "share0.5-run2",
                                                 "share1-run1", "share1-run2"])
        self.assertEqual(len(subjects), 40)
        # A second sweep in the same folders reads only its own lines.
        self.assertEqual(self.sweep(*args)[1][1:], [["default"] + row for row in rows])

    def test_scenarios_and_seeds_are_played_with_their_own_setups(self):
        setups = []
        for goal in (3, 5):
            setups += ["--setup", os.path.join(self.folder, "goal%d.txt" % goal)]
            with open(setups[-1], "w") as f:
                f.write("MaxTrial = 8\nGoalLinePoisition = %d\nInitialAmountInTank = 2\n"
                        "InitialBackOrder = 0\nInitialForwardDischarge = 0\n"
                        "MaxNumberOfAScenarioType = 8\ninFlowDelayValue = 2\ninFlowDelayLength"
                        " = 8\noutFlowDelayValue = 1\noutFlowDelayLength = 8\n" % goal)
        code, rows, err = self.sweep(*setups, "--shares", "0.5,1", "--runs", "1", "--seeds",
                                     "2", "--instances", "2", "--set", "MaxTrial=6")
        self.assertEqual(code, 0, err)
        self.assertEqual(rows[0][:4], ["scenario", "share", "seed", "run"])
        self.assertEqual([row[:5] for row in rows[1:]], [
            [scenario, share, seed, "1", "6"] for scenario in ("goal3;MaxTrial=6",
                                                               "goal5;MaxTrial=6")
            for share in ("0.5", "1") for seed in ("1", "2")])
        # Each row is the run its instance recorded, on the setup of its scenario and seed.
        recorded = {}
        for instance in ("instance-1", "instance-2"):
            data = os.path.join(self.folder, "work", instance, "data")
            with open(os.path.join(data, "Runs.txt"), "rb") as f:
                runs = split_rows(f.read())
            for run in runs[1:]:
                record = dict(zip(runs[0], run))
                with open(os.path.join(data, "setups", record["SetupId"] + ".txt")) as f:
                    recorded[record["Subject"]] = (record, f.read())
        for index, row in enumerate(rows[1:]):
            record, setup = recorded["sc%d-share%s-seed%s-run1" % (index // 4 + 1, *row[1:3])]
            self.assertEqual([record["PeriodsInBand"], float(record["TotalBonus"])],
                             [row[5], float(row[6])])
            self.assertIn("GoalLinePoisition = %s" % row[0][4], setup)
            self.assertIn("EnvSeed = %s" % row[2], setup)
            self.assertIn("inFlowDelayLength = 6", setup)

    def test_longer_runs_bring_their_delays_along(self):
        code, rows, err = self.sweep("--shares", "1", "--runs", "1", "--periods", "200")
        self.assertEqual(code, 0, err)
        self.assertEqual(rows[1], ["default", "1", "1", "200", "200", "15", "0.000000"])

    def test_a_submission_merges_only_when_every_task_has_results(self):
        submission = os.path.join(self.folder, "submission")
        options = ["--shares", "0.5,1", "--runs", "2", "--periods", "10", "--set",
                   "GoalLinePoisition=3,5"]
        env = dict(os.environ, FLUXMERE_EXE=find_executable())

        def run(*command):
            return subprocess.run(command, env=env, capture_output=True, text=True,
                                  timeout=60, stdin=subprocess.DEVNULL)
        self.assertEqual(run(sys.executable, SWEEP, "--plan", submission, *options).returncode, 0)
        self.assertEqual(run(TASK, submission, "0").returncode, 0)
        merged = run(MERGE, submission)
        self.assertEqual(merged.returncode, 1)
        self.assertIn("1 of 2 tasks have no results: share-1 (task 1)", merged.stderr)
        self.assertFalse(os.path.exists(os.path.join(submission, "sweep.csv")))
        self.assertEqual(run(TASK, submission, "1").returncode, 0)
        self.assertEqual(run(MERGE, submission).returncode, 0)
        code, rows, err = self.sweep(*options)
        self.assertEqual(code, 0, err)
        with open(os.path.join(submission, "sweep.csv")) as f:
            self.assertEqual(list(csv.reader(f)), rows)
        self.assertEqual([row[:2] for row in rows[1:4:2]],
                         [["GoalLinePoisition=3", "0.5"], ["GoalLinePoisition=3", "1"]])

    def test_an_instance_that_fails_fails_the_sweep(self):
        bad_setup = os.path.join(self.folder, "Setup.txt")
        with open(bad_setup, "w") as f:
            f.write("GoalLinePoisition = four\n")
        # The real program, killed a few seconds into its run.
        dying = os.path.join(self.folder, "dying")
        with open(dying, "w") as f:
            f.write('#!/bin/sh\ncase " $* " in *" --init "*) exec "%s" "$@";; esac\n'
                    'exec timeout -s KILL 3 "%s" "$@"\n' % ((find_executable(),) * 2))
        os.chmod(dying, stat.S_IRWXU)
        cases = [
            ("unusable setup file", ["--setup", bad_setup],
             ["scenario Setup", "cannot be played", "GoalLinePoisition"]),
            ("killed during a run", ["--exe", dying, "--batch-pause-ms", "5"],
             ["instance 1", "closed the connection"]),
        ]
        for name, args, named in cases:
            with self.subTest(name):
                code, rows, err = self.sweep("--shares", "1", "--runs", "1", "--periods", "500",
                                             "--instances", "1", *args, work=name)
                self.assertEqual(code, 1)
                self.assertEqual(rows, [])
                for text in named:
                    self.assertIn(text, err)


if __name__ == "__main__":
    unittest.main()
