"""The same inputs give the same package, byte for byte: built again later,
from a copy of the project in another folder whose files are newer (with
SOURCE_DATE_EPOCH, as a fresh checkout is built), and nothing of the
machine, the user, the folders or the clock inside."""
import getpass
import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest
import zipfile

import harness
import runkit

GUID = "{0C4D2B6E-8A1F-4B3C-9E5D-7F6A8B9C0D1E}"
EPOCH = "1700000000"

PROJECT = """\
[Package]
Output=out\\MyApp-setup.exe
Config=setup.ini
WebFolder=upload

[Item1]
Type=folder
Source=payload

[Item2]
Type=stored
Source=notes.txt
Name=docs\\notes.txt

[Item3]
Type=external
Source=extra.zip
Name=MyApp-setup.002

[Item4]
Type=web
Source=web.zip
Name=packs/web.zip

[Resources]
Language1=EnglishUS.lng
Language2=French.lng
Neutral1=License.rtf
Skin1=Corvel.thm

[Licenses]
1036=Licence.rtf
"""


def make_project(folder):
    """A project of every kind of item, its files written now."""
    payload = os.path.join(folder, "payload")
    os.makedirs(os.path.join(payload, "bin"))
    shutil.copy(harness.exe("fakesetup.exe"), os.path.join(payload, "setup.exe"))
    files = {
        "payload/bin/data.txt": "".join("line %d\r\n" % i for i in range(3000)),
        "payload/readme.txt": "MyApp\r\n",
        "notes.txt": "2.1: first release\r\n",
        "License.rtf": runkit.LICENSE_RTF,
        "Licence.rtf": "{\\rtf1 Licence}",
        "Corvel.thm": "[Dialog]\r\n",
        "project.ini": PROJECT,
    }
    for rel, text in files.items():
        with open(os.path.join(folder, rel), "w", encoding="cp1252", newline="") as f:
            f.write(text)
    # Archives made elsewhere, the same bytes in both copies.
    for name in ("extra.zip", "web.zip"):
        with zipfile.ZipFile(os.path.join(folder, name), "w") as z:
            z.writestr(zipfile.ZipInfo(name + ".txt", (2024, 1, 2, 3, 4, 6)), name)
    runkit.write_config(os.path.join(folder, "setup.ini"), runkit.base_config(
        GUID, exe="setup.exe", LicenseFile="License.rtf",
        Languages=[(2057, "EnglishUS.lng"), (1036, "French.lng")]))
    os.makedirs(os.path.join(folder, "out"))


class ReproducibleTest(unittest.TestCase):
    def setUp(self):
        for tool in ("packer.exe", "launcher.exe", "fakesetup.exe", "Corvel.dll"):
            if not os.path.exists(harness.exe(tool)):
                self.skipTest(tool + " is not built")
        self.work = tempfile.mkdtemp(prefix="stowaway-repro-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def build(self, folder, epoch=None):
        """Builds the project in folder; returns the package's and the
        external file's bytes."""
        env = dict(os.environ)
        env.pop("SOURCE_DATE_EPOCH", None)
        if epoch:
            env["SOURCE_DATE_EPOCH"] = epoch
        r = subprocess.run([harness.WINE_RUN, harness.exe("packer.exe"), "build", "--project",
                            harness.win_path(os.path.join(folder, "project.ini"))],
                           cwd=harness.scratch_cwd(), env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        out = []
        for rel in ("out/MyApp-setup.exe", "out/MyApp-setup.002", "upload/packs/web.zip"):
            with open(os.path.join(folder, rel), "rb") as f:
                out.append(f.read())
        return out

    def test_the_same_project_gives_the_same_package(self):
        first = os.path.join(self.work, "first")
        make_project(first)
        one = self.build(first)
        # Later: the clock has moved on past a cabinet's two-second steps.
        time.sleep(3)
        again = self.build(first)
        self.assertTrue(one == again, "a second build of the same files differs")

        # A fresh copy elsewhere, its files written anew: the same package
        # under SOURCE_DATE_EPOCH, as for any two checkouts.
        pinned = self.build(first, EPOCH)
        time.sleep(3)
        second = os.path.join(self.work, "elsewhere", "second")
        make_project(second)
        self.assertTrue(self.build(second, EPOCH) == pinned,
                        "the copy in another folder gives another package")
        self.assertFalse(pinned == one, "SOURCE_DATE_EPOCH changed no member's time")

        # Nothing of this machine, user or folder inside (that the launcher
        # does not hold by itself).
        package = pinned[0]
        with open(harness.exe("launcher.exe"), "rb") as f:
            launcher = f.read()
        words = {socket.gethostname(), getpass.getuser(), first, harness.win_path(first),
                 harness.win_path(second), "stowaway-repro"}
        for word in sorted(w for w in words if len(w) >= 4):
            for encoded in (word.encode("utf-8"), word.encode("utf-16-le")):
                self.assertFalse(encoded in package and encoded not in launcher, word)


if __name__ == "__main__":
    harness.main()
