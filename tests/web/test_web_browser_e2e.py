"""A participant's whole sitting in headless Chromium: the panel's link, consent, subject form,
instructions, comprehension check, practice, the task with a reload in the middle of a
period, questionnaire and the completion link; then the records, whole and tied together."""

import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from selenium import webdriver  # noqa: E402  (python3-selenium)
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

from fluxmere_web import WebServer, png  # noqa: E402  (puts the end-to-end helpers on the path)
from fluxmere_e2e import DATA_COLUMNS, ProgramUnderTest  # noqa: E402

SCREENSHOTS = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "docs", "screenshots")
FILES = {
    "consent.html": "<h2>Consent to take part</h2><p>Taking part is voluntary.</p>",
    "instructions/01.html": "<h2>Welcome</h2><p>Keep the tank at the goal line.</p>"
                            "<img src='tank.png' alt='tank' width='80' height='60'>",
    "instructions/tank.png": png(8, 6, (0, 0, 255)),
    "Comprehension.txt": "goal | choice | at the line; above it | Where should the amount be? "
                         "| right: 1\n",
    "Questionnaire.txt": "hard | rating | 1-5; easy; hard | How hard was the task?\n"
                         "plan | text | | What was your plan?\n",
    "end.html": "<h2>Thank you</h2><p>Your payment is {payment}.</p>",
    "Web.txt": "CompletionUrl = https://panel.example/done?cc={code}\nCompletionCode = AB12CD\n",
}
DECISIONS = ["2", "1.5", "0", "1", "0.5"]  # one practice period, then the run's four
# What the period played: every column but who played it and when.
FIGURES = [name for name in DATA_COLUMNS
           if name not in ("Subject", "Version", "Date", "StartTime", "EndTime")]


def desktop_figures(decisions):
    """The figures of the same decisions played on the desktop program by a model over TCP."""
    with ProgramUnderTest({"MaxTrial": len(decisions)}, args=["--batch-pause-ms", "0"]) as program:
        with program.connect() as model:
            model.login("desk", "BATCH")
            for inflow in decisions:
                model.send_line("DECISION UI %s UO 0" % inflow)
                model.read_line()
            model.send_line("QUIT")
        header, *rows = program.data_rows()
    return [[row[header.index(name)] for name in FIGURES] for row in rows if len(row) > 1]


