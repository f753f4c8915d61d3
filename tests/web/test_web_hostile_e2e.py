"""What a hostile or careless client meets: paths outside the study's files, another sitting's
token, messages too large or malformed, a participant id used twice, too many sittings; and
how open runs end when the server is stopped or a page stays away past its grace."""

import base64
import json
import os
import signal
import subprocess
import sys
import time
import unittest
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import websocket  # noqa: E402

from fluxmere_web import Participant, WebServer, png, web_executable  # noqa: E402

FILES = {
    "instructions/01.html": "<p>Keep the amount at the goal.</p><img src='tank.png'>",
    "instructions/tank.png": png(4, 4, (0, 0, 255)),
    "conditions/calm/note.html": "<p>calm</p>",
    "Web.txt": "MaxSessions = 3\r\nGraceSeconds = 5\r\nCompletionCode = C0DE\r\n",
}


def status(url, method="GET"):
    request = urllib.request.Request(url, method=method)
    try:
        with urllib.request.urlopen(request, timeout=5) as response:
            return response.status
    except urllib.error.HTTPError as error:
        return error.code


def raw_get(port, path):
    """A request line sent as written, dots and all: the status code the server answers."""
    import socket
    with socket.create_connection(("127.0.0.1", port), timeout=5) as connection:
        connection.sendall(("GET %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n" % path)
                           .encode("latin-1"))
        reply = connection.recv(200).decode("latin-1")
    return int(reply.split()[1])


def to_task(page):
    """Plays the steps before the task; returns the task step."""
    step = page.next_step()
    while step["step"] != "task":
        if step["step"] == "form":
            page.act("form", gender=2, age="41", major="Law")
        elif step["step"] == "pages":
            page.act("next")
        else:
            raise AssertionError(step)
        step = page.next_step()
    page.wait_input()
    return step


class CommandLineTest(unittest.TestCase):
    def run_web(self, *args):
        done = subprocess.run([web_executable()] + list(args), capture_output=True, text=True,
                              timeout=10)
        return done.returncode, done.stdout, done.stderr

    def test_help_and_version_answer_without_serving(self):
        code, out, _ = self.run_web("--version")
        self.assertEqual((code, out.split()[0]), (0, "fluxmere-web"))
        code, out, _ = self.run_web("--help")
        self.assertEqual(code, 0)
        self.assertIn("--pause-ms", out)

    def test_bad_usage_and_a_missing_folder(self):
        for args in (["--bogus"], ["--port", "70000"], ["--listen", "anywhere"],
                     ["--pause-ms", "-1"], ["extra"]):
            with self.subTest(args=args):
                self.assertEqual(self.run_web(*args)[0], 2)
        code, _, err = self.run_web("--data-dir", "/nonexistent/folder", "--port", "0")
        self.assertEqual(code, 1)
        self.assertIn("does not exist", err)


def hello_from(server, pid, forwarded):
    """A page whose proxy says it comes from `forwarded`: the step it is given first."""
    page = websocket.create_connection("ws://127.0.0.1:%d/" % server.port, timeout=5,
                                       header=["X-Forwarded-For: %s" % forwarded])
    page.send(json.dumps({"hello": {"query": {"PROLIFIC_PID": pid}}}))
    while True:
        message = json.loads(page.recv())
        if "step" in message:
            return page, message["step"]


