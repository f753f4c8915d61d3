"""End-to-end tests of --verify: the runs a model played are replayed from their kept setups
and the decisions in Data.txt, beside the running program, and an edited figure is named."""

import csv
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_e2e import ProgramUnderTest, find_executable, run_program, split_rows  # noqa: E402
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

    def test_figures_and_records_that_do_not_hold_are_differences(self):
        cases = {
            "a figure that is not finite": ("Data.txt", 3, "Amount", "inf"),
            "a payment the lines do not give": ("Runs.txt", 1, "TotalBonus", "5.1"),
            "periods in the band": ("Runs.txt", 3, "PeriodsInBand", "3"),
            "an ending the lines do not show": ("Runs.txt", 2, "Ending", "completed"),
            "a seed without noise": ("Runs.txt", 1, "Seed", "7"),
            "another player's line": ("Data.txt", 6, "Subject", "alpha"),
        }
        for name, (file, row, column, value) in cases.items():
            with self.subTest(name):
                data = self.folder()
                rows = self.rows(data, file)
                rows[row][rows[0].index(column)] = value
                self.write_rows(data, file, rows)
                code, out, _ = verify(data)
                self.assertEqual(code, 1, out)
                self.assertRegex(out.splitlines()[0], r"[1-9]\d* differences$")
                self.assertIn(column, out)

    def test_swapped_first_lines_and_lines_no_record_names_are_found(self):
        data = self.folder()
        runs = self.rows(data, "Runs.txt")
        column = runs[0].index("FirstDataLine")
        runs[1][column], runs[3][column] = runs[3][column], runs[1][column]
        self.write_rows(data, "Runs.txt", runs)
        code, out, err = verify(data)
        self.assertEqual(code, 1)
        self.assertNotIn(" 0 differences", out)

        data = self.folder()
        self.write_rows(data, "Runs.txt", self.rows(data, "Runs.txt")[:3])
        code, out, err = verify(data)
        self.assertEqual((code, out), (1, "2 runs, 6 periods verified, 0 differences\n"))
        self.assertIn("Data.txt lines 8-10: no run record names them", err)

    def test_runs_whose_lines_interleave_are_found_by_every_reader(self):
        data = self.folder()
        lines = self.rows(data, "Data.txt")
        alpha, beta = lines[1:5], lines[5:7]
        # Alpha's lines 2, 4, 6, 7 and beta's 3, 5, as two runs played at once leave them.
        self.write_rows(data, "Data.txt", [lines[0], alpha[0], beta[0], alpha[1], beta[1],
                                           alpha[2], alpha[3]] + lines[7:])
        runs = self.rows(data, "Runs.txt")
        first, spans = runs[0].index("FirstDataLine"), runs[0].index("DataLines")
        runs[1][first], runs[1][spans] = "2", "2,4,6-7"
        runs[2][first], runs[2][spans] = "3", "3,5"
        self.write_rows(data, "Runs.txt", runs)
        self.assertEqual(verify(data), (0, CLEAN + "\n", ""))
        table = os.path.join(os.path.dirname(data), "runs.csv")
        report = os.path.join(os.path.dirname(find_executable()), "fluxmere-report")
        subprocess.run([report, "--data-dir", data, "-o", table + ".html", "--csv", table],
                       check=True, capture_output=True)
        with open(table, newline="") as f:
            rows = list(csv.DictReader(f))
        self.assertEqual([(row["Subject"], row["Periods"], row["Ending"]) for row in rows],
                         [("alpha", "4", "completed"), ("beta", "2", "reset"),
                          ("gamma", "3", "completed")])

    def test_bad_usage_exits_2(self):
        data = self.folder()
        for extra in (["--init"], ["--check-setup"], ["--no-such-option"]):
            with self.subTest(extra=extra):
                self.assertEqual(verify(data, *extra)[0], 2)


if __name__ == "__main__":
    unittest.main()
