"""End-to-end tests of the command line and of SCENARIO: what a modeller running many
instances on a server relies on. Each case runs the real program."""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_e2e import (  # noqa: E402
    DATA_COLUMNS,
    DEFAULT_SETUP,
    ProgramUnderTest,
    TankReference,
    headless_environment,
    parse_state,
    run_program,
    setup_text,
)
from test_model_e2e import INITIAL, E2ETestCase, decision  # noqa: E402

# Decisions with delays, environment flows and a regime switch, so that every column moves.
SETUP = {"MaxTrial": 6, "InitialBackOrder": 1, "inFlowDelayValue": 3, "inFlowDelayLength": 5,
         "outFlowDelayValue": 2}
DECISIONS = [(1, 0, 0.5, 0), (0, 0.5, None, None), (2, 0, 0, 0.25), (0, 0, None, None),
             (0.5, 1, 1, 0), (0, 0, None, None)]
CLOCK_COLUMNS = {DATA_COLUMNS.index(name) for name in ("Date", "StartTime", "EndTime")}


def contents(folder):
    """Every file of `folder` and its subfolders, relative path to bytes."""
    result = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                result[os.path.relpath(path, folder)] = f.read()
    return result


class CommandLineTest(E2ETestCase):
    def folder(self):
        path = tempfile.mkdtemp(prefix="fluxmere-e2e-")
        self.addCleanup(shutil.rmtree, path, True)
        return path

    def play(self, program, name, decisions):
        model = self.connect(program)
        self.assertEqual(model.login(name), INITIAL)
        for period, (ui, uo, ei, eo) in enumerate(decisions, 1):
            self.assertEqual(parse_state(model.exchange(decision(ui, uo, ei, eo)))["time"],
                             period)
        return model

    def test_batch_pause_0_records_the_same_lines_as_pause_1(self):
        rows = {}
        for pause in ("1", "0"):
            program = self.start(args=["--batch-pause-ms", pause], **SETUP)
            model = self.play(program, "alpha", DECISIONS)
            self.assertEqual(model.exchange("DECISION UI 1"), "END_PROGRAM")
            model.send_line("QUIT")
            self.assertExitsWithoutAnswer(program, model)
            rows[pause] = [[field for index, field in enumerate(row)
                            if index not in CLOCK_COLUMNS] for row in program.data_rows()]
        self.assertEqual(len(rows["0"]), 1 + len(DECISIONS))
        self.assertEqual(rows["0"], rows["1"])

    def test_two_instances_at_once_keep_their_own_lines(self):
        programs = {name: self.start(**SETUP) for name in ("one", "two")}
        self.assertNotEqual(programs["one"].port, programs["two"].port)
        models = {name: self.play(program, name, []) for name, program in programs.items()}
        for ui, uo, ei, eo in DECISIONS:  # period by period, in turn
            for model in models.values():
                parse_state(model.exchange(decision(ui, uo, ei, eo)))
        for name, program in programs.items():
            with self.subTest(name):
                models[name].send_line("QUIT")
                self.assertExitsWithoutAnswer(program, models[name])
                subjects = [row[0] for row in program.data_rows()[1:]]
                self.assertEqual(subjects, [name] * len(DECISIONS))

    def test_bad_command_lines_end_with_their_status(self):
        root = self.folder()
        without_setup = os.path.join(root, "empty")
        os.mkdir(without_setup)
        ready = os.path.join(root, "ready")
        os.mkdir(ready)
        with open(os.path.join(ready, "Setup.txt"), "w", newline="") as f:
            f.write(setup_text(DEFAULT_SETUP))
        cases = [
            ("unknown option", ["--frobnicate"], 2, ["frobnicate", "Usage:"]),
            ("port out of range", ["--port", "70000", "--data-dir", ready], 2,
             ["--port", "70000", "Usage:"]),
            ("negative pause", ["--batch-pause-ms", "-1", "--data-dir", ready], 2,
             ["--batch-pause-ms", "-1", "Usage:"]),
            ("scale out of range", ["--scale", "5", "--data-dir", ready], 2,
             ["--scale takes a factor from 0.5 to 4", "Usage:"]),
            ("language without a translation", ["--language", "xx", "--data-dir", ready], 2,
             ["--language xx", "no translation", "Usage:"]),
            ("missing data folder", ["--port", "0", "--data-dir", os.path.join(root, "none")],
             1, ["does not exist", "--init"]),
            ("data folder without Setup.txt", ["--port", "0", "--data-dir", without_setup], 1,
             ["Configuration failed", "Setup.txt"]),
        ]
        for name, args, status, named in cases:
            with self.subTest(name):
                code, out, err = run_program(args)
                self.assertEqual(code, status, err)
                self.assertNotIn("Waiting for a model", out)
                for part in named:
                    self.assertIn(part, err)

    def test_init_makes_a_data_folder_once_and_never_overwrites(self):
        root = self.folder()
        data = os.path.join(root, "data")
        code, out, err = run_program(["--data-dir", data, "--init"])
        self.assertEqual(code, 0, err)
        self.assertEqual(sorted(os.listdir(data)), ["Krugel.db", "Setup.txt"])
        with ProgramUnderTest(folder=root) as program, program.connect() as model:
            self.assertEqual(model.login(), INITIAL)  # the default scenario: goal 4, amount 2
        with open(os.path.join(data, "Setup.txt"), "a", newline="") as f:
            f.write("' edited by the experimenter\r\n")
        before = contents(data)
        code, out, err = run_program(["--data-dir", data, "--init"])
        self.assertEqual(code, 0, err)
        self.assertEqual(out.count("Kept"), 2, out)
        self.assertEqual(contents(data), before)

    def test_help_and_version_need_no_display(self):
        env = headless_environment(DISPLAY=None, WAYLAND_DISPLAY=None, QT_QPA_PLATFORM="xcb")
        for option, expected in (("--help", ["--port", "--data-dir", "--init",
                                             "--batch-pause-ms", "--version"]),
                                 ("--version", ["fluxmere "])):
            with self.subTest(option):
                code, out, err = run_program([option], env=env)
                self.assertEqual((code, err), (0, ""))
                for part in expected:
                    self.assertIn(part, out)


