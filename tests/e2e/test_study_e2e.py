"""End-to-end tests of what an experimenter's study relies on: scheduled environments, the
setup check, the record of every run, the report on what the program wrote, and a study
folder laid out by the install."""

import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_e2e import (  # noqa: E402
    DEFAULT_SETUP,
    ProgramTestCase,
    TankReference,
    find_executable,
    parse_state,
    run_program,
    setup_text,
    split_rows,
)

RUN_COLUMNS = ["Subject", "Version", "Date", "StartTime", "EndTime", "MaxTrial",
               "PeriodsPlayed", "PeriodsInBand", "TotalBonus", "Ending", "FirstDataLine",
               "RunId", "StudyCondition", "SetupId", "Seed", "Practice", "DataLines", "Player"]


def decision(ui=0, uo=0, ei=None, eo=None):
    text = "DECISION UI %s UO %s" % (ui, uo)
    if ei is not None:
        text += " EI %s" % ei
    if eo is not None:
        text += " EO %s" % eo
    return text


class StudyTestCase(ProgramTestCase):
    def run_rows(self, program):
        with open(os.path.join(program.data_dir, "Runs.txt"), "rb") as f:
            rows = split_rows(f.read())
        self.assertEqual(rows[0], RUN_COLUMNS)
        return [dict(zip(RUN_COLUMNS, row)) for row in rows[1:]]


class ScheduleTest(StudyTestCase):
    SCHEDULE = {"MaxTrial": 3, "EnvInflowSchedule": "1, 0.5, 2", "EnvOutflowSchedule": "0.25"}

    def play(self, model, reference, plan):
        """Plays (ui, ei-sent, ei-scheduled) periods; checks each state against the rules."""
        for ui, sent, scheduled in plan:
            state = model.exchange(decision(ui, ei=sent))
            expected = reference.play(ui, 0, ei=scheduled if sent is None else sent, eo=0.25)
            self.assertEqual(state, expected["message"])

    def test_a_model_plays_the_schedule_and_overrides_only_what_it_sends(self):
        program = self.start(**self.SCHEDULE)
        model = self.connect(program)
        model.login()
        setup = dict(DEFAULT_SETUP, **self.SCHEDULE)
        self.play(model, TankReference(setup), [(0, None, 1), (1, 3, 0.5), (0, None, 2)])
        self.assertEqual([row[10] for row in program.wait_rows(3)[1:]], ["1", "3", "2"])
        self.assertEqual(model.exchange("SIMULATION RESET"), "SIMULATION_RESETED")
        # A new run starts from the schedule again: period 2 is 0.5 once more.
        model.login()
        self.play(model, TankReference(setup), [(0, None, 1), (0, None, 0.5)])
        self.assertEqual([row[11] for row in program.wait_rows(5)[4:]], ["0.25", "0.25"])

    def test_a_schedule_of_the_wrong_length_stops_the_launch(self):
        code, out, err = run_program(["--check-setup", "--data-dir", self.folder_with(
            dict(DEFAULT_SETUP, MaxTrial=3, EnvInflowSchedule="1, 2"))])
        self.assertEqual(code, 1)
        self.assertIn("EnvInflowSchedule", out)
        self.assertIn("gives 2 values", out)

    def folder_with(self, values):
        folder = tempfile.mkdtemp(prefix="fluxmere-study-")
        self.addCleanup(shutil.rmtree, folder, True)
        with open(os.path.join(folder, "Setup.txt"), "w", newline="") as f:
            f.write(setup_text(values))
        return folder


