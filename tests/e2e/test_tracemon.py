"""tracemon receives what a program traces, in order, and stops on request."""
import os
import re
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

    def test_stamp_begins_each_line_with_its_arrival_time(self):
        with tempfile.TemporaryDirectory() as work:
            with harness.TraceMonitor(work, ["--stamp"]) as mon:
                r = harness.run("tracesend.exe", ["wide text", "ansi text", "2"])
                self.assertEqual(r.returncode, 0)
            lines = mon.lines()
            self.assertEqual(len(lines), 4, lines)
            times = []
            for line in lines:
                m = re.match(r"(\d\d):(\d\d):(\d\d)\.(\d\d\d) \[tracesend\.exe\] tracesend\(\)->", line)
                self.assertIsNotNone(m, line)
                h, mi, s, ms = (int(g) for g in m.groups())
                times.append(((h * 60 + mi) * 60 + s) * 1000 + ms)
            # In order of arrival (a day may turn over between two lines).
            self.assertTrue(all(b >= a or a - b > 23 * 3600 * 1000 for a, b in zip(times, times[1:])),
                            lines)

    def test_help_and_bad_option(self):
        r = harness.run("tracemon.exe", ["--help"])
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"--until-file", r.stdout)
        self.assertIn(b"--stamp", r.stdout)
        r = harness.run("tracemon.exe", ["--seconds", "x"])
        self.assertEqual(r.returncode, 2)

    def test_stops_after_seconds(self):
        r = harness.run("tracemon.exe", ["--seconds", "1"], timeout=30)
        self.assertEqual(r.returncode, 0)


if __name__ == "__main__":
    harness.main()
