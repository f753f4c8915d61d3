"""The one end-to-end test on the fixed default port: without --port the program listens on
9548, as models written for the lab expect. It holds that port, so CTest runs it alone; every
other test lets the system choose a port."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_e2e import BAD_DECISION_PREFIX, PORT, READY_TEXT  # noqa: E402
from test_model_e2e import INITIAL, E2ETestCase  # noqa: E402


class WorkedExchangeTest(E2ETestCase):
    def test_worked_exchange_message_by_message_on_the_default_port(self):
        program = self.start(port=None)
        self.assertIn(READY_TEXT, program.stdout_lines)
        self.assertEqual(program.port, PORT)
        model = self.connect(program, port=PORT)
        model.send_line("ENTRY-ID alpha VERSION BATCH")
        self.assertEqual(model.read_raw_line(), INITIAL.encode() + b"\r\n")
        # Delays 1: the environment adds 2 - 0, the user's flows 3 - 1: 2 + 2 + 3 - 1 = 6.
        self.assertEqual(
            model.exchange("DECISION UI 3 UO 1 EI 2 EO 0"),
            "STATE TIME 1 GOAL 04.00 AMOUNT 06.00 EI 02.000 EO 00.000 UI 03.000 UO 01.000")
        # The outflow box was reset to 0 when period 1 closed; period 2's environment is 0.
        self.assertEqual(
            model.exchange("DECISION UI 1"),
            "STATE TIME 2 GOAL 04.00 AMOUNT 07.00 EI 00.000 EO 00.000 UI 01.000 UO 00.000")
        self.assertEqual(model.exchange("PLAY 3"), BAD_DECISION_PREFIX + "PLAY 3")
        self.assertEqual(model.exchange("SIMULATION RESET"), "SIMULATION_RESETED")
        self.assertEqual(model.exchange("ENTRY-ID alpha VERSION BATCH"), INITIAL)
        model.send_line("QUIT")
        self.assertExitsWithoutAnswer(program, model)


if __name__ == "__main__":
    unittest.main()
