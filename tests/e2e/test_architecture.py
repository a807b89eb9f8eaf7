"""The two launchers. A package runs on the launcher the packer put in it:
x86 (the default) or x64 (--arch, Arch=). Each sees the machine as a program
of its architecture does (Program Files, the system folder, the registry
view), both hand back the setup program's code, and the packer of either
architecture makes the same package on the same launcher."""
import os
import shutil
import subprocess
import tempfile
import unittest

import harness
import runkit

RUNNABLE = harness.arches()
KEY = r"HKLM\Software\StowawayArchTest"
NOT_HERE = "not run: 32-bit code cannot execute here"

SCRIPT = r"""[Scripttrv]
CREATEKEY=<HKEY_LOCAL_MACHINE>,Software\StowawayArchTest,Folder,<REG_SZ>,<PROGRAMFILES>
"""


def other_bin():
    """The bin folder of the other architecture's build, beside this one."""
    here = os.path.normpath(harness.BIN)
    build, tree = os.path.split(os.path.dirname(here))
    other = {"win32": "win64", "win64": "win32", "release": "release64",
             "release64": "release"}.get(tree)
    return os.path.join(build, other, "bin") if other else None


def key_in_view(view):
    """The value our script wrote, as the given registry view (32, 64) shows it."""
    r = subprocess.run([harness.WINE_RUN, "reg", "query", KEY, "/v", "Folder", "/reg:" + view],
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, timeout=60)
    for line in r.stdout.decode("latin-1").splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and parts[0] == "Folder":
            return parts[2].strip()
    return None


