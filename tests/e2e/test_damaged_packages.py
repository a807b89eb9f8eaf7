"""Damaged packages, run as an administrator's deployment would run them
(silently, from a sandbox folder): each ends with its error, never with a
crash, and leaves neither its temporary folders nor a partial file behind.
A cabinet the system's decoder faults on, a table of zeros that announces
4 billion records, Cancel in the middle of a 1 GiB unpacking, members named
after devices in every archive kind and in the table, cabinets cut short,
damaged or missing a part, damaged language libraries, a script of 100,000
lines."""
import os
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
import zipfile
import zlib

import harness
import pkgfile
import runkit

TITLE = "Damage Sample"
SCRATCH = runkit.TRV_GUID
PAC_HEADER = (b"PAC - \xa9 QUIL Software 1990-2000 \r\n" + b" " * 42 +
              b"\x00\r\n\x1a\xd6\xa9\x06\x01\x2c\x01\x00\x00\x80\x00\x00\x00\xe0\x01")


def config(guid, **runtime):
    """A package that extracts, runs its setup program and removes it all."""
    rt = {"ExeFileName": "fakesetup.exe", "CmdLine": "--exit 0", "LaunchExe": 1, "DeleteFiles": 1,
          "LaunchOptions": 0, "TrayIcon": 0, "Percent": 1, "ProgressBar": 1}
    rt.update(runtime)
    return [("General", [("Guid", guid), ("ProductName", TITLE), ("ProductVersion", "1.0")]),
            ("Runtime", [(k, str(v)) for k, v in rt.items()]),
            ("Dialogs", [("StatusType", "1")]),
            ("Languages", ["2057=EnglishUS.lng", "1031=German.lng"])]


