"""The tray icon as a user meets it: a silent run that still tells what it
does through the icon and its balloons, the options that turn it off, and
the icon's menu cancelling the run."""
import os
import shutil
import subprocess
import tempfile
import unittest

import harness
import runkit

PRODUCT = "Stowaway Sample"
TRAY_CLASS = "__winex11_standalone_tray"
ICON_CLASS = "__winex11_tray_icon"
BALLOON_CLASS = "tooltips_class32"
SHOTS = os.path.join(harness.ROOT, "build", "screenshots")


def top_window(cls):
    """uiauto's line of the visible top-level window of that class, or None."""
    _, listing = runkit.uiauto("list")
    for line in listing.splitlines():
        if ("class=%s " % cls) in line:
            return line
    return None


def rect_of(line):
    return tuple(int(v) for v in line.split("rect=")[1].split()[0].split(","))


def tray_icon_rect():
    """Rectangle of the first icon in Wine's tray window (shown when the
    desktop has no notification area of its own)."""
    rc, dump = runkit.uiauto("dump", "--class", TRAY_CLASS)
    if rc != 0:
        return None
    for c in runkit.parse_controls(dump):
        if c["kind"] == "control" and c.get("class") == ICON_CLASS:
            return tuple(int(v) for v in c["rect"].split(","))
    return None


