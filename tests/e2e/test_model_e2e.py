"""End-to-end tests of the model connection: the real program, headless, and a TCP client.

Each test starts its own copy of the program in a temporary folder (see fluxmere_e2e.py),
talks to it over loopback exactly as a model does and checks the replies byte for byte, the
timing of the run modes and the data file the run leaves behind.
"""

import os
import re
import socket
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_e2e import (  # noqa: E402
    BAD_DECISION_PREFIX,
    BAD_LOGIN_PREFIX,
    DATA_COLUMNS,
    ModelClient,
    ProgramTestCase,
    ProgramUnderTest,
    TankReference,
    initial_state_message,
    parse_state,
    state_amount,
)

EXAMPLE_MODEL = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "examples", "model.py")
INITIAL = "STATE TIME 0 GOAL 04.00 AMOUNT 02.00 EI -1 EO -1 UI -1 UO -1"
SILENCE = 0.3


def decision(ui=None, uo=None, ei=None, eo=None):
    parts = ["DECISION"]
    for key, value in (("UI", ui), ("UO", uo), ("EI", ei), ("EO", eo)):
        if value is not None:
            parts += [key, repr(value) if isinstance(value, float) else str(value)]
    return " ".join(parts)


class E2ETestCase(ProgramTestCase):
    def assertSilent(self, client, seconds=SILENCE):
        self.assertTrue(client.silent_for(seconds),
                        "expected nothing more, got %r (closed by the program: %s)"
                        % (bytes(client.buffer), client.closed_by_peer))

    def assertExitsWithoutAnswer(self, program, client):
        self.assertEqual(client.wait_closed(), b"", "QUIT is answered with nothing")
        self.assertEqual(program.wait_exit(), 0)

    def assertRowMatches(self, row, expected, subject, version):
        self.assertEqual(len(row), 22, "22 TAB-separated fields: %r" % (row,))
        fields = dict(zip(DATA_COLUMNS, row))
        self.assertEqual(fields["Subject"], subject)
        self.assertEqual(fields["Version"], version)
        self.assertEqual(fields["Trial"], str(expected["Trial"]))
        self.assertRegex(fields["Date"], r"^\d{1,2}/\d{1,2}/\d{4}$")
        for column in ("StartTime", "EndTime"):
            self.assertRegex(fields[column], r"^\d{1,2}:\d{2}:\d{2} (AM|PM)$")
        for column in ("CurrentBonus", "TotalBonus", "UserInflow", "UserOutflow", "EnvInflow",
                       "EnvOutflow", "Amount", "BackOrder", "TotalBackOrder",
                       "ForwardDischarge", "TotalForwardDischarge", "GoalAmount"):
            self.assertAlmostEqual(float(fields[column]), expected[column], places=9,
                                   msg="%s of period %d: %r" % (column, expected["Trial"], row))
        self.assertEqual(fields["DelayUI"], str(expected["DelayUI"]))
        self.assertEqual(fields["DelayUO"], str(expected["DelayUO"]))
        self.assertEqual(fields["GoalUpperBound"], "0.1")
        self.assertEqual(fields["GoalLowerBound"], "0.1")


