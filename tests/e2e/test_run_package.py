"""Packages made by the packer, run as a user would run them: the typical
run end to end, the chosen language, extract-only mode, the license
dialog, and Cancel during a long extraction."""
import os
import shutil
import tempfile
import unittest
import zipfile

import harness
import runkit

PRODUCT = "Stowaway Sample"


class PackageRunTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="stowaway-pkg-")
        cls.payload = runkit.sample_payload(os.path.join(cls.work, "payload"))
        cls.license = os.path.join(cls.work, "License.rtf")
        with open(cls.license, "w") as f:
            f.write(runkit.LICENSE_RTF)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.case = tempfile.mkdtemp(prefix="case_", dir=self.work)
        self.record = os.path.join(self.case, "record.txt")
        self.started = os.path.join(self.case, "started.flag")
        self.release = os.path.join(self.case, "release.flag")
        self.guid = runkit.new_guid()

    def tearDown(self):
        open(self.release, "w").close()

    def setup_args(self, extra="--exit 3010", wait=False):
        args = '--record "%s" --touch "%s" ' % (harness.win_path(self.record),
                                               harness.win_path(self.started))
        if wait:
            args += '--wait-file "%s" ' % harness.win_path(self.release)
        return args + extra + " <SETUPZK>"

    def build(self, name="Sample", cmdline=None, license=False, **runtime):
        if license:
            runtime["LicenseFile"] = "License.rtf"
        sections = runkit.base_config(self.guid, cmdline=cmdline or self.setup_args(),
                                      Languages=runkit.LANGUAGE_IDS, **runtime)
        return runkit.packed_package(os.path.join(self.case, "out"), name, sections,
                                     payload=self.payload,
                                     neutral=[self.license] if license else ())

    def folder(self, run, prefix):
        value = run.value(prefix)
        return runkit.linux_path(value) if value else None

    def test_typical_run_end_to_end(self):
        run = runkit.LauncherRun(self.build(), "/S")
        self.assertEqual(run.run(), 3010)
        msgs = run.messages()
        scratch = self.folder(run, "WinMain()->TempPathTRV=")
        extract = os.path.join(scratch, runkit.EXTRACT_FOLDER)

        # Started from the extraction folder, with RunAs, its command line intact.
        rec = runkit.read_record(self.record)
        self.assertEqual(runkit.linux_path(rec["cwd"][0]).lower(), extract.lower())
        self.assertEqual(rec["arg"][:2], ["--record", harness.win_path(self.record)])
        self.assertTrue(rec["arg"][-1].startswith("/SETUPZK:"))
        self.assertEqual(sorted(rec["file"]), ["docs\\manual.txt", "fakesetup.exe", "readme.txt"])
        exe = run.value("WinMain()->ExeFile=")
        self.assertTrue(exe.lower().endswith(runkit.EXTRACT_FOLDER.lower() + "\\fakesetup.exe"))
        self.assertTrue(any(m.startswith("ExecuteFile(%s, " % exe) and ", RunAs, 1 (Wait=1)" in m
                            for m in msgs), msgs)

        # The trace walks the run in order.
        # The product's name is known before anything can fail: every
        # message is under it.
        expected = ["Begin...", "WinMain()->CmdLine=/S", "WinMain()->TempPathTRV=",
                    "WinMain()->Title=" + PRODUCT, "WinMain()->DataPath=", "WinMain()->LoadLibrary(",
                    "WinMain()->Silent mode parameter", "WinMain()->bNeedToRunAsAdmin=0",
                    "WinMain()->ExeFile=", "StatusDlg > hWnd == 00000000",
                    "StatusProc()->WM_READY_TASK",
                    "ThreadUnCompressDATA()->Extract DATA file", "ExecuteFile(",
                    "ExecuteFile()->WaitForSingleObject=", "StatusProc()->WM_END_TASK",
                    "StatusProc()->WM_DESTROY", "StatusDlg > End(",
                    "WinMain()->Remove folder '", "WinMain()->End(0xbc2)"]
        pos = 0
        for e in expected:
            found = [i for i in range(pos, len(msgs)) if msgs[i].startswith(e)]
            self.assertTrue(found, "%s missing after line %d" % (e, pos))
            pos = found[0] + 1
        # The worker may trace before the window's thread has told it started it.
        ready = msgs.index("StatusProc()->WM_READY_TASK")
        created = [i for i in range(ready, len(msgs))
                   if msgs[i].startswith("StatusProc->CreateThread()->hThread=")]
        self.assertTrue(created, "worker start missing after WM_READY_TASK")
        self.assertLess(created[0], msgs.index("StatusProc()->WM_END_TASK"))

        # Every temporary folder is gone.
        self.assertFalse(os.path.exists(scratch))
        self.assertFalse(os.path.exists(extract))

    def test_language_option_picks_french(self):
        pkg = self.build(cmdline=self.setup_args(wait=True), DialogInRun=1)
        run = runkit.LauncherRun(pkg, "/LANG:1036").start()
        self.assertTrue(harness.wait_for(lambda: os.path.exists(self.started), 90))
        rc, dump = runkit.uiauto("dump", "--title", PRODUCT)
        open(self.release, "w").close()
        self.assertEqual(run.wait(), 3010)
        self.assertEqual(rc, 0, dump)
        self.assertIn("WinMain()->Language parameter: 1036", run.messages())
        self.assertTrue(run.value("WinMain()->LoadLibrary(").split(")")[0].endswith("French.lng"))
        heading = [c["text"] for c in runkit.parse_controls(dump) if c.get("id") == "1003"]
        self.assertEqual(len(heading), 1)
        self.assertNotEqual(heading[0], "Preparing to install")
        self.assertTrue(heading[0])

    def test_extract_only_keeps_the_files_and_launches_nothing(self):
        pkg = self.build()
        cwd = os.path.join(self.case, "cwd")
        os.makedirs(cwd)
        # "-" and "/" end the option's value, so the quoted path has none.
        spaced_root = tempfile.mkdtemp(prefix="stowaway_x_", dir="/tmp")
        self.addCleanup(shutil.rmtree, spaced_root, True)
        spaced = os.path.join(spaced_root, "target with blanks")
        cases = (("/S /X:sub", os.path.join(cwd, "sub")),
                 ('/S /X:"%s"' % harness.win_path(spaced), spaced))
        for args, target in cases:
            with self.subTest(args=args):
                run = runkit.LauncherRun(pkg, args, cwd=cwd)
                # Extracted and nothing to launch: a completed run.
                self.assertEqual(run.run(), 0)
                self.assertTrue(os.path.isfile(os.path.join(target, "fakesetup.exe")))
                self.assertTrue(os.path.isfile(os.path.join(target, "docs", "manual.txt")))
                self.assertFalse(os.path.exists(self.record))
                self.assertIn("WinMain()->TgdFolder=" + harness.win_path(target),
                              run.messages())
                self.assertFalse(os.path.exists(self.folder(run, "WinMain()->TempPathTRV=")))

    def test_license_declined_or_accepted(self):
        pkg = self.build(license=True)
        title = PRODUCT + " - License Agreement"
        # Declined: the run is cancelled (1223), nothing launched, nothing left.
        run = runkit.LauncherRun(pkg).start()
        rc, dump = runkit.uiauto("dump", "--title", title, "--timeout", "60000")
        self.assertEqual(rc, 0, dump)
        controls = {c.get("id"): c for c in runkit.parse_controls(dump)}
        self.assertEqual(controls["1"]["enabled"], "0")
        self.assertIn("STOWAWAY SAMPLE LICENSE AGREEMENT", controls["1095"]["text"])
        self.assertEqual(runkit.uiauto("click", "--title", title, "--id", "1")[0], 2)
        runkit.uiauto("click", "--title", title, "--id", "2")
        self.assertTrue(runkit.confirm_cancel(PRODUCT))
        self.assertEqual(run.wait(), 1223)
        self.assertIn("WinMain()->Dialog license=2", run.messages())
        self.assertFalse(os.path.exists(self.record))
        self.assertFalse(os.path.exists(self.folder(run, "WinMain()->TempPathTRV=")))

        # Accepted: the run goes on.
        run = runkit.LauncherRun(pkg).start()
        runkit.uiauto("wait", "--title", title, "--timeout", "60000")
        runkit.uiauto("click", "--title", title, "--id", "1096")
        self.assertTrue(harness.wait_for(
            lambda: "enabled=1" in [l for l in runkit.uiauto("dump", "--title", title)[1]
                                    .splitlines() if " id=1 " in l][0], 10))
        runkit.uiauto("click", "--title", title, "--id", "1")
        self.assertEqual(run.wait(), 3010)
        self.assertIn("WinMain()->Dialog license=1", run.messages())

    def test_cancel_during_a_long_extraction(self):
        # A large stored ZIP: copied out and unpacked for long enough to cancel.
        big = os.path.join(self.case, "big.zip")
        with zipfile.ZipFile(big, "w", zipfile.ZIP_STORED) as z:
            z.write(harness.exe("fakesetup.exe"), "fakesetup.exe")
            for i in range(6):
                z.writestr("data/block%d.bin" % i, os.urandom(32 * 1024 * 1024))
        sections = runkit.base_config(self.guid, cmdline=self.setup_args())
        pkg = runkit.packed_package(os.path.join(self.case, "out"), "Big", sections,
                                    archive=big, languages=False)
        run = runkit.LauncherRun(pkg).start()
        rc, _ = runkit.uiauto("wait", "--title", PRODUCT, "--timeout", "60000")
        self.assertEqual(rc, 0)
        runkit.uiauto("click", "--title", PRODUCT, "--id", "2")
        self.assertTrue(runkit.confirm_cancel(PRODUCT))
        self.assertEqual(run.wait(timeout=60), 1223)
        msgs = run.messages()
        self.assertTrue(any(m.startswith("StatusProc()->IDCANCEL") for m in msgs))
        self.assertIn("ThreadUnCompressDATA()->Error=1223", msgs)
        self.assertFalse(os.path.exists(self.record))
        self.assertFalse(os.path.exists(self.folder(run, "WinMain()->TempPathTRV=")))


if __name__ == "__main__":
    harness.main()
