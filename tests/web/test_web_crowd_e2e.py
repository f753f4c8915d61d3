"""Fifty participants at once over WebSockets on loopback, each playing a whole run: every run
is recorded whole, replays without a difference, and the two conditions get half each."""

import collections
import os
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_web import Participant, WebServer  # noqa: E402

PEOPLE = 50
PERIODS = 8


class CrowdTest(unittest.TestCase):
    def test_fifty_participants_at_once_each_complete_a_run(self):
        conditions = {"calm": {}, "windy": {"EnvInflowSchedule": "0.5"}}
        with WebServer({"MaxTrial": PERIODS}, conditions=conditions,
                       args=["--pause-ms", "2"]) as server:
            results, errors = {}, []
            start = threading.Barrier(PEOPLE)

            def person(number):
                try:
                    start.wait(30)
                    name = "crowd%02d" % number
                    page = Participant(server, {"PROLIFIC_PID": name, "STUDY_ID": "s",
                                                "SESSION_ID": "x%d" % number}, timeout=60)
                    decisions = [(str(number % 3), "0.5")] * PERIODS
                    results[name] = page.play(decisions)
                    page.close()
                except Exception as error:  # noqa: BLE001  (reported below)
                    errors.append((number, repr(error)))

            began = time.monotonic()
            threads = [threading.Thread(target=person, args=(n,)) for n in range(PEOPLE)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join(120)
            elapsed = time.monotonic() - began
            self.assertEqual(errors, [])
            self.assertEqual(len(results), PEOPLE)
            self.assertTrue(all(end["kind"] == "completed" for end in results.values()))
            self.assertTrue(server.running())
            print("%d participants, %d periods each, in %.1f s" % (PEOPLE, PERIODS, elapsed),
                  file=sys.stderr)

            runs = server.table("Runs.txt")
            self.assertEqual(len(runs), PEOPLE)
            self.assertEqual({run["Ending"] for run in runs}, {"completed"})
            self.assertEqual({run["PeriodsPlayed"] for run in runs}, {str(PERIODS)})
            self.assertEqual(len({run["Subject"] for run in runs}), PEOPLE)
            per_condition = collections.Counter(run["StudyCondition"] for run in runs)
            self.assertEqual(per_condition, {"calm": PEOPLE // 2, "windy": PEOPLE // 2})
            self.assertEqual(len(server.table("Data.txt")), PEOPLE * PERIODS)
            # Each run's lines hold its own person's decisions.
            lines = server.table("Data.txt")
            for run in runs:
                number = int(run["Subject"][5:])
                own = [line for line in lines if line["Subject"] == run["Subject"]]
                self.assertEqual({line["UserInflow"] for line in own}, {str(number % 3)})
            code, output = server.verify()
            self.assertEqual(code, 0, output)
            self.assertIn("%d runs, %d periods verified, 0 differences" % (PEOPLE, PEOPLE * PERIODS),
                          output)
            panel = server.query("SELECT s.Subject, p.ParticipantId, p.SessionId FROM datPanel p "
                                 "JOIN datSubject s ON s.rowid = p.SubjectRowId")
            self.assertEqual(len(panel), PEOPLE)
            self.assertTrue(all(subject == pid for subject, pid, _ in panel))


if __name__ == "__main__":
    unittest.main()