class RunToEndTest(E2ETestCase):
    # (name, setup, decisions as (ui, uo, ei, eo)); every state message is predicted by
    # TankReference, which follows the task's rules on its own.
    SCENARIOS = [
        ("delays 1 with environment flows, inactive and one-sided environments",
         {"MaxTrial": 6},
         [(3, 1, 2, 0), (1, None, None, None), (0, 2.5, 1.5, 0.5), (0, 0, -1, -1),
          (0.1, 0, -1, 2), (2, 0, 3, 0)]),
        ("initial back order over an inflow delay of 3",
         {"MaxTrial": 5, "InitialBackOrder": 4, "inFlowDelayValue": 3},
         [(1, 0, None, None), (0.5, 0, 0, 0), (0, 2, None, None), (0, 0, 0.25, 0.75),
          (3, 0, None, None)]),
        ("initial forward discharge over an outflow delay of 4",
         {"MaxTrial": 5, "InitialAmountInTank": 6, "InitialForwardDischarge": 3,
          "outFlowDelayValue": 4},
         [(0, 0.5, None, None)] * 5),
        ("inflow delay falls to 0 at the end of its regime",
         {"MaxTrial": 5, "inFlowDelayValue": 2, "inFlowDelayLength": 3},
         [(1, 0, None, None)] * 5),
        ("goal band edges included, a negative outflow never acts",
         {"MaxTrial": 4},
         [(1.9, -1, None, None), (0.2, 0, None, None), (0.001, 0, None, None),
          (0, 0.001, None, None)]),
    ]

    def play_scenario(self, setup, decisions, name="alpha"):
        with ProgramUnderTest(setup) as program, program.connect() as model:
            self.play_scenario_on(program, model, decisions, name)

    def play_scenario_on(self, program, model, decisions, name):
        reference = TankReference(program.setup)
        self.assertEqual(model.login(name), initial_state_message(reference.goal,
                                                                  reference.amount))
        expected_rows = []
        for ui, uo, ei, eo in decisions:
            message = decision(ui, uo, ei, eo)
            expected = reference.play(ui or 0.0, uo or 0.0, ei, eo)
            self.assertEqual(model.exchange(message), expected["message"],
                             "sent %r" % message)
            expected_rows.append(expected)
        # After the last period a decision plays nothing and is answered END_PROGRAM.
        self.assertEqual(model.exchange("DECISION UI 1"), "END_PROGRAM")
        self.assertEqual(model.exchange("DECISION UI 1 EI 5"), "END_PROGRAM")
        self.assertSilent(model)
        rows = program.data_rows()
        self.assertEqual(rows[0], DATA_COLUMNS)
        self.assertEqual(len(rows), 1 + len(decisions))
        for row, expected in zip(rows[1:], expected_rows):
            self.assertRowMatches(row, expected, name, "BATCH")
        # The program waits for the model after its run; QUIT ends it.
        model.send_line("QUIT")
        self.assertExitsWithoutAnswer(program, model)

    def test_batch_runs_match_the_worked_out_amounts(self):
        for name, setup, decisions in self.SCENARIOS:
            with self.subTest(name):
                self.play_scenario(setup, decisions)

    def test_initial_back_order_worked_by_hand(self):
        program = self.start(MaxTrial=4, InitialBackOrder=4, inFlowDelayValue=3)
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        # Periods 1 and 2 each receive 2 of the initial order (shown as a user inflow of 0);
        # the decision of period 1 arrives in period 3, that of period 2 in period 4.
        exchanges = [
            ("DECISION UI 1 UO 0",
             "STATE TIME 1 GOAL 04.00 AMOUNT 04.00 EI 00.000 EO 00.000 UI 00.000 UO 00.000"),
            ("DECISION UI 0.5",
             "STATE TIME 2 GOAL 04.00 AMOUNT 06.00 EI 00.000 EO 00.000 UI 00.000 UO 00.000"),
            ("DECISION UO 2",
             "STATE TIME 3 GOAL 04.00 AMOUNT 05.00 EI 00.000 EO 00.000 UI 01.000 UO 02.000"),
            ("DECISION EI 0.25 EO 0.75",
             "STATE TIME 4 GOAL 04.00 AMOUNT 05.00 EI 00.250 EO 00.750 UI 00.500 UO 00.000"),
        ]
        for sent, expected in exchanges:
            self.assertEqual(model.exchange(sent), expected, "sent %r" % sent)
        self.assertEqual(model.exchange("DECISION UI 0"), "END_PROGRAM")
        rows = program.data_rows()[1:]
        self.assertEqual([row[14] for row in rows], ["3", "1.5", "0.5", "0"])  # TotalBackOrder
        self.assertEqual([row[13] for row in rows], ["2", "2", "0", "0"])  # BackOrder
        self.assertEqual([row[7] for row in rows], ["5.05", "5.05", "5.05", "5.05"])

    def test_nonbatch_periods_take_two_pauses_of_two_seconds(self):
        program = self.start(MaxTrial=2)
        model = self.connect(program)
        self.assertEqual(model.login("slow", "NONBATCH"), INITIAL)
        for period, amount in ((1, "03.00"), (2, "04.00")):
            started = time.monotonic()
            reply = model.exchange("DECISION UI 1", timeout=12)
            took = time.monotonic() - started
            self.assertEqual(parse_state(reply)["time"], period)
            self.assertEqual(parse_state(reply)["amount_text"], amount)
            self.assertGreaterEqual(took, 3.9, "period %d took %.3f s" % (period, took))
            self.assertLess(took, 8.0, "period %d took %.3f s" % (period, took))
        self.assertEqual(model.exchange("DECISION UI 1", timeout=5), "END_PROGRAM")
        rows = program.data_rows()[1:]
        self.assertEqual([row[1] for row in rows], ["NONBATCH", "NONBATCH"])

    def test_login_with_a_name_only_keeps_the_run_mode(self):
        program = self.start(MaxTrial=2)
        model = self.connect(program)
        # At program start the pauses are 2 s each and no mode is recorded.
        self.assertEqual(model.exchange("ENTRY-ID first"), INITIAL)
        started = time.monotonic()
        self.assertEqual(parse_state(model.exchange("DECISION UI 1", timeout=12))["time"], 1)
        self.assertGreaterEqual(time.monotonic() - started, 3.9)
        time.sleep(0.2)  # the period closes 1 ms after its state message
        self.assertEqual(model.exchange("SIMULATION RESET"), "SIMULATION_RESETED")
        self.assertEqual(model.login("second", "BATCH"), INITIAL)
        self.assertEqual(model.exchange("SIMULATION RESET"), "SIMULATION_RESETED")
        # A name-only login after a BATCH one plays in BATCH mode.
        self.assertEqual(model.exchange("ENTRY-ID third"), INITIAL)
        started = time.monotonic()
        self.assertEqual(parse_state(model.exchange("DECISION UI 1"))["time"], 1)
        self.assertLess(time.monotonic() - started, 1.0)
        self.assertEqual(parse_state(model.exchange("DECISION UI 1"))["time"], 2)
        self.assertEqual(model.exchange("DECISION UI 1"), "END_PROGRAM")
        rows = program.data_rows()[1:]
        self.assertEqual([(row[0], row[1], row[2]) for row in rows],
                         [("first", "", "1"), ("third", "BATCH", "1"), ("third", "BATCH", "2")])


