"""What someone else put in %TEMP% before the run is never loaded, run or
continued: libraries planted where the launcher's own go (held open or
not, with the scratch folder's lock held too), a staged archive planted for
resume mode or left by another version of the package, the extraction
folder replaced by a link, a file named like the scratch folder."""
import os
import shutil
import subprocess
import tempfile
import unittest

import harness
import runkit

W = harness.win_path


def write(path, data=b"mine"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def read(path):
    with open(path, "rb") as f:
        return f.read()


def packer(*args):
    r = subprocess.run([runkit.PACKER] + list(args), stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
    if r.returncode != 0:
        raise RuntimeError(r.stdout.decode("utf-8", "replace"))


class PlantedFilesTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="stowaway-planted-")
        self.record = os.path.join(self.work, "record.txt")
        self.marker = os.path.join(self.work, "marker.txt")
        os.environ["STOWAWAY_MARKER"] = W(self.marker)
        self.temp = runkit.session_temp()
        self.scratch = os.path.join(self.temp, runkit.TRV_GUID)
        self.cleanup = [self.scratch]
        self.holder = None
        self.remove(self.scratch)

    def tearDown(self):
        self.release()
        os.environ.pop("STOWAWAY_MARKER", None)
        for path in self.cleanup:
            self.remove(path)
        shutil.rmtree(self.work, ignore_errors=True)

    @staticmethod
    def remove(path):
        if os.path.islink(path) or os.path.isfile(path):
            os.remove(path)
        elif os.path.isdir(path):
            shutil.rmtree(path, ignore_errors=True)

    def hold(self, *paths):
        """Holds files open without sharing, from a Windows process."""
        ready = os.path.join(self.work, "held.ready")
        self.until = os.path.join(self.work, "held.release")
        for f in (ready, self.until):
            if os.path.exists(f):
                os.remove(f)
        args = []
        for p in paths:
            args += ["--hold", W(p)]
        self.holder = harness.start("holdfile.exe", args + ["--ready", W(ready), "--until", W(self.until)],
                                    stdout=subprocess.DEVNULL)
        self.assertTrue(harness.wait_for(lambda: os.path.exists(ready), 60))

    def release(self):
        if self.holder:
            open(self.until, "w").close()
            self.assertEqual(self.holder.wait(timeout=60), 0, "a planted file was not held")
            self.holder = None

    def payload(self, name, extra=None):
        return runkit.sample_payload(os.path.join(self.work, name), extra_files=extra)

    def setup_args(self):
        return '--record "%s" --exit 7' % W(self.record)

    def run_package(self, pkg, args="/S"):
        if os.path.exists(self.record):
            os.remove(self.record)
        run = runkit.LauncherRun(pkg, args)
        code = run.run(timeout=300)
        return run, code

    def test_planted_libraries_are_never_loaded(self):
        # A package that loads all three: its language library, its skin
        # (Corvel.dll) and QELTRON.dll for its PAC payload.
        pac = os.path.join(self.work, "data.pac")
        packer("pac", "--folder", self.payload("pac-payload"), "--out", pac)
        theme = os.path.join(self.work, "Corvel.thm")
        write(theme, "[Dialog]\r\nFrameShape=Dialog.inf\r\n")
        frame = os.path.join(self.work, "Dialog.inf")
        write(frame, "[FrameWork]\r\nTopLeft=0,0,320,68\r\n")
        sections = runkit.base_config(runkit.new_guid(), cmdline=self.setup_args(),
                                      Languages=runkit.LANGUAGE_IDS)
        pkg = runkit.packed_package(os.path.join(self.work, "out"), "Planted", sections, archive=pac,
                                    neutral=[harness.exe("QELTRON.dll")],
                                    skins=[harness.exe("Corvel.dll"), theme, frame])
        marker_dll = read(harness.exe("marker.dll"))
        planted = [os.path.join(self.scratch, n) for n in ("QELTRON.dll", "Corvel.dll", "EnglishUS.lng")]
        planted.append(os.path.join(self.scratch, runkit.EXTRACT_FOLDER, "shcore.dll"))
        cases = (
            ("planted", False, False),
            ("planted and held open", True, False),
            ("planted, the scratch lock held", False, True),
        )
        for what, held, locked in cases:
            with self.subTest(what=what):
                self.remove(self.scratch)
                for p in planted:
                    write(p, marker_dll)
                lock = os.path.join(self.scratch, "run.lock")
                if locked:
                    write(lock, b"")
                if held or locked:
                    self.hold(*([lock] if locked else planted))
                run, code = self.run_package(pkg)
                msgs = run.messages()
                tail = "\n".join(msgs[-40:])
                self.assertEqual(code, 7, tail)
                self.assertFalse(os.path.exists(self.marker), read(self.marker) if os.path.exists(self.marker) else "")
                self.assertFalse([m for m in msgs if "PLANTED" in m])
                # The package's own copies were used.
                self.assertTrue(any(m.startswith("SetCorvelThm()->Corvel loaded!") for m in msgs), tail)
                self.assertTrue(any(m.startswith("UnPAC()->") and " unpacked in " in m for m in msgs), tail)
                self.assertTrue(any(m.startswith("LoadStringEx(142)->Extracting program files") for m in msgs))
                rec = runkit.read_record(self.record)
                self.assertNotIn("shcore.dll", rec["file"])
                self.assertIn("fakesetup.exe", rec["file"])
                used = runkit.linux_path(run.value("WinMain()->TempPathTRV="))
                if held or locked:
                    # Left alone: the run took a folder of its own.
                    self.assertNotEqual(used, self.scratch)
                    self.assertTrue(all(os.path.isfile(p) for p in (planted if held else [lock])))
                else:
                    self.assertEqual(used, self.scratch)
                self.assertFalse(os.path.exists(used))
                self.release()

    def resume_package(self, name, guid, payload, **runtime):
        cab = os.path.join(self.work, name + ".cab")
        packer("cab", "--folder", payload, "--out", cab, "--store")
        sections = runkit.base_config(guid, cmdline=self.setup_args(), ResumeSetup=1, **runtime)
        pkg = runkit.packed_package(os.path.join(self.work, name + "-out"), name, sections,
                                    archive=cab, languages=False)
        return pkg, os.path.getsize(cab)

    def test_version_2_after_version_1_installs_version_2(self):
        guid = runkit.new_guid()
        self.cleanup.append(os.path.join(self.temp, guid))
        pkgs = []
        for version in ("1", "2"):
            payload = self.payload("v" + version, {"version.txt": version.encode()})
            pkgs.append(self.resume_package("v" + version, guid, payload, DeleteFiles=0))
        self.assertEqual(pkgs[0][1], pkgs[1][1], "both versions are the same size")
        extract = os.path.join(self.temp, guid, runkit.EXTRACT_FOLDER)
        for (pkg, _), version in zip(pkgs, ("1", "2")):
            run, code = self.run_package(pkg)
            self.assertEqual(code, 7, "\n".join(run.messages()[-30:]))
            self.assertEqual(read(os.path.join(extract, "version.txt")), version.encode())
        self.assertTrue(any("is not the start of the piece: extracted again" in m
                            for m in run.messages()))

    def test_a_planted_staged_archive_is_never_continued(self):
        guid = runkit.new_guid()
        self.cleanup.append(os.path.join(self.temp, guid))
        # The package's piece is larger than the planted cabinet, which holds
        # a program named like the setup program.
        payload = self.payload("real", {"filler.bin": os.urandom(300 * 1024)})
        pkg, size = self.resume_package("Real", guid, payload)
        fake = os.path.join(self.work, "fake")
        write(os.path.join(fake, "planted.txt"), "planted")
        shutil.copy(harness.exe("fakesetup.exe"), fake)
        staged = os.path.join(self.temp, guid, guid, "TRV0001.001")
        packer("cab", "--folder", fake, "--out", os.path.join(self.work, "planted.cab"))
        os.makedirs(os.path.dirname(staged))
        shutil.copy(os.path.join(self.work, "planted.cab"), staged)
        self.assertLess(os.path.getsize(staged), size)
        run, code = self.run_package(pkg)
        self.assertEqual(code, 7, "\n".join(run.messages()[-30:]))
        rec = runkit.read_record(self.record)
        self.assertNotIn("planted.txt", rec["file"])
        self.assertIn("filler.bin", rec["file"])
        self.assertTrue(any("is not the start of the piece: extracted again" in m
                            for m in run.messages()))

    def test_a_linked_extraction_folder_is_never_written_through(self):
        guid = runkit.new_guid()
        folder = os.path.join(self.temp, guid)
        self.cleanup.append(folder)
        outside = os.path.join(self.work, "outside")
        write(os.path.join(outside, "readme.txt"), "outside")
        os.makedirs(folder)
        os.symlink(outside, os.path.join(folder, runkit.EXTRACT_FOLDER))
        pkg, _ = self.resume_package("Linked", guid, self.payload("linked"))
        run, code = self.run_package(pkg)
        self.assertEqual(code, 7, "\n".join(run.messages()[-30:]))
        self.assertEqual(sorted(os.listdir(outside)), ["readme.txt"])
        self.assertEqual(read(os.path.join(outside, "readme.txt")), b"outside")
        # The setup program ran from a real folder of the run's own: the link
        # removed and a folder made in its place, or (where the system can
        # not remove such a link) the scratch folder's extraction folder.
        cwd = runkit.linux_path(runkit.read_record(self.record)["cwd"][0])
        self.assertEqual(os.path.basename(cwd).lower(), runkit.EXTRACT_FOLDER.lower())
        self.assertFalse(os.path.realpath(cwd).startswith(os.path.realpath(outside)))
        self.assertTrue(any(m.startswith("RemoveLinksBelow()->") for m in run.messages()))

    def test_a_file_or_link_named_like_the_scratch_folder(self):
        outside = os.path.join(self.work, "outside")
        write(os.path.join(outside, "keep.txt"), "keep")
        sections = runkit.base_config(runkit.new_guid(), cmdline=self.setup_args())
        pkg = runkit.packed_package(os.path.join(self.work, "out"), "Named", sections,
                                    payload=self.payload("named"), languages=False)
        for what in ("file", "link"):
            with self.subTest(what=what):
                self.remove(self.scratch)
                if what == "file":
                    write(self.scratch, "not a folder")
                else:
                    os.symlink(outside, self.scratch)
                run, code = self.run_package(pkg)
                self.assertEqual(code, 7, "\n".join(run.messages()[-30:]))
                self.assertNotEqual(runkit.linux_path(run.value("WinMain()->TempPathTRV=")), self.scratch)
                self.assertEqual(os.listdir(outside), ["keep.txt"])
                self.assertTrue(os.path.lexists(self.scratch))


if __name__ == "__main__":
    harness.main()
