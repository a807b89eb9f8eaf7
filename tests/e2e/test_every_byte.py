"""Every byte proven: a package whose payload or file table was changed after
packing never ends 0 and never runs its setup program on what it unpacked;
a web file kept from an earlier run is the run's own, and one whose kept
part is of another version is fetched again whole."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import harness
import pkgfile
import runkit

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "servers"))
import control  # noqa: E402

WEB_NAME = "data.bin"
SIZE = 300007
CUT = 100000


def version(seed, n=SIZE):
    """A web file's bytes; two versions differ, but not at CUT - 1."""
    out = bytearray(((i * 7 + seed * 13) % 256) for i in range(n))
    if n >= CUT:
        out[CUT - 1] = 0x5A
    return bytes(out)


class EveryByteTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for tool in ("packer.exe", "launcher.exe", "fakesetup.exe"):
            if not os.path.exists(harness.exe(tool)):
                raise unittest.SkipTest(tool + " is not built")
        cls.work = tempfile.mkdtemp(prefix="stowaway-bytes-")
        cls.record = os.path.join(cls.work, "record.txt")
        payload = cls.payload = runkit.sample_payload(os.path.join(cls.work, "payload"))
        cls.stored = os.path.join(cls.work, "stored.dat")
        with open(cls.stored, "wb") as f:
            f.write(version(3, 20000))
        sections = runkit.base_config(runkit.new_guid(),
                                      cmdline='--record "%s"' % harness.win_path(cls.record))
        cfg = os.path.join(cls.work, "base-project.cfg")
        runkit.write_config(cfg, sections)
        cls.package = os.path.join(cls.work, "base.exe")
        r = subprocess.run([runkit.PACKER, "build", "--out", cls.package, "--config", cfg,
                            "--folder", payload, "--stored", cls.stored + "=stored.dat"],
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=600)
        if r.returncode != 0:
            raise RuntimeError(r.stdout.decode("utf-8", "replace"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def run_damaged(self, name, data):
        folder = os.path.join(self.work, name)
        os.makedirs(folder, exist_ok=True)
        pkg = os.path.join(folder, "damaged.exe")
        with open(pkg, "wb") as f:
            f.write(data)
        if os.path.exists(self.record):
            os.remove(self.record)
        run = runkit.LauncherRun(pkg, "/S /SUPPRESSMSGBOXES")
        return run.run(), run

    def test_damage_after_packing_never_ends_0(self):
        with open(self.package, "rb") as f:
            data = f.read()
        table = pkgfile.read_table(data)
        stored = [r for r in table.records if r.fileout == b"stored.dat"][0]
        archive = [r for r in table.records if not r.type & pkgfile.TF_STORED][0]

        def changed_field(record, **fields):
            records = [pkgfile.Record(r.file, r.fileout, r.size, r.offset, r.type)
                       for r in table.records]
            for r in records:
                if r.file == record.file:
                    for k, v in fields.items():
                        setattr(r, k, v)
            return data[:table.start] + pkgfile.table_bytes(records)

        def changed_byte(record, at):
            out = bytearray(data)
            out[record.offset + at] ^= 0x20
            return bytes(out)

        def changed_header(tot=None, nb=None):
            out = bytearray(data)
            end = len(out) - len(pkgfile.MAGIC)
            if tot is not None:
                struct.pack_into("<Q", out, end - 12, tot)
            if nb is not None:
                struct.pack_into("<I", out, end - 4, nb)
            return bytes(out)

        cases = [
            # what, damaged package, the codes it may end with
            ("a byte inside a stored file", changed_byte(stored, 1234), (323,)),
            ("the last byte of a stored file", changed_byte(stored, stored.size - 1), (323,)),
            ("a byte inside the archive", changed_byte(archive, archive.size // 2), (323, 13)),
            ("a stored file's size + 1", changed_field(stored, size=stored.size + 1), (13, 323)),
            ("a stored file's size - 1", changed_field(stored, size=stored.size - 1), (13, 323)),
            ("an offset + 1", changed_field(stored, offset=stored.offset + 1), (13,)),
            ("an offset of 0", changed_field(archive, offset=0), (13,)),
            ("an offset of 1", changed_field(archive, offset=1), (13,)),
            ("a type of 255", changed_field(archive, type=255), (13,)),
            ("a type of 0", changed_field(archive, type=0), (13,)),
            ("a stored file renamed", changed_field(
                stored, fileout=stored.fileout.replace(b"stored.dat", b"stored.dax")), (13,)),
            ("the archive taken as stored", changed_field(
                archive, type=archive.type | pkgfile.TF_STORED), (13,)),
            ("TotFilesSize + 1", changed_header(tot=table.totsize + 1), (13,)),
            ("NbFiles 1", changed_header(nb=1), (13,)),
            ("NbFiles 0", changed_header(nb=0), (13,)),
        ]
        for what, damaged, codes in cases:
            with self.subTest(what):
                code, run = self.run_damaged(what.replace(" ", "_"), damaged)
                self.assertIn(code, codes, run.messages()[-15:])
                self.assertFalse(os.path.exists(self.record), "the setup program ran")

    def test_web_files_kept_from_an_earlier_run(self):
        with control.NetServers(ftp=False) as servers:
            www = servers.www
            date = 1700000000
            cases = [
                # what, the server's file, the file kept on disk, its bytes afterwards
                ("a complete file is the run's own", version(1), version(1), version(1)),
                ("a kept part of another version is fetched again whole", version(2),
                 version(1)[:CUT], version(2)),
            ]
            for what, served, kept, expected in cases:
                with self.subTest(what):
                    source = os.path.join(self.work, "web-source.bin")
                    with open(source, "wb") as f:
                        f.write(served)
                    with open(os.path.join(www, WEB_NAME), "wb") as f:
                        f.write(served)
                    os.utime(os.path.join(www, WEB_NAME), (date, date))
                    guid = runkit.new_guid()
                    temp = os.path.join(self.work, "temp-" + guid.strip("{}"))
                    fetched = os.path.join(temp, guid, runkit.EXTRACT_FOLDER, WEB_NAME)
                    os.makedirs(os.path.dirname(fetched))
                    with open(fetched, "wb") as f:
                        f.write(kept)
                    os.utime(fetched, (date, date))
                    sections = runkit.base_config(
                        guid, cmdline='--record "%s"' % harness.win_path(self.record),
                        WebDownloadUrl=servers.url("http", "/"), ResumeSetup=1, DeleteFiles=0)
                    cfg = os.path.join(self.work, "web-project.cfg")
                    runkit.write_config(cfg, sections)
                    pkg = os.path.join(self.work, "web.exe")
                    r = subprocess.run([runkit.PACKER, "build", "--out", pkg, "--config", cfg,
                                        "--folder", self.payload,
                                        "--web-stored", "%s=%s" % (source, WEB_NAME)],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT, timeout=600)
                    self.assertEqual(r.returncode, 0, r.stdout.decode("utf-8", "replace"))
                    if os.path.exists(self.record):
                        os.remove(self.record)
                    log = os.path.join(self.work, "web.log")
                    line = '"%s" /S /SUPPRESSMSGBOXES /LOG:"%s"' % (harness.win_path(pkg),
                                                                   harness.win_path(log))
                    out = harness.run("uiauto.exe", ["exec", line, "--cwd", harness.win_path(self.work),
                                                     "--temp", harness.win_path(temp)], timeout=300)
                    with open(log, encoding="utf-8-sig", errors="replace") as f:
                        trace = f.read().splitlines()
                    os.remove(log)
                    self.assertIn(b"exit=0", out.stdout, "\n".join(trace[-25:]))
                    with open(fetched, "rb") as f:
                        self.assertTrue(f.read() == expected, what)
                    record = runkit.read_record(self.record)
                    self.assertIn(WEB_NAME, record.get("file", []))


if __name__ == "__main__":
    unittest.main(verbosity=2)
