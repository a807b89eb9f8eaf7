"""Every path and name in Unicode, end to end: a TEMP, a target folder, an
/X: folder, the members of every payload kind and the product name that
hold letters the ANSI code page has (é), has only as a look-alike (Ł,
which a best fit turns into L), has not at all (データ), or that lie
outside the BMP (😀). Each tree comes out byte for byte, the run ends
with 0 and the title bar shows the name. A look-alike folder planted where
a best fit would lead is never used."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

import harness
import runkit

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "servers"))
import control  # noqa: E402

W = harness.win_path

# Label, and the word every name of the case holds.
WORDS = [
    ("code page", "donn\u00e9es"),
    ("look-alike", "\u0141ask"),
    ("no code page", "\u30c7\u30fc\u30bf"),
    ("beyond the BMP", "\U0001F600"),
]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))


def tree(root):
    """{relative path: bytes} of every file below root."""
    out = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                out[os.path.relpath(path, root).replace(os.sep, "/")] = f.read()
    return out


def packer(*args):
    r = subprocess.run([runkit.PACKER] + list(args), stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    if r.returncode != 0:
        raise RuntimeError("packer failed: %s" % (r.stdout + r.stderr).decode("utf-8", "replace"))
    return r


class UnicodeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.servers = control.NetServers(ftp=False).start()
        # "/X:" ends its value at a "-": no path of the test holds one.
        cls.work = tempfile.mkdtemp(prefix="stowaway_unicode_")
        with open(harness.exe("fakesetup.exe"), "rb") as f:
            cls.setup_program = f.read()

    @classmethod
    def tearDownClass(cls):
        cls.servers.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def package(self, case, word, target, started, release, record):
        """A package whose every item holds the word: a folder (cabinet), a
        ZIP, a PAC archive, a stored file and a file from the web, an
        install script; its configuration in UTF-8. Returns the package,
        its product name and the tree the items make in the target."""
        w = word
        payload = os.path.join(case, "payload " + w)
        expected = {"fakesetup.exe": self.setup_program,
                    "%s/%s cab.txt" % (w, w): "cabinet %s\n" % w,
                    "plain.txt": "plain\n"}
        for rel, data in expected.items():
            write(os.path.join(payload, rel), data)
        zip_path = os.path.join(case, "data %s.zip" % w)
        with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("zipped/%s zip.txt" % w, "zip %s\n" % w)  # UTF-8 flag: not ASCII
        expected["%s zip.txt" % w] = "zip %s\n" % w             # a ZIP unpacks flat
        pac_src = os.path.join(case, "pac " + w)
        write(os.path.join(pac_src, w, "%s pac.txt" % w), "pac %s\n" % w)
        expected["%s/%s pac.txt" % (w, w)] = "pac %s\n" % w
        pac = os.path.join(case, "data %s.pac" % w)
        packer("pac", "--folder", pac_src, "--out", pac)
        stored = os.path.join(case, "stored.bin")
        write(stored, "stored %s\n" % w)
        expected["%s stored.bin" % w] = "stored %s\n" % w
        web = os.path.join(case, "web.bin")
        write(web, "web %s\n" % w)
        expected["%s/%s web.bin" % (w, w)] = "web %s\n" % w
        web_folder = os.path.join(self.servers.www, os.path.basename(case))
        script = os.path.join(case, "script.ini")
        write(script, "[Scripttrv]\r\nCREATEDIR=%s\r\n" % W(os.path.join(case, "script " + w)))

        product = "MyApp %s \u00c9dition \u201cPro\u201d" % w
        args = '--record "%s" --touch "%s" --wait-file "%s" --exit 0' % (
            W(record), W(started), W(release))
        sections = runkit.base_config(
            runkit.new_guid(), cmdline=args, product=product, CopyToTemp=0,
            TargetFolder=W(target), DeleteFiles=0, DialogInRun=1, RunScript=1,
            ScriptFile="script.ini", Languages=runkit.LANGUAGE_IDS,
            WebDownloadUrl=self.servers.url("http", "/%s/" % os.path.basename(case)))
        cfg = os.path.join(case, "setup.ini")
        runkit.write_config(cfg, sections, encoding="utf-8")
        out = os.path.join(case, "out", "setup %s.exe" % w)
        os.makedirs(os.path.dirname(out))
        args = ["build", "--out", out, "--config", cfg, "--folder", payload,
                "--archive", zip_path, "--archive", pac,
                "--stored", "%s=%s stored.bin" % (stored, w),
                "--web-stored", "%s=%s/%s web.bin" % (web, w, w), "--web-folder", web_folder,
                "--neutral", script]
        for lng in runkit.LANGUAGE_FILES:
            args += ["--language", harness.exe(lng)]
        r = packer(*args)
        self.assertNotIn(b"warning", r.stderr)
        return out, product, {k: v.encode("utf-8") if isinstance(v, str) else v
                              for k, v in expected.items()}

    def test_every_name_in_every_place(self):
        shot = None
        for label, word in WORDS:
            with self.subTest(label):
                case = os.path.join(self.work, word)
                os.makedirs(case)
                temp = os.path.join(case, "temp " + word)
                os.makedirs(temp)
                target = os.path.join(case, "target " + word)
                started = os.path.join(case, "started.flag")
                release = os.path.join(case, "release.flag")
                record = os.path.join(case, "record.txt")
                pkg, product, expected = self.package(case, word, target, started, release,
                                                      record)

                # The whole run, its window up while the setup program waits.
                run = runkit.LauncherRun(pkg, "", temp=temp).start()
                self.assertTrue(harness.wait_for(lambda: os.path.exists(started), 180),
                                "\n".join(run.messages()[-30:]))
                rc, _ = runkit.uiauto("wait", "--title", product, "--timeout", "30000")
                self.assertEqual(rc, 0, "no window titled %s" % product)
                if shot is None and word == "\u0141ask":
                    shots = os.path.join(harness.ROOT, "build", "screenshots")
                    os.makedirs(shots, exist_ok=True)
                    shot = runkit.screenshot(os.path.join(shots, "unicode-title.png"),
                                             runkit.window_rect(product))
                open(release, "w").close()
                self.assertEqual(run.wait(180), 0, "\n".join(run.messages()[-40:]))
                self.assertEqual(tree(target), expected)
                self.assertTrue(os.path.isdir(os.path.join(case, "script " + word)))
                # The language library came from the TEMP that holds the word.
                loads = [m for m in run.messages() if m.startswith("WinMain()->LoadLibrary(")]
                self.assertTrue(loads and ")->0 (" not in loads[0], loads)
                self.assertEqual(os.listdir(temp), [])

                # Extract only, into a folder named with the word.
                folder = os.path.join(case, "X " + word)
                run = runkit.LauncherRun(pkg, '/S /X:"%s"' % W(folder), temp=temp)
                self.assertEqual(run.run(180), 0, "\n".join(run.messages()[-40:]))
                self.assertEqual(tree(folder), expected)
        if shot:
            print("screenshot: %s" % shot)

    def test_a_failed_extraction_leaves_no_folder_it_made(self):
        """/X: into folders that do not exist yet; the package's cabinet is
        damaged, so the run fails after staging it: neither the folder nor
        its new parent stays."""
        case = os.path.join(self.work, "failed")
        src = os.path.join(case, "src")
        write(os.path.join(src, "data.txt"), "".join("line %d\n" % i for i in range(20000)))
        cab = os.path.join(case, "damaged.cab")
        subprocess.run(["gcab", "-c", "-z", cab, "data.txt"], cwd=src, check=True, timeout=120)
        with open(cab, "r+b") as f:
            f.seek(-100, os.SEEK_END)
            f.write(b"damage")
        cfg = os.path.join(case, "setup.ini")
        runkit.write_config(cfg, runkit.base_config(runkit.new_guid()), encoding="utf-8")
        out = os.path.join(case, "out", "setup.exe")
        os.makedirs(os.path.dirname(out))
        packer("build", "--out", out, "--config", cfg, "--archive", cab,
               "--allow-missing", "ExeFileName")
        parent = os.path.join(case, "\u30c7\u30fc\u30bf")
        run = runkit.LauncherRun(out, '/S /SUPPRESSMSGBOXES /X:"%s"' % W(os.path.join(parent, "app")))
        self.assertEqual(run.run(180), 13, "\n".join(run.messages()[-40:]))
        self.assertFalse(os.path.exists(parent), os.listdir(case))

    def test_a_look_alike_folder_is_never_used(self):
        """TEMP holds Ł; a cabinet planted where a best fit would look (L)
        holds a setup program and a marker. The run takes its own files."""
        case = os.path.join(self.work, "plant")
        temp = os.path.join(case, "\u0141ask")
        os.makedirs(temp)
        record = os.path.join(case, "record.txt")
        guid = runkit.new_guid()
        payload = runkit.sample_payload(os.path.join(case, "payload"))
        sections = runkit.base_config(guid, cmdline='--record "%s" --exit 0' % W(record),
                                      Languages=runkit.LANGUAGE_IDS)
        pkg = runkit.packed_package(os.path.join(case, "out"), "setup", sections,
                                    payload=payload)
        planted_src = os.path.join(case, "planted")
        write(os.path.join(planted_src, "fakesetup.exe"), self.setup_program)
        write(os.path.join(planted_src, "planted.txt"), "planted")
        plant = os.path.join(case, "Lask", runkit.TRV_GUID, guid, "TRV0001.001")
        os.makedirs(os.path.dirname(plant))
        subprocess.run(["gcab", "-c", plant, "fakesetup.exe", "planted.txt"], cwd=planted_src,
                       check=True, timeout=120)
        before = tree(os.path.join(case, "Lask"))

        log = os.path.join(case, "run.log")
        run = runkit.LauncherRun(pkg, '/S /SUPPRESSMSGBOXES /LOG:"%s"' % W(log), temp=temp)
        self.assertEqual(run.run(180), 0, "\n".join(run.messages()[-40:]))
        files = runkit.read_record(record).get("file", [])
        self.assertIn("readme.txt", files)
        self.assertNotIn("planted.txt", files)
        self.assertEqual(tree(os.path.join(case, "Lask")), before)
        # The log is UTF-8: it names the cabinet the run unpacked, below Ł.
        with open(log, encoding="utf-8-sig") as f:
            text = f.read()
        self.assertIn("UnPackCABFile()->cabinet file: %s" % W(os.path.join(
            temp, runkit.TRV_GUID, guid, "TRV0001.001")), text)


if __name__ == "__main__":
    harness.main()
