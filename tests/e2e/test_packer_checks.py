"""What the packer refuses to build and how it ends: a package that would
miss a file its configuration names is not written (each missing file named
with its key) unless --allow-missing says so; every bad command line ends
with 2, every failure with 1; a license per language reaches the run that
speaks that language."""
import os
import shutil
import tempfile
import unittest

import harness
import runkit

W = harness.win_path
GUID = "{5B0E7C1A-2D3F-4E8B-9A6C-1F2E3D4C5B6A}"


class PackerChecksTest(unittest.TestCase):
    def setUp(self):
        for tool in ("packer.exe", "launcher.exe", "fakesetup.exe", "French.lng", "Corvel.dll"):
            if not os.path.exists(harness.exe(tool)):
                self.skipTest(tool + " is not built")
        self.work = tempfile.mkdtemp(prefix="stowaway-checks-")
        self.payload = os.path.join(self.work, "payload")
        os.makedirs(os.path.join(self.payload, "sub"))
        shutil.copy(harness.exe("fakesetup.exe"), os.path.join(self.payload, "setup.exe"))
        shutil.copy(harness.exe("fakesetup.exe"), os.path.join(self.payload, "sub", "tool.exe"))
        self.write("payload/script.ini", "[Scripttrv]\r\n")
        for name in ("License.txt", "script.ini", "Licence.rtf", "License.rtf"):
            self.write(name, "%s\r\n" % name)
        self.write("Corvel.thm", "[Dialog]\r\nFrameShape=Dialog.inf\r\n")
        self.write("Dialog.inf", "[FrameWork]\r\nTopLeft=0,0,320,68\r\n")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def write(self, rel, text):
        path = self.path(rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="cp1252", newline="") as f:
            f.write(text)
        return path

    def config(self, name, languages=None, **runtime):
        path = self.path(name + ".ini")
        rt = dict(ExeFileName="setup.exe")
        rt.update(runtime)
        runkit.write_config(path, runkit.base_config(GUID, Languages=languages, **rt))
        return path

    def packer(self, *args):
        return harness.run("packer.exe", list(args), timeout=300)

    def build(self, config, *extra):
        out = self.path("setup.exe")
        if os.path.exists(out):
            os.remove(out)
        r = self.packer("build", "--out", W(out), "--config", W(config), "--folder",
                        W(self.payload), *extra)
        return r, out

    def test_a_file_the_configuration_names_must_be_packed(self):
        fr = [(1036, "French.lng")]
        missing = dict(LicenseFile="License.txt", RunScript=1, ScriptFile="script.ini")
        lng = ["--language", W(harness.exe("French.lng"))]
        neutral = ["--neutral", W(self.path("License.txt")), "--neutral", W(self.path("script.ini"))]
        allow = ["--allow-missing", "LicenseFile", "--allow-missing", "scriptfile",
                 "--allow-missing", "Languages"]
        skin = ["--skin", W(self.path("Corvel.thm"))]
        # what, configuration, more arguments, exit code, lines the packer prints
        cases = [
            ("license, script and language not packed", dict(languages=fr, **missing), [], 1,
             [b"[Dialogs] LicenseFile=License.txt: not packed",
              b"[Runtime] ScriptFile=script.ini: script.ini is not packed",
              b"[Languages] 1036=French.lng: French.lng is not packed",
              b"3 file(s) named above would be missing"]),
            ("all of them packed", dict(languages=fr, **missing), lng + neutral, 0, []),
            ("all of them allowed to be missing", dict(languages=fr, **missing), allow, 0,
             [b"warning: [Dialogs] LicenseFile=License.txt", b"warning: [Languages] 1036"]),
            ("a setup program that is not in the payload", dict(ExeFileName="bin\\setup.exe"), [],
             1, [b"[Runtime] ExeFileName=bin\\setup.exe: not in the payload"]),
            ("a setup program in a folder of the payload", dict(ExeFileName="sub/tool.exe"), [], 0,
             []),
            ("a folder the payload loses with RestoreFolders=0",
             dict(ExeFileName="sub\\tool.exe", RestoreFolders=0), [], 1,
             [b"not in the payload (RestoreFolders=0 unpacks flat)"]),
            ("a setup program found flat with RestoreFolders=0",
             dict(ExeFileName="tool.exe", RestoreFolders=0), [], 0, []),
            ("a setup program of the machine", dict(ExeFileName="<WINDIR>\\notepad.exe"), [], 0,
             []),
            ("a setup program not launched", dict(ExeFileName="none.exe", LaunchExe=0), [], 0, []),
            ("a script in a payload unpacked into the scratch folder",
             dict(RunScript=1, ScriptFile="script.ini", CopyToTemp=0, TargetFolder="<TEMPTRV>"),
             [], 0, []),
            ("a script named by no ScriptFile", dict(RunScript=1), [], 1,
             [b"RunScript=1 names no ScriptFile"]),
            ("licenses per language only, the default language not listed",
             dict(languages=fr, LicenseFile="License.rtf"),
             lng + ["--license", "1036=" + W(self.path("Licence.rtf"))], 1,
             [b"not packed for a user whose language is not listed (LanguageDefault=2057"]),
            ("a license for every other language besides",
             dict(languages=fr, LicenseFile="License.rtf"),
             lng + ["--license", "1036=" + W(self.path("Licence.rtf")),
                    "--license", W(self.path("License.rtf"))], 0, []),
            ("a skin without the frame file its theme names", {}, skin, 1,
             [b"Corvel.thm [Dialog] FrameShape=Dialog.inf: Dialog.inf is not among the skin files",
              b"Corvel.dll (" + harness.ARCH.encode() + b") embedded for the skin"]),
            ("a skin with it", {}, skin + ["--skin", W(self.path("Dialog.inf"))], 0, []),
        ]
        for what, cfg, extra, code, lines in cases:
            with self.subTest(what):
                r, out = self.build(self.config("case", **cfg), *extra)
                text = r.stdout + r.stderr
                self.assertEqual(r.returncode, code, text)
                for line in lines:
                    self.assertIn(line, text)
                self.assertEqual(os.path.exists(out), code == 0)

    def test_a_pac_payload_without_its_unpacker_is_refused(self):
        # A launcher with no QELTRON.dll beside it.
        alone = self.path("alone")
        os.makedirs(alone)
        shutil.copy(harness.exe("launcher.exe"), os.path.join(alone, "launcher.exe"))
        pac = self.path("data.pac")
        r = self.packer("pac", "--folder", W(self.payload), "--out", W(pac))
        self.assertEqual(r.returncode, 0, r.stderr)
        out = self.path("pac.exe")
        base = ["build", "--out", W(out), "--launcher", W(os.path.join(alone, "launcher.exe")),
                "--archive", W(pac)]
        r = self.packer(*base)
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn(b"needs QELTRON.dll", r.stderr)
        self.assertFalse(os.path.exists(out))
        r = self.packer(*base, "--allow-missing", "QELTRON.dll")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_a_bad_command_line_ends_with_2_and_a_failure_with_1(self):
        out = W(self.path("x.exe"))
        cfg = W(self.config("plain"))
        build = ["build", "--out", out, "--config", cfg, "--folder", W(self.payload)]
        # command line, exit code, words of the message
        cases = [
            (build + ["--tag", "ABCD"], 2, b"--tag takes three letters or digits"),
            (build + ["--tag", "T-V"], 2, b"--tag takes three letters or digits"),
            (["cab", "--folder", W(self.payload), "--out", out, "--max-size", "49999"], 2,
             b"--max-size takes a byte count"),
            (build + ["--arch", "arm64"], 2, b"--arch takes x86 or x64"),
            (build + ["--stored", W(self.path("License.txt")) + "=..\\x.txt"], 2, b"without '..'"),
            (build + ["--allow-missing", "Frobs"], 2, b"--allow-missing takes one of"),
            (build + ["--license", "99999=" + W(self.path("Licence.rtf"))], 2,
             b"--license takes ID=FILE"),
            (build + ["--out"], 2, b"--out needs a value"),
            (build + ["--frobnicate"], 2, b"unknown option --frobnicate"),
            (["verify"], 2, b"verify takes one package"),
            (["verify", out, out], 2, b"verify takes one package"),
            (["init"], 2, b"init takes one folder"),
            (["pac", "--folder", W(self.payload)], 2, b"--folder and --out are required"),
            (build + ["--folder", W(self.path("none"))], 1, b"no such folder"),
            (build + ["--license", "1036=" + W(self.path("Licence.rtf"))], 1,
             b"names no [Dialogs] LicenseFile"),
            (["verify", W(self.path("none.exe"))], 1, b"cannot read"),
            (build + ["--tag", "AB1"], 0, b"AB10001.001"),
        ]
        for args, code, words in cases:
            with self.subTest(args=args[-3:]):
                r = self.packer(*args)
                self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                self.assertIn(words, r.stdout + r.stderr)

    def test_each_language_gets_its_own_license(self):
        # The script shows which license the run unpacked: it copies it out.
        seen = self.path("seen")
        self.write("script.ini", "[Scripttrv]\r\nCOPYFILE=<TEMPTRV>\\License.rtf,%s\r\n" % W(seen))
        cfg = self.config("licensed", languages=[(2057, "EnglishUS.lng"), (1036, "French.lng")],
                          LicenseFile="License.rtf", LaunchExe=0, RunScript=1,
                          ScriptFile="script.ini")
        self.write("fr.rtf", "{\\rtf1 Licence}")
        self.write("en.rtf", "{\\rtf1 License}")
        r, out = self.build(cfg, "--language", "EnglishUS.lng", "--language", "French.lng",
                            "--license", "1036=" + W(self.path("fr.rtf")),
                            "--license", W(self.path("en.rtf")),
                            "--neutral", W(self.path("script.ini")))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        # language asked for, license the run gets
        cases = [("1036", "{\\rtf1 Licence}"), ("2057", "{\\rtf1 License}"),
                 ("1031", "{\\rtf1 License}")]
        for lang, text in cases:
            with self.subTest(lang=lang):
                shutil.rmtree(seen, ignore_errors=True)
                with harness.TraceMonitor(self.work) as monitor:
                    run = harness.run(out, ["/S", "/LANG:" + lang], cwd=self.work, timeout=180)
                trace = monitor.messages()
                self.assertEqual(run.returncode, 0, trace[-30:])
                self.assertTrue(any(m.startswith("ExtractBinaryRes()->License=1") for m in trace),
                                trace[-30:])
                with open(os.path.join(seen, "License.rtf"), encoding="cp1252") as f:
                    self.assertEqual(f.read(), text)


if __name__ == "__main__":
    harness.main()