class CheckSetupTest(StudyTestCase):
    def test_statuses_and_the_lines_named(self):
        folder = tempfile.mkdtemp(prefix="fluxmere-study-")
        self.addCleanup(shutil.rmtree, folder, True)
        self.assertEqual(run_program(["--data-dir", folder, "--init"])[0], 0)
        code, out, _ = run_program(["--check-setup", "--data-dir", folder])
        self.assertEqual(code, 0, out)
        self.assertIn("Periods: 100", out)
        self.assertIn("No problems", out)
        setup = os.path.join(folder, "Setup.txt")
        with open(setup) as f:
            text = f.read()
        with open(setup, "w") as f:
            f.write(text.replace("MaxTrial = 100", "MaxTrail = 100")
                    .replace("GoalLinePoisition = 4", "GoalLinePoisition=4"))
        code, out, _ = run_program(["--check-setup", "--data-dir", folder])
        self.assertEqual(code, 1, out)
        self.assertRegex(out, r"line \d+: MaxTrail is not a key the program reads; did you "
                              r"mean MaxTrial\?")
        self.assertRegex(out, r"line \d+: \"GoalLinePoisition=4\" is read as the key")

    def test_the_verdict_for_a_person_and_a_model_over_a_studys_conditions(self):
        folder = tempfile.mkdtemp(prefix="fluxmere-study-")
        self.addCleanup(shutil.rmtree, folder, True)
        conditions = os.path.join(folder, "conditions")
        os.mkdir(conditions)  # and no Setup.txt: only the conditions are checked
        for name, values in (("easy", DEFAULT_SETUP),
                             ("lagged", dict(DEFAULT_SETUP, InitialBackOrder=1))):
            with open(os.path.join(conditions, name + ".txt"), "w", newline="") as f:
                f.write(setup_text(values))
        code, out, _ = run_program(["--check-setup", "--data-dir", folder])
        self.assertEqual(code, 1, out)
        easy, lagged = out.split("Setup file: ")[1:]
        self.assertTrue(easy.startswith(os.path.join(conditions, "easy.txt") + "\nCondition: easy"))
        self.assertIn("A person: Start can use this file.\nA model: Start can use this file.\n",
                      easy)
        self.assertTrue(lagged.startswith(os.path.join(conditions, "lagged.txt")))
        self.assertIn("A person: Start cannot use this file.\nA model: Start can use this file;",
                      lagged)
        self.assertIn("Only a model can use this file.", lagged)


    def test_slips_that_start_plays_past_fail_the_check(self):
        folder = tempfile.mkdtemp(prefix="fluxmere-study-")
        self.addCleanup(shutil.rmtree, folder, True)
        with open(os.path.join(folder, "Setup.txt"), "w", newline="") as f:
            f.write(setup_text(DEFAULT_SETUP) +
                    "PracticePeriod = 3\r\nLanguag = de\r\nExitPasword = Lab 7\r\n")
        code, out, _ = run_program(["--check-setup", "--data-dir", folder])
        self.assertEqual(code, 1, out)
        for slip, key in (("PracticePeriod", "PracticePeriods"), ("Languag", "Language"),
                          ("ExitPasword", "ExitPassword")):
            self.assertRegex(out, r"line \d+: %s is not a key the program reads; did you mean "
                                  r"%s\? No run plays this line's setting." % (slip, key))
        # Start itself plays the file as ever; the password is never printed.
        self.assertIn("A person: Start can use this file.\nA model: Start can use this file.\n"
                      "Start plays this file, but not as it is meant", out)
        self.assertNotIn("Lab 7", out)

    def test_a_studys_conditions_fail_on_pages_languages_and_names(self):
        root = tempfile.mkdtemp(prefix="fluxmere-study-")
        self.addCleanup(shutil.rmtree, root, True)
        data = os.path.join(root, "data")
        german = os.path.join(data, "conditions", "german", "instructions")
        os.makedirs(german)
        os.makedirs(os.path.join(data, "instructions"))
        files = {
            "Setup.txt": setup_text(dict(DEFAULT_SETUP, MaxTrial="x")),  # not played
            "instructions/01.html": '<p>Tank:</p>\n<img src="tank.png">',
            "instructions/tank.png": "", "outside.png": "",
            "instructions/02.html": '<img src="file:///etc/hostname">\n<img src="../../outside.png">'
                                    '\n<a href="../Runs.txt">runs</a>',
            "end.html": '<p style="background-image: url(setups/x.png)">{subject}</p>',
            "Questionnaire.txt": "Plan | choice | none; some | Did you plan?\n",
            "conditions/german/instructions/01.html": '<img src="tank.png">',
        }
        for name, values in (("german", dict(DEFAULT_SETUP, Language="de")),
                             ("plain", DEFAULT_SETUP), ("tab\tname", DEFAULT_SETUP),
                             ("\u4e2d", DEFAULT_SETUP)):
            files["conditions/%s.txt" % name] = setup_text(values)
        for name, text in files.items():
            with open(os.path.join(data if name != "outside.png" else root, name), "w",
                      encoding="utf-8", newline="") as f:
                f.write(text)
        code, out, _ = run_program(["--check-setup", "--data-dir", data])
        out = out.encode("latin-1").decode("utf-8")
        self.assertEqual(code, 1, out)
        self.assertEqual(re.findall(r"^Condition: (.*)$", out, re.MULTILINE),
                         ["german", "plain", "tab\\tname", "\u4e2d"])
        self.assertNotIn("Setup.txt\n", out)
        self.assertIn("A person in de (German) would see Questionnaire.txt, end.html in another "
                      "language", out)
        self.assertIn("%s, line 1: the image \"tank.png\" is missing: there is no file %s."
                      % (os.path.join(german, "01.html"), os.path.join(german, "tank.png")), out)
        for line, reference in ((1, "file:///etc/hostname"), (2, "../../outside.png"),
                                (3, "../Runs.txt")):
            self.assertRegex(out, r'02.html, line %d: the (image|link) "%s" .*lies outside the '
                                  r"study's files" % (line, re.escape(reference)))
        self.assertIn('end.html, line 1: the image "setups/x.png"', out)
        self.assertNotIn("01.html, line 2", out)  # the data folder's own image is there
        for name, held in (("tab\\tname", "the control character \\t"),
                           ("\u4e2d", "\u4e2d (U+4E2D), beyond Latin-1")):
            self.assertIn('The records cannot keep the condition\'s name "%s" as written (it '
                          "holds %s)" % (name, held), out)
        self.assertIn("Of 4 files, these play, but not as they are meant: ", out)


