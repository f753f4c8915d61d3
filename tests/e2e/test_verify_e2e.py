"""End-to-end tests of --verify: the runs a model played are replayed from their kept setups
and the decisions in Data.txt, beside the running program, and an edited figure is named."""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_e2e import ProgramUnderTest, run_program, split_rows  # noqa: E402
from test_model_e2e import decision  # noqa: E402

# Setup A: delays and an initial order, so that the pipelines move, and a schedule that the
# model overrides in some periods (EI -1 EO -1: no environment step at all).
SETUP_A = {"MaxTrial": 4, "InitialBackOrder": 1, "inFlowDelayValue": 3, "inFlowDelayLength": 3,
           "outFlowDelayValue": 2, "EnvInflowSchedule": "0.5, 1, 0, 2"}
ALPHA = [(1.25, 0, 0.1, None), (0, 0.5, None, 0.7), (2, 1, -1, -1), (0, 0, None, None)]
# A person's kind of run: no environment flows sent, the schedule plays; cut short by a reset.
BETA = [(1, 0, None, None), (0, 1, None, None)]
# Setup B, edited in between: decisions act at once, and a decision of 17 digits (recorded to
# 15) brings the amount to 8.9E-16, where the recorded decision gives 0.
SETUP_B = {"MaxTrial": 3, "InitialAmountInTank": 1, "InitialBackOrder": 0,
           "inFlowDelayValue": 1, "outFlowDelayValue": 1, "EnvInflowSchedule": "0"}
GAMMA = [(2.3000000000000003, 3.3, 0, 0), (0.1, 0.2, None, None), (5, 0, 0.25, 0)]
CLEAN = "3 runs, 9 periods verified, 0 differences"


def verify(data_dir, *args):
    return run_program(["--verify", "--data-dir", data_dir] + list(args))


class VerifyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.recorded = tempfile.mkdtemp(prefix="fluxmere-verify-")
        with ProgramUnderTest(SETUP_A, args=["--batch-pause-ms", "0"]) as program:
            with program.connect() as model:
                for name, decisions in (("alpha", ALPHA), ("beta", BETA), ("gamma", GAMMA)):
                    if name == "gamma":
                        program.write_setup(SETUP_B)
                    model.login(name)
                    for ui, uo, ei, eo in decisions:
                        model.exchange(decision(ui, uo, ei, eo))
                    model.exchange("SIMULATION RESET")
                # The program still holds the folder's lock.
                cls.beside = verify(program.data_dir)
            shutil.copytree(program.data_dir, os.path.join(cls.recorded, "data"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.recorded, ignore_errors=True)

    def folder(self):
        """A copy of the recorded data folder for one test to edit."""
        copy = tempfile.mkdtemp(prefix="fluxmere-verify-")
        self.addCleanup(shutil.rmtree, copy, True)
        shutil.copytree(os.path.join(self.recorded, "data"), os.path.join(copy, "data"))
        return os.path.join(copy, "data")

    def rows(self, data, name):
        with open(os.path.join(data, name), "rb") as f:
            return split_rows(f.read())

    def write_rows(self, data, name, rows):
        with open(os.path.join(data, name), "wb") as f:
            f.write("".join("\t".join(row) + "\r\n" for row in rows).encode("latin-1"))

    def test_the_runs_replay_cleanly_beside_the_running_program(self):
        self.assertEqual(self.beside, (0, CLEAN + "\n", ""))

    def test_an_altered_figure_is_named_by_its_line_and_column(self):
        data = self.folder()
        rows = self.rows(data, "Data.txt")
        recorded = rows[3][12]  # line 4, Amount
        rows[3][12] = "2.95"
        self.write_rows(data, "Data.txt", rows)
        code, out, _ = verify(data)
        self.assertEqual(out.splitlines(), ["3 runs, 9 periods verified, 1 differences",
                                            "line 4, Amount: recorded 2.95, recomputed "
                                            + recorded])
        self.assertEqual(code, 1)

    def test_runs_without_a_kept_setup_are_replayed_from_setup_txt(self):
        data = self.folder()
        runs = self.rows(data, "Runs.txt")
        setup_a = runs[1][13]
        shutil.copy(os.path.join(data, "setups", setup_a + ".txt"), os.path.join(data, "Setup.txt"))
        # Alpha's and beta's records as a Runs.txt of the first kind kept them.
        self.write_rows(data, "Runs-v1.txt", [row[:11] for row in runs[:3]])
        self.write_rows(data, "Runs.txt", runs[:1] + runs[3:])
        code, out, err = verify(data)
        self.assertEqual((code, out), (0, CLEAN + "\n"))
        self.assertIn("Runs-v1.txt lines 2-3: recorded before setups were kept; verified "
                      "against the current", err)

    def test_a_run_whose_lines_are_missing_is_reported(self):
        data = self.folder()
        self.write_rows(data, "Data.txt", self.rows(data, "Data.txt")[:-1])
        code, out, err = verify(data)
        self.assertEqual((code, out), (1, "2 runs, 6 periods verified, 0 differences\n"))
        self.assertIn("Runs.txt line 4 (gamma, ", err)
        self.assertIn("are not all in Data.txt", err)
        os.remove(os.path.join(data, "Runs.txt"))
        self.assertEqual(verify(data)[:2], (1, ""))

    def test_bad_usage_exits_2(self):
        data = self.folder()
        for extra in (["--init"], ["--check-setup"], ["--no-such-option"]):
            with self.subTest(extra=extra):
                self.assertEqual(verify(data, *extra)[0], 2)


if __name__ == "__main__":
    unittest.main()
