"""System libraries planted beside a package, run as a user would run it
from a download folder: the launcher takes every system library it uses
from the system folder, so no planted copy is loaded, even when Wine is told
to prefer a library file it finds over its own.

Left out are the libraries that Wine's own code looks for along the
process's plain search path whatever the program did: sechost, version and
imm32, which its kernel32, user32 and advapi32 load before the program's
first line, and msimg32, which its common controls load when a dialog
appears. (On Windows these are known libraries or come from the system
folder.)"""
import os
import shutil
import tempfile
import unittest

import harness
import runkit

PLANTED = [
    "uxtheme", "shcore", "compstui", "comctl32", "shell32", "shlwapi", "ole32", "oleaut32",
    "comdlg32", "riched20", "msftedit", "usp10", "propsys", "profapi", "userenv",
    "dwmapi", "cabinet", "wininet", "ws2_32", "wsock32", "iertutil", "urlmon",
    "rpcrt4", "combase", "bcrypt", "winmm", "secur32", "crypt32", "netapi32", "msctf",
    "oleacc", "setupapi", "cfgmgr32", "apphelp", "wldap32", "normaliz", "mpr", "wintrust",
    "shfolder", "windowscodecs", "gdiplus",
]


class PlantedLibrariesTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="stowaway-planted-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def test_no_planted_system_library_is_loaded(self):
        record = os.path.join(self.work, "record.txt")
        folder = os.path.join(self.work, "download")
        args = '--record "%s" --exit 5' % harness.win_path(record)
        payload = runkit.sample_payload(os.path.join(self.work, "payload"))
        sections = runkit.base_config(runkit.new_guid(), cmdline=args)
        pkg = runkit.packed_package(folder, "Sample", sections, payload=payload)
        for name in PLANTED:
            shutil.copy(harness.exe("loadmarker.dll"), os.path.join(folder, name + ".dll"))
        os.environ["STOWAWAY_DLLOVERRIDES"] = ",".join(PLANTED) + "=n,b"
        try:
            run = runkit.LauncherRun(pkg, "/NOLICENSE")
            code = run.run()
        finally:
            del os.environ["STOWAWAY_DLLOVERRIDES"]
        loaded = sorted(f for f in os.listdir(folder) if f.endswith(".loaded"))
        self.assertEqual(loaded, [])
        self.assertEqual(code, 5, run.messages()[-20:])
        self.assertTrue(os.path.exists(record))


if __name__ == "__main__":
    harness.main()
