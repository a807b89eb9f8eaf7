"""The run flow as a user or an administrator's script meets it, with
packages whose files lie beside the launcher (its NAME.cfg and the setup
program): help and information boxes, the status windows, silent modes,
the setup program's command line and exit code, a second start."""
import os
import shutil
import tempfile
import time
import unittest

import harness
import runkit

HELP_TEXT = "\n".join([
    "Command line options:", "",
    "/? - Show this list",
    "/INFO - Show information about the package",
    "/S - Silent: no windows, no license",
    "/FULLSILENT - Silent, and no tray icon or balloon messages",
    "/SUPPRESSMSGBOXES - No message boxes: each takes its default answer",
    "/LOG:file - Append the trace, with the time, to a log file",
    "/X:folder - Extract the files into the folder and keep them; launch nothing",
    "/CMDLINE:options - Options for the setup program (a blank after the colon: the rest of "
    "the line, as written)",
    "/LANG:xxxx - Force the language of the installation",
    "/FD - Download the web files even when a copy lies beside the package",
    "/NORESUME - Start over instead of resuming an interrupted run",
    "/WITHPROGRESS - Keep the status window up while the setup program runs",
    "/NOLICENSE - Do not show the license",
    "/NOBALLOON - No tray icon or balloon messages",
    "/SMALLSTATUS - Use the small status window",
    "/NORMALSTATUS - Use the normal status window",
    "/NOTOOLBAR - Accepted for older command lines; changes nothing",
])
LANGUAGES = [(1033, "EnglishUS.lng"), (1036, "French.lng"), (1031, "German.lng"),
             (1040, "Italian.lng"), (1034, "Spanish.lng")]


def box_text(dump):
    """The message text of a message box dump (its longest static text)."""
    statics = [c["text"] for c in runkit.parse_controls(dump)
               if c["kind"] == "control" and c.get("class", "").lower() == "static"]
    return max(statics, key=len) if statics else None


class RunFlowTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="stowaway-flow-")
        self.pkg_dir = os.path.join(self.work, "pkg")
        self.record = os.path.join(self.work, "record.txt")
        self.started = os.path.join(self.work, "started.flag")
        self.release = os.path.join(self.work, "release.flag")
        self.guid = runkit.new_guid()

    def tearDown(self):
        open(self.release, "w").close()
        shutil.rmtree(self.work, ignore_errors=True)

    def setup_args(self, extra="--exit 3010", wait=False):
        args = '--record "%s" --touch "%s" ' % (harness.win_path(self.record),
                                               harness.win_path(self.started))
        if wait:
            args += '--wait-file "%s" ' % harness.win_path(self.release)
        return args + extra + " <SETUPZK>"

    def package(self, name="Sample", cmdline=None, **runtime):
        sections = runkit.base_config(self.guid, cmdline=cmdline or self.setup_args(), **runtime)
        return runkit.beside_package(self.pkg_dir, name, sections)

    def scratch(self, run):
        path = run.value("WinMain()->TempPathTRV=")
        return runkit.linux_path(path) if path else None

    # -- boxes -------------------------------------------------------------

    def test_help_shows_the_exact_text_and_leaves_nothing(self):
        run = runkit.LauncherRun(self.package(), "/?").start()
        rc, dump = runkit.uiauto("dump", "--title", "Help", "--class", "#32770")
        self.assertEqual(rc, 0, dump)
        self.assertEqual(box_text(dump), HELP_TEXT)
        runkit.uiauto("click", "--title", "Help", "--class", "#32770", "--text", "OK")
        self.assertEqual(run.wait(), 0)
        self.assertIn("WinMain()->Help (?) mode parameter", run.messages())
        # The scratch folder that the language library comes from is gone.
        scratch = self.scratch(run)
        self.assertTrue(scratch)
        self.assertFalse(os.path.exists(scratch))
        self.assertFalse(os.path.exists(self.record))

    def test_help_lists_exactly_the_options_in_the_packages_language(self):
        # The language libraries travel in the package's language pack.
        sections = runkit.base_config(self.guid, cmdline=self.setup_args(), Languages=LANGUAGES)
        # /? needs no payload: the package carries none.
        pkg = runkit.packed_package(os.path.join(self.work, "packed"), "Sample", sections,
                                    allow_missing=["ExeFileName"])
        options = None
        for lang, caption in ((1036, "Aide"), (1031, "Hilfe"), (1033, "Help")):
            with self.subTest(lang=lang):
                run = runkit.LauncherRun(pkg, "/? /LANG:%d" % lang).start()
                rc, dump = runkit.uiauto("dump", "--title", caption, "--class", "#32770")
                self.assertEqual(rc, 0, dump)
                runkit.uiauto("click", "--title", caption, "--class", "#32770", "--text", "OK")
                self.assertEqual(run.wait(), 0)
                text = box_text(dump)
                # "/LOG:fichier": the option is what comes before its value.
                listed = [l.split(" - ")[0] for l in text.split("\n") if l.startswith("/")]
                listed = [o[:o.index(":") + 1] if ":" in o else o for o in listed]
                # The same options in every language, each once, and only
                # options the package reads.
                self.assertEqual(len(listed), len(set(listed)))
                options = options or sorted(listed)
                self.assertEqual(sorted(listed), options)
        self.assertEqual(options, sorted([
            "/?", "/INFO", "/S", "/FULLSILENT", "/SUPPRESSMSGBOXES", "/LOG:", "/X:", "/CMDLINE:",
            "/LANG:", "/FD", "/NORESUME", "/WITHPROGRESS", "/NOLICENSE", "/NOBALLOON",
            "/SMALLSTATUS", "/NORMALSTATUS", "/NOTOOLBAR"]))

    def test_info_names_the_product_and_lists_the_languages_and_leaves_no_folder(self):
        run = runkit.LauncherRun(self.package(Languages=LANGUAGES), "-info").start()
        rc, dump = runkit.uiauto("dump", "--title", "Stowaway Sample", "--class", "#32770")
        self.assertEqual(rc, 0, dump)
        runkit.uiauto("click", "--title", "Stowaway Sample", "--class", "#32770", "--text", "OK")
        self.assertEqual(run.wait(), 0)
        text = box_text(dump)
        self.assertEqual(text, text.rstrip(), "no blank line below the list")
        lines = text.split("\n")
        self.assertEqual(lines[:4], ["Stowaway Sample", "Version 1.0", "", "Languages available:"])
        listed = lines[4:]
        self.assertEqual([int(l.split(" - ")[0]) for l in listed], [i for i, _ in LANGUAGES])
        # Each language under the name its speakers give it.
        self.assertEqual(listed[0], "1033 - English (United States)")
        self.assertEqual(listed[1], "1036 - fran\u00e7ais (France)")
        self.assertTrue(all(len(l.split(" - ", 1)[1]) > 0 for l in listed), listed)
        scratch = self.scratch(run)
        self.assertTrue(scratch)
        self.assertFalse(os.path.exists(scratch))
        self.assertFalse(os.path.exists(self.record))

    # -- the run -----------------------------------------------------------

    def test_status_windows_and_the_setup_exit_code(self):
        for option, template_has_cancel in (("/NORMALSTATUS", True), ("/SMALLSTATUS", False)):
            with self.subTest(option=option):
                for f in (self.record, self.started, self.release):
                    if os.path.exists(f):
                        os.remove(f)
                pkg = self.package(cmdline=self.setup_args(wait=True), DialogInRun=1)
                run = runkit.LauncherRun(pkg, option).start()
                self.assertTrue(harness.wait_for(lambda: os.path.exists(self.started), 60))
                rc, dump = runkit.uiauto("dump", "--title", "Stowaway Sample")
                open(self.release, "w").close()
                self.assertEqual(run.wait(), 3010)
                self.assertEqual(rc, 0, dump)
                controls = runkit.parse_controls(dump)
                ids = {c.get("id") for c in controls if c["kind"] == "control"}
                self.assertIn("1500", ids)
                self.assertEqual("1501" in ids, template_has_cancel)
                self.assertIn("WinMain()->End(0xbc2)", run.messages())
                rec = runkit.read_record(self.record)
                self.assertTrue(rec["arg"][-1].startswith("/SETUPZK:"), rec)
                scratch = self.scratch(run)
                self.assertFalse(os.path.exists(scratch))
                # The program's own folder is never removed.
                self.assertTrue(os.path.exists(pkg))

    def test_silent_modes_show_nothing_and_still_run(self):
        for option in ("/S", "/FULLSILENT", "-s"):
            with self.subTest(option=option):
                for f in (self.record, self.started, self.release):
                    if os.path.exists(f):
                        os.remove(f)
                run = runkit.LauncherRun(self.package(cmdline=self.setup_args(wait=True)),
                                         option).start()
                self.assertTrue(harness.wait_for(lambda: os.path.exists(self.started), 60))
                rc, listing = runkit.uiauto("list")
                open(self.release, "w").close()
                self.assertEqual(run.wait(), 3010)
                self.assertNotIn("Stowaway Sample", listing)
                self.assertIn("WinMain()->Silent mode parameter" if option != "/FULLSILENT"
                              else "WinMain()->Full Silent mode parameter", run.messages())
                self.assertTrue(os.path.exists(self.record))

    def test_cmdline_option_with_and_without_a_blank(self):
        cases = (("/CMDLINE: --alpha --beta", ["--alpha", "--beta"]),
                 ("/CMDLINE:--alpha --beta", ["--alpha"]))
        for option, expected in cases:
            with self.subTest(option=option):
                if os.path.exists(self.record):
                    os.remove(self.record)
                run = runkit.LauncherRun(self.package(), "/S " + option)
                self.assertEqual(run.run(), 3010)
                args = runkit.read_record(self.record)["arg"]
                # The configured command line first, then the option's value.
                self.assertEqual(args[-len(expected):], expected)
                self.assertTrue(args[-len(expected) - 1].startswith("/SETUPZK:"))

    def test_second_start_exits_183_and_leaves_the_first_run_alone(self):
        pkg = self.package(cmdline=self.setup_args(wait=True, extra="--exit 0"))
        first = runkit.LauncherRun(pkg, "/S").start()
        self.assertTrue(harness.wait_for(lambda: os.path.exists(self.started), 60))
        scratch = None
        for m in first.messages():
            if m.startswith("WinMain()->TempPathTRV="):
                scratch = runkit.linux_path(m.split("=", 1)[1])
        self.assertTrue(scratch and os.path.isdir(scratch))
        second = runkit.LauncherRun(pkg, "/S", work=os.path.join(self.work, "second"))
        os.makedirs(second.work, exist_ok=True)
        # The first run's monitor gets the lines of both; the second has its own.
        self.assertEqual(second.run(), 183)
        self.assertTrue(os.path.isdir(scratch), "the second start removed the first's folder")
        open(self.release, "w").close()
        self.assertEqual(first.wait(), 0)
        self.assertFalse(os.path.exists(scratch))
        self.assertTrue(any(m == "WinMain()->Project already in memory (%s)" % self.guid
                            for m in first.messages() + second.messages()))


if __name__ == "__main__":
    harness.main()
