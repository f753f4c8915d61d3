"""End-to-end tests of what a fault may not do to the records: a full disk, a signal, a second
instance on the same folder, files the program cannot use, a missing display. Each case runs
the real program on a data folder of its own."""

import os
import shutil
import signal
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
    READY_LINE,
    ModelClient,
    ProgramTestCase,
    ProgramUnderTest,
    find_data,
    find_executable,
    headless_environment,
    run_program,
    setup_text,
    split_rows,
)

INITIAL = "STATE TIME 0 GOAL 04.00 AMOUNT 02.00 EI -1 EO -1 UI -1 UO -1"


class FaultTestCase(ProgramTestCase):
    def lay_out(self, **changes):
        """A folder whose data/ holds the test scenario and a copy of the database; removed
        when the test ends. Returns the folder."""
        folder = tempfile.mkdtemp(prefix="fluxmere-e2e-")
        self.addCleanup(shutil.rmtree, folder, True)
        data = os.path.join(folder, "data")
        os.makedirs(data)
        with open(os.path.join(data, "Setup.txt"), "w", newline="") as f:
            f.write(setup_text(dict(DEFAULT_SETUP, **changes)))
        database = os.path.join(find_data(find_executable()), "Krugel.db")
        shutil.copy2(database, data)
        return folder

    def run_on(self, folder, *args, env=None, command_prefix=(), timeout=10.0):
        """Runs the program on `folder`'s data/ to its end: exit code, stdout, stderr."""
        command = list(command_prefix) + [find_executable(), "--port", "0", "--data-dir",
                                          os.path.join(folder, "data")] + list(args)
        done = subprocess.run(command, env=env or headless_environment(), cwd=folder,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        return done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1")

    @staticmethod
    def file_bytes(folder, name):
        with open(os.path.join(folder, "data", name), "rb") as f:
            return f.read()

    def assert_whole_lines(self, raw):
        self.assertTrue(raw.endswith(b"\r\n"), raw[-60:])
        for row in split_rows(raw):
            self.assertEqual(len(row), len(DATA_COLUMNS), row)

    def run_records(self, folder):
        rows = split_rows(self.file_bytes(folder, "Runs.txt"))
        return [dict(zip(rows[0], row)) for row in rows[1:]]


class RecordTest(FaultTestCase):
    def test_a_model_told_of_a_period_finds_its_line(self):
        program = self.start(MaxTrial=30)
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        for period in range(1, 31):
            model.exchange("DECISION UI 1 UO 1")
            # Read at once: a kill right after the state message must not lose the period.
            self.assertEqual(len(program.data_rows()) - 1, period)

    def test_a_line_cut_short_by_a_full_disk_leaves_no_fragment(self):
        folder = self.lay_out(MaxTrial=40)
        program = self.start(folder=folder, file_size_limit=1500)
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        with self.assertRaises((ConnectionError, TimeoutError)):
            for _ in range(40):
                model.exchange("DECISION UI 0.25 UO 0.125")
        self.assertEqual(program.wait_exit(), 1)
        self.assertIn("could not be written", program.stderr_text())
        raw = self.file_bytes(folder, "Data.txt")
        self.assertLess(len(raw), 1500)
        self.assert_whole_lines(raw)

        # With room again, the next run's lines follow on lines of their own.
        program = self.start(folder=folder)
        model = self.connect(program)
        self.assertEqual(model.login("beta"), INITIAL)
        model.exchange("DECISION UI 1")
        after = self.file_bytes(folder, "Data.txt")
        self.assertEqual(after[:len(raw)], raw)
        self.assert_whole_lines(after)
        self.assertEqual(split_rows(after)[-1][0], "beta")

    def test_a_run_record_that_cannot_be_written_ends_the_program_with_status_1(self):
        program = self.start(MaxTrial=2)
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        os.mkdir(os.path.join(program.data_dir, "Runs.txt"))  # not even root can append to it
        model.exchange("DECISION UI 1")
        model.send_line("DECISION UI 1")
        self.assertEqual(program.wait_exit(), 1)
        self.assertIn("run record could not be written", program.stderr_text())

    def test_a_fragment_found_at_run_start_is_removed_with_a_note(self):
        folder = self.lay_out()
        header = "\t".join(DATA_COLUMNS).encode("latin-1") + b"\r\n"
        with open(os.path.join(folder, "data", "Data.txt"), "wb") as f:
            f.write(header + b"alpha\tBATCH\t1\t12/7/2026\t3:04")
        program = self.start(folder=folder)
        model = self.connect(program)
        self.assertEqual(model.login(), INITIAL)
        model.exchange("DECISION UI 1")
        raw = self.file_bytes(folder, "Data.txt")
        self.assert_whole_lines(raw)
        self.assertEqual(len(split_rows(raw)), 2)
        self.assertIn("removed", program.stderr_text())


@unittest.skipIf(os.environ.get("FLUXMERE_QT_ONLY_PLATFORM") == "1",
                 "a build on Qt alone does not catch signals")
class SignalTest(FaultTestCase):
    def test_a_signal_closes_the_running_period_and_records_the_run(self):
        folder = self.lay_out()
        program = self.start(folder=folder)
        model = self.connect(program)
        self.assertEqual(model.login("alpha", "NONBATCH"), INITIAL)
        model.send_line("DECISION UI 1")
        time.sleep(0.5)  # the period waits in its first 2 s pause
        program.process.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait_exit(), 0)
        self.assertEqual(len(program.data_rows()), 2)
        record = self.run_records(folder)[-1]
        self.assertEqual((record["Ending"], record["PeriodsPlayed"]), ("signal", "1"))
        self.assertNotIn("questionnaire", program.stderr_text())

    def test_every_stop_signal_records_the_open_run(self):
        for number in (signal.SIGINT, signal.SIGHUP, signal.SIGTERM):
            with self.subTest(signal=number.name):
                folder = self.lay_out()
                program = self.start(folder=folder)
                model = self.connect(program)
                self.assertEqual(model.login(), INITIAL)
                for _ in range(2):
                    model.exchange("DECISION UI 1")
                program.process.send_signal(number)
                self.assertEqual(program.wait_exit(), 0)
                record = self.run_records(folder)[-1]
                self.assertEqual((record["Ending"], record["PeriodsPlayed"]), ("signal", "2"))


