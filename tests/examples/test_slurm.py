"""The Slurm recipe for real, on a one-node cluster started for the test: munged, slurmctld
and slurmd with their key, configuration, state and logs in a temporary folder, on ports of
their own, each stopped by its PID at the end. Starting them needs root and Debian's
slurm-wlm and munge; without them the test is skipped, saying why, unless
FLUXMERE_REQUIRE_SLURM is set (as CI does), when it fails."""

import os
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXAMPLES = os.path.join(ROOT, "examples")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from fluxmere_e2e import find_executable  # noqa: E402

DAEMONS = ["munged", "mungekey", "slurmctld", "slurmd", "sbatch", "sinfo"]
START_TIMEOUT = 60


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class OneNodeCluster:
    def __init__(self, folder):
        self.folder = folder
        self.node = socket.gethostname().split(".")[0]
        self.conf = os.path.join(folder, "slurm.conf")
        self.env = dict(os.environ, SLURM_CONF=self.conf)
        self.daemons = []

    def why_not(self):
        missing = [name for name in DAEMONS if not shutil.which(name)
                   and not os.path.exists("/usr/sbin/" + name)]
        if missing:
            return "not installed: %s (apt-get install slurm-wlm munge)" % ", ".join(missing)
        if os.geteuid() != 0:
            return "starting slurmd and munged needs root"
        return None

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def start_daemon(self, *command):
        log = open(self.path("log", os.path.basename(command[0]) + ".out"), "wb")
        self.daemons.append(subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT,
                                             stdin=subprocess.DEVNULL, env=self.env))
        log.close()

    def start(self):
        for name in ("run", "state", "spool", "log"):
            os.makedirs(self.path(name), mode=0o755)
        key = self.path("munge.key")
        subprocess.run(["mungekey", "--create", "--keyfile=" + key], check=True, timeout=30)
        os.chmod(key, stat.S_IRUSR | stat.S_IWUSR)
        socket_path = self.path("run", "munge.socket")
        self.start_daemon("munged", "--foreground", "--force", "--key-file=" + key,
                          "--socket=" + socket_path, "--pid-file=" + self.path("run", "munged.pid"),
                          "--log-file=" + self.path("log", "munged.log"),
                          "--seed-file=" + self.path("munged.seed"))
        self.wait_for(lambda: os.path.exists(socket_path), "munged's socket")
        with open(self.conf, "w") as f:
            f.write(CONFIGURATION.format(node=self.node, folder=self.folder, socket=socket_path,
                                         ctld_port=free_port(), slurmd_port=free_port(),
                                         cpus=os.cpu_count() or 1))
        self.start_daemon("slurmctld", "-D", "-i", "-f", self.conf)
        self.start_daemon("slurmd", "-D", "-f", self.conf, "-N", self.node)
        self.wait_for(self.node_idle, "the node to be idle")

    def node_idle(self):
        done = subprocess.run(["sinfo", "-h", "-N", "-o", "%t"], env=self.env, timeout=10,
                              capture_output=True, text=True)
        return done.stdout.strip() == "idle"

    def wait_for(self, ready, what):
        deadline = time.monotonic() + START_TIMEOUT
        while not ready():
            ended = [d.args[0] for d in self.daemons if d.poll() is not None]
            if ended or time.monotonic() > deadline:
                raise RuntimeError("waiting for %s: %s; logs in %s" % (
                    what, "%s ended" % ", ".join(ended) if ended else "timed out",
                    self.path("log")))
            time.sleep(0.2)

    def stop(self):
        for daemon in reversed(self.daemons):
            if daemon.poll() is None:
                daemon.terminate()
                try:
                    daemon.wait(15)
                except subprocess.TimeoutExpired:
                    daemon.kill()
                    daemon.wait(5)


