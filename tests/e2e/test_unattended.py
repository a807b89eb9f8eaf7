"""Unattended runs as deployment tools start them: valid and damaged
packages run with /S /SUPPRESSMSGBOXES never show a window, end by
themselves and return the exit code that README's table gives; the quoted
command-line forms of those tools; the /LOG: file."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import harness
import pkgfile
import runkit

PRODUCT = "Stowaway Unattended"
UNATTENDED = "/S /SUPPRESSMSGBOXES"
# A run that waits for a person never ends; the watchdog ends it and the
# case fails. Runs take a few seconds; the limit only tells a hang.
HANG_LIMIT_MS = 60000
RUNONCE = r"HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce"


def exit_code_table(page):
    """The rows of a page's exit-code table."""
    with open(os.path.join(harness.ROOT, page), encoding="utf-8") as f:
        text = f.read()
    section = text.split("\n## Exit codes", 1)[1].split("\n## ", 1)[0]
    return [line for line in section.splitlines()
            if line.startswith("| ") and not line.startswith("| code ")]


def readme_exit_codes():
    """The first column of README's exit-code table: its rows, and every
    code they name."""
    rows = [line.split("|")[1].strip() for line in exit_code_table("README.md")]
    codes = {int(n) for row in rows for n in re.findall(r"\b\d+\b", row)}
    return rows, codes


def end_line(code):
    """The run's last trace line, as printf's %#x writes the code."""
    return "WinMain()->End(%s)" % ("0" if code == 0 else "%#x" % code)


