"""End to end, the seeded random environment: a model plays noisy setups over TCP; Data.txt,
Runs.txt, --verify and --check-setup are read back."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_e2e import ProgramUnderTest, run_program, split_rows  # noqa: E402

NOISY = {"MaxTrial": 8, "EnvInflowSchedule": "1", "EnvOutflowSchedule": "0.5",
         "EnvInflowNoise": 0.4, "EnvOutflowNoise": 0.3, "EnvSeed": 7}
SENT = {3: " EI 2.5 EO 1.25", 5: " EI 0"}  # flows the model sends itself
# Run name, setup changes: f plays the fresh seed recorded for d; g has a seed but no noise.
RUNS = [("a", {}), ("b", {}), ("c", {"EnvSeed": 8}), ("d", {"EnvSeed": 0}),
        ("e", {"EnvSeed": 0}), ("f", None), ("g", {"EnvInflowNoise": 0, "EnvOutflowNoise": 0})]


class NoiseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with ProgramUnderTest(NOISY, args=["--batch-pause-ms", "0"]) as program:
            with program.connect() as model:
                for name, changes in RUNS:
                    program.write_setup({"EnvSeed": cls.seeds(program)["d"]} if changes is None
                                        else changes)
                    model.login(name)
                    for t in range(1, 9):
                        model.exchange("DECISION UI 1 UO 1" + SENT.get(t, ""))
                    model.exchange("SIMULATION RESET")
            cls.seed = cls.seeds(program)
            cls.flows = {name: [tuple(row[10:12]) for row in program.data_rows() if row[0] == name]
                         for name, _ in RUNS}
            cls.verified = run_program(["--verify", "--data-dir", program.data_dir])
            cls.checks = [program.write_setup(changes) or run_program(
                ["--check-setup", "--data-dir", program.data_dir]) for changes in
                ({}, {"EnvSeed": 2.5}, {"EnvOutflowNoise": -0.3})]

    @staticmethod
    def seeds(program):
        with open(os.path.join(program.data_dir, "Runs.txt"), "rb") as f:
            header, *rows = split_rows(f.read())
        return {row[0]: row[header.index("Seed")] for row in rows}

    def test_a_seed_gives_the_same_environment_and_another_seed_another(self):
        unsent = {name: [f for t, f in enumerate(flows, 1) if t not in SENT]
                  for name, flows in self.flows.items()}
        self.assertEqual(self.flows["a"], self.flows["b"])
        self.assertEqual(self.flows["f"], self.flows["d"])  # a recorded seed plays again
        for one, other in ("ac", "ad", "cd", "de"):
            self.assertTrue(all(map(lambda x, y: x[0] != y[0] and x[1] != y[1], unsent[one],
                                    unsent[other])), (one, other))
        self.assertEqual(unsent["g"], [("1", "0.5")] * 6)

    def test_flows_a_model_sends_are_never_noised(self):
        for name, flows in self.flows.items():
            self.assertEqual((flows[2], flows[4][0]), (("2.5", "1.25"), "0"), name)
        self.assertNotEqual(self.flows["a"][4][1], "0.5")  # the outflow it left out is noisy

    def test_runs_txt_records_each_noisy_run_s_seed_and_verify_replays_them(self):
        self.assertEqual([self.seed[name] for name in "abcg"], ["7", "7", "8", ""])
        self.assertTrue(0 < int(self.seed["d"]) < 2 ** 53 and self.seed["d"] != self.seed["e"])
        self.assertEqual(self.seed["f"], self.seed["d"])
        self.assertEqual(self.verified, (0, "7 runs, 56 periods verified, 0 differences\n", ""))

    def test_check_setup_shows_the_noise_and_refuses_bad_keys(self):
        self.assertEqual([check[0] for check in self.checks], [0, 1, 1])
        self.assertIn("Environment noise: normal, standard deviation 0.4 on the inflow and 0.3 "
                      "on the outflow", self.checks[0][1])
        self.assertIn("Seed: 7 in every run", self.checks[0][1])
        self.assertIn("The value 2.5 of EnvSeed in the setup file", self.checks[1][1])
        self.assertIn("The value -0.3 of EnvOutflowNoise in the setup file", self.checks[2][1])

if __name__ == "__main__":
    unittest.main()
