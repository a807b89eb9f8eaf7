"""End to end: a package whose install script creates folders, copies files
out of the extracted payload, writes registry values, makes a shortcut, runs
a program and exits with that program's code."""
import os
import shutil
import subprocess
import tempfile
import unittest

import harness

REG_KEY = r"HKCU\Software\StowawayTestE2E"
PROGRAM_KEY = r"HKCU\Software\StowawayTestRegexe"

SCRIPT = r"""[General]
Note=only the script section below is read
[Scripttrv]
; folders, files from the extracted payload
CREATEDIR={w}\app\data
COPYFILE=<TEMPTRV>\files\*.txt,{w}\app\data
COPYDIR=<TEMPTRV>\files\,{w}\app,<INCLUDE_SUBDIR>
IF=<FILE_EXIST>,{w}\app\data\readme.txt,<TRUE>,Copied,Missing
CREATEKEY=<HKEY_CURRENT_USER>,Software\StowawayTestE2E,Version,<REG_SZ>,1.2.3,,,Copied
CREATEKEY=<HKEY_CURRENT_USER>,Software\StowawayTestE2E,Count,<REG_DWORD>,42,,,Copied
CREATEKEY=<HKEY_CURRENT_USER>,Software\StowawayTestE2E,Missing,<REG_SZ>,yes,,,Missing
IF=<INIT>
CREATEICON={w}\links,Readme,{w}\app\data\readme.txt,,The readme,,{w}\app,,
EXECUTEFILE=<TEMPTRV>\regexe.exe,/exit:37,,open,<SW_HIDE>
IF=<SETUPVAR_READ>,<FUNCTIONRETCODE>,=,37,Ran37,Other
EXIT=1,,,Ran37
CREATEDIR={w}\never
"""

CONFIG = r"""[General]
Guid={{5C1E7F4A-3B2D-4E8F-9A61-7D0C2B9E4F13}}
ProductName=Script E2E
[Runtime]
CopyToTemp=0
TargetFolder=<TEMPTRV>
RunScript=1
ScriptFile=script.ini
LaunchExe=0
DeleteFiles=1
"""


def reg_query(name, key=REG_KEY):
    """(type, data) of the value as reg.exe prints them, or None."""
    out = subprocess.run([harness.WINE_RUN, "reg", "query", key, "/v", name],
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, timeout=60)
    for line in out.stdout.decode("latin-1").splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] == name:
            return (parts[1], parts[2].strip() if len(parts) == 3 else "")
    return None


def reg_delete():
    for key in (REG_KEY, PROGRAM_KEY):
        subprocess.run([harness.WINE_RUN, "reg", "delete", key, "/f"],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


class ScriptPackageTest(unittest.TestCase):
    def setUp(self):
        for tool in ("packer.exe", "launcher.exe", "regexe.exe"):
            if not os.path.exists(harness.exe(tool)):
                self.skipTest(tool + " is not built")
        self.work = tempfile.mkdtemp(prefix="stowaway-script-e2e-")
        reg_delete()

    def tearDown(self):
        reg_delete()
        shutil.rmtree(self.work, ignore_errors=True)

    def build_package(self):
        w = harness.win_path(self.work)
        payload = os.path.join(self.work, "payload")
        os.makedirs(os.path.join(payload, "files", "more"))
        with open(os.path.join(payload, "files", "readme.txt"), "w") as f:
            f.write("read me\n")
        with open(os.path.join(payload, "files", "notes.txt"), "w") as f:
            f.write("notes\n")
        with open(os.path.join(payload, "files", "more", "deep.txt"), "w") as f:
            f.write("deep\n")
        shutil.copy(harness.exe("regexe.exe"), payload)
        with open(os.path.join(payload, "script.ini"), "w", newline="\r\n") as f:
            f.write(SCRIPT.replace("{w}", w))
        config = os.path.join(self.work, "package.cfg")
        with open(config, "w", newline="\r\n") as f:
            f.write(CONFIG.format())
        package = os.path.join(self.work, "package.exe")
        result = harness.run("packer.exe", ["build",
                                            "--launcher", harness.win_path(harness.exe("launcher.exe")),
                                            "--out", harness.win_path(package),
                                            "--config", harness.win_path(config),
                                            "--folder", harness.win_path(payload)],
                             timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return package

    def test_script_runs_after_extraction(self):
        package = self.build_package()
        with harness.TraceMonitor(self.work) as monitor:
            result = harness.run(package, ["/S"], timeout=180)
        messages = monitor.messages()
        trace = "\n".join(messages)

        # The exit code is the one EXIT took from the program the script ran.
        self.assertEqual(result.returncode, 37, trace[-4000:])
        self.assertIn("ScriptExit(37)->TRUE", messages)
        self.assertIn("ScriptIF()->Condition=Ran37", messages)
        self.assertIn("ProcessScript()->process canceled", messages)

        data = os.path.join(self.work, "app", "data")
        with open(os.path.join(data, "readme.txt")) as f:
            self.assertEqual(f.read(), "read me\n")
        self.assertTrue(os.path.exists(os.path.join(data, "notes.txt")))
        self.assertFalse(os.path.exists(os.path.join(data, "deep.txt")))
        # COPYDIR put the folder, by name, below app.
        self.assertTrue(os.path.exists(os.path.join(self.work, "app", "files", "more", "deep.txt")))
        self.assertFalse(os.path.exists(os.path.join(self.work, "never")))

        self.assertEqual(reg_query("Version"), ("REG_SZ", "1.2.3"))
        self.assertEqual(reg_query("Count"), ("REG_DWORD", "0x2a"))
        self.assertIsNone(reg_query("Missing"))
        # The program ran with the script's parameters.
        program = reg_query("CommandLine", PROGRAM_KEY)
        self.assertIsNotNone(program)
        self.assertIn("/exit:37", program[1])

        link = os.path.join(self.work, "links", "Readme.lnk")
        self.assertTrue(os.path.exists(link), trace[-4000:])
        with open(link, "rb") as f:
            raw = f.read()
        self.assertIn(b"readme.txt", raw.lower().replace(b"\0", b""))


if __name__ == "__main__":
    harness.main()