class LoginTest(E2ETestCase):
    BAD_LOGINS = [
        ("unknown mode", "ENTRY-ID alpha VERSION TURBO"),
        ("no VERSION keyword", "ENTRY-ID alpha MODE BATCH"),
        ("quoted login is not unquoted", '"ENTRY-ID alpha VERSION BATCH"'),
        ("VERSION without a mode", "ENTRY-ID alpha VERSION"),
        ("lower-case mode", "ENTRY-ID alpha VERSION batch"),
        ("empty name", "ENTRY-ID  VERSION BATCH"),
        ("name only, but empty", "ENTRY-ID "),
    ]

    def test_bad_logins_get_the_exact_reply_and_stay_logged_out(self):
        program = self.start()
        model = self.connect(program)
        for name, message in self.BAD_LOGINS:
            with self.subTest(name):
                self.assertEqual(model.exchange(message), BAD_LOGIN_PREFIX + message)
        # A message without any space is no login: nothing is sent.
        model.send_line("HELLO")
        self.assertSilent(model)
        model.send_line("")
        self.assertSilent(model)
        # Still logged out: a decision now is a login attempt, and a good login starts the run.
        self.assertEqual(model.exchange("DECISION UI 1"), BAD_LOGIN_PREFIX + "DECISION UI 1")
        self.assertEqual(model.login("alpha", "BATCH"), INITIAL)
        self.assertEqual(parse_state(model.exchange("DECISION UI 1"))["time"], 1)
        rows = program.wait_rows(1)
        self.assertEqual(len(rows), 2)
        self.assertEqual(rows[1][0], "alpha")

    def test_tokens_after_the_mode_are_ignored(self):
        program = self.start()
        model = self.connect(program)
        self.assertEqual(model.exchange("HELLO alpha VERSION BATCH extra tokens"), INITIAL)


