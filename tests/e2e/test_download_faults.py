"""Packages whose web file meets a faulty server, run as a user would run
them against the loopback servers: every case ends with its code, and
whenever the run succeeds the file it fetched is the server's, byte for
byte. A failed transfer keeps what arrived.

The cases run side by side (the stall cases wait out the whole 60 s stall
limit), each with its own package, product name and temporary folder (the
launcher's scratch folder lives there), under one trace monitor whose lines
carry each package's file name."""
import calendar
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import harness
import runkit

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "servers"))
import control  # noqa: E402

SIZE = 300007
WEB_NAME = "data.bin"
STALE_DATE = calendar.timegm((2023, 6, 1, 8, 0, 0))


def pattern(offset, n):
    """The fault server's bytes (netservers.pattern)."""
    return bytes(((offset + i) * 7) % 256 for i in range(n))


# name, server, path of the web location, a stale local copy of the same
# size and an older date, then the expected transfer code, how many requests
# fetch the file (None: not counted) and the bytes a failed run keeps.
CASES = [
    ("RangeRefused", "fault", "/rangerefused/%d/" % SIZE, True, 0, 2, None),
    ("IfRangeIgnored", "fault", "/ignoreifrange/%d/" % SIZE, True, 0, 2, None),
    # A length that is not the table's size: not the package's file.
    ("ShortLength", "fault", "/short/%d/%d/" % (SIZE, SIZE - 1000), False, 323, 1, 0),
    ("Chunked", "fault", "/chunked/%d/" % SIZE, False, 0, 1, None),
    ("NoLength", "fault", "/closed/%d/" % SIZE, False, 0, 1, None),
    ("SlowFirstByte", "fault", "/late/17000/%d/" % SIZE, False, 0, 1, None),
    ("StallMidBody", "fault", "/stall/%d/90000/" % SIZE, False, 23, 1, 4096),
    ("FtpStalled", "ftp", "/ftpstall/8192/", False, 23, None, 8192),
]


class Case:
    def __init__(self, test, name, server, path, stale, code, requests, kept):
        self.name, self.server, self.path = name, server, path
        self.stale, self.code, self.requests, self.kept = stale, code, requests, kept
        self.exe_name = "Fault%s.exe" % name
        self.product = "Fault %s" % name
        self.guid = runkit.new_guid()
        self.folder = os.path.join(test.work, name)
        self.record = os.path.join(self.folder, "record.txt")
        self.temp = os.path.join(self.folder, "temp")
        # Resume mode keeps the project's files in TEMP\<guid>.
        self.fetched = os.path.join(self.temp, self.guid, runkit.EXTRACT_FOLDER, WEB_NAME)
        self.exit_code = None

    def build(self, test):
        os.makedirs(self.temp)
        url = test.servers.url(self.server, self.path)
        args = '--record "%s" --exit 3010' % harness.win_path(self.record)
        sections = runkit.base_config(self.guid, cmdline=args, product=self.product,
                                      WebDownloadUrl=url, ResumeSetup=1, DeleteFiles=0)
        cfg = os.path.join(self.folder, "project.cfg")
        runkit.write_config(cfg, sections)
        self.package = os.path.join(self.folder, self.exe_name)
        cmd = [runkit.PACKER, "build", "--out", self.package, "--config", cfg, "--embed-config",
               "--folder", test.payload, "--web-stored", "%s=%s" % (test.source, WEB_NAME)]
        if self.server == "ftp":
            upload = os.path.join(test.servers.www, self.path.strip("/"))
            os.makedirs(upload, exist_ok=True)
            cmd += ["--web-folder", upload]
        r = subprocess.run(cmd, cwd=self.folder, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=600)
        if r.returncode != 0:
            raise RuntimeError(r.stdout.decode("utf-8", "replace"))
        if self.stale:
            # A copy of another day, of the server's size: never to be kept.
            os.makedirs(os.path.dirname(self.fetched))
            with open(self.fetched, "wb") as f:
                f.write(b"\0" * SIZE)
            os.utime(self.fetched, (STALE_DATE, STALE_DATE))

    def run(self):
        """Runs the package with /S; answers the error box, if one comes."""
        line = '"%s" /S' % harness.win_path(self.package)
        proc = harness.start("uiauto.exe", ["exec", line, "--cwd", harness.win_path(self.folder),
                                            "--temp", harness.win_path(self.temp)])
        out = []
        reader = threading.Thread(target=lambda: out.append(proc.communicate(timeout=400)[0]))
        reader.start()
        while reader.is_alive():
            reader.join(5)
            if reader.is_alive():
                runkit.uiauto("click", "--title", self.product, "--class", "#32770", "--text", "OK")
        m = re.search(rb"exit=(\d+)", out[0] if out else b"")
        self.exit_code = int(m.group(1)) if m else None


class DownloadFaultTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.servers = control.NetServers(ftp=True).start()
        cls.work = tempfile.mkdtemp(prefix="stowaway-faults-")
        cls.payload = runkit.sample_payload(os.path.join(cls.work, "payload"))
        cls.source = os.path.join(cls.work, WEB_NAME)
        with open(cls.source, "wb") as f:
            f.write(pattern(0, SIZE))
        cls.cases = [Case(cls, *c) for c in CASES]

    @classmethod
    def tearDownClass(cls):
        cls.servers.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_fault_table(self):
        for case in self.cases:
            case.build(self)
        before = len(self.servers.requests())
        started = time.time()
        with harness.TraceMonitor(self.work) as mon:
            runners = [threading.Thread(target=case.run) for case in self.cases]
            for t in runners:
                t.start()
            for t in runners:
                t.join()
            lines = mon.lines()
        print("\n%d cases in %.0f s" % (len(self.cases), time.time() - started))
        requests = self.servers.requests()[before:]
        for case in self.cases:
            with self.subTest(case=case.name):
                prefix = "[%s] " % case.exe_name
                msgs = [l[len(prefix):] for l in lines if l.startswith(prefix)]
                ends = [m for m in msgs if m.startswith("DownloadFile()->End(")]
                self.assertEqual(ends, ["DownloadFile()->End(%d)" % case.code], msgs[-30:])
                fetched = None
                if os.path.exists(case.fetched):
                    with open(case.fetched, "rb") as f:
                        fetched = f.read()
                print("%-15s transfer %5d  run %s  exit %s  file %s bytes" % (
                    case.name, case.code, next((m[len("ReadDataStruct()->End("):-1] for m in msgs
                                                if m.startswith("ReadDataStruct()->End(")), "?"),
                    case.exit_code, None if fetched is None else len(fetched)))
                if case.code == 0:
                    # The setup program ran on the server's very bytes.
                    self.assertEqual(case.exit_code, 3010)
                    self.assertIn("ReadDataStruct()->End(0)", msgs)
                    self.assertTrue(os.path.exists(case.record))
                    self.assertEqual(fetched, pattern(0, SIZE))
                else:
                    # A transfer that broke off is a lost connection; a wrong
                    # file keeps its own code.
                    run_code = 323 if case.code == 323 else 1236
                    self.assertIn("ReadDataStruct()->End(%d)" % run_code, msgs)
                    self.assertNotEqual(case.exit_code, 3010)
                    self.assertFalse(os.path.exists(case.record))
                    if case.kept:
                        self.assertEqual(fetched, pattern(0, case.kept))
                    else:
                        self.assertIsNone(fetched)
                if case.requests is not None:
                    mine = [r for r in requests if " GET %s%s " % (case.path, WEB_NAME) in r]
                    self.assertEqual(len(mine), case.requests, mine)


if __name__ == "__main__":
    harness.main()
