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
        self.assertEqual(rows[0], ["share", "run", "periods", "in_band", "total_bonus",
                                   "mean_abs_distance"])
        self.assertEqual([row[:3] for row in rows[1:]],
                         [["0.5", "1", "10"], ["0.5", "2", "10"], ["1", "1", "10"],
                          ["1", "2", "10"]])
        # Delays 1: alpha 1 puts the amount on the goal in period 1; alpha 0.5 gets there later.
        self.assertEqual(rows[3][3:], ["10", "5.5", "0.000000"])
        self.assertEqual(rows[1], rows[2][:1] + ["1"] + rows[2][2:])
        self.assertLess(int(rows[1][3]), 10)
        subjects = []
        for instance in ("instance-1", "instance-2"):
            with open(os.path.join(self.folder, "work", instance, "data", "Data.txt"), "rb") as f:
                subjects += [row[0] for row in split_rows(f.read())[1:]]
        self.assertEqual(sorted(set(subjects)), ["share0.5-run1", "share0.5-run2",
                                                 "share1-run1", "share1-run2"])
        self.assertEqual(len(subjects), 40)
        # A second sweep in the same folders reads only its own lines.
        self.assertEqual(self.sweep(*args)[:2], (0, rows))

    def test_a_task_of_a_sweep_past_one_machine_gives_the_same_rows(self):
        done = subprocess.run([TASK, "0.5", os.path.join(self.folder, "task"), "2", "10"],
                              env=dict(os.environ, FLUXMERE_EXE=find_executable()),
                              capture_output=True, text=True, timeout=60,
                              stdin=subprocess.DEVNULL)
        self.assertEqual(done.returncode, 0, done.stderr)
        code, rows, err = self.sweep("--shares", "0.5", "--runs", "2", "--periods", "10")
        self.assertEqual(code, 0, err)
        self.assertEqual(list(csv.reader(io.StringIO(done.stdout))), rows)

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
            ("unusable setup file", ["--setup", bad_setup], "Setup.txt"),
            ("killed during a run", ["--exe", dying, "--batch-pause-ms", "5"],
             "closed the connection"),
        ]
        for name, args, named in cases:
            with self.subTest(name):
                code, rows, err = self.sweep("--shares", "1", "--runs", "1", "--periods", "500",
                                             "--instances", "1", *args, work=name)
                self.assertEqual(code, 1)
                self.assertEqual(rows, [])
                self.assertIn("instance 1", err)
                self.assertIn(named, err)


if __name__ == "__main__":
    unittest.main()