class ScenarioTest(E2ETestCase):
    def test_scenario_tells_the_delays_in_force_before_and_after_their_switch(self):
        program = self.start(MaxTrial=4, inFlowDelayValue=2, inFlowDelayLength=2)
        model = self.connect(program)
        # Not logged in: a message without a blank gets no reply and starts nothing.
        model.send_line("SCENARIO")
        self.assertSilent(model)
        self.assertFalse(os.path.exists(program.data_file))
        self.assertEqual(model.login(), INITIAL)
        reply = "SCENARIO MAXTRIAL 4 GOAL 4 TOLBELOW 0.1 TOLABOVE 0.1 DELAYUI %d DELAYUO 1 " \
                "BONUS 0.05 BASE 5"
        self.assertEqual(model.exchange("SCENARIO"), reply % 2)
        reference = TankReference(program.setup)
        told = []
        for period in range(1, 5):
            self.assertEqual(model.exchange("DECISION UI 1"), reference.play(1)["message"])
            told.append(model.exchange("SCENARIO"))
        # From period 2 (the inflow delay's length) on, orders act at once.
        self.assertEqual(told, [reply % 2] + [reply % 0] * 3)
        self.assertEqual(model.exchange("DECISION UI 1"), "END_PROGRAM")
        rows = program.wait_rows(4)[1:]
        self.assertEqual([row[DATA_COLUMNS.index("DelayUI")] for row in rows],
                         ["2", "0", "0", "0"])


if __name__ == "__main__":
    unittest.main()