class DecisionTest(E2ETestCase):
    BAD_DECISIONS = [
        ("another first word", "PLAY 3"),
        ("lower-case keyword", "decision UI 1"),
        ("keyword without its value", "DECISION UI 1 UO"),
        ("quoted, judged after unquoting", '"PLAY 3"'),
    ]

    def test_bad_decisions_get_the_exact_reply_and_play_nothing(self):
        program = self.start()
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        for name, message in self.BAD_DECISIONS:
            with self.subTest(name):
                received = message.strip('"')
                self.assertEqual(model.exchange(message), BAD_DECISION_PREFIX + received)
        model.send_line("NOSPACE")
        self.assertSilent(model)
        self.assertEqual(
            model.exchange("DECISION UI 1"),
            "STATE TIME 1 GOAL 04.00 AMOUNT 03.00 EI 00.000 EO 00.000 UI 01.000 UO 00.000")
        self.assertEqual(len(program.wait_rows(1)), 2)

    def test_decision_forms(self):
        program = self.start(MaxTrial=6)
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        exchanges = [
            # keyword order is free; a keyword given twice takes its last value
            ("DECISION EO 0.5 UO 1 UI 2 UI 3 EI 1.5",
             "STATE TIME 1 GOAL 04.00 AMOUNT 05.00 EI 01.500 EO 00.500 UI 03.000 UO 01.000"),
            # a value without a leading number reads 0; trailing text after a number is cut
            ("DECISION UI abc UO 1.5xyz",
             "STATE TIME 2 GOAL 04.00 AMOUNT 03.50 EI 00.000 EO 00.000 UI 00.000 UO 01.500"),
            # a quoted decision is unquoted; text after the closing quote is dropped
            ('"DECISION UI 2" UO 9"',
             "STATE TIME 3 GOAL 04.00 AMOUNT 05.50 EI 00.000 EO 00.000 UI 02.000 UO 00.000"),
            # unknown keywords are ignored
            ("DECISION XX 7 UI 0.25",
             "STATE TIME 4 GOAL 04.00 AMOUNT 05.75 EI 00.000 EO 00.000 UI 00.250 UO 00.000"),
            # exponent and hexadecimal forms of a leading number
            ("DECISION UI 1E-1 UO &H1",
             "STATE TIME 5 GOAL 04.00 AMOUNT 04.85 EI 00.000 EO 00.000 UI 00.100 UO 01.000"),
        ]
        for sent, expected in exchanges:
            self.assertEqual(model.exchange(sent), expected, "sent %r" % sent)

    def test_decision_arriving_while_a_period_runs_is_held(self):
        program = self.start()
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        model.send("DECISION UI 1\nDECISION UI 2 UO 0.5\n")
        self.assertEqual(
            model.read_line(),
            "STATE TIME 1 GOAL 04.00 AMOUNT 03.00 EI 00.000 EO 00.000 UI 01.000 UO 00.000")
        self.assertEqual(
            model.read_line(),
            "STATE TIME 2 GOAL 04.00 AMOUNT 04.50 EI 00.000 EO 00.000 UI 02.000 UO 00.500")
        self.assertSilent(model)


