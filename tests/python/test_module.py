"""The Python module against the program: the same setup, seed and decisions give the same
Data.txt figures in process and over TCP, seeds are honoured, and a folder the module
recorded passes the program's own --verify."""

import os
import random
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
sys.path.insert(0, os.environ.get("FLUXMERE_PYTHON", ""))

import fluxmere  # noqa: E402
from fluxmere_e2e import DATA_COLUMNS, DEFAULT_SETUP, ProgramTestCase, setup_text, split_rows  # noqa: E402

PERIODS = 1000
# Noise with a seed of its own, and delays of 2 and 3: every figure of a line is at work.
SETUP = dict(DEFAULT_SETUP, MaxTrial=PERIODS, MaxNumberOfAScenarioType=PERIODS,
             inFlowDelayValue=2, inFlowDelayLength=PERIODS, outFlowDelayValue=3,
             outFlowDelayLength=PERIODS, EnvInflowNoise=0.5, EnvOutflowNoise=0.25, EnvSeed=7)
# The columns that hold the wall clock's time.
CLOCK = {"Date", "StartTime", "EndTime"}


def decisions(seed):
    draw = random.Random(seed)
    return [(round(draw.uniform(0, 3), 3), round(draw.uniform(0, 3), 3)) for _ in range(PERIODS)]


def figures(data_file):
    with open(data_file, "rb") as f:
        header, *rows = split_rows(f.read())
    assert header == DATA_COLUMNS, header
    keep = [i for i, name in enumerate(header) if name not in CLOCK]
    return [[row[i] for i in keep] for row in rows]


