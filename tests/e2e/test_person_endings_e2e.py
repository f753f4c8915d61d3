"""End-to-end tests of the endings a person reaches: the real program on an X display of its
own (Xvfb), driven with xdotool as a person types. Without Xvfb, xdotool or libX11 they are
skipped, or fail with FLUXMERE_REQUIRE_DISPLAY=1. A person's period takes some 4 s."""

import ctypes
import ctypes.util
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_e2e import (  # noqa: E402
    DEFAULT_SETUP, XvfbDisplay, find_executable, headless_environment, run_program, setup_text,
    split_rows)

TIMEOUT = 60.0  # generous: a sanitized program on a loaded machine starts slowly
LOGIN, TASK, EXIT_QUESTION = "^Welcome$", "^Fluxmere$", "^Exit Application$"
QUESTIONNAIRE, DB_PROBLEM = "^Department Store Task Questionnaire$", "^Problems opening table$"


def close_box(display, window):
    """What a window manager's close box does: WM_DELETE_WINDOW sent to the window."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    pointer, long_ = ctypes.c_void_p, ctypes.c_ulong
    x11.XOpenDisplay.restype, x11.XInternAtom.restype = pointer, long_
    x11.XOpenDisplay.argtypes, x11.XCloseDisplay.argtypes = [ctypes.c_char_p], [pointer]
    x11.XInternAtom.argtypes = [pointer, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [pointer, long_, ctypes.c_int, ctypes.c_long, pointer]
    connection = x11.XOpenDisplay(display.encode())
    # An XClientMessageEvent, whose every field takes one long: type, serial, send_event,
    # display, window, message_type, format, then the data.
    event = (ctypes.c_long * 24)()
    event[0], event[4], event[6] = 33, window, 32
    event[5] = x11.XInternAtom(connection, b"WM_PROTOCOLS", 0)
    event[7] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(connection, window, 0, 0, event)
    x11.XCloseDisplay(connection)  # flushes the event


class PersonEndingsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = [tool for tool in ("Xvfb", "xdotool") if not shutil.which(tool)]
        missing += [] if ctypes.util.find_library("X11") else ["libX11"]
        if missing:
            reason = "a person's run needs an X display; missing: " + ", ".join(missing)
            if os.environ.get("FLUXMERE_REQUIRE_DISPLAY") == "1":
                raise AssertionError(reason + " (and FLUXMERE_REQUIRE_DISPLAY=1)")
            raise unittest.SkipTest(reason)
        cls.exe = find_executable()
        cls.xvfb = XvfbDisplay((1600, 1000), TIMEOUT)
        cls.display = cls.xvfb.name

    @classmethod
    def tearDownClass(cls):
        cls.xvfb.close()

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="fluxmere-person-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.data = os.path.join(self.folder, "data")
        self.assertEqual(run_program(["--data-dir", self.data, "--init"])[0], 0)
        self.env = headless_environment(QT_QPA_PLATFORM="xcb", DISPLAY=self.display)
        self.process = None

    def tearDown(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait(TIMEOUT)
            self.fail("the program was still running; stderr: " + self.stderr())

    def start(self, max_trial=1):
        with open(os.path.join(self.data, "Setup.txt"), "w", newline="") as f:
            f.write(setup_text(dict(DEFAULT_SETUP, MaxTrial=max_trial)))
        with open(os.path.join(self.folder, "stderr.txt"), "wb") as err:
            self.process = subprocess.Popen([self.exe, "--data-dir", self.data, "--port", "0"],
                                            cwd=self.folder, env=self.env, stderr=err,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)

    def stderr(self):
        with open(os.path.join(self.folder, "stderr.txt"), "rb") as f:
            return f.read().decode("latin-1", "replace")

    def until(self, done, what):
        """Polls `done` until it holds; fails, with the program's stderr, after TIMEOUT."""
        deadline = time.monotonic() + TIMEOUT
        while not done():
            if time.monotonic() > deadline:
                self.fail("no %s within %.0f s; stderr: %s" % (what, TIMEOUT, self.stderr()))
            time.sleep(0.05)

    def wait_exit(self, never=()):
        """The exit status; fails when a window titled as in `never` shows meanwhile."""
        def ended():
            for title in never:
                if self.windows(title):
                    self.fail(title + " opened; stderr: " + self.stderr())
            return self.process.poll() is not None
        self.until(ended, "end of the program")
        return self.process.returncode

    def records(self, name):
        """The rows of a data file as dicts by its header; none while the file is missing."""
        try:
            with open(os.path.join(self.data, name), "rb") as f:
                header, *rows = split_rows(f.read())
        except FileNotFoundError:
            return []
        return [dict(zip(header, row)) for row in rows]

    def run_records(self):
        return [(run["Subject"], run["Ending"], run["Player"], run["PeriodsPlayed"])
                for run in self.records("Runs.txt")]

    def table(self, sql):
        with sqlite3.connect(os.path.join(self.data, "Krugel.db")) as db:
            return db.execute(sql).fetchall()

    def xdo(self, *args):
        return subprocess.run(["xdotool"] + list(args), env=self.env, capture_output=True,
                              text=True, timeout=TIMEOUT).stdout.split()

    def windows(self, title):
        return self.xdo("search", "--onlyvisible", "--name", title)

    def window(self, title):
        """The newest visible window so titled, once it shows."""
        self.until(lambda: self.windows(title) or self.process.poll() is not None, title)
        found = self.windows(title)
        self.assertTrue(found, "the program ended (status %s) before %s showed; stderr: %s"
                        % (self.process.returncode, title, self.stderr()))
        return int(found[-1])

    def focus(self, title, *steps):
        """Brings the window to the keyboard (no window manager does), then presses each step:
        a key, or text to type after "="."""
        self.xdo("windowfocus", "--sync", str(self.window(title)))
        for step in steps:
            if step.startswith("="):
                self.xdo("type", "--delay", "20", step[1:])
            else:
                self.xdo("key", step)

    def log_in(self, name):
        self.focus(LOGIN, "=" + name, "Return")
        # Male, then the age (Enter there is Begin) around the major typed after it.
        self.focus("^Subject Info: %s$" % name, "space", "Tab", "=23", "Tab", "=Physics",
                   "shift+Tab", "Return")

    def play_period(self, inflow):
        rows = len(self.records("Data.txt"))
        self.focus(TASK, "=" + inflow, "Return")
        self.until(lambda: len(self.records("Data.txt")) > rows, "line of the period")

    def test_a_scale_whose_windows_do_not_fit_the_screen_is_refused(self):
        done = subprocess.run([self.exe, "--data-dir", self.data, "--port", "0", "--scale",
                               "1.5"], env=self.env, capture_output=True, text=True,
                              timeout=TIMEOUT, stdin=subprocess.DEVNULL)
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertIn("1608x1026 pixels, larger than the screen's 1600x1000: the largest factor "
                      "that fits is 1.46.", done.stderr)

    def test_a_played_run_and_its_questionnaire_end_with_status_0(self):
        self.start()
        self.log_in("ada")
        self.play_period("2")
        # Down chooses the first rating, which sends the focus on to its reasons.
        self.focus(QUESTIONNAIRE, "Down", "=steady", "Tab", "=small steps", "Tab",
                   "=watched the delay", "Tab", "space")
        self.assertEqual(self.wait_exit(), 0, self.stderr())

        self.assertEqual(self.run_records(), [("ada", "completed", "person", "1")])
        self.assertEqual([row["UserInflow"] for row in self.records("Data.txt")], ["2"])
        self.assertEqual(self.table("SELECT Subject, Major, Gender, Age FROM datSubject"),
                         [("ada", "Physics", "Male", 23)])
        self.assertEqual(self.table("SELECT Subject, QuestionNumber, QuestionAnswer FROM "
                                    "datQuestionnaire ORDER BY QuestionNumber"),
                         [("ada", 1, "1, steady"), ("ada", 2, "small steps"),
                          ("ada", 3, "watched the delay")])
        [run] = self.records("Runs.txt")  # the answers are tied to the run
        self.assertEqual(self.table("SELECT RunId, COUNT(*) FROM datRunQuestionnaire"),
                         [(run["RunId"], 3)])

    def test_ctrl_x_and_yes_after_a_period_exit_without_the_questionnaire(self):
        self.start(max_trial=2)
        self.log_in("ben")
        self.play_period("1")
        # The boxes take keys again once the period's window is drawn anew: until then
        # Ctrl+X reaches nothing, and is pressed again.
        self.until(lambda: self.windows(EXIT_QUESTION) or self.focus(TASK, "ctrl+x"),
                   "exit question")
        self.focus(EXIT_QUESTION, "y")  # no ExitPassword: the exit window approves
        self.assertEqual(self.wait_exit(never=[QUESTIONNAIRE]), 0, self.stderr())
        self.assertEqual(self.run_records(), [("ben", "exited", "person", "1")])
        self.assertEqual(self.table("SELECT * FROM datQuestionnaire"), [])

    def test_the_close_box_during_a_period_records_it_and_the_exit(self):
        self.start(max_trial=2)
        self.log_in("cleo")
        self.focus(TASK, "=3", "Return")
        close_box(self.display, self.window(TASK))  # the period's pauses last some 4 s
        self.assertEqual(self.wait_exit(never=[QUESTIONNAIRE]), 0, self.stderr())
        self.assertEqual([row["UserInflow"] for row in self.records("Data.txt")], ["3"])
        self.assertEqual(self.run_records(), [("cleo", "exited", "person", "1")])
        self.assertEqual(self.table("SELECT * FROM datQuestionnaire"), [])

    def test_quit_on_the_login_screen(self):
        self.start()
        self.focus(LOGIN, "Tab", "Tab", "space")  # Start is off while no name is typed
        self.assertEqual(self.wait_exit(), 0, self.stderr())
        self.assertEqual(self.run_records(), [])
        self.assertEqual(self.table("SELECT * FROM datSubject"), [])

    def test_a_refused_subject_record_and_no_ends_the_program_with_status_1(self):
        self.table("DROP TABLE datSubject")
        self.start()
        self.log_in("dan")
        self.focus(DB_PROBLEM, "n")
        self.assertEqual(self.wait_exit(never=[QUESTIONNAIRE, TASK]), 1, self.stderr())
        self.assertEqual(self.run_records(), [])
        self.assertEqual(self.table("SELECT * FROM datQuestionnaire"), [])


if __name__ == "__main__":
    unittest.main()
