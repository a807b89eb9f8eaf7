"""A run never destroys what it did not make: the user's files in a target
folder that goes at the end, a folder built on a placeholder that stood for
nothing, files reached through links planted where the run writes, and the
files of a setup program that still runs when the run is cancelled. Every
case keeps a canary in a sandbox folder of its own and looks at it again."""
import os
import shutil
import tempfile
import time
import unittest

import harness
import runkit

CANARY = b"the user's own file\r\n"


def write(path, data=CANARY):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class NeverHarmTest(unittest.TestCase):
    def setUp(self):
        for tool in ("packer.exe", "launcher.exe", "fakesetup.exe"):
            if not os.path.exists(harness.exe(tool)):
                self.skipTest(tool + " is not built")
        self.work = tempfile.mkdtemp(prefix="stowaway-harm-")
        self.record = os.path.join(self.work, "record.txt")
        self.canary = os.path.join(self.work, "canaries", "userdoc.txt")
        write(self.canary)
        self.cleanup = []

    def tearDown(self):
        for path in self.cleanup:
            if os.path.islink(path) or os.path.isfile(path):
                os.remove(path)
            elif os.path.isdir(path):
                shutil.rmtree(path, ignore_errors=True)
        shutil.rmtree(self.work, ignore_errors=True)

    def build(self, name, guid=None, extra_args="", **runtime):
        payload = runkit.sample_payload(os.path.join(self.work, name + "-payload"),
                                        extra_files={"userdoc.txt": b"from the package\r\n"})
        cmdline = '--record "%s" %s' % (harness.win_path(self.record), extra_args)
        sections = runkit.base_config(guid or runkit.new_guid(), cmdline=cmdline.strip(),
                                      **runtime)
        return runkit.packed_package(os.path.join(self.work, name + "-out"), name, sections,
                                     payload=payload, languages=False)

    def test_a_target_folder_that_goes_at_the_end_keeps_the_users_files(self):
        existing = os.path.join(self.work, "existing")
        write(os.path.join(existing, "userdoc.txt"))
        cwd = os.path.join(self.work, "cwd")
        write(os.path.join(cwd, "userdoc.txt"))
        cases = [
            # what, TargetFolder, exit code, the user's file, the trace line that says why
            ("an existing folder", harness.win_path(existing), 80,
             os.path.join(existing, "userdoc.txt"), "MayReplace("),
            ("the folder the run started in", "<CURRENTDIR>", 16, os.path.join(cwd, "userdoc.txt"),
             "WinMain()->TargetFolder '"),
        ]
        for what, target, code, user_file, why in cases:
            with self.subTest(what):
                pkg = self.build("Keep", CopyToTemp=0, TargetFolder=target)
                run = runkit.LauncherRun(pkg, "/S /SUPPRESSMSGBOXES", cwd=cwd)
                self.assertEqual(run.run(), code, run.messages()[-20:])
                self.assertEqual(read(user_file), CANARY)
                self.assertTrue([m for m in run.messages() if m.startswith(why)], why)
                self.assertFalse(os.path.exists(self.record), "the setup program ran")

    def test_a_target_built_on_nothing_is_refused(self):
        pkg = self.build("Nothing", CopyToTemp=0, TargetFolder="<COMPANYNAME>\\App")
        run = runkit.LauncherRun(pkg, "/S /SUPPRESSMSGBOXES")
        self.assertEqual(run.run(), 203, run.messages()[-20:])
        self.assertIn("WinMain()->TargetFolder '\\App' refused: <COMPANYNAME> stood for nothing",
                      run.messages())
        self.assertFalse(os.path.exists(runkit.linux_path("C:\\App")))
        self.assertFalse(os.path.exists(self.record))

    def test_links_planted_where_the_run_writes_are_never_written_through(self):
        temp = runkit.session_temp()
        cases = [
            # what, the folder below TEMP that is planted, the link's name there
            ("the staged archive of resume mode", "{guid}\\{guid}", "TRV0001.001"),
            ("a member in the resume extraction folder",
             "{guid}\\" + runkit.EXTRACT_FOLDER, "userdoc.txt"),
            ("a leftover in the scratch folder", runkit.TRV_GUID, "leftover.txt"),
        ]
        for what, folder, name in cases:
            with self.subTest(what):
                guid = runkit.new_guid()
                rel = folder.replace("{guid}", guid).split("\\")
                planted = os.path.join(temp, *rel)
                self.cleanup.append(os.path.join(temp, rel[0]))
                os.makedirs(planted, exist_ok=True)
                os.symlink(self.canary, os.path.join(planted, name))
                pkg = self.build("Plant", guid=guid, ResumeSetup=1)
                run = runkit.LauncherRun(pkg, "/S /SUPPRESSMSGBOXES")
                code = run.run()
                # The run took its own files, or failed with a code.
                self.assertIn(code, (0, 1920), run.messages()[-20:])
                self.assertEqual(read(self.canary), CANARY, run.messages()[-20:])
                self.assertFalse(os.path.islink(self.canary))

    def test_cancel_while_the_setup_program_runs_leaves_its_files_until_it_ends(self):
        started = os.path.join(self.work, "started.flag")
        release = os.path.join(self.work, "release.flag")
        pkg = self.build("Busy", extra_args='--touch "%s" --wait-file "%s"' % (
            harness.win_path(started), harness.win_path(release)), DialogInRun=1)
        run = runkit.LauncherRun(pkg, "").start()
        self.assertTrue(harness.wait_for(lambda: os.path.exists(started), 90))
        scratch = runkit.linux_path(run.value("WinMain()->TempPathTRV=") or "")
        self.assertTrue(os.path.isdir(scratch), run.messages()[-20:])
        self.assertEqual(runkit.uiauto("close", "--title", "Stowaway Sample")[0], 0)
        self.assertTrue(runkit.confirm_cancel("Stowaway Sample"), run.messages()[-20:])
        # The window is gone, the setup program runs on, and its files stay.
        self.assertTrue(harness.wait_for(
            lambda: "StatusProc()->WM_DESTROY" in run.messages(), 30))
        time.sleep(2)
        self.assertIsNone(run.proc.poll(), "the launcher ended while the setup program ran")
        extracted = [os.path.join(dp, f) for dp, _, fs in os.walk(scratch) for f in fs
                     if f == "readme.txt"]
        self.assertTrue(extracted, "the setup program's files were removed under it")
        open(release, "w").close()
        self.assertEqual(run.wait(), 1223)
        self.assertIn("WaitForLaunchedProgram()->The setup program still runs: its files are "
                      "removed once it has ended", run.messages())
        self.assertFalse(os.path.exists(scratch))


if __name__ == "__main__":
    unittest.main(verbosity=2)