class ModuleTest(ProgramTestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="fluxmere-module-")
        self.setup_path = os.path.join(self.scratch, "Setup.txt")
        with open(self.setup_path, "w", newline="") as f:
            f.write(setup_text(SETUP))

    def record_in_process(self, orders):
        folder = os.path.join(self.scratch, "data")
        exe = os.environ["FLUXMERE_EXE"]
        self.assertEqual(subprocess.run([exe, "--data-dir", folder, "--init"],
                                        capture_output=True).returncode, 0)
        task = fluxmere.Task(self.setup_path, record=folder, name="m1")
        for ui, uo in orders:
            task.step(ui, uo)
        self.assertTrue(task.result["last"])
        del task
        return folder

    def test_the_same_decisions_give_the_same_lines_in_process_and_over_tcp(self):
        orders = decisions(3)
        program = self.start(args=["--batch-pause-ms", "0"], **SETUP)
        with self.connect(program) as model:
            model.login("m1")
            for ui, uo in orders:
                model.exchange("DECISION UI %r UO %r" % (ui, uo))
        over_tcp = figures(program.wait_rows(PERIODS) and program.data_file)
        folder = self.record_in_process(orders)
        self.assertEqual(figures(os.path.join(folder, "Data.txt")), over_tcp)
        verify = subprocess.run([os.environ["FLUXMERE_EXE"], "--data-dir", folder, "--verify"],
                                capture_output=True, text=True)
        self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
        self.assertIn("1 runs, %d periods verified, 0 differences" % PERIODS, verify.stdout)

    def test_runs_recording_in_one_folder_interleave_under_its_lock(self):
        import numpy as np
        folder = os.path.join(self.scratch, "shared")
        short = setup_text(dict(SETUP, MaxTrial=30, MaxNumberOfAScenarioType=30, EnvSeed=0))
        alone = fluxmere.Task(short, seed=9, record=folder)
        vector = fluxmere.VectorTask(short, 3, seeds=[1, 2, 3], record=folder)
        for period in range(30):
            alone.step(1, period % 3)
            vector.step(np.full(3, 1.0), np.full(3, period % 2))
        exe = os.environ["FLUXMERE_EXE"]
        held = subprocess.run([exe, "--data-dir", folder], capture_output=True, text=True,
                              timeout=20)
        self.assertEqual(held.returncode, 1)
        self.assertIn("is in use by process %d" % os.getpid(), held.stderr + held.stdout)
        alone.close()
        vector.close()
        verify = subprocess.run([exe, "--data-dir", folder, "--verify"], capture_output=True,
                                text=True)
        self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
        self.assertIn("4 runs, 120 periods verified, 0 differences", verify.stdout)

    def test_a_seed_gives_its_own_environment_every_time(self):
        text = setup_text(dict(SETUP, EnvSeed=0))  # no seed of the setup's own
        runs = {}
        for seed in (5, 5, 6):
            task = fluxmere.Task(text, seed=seed)
            runs.setdefault(seed, []).append([task.step(1, 1)[3] for _ in range(20)])
        self.assertEqual(runs[5][0], runs[5][1])
        self.assertNotEqual(runs[5][0], runs[6][0])
        task.reset(5)
        self.assertEqual([task.step(1, 1)[3] for _ in range(20)], runs[5][0])
        self.assertEqual(task.scenario["Seed"], 5)
        for bad in (0, 2**53):
            with self.assertRaises(ValueError):
                task.reset(bad)

    def test_a_login_seed_plays_the_seed_the_module_plays(self):
        noisy = dict(SETUP, MaxTrial=20, MaxNumberOfAScenarioType=20)
        program = self.start(args=["--batch-pause-ms", "0"], **noisy)
        with self.connect(program) as model:
            model.exchange("ENTRY-ID m1 VERSION BATCH SEED 5")
            for _ in range(20):
                model.exchange("DECISION UI 1 UO 1")
            model.exchange("SIMULATION RESET")
            self.assertTrue(model.exchange("ENTRY-ID m1 VERSION BATCH SEED 0").startswith("Bad"))
        header, *rows = program.wait_rows(20)
        env_inflow = [float(row[header.index("EnvInflow")]) for row in rows]
        task = fluxmere.Task(setup_text(noisy), seed=5)
        self.assertEqual(env_inflow, [float("%.15g" % task.step(1, 1)[3]) for _ in range(20)])
        with open(os.path.join(program.data_dir, "Runs.txt")) as runs:
            header, record = [line.rstrip("\r\n").split("\t") for line in runs][:2]
        self.assertEqual(record[header.index("Seed")], "5")  # not the setup's EnvSeed of 7
        verify = subprocess.run([os.environ["FLUXMERE_EXE"], "--data-dir", program.data_dir,
                                 "--verify"], capture_output=True, text=True)
        self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)

    def test_a_vector_of_runs_plays_what_each_run_plays_alone(self):
        import numpy as np
        text = setup_text(dict(SETUP, EnvSeed=0, MaxTrial=50, MaxNumberOfAScenarioType=50))
        seeds = list(range(1, 2001))  # enough runs to be shared out over the cores
        vector = fluxmere.VectorTask(text, len(seeds), seeds=seeds)
        draw = np.random.default_rng(1)
        orders = [draw.uniform(0, 3, size=(2, len(seeds))) for _ in range(50)]
        rows = [vector.step(ui, uo) for ui, uo in orders]
        for run in (0, 1, 1999):
            # The last alone through the run object that records, the others as the vector.
            folder = os.path.join(self.scratch, "alone") if run == 1999 else None
            alone = fluxmere.Task(text, seed=seeds[run], record=folder)
            played = [alone.step(ui[run], uo[run]) for ui, uo in orders]
            self.assertEqual([list(map(float, p)) for p in played],
                             [row[run].tolist() for row in rows])
        self.assertTrue(all(rows[-1][:, 9] == 1))  # every run played its last period

    def test_orders_wait_in_the_pipeline_until_their_period(self):
        task = fluxmere.Task(self.setup_path, seed=1)
        task.step(2.5, 1.5)
        inflow, outflow = task.pipeline
        self.assertEqual(inflow[0], 2.5)  # a delay of 2: it arrives in the coming period
        self.assertEqual(outflow[:2], [0.0, 1.5])  # a delay of 3: in the one after
        *_, user_inflow, _, _, _, _ = task.step(0, 0)
        self.assertEqual(user_inflow, 2.5)
        with self.assertRaises(ValueError):
            fluxmere.Task("MaxTrial = x\n")


class EnvironmentTest(unittest.TestCase):
    def setUp(self):
        try:
            import gymnasium  # noqa: F401
        except ImportError:
            if os.environ.get("FLUXMERE_REQUIRE_GYMNASIUM") == "1":
                raise
            self.skipTest("Gymnasium is not importable (pip install gymnasium)")

    def test_the_environment_passes_gymnasiums_checker_and_replays_a_seed(self):
        import warnings
        import gymnasium
        from gymnasium.utils.env_checker import check_env
        env = gymnasium.make("Fluxmere/Tank-v0", setup=setup_text(SETUP))
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            check_env(env.unwrapped)
        others = [str(w.message) for w in caught if "normalized space" not in str(w.message)]
        self.assertEqual(others, [])
        plays = []
        for _ in range(2):
            observation, _ = env.reset(seed=0)
            for _ in range(5):
                observation, reward, terminated, truncated, info = env.step([1.0, 0.5])
            plays.append((observation.tolist(), info["payment"]))
        self.assertEqual(plays[0], plays[1])
        self.assertEqual(len(plays[0][0]), env.observation_space.shape[0])


if __name__ == "__main__":
    unittest.main()
