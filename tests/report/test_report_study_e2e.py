"""The real fluxmere-report on a study's folder with practice runs, dropouts, hostile names
and a study's own answers: what each person is paid, who dropped out where, cells no
spreadsheet runs as formulas, outputs refused through another name of the data folder, a
Data.txt larger than any limit, and a folder the program is recording in."""

import csv
import os
import re
import socket
import sqlite3
import subprocess
import tempfile
import unittest

from test_report_exports_e2e import PERIODS, model_run, person_run, read_csv, report, write_folder

EVIL = '=HYPERLINK("http://evil.example","x")'
RUN_ROW = ("INSERT INTO datRun (RunId, Subject, StudyCondition, SetupId, SubjectRowId, Player) "
           "VALUES ")


def dropout_rows(page):
    table = re.search(r'<table class="dropouts">(.*?)</table>', page, re.S).group(1)
    rows = re.findall(r"<tr>(.*?)</tr>", table, re.S)[1:]
    return [re.findall(r"<td>(.*?)</td>", row, re.S)[:4] for row in rows]


class ReportStudyTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.data = os.path.join(self.work.name, "data")
        pia_practice = person_run("Pia", "steady", [])
        pia_practice.practice, pia_practice.decisions = 1, [(1.0, 0.5)] * 2
        pia_run = person_run("Pia", "steady", [])
        pia_run.record = None  # her one subject record is the practice's, tied below
        eve = person_run("Eve", "wavy", [], decisions=[(0.5, 0.2)] * 3)
        eve.ending = "exited"
        pat = person_run("Pat", "wavy", [])
        pat.practice, pat.decisions = 1, [(1.0, 0.5)] * 2
        self.ids = write_folder(self.data, [
            pia_practice, pia_run, eve, pat, person_run("Bea", "steady", ["4, ok", "A", "B"]),
            person_run("Bea", "wavy", ["5, ok", "C", "D"]), model_run("steady"),
            person_run(EVIL, "wavy", [])])
        with sqlite3.connect(os.path.join(self.data, "Krugel.db")) as db:
            pia = db.execute("SELECT SubjectRowId FROM datRun WHERE RunId = ?",
                             (self.ids[0],)).fetchone()[0]
            db.execute(RUN_ROW + "(?, 'Pia', 'steady', '', ?, 'person')", (self.ids[1], pia))
            # Ida left during the instructions: a subject record and a run that never played.
            ida = db.execute("INSERT INTO datSubject (Subject, Version, Condition, Major, "
                             "Gender, Age, Date, Time) VALUES ('Ida', 'steady', 'continuous', "
                             "'Law', 'Male', 30, '2026-12-07', '11:00:00')").lastrowid
            db.execute(RUN_ROW + "('20261207-110000-99', 'Ida', 'steady', '', ?, 'person')",
                       (ida,))
            db.executemany("INSERT INTO datAnswer (RunId, QuestionId, QuestionText, Answer, "
                           "AnswerNumber) VALUES (?, ?, 'Q?', ?, ?)", [
                (self.ids[7], "Plan", "-1+cmd|' /C calc'!A0", None),
                (self.ids[7], "Phone", "+1 555 0100", None),
                (self.ids[7], "Mood", "-2", -2.0)])

    def tearDown(self):
        self.work.cleanup()

    def out(self, name):
        return os.path.join(self.work.name, name)

    def all_outputs(self):
        done = report("--data-dir", self.data, "-o", self.out("r.html"), "--csv",
                      self.out("runs.csv"), "--periods-csv", self.out("periods.csv"),
                      "--answers-csv", self.out("answers.csv"), "--payments-csv",
                      self.out("payments.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(self.out("r.html"), encoding="utf-8") as f:
            return f.read()

    def test_payments_leave_practice_out_and_sum_a_persons_runs(self):
        self.all_outputs()
        paid = {row["Subject"]: (row["Runs"], float(row["Payment"]), row["RunIds"])
                for row in read_csv(self.out("payments.csv"))}
        runs = read_csv(self.out("runs.csv"))
        payment = {row["RunId"]: float(row["Payment"] or 0) for row in runs}
        self.assertEqual(paid["Pia"], ("1", payment[self.ids[1]], self.ids[1]))
        self.assertEqual(paid["Pat"], ("0", 0, ""))
        self.assertAlmostEqual(paid["Bea"][1], payment[self.ids[4]] + payment[self.ids[5]])
        self.assertNotIn("alpha", paid)  # models are not paid
        practice = [row for row in runs if row["Practice"] == "TRUE"]
        self.assertEqual({(r["TotalBonus"], r["Payment"], r["Bonus"]) for r in practice},
                         {("", "", "")})
        self.assertEqual({(r["CurrentBonus"], r["TotalBonus"]) for r in read_csv(
            self.out("periods.csv")) if r["RunId"] == self.ids[0]}, {("", "")})
        # Pia's main run has the demographics of her one record, and 24-hour times.
        self.assertEqual([(r["Gender"], r["Age"], r["Major"]) for r in runs[:2]],
                         [("Female", "23", "Art")] * 2)
        self.assertRegex(runs[1]["StartTime"] + runs[1]["EndTime"], r"^(\d\d:\d\d:\d\d){2}$")

    def test_dropouts_are_listed_by_condition_with_where_they_stopped(self):
        page = self.all_outputs()
        self.assertEqual(dropout_rows(page), [
            ["steady", "Ida", "2026-12-07 11:00:00", "before the first period"],
            ["wavy", "Eve", "2026-12-07 09:20:00", "in the task: exited after period 3 of 6"],
            ["wavy", "Pat", "2026-12-07 09:30:00",
             "after the practice, before the task's first period"]])
        self.assertIn("no (practice)", page)

    def test_formula_cells_are_neutralised_and_numbers_stay_numbers(self):
        self.all_outputs()
        answers = read_csv(self.out("answers.csv"))[-1]
        self.assertEqual((answers["Subject"], answers["Plan"], answers["Phone"], answers["Mood"]),
                         ("'" + EVIL, "'-1+cmd|' /C calc'!A0", "'+1 555 0100", "-2"))
        # Matched tells how the answers were found: a study's own are tied to the run.
        self.assertEqual(answers["Matched"], "run")
        self.assertEqual([r["Matched"] for r in read_csv(self.out("answers.csv"))][:2],
                         ["none", "none"])
        for name in ("runs.csv", "periods.csv", "payments.csv"):
            with open(self.out(name), encoding="utf-8") as f:
                for row in csv.reader(f):
                    self.assertFalse([cell for cell in row if cell and cell[0] in "=+@\t\r"])

    def test_outputs_through_another_name_of_the_data_folder_are_refused(self):
        data_file = os.path.join(self.data, "Data.txt")
        with open(data_file, "rb") as f:
            before = f.read()
        os.symlink(self.data, self.out("alias"))
        os.link(data_file, self.out("hard.txt"))
        for arguments in (["-o", self.out("alias/Data.txt")], ["-o", self.out("hard.txt")],
                          ["-o", self.out("r.html"), "--csv", self.out("alias/../r.html")]):
            done = report("--data-dir", self.data, *arguments)
            self.assertEqual(done.returncode, 2, (arguments, done.stderr))
            self.assertIn("nothing written", done.stderr)
        os.mkdir(self.out("mount"))
        script = 'mount --bind "$1" "$2" && exec "$3" --data-dir "$1" -o "$2/Data.txt"'
        done = subprocess.run(["unshare", "-rm", "sh", "-c", script, "sh", self.data,
                               self.out("mount"), os.environ["FLUXMERE_REPORT_EXE"]],
                              stderr=subprocess.PIPE, text=True, timeout=60)
        if done.returncode != 2 and ("unshare" in done.stderr or "mount" in done.stderr):
            self.skipTest("no bind mounts here: " + done.stderr)
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertIn("lies inside the data folder", done.stderr)
        with open(data_file, "rb") as f:
            self.assertEqual(f.read(), before)

    def test_a_data_file_larger_than_512_mib_is_reported_whole(self):
        data_file = os.path.join(self.data, "Data.txt")
        with open(data_file, "rb") as f:
            lines = f.read().split(b"\r\n")
        last_run = len(lines) - 1 - PERIODS  # the line before the last run's first
        with open(data_file, "wb") as f:  # a hole of 600 MiB before the last run: one line
            f.write(b"\r\n".join(lines[:last_run]) + b"\r\n")
            f.seek(600 << 20, os.SEEK_CUR)
            f.write(b"\r\n" + b"\r\n".join(lines[last_run:]))
        runs_file = os.path.join(self.data, "Runs.txt")
        with open(runs_file, encoding="latin-1", newline="") as f:
            records = f.read().split("\r\n")
        fields = records[-2].split("\t")
        fields[10] = str(int(fields[10]) + 1)
        records[-2] = "\t".join(fields)
        with open(runs_file, "w", encoding="latin-1", newline="") as f:
            f.write("\r\n".join(records))
        done = report("--data-dir", self.data, "-o", self.out("r.html"), "--csv",
                      self.out("runs.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("line %d: longer than 1048576 bytes" % (last_run + 1), done.stderr)
        runs = read_csv(self.out("runs.csv"))
        self.assertEqual((len(runs), runs[-1]["Subject"], runs[-1]["Complete"]),
                         (8, "'" + EVIL, "TRUE"))

    def test_while_the_program_records_only_whole_runs_are_read(self):
        with open(os.path.join(self.data, ".fluxmere.lock"), "w") as lock:
            lock.write("%d\nfluxmere\n%s\n" % (os.getpid(), socket.gethostname()))
        with open(os.path.join(self.data, "Data.txt"), "ab") as f:  # a run in progress
            f.write(b"Zoe\t\t1\t12/7/2026\t1:00:00 PM\t1:00:04 PM\t0\t5\t1\t0\t0\t0\t2\r\nZo")
        with open(os.path.join(self.data, "Runs.txt"), "ab") as f:  # a record being written
            f.write(b"Zoe\t\t12/7/2026")
        done = report("--data-dir", self.data, "-o", self.out("r.html"), "--csv",
                      self.out("runs.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("the 2 Data.txt lines after line", done.stderr)
        self.assertIn(", 0 problems", done.stderr)
        self.assertNotIn("Zoe", [row["Subject"] for row in read_csv(self.out("runs.csv"))])


if __name__ == "__main__":
    unittest.main()