class BrowserSittingTest(unittest.TestCase):
    def setUp(self):
        self.server = WebServer({"MaxTrial": 4, "PracticePeriods": 1}, files=FILES,
                                args=["--pause-ms", "150"])
        self.server.__enter__()
        self.addCleanup(self.server.__exit__)
        options = webdriver.ChromeOptions()
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                         "--window-size=1280,800", "--force-device-scale-factor=1"):
            options.add_argument(argument)
        driver_path = shutil.which("chromedriver") or "/usr/bin/chromedriver"
        self.browser = webdriver.Chrome(service=Service(driver_path), options=options)
        self.addCleanup(self.browser.quit)
        self.wait = WebDriverWait(self.browser, 20)

    def element(self, element_id):
        return self.wait.until(lambda b: b.find_element(By.ID, element_id))

    def click(self, element_id):
        self.wait.until(lambda b: b.find_element(By.ID, element_id).is_enabled())
        self.element(element_id).click()

    def text(self, element_id):
        return self.element(element_id).get_attribute("textContent")

    def submit_period(self, inflow):
        self.wait.until(lambda b: b.find_element(By.ID, "submit").is_enabled())
        box = self.element("inflow")
        box.clear()
        box.send_keys(inflow)
        self.click("submit")

    def wait_period(self, number):
        self.wait.until(lambda b: self.text("period") == str(number) and
                        b.find_element(By.ID, "submit").is_enabled())

    def screenshot(self, width, height):
        self.browser.set_window_size(width, height)
        # The page fills the window's inner size: the window is grown until that is the size.
        inner = self.browser.execute_script("return [innerWidth, innerHeight]")
        self.browser.set_window_size(2 * width - inner[0], 2 * height - inner[1])
        os.makedirs(SCREENSHOTS, exist_ok=True)
        self.browser.save_screenshot(
            os.path.join(SCREENSHOTS, "web-task-%dx%d.png" % (width, height)))

    def test_a_whole_sitting_with_a_reload_mid_period(self):
        self.browser.get(self.server.url("/?PROLIFIC_PID=web01&STUDY_ID=st9&SESSION_ID=se7"))
        self.click("agree")
        self.click("gender-2")
        self.element("age").send_keys("27")
        self.element("major").send_keys("Psychology")
        self.click("begin")
        frame = self.element("next")
        self.assertEqual(self.browser.find_element(By.TAG_NAME, "iframe").get_attribute("sandbox"), "")
        frame.click()
        self.wait.until(lambda b: b.find_element(By.CSS_SELECTOR, "input[name='q-goal']"))
        self.browser.find_element(By.CSS_SELECTOR, "input[name='q-goal'][value='1']").click()
        self.click("submit-answers")

        # The practice period, then the run.
        self.wait.until(lambda b: self.text("practice") and
                        b.find_element(By.ID, "practice").is_displayed())
        self.submit_period(DECISIONS[0])
        self.click("continue")
        self.wait_period(0)
        self.submit_period(DECISIONS[1])
        self.wait_period(1)
        self.assertEqual(self.text("amount"), "03.500")
        self.screenshot(1280, 800)
        self.screenshot(1920, 1080)
        # A reload while the period plays: the sitting comes back where it is.
        self.submit_period(DECISIONS[2])
        self.browser.refresh()
        self.wait_period(2)
        self.assertEqual(self.text("amount"), "03.500")
        self.submit_period(DECISIONS[3])
        self.wait_period(3)
        self.submit_period(DECISIONS[4])

        self.wait.until(lambda b: b.find_elements(By.CSS_SELECTOR, "input[name='q-hard']"))
        self.browser.find_element(By.CSS_SELECTOR, "input[name='q-hard'][value='4']").click()
        self.browser.find_element(By.CSS_SELECTOR, "textarea[name='q-plan']").send_keys(
            "Fill it, then hold")
        self.click("submit-answers")
        link = self.element("completion-link")
        self.assertEqual(link.get_attribute("href"), "https://panel.example/done?cc=AB12CD")
        self.check_records()

    def check_records(self):
        server = self.server
        runs = server.table("Runs.txt")
        self.assertEqual([(r["Subject"], r["Practice"], r["PeriodsPlayed"], r["Ending"])
                          for r in runs],
                         [("web01", "1", "1", "completed"), ("web01", "0", "4", "completed")])
        lines = server.table("Data.txt")
        self.assertEqual([(l["Trial"], l["UserInflow"], l["Amount"]) for l in lines],
                         [("1", "2", "4"), ("1", "1.5", "3.5"), ("2", "0", "3.5"),
                          ("3", "1", "4.5"), ("4", "0.5", "5")])
        code, output = server.verify()
        self.assertEqual(code, 0, output)
        self.assertIn("0 differences", output)
        # The run's figures are those the desktop program gives the same decisions.
        self.assertEqual([[line[name] for name in FIGURES] for line in lines[1:]],
                         desktop_figures(DECISIONS[1:]))
        subject = server.query("SELECT rowid, Subject, Gender, Age, Major FROM datSubject")
        self.assertEqual([row[1:] for row in subject], [("web01", "Female", 27.0, "Psychology")])
        self.assertEqual(server.query("SELECT SubjectRowId, ParticipantId, StudyId, SessionId "
                                      "FROM datPanel"), [(subject[0][0], "web01", "st9", "se7")])
        run_ids = [r["RunId"] for r in runs]
        self.assertEqual(server.query("SELECT RunId, SubjectRowId FROM datRun ORDER BY RunId"),
                         [(run_id, subject[0][0]) for run_id in sorted(run_ids)])
        answers = server.query("SELECT RunId, QuestionId, Answer, Attempt, Correct FROM datAnswer "
                               "ORDER BY rowid")
        self.assertEqual(answers, [(run_ids[0], "goal", "at the line", 1, 1),
                                   (run_ids[1], "hard", "4", None, None),
                                   (run_ids[1], "plan", "Fill it, then hold", None, None)])
        self.assertEqual(server.query("SELECT Agreed FROM datConsent"), [(1,)])


if __name__ == "__main__":
    unittest.main()
