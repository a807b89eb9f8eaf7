"""Signed packages, run as a user would run them: a code signature of any
size after the payload leaves the payload found; a package whose payload was
cut off or damaged fails and never launches a program lying beside it.

The signatures are made at test time: osslsigncode with a long chain of
throw-away certificates made by openssl."""
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

import harness
import runkit

PRODUCT = "Stowaway Sample"
CHAIN_LENGTH = 24


def openssl(cwd, *args):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_signing_chain(folder, length):
    """One throw-away key; a root, length - 2 intermediates each issued by
    the one before, and a code-signing certificate at the end. Returns the
    key and the chain file (the signer first)."""
    key = os.path.join(folder, "sign.key")
    openssl(folder, "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
            "-out", key)
    with open(os.path.join(folder, "ca.ext"), "w") as f:
        f.write("basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign\n")
    with open(os.path.join(folder, "sign.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    openssl(folder, "req", "-x509", "-new", "-key", key, "-out", "cert0.pem", "-days", "2",
            "-subj", "/CN=Stowaway Throw-away Root")
    for i in range(1, length):
        last = i == length - 1
        name = "Stowaway Throw-away Signer" if last else "Stowaway Throw-away CA %d" % i
        openssl(folder, "req", "-new", "-key", key, "-out", "cert%d.csr" % i, "-subj", "/CN=" + name)
        openssl(folder, "x509", "-req", "-in", "cert%d.csr" % i, "-CA", "cert%d.pem" % (i - 1),
                "-CAkey", key, "-set_serial", str(1000 + i), "-days", "2",
                "-extfile", "sign.ext" if last else "ca.ext", "-out", "cert%d.pem" % i)
    chain = os.path.join(folder, "chain.pem")
    with open(chain, "w") as out:
        for i in reversed(range(length)):
            with open(os.path.join(folder, "cert%d.pem" % i)) as f:
                out.write(f.read())
    return key, chain


def sign(key, chain, source, target):
    r = subprocess.run(["osslsigncode", "sign", "-certs", chain, "-key", key, "-h", "sha256",
                        "-n", PRODUCT, "-in", source, "-out", target],
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if r.returncode != 0:
        raise RuntimeError("osslsigncode: " + r.stdout.decode("utf-8", "replace"))


def pe_layout(path):
    """(end of the image, certificate table offset, its size) of a PE file."""
    with open(path, "rb") as f:
        data = f.read()
    nt = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", data, nt + 6)
    optional = nt + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    cert_offset, cert_size = struct.unpack_from("<II", data, directories + 4 * 8)
    end = struct.unpack_from("<I", data, optional + 60)[0]  # SizeOfHeaders
    for i in range(sections):
        raw_size, raw_ptr = struct.unpack_from("<II", data, optional + optional_size + 40 * i + 16)
        if raw_size:
            end = max(end, raw_ptr + raw_size)
    return end, cert_offset, cert_size


def error_box_shown(error):
    """The box that says the package is damaged, with the code below."""
    rc, dump = runkit.uiauto("dump", "--title", PRODUCT, "--class", "#32770")
    return rc == 0 and any(
        c["kind"] == "control" and
        c["text"].startswith("The setup files of %s are damaged or incomplete." % PRODUCT) and
        c["text"].endswith("\n\nError code: %d" % error)
        for c in runkit.parse_controls(dump))


class SignedPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="stowaway-signed-")
        cls.key, cls.chain = make_signing_chain(os.path.join(cls.work), CHAIN_LENGTH)
        cls.payload = runkit.sample_payload(os.path.join(cls.work, "payload"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.case = tempfile.mkdtemp(prefix="case_", dir=self.work)
        self.record = os.path.join(self.case, "record.txt")
        self.guid = runkit.new_guid()

    def build_signed(self):
        """The package, signed; a fakesetup.exe lies beside it too."""
        args = '--record "%s" --exit 3010' % harness.win_path(self.record)
        sections = runkit.base_config(self.guid, cmdline=args)
        unsigned = runkit.packed_package(os.path.join(self.case, "build"), "Sample", sections,
                                         payload=self.payload, languages=False)
        out = os.path.join(self.case, "out")
        os.makedirs(out)
        shutil.copy(harness.exe("fakesetup.exe"), os.path.join(out, "fakesetup.exe"))
        signed = os.path.join(out, "Sample.exe")
        sign(self.key, self.chain, unsigned, signed)
        return unsigned, signed

    def test_a_large_signature_leaves_the_payload_found(self):
        unsigned, pkg = self.build_signed()
        image_end, cert_offset, cert_size = pe_layout(pkg)
        self.assertGreaterEqual(cert_size, 16 * 1024)
        self.assertEqual(cert_offset + cert_size, os.path.getsize(pkg))
        print("signature: %d bytes" % cert_size)

        run = runkit.LauncherRun(pkg, "/S")
        self.assertEqual(run.run(), 3010)
        found = run.value("CheckDataFile()->Signature '")
        self.assertTrue(found, run.messages())
        offset = int(found.split("offset=")[1].rstrip(")"))
        self.assertEqual(offset, os.path.getsize(pkg) - (os.path.getsize(unsigned) - 10))
        # The program that ran is the package's own, from the extraction folder.
        rec = runkit.read_record(self.record)
        self.assertIn(runkit.EXTRACT_FOLDER.lower(), rec["exe"][0].lower())
        self.assertEqual(sorted(rec["file"]), ["docs\\manual.txt", "fakesetup.exe", "readme.txt"])

    def test_a_package_without_its_payload_launches_nothing_beside_it(self):
        unsigned, pkg = self.build_signed()
        with open(unsigned, "rb") as f:
            data = f.read()
        image_end = pe_layout(unsigned)[0]
        self.assertGreater(len(data), image_end)
        cases = [
            # The payload cut off at its middle: the table and the signature
            # went with it.
            ("cut in the payload", data[:image_end + (len(data) - image_end) // 2], False, 13),
            # The file table damaged, the signature made again over it.
            ("table damaged, signed again", data[:-30] + b"\0" * 30, True, 13),
            # Only the image (with its configuration) is left, signed again.
            ("payload removed, signed again", data[:image_end], True, 2),
        ]
        for what, content, resign, error in cases:
            with self.subTest(what):
                if os.path.exists(self.record):
                    os.remove(self.record)
                damaged = os.path.join(self.case, "damaged.exe")
                with open(damaged, "wb") as f:
                    f.write(content)
                os.remove(pkg)
                if resign:
                    sign(self.key, self.chain, damaged, pkg)
                    self.assertGreaterEqual(pe_layout(pkg)[2], 16 * 1024)
                else:
                    shutil.copy(damaged, pkg)
                run = runkit.LauncherRun(pkg, "/S").start()
                # The failure is reported in a box (the status window has the
                # same title): answer it so that the run ends.
                try:
                    shown = harness.wait_for(lambda: error_box_shown(error), 120, 0.5)
                finally:
                    runkit.uiauto("click", "--title", PRODUCT, "--class", "#32770", "--text", "OK")
                    code = run.wait()
                msgs = run.messages()
                self.assertTrue(shown, msgs[-20:])
                # The run ends with the error's own code.
                self.assertEqual(code, error)
                self.assertIn("CheckDataFile()->No signature found!", msgs)
                self.assertIn("ThreadUnCompressDATA()->Error=%d" % error, msgs)
                self.assertFalse(any(m.startswith("ExecuteFile(") for m in msgs), msgs)
                self.assertFalse(os.path.exists(self.record))


if __name__ == "__main__":
    harness.main()
