"""End-to-end tests of RESULT and of the Python client library on the real program: the run's
figures a model asks for agree with what Runs.txt records, and TankEnv's rewards add up to
the recorded bonus.
"""

import os
import re
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "clients", "python"))

from fluxmere_e2e import (DEFAULT_SETUP, ProgramTestCase, parse_state, run_program,  # noqa: E402
                          setup_text, split_rows)
from fluxmere_client import Client, NotLoggedIn, TankEnv  # noqa: E402

RESULT_LINE = re.compile(r"RESULT TIME (\d+) INBAND (\d+) BONUS (\S+) PAYMENT (\S+) LAST ([01])")


def run_records(program):
    with open(os.path.join(program.data_dir, "Runs.txt"), "rb") as f:
        header, *rows = split_rows(f.read())
    return [dict(zip(header, row)) for row in rows]


class ResultTest(ProgramTestCase):
    def test_result_follows_a_whole_run_and_agrees_with_runs_txt(self):
        program = self.start(MaxTrial=5)
        model = self.connect(program)
        model.send_line("RESULT")  # before a login, like any message without a blank
        self.assertTrue(model.silent_for(0.3), "RESULT before a login is not answered")
        self.assertEqual(parse_state(model.login())["time"], 0)
        self.assertEqual(model.exchange("RESULT"),
                         "RESULT TIME 0 INBAND 0 BONUS 0 PAYMENT 5 LAST 0")
        # Amount 2, goal 4, orders act in their own period: in, in, in, out, in.
        decisions = ["UI 2", "UI 0", "UI 0.05", "UO 1", "UI 1"]
        results = []
        for period, decision in enumerate(decisions, 1):
            # Sent back to back: the state of the period comes first, then its result.
            model.send("DECISION %s\nRESULT\n" % decision)
            self.assertEqual(parse_state(model.read_line())["time"], period)
            results.append(model.read_line())
        # Three periods in the band: sums of 0.05 come out as recorded, not 5.1499999999999995.
        self.assertEqual(results[2], "RESULT TIME 3 INBAND 3 BONUS 0.15 PAYMENT 5.15 LAST 0")
        self.assertEqual([RESULT_LINE.fullmatch(line).group(5) for line in results],
                         ["0", "0", "0", "0", "1"])
        self.assertEqual(model.exchange("DECISION UI 0"), "END_PROGRAM")
        final = model.exchange("RESULT")
        self.assertEqual(final, results[-1], "RESULT plays and changes nothing")
        self.assertEqual(len(program.wait_rows(5)), 6)
        [record] = run_records(program)
        time_, in_band, bonus, payment, _ = RESULT_LINE.fullmatch(final).groups()
        self.assertEqual((time_, in_band), ("5", record["PeriodsInBand"]))
        self.assertEqual(float(payment), float(record["TotalBonus"]))
        self.assertEqual(float(bonus), 0.2)
        # A reset logs the model out: RESULT is then ignored as before the login.
        self.assertEqual(model.exchange("SIMULATION RESET"), "SIMULATION_RESETED")
        model.send_line("RESULT")
        self.assertTrue(model.silent_for(0.3))


    def test_answers_written_together_still_reach_a_model_that_quits_behind_them(self):
        # Without pauses the decision, RESULT and QUIT are handed on in one pass, and the
        # answers wait for its end: the program must write them out before it ends.
        program = self.start(args=["--batch-pause-ms", "0"])
        model = self.connect(program)
        model.login()
        model.send("DECISION UI 2\nRESULT\nQUIT\n")
        self.assertEqual(model.wait_closed().decode("latin-1").split("\r\n"), [
            "STATE TIME 1 GOAL 04.00 AMOUNT 04.00 EI 00.000 EO 00.000 UI 02.000 UO 00.000",
            "RESULT TIME 1 INBAND 1 BONUS 0.05 PAYMENT 5.05 LAST 0", ""])
        self.assertEqual(program.wait_exit(), 0)