def xdotool(*args):
    subprocess.run(["xdotool"] + list(args), env=runkit.display_env(), check=True, timeout=30,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def status_lines(messages):
    """The status window's lines, without its repeated wait polls."""
    return [m for m in messages if m.startswith("StatusProc()->")
            and not m.startswith("StatusProc()->WaitForSingleObject=")
            and not m.startswith("StatusProc()->dwExitCode=")]


class TrayTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="stowaway-tray-")
        self.started = os.path.join(self.work, "started.flag")
        self.release = os.path.join(self.work, "release.flag")
        # A name of its own, so that the test can tell when it has ended.
        self.setup_name = "traysetup%d.exe" % os.getpid()
        # An earlier run's icon is gone before this one starts.
        self.assertTrue(harness.wait_for(lambda: top_window(TRAY_CLASS) is None, 20))

    def tearDown(self):
        open(self.release, "w").close()
        shutil.rmtree(self.work, ignore_errors=True)

    def reset_flags(self):
        for f in (self.started, self.release):
            if os.path.exists(f):
                os.remove(f)

    def package(self, languages=False, **runtime):
        """A packed sample package whose setup program waits for the release file."""
        args = '--touch "%s" --wait-file "%s" --exit 0' % (harness.win_path(self.started),
                                                          harness.win_path(self.release))
        payload = runkit.sample_payload(os.path.join(self.work, "payload"),
                                        setup_name=self.setup_name)
        extra = {"Languages": runkit.LANGUAGE_IDS} if languages else {}
        extra.update(runtime)
        sections = runkit.base_config(runkit.new_guid(), exe=self.setup_name, cmdline=args,
                                      product=PRODUCT, **extra)
        return runkit.packed_package(os.path.join(self.work, "out"), "TraySample", sections,
                                     payload=payload, languages=languages)

    def test_silent_run_shows_the_icon_and_its_balloons(self):
        pkg = self.package(TrayIcon=1, DialogInRun=1)
        run = runkit.LauncherRun(pkg, "/S").start()
        self.assertTrue(harness.wait_for(lambda: os.path.exists(self.started), 90))
        # The icon comes before the extraction: it is up by the time the setup
        # program runs (the runs without an icon look at that moment).
        self.assertIsNotNone(top_window(TRAY_CLASS))
        # No status window, but the icon in the tray.
        self.assertTrue(harness.wait_for(lambda: tray_icon_rect() is not None, 30))
        _, listing = runkit.uiauto("list")
        self.assertNotIn("text=" + PRODUCT, listing)
        os.makedirs(SHOTS, exist_ok=True)
        shot = runkit.screenshot(os.path.join(SHOTS, "tray-silent-run.png"),
                                 rect_of(top_window(TRAY_CLASS)))
        # With its balloon, when it is up (the tray shows balloons one by one).
        if harness.wait_for(lambda: top_window(BALLOON_CLASS), 10):
            runkit.screenshot(os.path.join(SHOTS, "tray-balloon.png"), (0, 0, 420, 200))
        self.assertTrue(os.path.getsize(shot) > 0)
        # The icon is drawn: its square is not one flat colour.
        x1, y1, x2, y2 = tray_icon_rect()
        crop = subprocess.run(["convert", shot, "-crop", "%dx%d+%d+%d" % (
            x2 - x1, y2 - y1, x1 - rect_of(top_window(TRAY_CLASS))[0],
            y1 - rect_of(top_window(TRAY_CLASS))[1]), "-format", "%k", "info:"],
            capture_output=True, text=True, timeout=30)
        self.assertGreater(int(crop.stdout.strip() or 0), 1, crop.stderr)

        open(self.release, "w").close()
        # The run ends after its own five-second pause over the last balloon.
        self.assertEqual(run.wait(), 0)
        msgs = run.messages()
        for line in ("CSystemTray::Create()->Balloon(Preparing to install..., %s)" % PRODUCT,
                     "CSystemTray::Create(%s)->NIM_ADD=1" % PRODUCT,
                     "ShowBalloon(Ready to install..., %s)" % PRODUCT,
                     "ShowBalloon(Setup is complete. You can run the installed program by "
                     "double-clicking its icon., %s)" % PRODUCT,
                     "RemoveIcon()->1"):
            self.assertIn(line, msgs)
        self.assertTrue(harness.wait_for(lambda: top_window(TRAY_CLASS) is None, 20))

    def test_icon_hides_while_the_setup_program_runs_alone(self):
        pkg = self.package(TrayIcon=1, DialogInRun=0)
        run = runkit.LauncherRun(pkg, "/S").start()
        self.assertTrue(harness.wait_for(lambda: os.path.exists(self.started), 90))
        open(self.release, "w").close()
        self.assertEqual(run.wait(), 0)
        msgs = run.messages()
        self.assertIn("HideIcon()->1", msgs)
        self.assertIn("RemoveIcon()->1", msgs)

    def test_no_icon_and_no_balloon_when_turned_off(self):
        cases = (("/FULLSILENT", "WinMain()->Full Silent mode parameter"),
                 ("/S /NOBALLOON", "WinMain()->No balloon parameter"),
                 ("/NOBALLOON", "WinMain()->No balloon parameter"))
        pkg = self.package(TrayIcon=1, DialogInRun=1)
        for option, trace in cases:
            with self.subTest(option=option):
                self.reset_flags()
                run = runkit.LauncherRun(pkg, option).start()
                self.assertTrue(harness.wait_for(lambda: os.path.exists(self.started), 90))
                # An icon would have come before the extraction: none is up
                # while the setup program runs.
                self.assertIsNone(top_window(TRAY_CLASS))
                open(self.release, "w").close()
                self.assertEqual(run.wait(), 0)
                msgs = run.messages()
                self.assertIn(trace, msgs)
                self.assertFalse([m for m in msgs if m.startswith("CSystemTray::")], msgs)
                self.assertFalse([m for m in msgs if m.startswith("ShowBalloon(")], msgs)

    def cancelled_run(self, pkg, option, cancel):
        self.reset_flags()
        run = runkit.LauncherRun(pkg, option).start()
        self.assertTrue(harness.wait_for(lambda: os.path.exists(self.started), 90))
        cancel(run)
        # A user's cancel is confirmed first.
        self.assertTrue(runkit.confirm_cancel(PRODUCT), run.messages()[-20:])
        # The run ends only once its setup program has: it removes the
        # program's files only then.
        self.assertTrue(harness.wait_for(
            lambda: "StatusProc()->WM_DESTROY" in run.messages(), 30))
        self.assertIsNone(run.proc.poll())
        open(self.release, "w").close()
        code = run.wait(timeout=60)
        self.assertTrue(harness.wait_for(lambda: subprocess.run(
            ["pgrep", "-f", self.setup_name], stdout=subprocess.DEVNULL).returncode != 0, 30))
        return code, run.messages()

    def test_exit_in_the_icon_menu_cancels_like_cancel(self):
        pkg = self.package(languages=True, TrayIcon=1, DialogInRun=1)

        def click_cancel(run):
            rc, _ = runkit.uiauto("wait", "--title", PRODUCT, "--timeout", "30000")
            self.assertEqual(rc, 0)
            runkit.uiauto("click", "--title", PRODUCT, "--id", "2")

        def dismiss_balloon(run, text):
            self.assertTrue(harness.wait_for(
                lambda: run.value("ShowBalloon(%s, " % text) is not None, 30))
            if harness.wait_for(lambda: top_window(BALLOON_CLASS) is not None, 10):
                runkit.uiauto("close", "--class", BALLOON_CLASS)
            self.assertTrue(harness.wait_for(lambda: top_window(BALLOON_CLASS) is None, 10))

        def choose_exit(run):
            self.assertTrue(harness.wait_for(lambda: tray_icon_rect() is not None, 30))
            # A balloon over the icon would take the click: the last one before
            # the setup program runs comes up shortly after it is asked for,
            # and is closed as a user would.
            dismiss_balloon(run, "Ready to install...")
            x1, y1, x2, y2 = tray_icon_rect()
            xdotool("mousemove", str((x1 + x2) // 2), str((y1 + y2) // 2), "click", "3")
            self.assertTrue(harness.wait_for(lambda: top_window("#32768"), 20))
            # Two items, "&Open" then "&Exit": the lower half is "&Exit".
            mx1, my1, mx2, my2 = rect_of(top_window("#32768"))
            os.makedirs(SHOTS, exist_ok=True)
            runkit.screenshot(os.path.join(SHOTS, "tray-menu.png"), (0, 0, mx2 + 20, my2 + 20))
            xdotool("mousemove", str(mx1 + 15), str(my1 + (my2 - my1) * 3 // 4), "click", "1")

        by_button, button_msgs = self.cancelled_run(pkg, "/NOLICENSE", click_cancel)
        by_menu, menu_msgs = self.cancelled_run(pkg, "/S", choose_exit)
        self.assertEqual(by_menu, by_button)
        self.assertIn("OnTrayNotification()->WM_RBUTTONUP", menu_msgs)
        self.assertTrue([m for m in menu_msgs if m.startswith("StatusProc()->IDCANCEL - wParam=")
                         and m.endswith(" lParam=8006")], menu_msgs)
        self.assertTrue([m for m in button_msgs
                         if m.startswith("StatusProc()->IDCANCEL - wParam=")
                         and m.endswith(" lParam=2")], button_msgs)

        def shape(lines):
            """From the cancel on, the status window's steps."""
            steps = [l.split(" - ")[0] for l in status_lines(lines)]
            return steps[steps.index("StatusProc()->IDCANCEL"):]
        self.assertEqual(shape(menu_msgs), shape(button_msgs))
        self.assertIn("RemoveIcon()->1", menu_msgs)


if __name__ == "__main__":
    harness.main()
