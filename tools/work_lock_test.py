#!/usr/bin/env python3
"""Tests that scripts/compare-clocks empties its working folders only under the program's lock:
a folder that a running program holds keeps what it has, and the script stops and says why.
The program is a stand-in that writes the same log in both folders. Standard library only:
python3 tools/work_lock_test.py"""

import fcntl
import os
import stat
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LOCK_NAME = "Local__Quillon_.lock"

# Writes one log line into its working folder (--work), as the program would.
FAKE_PROGRAM = """#!/usr/bin/env bash
while [ $# -gt 0 ]; do
  if [ "$1" = --work ]; then work="$2"; fi
  shift
done
echo "Exiting: DURATION REACHED (120 s)" > "$work/Log.txt"
"""


class CompareClocksLockTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.build = self.tmp.name
        os.makedirs(os.path.join(self.build, "input"))
        with open(os.path.join(self.build, "input", "refdata.enc"), "w") as f:
            f.write("x")
        program = os.path.join(self.build, "quillon")
        with open(program, "w") as f:
            f.write(FAKE_PROGRAM)
        os.chmod(program, os.stat(program).st_mode | stat.S_IXUSR)
        self.base = os.path.join(self.build, "compare-clocks")
        for kind in ("real", "virtual"):
            os.makedirs(os.path.join(self.base, kind))
            self.leave(kind, "learned.xml")

    def tearDown(self):
        self.tmp.cleanup()

    def leave(self, KIND, NAME):
        with open(os.path.join(self.base, KIND, NAME), "w") as f:
            f.write("what a program wrote")

    def run_script(self):
        env = dict(os.environ, BUILD_DIR=self.build, QUILLON_COMPARE_SECONDS="1")
        return subprocess.run([os.path.join(ROOT, "scripts", "compare-clocks")], env=env, capture_output=True,
                              text=True, timeout=60)

    def test_a_folder_a_program_holds_is_left_alone(self):
        for held in ("real", "virtual"):
            with self.subTest(held=held), open(os.path.join(self.base, held, LOCK_NAME), "a") as lock:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                done = self.run_script()
                self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
                self.assertIn(f"a program still runs on {os.path.join(self.base, held)}", done.stderr)
                for kind in ("real", "virtual"):
                    self.assertTrue(os.path.exists(os.path.join(self.base, kind, "learned.xml")), kind)

    def test_free_folders_are_emptied_and_compared(self):
        self.leave("real", "stale-from-an-earlier-run.txt")
        done = self.run_script()
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("hold the same 1 lines", done.stdout)
        for kind in ("real", "virtual"):
            names = set(os.listdir(os.path.join(self.base, kind)))
            self.assertFalse(names & {"learned.xml", "stale-from-an-earlier-run.txt"}, kind)
            self.assertIn("Log.txt", names)


if __name__ == "__main__":
    unittest.main()
