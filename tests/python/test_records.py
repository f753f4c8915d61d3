"""Data folders read back into Python: a folder the module records gives back the figures of
its steps, interleaved runs and the earlier kinds of Runs.txt are read by their lines, damaged
lines are left out with a warning, a replay meets the environment the run recorded, a model
scores against runs, and examples/fit.py recovers its parameter."""

import dataclasses
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "..", "examples")
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
sys.path.insert(0, EXAMPLES)
sys.path.insert(0, os.environ.get("FLUXMERE_PYTHON", ""))

import fluxmere  # noqa: E402
import model  # noqa: E402
from fluxmere import records  # noqa: E402
from fluxmere_e2e import DATA_COLUMNS, DEFAULT_SETUP, setup_text  # noqa: E402

PERIODS = 40
SEEDS, ALPHAS = (11, 12, 13), (0.4, 0.7, 1.0)
NOISY = setup_text(dict(DEFAULT_SETUP, MaxTrial=PERIODS, inFlowDelayValue=2, outFlowDelayValue=3,
                        EnvInflowSchedule=0.5, EnvInflowNoise=0.4, EnvOutflowNoise=0.3))
# The Data.txt column of each figure Task.step returns (its flows of the orders that acted,
# not of those placed), and of the orders placed.
STEP_COLUMNS = ("Trial", "Amount", "GoalAmount", "EnvInflow", "EnvOutflow", None, None, None,
                "TotalBonus", None, "UserInflow", "UserOutflow")


def record(folder):
    """Runs of the example rule stepped side by side, so that their lines interleave; the
    figures each step gave and the orders, by run."""
    os.makedirs(folder)
    tasks = [fluxmere.Task(NOISY, seed=seed, record=folder, name="p%d" % seed) for seed in SEEDS]
    policies = [model.policy(alpha) for alpha in ALPHAS]
    steps = [[] for _ in tasks]
    for _ in range(PERIODS):
        for task, policy, played in zip(tasks, policies, steps):
            orders = policy(task.figures, task.pipeline)
            played.append(task.step(*orders) + orders)
    del tasks, task  # the records are written as the runs go
    return steps


def write(path, lines):
    with open(path, "w", encoding="latin-1", newline="") as file:
        file.write("".join(line + "\r\n" for line in lines))


def data_line(subject, trial, amount):
    values = dict.fromkeys(DATA_COLUMNS, "0")
    values.update(Subject=subject, Version="", Trial=str(trial), Amount=str(amount))
    return "\t".join(values[name] for name in DATA_COLUMNS)


def record_line(subject, first, count, spans="", ending="completed"):
    return "\t".join([subject, "", "12/9/2026", "1:00:00 PM", "1:05:00 PM", "3", str(count),
                      "0", "5", ending, str(first), "20261209-130000-1", "", "0123456789ab",
                      "", "0", spans, "person"])


class RecordsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="fluxmere-records-")
        cls.addClassCleanup(shutil.rmtree, cls.scratch)
        cls.steps = record(os.path.join(cls.scratch, "data"))
        cls.runs = records.read_folder(os.path.join(cls.scratch, "data"))

    def test_a_recorded_folder_gives_back_the_figures_of_its_steps(self):
        self.assertEqual([run.seed for run in self.runs], list(SEEDS))
        self.assertEqual([run.data_lines[:2] for run in self.runs], [[2, 5], [3, 6], [4, 7]])
        for run, steps in zip(self.runs, self.steps):
            self.assertEqual((run.player, run.ending, run.practice), ("model", "completed", False))
            self.assertEqual(fluxmere.Task(run.setup_text).scenario["EnvInflowNoise"], 0.4)
            for index, column in enumerate(STEP_COLUMNS):
                if column:  # to the 15 digits of Data.txt
                    expected = [float("%.15g" % figures[index]) for figures in steps]
                    self.assertEqual(run.periods[column].tolist(), expected, column)

    def test_spans_earlier_kinds_and_damaged_lines(self):
        folder = tempfile.mkdtemp(dir=self.scratch)
        write(os.path.join(folder, "Data.txt"), ["\t".join(DATA_COLUMNS)] + [
            data_line("cat", 1, 100), data_line("cat", 2, 200),
            data_line("ann", 1, 1), data_line("bob", 1, 10), data_line("ann", 2, 2),
            data_line("bob", 2, 20), data_line("ann", 3, 3), "bob\t\t3"])
        write(os.path.join(folder, "Runs-v1.txt"), [
            "\t".join(records.RUN_COLUMNS),
            "cat\t\t12/9/2026\t1:00:00 PM\t1:01:00 PM\t2\t2\t0\t5\tcompleted\t2"])
        write(os.path.join(folder, "Runs.txt"), [
            "\t".join(records.RUN_COLUMNS) + "\tRunId\tStudyCondition\tSetupId\tSeed\tPractice"
            "\tDataLines\tPlayer",
            record_line("ann", 4, 3, "4-8/2"), record_line("eve", 4, 1, ending="lost"),
            record_line("bob", 5, 3, "5,7,9")])
        with self.assertWarns(UserWarning) as caught:
            cat, ann, bob = records.read_folder(folder)
        said = "\n".join(str(warning.message) for warning in caught.warnings)
        self.assertIn("Data.txt line 9", said)
        self.assertIn("Runs.txt line 3", said)
        self.assertEqual((cat.player, cat.seed, cat.run_id), ("person", None, ""))
        self.assertEqual(cat.periods["Amount"].tolist(), [100, 200])
        self.assertEqual(ann.periods["Amount"].tolist(), [1, 2, 3])
        self.assertEqual(bob.periods["Amount"].tolist(), [10, 20])
        self.assertTrue(ann.complete and not bob.complete)
        with self.assertRaisesRegex(ValueError, "2 readable lines of its 3 periods"):
            records.Replay(bob)
        with self.assertRaisesRegex(ValueError, "setups/0123456789ab.txt is not kept"):
            records.Replay(ann)
        with self.assertRaises(FileNotFoundError):
            records.read_folder(os.path.join(folder, "none"))

    def test_a_replay_meets_the_environment_the_run_recorded(self):
        run, steps = self.runs[1], self.steps[1]
        played = np.array(records.replay(run, model.policy, alpha=ALPHAS[1]))
        np.testing.assert_allclose(played, np.array(steps)[:, :10], rtol=1e-12, atol=1e-12)
        # Another environment in the record is met as recorded, not as the seed draws it.
        changed = dict(run.periods, EnvInflow=run.periods["EnvInflow"] + 0.25)
        other = np.array(records.replay(dataclasses.replace(run, periods=changed),
                                        model.policy(0.2)))
        self.assertEqual(other[:, 3].tolist(), changed["EnvInflow"].tolist())
        self.assertEqual(other[:, 4].tolist(), run.periods["EnvOutflow"].tolist())
        self.assertGreater(np.abs(other[:, 1] - played[:, 1]).max(), 0.1)

    def test_a_model_scores_against_its_own_runs(self):
        name = os.path.join(EXAMPLES, "model.py") + ":policy"
        own = records.score(self.runs[:2], name, alpha=ALPHAS[0])
        self.assertLess(own.runs[0].orders + own.runs[0].amount, 1e-9)
        # Shown the person's own figures before each period, the rule orders as it would there.
        start = fluxmere.Task(NOISY).figures
        history = [start] + [figures[:10] for figures in self.steps[1][:-1]]
        predicted = [model.policy(ALPHAS[0])(figures, None) for figures in history]
        observed = [figures[10:] for figures in self.steps[1]]
        self.assertAlmostEqual(own.runs[1].orders, records.rmse(predicted, observed), places=9)
        self.assertGreater(own.orders, own.runs[0].orders)
        largest = records.score(self.runs[:1], model.policy, lambda p, o: np.abs(p - o).max(),
                                alpha=0.2)
        self.assertGreater(largest.orders, records.score(self.runs[:1], model.policy(0.2)).orders)

    def test_to_dataframe_gives_a_row_per_period(self):
        try:
            frame = records.to_dataframe(self.runs)
        except ImportError as error:
            self.assertIn("pandas", str(error))
            return
        self.assertEqual(len(frame), len(SEEDS) * PERIODS)
        self.assertEqual(frame["Seed"].tolist(), [seed for seed in SEEDS for _ in range(PERIODS)])

    def test_the_fit_example_recovers_its_alpha(self):
        fit = subprocess.run([sys.executable, os.path.join(EXAMPLES, "fit.py"), "--alpha", "0.8"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(fit.returncode, 0, fit.stdout + fit.stderr)
        self.assertIn("recovered alpha 0.80", fit.stdout)


if __name__ == "__main__":
    unittest.main()