class ResetTest(E2ETestCase):
    def test_reset_from_the_task_starts_a_new_run(self):
        program = self.start()
        model = self.connect(program)
        self.assertEqual(model.login("first"), INITIAL)
        self.assertEqual(parse_state(model.exchange("DECISION UI 3"))["amount_text"], "05.00")
        self.assertEqual(model.exchange("SIMULATION RESET"), "SIMULATION_RESETED")
        # Logged out: a decision is now a (bad) login.
        self.assertEqual(model.exchange("DECISION UI 1"), BAD_LOGIN_PREFIX + "DECISION UI 1")
        self.assertEqual(model.login("second"), INITIAL)
        self.assertEqual(
            model.exchange("DECISION UI 1"),
            "STATE TIME 1 GOAL 04.00 AMOUNT 03.00 EI 00.000 EO 00.000 UI 01.000 UO 00.000")

    def test_reset_from_the_login_screen(self):
        program = self.start()
        model = self.connect(program)
        self.assertEqual(model.exchange("SIMULATION RESET"), "SIMULATION_RESETED")
        self.assertEqual(model.exchange("SIMULATION RESET"), "SIMULATION_RESETED")
        self.assertEqual(model.login(), INITIAL)
        self.assertEqual(parse_state(model.exchange("DECISION UI 2"))["amount_text"], "04.00")

    def test_messages_sent_during_a_period_are_handled_in_order_after_it(self):
        program = self.start()
        model = self.connect(program)
        self.assertEqual(model.login("first"), INITIAL)
        model.send("DECISION UI 1\nSIMULATION RESET\nENTRY-ID second VERSION BATCH\n")
        self.assertEqual(parse_state(model.read_line())["time"], 1)
        self.assertEqual(model.read_line(), "SIMULATION_RESETED")
        self.assertEqual(model.read_line(), INITIAL)
        self.assertSilent(model)
        self.assertEqual([(row[0], row[2]) for row in program.wait_rows(1)[1:]],
                         [("first", "1")])

    def test_reset_right_after_the_last_state_keeps_the_last_period_line(self):
        # A model that resets as soon as it has read the last period's state must not cost
        # the period its data line or its bonus.
        program = self.start(MaxTrial=2)
        model = self.connect(program)
        self.assertEqual(model.login("first"), INITIAL)
        self.assertEqual(parse_state(model.exchange("DECISION UI 1"))["time"], 1)
        self.assertEqual(parse_state(model.exchange("DECISION UI 1"))["time"], 2)
        self.assertEqual(model.exchange("SIMULATION RESET"), "SIMULATION_RESETED")
        self.assertEqual(model.login("second"), INITIAL)
        rows = program.wait_rows(2)[1:]
        self.assertEqual([(row[0], row[2], row[12]) for row in rows],
                         [("first", "1", "3"), ("first", "2", "4")])


class QuitTest(E2ETestCase):
    def test_quit_ends_the_program_without_an_answer(self):
        cases = [
            ("before login", None, "QUIT\n"),
            ("after login", "login", "QUIT\n"),
            ("during a run, ended with CR LF", "period", "QUIT\r\n"),
            ("ended with a carriage return alone", "login", "QUIT\r"),
        ]
        for name, stage, message in cases:
            with self.subTest(name), ProgramUnderTest() as program, program.connect() as model:
                if stage:
                    self.assertEqual(model.login(), INITIAL)
                if stage == "period":
                    self.assertEqual(parse_state(model.exchange("DECISION UI 1"))["time"], 1)
                model.send(message)
                self.assertExitsWithoutAnswer(program, model)

    def test_quit_right_after_the_last_state_keeps_the_last_period_line(self):
        program = self.start(MaxTrial=2)
        model = self.connect(program)
        self.assertEqual(model.login("alpha"), INITIAL)
        self.assertEqual(parse_state(model.exchange("DECISION UI 1"))["time"], 1)
        self.assertEqual(parse_state(model.exchange("DECISION UI 1"))["time"], 2)
        model.send_line("QUIT")
        self.assertExitsWithoutAnswer(program, model)
        self.assertEqual([row[2] for row in program.data_rows()[1:]], ["1", "2"])