class MoneyAndBandTest(ProgramTestCase):
    EURO_SETUP = {"MaxTrial": 4, "ToleranceBelow": 0.2, "BonusPerPeriod": 0.1,
                  "BasePayment": 3, "Currency": "\u20ac", "CurrencyAfter": 1}

    def test_a_setup_in_euros_with_a_wider_band_below_is_played_and_recorded(self):
        program = self.start(**self.EURO_SETUP)
        model = self.connect(program)
        model.login()
        self.assertEqual(model.exchange("SCENARIO"),
                         "SCENARIO MAXTRIAL 4 GOAL 4 TOLBELOW 0.2 TOLABOVE 0.1 DELAYUI 1 "
                         "DELAYUO 1 BONUS 0.1 BASE 3")
        # Amounts 3.8 (in only by the wider band below), 4.1, 4.15 (out), 3.8.
        for decision in ("UI 1.8", "UI 0.3", "UI 0.05", "UO 0.35"):
            model.exchange("DECISION " + decision)
        self.assertEqual(model.exchange("RESULT"),
                         "RESULT TIME 4 INBAND 3 BONUS 0.3 PAYMENT 3.3 LAST 1")
        header, *rows = program.wait_rows(4)
        self.assertEqual(len(rows), 4)
        fields = [dict(zip(header, row)) for row in rows]
        self.assertEqual([f["CurrentBonus"] for f in fields], ["0.1", "0.1", "0", "0.1"])
        self.assertEqual((fields[-1]["GoalUpperBound"], fields[-1]["GoalLowerBound"]),
                         ("0.2", "0.1"))
        [record] = run_records(program)
        self.assertEqual((record["PeriodsInBand"], record["TotalBonus"]), ("3", "3.3"))

    def test_check_setup_names_the_line_of_a_bad_money_or_band_value(self):
        for key, bad in (("ToleranceAbove", "0"), ("BasePayment", "-1"),
                         ("CurrencyAfter", "2")):
            with self.subTest(key=key):
                folder = tempfile.mkdtemp(prefix="fluxmere-money-")
                self.addCleanup(shutil.rmtree, folder, True)
                with open(os.path.join(folder, "Setup.txt"), "w", newline="") as f:
                    f.write(setup_text(dict(DEFAULT_SETUP, **{key: bad})))
                code, out, _ = run_program(["--check-setup", "--data-dir", folder])
                self.assertEqual(code, 1, out)
                # The setup's first line is a comment, then the defaults' ten keys, then it.
                self.assertRegex(out, r"line 12: .*%s" % key)


class PythonClientTest(ProgramTestCase):
    def test_scenario_and_result_are_refused_before_a_login(self):
        program = self.start()
        with Client(program.port, timeout=5) as client:
            for request in (client.scenario, client.result):
                with self.assertRaises(NotLoggedIn):
                    request()
            self.assertEqual(client.login("early").time, 0)
            self.assertEqual(client.scenario()["max_trial"], 5)

    def test_tank_env_rewards_add_up_to_the_recorded_bonus(self):
        # Orders act one period late, so a rule that ignores them swings through the band.
        program = self.start(MaxTrial=8, inFlowDelayValue=2, outFlowDelayValue=2)
        with TankEnv(program.port, name="gym") as env:
            for run in (1, 2):
                observation, info = env.reset(seed=run)
                self.assertEqual((observation["time"], observation["env_in"]), (0, 0.0))
                rewards, ends = [], []
                terminated = False
                while not terminated:
                    gap = observation["goal"] - observation["amount"]
                    observation, reward, terminated, truncated, info = env.step(
                        (max(0.0, gap), max(0.0, -gap)))
                    rewards.append(reward)
                    ends.append((terminated, truncated))
                self.assertEqual(ends, [(False, False)] * 7 + [(True, False)])
                self.assertEqual(observation["time"], 8)
                self.assertIn(0.0, rewards)
                self.assertIn(0.05, [round(reward, 12) for reward in rewards])
                record = run_records(program)[-1]
                self.assertEqual((record["Subject"], record["PeriodsPlayed"]), ("gym", "8"))
                self.assertEqual(info["in_band"], int(record["PeriodsInBand"]))
                self.assertEqual(info["payment"], float(record["TotalBonus"]))
                self.assertAlmostEqual(sum(rewards), float(record["TotalBonus"]) - 5, places=12)


if __name__ == "__main__":
    unittest.main()
