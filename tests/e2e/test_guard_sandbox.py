"""Destructive script lines against a sandbox drive: a drive letter of the
Wine prefix mapped to a scratch folder, with stand-ins for the protected
folders and canary files on it (script/destructive_test.cpp does the lines;
this maps the drive, runs it from a scratch folder and checks the canaries
again from outside)."""
import os
import shutil
import subprocess
import tempfile
import unittest

import harness
import runkit


class GuardSandboxTest(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(harness.exe("test_script.exe")):
            self.skipTest("test_script.exe is not built")
        devices = os.path.join(runkit.PREFIX, "dosdevices")
        free = [l for l in "stuvwxy" if not os.path.lexists(os.path.join(devices, l + ":"))]
        self.assertTrue(free, "no free drive letter in the prefix")
        self.drive = free[0]
        self.sandbox = tempfile.mkdtemp(prefix="stowaway-sandbox-")
        self.link = os.path.join(devices, self.drive + ":")
        os.symlink(self.sandbox, self.link)
        # Links for the lines that list files through them: to the profile's
        # Documents and Desktop stand-ins, to the drive's root, to a canary.
        links = os.path.join(self.sandbox, "links")
        os.makedirs(links)
        me = os.path.join(self.sandbox, "Users", "me")
        for name, target in (("docs_link", os.path.join(me, "Documents")),
                             ("desk_link", os.path.join(me, "Desktop")),
                             ("root_link", self.sandbox),
                             ("doc_file.txt", os.path.join(me, "Documents", "canary.txt"))):
            os.symlink(target, os.path.join(links, name))
        self.cwd = tempfile.mkdtemp(prefix="stowaway-sandbox-cwd-")

    def tearDown(self):
        os.remove(self.link)
        shutil.rmtree(self.sandbox, ignore_errors=True)
        shutil.rmtree(self.cwd, ignore_errors=True)

    def test_destructive_lines_leave_every_canary(self):
        env = dict(os.environ, STOWAWAY_SANDBOX_DRIVE=self.drive.upper() + ":")
        r = subprocess.run([harness.WINE_RUN, harness.exe("test_script.exe"),
                            "--gtest_filter=DestructiveLines.*"],
                           cwd=self.cwd, env=env, timeout=600, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        out = r.stdout.decode("utf-8", "replace")
        self.assertEqual(r.returncode, 0, out[-6000:])
        self.assertIn("[  PASSED  ] 1 test", out)
        self.assertNotIn("SKIPPED", out)
        with open(os.path.join(self.sandbox, "canaries.txt")) as f:
            canaries = [l.strip() for l in f if l.strip()]
        self.assertGreaterEqual(len(canaries), 10)
        for rel in canaries:
            path = os.path.join(self.sandbox, *rel.strip("\\").split("\\"))
            self.assertTrue(os.path.isfile(path), rel)
            with open(path) as f:
                self.assertEqual(f.read(), "canary", rel)
        # The checkout stand-in keeps its history; nothing landed in the
        # folder the test program was started from.
        self.assertTrue(os.path.isfile(os.path.join(self.sandbox, "checkout", ".git", "canary.txt")))
        self.assertEqual(os.listdir(self.cwd), [])


if __name__ == "__main__":
    harness.main()