class DataFolderTest(FaultTestCase):
    def test_a_second_instance_on_the_same_folder_exits_1(self):
        folder = self.lay_out()
        first = self.start(folder=folder)
        code, out, err = self.run_on(folder)
        self.assertEqual(code, 1)
        self.assertNotIn("Waiting for a model", out)
        data = os.path.join(folder, "data")
        self.assertIn("The data folder %s is in use by process %d." % (data, first.process.pid),
                      err)
        # The lock of a killed instance is taken over.
        first.process.kill()
        first.wait_exit()
        self.start(folder=folder)

    def test_files_the_program_cannot_write_stop_the_start(self):
        folder = self.lay_out()
        os.mkdir(os.path.join(folder, "data", "Runs.txt"))  # not even root can append to it
        code, out, err = self.run_on(folder)
        self.assertEqual(code, 1)
        self.assertNotIn("Waiting for a model", out)
        self.assertIn("Runs.txt", err)

    def test_an_unwritable_data_folder_stops_the_start(self):
        folder = self.lay_out()
        data = os.path.join(folder, "data")
        prefix = ()
        if os.geteuid() == 0:  # root writes anywhere: the program runs as nobody
            prefix = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--")
            probe = subprocess.run(list(prefix) + [find_executable(), "--version"],
                                   capture_output=True)
            if shutil.which("setpriv") is None or probe.returncode != 0:
                self.skipTest("cannot run the program as another user here")
            os.chmod(folder, 0o755)
            os.chmod(os.path.join(data, "Krugel.db"), 0o644)
        os.chmod(data, 0o555)
        self.addCleanup(os.chmod, data, 0o755)
        code, out, err = self.run_on(folder, command_prefix=prefix)
        self.assertEqual(code, 1, err)
        self.assertNotIn("Waiting for a model", out)
        self.assertIn("not writable", err)

    def test_the_setup_file_must_be_a_small_regular_file(self):
        for kind in ("pipe", "too large"):
            with self.subTest(kind):
                folder = self.lay_out()
                setup = os.path.join(folder, "data", "Setup.txt")
                os.remove(setup)
                if kind == "pipe":
                    os.mkfifo(setup)  # opening it would wait for a writer for ever
                    named = "not a regular file"
                else:
                    with open(setup, "wb") as f:
                        f.write(b"' a comment\r\n" * 200000)
                    named = "2600000 bytes"
                for args in ((), ("--check-setup",)):
                    code, out, err = self.run_on(folder, *args, timeout=10.0)
                    self.assertEqual(code, 1)
                    self.assertIn(named, out + err)


class StartTest(FaultTestCase):
    def test_a_taken_ipv6_loopback_stops_the_start(self):
        try:
            other = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
            other.bind(("::1", 0))
        except OSError:
            self.skipTest("this machine has no IPv6 loopback")
        self.addCleanup(other.close)
        other.listen()
        port = other.getsockname()[1]
        folder = self.lay_out()
        code, out, err = self.run_on(folder, "--port", str(port))
        self.assertEqual(code, 1)
        self.assertNotIn("Waiting for a model", out)
        self.assertIn("Cannot listen for a model on port %d of ::1" % port, err)

    def test_without_a_display_the_program_runs_headless(self):
        folder = self.lay_out()
        env = headless_environment(QT_QPA_PLATFORM=None, DISPLAY=None, WAYLAND_DISPLAY=None)
        process = subprocess.Popen(
            [find_executable(), "--port", "0", "--data-dir", os.path.join(folder, "data")],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(process.kill)
        port = None
        for raw in process.stdout:
            ready = READY_LINE.fullmatch(raw.decode("latin-1").rstrip("\r\n"))
            if ready:
                port = int(ready.group(1))
                break
        self.assertIsNotNone(port, "it ended with %r" % process.poll())
        with ModelClient(port=port) as model:
            self.assertEqual(model.login(), INITIAL)
            model.send_line("QUIT")
        self.assertEqual(process.wait(10), 0)
        self.assertIn("No display: running headless", process.stderr.read().decode("latin-1"))


if __name__ == "__main__":
    unittest.main()
