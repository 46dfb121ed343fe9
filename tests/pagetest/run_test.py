#!/usr/bin/python3
"""ifcsim-run's life cycle: the command meets a fresh server, and however the
run ends, no process and no directory is left behind."""

import os
import re
import shutil
import signal
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True
from console_support import Program, TempDirCase, wait_gone  # noqa: E402

RUN = os.environ.get("IFCSIM_RUN", "")

# The command: changes TO of colour 1 unless told "-", reads it back, leaves
# a process running in its group, says what it saw on one line and ends as
# told: with an exit status, killed, or waiting for a signal.
COMMAND = r"""
import os, signal, subprocess, sys
from console_support import protocol_get, protocol_put
ending, value = sys.argv[1:]
port, work = int(os.environ["IFCSIM_PORT"]), os.environ["IFCSIM_DIR"]
if value != "-":
    protocol_put(port, "IFC_set_to_tw_1", f"to:{value} tw:250")
held = protocol_get(port, "IFC_get_Tot_Twt_1").split()[0]
straggler = subprocess.Popen(["sleep", "600"])
parent = os.getppid()
with open(f"/proc/{parent}/task/{parent}/children") as f:
    server = [p for p in f.read().split() if int(p) != os.getpid()][0]
print(os.environ["IFCSIM_HOST"], port, work, os.getpid(), straggler.pid, server, held,
      flush=True)
if ending == "kill":
    os.kill(os.getpid(), signal.SIGKILL)
if ending == "wait":
    signal.pause()
sys.exit(int(ending))
"""
LINE = re.compile(r"^(\S+) (\d+) (/\S+) (\d+) (\d+) (\d+) (to:-?\d+)$")


class Run:
    """ifcsim-run of COMMAND, its line read."""

    def __init__(self, cwd, ending, value, *options, runner=RUN):
        self.program = Program([runner, *options, "--", sys.executable, "-c", COMMAND,
                                ending, value], cwd)
        m = self.program.out.wait_for(LINE)
        if m is None:
            self.program.stop(signal.SIGKILL)
            raise AssertionError(f"no line from the command: {self.program.err.text()}")
        self.host, port, self.dir, *pids, self.held = m.groups()
        self.port = int(port)
        self.pids = [int(p) for p in pids]  # command, its straggler, server


class LifeCycleTest(TempDirCase):
    def test_every_ending_leaves_nothing_behind(self):
        cases = [
            # name, ending, signal to the runner, exit status, shows the server's output
            ("success", "0", None, 0, None),
            ("failure", "3", None, 3, "the command ended with exit status 3"),
            ("command killed", "kill", None, 128 + 9, "the command ended with signal 9 (SIGKILL)"),
            ("runner gets SIGTERM", "wait", signal.SIGTERM, 128 + 15, None),
            ("runner gets SIGINT", "wait", signal.SIGINT, 128 + 2, None),
        ]
        for i, (name, ending, sig, status, report) in enumerate(cases):
            run = Run(self.dir, ending, str(100 + i))
            if sig is not None:
                run.program.proc.send_signal(sig)
            self.assertEqual(run.program.wait(), status, name)
            self.assertEqual((run.host, run.held), ("127.0.0.1", f"to:{100 + i}"), name)
            self.assertEqual(wait_gone(run.pids), [], name)
            self.assertFalse(os.path.exists(run.dir), name)
            err = run.program.err.wait_end()
            if report is None:
                self.assertNotIn("server's output", "\n".join(err), name)
            else:
                at = err.index(f"ifcsim-run: {report}; the last entries of the journal:")
                row = r"  \S+ \S+ +127\.0\.0\.1:\d+ +{} +ok +\d+\.\d{{3}}  to:{} tw:250$"
                self.assertRegex(err[at + 2], row.format("PUT IFC_set_to_tw_1", 100 + i), name)
                self.assertRegex(err[at + 3], row.format("GET IFC_get_Tot_Twt_1", 100 + i), name)
                at = err.index("ifcsim-run: the last lines of the server's output:", at)
                self.assertIn("  waiting... connected... GET" + "IFC_get_Tot_Twt_1".ljust(20),
                              err[at:], name)
            if sig is not None:
                self.assertEqual(err[-1], f"ifcsim-run: stopped by {sig.name}", name)
        self.assertEqual(os.listdir(self.dir), [])

    def test_parallel_runs_each_have_their_own_server(self):
        runs = [Run(self.dir, "0", str(200 + i)) for i in range(8)]
        for i, run in enumerate(runs):
            self.assertEqual(run.program.wait(), 0, i)
            self.assertEqual(run.held, f"to:{200 + i}", i)
        self.assertEqual(len({run.port for run in runs}), len(runs))
        self.assertEqual(wait_gone([p for run in runs for p in run.pids]), [])
        self.assertFalse(any(os.path.exists(run.dir) for run in runs))

    def test_kept_directory_seeds_the_next_run(self):
        first = Run(self.dir, "0", "95", "--keep")
        self.assertEqual(first.program.wait(), 0)
        self.addCleanup(shutil.rmtree, first.dir, True)
        self.assertEqual(first.program.err.wait_end(), [f"ifcsim-run: kept {first.dir}"])
        second = Run(self.dir, "0", "-", "--set-files", first.dir)
        self.assertEqual(second.program.wait(), 0)
        self.assertEqual(second.held, "to:95")

    def test_readings_file_reaches_server_and_command(self):
        with open(os.path.join(self.dir, "readings"), "w") as f:
            f.write("measured 1 to:95 tw:250\n")
        show = "import os; from console_support import protocol_get; print(protocol_get(int(" \
               "os.environ['IFCSIM_PORT']), 'IFC_get_To_Tw_1'), os.environ['IFCSIM_READINGS'])"
        run = subprocess.run([RUN, "--readings", "readings", "--", sys.executable, "-c", show],
                             cwd=self.dir, capture_output=True, text=True, timeout=60)
        self.assertEqual(run.stdout, f"to:95 tw:250  {self.dir}/readings\n", run.stderr)

    def test_without_ifcctl_the_journal_is_shown_compactly(self):
        tree = os.path.join(self.dir, "tree")
        os.makedirs(os.path.join(tree, "pagetest"))
        runner = shutil.copy(RUN, os.path.join(tree, "pagetest"))
        os.symlink(os.path.join(os.path.dirname(RUN), "..", "ifcsim"),
                   os.path.join(tree, "ifcsim"))
        run = Run(self.dir, "1", "-", runner=runner)
        self.assertEqual(run.program.wait(), 1)
        err = run.program.err.wait_end()
        at = err.index("ifcsim-run: the command ended with exit status 1; "
                       "the last entries of the journal:")
        self.assertRegex(err[at + 1],
                         r"^  \S+Z 127\.0\.0\.1:\d+ GET IFC_get_Tot_Twt_1 ok [\d.]+ to:90 tw:240 $")

    def test_killed_runner_takes_the_server_along(self):
        run = Run(self.dir, "wait", "-")
        run.program.proc.kill()
        run.program.wait()
        command, straggler, server = run.pids
        self.assertEqual(wait_gone([command, server]), [])
        os.kill(straggler, signal.SIGKILL)  # only a group stop reaches it
        shutil.rmtree(run.dir)


if __name__ == "__main__":
    unittest.main(verbosity=2)
