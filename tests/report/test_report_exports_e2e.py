"""The real fluxmere-report on data folders laid out as the program leaves them: the CSV
exports read back as R and pandas would take them, each run shows its own answers, several
folders stay apart, and an output that would land on a data file or on another output is
refused before anything is written."""

import csv
import io
import os
import re
import sqlite3
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "bench"))

from report_bench import RunSpec, scenario, write_folder  # noqa: E402

EXE = os.environ.get("FLUXMERE_REPORT_EXE", "fluxmere-report")
PERIODS = 6
TEXT_COLUMNS = {"RunId", "StudyCondition", "Subject", "PeriodEnd", "Version", "Folder",
                "Seed",  # a whole number, or empty for a run without noise
                "DecisionMs"}  # a whole number, or empty for a run without decision times


def person_run(subject, condition, answers, decisions=None):
    setup, env = scenario(condition, PERIODS)
    return RunSpec(subject, "", condition, setup, decisions or [(1.0, 0.5)] * PERIODS, env,
                   record=("Art", "Female", 23), answers=answers)


def model_run(condition):
    setup, env = scenario(condition, PERIODS)
    return RunSpec("alpha", "BATCH", condition, setup, [(0.5, 0.2)] * PERIODS, env)


def report(*arguments, cwd=None):
    return subprocess.run([EXE] + list(arguments), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=60, cwd=cwd)