class ConnectionTest(E2ETestCase):
    def test_one_client_at_a_time_and_the_next_is_served_after_the_first_leaves(self):
        program = self.start()
        first = self.connect(program)
        self.assertEqual(first.login("first"), INITIAL)
        try:
            second = ModelClient(port=program.port, timeout=2)
        except ConnectionRefusedError:
            second = None
        if second is not None:
            self.addCleanup(second.close)
            try:
                second.send_line("ENTRY-ID second VERSION BATCH")
            except OSError:
                pass
            self.assertEqual(second.wait_closed(2), b"",
                             "a second client is closed at once without data")
        # The first model is undisturbed.
        self.assertEqual(parse_state(first.exchange("DECISION UI 1"))["time"], 1)
        first.close()
        third = self.connect(program)
        # A login after a reconnect starts a fresh run.
        self.assertEqual(third.login("third"), INITIAL)
        self.assertEqual(parse_state(third.exchange("DECISION UI 2"))["amount_text"], "04.00")
        self.assertEqual(program.wait_rows(2)[-1][0], "third")

    def test_listens_on_the_loopback_addresses_only(self):
        program = self.start()
        listeners = []
        for table in ("/proc/net/tcp", "/proc/net/tcp6"):
            try:
                with open(table) as f:
                    lines = f.readlines()[1:]
            except OSError:
                continue
            for line in lines:
                fields = line.split()
                address, port = fields[1].split(":")
                if fields[3] == "0A" and int(port, 16) == program.port:
                    listeners.append(address)
        if not listeners:
            self.skipTest("no /proc/net/tcp to read the listening sockets from")
        loopback = {"0100007F", "00000000000000000000000001000000"}
        self.assertTrue(set(listeners) <= loopback, "listening on %r" % listeners)
        self.assertIn("0100007F", listeners)
        self.assertTrue(program.running())

    def test_ipv6_loopback_is_served(self):
        program = self.start()
        try:
            model = ModelClient(port=program.port, host="::1", family=socket.AF_INET6)
        except OSError as error:
            self.skipTest("no IPv6 loopback here: %s" % error)
        self.addCleanup(model.close)
        self.assertEqual(model.login(), INITIAL)

    def test_a_model_that_leaves_is_logged_out(self):
        program = self.start()
        first = self.connect(program)
        self.assertEqual(first.login("first"), INITIAL)
        first.close()
        second = self.connect(program)
        # Logged out: a decision is a login attempt.
        self.assertEqual(second.exchange("DECISION UI 1"), BAD_LOGIN_PREFIX + "DECISION UI 1")


