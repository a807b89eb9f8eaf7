"""The command lines deployment tools write, run for real: which options the
package obeys, and what its setup program receives (from the program's own
record). Values stay values, quotes reach the setup program, secrets stay
out of the trace, and an /X: that names a file has a code of its own."""
import os
import shutil
import tempfile
import unittest

import harness
import runkit

SILENT = "WinMain()->Silent mode parameter"
NO_LICENSE = "WinMain()->No license parameter"
EXTRACT = "WinMain()->Params=/X: "
LOG = "WinMain()->Log file parameter: "


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        for tool in ("launcher.exe", "fakesetup.exe"):
            if not os.path.exists(harness.exe(tool)):
                self.skipTest(tool + " is not built")
        self.work = tempfile.mkdtemp(prefix="stowaway-cmdline-")
        self.record = os.path.join(self.work, "record.txt")
        self.guid = runkit.new_guid()

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def package(self, cmdline=None):
        configured = '--record "%s"' % harness.win_path(self.record)
        if cmdline:
            configured += " " + cmdline
        folder = os.path.join(self.work, "pkg%d" % len(os.listdir(self.work)))
        return runkit.beside_package(folder, "Sample",
                                     runkit.base_config(self.guid, cmdline=configured))

    def received(self):
        """What the setup program got after its configured --record option."""
        record = runkit.read_record(self.record)
        if "cmdline" not in record:
            return None
        marker = '--record "%s"' % harness.win_path(self.record)
        line = record["cmdline"][0]
        tail = line[line.index(marker) + len(marker):]
        return tail[1:] if tail.startswith(" ") else tail

    def run_line(self, args, cmdline=None):
        if os.path.exists(self.record):
            os.remove(self.record)
        run = runkit.LauncherRun(self.package(cmdline), args)
        code = run.run()
        return code, run

    def test_options_are_whole_arguments_and_values_reach_the_setup_program(self):
        out = harness.win_path(os.path.join(self.work, "out"))
        cases = [
            # command line, silent, /X: value (None: no /X:), no license,
            # what the setup program receives (None: it does not run)
            ('/S /CMDLINE:"/X:C:\\Dest"', True, None, False, "/X:C:\\Dest"),
            ('/CMDLINE:"/qn /S"', False, None, False, "/qn /S"),
            ('/S /SUPPRESSMSGBOXES /X:"%s /NOLICENSE"' % out, True, out + " /NOLICENSE", False,
             None),
            ('/S /CMDLINE:"INSTALLDIR=C:\\App /LOG:C:\\inst.log"', True, None, False,
             "INSTALLDIR=C:\\App /LOG:C:\\inst.log"),
            ('/S /CMDLINE: "C:\\Program Files\\MyApp"', True, None, False,
             '"C:\\Program Files\\MyApp"'),
            ('/S /CMDLINE: "C:\\a b" "C:\\c d"', True, None, False, '"C:\\a b" "C:\\c d"'),
            ('/S /CMDLINE:"/qn INSTALLDIR=\\"C:\\Program Files\\X\\""', True, None, False,
             '/qn INSTALLDIR="C:\\Program Files\\X"'),
            ('/S /CMDLINE: /qn /S /NOLICENSE', True, None, False, "/qn /S /NOLICENSE"),
            ('"/S" "/NOLICENSE" "/CMDLINE:/quiet /norestart"', True, None, True,
             "/quiet /norestart"),
            ("/LANG:1036/S /NOLICENSE", True, None, True, ""),
            ('/S /X:"%s"' % out, True, out, False, None),
        ]
        for line, silent, xvalue, nolicense, received in cases:
            with self.subTest(line=line):
                code, run = self.run_line(line)
                messages = run.messages()
                if xvalue and xvalue.endswith(" /NOLICENSE"):
                    # Wine keeps "out " with its blank and then finds no
                    # "out \NOLICENSE"; Windows drops the blank and makes it.
                    self.assertIn(code, (0, 3), messages[-20:])
                else:
                    self.assertEqual(code, 0, messages[-20:])
                self.assertEqual(SILENT in messages, silent)
                self.assertEqual(NO_LICENSE in messages, nolicense)
                found = [m[len(EXTRACT):] for m in messages if m.startswith(EXTRACT)]
                self.assertEqual(found, [xvalue] if xvalue is not None else [])
                self.assertFalse([m for m in messages if m.startswith(LOG)])
                self.assertEqual(self.received(), received)

    def test_the_configured_command_line_keeps_its_quotes(self):
        code, run = self.run_line("/S", cmdline='"<PROGRAMFILES>\\Quote Test" /q')
        self.assertEqual(code, 0)
        program_files = run.value("InitPathVar()-><PROGRAMFILES>=")
        self.assertEqual(self.received(), '"%s\\Quote Test" /q' % program_files)
        # A value all in quotes too: the profile functions would drop them.
        sections = runkit.base_config(self.guid, cmdline='"<PROGRAMFILES>\\Quote Test"')
        pkg = runkit.beside_package(os.path.join(self.work, "whole"), "Sample", sections)
        runkit.LauncherRun(pkg, '/S /CMDLINE: --record "%s"'
                           % harness.win_path(self.record)).run()
        record = runkit.read_record(self.record)
        self.assertIn('"%s\\Quote Test" --record' % program_files, record["cmdline"][0])

    def test_secrets_stay_out_of_the_trace_and_the_log(self):
        log = os.path.join(self.work, "run.log")
        code, run = self.run_line('/S /LOG:"%s" /CMDLINE:"SVCPASSWORD=Hunter2xyz '
                                  'api_token=\\"tok en\\" USER=admin"' % harness.win_path(log))
        self.assertEqual(code, 0)
        self.assertEqual(self.received(), 'SVCPASSWORD=Hunter2xyz api_token="tok en" USER=admin')
        with open(log, encoding="utf-8-sig") as f:
            logged = f.read()
        for text in ("\n".join(run.lines()), logged):
            self.assertNotIn("Hunter2xyz", text)
            self.assertNotIn("tok en", text)
            self.assertIn("SVCPASSWORD=***", text)
            self.assertIn("USER=admin", text)

    def test_a_long_extract_folder_takes_every_member(self):
        payload = runkit.sample_payload(os.path.join(self.work, "payload"))
        sections = runkit.base_config(self.guid)
        pkg = runkit.packed_package(os.path.join(self.work, "built"), "Sample", sections,
                                    payload=payload, languages=False)
        # 247 characters: the members below it pass MAX_PATH.
        base = harness.win_path(os.path.join(self.work, "x"))
        folder = base + "d" * (247 - len(base))
        self.assertEqual(len(folder), 247)
        run = runkit.LauncherRun(pkg, '/S /SUPPRESSMSGBOXES /X:"%s"' % folder)
        code = run.run()
        self.assertEqual(code, 0, run.messages()[-20:])
        out = runkit.linux_path(folder)
        for rel in ("readme.txt", os.path.join("docs", "manual.txt"), "fakesetup.exe"):
            with open(os.path.join(payload, rel), "rb") as a, open(os.path.join(out, rel), "rb") as b:
                self.assertEqual(a.read(), b.read(), rel)
        self.assertFalse([m for m in run.messages() if "too long" in m])

    def test_an_extract_folder_that_is_a_file_has_its_own_code(self):
        existing = os.path.join(self.work, "a-file")
        with open(existing, "w") as f:
            f.write("not a folder\n")
        code, run = self.run_line('/S /SUPPRESSMSGBOXES /X:"%s"' % harness.win_path(existing))
        self.assertEqual(code, 267, run.messages()[-20:])
        with open(existing) as f:
            self.assertEqual(f.read(), "not a folder\n")

    def test_a_command_line_longer_than_the_run_keeps_runs_nothing(self):
        # Cut at 7999 characters, /X: would name another folder: nothing is
        # extracted or started, and the code says why (206).
        folder = harness.win_path(os.path.join(self.work, "out"))
        args = '/S /SUPPRESSMSGBOXES /X:"%s" /CMDLINE:"%s"' % (folder, "a" * 8000)
        code, run = self.run_line(args)
        self.assertEqual(code, 206, run.messages()[-20:])
        self.assertIn("WinMain()->The command line is longer than 7999 characters: nothing done",
                      run.messages())
        self.assertFalse(os.path.exists(runkit.linux_path(folder)))
        self.assertFalse(os.path.exists(self.record))


if __name__ == "__main__":
    unittest.main(verbosity=2)
