"""End-to-end tests of what the records may never do: report a success that is not one, name
the wrong player, lose a run whose model left, or remove data at the start. Each case runs
the real program on a data folder of its own."""

import hashlib
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from fluxmere_e2e import (  # noqa: E402
    DATA_COLUMNS,
    DEFAULT_SETUP,
    ProgramTestCase,
    find_executable,
    headless_environment,
    run_program,
    setup_text,
    split_rows,
)

INITIAL = "STATE TIME 0 GOAL 04.00 AMOUNT 02.00 EI -1 EO -1 UI -1 UO -1"
REPORT = os.path.join(os.path.dirname(find_executable()), "fluxmere-report")


class RecordsTestCase(ProgramTestCase):
    def lay_out(self, **changes):
        folder = tempfile.mkdtemp(prefix="fluxmere-records-")
        self.addCleanup(shutil.rmtree, folder, True)
        data = os.path.join(folder, "data")
        self.assertEqual(run_program(["--data-dir", data, "--init"])[0], 0)
        self.setup_bytes = setup_text(dict(DEFAULT_SETUP, **changes)).encode("latin-1")
        with open(os.path.join(data, "Setup.txt"), "wb") as f:
            f.write(self.setup_bytes)
        return folder

    @staticmethod
    def read(folder, name):
        with open(os.path.join(folder, "data", name), "rb") as f:
            return f.read()

    @staticmethod
    def write(folder, name, data):
        with open(os.path.join(folder, "data", name), "wb") as f:
            f.write(data)

    def records(self, folder):
        rows = split_rows(self.read(folder, "Runs.txt"))
        return [dict(zip(rows[0], row)) for row in rows[1:]]

    def play(self, folder, name="alpha", periods=2, login=None, **kwargs):
        """One model's run of `periods` periods, then a reset; the program ends with QUIT."""
        program = self.start(folder=folder, **kwargs)
        model = self.connect(program)
        self.assertEqual(model.exchange(login or "ENTRY-ID %s VERSION BATCH" % name), INITIAL)
        for _ in range(periods):
            model.exchange("DECISION UI 1 UO 0.5")
        model.exchange("SIMULATION RESET")
        model.send_line("QUIT")
        self.assertEqual(program.wait_exit(), 0, program.stderr_text())
        return program

    def verify(self, folder):
        return run_program(["--verify", "--data-dir", os.path.join(folder, "data")])


class HeaderAndLineEndTest(RecordsTestCase):
    def test_a_header_that_cannot_be_written_stops_the_run(self):
        folder = self.lay_out()
        # The setup is kept already, so that the header is the first file that needs room.
        redacted = self.setup_bytes
        setup_id = hashlib.sha256(redacted).hexdigest()[:12]
        os.makedirs(os.path.join(folder, "data", "setups"))
        self.write(folder, "setups/%s.txt" % setup_id, redacted)
        # The limit is below the header's 242 bytes, and leaves standard error room to say why.
        program = self.start(folder=folder, file_size_limit=200)
        model = self.connect(program)
        model.send_line("ENTRY-ID alpha VERSION BATCH")
        self.assertEqual(program.wait_exit(), 1)
        self.assertIn("header could not be written", program.stderr_text())
        self.assertEqual(self.read(folder, "Data.txt"), b"")

    def test_a_zero_byte_data_file_gets_its_header(self):
        folder = self.lay_out()
        self.write(folder, "Data.txt", b"")
        self.play(folder)
        rows = split_rows(self.read(folder, "Data.txt"))
        self.assertEqual((rows[0], len(rows)), (DATA_COLUMNS, 3))
        self.assertEqual(self.verify(folder)[0], 0)

    def test_a_last_line_without_its_line_end_is_kept(self):
        folder = self.lay_out()
        self.play(folder)
        for name in ("Data.txt", "Runs.txt"):
            self.write(folder, name, self.read(folder, name)[:-2])
        program = self.play(folder, "beta")
        self.assertIn("CR LF was added", program.stderr_text())
        rows = split_rows(self.read(folder, "Data.txt"))
        self.assertEqual([row[0] for row in rows[1:]], ["alpha"] * 2 + ["beta"] * 2)
        self.assertEqual([r["Subject"] for r in self.records(folder)], ["alpha", "beta"])
        self.assertEqual(self.verify(folder)[:2], (0, "2 runs, 4 periods verified, 0 differences\n"))

    def test_a_file_of_other_line_ends_is_left_as_it_is(self):
        folder = self.lay_out()
        self.play(folder)
        before = self.read(folder, "Data.txt").replace(b"\r\n", b"\r")
        self.write(folder, "Data.txt", before)
        code, out, err = run_program(["--port", "0", "--data-dir",
                                      os.path.join(folder, "data")])
        self.assertEqual(code, 1)
        self.assertNotIn("Waiting for a model", out)
        self.assertIn("Data.txt line 1", err)
        self.assertEqual(self.read(folder, "Data.txt"), before)