class FramingTest(E2ETestCase):
    def test_carriage_return_line_feed_ends_one_message(self):
        program = self.start()
        model = self.connect(program)
        model.send("ENTRY-ID alpha VERSION BATCH\r\n")
        self.assertEqual(model.read_line(), INITIAL)
        model.send("DECISION UI 1\r\n")
        self.assertEqual(parse_state(model.read_line())["time"], 1)
        # CR and LF in separate sends still make one terminator.
        model.send("DECISION UI 1\r")
        self.assertEqual(parse_state(model.read_line())["time"], 2)
        model.send("\n")
        self.assertSilent(model)
        model.send("SIMULATION RESET\r\n")
        self.assertEqual(model.read_line(), "SIMULATION_RESETED")
        self.assertSilent(model)

    def test_every_control_character_ends_a_message(self):
        program = self.start(MaxTrial=10)
        model = self.connect(program)
        self.assertEqual(model.exchange("ENTRY-ID alpha VERSION BATCH"), INITIAL)
        for code in (0, 1, 9, 11, 12, 13):
            with self.subTest(code=code):
                model.send("DECISION UI 1" + chr(code))
                self.assertEqual(parse_state(model.read_line())["ui"], 1.0)

    def test_message_split_over_several_sends(self):
        program = self.start()
        model = self.connect(program)
        for piece in ("ENTRY-ID al", "pha VER", "SION BA", "TCH"):
            model.send(piece)
            self.assertSilent(model, 0.15)
        model.send("\n")
        self.assertEqual(model.read_line(), INITIAL)
        for piece in ("DECI", "SION UI 2 U", "O 1"):
            model.send(piece)
            time.sleep(0.05)
        model.send("\n")
        self.assertEqual(parse_state(model.read_line())["amount_text"], "03.00")

    def test_two_messages_in_one_send_are_two_messages(self):
        program = self.start()
        model = self.connect(program)
        self.assertEqual(model.login("first"), INITIAL)
        model.send("SIMULATION RESET\nENTRY-ID second VERSION BATCH\n")
        self.assertEqual(model.read_line(), "SIMULATION_RESETED")
        self.assertEqual(model.read_line(), INITIAL)
        self.assertEqual(parse_state(model.exchange("DECISION UI 1"))["time"], 1)
        self.assertEqual(program.wait_rows(1)[-1][0], "second")

    def test_message_past_64_kib_without_terminator_drops_the_connection(self):
        program = self.start()
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        try:
            model.send(b"A" * (64 * 1024 + 1))
        except OSError:
            pass
        self.assertEqual(model.wait_closed(), b"")
        self.assertTrue(program.running())
        again = self.connect(program)
        self.assertEqual(again.login("again"), INITIAL)

    def test_message_of_64_kib_is_still_a_message(self):
        program = self.start()
        model = self.connect(program)
        # 64 KiB without a space: a message, ignored as a login without tokens.
        model.send(b"B" * (64 * 1024) + b"\n")
        self.assertSilent(model, 0.5)
        self.assertEqual(model.login(), INITIAL)

    def test_partial_message_of_a_peer_that_left_is_forgotten(self):
        program = self.start()
        first = self.connect(program)
        first.send("ENTRY-ID zz")
        time.sleep(0.2)
        first.close()
        second = self.connect(program)
        self.assertEqual(second.login("beta"), INITIAL)
        self.assertEqual(parse_state(second.exchange("DECISION UI 1"))["time"], 1)
        self.assertEqual(program.wait_rows(1)[-1][0], "beta")


class DataFileTest(E2ETestCase):
    def test_two_runs_share_one_header_and_record_every_period(self):
        program = self.start(MaxTrial=3)
        model = self.connect(program)
        states = []
        for name, decisions in (("first", [(2, 0), (0, 1), (0.5, 0)]),
                                ("second", [(1.95, 0), (0, 0.3)])):
            self.assertEqual(model.login(name), INITIAL)
            for ui, uo in decisions:
                states.append((name, parse_state(model.exchange(decision(ui, uo)))))
            if len(decisions) == 3:
                self.assertEqual(model.exchange("DECISION UI 0"), "END_PROGRAM")
            else:
                # Wait for the period's close, then leave mid-run.
                time.sleep(0.2)
            self.assertEqual(model.exchange("SIMULATION RESET"), "SIMULATION_RESETED")
        raw = program.data_bytes()
        self.assertTrue(raw.endswith(b"\r\n"))
        self.assertNotIn(b"\n", raw.replace(b"\r\n", b""), "every line ends in CR LF")
        self.assertNotIn(b"\r", raw.replace(b"\r\n", b""))
        rows = program.wait_rows(5)
        self.assertEqual(rows[0], DATA_COLUMNS)
        self.assertEqual(raw.count(b"Subject\tVersion"), 1, "one header across both runs")
        self.assertEqual(len(rows), 1 + len(states))
        bonus = {"first": 5.0, "second": 5.0}
        for row, (name, state) in zip(rows[1:], states):
            self.assertEqual(len(row), 22)
            self.assertEqual(row[0], name)
            self.assertEqual(row[1], "BATCH")
            self.assertEqual(int(row[2]), state["time"])
            self.assertEqual(state_amount(float(row[12])), state["amount_text"])
            if abs(float(row[12]) - 4.0) <= 0.1 + 1e-9:
                bonus[name] += 0.05
            self.assertAlmostEqual(float(row[7]), bonus[name], places=9)
        self.assertEqual([row[2] for row in rows[1:]], ["1", "2", "3", "1", "2"])