class RunRecordTest(StudyTestCase):
    def test_every_run_that_ends_has_its_record(self):
        program = self.start(MaxTrial=3)
        self.assertTrue(program.stdout_lines[0].startswith("Data folder: "))
        model = self.connect(program)
        model.login("complete")
        for ui in (2, 0, 0):  # in the band from period 1 on
            model.exchange(decision(ui))
        model.exchange("SIMULATION RESET")
        model.login("halfway")
        model.exchange(decision(1))
        model.exchange(decision(1))
        model.exchange("SIMULATION RESET")
        model.login("leaver")
        model.exchange(decision(1))
        model.send_line("QUIT")
        self.assertEqual(program.wait_exit(), 0)

        runs = self.run_rows(program)
        data = program.data_rows()
        self.assertEqual([(r["Subject"], r["Ending"], r["PeriodsPlayed"], r["FirstDataLine"])
                          for r in runs],
                         [("complete", "completed", "3", "2"), ("halfway", "reset", "2", "5"),
                          ("leaver", "quit", "1", "7")])
        for run in runs:
            first = int(run["FirstDataLine"]) - 1  # data rows counted from the header, 0
            lines = data[first:first + int(run["PeriodsPlayed"])]
            self.assertEqual({line[0] for line in lines}, {run["Subject"]})
            self.assertEqual([line[2] for line in lines],
                             [str(t) for t in range(1, len(lines) + 1)])
            self.assertEqual(run["TotalBonus"], lines[-1][7])
            self.assertEqual(run["StartTime"], lines[0][4])
            in_band = sum(1 for line in lines if float(line[6]) > 0)
            self.assertEqual(run["PeriodsInBand"], str(in_band))
        self.assertEqual(runs[0]["PeriodsInBand"], "3")

        # The report reads what the program wrote: three runs, one complete.
        report = os.path.join(os.path.dirname(find_executable()), "fluxmere-report")
        html = os.path.join(program.folder, "report.html")
        table = os.path.join(program.folder, "runs.csv")
        done = subprocess.run([report, "--data-dir", program.data_dir, "-o", html, "--csv",
                               table], capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(table, newline="") as f:
            rows = list(csv.reader(f))
        self.assertEqual(len(rows), 4, rows)
        with open(html, encoding="utf-8") as f:
            page = f.read()
        self.assertEqual(page.count("<svg"), 8)  # the condition's two; amount and flows per run
        # Replaying each run through its kept setup gives the amounts the program recorded.
        self.assertEqual(page.count("replayed through the kept setup"), 3)

    def test_a_run_that_is_killed_has_no_record(self):
        program = self.start(MaxTrial=3)
        model = self.connect(program)
        model.login()
        parse_state(model.exchange(decision(1)))
        self.assertEqual(len(program.wait_rows(1)), 2)
        program.process.kill()
        program.wait_exit()
        self.assertFalse(os.path.exists(os.path.join(program.data_dir, "Runs.txt")))


class ConditionTest(StudyTestCase):
    """Models in a folder with two conditions and a Runs.txt of the first kind."""

    def study_folder(self):
        folder = tempfile.mkdtemp(prefix="fluxmere-study-")
        self.addCleanup(shutil.rmtree, folder, True)
        data = os.path.join(folder, "data")
        self.assertEqual(run_program(["--data-dir", data, "--init"])[0], 0)
        os.remove(os.path.join(data, "Setup.txt"))  # the conditions are the setups
        os.makedirs(os.path.join(data, "conditions"))
        for name, periods in (("short", 2), ("long", 3)):
            with open(os.path.join(data, "conditions", name + ".txt"), "w", newline="") as f:
                f.write(setup_text(dict(DEFAULT_SETUP, MaxTrial=periods)))
        with open(os.path.join(data, "Runs.txt"), "wb") as f:
            f.write("\t".join(RUN_COLUMNS[:11]).encode() + b"\r\n")
        return folder

    def test_models_rotate_and_each_run_names_its_condition_and_setup(self):
        folder = self.study_folder()
        program = self.start(folder=folder)
        model = self.connect(program)
        for periods in (3, 2, 3):  # long, short, long: the rotation's order
            model.login()
            for _ in range(periods):
                model.exchange(decision(0))
            self.assertEqual(model.exchange("SIMULATION RESET"), "SIMULATION_RESETED")
        model.send_line("QUIT")
        self.assertEqual(program.wait_exit(), 0)

        runs = self.run_rows(program)
        self.assertEqual([(r["StudyCondition"], r["MaxTrial"], r["Ending"]) for r in runs],
                         [("long", "3", "completed"), ("short", "2", "completed"),
                          ("long", "3", "completed")])
        self.assertEqual(len({r["RunId"] for r in runs}), 3)
        for run in runs:
            with open(os.path.join(program.data_dir, "conditions",
                                   run["StudyCondition"] + ".txt"), "rb") as f:
                condition = f.read()
            with open(os.path.join(program.data_dir, "setups", run["SetupId"] + ".txt"),
                      "rb") as f:
                self.assertEqual(f.read(), condition)
        with open(os.path.join(program.data_dir, "Runs-v1.txt"), "rb") as f:
            self.assertEqual(split_rows(f.read()), [RUN_COLUMNS[:11]])

        # --condition fixes the condition of every model's run; an unknown one is bad usage.
        program = self.start(folder=folder, args=["--condition", "short"])
        model = self.connect(program)
        model.login()
        model.exchange(decision(0))
        model.exchange(decision(0))
        model.send_line("QUIT")
        self.assertEqual(program.wait_exit(), 0)
        self.assertEqual(self.run_rows(program)[-1]["StudyCondition"], "short")
        # Each run replays from the setup it kept.
        code, out, err = run_program(["--verify", "--data-dir", program.data_dir])
        self.assertEqual((code, out.splitlines()[0]), (0, "4 runs, 10 periods verified, "
                                                           "0 differences"), err)
        code, _, err = run_program(["--data-dir", program.data_dir, "--condition", "medium"])
        self.assertEqual(code, 2, err)
        self.assertIn("medium", err)


class DesignTest(StudyTestCase):
    def test_a_pilot_records_into_a_scratch_folder_and_never_the_studys(self):
        program = self.start(args=["--pilot"])
        with open(os.path.join(program.data_dir, "Study.txt"), "w") as f:
            f.write("Assignment = rotation\n")
        model = self.connect(program)
        model.login()
        model.exchange(decision(1))
        stderr = program.stderr_text()
        scratch = re.search(r"records into (\S+); the data folder", stderr).group(1)
        self.addCleanup(shutil.rmtree, scratch, True)
        self.assertFalse(os.path.exists(program.data_file))
        self.assertTrue(os.path.isfile(os.path.join(scratch, "Krugel.db")))
        with open(os.path.join(scratch, "Data.txt"), "rb") as f:
            self.assertEqual(len(split_rows(f.read())), 2)

    def test_the_check_reads_the_design_and_fails_on_what_it_cannot_play(self):
        folder = tempfile.mkdtemp(prefix="fluxmere-study-")
        self.addCleanup(shutil.rmtree, folder, True)
        os.makedirs(os.path.join(folder, "conditions"))
        for name in ("low", "high"):
            with open(os.path.join(folder, "conditions", name + ".txt"), "w", newline="") as f:
                f.write(setup_text(DEFAULT_SETUP))
        study = os.path.join(folder, "Study.txt")
        with open(study, "w") as f:
            f.write("Blocks = low, high\nBlockOrder = latin\nLanguages = en, de\n")
        code, out, _ = run_program(["--check-setup", "--data-dir", folder])
        self.assertEqual(code, 0, out)
        self.assertIn("Each person plays 2 blocks: low, high; the order by the rotation, one of 2.",
                      out)
        with open(study, "w") as f:
            f.write("Blocks = low, middle\nAsignment = random\nLanguages = xx\n")
        code, out, _ = run_program(["--check-setup", "--data-dir", folder])
        self.assertEqual(code, 1, out)
        for problem in ('line 1: Blocks names "middle", which is no condition',
                        'line 2: "Asignment" is no key of Study.txt',
                        'line 3: Languages names "xx"'):
            self.assertIn(problem, out)


class InstallTest(unittest.TestCase):
    def test_the_install_lays_out_a_study_folder_and_keeps_its_data(self):
        build = os.environ.get("FLUXMERE_BUILD")
        if not build:
            self.skipTest("FLUXMERE_BUILD names no build folder to install from")
        study = tempfile.mkdtemp(prefix="fluxmere-study-")
        self.addCleanup(shutil.rmtree, study, True)
        install = ["cmake", "--install", build, "--prefix", study]
        subprocess.run(install, check=True, capture_output=True, timeout=120)
        for name in ("fluxmere", "fluxmere-report", "data/Setup.txt", "data/Krugel.db"):
            self.assertTrue(os.path.isfile(os.path.join(study, name)), name)
        setup = os.path.join(study, "data", "Setup.txt")
        with open(setup, "a") as f:
            f.write("' edited for the study\n")
        subprocess.run(install, check=True, capture_output=True, timeout=120)
        with open(setup) as f:
            self.assertIn("edited for the study", f.read())
        # The installed program finds its data beside it.
        code, out, _ = run_program(["--check-setup"], exe=os.path.join(study, "fluxmere"))
        self.assertEqual(code, 0, out)
        self.assertIn(os.path.join(study, "data", "Setup.txt"), out)


if __name__ == "__main__":
    unittest.main()