CONFIGURATION = """\
ClusterName=fluxmeretest
SlurmctldHost={node}(127.0.0.1)
SlurmctldPort={ctld_port}
SlurmdPort={slurmd_port}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket={socket}
CredType=cred/munge
StateSaveLocation={folder}/state
SlurmdSpoolDir={folder}/spool
SlurmctldPidFile={folder}/run/slurmctld.pid
SlurmdPidFile={folder}/run/slurmd.pid
SlurmctldLogFile={folder}/log/slurmctld.log
SlurmdLogFile={folder}/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
SwitchType=switch/none
ReturnToService=2
NodeName={node} NodeAddr=127.0.0.1 CPUs={cpus} State=UNKNOWN
PartitionName=main Nodes=ALL Default=YES MaxTime=INFINITE State=UP
"""


class SlurmRecipeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="fluxmere-slurm-")
        cls.addClassCleanup(shutil.rmtree, cls.folder, True)
        cls.cluster = OneNodeCluster(os.path.join(cls.folder, "cluster"))
        reason = cls.cluster.why_not()
        if reason:
            if os.environ.get("FLUXMERE_REQUIRE_SLURM"):
                raise RuntimeError("Slurm cannot start: " + reason)
            raise unittest.SkipTest("Slurm cannot start here: " + reason)
        os.makedirs(cls.cluster.folder)
        cls.addClassCleanup(cls.cluster.stop)
        cls.cluster.start()
        cls.setup = os.path.join(cls.folder, "goal5.txt")
        with open(os.path.join(os.path.dirname(find_executable()), "data", "Setup.txt")) as f:
            text = f.read()
        with open(cls.setup, "w") as f:
            f.write(text.replace("GoalLinePoisition = 4", "GoalLinePoisition = 5"))

    def submit(self, name, exe):
        runs = os.path.join(self.folder, name)
        done = subprocess.run(
            [os.path.join(EXAMPLES, "sweep-slurm.sbatch"), "--wait"] + self.options,
            env=dict(self.cluster.env, RUNS_DIR=runs, FLUXMERE_EXE=exe), cwd=self.folder,
            capture_output=True, text=True, timeout=180, stdin=subprocess.DEVNULL)
        (submission,) = os.listdir(runs)
        return done, os.path.join(runs, submission)

    @property
    def options(self):
        return ["--shares", "0.5,1,0.25", "--runs", "2", "--periods", "20", "--setup",
                self.setup]

    def test_the_merged_csv_is_what_one_machine_plays(self):
        done, submission = self.submit("good", find_executable())
        self.assertEqual(done.returncode, 0, done.stderr)
        here = subprocess.run(
            [sys.executable, os.path.join(EXAMPLES, "sweep.py"), "--output", "-",
             "--work-dir", os.path.join(self.folder, "here")] + self.options,
            capture_output=True, text=True, timeout=120, stdin=subprocess.DEVNULL)
        self.assertEqual(here.returncode, 0, here.stderr)
        with open(os.path.join(submission, "sweep.csv")) as f:
            self.assertEqual(f.read(), here.stdout)
        self.assertIn("goal5,0.25,2,20,", here.stdout)

    def test_a_failing_task_fails_the_merge_by_name(self):
        failing = os.path.join(self.folder, "fails-in-task-1")
        with open(failing, "w") as f:
            f.write('#!/bin/sh\n[ "$SLURM_ARRAY_TASK_ID" = 1 ] && exit 3\nexec "%s" "$@"\n'
                    % find_executable())
        os.chmod(failing, stat.S_IRWXU)
        done, submission = self.submit("failing", failing)
        self.assertEqual(done.returncode, 1)
        self.assertIn("1 of 3 tasks have no results: share-1 (task 1)", done.stderr)
        self.assertFalse(os.path.exists(os.path.join(submission, "sweep.csv")))
        with open(os.path.join(submission, "logs", "task-1.log")) as f:
            self.assertIn("status 3", f.read())


if __name__ == "__main__":
    unittest.main()