class ExampleModelTest(E2ETestCase):
    def run_model(self, *args):
        return subprocess.run([sys.executable, EXAMPLE_MODEL, *args], capture_output=True,
                              text=True, timeout=60, stdin=subprocess.DEVNULL)

    def test_example_model_plays_two_runs_and_quits(self):
        program = self.start(MaxTrial=5)
        result = self.run_model("--name", "example", "--runs", "2", "--quiet",
                                "--port", str(program.port))
        self.assertEqual(result.returncode, 0, result.stderr)
        # Delays 1 and alpha 1: the amount is on the goal from period 1 on.
        for run in (1, 2):
            self.assertIn("run %d: 5 periods, 5 in the band, payment $5.25" % run, result.stdout)
        self.assertEqual(program.wait_exit(), 0)
        rows = program.data_rows()
        self.assertEqual(len(rows), 11)
        self.assertEqual({(row[0], row[1], row[7]) for row in rows[1:] if row[2] == "5"},
                         {("example", "BATCH", "5.25")})

    def serve_once(self, answers, received=None):
        """A stand-in for the program that answers each line with the next of `answers`;
        what it receives goes to the list `received`."""
        received = [] if received is None else received
        server = socket.socket()
        server.bind(("127.0.0.1", 0))
        server.listen(1)
        server.settimeout(10)
        self.addCleanup(server.close)

        def serve():
            try:
                connection, _ = server.accept()
            except OSError:
                return
            with connection:
                connection.settimeout(10)
                for answer in answers:
                    received.append(connection.recv(4096))
                    if not received[-1]:
                        return
                    connection.sendall(answer.encode() + b"\r\n")
                received.append(connection.recv(4096))

        thread = threading.Thread(target=serve, daemon=True)
        thread.start()
        self.addCleanup(thread.join, 10)
        return str(server.getsockname()[1])

    def test_example_model_stops_with_a_message_on_a_bad_reply(self):
        cases = [
            ("refused login", [BAD_LOGIN_PREFIX + "ENTRY-ID alpha VERSION BATCH"],
             "the login was refused"),
            ("garbled state", ["STATE TIME zero"], "expected a state message"),
            ("refused decision", [INITIAL, BAD_DECISION_PREFIX + "DECISION"],
             "a decision was refused"),
            ("period skipped", [INITIAL, INITIAL.replace("TIME 0", "TIME 2")],
             "expected period 1"),
        ]
        for name, answers, message in cases:
            with self.subTest(name):
                port = self.serve_once(answers)
                result = self.run_model("--port", port, "--timeout", "5", "--quiet")
                self.assertEqual(result.returncode, 1)
                self.assertIn(message, result.stderr)

    def test_example_model_sends_environment_flows_only_when_told(self):
        answers = [INITIAL, INITIAL.replace("TIME 0", "TIME 1").replace("-1", "00.000"),
                   "END_PROGRAM", "RESULT TIME 1 INBAND 0 BONUS 0 PAYMENT 5 LAST 1"]
        cases = [
            ("the setup file's environment", [], b"DECISION UI 2 UO 0\n"),
            ("flows of its own", ["--env-in", "0.5", "--env-out", "0.25"],
             b"DECISION UI 1.75 UO 0 EI 0.5 EO 0.25\n"),
        ]
        for name, options, first_decision in cases:
            with self.subTest(name):
                received = []
                port = self.serve_once(answers, received)
                result = self.run_model("--port", port, "--timeout", "5", "--quiet", *options)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(received[1], first_decision)
                self.assertEqual(b"".join(received[2:]).count(b"EI"), 1 if options else 0)

    def test_example_model_without_a_program_fails_to_connect(self):
        free = socket.socket()
        free.bind(("127.0.0.1", 0))
        port = str(free.getsockname()[1])
        free.close()
        result = self.run_model("--port", port, "--connect-timeout", "0.5")
        self.assertEqual(result.returncode, 2)
        self.assertIn("cannot connect", result.stderr)


if __name__ == "__main__":
    unittest.main()