class OperatorAndAddressTest(unittest.TestCase):
    def test_the_operator_page_needs_its_password_and_addresses_are_capped(self):
        web = ("OperatorPassword = s3cret-words\r\nForwardedHeader = X-Forwarded-For\r\n"
               "MaxSessionsPerAddress = 1\r\n")
        with WebServer({"MaxTrial": 3}, files={"Web.txt": web}) as server:
            first, step = hello_from(server, "eve", "10.0.0.5, 192.0.2.7")
            self.assertEqual(step, "form")
            # The proxy's own entry (the last) counts, not what the browser claimed before it.
            self.assertEqual(hello_from(server, "fay", "10.0.0.9, 192.0.2.7")[1], "address")
            self.assertEqual(hello_from(server, "gus", "192.0.2.8")[1], "form")
            self.assertEqual(status(server.url("/operator")), 401)
            wrong = urllib.request.Request(server.url("/operator"),
                                           headers={"Authorization": "Basic " + base64.b64encode(
                                               b"op:s3cret-wordz").decode()})
            with self.assertRaises(urllib.error.HTTPError):
                urllib.request.urlopen(wrong, timeout=5)
            right = urllib.request.Request(server.url("/operator"),
                                           headers={"Authorization": "Basic " + base64.b64encode(
                                               b"op:s3cret-words").decode()})
            with urllib.request.urlopen(right, timeout=5) as response:
                page = response.read().decode()
            self.assertIn("2 sittings open", page)
            self.assertIn("<td>eve</td>", page)
            self.assertIn("<td>form</td>", page)
            first.close()
        # Without a password there is no operator page at all.
        with WebServer({"MaxTrial": 3}) as server:
            self.assertEqual(status(server.url("/operator")), 404)