def delete_key():
    for view in ("32", "64"):
        subprocess.run([harness.WINE_RUN, "reg", "delete", KEY, "/f", "/reg:" + view],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


class ArchitectureTest(unittest.TestCase):
    def setUp(self):
        for tool in ("packer.exe", "launcher.exe", "fakesetup.exe"):
            if not os.path.exists(harness.exe(tool)):
                self.skipTest(tool + " is not built")
        for arch in ("x86", "x64"):
            if not os.path.exists(os.path.join(harness.BIN, arch, "launcher.exe")):
                self.skipTest("no %s launcher in the kit folder (make build puts it there)" % arch)
        self.work = tempfile.mkdtemp(prefix="stowaway-arch-")
        delete_key()

    def tearDown(self):
        delete_key()
        shutil.rmtree(self.work, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def packer(self, args, bin_dir=None):
        program = os.path.join(bin_dir or harness.BIN, "packer.exe")
        return harness.run(program, args, timeout=300)

    def project(self, name, exit_code=77):
        """Payload, configuration and install script of a small package whose
        setup program ends with exit_code."""
        payload = runkit.sample_payload(self.path(name, "payload"))
        with open(os.path.join(payload, "script.ini"), "w", newline="\r\n") as f:
            f.write(SCRIPT)
        cfg = self.path(name, "setup.cfg")
        sections = runkit.base_config("{9D3B6A2E-4C1F-4E7A-8B25-6F0A1C3D5E79}",
                                      cmdline="--exit %d" % exit_code, RunScript=1,
                                      ScriptFile="script.ini", CopyToTemp=0,
                                      TargetFolder="<TEMPTRV>")
        runkit.write_config(cfg, sections)
        return payload, cfg

    def build(self, name, arch, bin_dir=None, out_name="setup.exe"):
        if not os.path.exists(self.path(name, "setup.cfg")):
            self.project(name)
        payload, cfg = self.path(name, "payload"), self.path(name, "setup.cfg")
        out = self.path(name, out_name)
        r = self.packer(["build", "--arch", arch, "--out", harness.win_path(out), "--config",
                         harness.win_path(cfg), "--folder", harness.win_path(payload)], bin_dir)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn(b"%s launcher" % arch.encode(), r.stdout)
        return out

    def test_each_launcher_runs_with_its_own_view_of_the_machine(self):
        # arch, Program Files, system folder, the registry view our key lands in
        cases = [
            ("x86", r"C:\Program Files (x86)", r"C:\windows\syswow64", "32"),
            ("x64", r"C:\Program Files", r"C:\windows\system32", "64"),
        ]
        for arch, program_files, system, view in cases:
            with self.subTest(arch=arch):
                if arch not in RUNNABLE:
                    print("%s launcher: %s" % (arch, NOT_HERE))
                    continue
                package = self.build(arch, arch)
                with harness.TraceMonitor(self.path(arch)) as monitor:
                    r = harness.run(package, ["/S"], timeout=180)
                trace = monitor.messages()
                # The setup program's code comes back through either launcher.
                self.assertEqual(r.returncode, 77, trace[-30:])
                lower = [m.lower() for m in trace]
                self.assertIn(("InitPathVar()-><PROGRAMFILES>=" + program_files).lower(), lower)
                self.assertIn(("InitPathVar()-><WINSYS>=" + system).lower(), lower)
                other = "64" if view == "32" else "32"
                self.assertEqual((key_in_view(view) or "").lower(), program_files.lower())
                self.assertIsNone(key_in_view(other))
                delete_key()

    def test_either_packer_makes_the_same_package_on_the_same_launcher(self):
        other = other_bin()
        if not other or not os.path.exists(os.path.join(other, "packer.exe")):
            self.skipTest("the other architecture's build is not there")
        other_arch = "x64" if harness.ARCH == "x86" else "x86"
        if other_arch not in RUNNABLE:
            self.skipTest("the %s packer is %s" % (other_arch, NOT_HERE))
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                ours = self.build(arch, arch, out_name="ours.exe")
                theirs = self.build(arch, arch, bin_dir=other, out_name="theirs.exe")
                with open(ours, "rb") as a, open(theirs, "rb") as b:
                    self.assertTrue(a.read() == b.read(), "%s packages differ" % arch)

    def test_the_packer_refuses_a_launcher_or_unpacker_of_the_wrong_kind(self):
        payload, cfg = self.project("refused")
        base = ["build", "--out", harness.win_path(self.path("refused", "x.exe")), "--config",
                harness.win_path(cfg), "--folder", harness.win_path(payload)]
        kit = lambda arch, name: harness.win_path(os.path.join(harness.BIN, arch, name))
        cases = [
            # what, arguments, exit code, words of the message
            ("no such architecture", ["--arch", "arm64"], 2, b"--arch takes x86 or x64"),
            ("a launcher of the other kind", ["--arch", "x64", "--launcher",
                                              kit("x86", "launcher.exe")], 1,
             b"the launcher is for x86, not x64"),
            ("not a program", ["--launcher", harness.win_path(cfg)], 1,
             b"not a Windows program for x86 or x64"),
            ("an unpacker of the other kind", ["--arch", "x64", "--neutral",
                                               kit("x86", "QELTRON.dll")], 1,
             b"is for x86, the launcher for x64"),
            ("a skinning library of the other kind", ["--arch", "x86", "--skin",
                                                      kit("x64", "Corvel.dll")], 1,
             b"is for x64, the launcher for x86"),
        ]
        for what, args, code, words in cases:
            with self.subTest(what):
                r = self.packer(base + args)
                self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                self.assertIn(words, r.stderr)
                self.assertFalse(os.path.exists(self.path("refused", "x.exe")))

    def test_a_pac_payload_gets_the_unpacker_of_its_launcher(self):
        src = self.path("pac", "src")
        os.makedirs(src)
        with open(os.path.join(src, "a.txt"), "w") as f:
            f.write("in a PAC archive\n")
        pac = self.path("pac", "data.pac")
        r = self.packer(["pac", "--folder", harness.win_path(src), "--out", harness.win_path(pac)])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                out = self.path("pac", arch + ".exe")
                r = self.packer(["build", "--arch", arch, "--out", harness.win_path(out),
                                 "--archive", harness.win_path(pac)])
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                self.assertIn(b"QELTRON.dll (%s) embedded" % arch.encode(), r.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