def read_csv(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


class ReportExportsTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.data = os.path.join(self.work.name, "data")
        # Ann plays twice, in two conditions, with different answers; her first answer holds
        # a comma, a quote and a line break.
        self.ids = write_folder(self.data, [
            person_run("Ann", "steady", ['7, Hard at first, "then" easy\nreally',
                                         "Kept it steady", "No"]),
            model_run("wavy"),
            person_run("Ann", "wavy", ["3, Easy", "Outflow first", "Yes"]),
        ], v1_runs=[person_run("Old", "", ["5, Fine", "Steady", "No"])])

    def tearDown(self):
        self.work.cleanup()

    def out(self, name):
        return os.path.join(self.work.name, name)

    def test_exports_read_back_with_numbers_as_numbers(self):
        done = report("--data-dir", self.data, "-o", self.out("r.html"), "--csv",
                      self.out("runs.csv"), "--periods-csv", self.out("periods.csv"),
                      "--answers-csv", self.out("answers.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)

        periods = read_csv(self.out("periods.csv"))
        self.assertEqual(len(periods), 4 * PERIODS)
        for row in periods:
            for column, value in row.items():
                if column not in TEXT_COLUMNS:
                    float(value)  # every figure is a number, with a point and no separator
            self.assertRegex(row["PeriodEnd"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$")
        self.assertEqual([row["RunId"] for row in periods[::PERIODS]], self.ids)
        self.assertEqual(periods[PERIODS]["StudyCondition"], "steady")
        self.assertEqual(periods[PERIODS]["Trial"], "1")

        answers = read_csv(self.out("answers.csv"))
        self.assertEqual([(row["RunId"], row["Subject"], row["Matched"]) for row in answers],
                         [("", "Old", "name"), (self.ids[1], "Ann", "run"),
                          (self.ids[3], "Ann", "run")])
        self.assertEqual([float(row["Q1Rating"]) for row in answers], [5, 7, 3])
        self.assertEqual(answers[1]["Q1Reasons"], 'Hard at first, "then" easy\nreally')
        self.assertEqual(answers[2]["Q2Answer"], "Outflow first")

        runs = read_csv(self.out("runs.csv"))
        self.assertEqual([float(row["Payment"]) - float(row["Bonus"]) for row in runs], [5] * 4)

    def test_decision_times_and_study_files_join_their_runs(self):
        with open(os.path.join(self.data, "DecisionTimes.txt"), "wb") as times:
            times.write(b"RunId\tPeriod\tDecisionMs\r\n" + b"".join(
                b"%s\t%d\t%d\r\n" % (self.ids[1].encode(), period, 100 * period)
                for period in range(1, PERIODS + 1)))
        with sqlite3.connect(os.path.join(self.data, "Krugel.db")) as db:
            db.execute("UPDATE datRun SET StudyFilesId = '0123456789ab' WHERE RunId = ?",
                       (self.ids[1],))
        done = report("--data-dir", self.data, "-o", self.out("r.html"), "--csv",
                      self.out("runs.csv"), "--periods-csv", self.out("periods.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual([row["DecisionMs"] for row in read_csv(self.out("periods.csv"))],
                         [""] * PERIODS + [str(100 * p) for p in range(1, PERIODS + 1)] +
                         [""] * 2 * PERIODS)
        self.assertEqual([row["StudyFilesId"] for row in read_csv(self.out("runs.csv"))],
                         ["", "0123456789ab", "", ""])

    def test_a_studys_own_answers_get_a_column_per_question(self):
        with sqlite3.connect(os.path.join(self.data, "Krugel.db")) as db:
            db.execute("CREATE TABLE IF NOT EXISTS datAnswer (RunId TEXT, QuestionId TEXT, "
                       "QuestionText TEXT, Answer TEXT, AnswerNumber REAL)")
            db.executemany("INSERT INTO datAnswer (RunId, QuestionId, QuestionText, Answer, "
                           "AnswerNumber) VALUES (?, ?, ?, ?, ?)", [
                (self.ids[3], "Hard", "How hard?", "6", 6.0),
                (self.ids[3], "Plan", "Your plan?", "a clear one", None)])
        done = report("--data-dir", self.data, "-o", self.out("r.html"),
                      "--answers-csv", self.out("answers.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)
        answers = read_csv(self.out("answers.csv"))
        self.assertEqual(list(answers[0])[-3:], ["Matched", "Hard", "Plan"])
        self.assertEqual([(row["Hard"], row["Plan"]) for row in answers],
                         [("", ""), ("", ""), ("6", "a clear one")])
        with open(self.out("r.html"), encoding="utf-8") as f:
            self.assertIn("Your plan?", f.read())

    def test_option_numbers_and_the_gender_number_sit_beside_their_texts(self):
        with sqlite3.connect(os.path.join(self.data, "Krugel.db")) as db:
            db.executemany("INSERT INTO datAnswer (RunId, QuestionId, Answer, AnswerNumber, "
                           "AnswerOptions) VALUES (?, ?, ?, ?, ?)",
                           [(self.ids[3], "Plan", "a clear one", 3.0, "3"),
                            (self.ids[3], "Seen", "tank; clock", None, "1;3")])
            db.execute("UPDATE datSubject SET GenderNumber = 2")
        done = report("--data-dir", self.data, "-o", self.out("r.html"), "--csv",
                      self.out("runs.csv"), "--answers-csv", self.out("answers.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(list(read_csv(self.out("answers.csv"))[-1].items())[-4:],
                         [("Plan", "a clear one"), ("Seen", "tank; clock"),
                          ("Plan.Options", "3"), ("Seen.Options", "1;3")])
        run = [row for row in read_csv(self.out("runs.csv")) if row["RunId"] == self.ids[3]][0]
        self.assertEqual(list(run.items())[list(run).index("Gender") + 1], ("GenderNumber", "2"))

    def test_each_run_shows_its_own_answers(self):
        done = report("--data-dir", self.data, "-o", self.out("r.html"))
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(self.out("r.html"), encoding="utf-8") as f:
            page = f.read()
        sections = dict(re.findall(r'<section class="run" id="run-(\d+)">(.*?)</section>', page,
                                   re.S))
        self.assertIn("Outflow first", sections["4"])
        self.assertNotIn("Kept it steady", sections["4"])
        self.assertIn("Kept it steady", sections["2"])
        self.assertNotIn("Outflow first", sections["2"])
        self.assertIn("How difficult was the present task", sections["2"])
        self.assertIn("ties no record to this run", sections["1"])  # the older run, by name

    def test_two_folders_of_one_name_stay_apart(self):
        other = os.path.join(self.work.name, "pc2", "data")
        write_folder(other, [person_run("Bea", "steady", ["2, Hm", "A", "B"])])
        done = report("--data-dir", "data", "--data-dir", "pc2/data", "-o", "r.html",
                      "--answers-csv", "answers.csv", cwd=self.work.name)
        self.assertEqual(done.returncode, 0, done.stderr)
        answers = read_csv(self.out("answers.csv"))
        self.assertEqual([(row["Subject"], row["Folder"]) for row in answers],
                         [("Old", "data"), ("Ann", "data"), ("Ann", "data"),
                          ("Bea", "pc2/data")])

    def test_outputs_that_would_overwrite_data_or_each_other_are_refused(self):
        data_file = os.path.join(self.data, "Data.txt")
        with open(data_file, "rb") as f:
            before = f.read()
        os.symlink(data_file, self.out("to-data.txt"))
        os.symlink(self.out("runs.csv"), self.out("to-runs.csv"))  # runs.csv is not there yet
        os.mkfifo(self.out("fifo"))
        cases = {
            "a data file": ["-o", data_file],
            "a new file in the data folder": ["-o", os.path.join(self.data, "r.html")],
            "a data file by another path": ["-o", self.out("r.html"), "--csv",
                                            os.path.join(self.data, "..", "data", "Runs.txt")],
            "a data file through a link": ["-o", self.out("r.html"), "--csv",
                                           self.out("to-data.txt")],
            "the same file twice": ["-o", self.out("r.html"), "--csv", self.out("runs.csv"),
                                    "--answers-csv", self.out("to-runs.csv")],
            "a folder": ["-o", self.work.name],
            "a pipe": ["-o", self.out("r.html"), "--periods-csv", self.out("fifo")],
        }
        for name, arguments in cases.items():
            with self.subTest(name):
                done = report("--data-dir", self.data, *arguments)
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertIn("nothing written", done.stderr)
                self.assertFalse(os.path.exists(self.out("r.html")))
        with open(data_file, "rb") as f:
            self.assertEqual(f.read(), before)

    def test_a_failure_names_what_was_written_before_it(self):
        done = report("--data-dir", self.data, "-o", self.out("r.html"), "--csv",
                      self.out("missing/runs.csv"))
        self.assertEqual(done.returncode, 1)
        self.assertIn("written before the failure: " + self.out("r.html"), done.stderr)


if __name__ == "__main__":
    unittest.main()
