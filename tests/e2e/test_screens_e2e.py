"""Every window a participant sees, in English and German, on X displays of the lab's screen
sizes (Xvfb): each must fit its screen, with no caption cut off and no scroll bar for the
sample study's page and questionnaire. The windows are opened by the test program
screens_fit (tests/gui/screens_fit.cpp), which draws them with the program's own code.

Run as a script to save the pictures kept in docs/screenshots/ (one sheet per screen size and
language):

    FLUXMERE_BUILD=build python3 tests/e2e/test_screens_e2e.py --save docs/screenshots

Without Xvfb the test is skipped, or fails with FLUXMERE_REQUIRE_DISPLAY=1."""

import math
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_e2e import XvfbDisplay, _repo_root, headless_environment  # noqa: E402

TIMEOUT = 60.0
SIZES = [(1280, 800), (1600, 1000), (1920, 1080)]
LANGUAGES = ["en", "de"]
WINDOWS = ["frmLogin", "frmNewSubject", "frmConsent", "frmInstructions", "frmKrugel",
           "frmPasswordAuth", "frmPasswordAuth-password-only", "Tasks1", "StudyQuestionnaire",
           "frmEndScreen"]
TASK_WINDOW = (1072, 684)  # the largest window, which --scale must keep on the screen


def find_screens_program():
    build = os.environ.get("FLUXMERE_BUILD") or os.path.join(_repo_root(), "build")
    path = os.path.join(build, "screens_fit")  # beside the program, as every test executable
    if not os.path.isfile(path):
        raise FileNotFoundError("screens_fit not found at %s; build it or set FLUXMERE_BUILD"
                                % path)
    return os.path.abspath(path)


def largest_scale(size):
    """The largest --scale, in steps of 0.05, that keeps the task window on the screen."""
    fits = min(size[0] / TASK_WINDOW[0], size[1] / TASK_WINDOW[1])
    return math.floor(fits * 20 + 1e-9) / 20



def run_on(display, args):
    """screens_fit with `args` on `display`: its status, its verdicts (one line per window)
    and its standard error."""
    env = headless_environment(QT_QPA_PLATFORM="xcb", DISPLAY=display.name, QT_SCALE_FACTOR=None)
    done = subprocess.run([find_screens_program()] + list(args), env=env, capture_output=True,
                          text=True, timeout=TIMEOUT, stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout, done.stderr


def display_missing():
    return not shutil.which("Xvfb")


class ScreensFitTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if display_missing():
            reason = "the windows need an X display; missing: Xvfb"
            if os.environ.get("FLUXMERE_REQUIRE_DISPLAY") == "1":
                raise AssertionError(reason + " (and FLUXMERE_REQUIRE_DISPLAY=1)")
            raise unittest.SkipTest(reason)
        find_screens_program()

    def check(self, size, args):
        display = XvfbDisplay(size, TIMEOUT)
        try:
            status, said, errors = run_on(display, args)
        finally:
            display.close()
        windows = [line.split(": ")[0] for line in said.splitlines()]
        self.assertEqual(windows, WINDOWS, said + errors)
        self.assertEqual(status, 0, "%dx%d %s:\n%s" % (size + (" ".join(args), said + errors)))

    def test_every_window_fits_each_screen_in_each_language(self):
        for size in SIZES:
            for language in LANGUAGES:
                with self.subTest(size=size, language=language):
                    self.check(size, ["--language", language])

    def test_every_window_fits_at_the_largest_scale_the_task_window_allows(self):
        for size in SIZES:
            for language in LANGUAGES:
                scale = largest_scale(size)
                with self.subTest(size=size, language=language, scale=scale):
                    self.check(size, ["--language", language, "--scale", str(scale)])

    def test_every_window_fits_full_screen(self):
        for size in SIZES:
            with self.subTest(size=size):
                self.check(size, ["--language", "de", "--fullscreen"])


def save_sheets(folder):
    """One PNG per screen size and language, of every window at --scale 1."""
    for size in SIZES:
        display = XvfbDisplay(size, TIMEOUT)
        try:
            for language in LANGUAGES:
                path = os.path.join(folder, "windows-%dx%d-%s.png" % (size + (language,)))
                status, said, errors = run_on(display, ["--language", language, "--sheet", path])
                print(path, "(every window fits)" if status == 0 else "\n" + said + errors)
        finally:
            display.close()


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--save":
        save_sheets(os.path.abspath(sys.argv[2]))
    else:
        unittest.main()
