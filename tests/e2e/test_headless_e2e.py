"""End-to-end tests of a headless run: the real program without a screen, as a modeller runs
it on a server. Nothing may wait for a click, and no input may stop it for good."""

import os
import socket
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_e2e import (  # noqa: E402
    BAD_DECISION_PREFIX,
    DEFAULT_SETUP,
    HOST,
    ModelClient,
    ProgramTestCase,
    parse_state,
    run_to_exit,
    setup_text,
)

INITIAL = "STATE TIME 0 GOAL 04.00 AMOUNT 02.00 EI -1 EO -1 UI -1 UO -1"


class HeadlessTestCase(ProgramTestCase):
    def assertQuits(self, program, client):
        client.send_line("QUIT")
        self.assertEqual(client.wait_closed(), b"")
        self.assertEqual(program.wait_exit(), 0)


class LaunchCheckTest(HeadlessTestCase):
    def test_an_unusable_setup_file_ends_the_launch_with_status_1(self):
        cases = {
            "no setup file": (None, ["Configuration failed", "Setup.txt"]),
            "a key missing": (
                {k: v for k, v in DEFAULT_SETUP.items() if k != "MaxTrial"}, ["MaxTrial"]),
            "not a number": (dict(DEFAULT_SETUP, GoalLinePoisition="four"),
                             ["GoalLinePoisition", "not a number"]),
            "overflows once scaled": (dict(DEFAULT_SETUP, InitialAmountInTank="1e308"),
                                      ["InitialAmountInTank", "out of range"]),
        }
        for name, (values, named) in cases.items():
            with self.subTest(name):
                code, out, err = run_to_exit(None if values is None else setup_text(values))
                self.assertEqual(code, 1, err)
                self.assertNotIn("Waiting for a model", out, "it must not listen")
                for part in named:
                    self.assertIn(part, err)
                self.assertTrue(err.startswith("fluxmere: "), err)

    def test_a_second_instance_on_a_busy_port_ends_with_status_1(self):
        program = self.start()
        code, out, err = run_to_exit(setup_text(DEFAULT_SETUP), port=program.port)
        self.assertEqual(code, 1)
        self.assertIn("Cannot listen for a model on port %d" % program.port, err)
        self.assertNotIn("Waiting for a model on port %d." % program.port, out)
        self.assertTrue(program.running())

    def test_only_the_programs_own_messages_reach_standard_error(self):
        saved = os.environ.pop("XDG_RUNTIME_DIR", None)
        if saved is not None:
            self.addCleanup(os.environ.__setitem__, "XDG_RUNTIME_DIR", saved)
        program = self.start()
        model = self.connect(program)
        model.send_line("ENTRY-ID alpha VERSION NONBATCH")  # the task window is shown
        self.assertEqual(model.read_line(), INITIAL)
        self.assertQuits(program, model)
        self.assertEqual(program.stderr_text(), "")


class DecisionValueTest(HeadlessTestCase):
    def test_a_value_beyond_any_tank_is_refused_and_the_program_answers_on(self):
        program = self.start()
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        for message in ("DECISION UI 1.7976931348623157E308 UO 0", "DECISION UI 1 EO 1e999",
                        "DECISION UO 2e15"):
            self.assertEqual(model.exchange(message), BAD_DECISION_PREFIX + message)
        state = parse_state(model.exchange("DECISION UI 0.1 UO 1e15"))
        self.assertEqual(state["time"], 1)
        self.assertEqual(program.wait_rows(1)[1][9], "1E+15")
        self.assertQuits(program, model)


class ConnectionTest(HeadlessTestCase):
    def test_a_client_right_after_a_readiness_probe_is_served(self):
        program = self.start()
        resets = 0
        for attempt in range(100):
            socket.create_connection((HOST, program.port), timeout=2).close()
            model = ModelClient(port=program.port)
            try:
                self.assertEqual(model.login("m%d" % attempt), INITIAL)
            except (ConnectionError, TimeoutError):
                resets += 1
            finally:
                model.close()
        print("\nresets out of 100 probe-then-connect tries: %d" % resets)
        self.assertEqual(resets, 0)
        self.assertTrue(program.running())

    def test_a_flood_of_line_feeds_costs_no_memory(self):
        program = self.start()
        model = self.connect(program)
        time.sleep(0.2)
        before = program.rss_kib()
        peak = [before]
        flooding = threading.Event()
        flooding.set()

        def sample():
            while flooding.is_set():
                peak[0] = max(peak[0], program.rss_kib())
                time.sleep(0.005)

        sampler = threading.Thread(target=sample)
        sampler.start()
        try:
            model.send(b"\n" * (10 * 1024 * 1024))
            self.assertEqual(model.login(timeout=20), INITIAL)  # empty messages are ignored
        finally:
            flooding.clear()
            sampler.join()
        after = program.rss_kib()
        print("\nRSS before %d KiB, peak %d KiB, after %d KiB" % (before, peak[0], after))
        # The address sanitizer holds freed memory back on purpose: its figures say nothing.
        if "ASAN_OPTIONS" not in os.environ:
            self.assertLess(peak[0] - before, 8 * 1024)
        self.assertQuits(program, model)

    def test_a_model_far_ahead_of_the_program_is_dropped(self):
        program = self.start()
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        try:
            model.send(b"DECISION UI 1\n" * 1000)
        except OSError:
            pass
        model.wait_closed()
        # Whatever it queued is gone; the next model is served from a clean start.
        successor = self.connect(program)
        self.assertEqual(successor.login("next"), INITIAL)
        self.assertIn("messages", program.stderr_text())


class RunWithoutWindowsTest(HeadlessTestCase):
    def test_max_trial_0_is_played_by_a_model(self):
        program = self.start(MaxTrial=0)
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        self.assertEqual(model.exchange("DECISION UI 1"), "END_PROGRAM")
        self.assertEqual(model.exchange("DECISION UI 1"), "END_PROGRAM")
        self.assertQuits(program, model)

    def test_a_model_that_drops_in_its_last_period_ends_the_program(self):
        program = self.start(MaxTrial=2)
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        model.exchange("DECISION UI 1")
        model.send_line("DECISION UI 1")
        model.close()
        self.assertEqual(program.wait_exit(), 0)
        self.assertEqual(len(program.data_rows()), 3)
        self.assertIn("questionnaire", program.stderr_text())

    def test_a_login_that_start_refuses_is_answered(self):
        program = self.start()
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        self.assertEqual(model.exchange("SIMULATION RESET"), "SIMULATION_RESETED")
        program.write_setup({"MaxNumberOfAScenarioType": 2})
        self.assertEqual(model.login(), "END_PROGRAM")
        self.assertIn("MaxNumberOfAScenarioType (2)", program.stderr_text())
        program.write_setup({"GoalLinePoisition": "four"})
        self.assertEqual(model.login(), "END_PROGRAM")
        self.assertIn("GoalLinePoisition", program.stderr_text())
        # Mended, the file serves the next login.
        program.write_setup({})
        self.assertEqual(model.login(), INITIAL)
        self.assertQuits(program, model)

    def test_a_period_line_that_cannot_be_written_ends_the_program(self):
        program = self.start()
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        os.remove(program.data_file)
        os.mkdir(program.data_file)  # not even root can append to it
        model.send_line("DECISION UI 1")
        self.assertNotEqual(program.wait_exit(), 0)
        self.assertIn("could not be written", program.stderr_text())


if __name__ == "__main__":
    unittest.main()