class PlayerTest(RecordsTestCase):
    def test_a_name_only_login_is_a_models_run_for_the_report_and_the_rotation(self):
        folder = self.lay_out()
        data = os.path.join(folder, "data")
        os.makedirs(os.path.join(data, "conditions"))
        for name in ("a", "b"):
            with open(os.path.join(data, "conditions", name + ".txt"), "wb") as f:
                f.write(self.setup_bytes.replace(b"MaxTrial = 5", b"MaxTrial = 2"))
        program = self.start(folder=folder, args=["--batch-pause-ms", "0"])
        model = self.connect(program)
        # Short pauses first, then a mode the login refuses: the version tag is empty.
        self.assertEqual(model.login("warm"), INITIAL)
        model.exchange("SIMULATION RESET")
        model.exchange("ENTRY-ID bot VERSION TURBO")
        for _ in range(2):
            self.assertEqual(model.exchange("ENTRY-ID bot"), INITIAL)
            for _ in range(2):
                model.exchange("DECISION UI 1")
            model.exchange("SIMULATION RESET")
        records = self.records(folder)
        self.assertEqual([(r["Version"], r["Player"]) for r in records], [("", "model")] * 2)
        # Each completed run is a model's, so the models' rotation moves on to the other one.
        self.assertEqual([r["StudyCondition"] for r in records], ["a", "b"])
        page = os.path.join(folder, "report.html")
        subprocess.run([REPORT, "--data-dir", data, "-o", page], check=True,
                       capture_output=True)
        with open(page, encoding="utf-8") as f:
            self.assertIn("Run 1: bot (model)", f.read())


class ModelRecordTest(RecordsTestCase):
    def test_a_model_that_leaves_mid_run_is_recorded_at_once(self):
        folder = self.lay_out(MaxTrial=10)
        program = self.start(folder=folder)
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        for _ in range(3):
            model.exchange("DECISION UI 1")
        model.close()
        deadline = time.monotonic() + 5
        while not os.path.exists(os.path.join(folder, "data", "Runs.txt")):
            self.assertLess(time.monotonic(), deadline, "no record after the model left")
            time.sleep(0.02)
        record = self.records(folder)[-1]
        self.assertEqual((record["Ending"], record["PeriodsPlayed"]), ("quit", "3"))
        self.assertTrue(program.running())
        # The program waits for the next model, which starts a run of its own.
        second = self.connect(program)
        self.assertEqual(second.login("beta"), INITIAL)

    def test_quit_behind_pipelined_messages_is_honoured(self):
        for attempt in range(20):
            with self.subTest(attempt=attempt):
                folder = self.lay_out(MaxTrial=100)
                program = self.start(folder=folder, args=["--batch-pause-ms", "0"])
                model = self.connect(program)
                self.assertEqual(model.login(), INITIAL)
                # Sent in one write, with no reply read.
                model.send(b"RESULT\n" + b"DECISION UI 1\n" * 5 + b"QUIT\n")
                self.assertEqual(program.wait_exit(), 0)
                record = self.records(folder)[-1]
                self.assertEqual((record["Ending"], record["PeriodsPlayed"]), ("quit", "5"))

    def test_each_run_plays_the_setup_it_records(self):
        # A noisy environment and an EnvSeed of the same length each time, and the file's
        # time kept as it was (as a copy that keeps times does, or a rewrite within one tick
        # of the file system's clock).
        folder = self.lay_out(MaxTrial=1, EnvInflowNoise=1, EnvSeed=100)
        path = os.path.join(folder, "data", "Setup.txt")
        program = self.start(folder=folder, args=["--batch-pause-ms", "0"])
        model = self.connect(program)
        for seed in range(100, 120):
            kept = os.stat(path)
            program.write_setup({"MaxTrial": 1, "EnvInflowNoise": 1, "EnvSeed": seed})
            os.utime(path, ns=(kept.st_atime_ns, kept.st_mtime_ns))
            self.assertEqual(model.login(), INITIAL)
            model.exchange("DECISION UI 1")
            model.exchange("SIMULATION RESET")
        self.assertEqual([r["Seed"] for r in self.records(folder)],
                         [str(seed) for seed in range(100, 120)])


class LockTest(RecordsTestCase):
    def test_of_two_instances_started_together_the_other_is_named(self):
        for attempt in range(10):
            with self.subTest(attempt=attempt):
                folder = self.lay_out()
                command = [find_executable(), "--port", "0", "--data-dir",
                           os.path.join(folder, "data")]
                both = [subprocess.Popen(command, env=headless_environment(),
                                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                        for _ in range(2)]
                # The loser ends as soon as it has read the lock; a slow start (a sanitized
                # build, a busy machine) is waited for, and the winner is given a moment more.
                deadline = time.monotonic() + 20
                while all(p.poll() is None for p in both) and time.monotonic() < deadline:
                    time.sleep(0.02)
                time.sleep(0.3)
                ended = [p for p in both if p.poll() is not None]
                for p in both:
                    if p.poll() is None:
                        p.kill()
                    p.wait()
                self.assertEqual(len(ended), 1)
                winner = next(p for p in both if p not in ended)
                self.assertIn("is in use by process %d." % winner.pid,
                              ended[0].stderr.read().decode("latin-1"))
                for p in both:
                    p.stderr.close()


if __name__ == "__main__":
    unittest.main()
