"""The sweep runner, python3 -m fluxmere.sweep, on the real module and program: an in-process
sweep plays what Task plays for the same seeds, a failing task fails the sweep by name, and
SIGTERM leaves no program instance or worker running."""

import csv
import shutil
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.environ.get("FLUXMERE_PYTHON", ""))

import fluxmere  # noqa: E402

# Noise and delays of 2: every seed plays an environment of its own.
SETUP = ("MaxTrial = 30\nGoalLinePoisition = 4\nInitialAmountInTank = 2\nInitialBackOrder = 0\n"
         "InitialForwardDischarge = 0\nMaxNumberOfAScenarioType = 30\ninFlowDelayValue = 2\n"
         "inFlowDelayLength = 30\noutFlowDelayValue = 2\noutFlowDelayLength = 30\n"
         "EnvInflowNoise = 0.5\nEnvOutflowNoise = 0.3\n")


def factory(alpha=1.0, lag=0.0):
    """Orders a share of the gap, less the orders on their way; fails for alpha 'fail'."""
    if alpha == "fail":
        raise ValueError("no such alpha")

    def policy(figures, pipeline):
        coming = sum(pipeline[0]) - sum(pipeline[1])
        gap = figures[2] - figures[1] - lag * coming
        return alpha * max(0.0, gap), alpha * max(0.0, -gap)
    return policy


def read(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


class SweepRunnerTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="fluxmere-sweep-runner-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.setup = os.path.join(self.folder, "noisy.txt")
        with open(self.setup, "w") as f:
            f.write(SETUP)

    def command(self, *args):
        return [sys.executable, "-m", "fluxmere.sweep", "--work-dir",
                os.path.join(self.folder, "work"), "--setup", self.setup,
                "--runs-csv", os.path.join(self.folder, "runs.csv"),
                "--periods-csv", os.path.join(self.folder, "periods.csv"), *args]

    def sweep(self, *args):
        env = dict(os.environ, PYTHONPATH=os.environ.get("FLUXMERE_PYTHON", ""))
        return subprocess.run(self.command(*args), capture_output=True, text=True, env=env,
                              timeout=120, stdin=subprocess.DEVNULL)

    def test_an_in_process_sweep_plays_what_the_same_seeds_play_through_task(self):
        done = self.sweep("--model", __file__ + ":factory", "--param", "alpha=0.5,1",
                          "--param", "lag=0,1", "--seeds", "3,8", "--runs", "2", "--jobs", "2",
                          "--tasks", "3")
        self.assertEqual(done.returncode, 0, done.stderr)
        runs, periods = read(os.path.join(self.folder, "runs.csv")), read(
            os.path.join(self.folder, "periods.csv"))
        grid = [(a, lag, seed, run) for a in ("0.5", "1") for lag in ("0", "1")
                for seed in ("3", "8") for run in ("1", "2")]
        self.assertEqual([(r["alpha"], r["lag"], r["seed"], r["run"]) for r in runs], grid)
        self.assertEqual(len(periods), 30 * len(grid))
        for index, (alpha, lag, seed, _) in enumerate(grid):
            task = fluxmere.Task(self.setup, seed=int(seed))
            played = fluxmere.play(task, factory(float(alpha), float(lag)))
            rows = periods[30 * index:30 * (index + 1)]
            self.assertEqual([[float(row[name]) for name in fluxmere.FIELDS] for row in rows],
                             [[float(value) for value in figures] for figures in played])
            self.assertEqual((int(runs[index]["in_band"]), float(runs[index]["payment"]),
                              runs[index]["Seed"]),
                             (task.result["in_band"], task.result["payment"], seed))
        self.assertNotEqual(periods[0]["env_inflow"], periods[30 * 2]["env_inflow"])

    def test_a_failing_task_fails_the_sweep_naming_it(self):
        done = self.sweep("--model", __file__ + ":factory", "--param", "alpha=1,fail",
                          "--jobs", "2", "--tasks", "2")
        self.assertEqual(done.returncode, 1)
        self.assertIn("1 of 2 tasks have no results: task-1 (task 1); task 1 (task-1) "
                      "failed: run alpha", done.stderr)
        self.assertIn("no such alpha", done.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.folder, "runs.csv")))

    def test_sigterm_ends_every_instance_and_worker(self):
        model = os.path.join(ROOT, "examples", "model.py")
        # Every process the sweep starts inherits the mark.
        env = dict(os.environ, PYTHONPATH=os.environ.get("FLUXMERE_PYTHON", ""),
                   SWEEP_TEST_MARK=self.folder)
        sweep = subprocess.Popen(self.command(
            "--command", "%s %s --host {host} --port {port} --name {name} --alpha {alpha} "
            "--no-quit --quiet" % (sys.executable, model), "--param", "alpha=0.5,1",
            "--periods", "5000", "--batch-pause-ms", "1", "--jobs", "2"), env=env,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 30
        while self.kinds(sweep.pid) != ["model", "model", "program", "program", "worker",
                                        "worker"] and time.monotonic() < deadline:
            time.sleep(0.1)
        started = self.marked(sweep.pid)
        self.assertEqual(self.kinds(sweep.pid), ["model", "model", "program", "program",
                                                 "worker", "worker"])
        sweep.send_signal(signal.SIGTERM)
        _, err = sweep.communicate(timeout=30)
        self.assertEqual(sweep.returncode, 1, err)
        self.assertIn("stopped by SIGTERM", err.decode())
        self.assertEqual([pid for pid, _ in started if os.path.exists("/proc/%d" % pid)], [])

    def marked(self, sweep_pid):
        """(pid, kind) of every process but the sweep that carries this test's mark."""
        mark = ("SWEEP_TEST_MARK=%s" % self.folder).encode()
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if mark not in f.read().split(b"\0") or int(pid) == sweep_pid:
                        continue
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    words = f.read().decode(errors="replace").split("\0")
            except OSError:
                continue
            kind = ("program" if "--port" in words and words[0].endswith("fluxmere") else
                    "model" if "--alpha" in words else
                    "worker" if "fluxmere.sweep" in words else "other")
            found.append((int(pid), kind))
        return found

    def kinds(self, sweep_pid):
        return sorted(kind for _, kind in self.marked(sweep_pid) if kind != "other")

if __name__ == "__main__":
    unittest.main()