class Bits:
    """A deflate bit stream: values least significant bit first, Huffman
    codes most significant bit first."""

    def __init__(self):
        self.bits = []

    def put(self, value, n):
        self.bits += [(value >> i) & 1 for i in range(n)]

    def code(self, code, n):
        self.bits += [(code >> i) & 1 for i in range(n - 1, -1, -1)]

    def bytes(self):
        out = bytearray((len(self.bits) + 7) // 8)
        for i, b in enumerate(self.bits):
            out[i // 8] |= b << (i % 8)
        return bytes(out)


def decoder_fault_cabinet():
    """One MSZIP block whose deflate data is valid up to a match whose
    distance alphabet has no code: a checking decoder refuses it, the
    system's cabinet.dll under Wine reads through a null table."""
    b = Bits()
    b.put(1, 1), b.put(2, 2)                  # last block, dynamic codes
    b.put(1, 5), b.put(0, 5), b.put(14, 4)    # 258 literal/length codes, 1 distance, 18 lengths
    for length in [0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2]:
        b.put(length, 3)                      # code lengths: 18 -> 1 bit, 0 and 1 -> 2 bits
    b.code(0, 1), b.put(138 - 11, 7)          # 138 zero lengths
    b.code(0, 1), b.put(118 - 11, 7)          # 118 more: no literals
    b.code(3, 2), b.code(3, 2)                # end of block and length 3: 1 bit each
    b.code(2, 2)                              # the one distance code: unused
    b.code(1, 1)                              # a match, whose distance cannot be decoded
    b.code(0, 1)                              # end of block
    block = b"CK" + b.bytes()
    name = b"big.bin"
    files = struct.pack("<IIHHHH", 16, 0, 0, 0x5021, 0, 0x20) + name + b"\0"
    off_files = 36 + 8
    off_data = off_files + len(files)
    data = struct.pack("<IHH", 0, len(block), 16) + block
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, off_data + len(data), 0, off_files, 0,
                         3, 1, 1, 1, 0, 0x1234, 0)
    return header + struct.pack("<IHH", off_data, 1, 1) + files + data


def pac_archive(members):
    """A PAC archive in the layout QELTRON.dll reads: header, "QPK1", count,
    then name length, name, size, CRC-32 and the bytes of each file."""
    out = PAC_HEADER + b"QPK1" + struct.pack("<I", len(members))
    for name, data in members:
        out += struct.pack("<H", len(name)) + name + struct.pack("<QI", len(data),
                                                                 zlib.crc32(data)) + data
    return out


def unmakeable_dialog():
    """A classic dialog template, whole and well formed, whose one control
    is of a window class nobody registered: no window comes from it."""
    def text(t):
        return (t + "\0").encode("utf-16-le")
    style = 0x80C80000 | 0x40  # popup, caption, system menu; DS_SETFONT
    head = struct.pack("<IIHhhhh", style, 0, 1, 0, 0, 200, 100) + b"\0\0" + b"\0\0"
    head += text("Status") + struct.pack("<H", 8) + text("MS Shell Dlg")
    head += b"\0" * (-len(head) % 4)
    item = struct.pack("<IIhhhhH", 0x50000000, 0, 10, 10, 100, 20, 1000)
    item += text("NoSuchWindowClass") + text("") + struct.pack("<H", 0)
    return head + item


def gcab(folder, cab, names):
    subprocess.run(["gcab", "-c", "-z", cab] + names, cwd=folder, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)


class DamagedPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for tool in ("packer.exe", "launcher.exe", "caserun.exe", "putres.exe", "QELTRON.dll"):
            if not os.path.exists(harness.exe(tool)):
                raise unittest.SkipTest(tool + " is not built")
        if not shutil.which("gcab"):
            raise unittest.SkipTest("gcab is not installed")
        # "/X:" ends its value at a "-": the sandbox's path has none.
        cls.work = tempfile.mkdtemp(prefix="stowaway_damage_")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.case = tempfile.mkdtemp(prefix="case_", dir=self.work)
        self.temp = os.path.join(self.case, "temp")
        os.makedirs(self.temp)

    def file(self, name, data):
        path = os.path.join(self.case, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def package(self, archive=None, payload=None, languages=None, neutral=(), **runtime):
        """A package built by the packer, its configuration embedded, in a
        folder of its own. A damaged payload seldom holds the setup program
        the configuration names: the packer is told that it may lack it."""
        folder = tempfile.mkdtemp(prefix="pkg_", dir=self.case)
        cfg = os.path.join(folder, "setup.project.cfg")
        runkit.write_config(cfg, config(runkit.new_guid(), **runtime))
        out = os.path.join(folder, "setup.exe")
        args = [runkit.PACKER, "build", "--out", out, "--config", cfg, "--embed-config",
                "--allow-missing", "ExeFileName"]
        if archive:
            args += ["--archive", archive]
        if payload:
            args += ["--folder", payload]
        for lng in languages or [harness.exe("EnglishUS.lng"), harness.exe("German.lng")]:
            args += ["--language", lng]
        for n in neutral:
            args += ["--neutral", n]
        r = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=600)
        self.assertEqual(r.returncode, 0, r.stdout.decode("utf-8", "replace"))
        os.remove(cfg)
        shutil.copy(harness.exe("QELTRON.dll"), folder)
        return out

    def run_package(self, package, args="/S /SUPPRESSMSGBOXES", cwd=None, during=None):
        """Runs the package under the trace monitor with this case's TEMP,
        answering any message box; returns (exit code, trace, boxes)."""
        listing = os.path.join(self.case, "run.txt")
        results = os.path.join(self.case, "results.txt")
        line = '"%s" %s' % (harness.win_path(package), args)
        with open(listing, "w", encoding="utf-8") as f:
            f.write("1\t%s\t%s\t%s\n" % (harness.win_path(cwd or self.temp),
                                         harness.win_path(self.temp), line))
        with harness.TraceMonitor(self.case) as mon:
            proc = harness.start("caserun.exe", ["--timeout", "240000", harness.win_path(listing),
                                                 harness.win_path(results)])
            if during:
                during()
            proc.wait(timeout=600)
            messages = mon.messages()
        with open(results, encoding="utf-8") as f:
            fields = f.read().strip().split("\t")
        self.assertTrue(fields[1].startswith("exit="), fields)
        return int(fields[1][5:]), messages, fields[4] if len(fields) > 4 else ""

    def assert_failed_cleanly(self, code, messages, error, leftovers=()):
        """The run ended with the worker's error as its exit code, no crash,
        nothing left in its temporary folder but what the test keeps."""
        self.assertLess(code, 0x80000000, "crashed")
        self.assertEqual(code, error, "\n".join(messages[-40:]))
        self.assertIn("ThreadUnCompressDATA()->Error=%d" % error, messages,
                      "\n".join(messages[-40:]))
        left = [os.path.relpath(os.path.join(d, f), self.temp)
                for d, _, files in os.walk(self.temp) for f in files]
        self.assertEqual(sorted(left), sorted(leftovers))
        self.assertFalse(os.path.exists(os.path.join(self.temp, SCRATCH)))

    def payload(self, files):
        folder = os.path.join(self.case, "payload")
        for rel, data in files.items():
            self.file(os.path.join("payload", rel), data)
        shutil.copy(harness.exe("fakesetup.exe"), folder)
        return folder

    # --- decoder faults and damaged tables -----------------------------------

    def test_a_cabinet_the_decoder_faults_on_fails_with_13(self):
        cab = self.file("fault.cab", decoder_fault_cabinet())
        code, messages, _ = self.run_package(self.package(archive=cab))
        self.assert_failed_cleanly(code, messages, 13)
        self.assertTrue(any(m.startswith("UnPackCABFile()->Fault 0xc0000005 in cabinet.dll+")
                            for m in messages), messages)
        self.assertTrue(any(m.startswith("UnPackCABFile()->Decoder fault 0xc0000005")
                            for m in messages))

    def test_a_table_of_zeros_announcing_4_billion_records_fails_at_once(self):
        package = self.package()
        with open(package, "rb") as f:
            data = f.read() + bytes(1 << 20) + struct.pack("<QI", 0, 0xFFFFFFFF)
        with open(package, "wb") as f:
            f.write(data + pkgfile.MAGIC)
        code, messages, _ = self.run_package(package)
        self.assert_failed_cleanly(code, messages, 13)
        self.assertTrue(any("does not fit the" in m for m in messages), messages)
        self.assertFalse(any(m.startswith("ReadDataStruct()->lgFile=") for m in messages))

    def test_a_damaged_table_extracts_nothing(self):
        good = self.package(payload=self.payload({"readme.txt": b"read me\n"}))
        with open(good, "rb") as f:
            data = f.read()
        t = pkgfile.read_table(data)
        head = data[:t.start]
        records = t.records
        cases = [
            ("a second record pointing outside the file",
             head + pkgfile.table_bytes(records + [pkgfile.Record(
                 b"TRV0002.001", b"", 1000, len(data) + 10, pkgfile.TF_EMBEDDED)])),
            ("NbFiles 5 with one real record", head + pkgfile.table_bytes(records, nbfiles=5)),
        ]
        for what, damaged in cases:
            with self.subTest(what):
                with open(good, "wb") as f:
                    f.write(damaged)
                target = os.path.join(self.case, "x_" + str(len(damaged)))
                code, messages, _ = self.run_package(
                    good, "/S /SUPPRESSMSGBOXES /X:%s" % harness.win_path(target))
                self.assert_failed_cleanly(code, messages, 13)
                self.assertFalse(os.path.exists(target) and os.listdir(target), what)

    # --- cancel ----------------------------------------------------------------

    def test_cancel_in_a_1_gib_unpacking_ends_it_at_once(self):
        big = os.path.join(self.case, "big")
        os.makedirs(big)
        with open(os.path.join(big, "huge.bin"), "wb") as f:
            zeros = bytes(1 << 20)
            for _ in range(1024):
                f.write(zeros)
        gcab(big, "huge.cab", ["huge.bin"])
        os.remove(os.path.join(big, "huge.bin"))
        package = self.package(archive=os.path.join(big, "huge.cab"))
        member = os.path.join(self.temp, SCRATCH, runkit.EXTRACT_FOLDER, "huge.bin")
        clicked = {}

        def cancel_once_unpacking():
            grown = harness.wait_for(
                lambda: os.path.exists(member) and os.path.getsize(member) > (64 << 20), 240, 0.1)
            self.assertTrue(grown, "the unpacking never got going")
            clicked["at"] = time.time()
            runkit.uiauto("click", "--title", TITLE, "--id", "2")

        log = os.path.join(self.case, "run.log")
        # Cancel at once: with boxes suppressed it asks nobody first.
        code, messages, _ = self.run_package(
            package, '/NOLICENSE /SUPPRESSMSGBOXES /LOG:"%s"' % harness.win_path(log),
            during=cancel_once_unpacking)
        self.assert_failed_cleanly(code, messages, 1223)
        self.assertTrue(any(m.startswith("UnPackCABFile()->End(1223)") for m in messages))
        # The worker ended by itself: the window never had to give up on it.
        self.assertFalse(any(m.startswith("StatusProc()->dwExitCode=103") for m in messages))
        self.assertFalse(os.path.exists(member))
        # Informative, from the log's times: Cancel to the decoder's end.
        stamps = {}
        with open(log, encoding="utf-8-sig", errors="replace") as f:
            for line in f:
                for key in ("StatusProc()->IDCANCEL", "UnPackCABFile()->End(1223)"):
                    if key in line and key not in stamps:
                        stamps[key] = line[11:23]
        if len(stamps) == 2:
            def seconds(hms):
                h, m, rest = hms.split(":")
                return int(h) * 3600 + int(m) * 60 + float(rest)
            print("cancel in a 1 GiB unpacking: the unpacking ended, its member removed, %.3f s "
                  "after Cancel" % (seconds(stamps["UnPackCABFile()->End(1223)"]) -
                                    seconds(stamps["StatusProc()->IDCANCEL"])))

    # --- names of devices ------------------------------------------------------

    def test_members_named_after_devices_are_refused_in_every_archive_and_the_table(self):
        src = os.path.join(self.case, "names")
        os.makedirs(os.path.join(src, "sub"))
        for rel in ("ok.txt", "COM1.log"):
            with open(os.path.join(src, rel), "wb") as f:
                f.write(b"x" * 100)
        gcab(src, os.path.join(self.case, "devices.cab"), ["ok.txt", "COM1.log"])
        zip_path = os.path.join(self.case, "devices.zip")
        with zipfile.ZipFile(zip_path, "w") as z:
            z.writestr("ok.txt", b"ok")
            z.writestr("sub/AUX.dat", b"x")
        pac_path = self.file("devices.pac", pac_archive([(b"ok.txt", b"ok"), (b"con.dat", b"x")]))
        stored = self.package(payload=self.payload({"readme.txt": b"x"}))
        cases = [("a cabinet member COM1.log", self.package(archive=os.path.join(
                     self.case, "devices.cab")), 13),
                 ("a ZIP entry sub/AUX.dat", self.package(archive=zip_path), 13),
                 ("a PAC file con.dat", self.package(archive=pac_path), 13)]
        # A table record naming a device: the stored file's name, in a
        # package without hashes (that would refuse the changed table first).
        with open(stored, "rb") as f:
            data = pkgfile.without_hashes(f.read())
        t = pkgfile.read_table(data)
        renamed = [pkgfile.Record(r.file, r.fileout, r.size, r.offset, r.type) for r in t.records]
        renamed.append(pkgfile.Record(b"nul.txt", b"", 2, renamed[0].offset,
                                      pkgfile.TF_EMBEDDED | pkgfile.TF_STORED))
        table_pkg = os.path.join(self.case, "table.exe")
        with open(table_pkg, "wb") as f:
            f.write(data[:t.start] + pkgfile.table_bytes(renamed))
        shutil.copy(harness.exe("QELTRON.dll"), self.case)
        cases.append(("a table record nul.txt", table_pkg, 13))
        for what, package, error in cases:
            with self.subTest(what):
                target = os.path.join(self.case, "x_" + what.split()[1])
                code, messages, _ = self.run_package(
                    package, "/S /SUPPRESSMSGBOXES /X:%s" % harness.win_path(target))
                self.assert_failed_cleanly(code, messages, error)
                self.assertEqual(os.listdir(target) if os.path.exists(target) else [], [], what)

    # --- ZIP names, a full disk ----------------------------------------------------

    def test_a_zip_with_one_name_in_two_folders_fails_with_80(self):
        zip_path = os.path.join(self.case, "twice.zip")
        with zipfile.ZipFile(zip_path, "w") as z:
            z.writestr("a/x.txt", b"the first")
            z.writestr("b/x.txt", b"the second")
        target = os.path.join(self.case, "x_twice")
        code, messages, _ = self.run_package(self.package(archive=zip_path),
                                             "/S /SUPPRESSMSGBOXES /X:%s" % harness.win_path(target))
        self.assert_failed_cleanly(code, messages, 80)
        self.assertTrue(any("both unpack to" in m for m in messages), messages[-20:])
        self.assertFalse(os.path.exists(target))

    def test_a_disk_that_fills_while_unpacking_is_112_in_the_users_words(self):
        # A small file system of its own: mounting needs root.
        small = os.path.join(self.case, "small")
        os.makedirs(small)
        if os.geteuid() != 0 or subprocess.run(
                ["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", small],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("no small file system can be mounted here")
        self.addCleanup(subprocess.run, ["umount", "-l", small])
        # 4 MB of zeros pack into a few KB: the check before unpacking passes.
        zip_path = os.path.join(self.case, "zeros.zip")
        with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("zeros.bin", bytes(4 << 20))
        target = os.path.join(small, "out")
        code, messages, _ = self.run_package(self.package(archive=zip_path),
                                             "/LANG:1031 /X:%s" % harness.win_path(target))
        self.assert_failed_cleanly(code, messages, 112)
        # The box as the run showed it, with the drive and the amount, in the
        # run's language (its trace line: what a helper answering boxes reads
        # may race with the box's own set-up).
        boxes = [m for m in messages if m.startswith("MessageBox(")]
        self.assertTrue(any("Auf Laufwerk " in m and "ist nicht genügend Speicherplatz frei" in m
                            for m in boxes), boxes)
        self.assertEqual(os.listdir(small), [])

    def test_a_language_pack_that_cannot_be_unpacked_ends_the_run(self):
        """The neutral files (the license, the install script) do not fit in
        TEMP: the run ends with the cause instead of going on without them."""
        if os.geteuid() != 0 or subprocess.run(
                ["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", self.temp],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("no small file system can be mounted here")
        self.addCleanup(subprocess.run, ["umount", "-l", self.temp])
        # Random bytes do not compress: the language pack itself fits, the
        # neutral pack unpacked beside it does not.
        big = self.file("neutral/big.bin", os.urandom(700 * 1024))
        code, messages, _ = self.run_package(self.package(neutral=[big]))
        self.assertEqual(code, 112, "\n".join(messages[-40:]))
        self.assertIn("ExtractBinaryRes()->Neutral.001 could not be unpacked (112)", messages)
        self.assertIn("WinMain()->The language pack could not be unpacked (112): the run ends",
                      messages)
        self.assertFalse(any(m.startswith("ExtractBinaryRes()->License=") for m in messages))
        self.assertEqual(os.listdir(self.temp), [])

    # --- cabinets cut short, damaged, missing a part -------------------------------

    def test_a_failed_cabinet_leaves_none_of_its_members(self):
        src = os.path.join(self.case, "members")
        os.makedirs(src)
        with open(os.path.join(src, "small.txt"), "wb") as f:
            f.write(b"small\n" * 100)
        with open(os.path.join(src, "big.bin"), "wb") as f:
            f.write(os.urandom(1000000))
        cab = os.path.join(self.case, "whole.cab")
        gcab(src, cab, ["small.txt", "big.bin"])
        with open(cab, "rb") as f:
            whole = f.read()
        flipped = bytearray(whole)
        flipped[len(whole) - 20000] ^= 0x40  # inside big.bin's data; its block's checksum fails
        os.makedirs(os.path.join(self.case, "set"))
        subprocess.run([runkit.PACKER, "cab", "--folder", src, "--out",
                        os.path.join(self.case, "set", "part.cab"), "--max-size", "300000"],
                       check=True, stdout=subprocess.DEVNULL, timeout=600)
        with open(os.path.join(self.case, "set", "part.cab"), "rb") as f:
            first_part = f.read()
        cases = [("cut short", whole[:len(whole) // 2], 13),
                 ("one byte changed", bytes(flipped), 13),
                 ("the first part of a set whose second part is missing", first_part, 2)]
        for what, cab_bytes, error in cases:
            with self.subTest(what):
                archive = self.file("damaged_%d.cab" % len(cab_bytes), cab_bytes)
                target = os.path.join(self.case, "x_%d" % len(cab_bytes))
                code, messages, _ = self.run_package(
                    self.package(archive=archive),
                    "/S /SUPPRESSMSGBOXES /X:%s" % harness.win_path(target))
                self.assert_failed_cleanly(code, messages, error)
                self.assertEqual(os.listdir(target) if os.path.exists(target) else [], [], what)

    # --- language libraries ------------------------------------------------------

    def test_damaged_language_libraries_fall_back_to_english(self):
        with open(harness.exe("German.lng"), "rb") as f:
            german = f.read()
        with open(harness.exe("QELTRON.dll"), "rb") as f:
            foreign = f.read()
        scrambled = self.file("scrambled/German.lng", german)
        garbage = self.file("garbage.bin", bytes((i * 7919 + 13) & 0xFF for i in range(400)))
        r = harness.run("putres.exe", [harness.win_path(scrambled), "5", "200",
                                       harness.win_path(garbage)])
        self.assertEqual(r.returncode, 0)
        # A whole status dialog that no window can be made from: its one
        # control is of a class nobody registered.
        unmade = self.file("unmade/German.lng", german)
        template = self.file("unmade.dlg", unmakeable_dialog())
        r = harness.run("putres.exe", [harness.win_path(unmade), "5", "200",
                                       harness.win_path(template)])
        self.assertEqual(r.returncode, 0)
        # What shows that English served: the library refused, or the
        # status window made from the program's own template.
        refused = "German.lng)->0 "
        own_window = "template 200 of the language failed"
        cases = [("truncated", self.file("truncated/German.lng", german[:len(german) // 2]),
                  refused),
                 ("a library of another kind", self.file("foreign/German.lng", foreign), refused),
                 ("its dialogs scrambled", scrambled, refused),
                 ("a status dialog no window comes from", unmade, own_window)]
        payload = self.payload({"readme.txt": b"read me\n"})
        for what, lng, sign in cases:
            with self.subTest(what):
                package = self.package(payload=payload,
                                       languages=[harness.exe("EnglishUS.lng"), lng])
                code, messages, _ = self.run_package(package, "/S /SUPPRESSMSGBOXES /LANG:1031")
                self.assertEqual(code, 0, "\n".join(messages[-30:]))
                if sign == refused:
                    self.assertTrue(any(m.startswith("CheckLanguageLibrary(") and
                                        "German.lng" in m for m in messages), what)
                self.assertTrue(any(sign in m for m in messages), what)
                self.assertIn("ThreadUnCompressDATA()->Extract DATA file", messages, what)
                self.assertFalse(os.path.exists(os.path.join(self.temp, SCRATCH)))

    # --- scripts ---------------------------------------------------------------

    def test_a_script_of_100000_lines_is_refused(self):
        script = self.file("script.ini", b"[Scripttrv]\r\n" + b"IF=<INIT>\r\n" * 100000)
        package = self.package(payload=self.payload({"readme.txt": b"read me\n"}),
                               neutral=[script], RunScript=1, ScriptFile="script.ini")
        started = time.time()
        code, messages, _ = self.run_package(package)
        seconds = time.time() - started
        self.assert_failed_cleanly(code, messages, 13)
        self.assertTrue(any(m.startswith("ReadScript()->") and "script refused!" in m
                            for m in messages))
        print("a 100,000-line script: refused, the run over in %.1f s" % seconds)


if __name__ == "__main__":
    harness.main()
