"""End-to-end test of the Lisp client (clients/lisp) under SBCL: its example model plays a
run, a reset and a second run against the real program, and what it saw is checked against
Data.txt and Runs.txt."""

import os
import re
import shutil
import socket
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_e2e import ProgramUnderTest, figure, split_rows, state_amount  # noqa: E402

CLIENTS = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "clients", "lisp")
SBCL = shutil.which("sbcl")
NO_SBCL = "sbcl is not installed (apt-get install sbcl), so the Lisp client is not tested"
# The outflow, which the example model expects only once it has seen it, puts period 1 out of
# the band; periods 2 to 5 end on the goal.
SETUP = {"MaxTrial": 5, "EnvOutflowSchedule": "0.25"}
RESULT_LINE = re.compile(r"run (\d): (\d+) periods, (\d+) in the band, payment \$([\d.]+)$")


def sbcl(*args):
    return subprocess.run([SBCL, *args], capture_output=True, text=True, timeout=60,
                          stdin=subprocess.DEVNULL)


@unittest.skipUnless(SBCL, NO_SBCL)
class LispClientTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.program = ProgramUnderTest(SETUP)
        cls.program.__enter__()
        cls.addClassCleanup(cls.program.__exit__, None, None, None)
        cls.played = sbcl("--script", os.path.join(CLIENTS, "example-model.lisp"),
                          "--port", str(cls.program.port), "--runs", "2",
                          "--trace", "--quit")
        try:
            cls.exit_code = cls.program.wait_exit()
        except TimeoutError:
            cls.exit_code = None
        with open(os.path.join(cls.program.data_dir, "Runs.txt"), "rb") as f:
            header, *rows = split_rows(f.read())
        cls.runs = [dict(zip(header, row)) for row in rows]

    def setUp(self):
        self.assertEqual(self.played.returncode, 0, self.played.stderr)
        self.assertEqual(self.exit_code, 0, "QUIT ends the program")

    def test_every_state_it_saw_is_the_line_in_data_txt(self):
        seen = [line.split() for line in self.played.stdout.splitlines()
                if line.startswith("period ")]
        rows = self.program.data_rows()[1:]
        self.assertEqual(len(seen), 10)
        self.assertEqual([row[2] for row in rows], ["1", "2", "3", "4", "5"] * 2)
        for state, row in zip(seen, rows):
            values = dict(zip(state[::2], state[1::2]))
            self.assertEqual((row[0], values["period"]), ("lisp", row[2]))
            self.assertEqual(float(values["amount"]), float(state_amount(float(row[12]))))
            for key, column in (("ui", 8), ("uo", 9), ("ei", 10), ("eo", 11)):
                self.assertEqual(float(values[key]), float(figure(float(row[column]))),
                                 "%s of %r" % (key, row))
        self.assertEqual([run["Ending"] for run in self.runs], ["completed", "completed"])
        self.assertEqual([run["FirstDataLine"] for run in self.runs], ["2", "7"])

    def test_each_runs_result_is_its_record_in_runs_txt(self):
        if "does not answer RESULT" in self.played.stdout:
            self.skipTest("this build of the program does not answer RESULT yet")
        results = [RESULT_LINE.fullmatch(line) for line in self.played.stdout.splitlines()
                   if line.startswith("run ")]
        self.assertTrue(all(results), self.played.stdout)
        self.assertEqual(len(results), 2)
        for result, run in zip(results, self.runs):
            self.assertEqual(int(result.group(2)), int(run["PeriodsPlayed"]))
            self.assertEqual(int(result.group(3)), int(run["PeriodsInBand"]))
            self.assertAlmostEqual(float(result.group(4)), float(run["TotalBonus"]), places=9)
        self.assertEqual([run["PeriodsInBand"] for run in self.runs], ["4", "4"])


@unittest.skipUnless(SBCL, NO_SBCL)
class RefusalTest(unittest.TestCase):
    def test_scenario_and_result_before_a_login_are_refused_without_sending(self):
        server = socket.socket()
        self.addCleanup(server.close)
        server.bind(("127.0.0.1", 0))
        server.listen(1)
        server.settimeout(10)
        asks = ("(fluxmere:with-client (c :port %d :timeout 5) "
                "(dolist (ask (list #'fluxmere:scenario #'fluxmere:result)) "
                "(handler-case (funcall ask c) "
                "(fluxmere:fluxmere-error (e) (format t \"~A~%%\" e)))))"
                % server.getsockname()[1])
        done = sbcl("--non-interactive", "--no-sysinit", "--no-userinit", "--load",
                    os.path.join(CLIENTS, "fluxmere-client.lisp"), "--eval", asks)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.count("only once logged in"), 2, done.stdout)
        connection, _ = server.accept()
        with connection:
            connection.settimeout(10)
            self.assertEqual(connection.recv(100), b"", "nothing was sent")


if __name__ == "__main__":
    unittest.main()
