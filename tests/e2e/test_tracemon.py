"""tracemon receives what a program traces, in order, and stops on request."""
import os
import tempfile
import unittest

import harness


class TraceMonitorTest(unittest.TestCase):
    def test_receives_both_entry_points_in_order(self):
        with tempfile.TemporaryDirectory() as work:
            with harness.TraceMonitor(work) as mon:
                r = harness.run("tracesend.exe", ["wide text", "ansi text", "3"])
                self.assertEqual(r.returncode, 0)
            self.assertEqual(mon.messages(), [
                "tracesend()->wide text (0)", "tracesend()->ansi text (0)",
                "tracesend()->wide text (1)", "tracesend()->ansi text (1)",
                "tracesend()->wide text (2)", "tracesend()->ansi text (2)",
            ])
            self.assertTrue(all(l.startswith("[tracesend.exe] ") for l in mon.lines()))

    def test_help_and_bad_option(self):
        r = harness.run("tracemon.exe", ["--help"])
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"--until-file", r.stdout)
        r = harness.run("tracemon.exe", ["--seconds", "x"])
        self.assertEqual(r.returncode, 2)

    def test_stops_after_seconds(self):
        r = harness.run("tracemon.exe", ["--seconds", "1"], timeout=30)
        self.assertEqual(r.returncode, 0)


if __name__ == "__main__":
    harness.main()