def damaged_copy(source, target, how):
    """A copy of a package with its appended cabinet or its file table
    damaged: "header" (no cabinet signature), "data" (the first compressed
    block without its MSZIP signature), "table" (the first record's name
    longer than the format allows), "cut" (the end lost); "header" and
    "data" as an older packer made them, without item hashes, so that the
    cabinet reader itself meets the damage; "bytes" like "data" with the
    hashes kept."""
    with open(source, "rb") as f:
        data = f.read()
    if how in ("header", "data"):
        data = pkgfile.without_hashes(data)
    data = bytearray(data)
    cab = data.rfind(b"MSCF\0\0\0\0")
    assert cab > 0, "no appended cabinet in " + source
    size = int.from_bytes(data[cab + 8:cab + 12], "little")
    if how == "header":
        data[cab:cab + 4] = b"XXXX"
    elif how in ("data", "bytes"):
        # CFHEADER is 36 bytes without reserve; CFFOLDER starts with the
        # offset of its first CFDATA block, whose 8-byte header precedes "CK".
        block = cab + int.from_bytes(data[cab + 36:cab + 40], "little") + 8
        assert data[block:block + 2] == b"CK", "not an MSZIP block"
        data[block:block + 2] = b"XX"
    elif how == "table":
        # Before the magic: NbFiles (4), TotFilesSize (8), then the first
        # record's name length.
        data[-26:-22] = (0xFFFF).to_bytes(4, "little")
    elif how == "cut":
        del data[cab + size // 2:]
    with open(target, "wb") as f:
        f.write(data)
    return target


class UnattendedTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="stowaway-unattended-")
        payload = runkit.sample_payload(os.path.join(cls.work, "payload"))
        cls.record = os.path.join(cls.work, "record.txt")
        setup_args = '--record "%s" <SETUPZK>' % harness.win_path(cls.record)

        def build(name, beside=False, listed=False, allow_missing=(), **runtime):
            sections = runkit.base_config(runkit.new_guid(), cmdline=setup_args,
                                          product=PRODUCT, **runtime)
            if listed:
                sections.append(("File 1", [("Name", "TRV0001.001")]))
            return runkit.packed_package(os.path.join(cls.work, name), name, sections,
                                         payload=payload, languages=False,
                                         config_beside=beside, allow_missing=allow_missing)

        cls.good = build("good")
        cls.nolaunch = build("nolaunch", LaunchExe=0)
        cls.reboot = build("reboot", NeedReboot=1)
        cls.nosetup = build("nosetup", exe="missing.exe", allow_missing=["ExeFileName"])
        cls.nospace = build("nospace", TotFilesSize=10 ** 18)
        listed = build("listed", listed=True)
        damaged = os.path.join(cls.work, "damaged")
        os.makedirs(damaged)
        cls.damaged = {how: damaged_copy(cls.good if how != "cut" else listed,
                                         os.path.join(damaged, how + ".exe"), how)
                       for how in ("header", "data", "bytes", "table", "cut")}
        # Configuration kept beside: renamed by a browser, with and without it.
        beside = build("beside", beside=True)
        cls.renamed = os.path.join(cls.work, "beside", "beside (1).exe")
        shutil.copy(beside, cls.renamed)
        alone = os.path.join(cls.work, "alone")
        os.makedirs(alone)
        cls.renamed_alone = os.path.join(alone, "beside (1).exe")
        shutil.copy(beside, cls.renamed_alone)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        if os.path.exists(self.record):
            os.remove(self.record)
        self.case = tempfile.mkdtemp(prefix="case_", dir=self.work)

    def run_watched(self, package, args, cwd=None):
        run = runkit.LauncherRun(package, args, cwd=cwd or self.case, watch=True,
                                 limit_ms=HANG_LIMIT_MS)
        run.run(timeout=HANG_LIMIT_MS // 1000 + 60)
        return run

    def test_every_run_ends_by_itself_without_a_window(self):
        extract = os.path.join(self.case, "out dir-1")
        long_name = "x" * 300
        cases = [
            # name, package, extra arguments, exit code, README row
            ("program exits 0", self.good, '/CMDLINE:"--exit 0"', 0, "program"),
            ("program exits 7", self.good, '/CMDLINE:"--exit 7"', 7, "program"),
            ("program exits 3010", self.good, '/CMDLINE:"--exit 3010"', 3010, "program"),
            ("program exits 1641", self.good, '/CMDLINE:"--exit 1641"', 1641, "program"),
            ("extract only", self.good, '"/X:%s"' % harness.win_path(extract), 0, 0),
            ("nothing to launch", self.nolaunch, "", 0, 0),
            ("restart asked", self.reboot, "", 3010, 3010),
            ("renamed, configuration beside", self.renamed, '/CMDLINE:"--exit 5"', 5,
             "program"),
            ("help", self.good, "/?", 0, 0),
            ("information", self.good, "/INFO", 0, 0),
            ("cabinet without signature", self.damaged["header"], "", 11, 11),
            ("cabinet data damaged", self.damaged["data"], "", 13, 13),
            ("cabinet bytes not the packed ones", self.damaged["bytes"], "", 323, 323),
            ("file table damaged", self.damaged["table"], "", 13, 13),
            ("package cut short", self.damaged["cut"], "", 13, 13),
            ("setup program missing", self.nosetup, "", 2, 2),
            ("configuration missing", self.renamed_alone, "", 2, 2),
            ("no disk space", self.nospace, "", 112, 112),
            ("/X: empty", self.good, "/X:", 161, 161),
            ("/X: too long", self.good, "/X:" + long_name, 206, 206),
            # The system's own code: the row names it among its examples.
            ("/X: cannot be created", self.good, '/X:"%s\\bad|name"' %
             harness.win_path(self.case), 123, "161, 206, 267, or the system's code"),
        ]
        rows, codes = readme_exit_codes()
        table = []
        try:
            for name, package, extra, code, row in cases:
                with self.subTest(case=name):
                    run = self.run_watched(package, (UNATTENDED + " " + extra).strip())
                    table.append((name, run.exit_code, run.elapsed_ms, len(run.windows)))
                    self.assertFalse(run.timed_out, "waited for a person")
                    self.assertEqual(run.windows, [])
                    self.assertEqual(run.exit_code, code, run.messages()[-30:])
                    if row == "program":
                        self.assertIn("the setup program's own code", rows)
                    elif isinstance(row, str):
                        self.assertIn(row, rows)
                    else:
                        self.assertIn(row, codes)
                    msgs = run.messages()
                    if extra != "/?":  # help returns before the shutdown
                        self.assertIn(end_line(code), msgs)
                    if name.startswith("/X:"):
                        # Refused before the setup phase: nothing extracted anywhere.
                        self.assertFalse([m for m in msgs if m.startswith("ReadDataStruct()")])
                    if code not in (0, 3010) and row != "program":
                        # The failure is said, in the trace instead of a box:
                        # what happened and what to do, under the product's
                        # name, then the code.
                        said = [m for m in msgs if m.startswith("MessageBox(%s, " % PRODUCT) or
                                m.startswith("WinMain()->Error %d: " % code)]
                        self.assertTrue(said, msgs[-30:])
                        # One trace line: the message, then the code.
                        text = (said[0][len("MessageBox(%s, " % PRODUCT):]
                                if said[0].startswith("MessageBox(") else said[0].split(": ", 1)[1])
                        self.assertIn(PRODUCT, text)
                        self.assertIn("\\n\\nError code: %d" % code, said[0])
                        self.assertNotIn("(%d) " % code, said[0])
        finally:
            print("\nunattended runs (%s):" % UNATTENDED)
            for name, code, ms, windows in table:
                print("  %-32s exit %-5s %6s ms  windows %d" % (name, code, ms, windows))
            subprocess.run([harness.WINE_RUN, "reg", "delete", RUNONCE, "/v", PRODUCT, "/f"],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        self.assertTrue(os.path.isfile(os.path.join(extract, "docs", "manual.txt")))

    def test_quoted_command_lines_of_deployment_tools(self):
        target = os.path.join(self.case, "my-app", "x 1")
        cases = [
            # arguments, exit code, what the trace must hold
            ('"/S" "/SUPPRESSMSGBOXES" "/CMDLINE:--exit 4 --alpha"', 4,
             ["WinMain()->Silent mode parameter", "WinMain()->CMDLINE parameter: --exit 4 --alpha"]),
            ('"-s" "-suppressmsgboxes" "/X:%s"' % harness.win_path(target), 0,
             ["WinMain()->TgdFolder=" + harness.win_path(target)]),
            ('/LANG:1036/S /SUPPRESSMSGBOXES /CMDLINE:"--exit 6"', 6,
             ["WinMain()->Language parameter: 1036", "WinMain()->Silent mode parameter"]),
        ]
        for args, code, lines in cases:
            with self.subTest(args=args):
                run = self.run_watched(self.good, args)
                self.assertEqual(run.windows, [])
                self.assertEqual(run.exit_code, code)
                for line in lines:
                    self.assertIn(line, run.messages())
        self.assertTrue(os.path.isfile(os.path.join(target, "fakesetup.exe")))

    def test_the_exit_code_table_is_the_same_everywhere(self):
        self.assertGreater(len(exit_code_table("README.md")), 10)
        self.assertEqual(exit_code_table("docs/command-line.md"), exit_code_table("README.md"))
        # No code of the launcher's own has two meanings: each stands in one row.
        seen = {}
        for row in readme_exit_codes()[0]:
            for code in re.findall(r"\b\d+\b", row):
                self.assertNotIn(code, seen, "%s in '%s' and in '%s'" % (code, seen.get(code), row))
                seen[code] = row

    def log_lines(self, path):
        with open(path, "rb") as f:
            data = f.read()
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"))
        lines = data[3:].decode("utf-8").split("\r\n")
        self.assertEqual(lines[-1], "")
        # Date, time and the writing process's id before each line.
        stamp = re.compile(r"^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} (\d+) (.*)$")
        out = []
        self.pids = []
        for line in lines[:-1]:
            m = stamp.match(line)
            self.assertIsNotNone(m, line)
            self.pids.append(m.group(1))
            out.append(m.group(2))
        return out

    def test_log_file_holds_the_monitors_lines(self):
        log = os.path.join(self.case, "logs dir", "run-1.log")
        os.makedirs(os.path.dirname(log))
        run = self.run_watched(self.good, UNATTENDED + ' /LOG:"%s" /CMDLINE:"--exit 0"'
                               % harness.win_path(log))
        self.assertEqual(run.exit_code, 0)
        module = "[good.exe] "
        monitor = [l for l in run.lines() if l.startswith(module)]
        self.assertGreater(len(monitor), 50)
        # The same lines; where the worker and the window's thread trace at
        # once, they may pass each other between the monitor and the file.
        self.assertCountEqual(self.log_lines(log), monitor)
        self.assertEqual(monitor[0], module + "Begin...")
        self.assertEqual(monitor[-1], module + "WinMain()->End(0)")

        # A second run appends.
        run = self.run_watched(self.good, UNATTENDED + ' -LOG:"%s" /CMDLINE:"--exit 3"'
                               % harness.win_path(log))
        self.assertEqual(run.exit_code, 3)
        lines = self.log_lines(log)
        self.assertEqual(lines.count(module + "Begin..."), 2)
        self.assertEqual(lines[-1], module + "WinMain()->End(0x3)")
        # The two runs' lines are told apart by their process ids.
        second = lines.index(module + "Begin...", 1)
        self.assertEqual(len(set(self.pids[:second])), 1)
        self.assertEqual(len(set(self.pids[second:])), 1)
        self.assertNotEqual(self.pids[0], self.pids[-1])

    def test_a_log_that_cannot_be_written_changes_nothing(self):
        for log in (os.path.join(self.case, "missing", "deeper", "a.log"), self.case,
                    os.path.join(self.case, "bad|name.log")):
            with self.subTest(log=log):
                if os.path.exists(self.record):
                    os.remove(self.record)
                run = self.run_watched(self.good, UNATTENDED + ' /LOG:"%s" /CMDLINE:"--exit 0"'
                                       % harness.win_path(log))
                self.assertEqual(run.exit_code, 0)
                self.assertEqual(run.windows, [])
                self.assertTrue(os.path.exists(self.record))
                self.assertIn("WinMain()->Log file parameter: %s (0)" % harness.win_path(log),
                              run.messages())
                self.assertFalse(os.path.isfile(log))


if __name__ == "__main__":
    harness.main()
