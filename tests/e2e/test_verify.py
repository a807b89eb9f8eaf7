"""packer verify, as an administrator runs it on a download: a package of
every kind of item verifies, with its records, resources and signature
listed; every kind of damage to the bytes, the table or the files beside it
ends with 1 and says what; a package of an older packer (no hash resource)
has its table checked."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

import harness
import pkgfile
import runkit

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "servers"))
import tsa  # noqa: E402

W = harness.win_path
GUID = "{3E9A1C5B-7D2F-4A6E-8B0C-2D4F6A8C0E1B}"


class VerifyTest(unittest.TestCase):
    def setUp(self):
        for tool in ("packer.exe", "launcher.exe", "fakesetup.exe", "putres.exe"):
            if not os.path.exists(harness.exe(tool)):
                self.skipTest(tool + " is not built")
        self.work = tempfile.mkdtemp(prefix="stowaway-verify-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def packer(self, *args):
        return harness.run("packer.exe", list(args), timeout=300)

    def verify(self, package):
        r = self.packer("verify", W(package))
        out = r.stdout.decode("utf-8", "replace") + r.stderr.decode("utf-8", "replace")
        return r.returncode, out.replace("\r\n", "\n")

    def package(self, name="setup"):
        """A package of every kind of item: a folder, a stored file, an
        archive beside it, a web archive with its source, one without."""
        src = self.path(name + "-in")
        payload = os.path.join(src, "payload")
        os.makedirs(payload)
        shutil.copy(harness.exe("fakesetup.exe"), os.path.join(payload, "setup.exe"))
        with open(os.path.join(src, "notes.txt"), "w") as f:
            f.write("notes\n")
        for zname in ("extra.zip", "web.zip"):
            with zipfile.ZipFile(os.path.join(src, zname), "w") as z:
                z.writestr(zname + ".txt", zname * 100)
        cfg = os.path.join(src, "setup.ini")
        runkit.write_config(cfg, runkit.base_config(GUID, exe="setup.exe"))
        out = os.path.join(self.work, "pkg", name + ".exe")
        os.makedirs(os.path.dirname(out), exist_ok=True)
        project = os.path.join(src, "project.ini")
        with open(project, "w") as f:
            f.write("[Package]\nOutput=%s\nConfig=setup.ini\n"
                    "[Item1]\nType=folder\nSource=payload\n"
                    "[Item2]\nType=stored\nSource=notes.txt\nName=docs\\notes.txt\n"
                    "[Item3]\nType=external\nSource=extra.zip\nName=%s.002\n"
                    "[Item4]\nType=web\nSource=web.zip\nName=packs/web.zip\n"
                    "[Item5]\nType=web\nName=packs/other.zip\nSize=1234\n"
                    "[Resources]\nLanguage1=French.lng\n" % (W(out), name))
        r = self.packer("build", "--project", W(project))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return out

    def test_a_whole_package_verifies_and_is_listed(self):
        package = self.package()
        code, out = self.verify(package)
        self.assertEqual(code, 0, out)
        for words in ("CFG 136: ", "BINARY 130: ", ": French.001", "HASHES 137: ",
                      "file table: 5 record(s)",
                      "#0 TRV0001.001  embedded archive", "#1 docs\\notes.txt  embedded file",
                      "#2 TRV0002.001  external archive", "-> setup.002",
                      "#3 TRV0003.001  web archive", "(on the web)", "(not here to check)",
                      "#4 TRV0004.001  web archive  1234 bytes",
                      "hashes: 9 item(s)", "signature: none", "verify: OK"):
            self.assertIn(words, out)
        self.assertEqual(out.count(" ok\n"), 3, out)

    def test_damage_is_found(self):
        package = self.package()
        with open(package, "rb") as f:
            good = f.read()
        table = pkgfile.read_table(good)
        first = table.records[0]
        beside = self.path("pkg", "setup.002")

        def flip_data(data):
            data = bytearray(data)
            data[first.offset + first.size // 2] ^= 0x55
            return bytes(data)

        def shift_table(data):
            image, pieces = pkgfile.split_package(data)
            return image + b"\0" * 4 + pkgfile.join_package(image, pieces)[len(image):]

        def older_package(data):
            """The same package with no hash resource, as an older packer
            made it: its type renamed where the resource tree names it."""
            return pkgfile.without_hashes(data)

        def total_plus_one(data):
            t = pkgfile.read_table(data)
            return data[:t.start] + pkgfile.table_bytes(t.records, totsize=t.totsize + 1)

        def rename_record(data):
            t = pkgfile.read_table(data)
            t.records[1].fileout = t.records[1].fileout.replace(b"notes", b"notez")
            return data[:t.start] + pkgfile.table_bytes(t.records, totsize=t.totsize)

        # what, the package's new bytes, the file beside it, exit code, words
        cases = [
            ("a flipped byte in the embedded cabinet", flip_data, b"x", 1,
             "SHA-256 mismatch: the bytes are not the ones packed"),
            ("another archive of its size beside the package", None, b"flipped", 1,
             "SHA-256 mismatch"),
            ("a shorter archive beside the package", None, b"short", 1,
             "bytes, not the"),
            ("no archive beside the package", None, None, 1, "not beside the package"),
            ("a gap before the file table", shift_table, b"x", 1,
             "the data blocks end at"),
            ("a TotFilesSize that is not the sum", total_plus_one, b"x", 1,
             "not TotFilesSize"),
            ("bytes after the magic", lambda d: d + b"tail", b"x", 1,
             "bytes between the magic and the end"),
            ("a record renamed in the table", rename_record, b"x", 1,
             "the record's name, type or size is not the one packed"),
            ("a package of an older packer", older_package, b"x", 0,
             "hashes: none (a package of an older packer)"),
        ]
        with open(beside, "rb") as f:
            good_beside = f.read()
        for what, change, beside_bytes, code, words in cases:
            with self.subTest(what):
                with open(package, "wb") as f:
                    f.write(change(good) if change else good)
                if os.path.exists(beside):
                    os.remove(beside)
                if beside_bytes is not None:
                    with open(beside, "wb") as f:
                        f.write({b"x": good_beside, b"short": good_beside[:-1],
                                 b"flipped": good_beside[:-1] + bytes([good_beside[-1] ^ 1])}
                                [beside_bytes])
                got, out = self.verify(package)
                self.assertEqual(got, code, out)
                self.assertIn(words, out)
                self.assertIn("verify: OK" if code == 0 else "verify: FAILED", out)

    def test_a_data_resource_is_checked(self):
        src = self.path("data")
        os.makedirs(src)
        with open(os.path.join(src, "a.txt"), "w") as f:
            f.write("in the DATA resource\n")
        cab = self.path("data.cab")
        self.assertEqual(self.packer("cab", "--folder", W(src), "--out", W(cab)).returncode, 0)
        package = self.path("data.exe")
        r = self.packer("build", "--out", W(package), "--data", W(cab))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        code, out = self.verify(package)
        self.assertEqual(code, 0, out)
        self.assertRegex(out, r"DATA resource: %d bytes  sha256 [0-9a-f]{64} ok" %
                         os.path.getsize(cab))
        # Another archive put in its place.
        other = self.path("other.cab")
        os.remove(os.path.join(src, "a.txt"))
        with open(os.path.join(src, "b.txt"), "w") as f:
            f.write("not the one packed\n")
        self.assertEqual(self.packer("cab", "--folder", W(src), "--out", W(other)).returncode, 0)
        r = harness.run("putres.exe", [W(package), "DATA", "131", W(other)])
        self.assertEqual(r.returncode, 0, r.stderr)
        code, out = self.verify(package)
        self.assertEqual(code, 1, out)
        self.assertIn("the DATA resource is not the one packed", out)

    def test_a_signature_with_its_time_stamp_is_listed(self):
        package = self.package()
        key, cert = self.path("publisher.key"), self.path("publisher.crt")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                        "-subj", "/CN=Example Corp", "-addext", "extendedKeyUsage=codeSigning",
                        "-keyout", key, "-out", cert], check=True, capture_output=True)
        signed = self.path("pkg", "setup-signed.exe")
        with tsa.TimeStampAuthority(self.work) as authority:
            subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Setup",
                            "-ts", authority.url, "-in", package, "-out", signed],
                           check=True, capture_output=True, timeout=120)
            self.assertEqual(authority.replies, 1)
        # Renamed with the package, the archive beside it is found as the
        # launcher finds it: under the package's name.
        os.remove(package)
        os.rename(self.path("pkg", "setup.002"), self.path("pkg", "setup-signed.002"))
        code, out = self.verify(signed)
        self.assertEqual(code, 0, out)
        self.assertIn("signed by: Example Corp", out)
        self.assertRegex(out, r"time stamp: RFC 3161, 20\d\d-\d\d-\d\d \d\d:\d\d:\d\d UTC")
        self.assertRegex(out, r"signature: certificate table at \d+, \d+ bytes")


if __name__ == "__main__":
    harness.main()