class HostileTest(unittest.TestCase):
    def setUp(self):
        self.server = WebServer({"MaxTrial": 4}, files=FILES, conditions={"calm": {}},
                                args=["--pause-ms", "1"])
        self.server.__enter__()
        self.addCleanup(self.server.__exit__)

    def test_only_the_page_and_the_study_files_are_served(self):
        server = self.server
        self.assertEqual(status(server.url("/")), 200)
        self.assertEqual(status(server.url("/app.js")), 200)
        self.assertEqual(status(server.url("/study/instructions/tank.png")), 200)
        self.assertEqual(status(server.url("/study/conditions/calm/note.html")), 200)
        for path in ("/study/../Data.txt", "/study/%2e%2e/Krugel.db", "/study/Setup.txt",
                     "/study/conditions/calm.txt", "/study/instructions/../Runs.txt",
                     "/study//etc/passwd", "/study/setups", "/Krugel.db", "/study/Web.txt"):
            with self.subTest(path=path):
                self.assertEqual(raw_get(server.port, path), 404)
        # A link inside the study's folders that leads outside them is judged by its target.
        os.symlink(os.path.join(server.data_dir, "Data.txt"),
                   os.path.join(server.data_dir, "instructions", "data.png"))
        self.assertEqual(status(server.url("/study/instructions/data.png")), 404)
        self.assertEqual(status(server.url("/"), "POST"), 405)
        self.assertEqual(status(server.url("/study/instructions/tank.png"), "DELETE"), 405)

    def test_malformed_oversized_and_foreign_messages_change_nothing(self):
        server = self.server
        alice = Participant(server, {"PROLIFIC_PID": "alice"})
        to_task(alice)
        stranger = websocket.create_connection("ws://127.0.0.1:%d/" % server.port, timeout=5)
        for junk in ("not json", "[1, 2]", "{\"do\": \"submit\"}", "\u0000\u0001"):
            stranger.send(junk)
            self.assertIn("error", json.loads(stranger.recv()))
        # A token that is no sitting's, and one whose sitting is shown on another page.
        stranger.send(json.dumps({"hello": {"token": "0" * 32}}))
        self.assertEqual(json.loads(stranger.recv())["step"], "gone")
        other = websocket.create_connection("ws://127.0.0.1:%d/" % server.port, timeout=5)
        other.send(json.dumps({"hello": {"token": alice.token}}))
        self.assertEqual(json.loads(other.recv())["step"], "busy")
        other.send(json.dumps({"do": "withdraw", "at": alice.step["at"], "token": alice.token}))
        # Larger than the server takes: the connection is closed as too large (1009).
        huge = websocket.create_connection("ws://127.0.0.1:%d/" % server.port, timeout=5)
        huge.send(json.dumps({"hello": {"query": {"PROLIFIC_PID": "x" * 40000}}}))
        opcode, frame = huge.recv_data(control_frame=True)
        self.assertEqual((opcode, frame[:2]), (websocket.ABNF.OPCODE_CLOSE, b"\x03\xf1"))
        # Alice plays on, untouched, and her run is hers alone.
        alice.act("submit", inflow="-1", outflow="0")  # a sign the entry box never takes
        self.assertIn("notice", alice.receive())
        end = alice.play([("1", "0")] * 4)
        self.assertEqual(end["kind"], "completed")
        self.assertEqual(end["code"], "C0DE")
        runs = server.table("Runs.txt")
        self.assertEqual([(r["Subject"], r["Ending"], r["PeriodsPlayed"]) for r in runs],
                         [("alice", "completed", "4")])
        self.assertTrue(server.running())

    def test_a_participant_id_once_and_a_cap_on_sittings(self):
        server = self.server
        first = Participant(server, {"PROLIFIC_PID": "bob"})
        self.assertEqual(first.next_step()["step"], "form")
        again = Participant(server, {"PROLIFIC_PID": "bob"})
        self.assertEqual(again.next_step()["step"], "repeat")
        nobody = Participant(server, {})
        self.assertEqual(nobody.next_step()["step"], "id")
        bad = Participant(server, {"PROLIFIC_PID": "a\tb"})
        self.assertTrue(bad.next_step()["invalid"])
        pages = [Participant(server, {"PROLIFIC_PID": "p%d" % n}) for n in range(2)]
        for page in pages:
            self.assertEqual(page.next_step()["step"], "form")
        late = Participant(server, {"PROLIFIC_PID": "late"})
        self.assertEqual(late.next_step()["step"], "full")

    def test_a_stopped_server_records_every_open_run(self):
        server = self.server
        pages = [Participant(server, {"PROLIFIC_PID": name}) for name in ("cara", "dan")]
        for page in pages:
            to_task(page)
            page.act("submit", inflow="1", outflow="0")
        time.sleep(0.5)
        self.assertEqual(server.stop(signal.SIGTERM), 0)
        runs = sorted((r["Subject"], r["Ending"], r["PeriodsPlayed"])
                      for r in server.table("Runs.txt"))
        self.assertEqual(runs, [("cara", "signal", "1"), ("dan", "signal", "1")])
        # After a restart the sitting is over, politely.
        server.start()
        back = Participant(server, token=pages[0].token)
        self.assertEqual(back.next_step()["step"], "gone")

    def test_a_connection_cut_mid_period_resumes_where_it_was(self):
        server = self.server
        page = Participant(server, {"PROLIFIC_PID": "finn"})
        to_task(page)
        page.act("submit", inflow="1", outflow="0")
        page.close()
        time.sleep(1)
        back = Participant(server, token=page.token)
        step = back.next_step()
        self.assertEqual((step["step"], step["view"]["period"]), ("task", "1"))
        self.assertEqual(step["view"]["amount"], "03.000")
        back.view = step["view"]
        self.assertEqual(back.play([("1", "0")] * 3)["kind"], "completed")
        runs = [(r["Subject"], r["Ending"], r["PeriodsPlayed"]) for r in server.table("Runs.txt")]
        self.assertEqual(runs, [("finn", "completed", "4")])
        self.assertEqual([line["Amount"] for line in server.table("Data.txt")],
                         ["3", "4", "5", "6"])

    def test_a_page_away_past_its_grace_leaves_its_run(self):
        server = self.server
        page = Participant(server, {"PROLIFIC_PID": "eve"})
        to_task(page)
        page.act("submit", inflow="2", outflow="0")
        page.wait_input(0)
        page.close()
        time.sleep(6.5)
        runs = [(r["Subject"], r["Ending"], r["PeriodsPlayed"]) for r in server.table("Runs.txt")]
        self.assertEqual(runs, [("eve", "left", "1")])
        self.assertEqual(Participant(server, token=page.token).next_step()["step"], "gone")


if __name__ == "__main__":
    unittest.main()
