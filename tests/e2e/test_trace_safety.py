"""The trace and the windows that receive it, run as a user would run a
package: passwords of downloads never reach a monitor, and a monitor window
that stops answering does not hold a run up."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

import harness
import runkit

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "servers"))
import control  # noqa: E402

WEB_NAME = "extra.zip"


def hung_windows(work):
    """tracecheck's monitor and list windows that stop answering once ready;
    returns (process, ready file, release file)."""
    ready = os.path.join(work, "hung.ready")
    release = os.path.join(work, "hung.release")
    proc = harness.start("tracecheck.exe", ["hungwindows", harness.win_path(ready),
                                            harness.win_path(release)], cwd=work)
    if not harness.wait_for(lambda: os.path.exists(ready), 60):
        proc.kill()
        raise RuntimeError("tracecheck did not start")
    return proc, ready, release


class TraceSafetyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="stowaway-trace-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.case = tempfile.mkdtemp(prefix="case_", dir=self.work)
        self.record = os.path.join(self.case, "record.txt")

    def test_no_password_reaches_the_trace(self):
        with control.NetServers() as servers:
            user, password = servers.info["ftp_user"], servers.info["ftp_password"]
            web = os.path.join(servers.www, "web")
            os.makedirs(web)
            archive = os.path.join(self.case, WEB_NAME)
            with zipfile.ZipFile(archive, "w") as z:
                z.writestr("webdata.txt", "fetched with a login\n")
            ftp_base = "ftp://%s:%s@127.0.0.1:%d/web/" % (user, password, servers.port("ftp"))
            got = [os.path.join(self.case, "got%d.zip" % i) for i in (1, 2)]
            payload = os.path.join(self.case, "payload")
            os.makedirs(payload)
            with open(os.path.join(payload, "script.ini"), "w", newline="\r\n") as f:
                f.write("[Scripttrv]\n"
                        "DOWNLOADFILE=%s%s,%s\n" % (ftp_base, WEB_NAME, harness.win_path(got[0])) +
                        "DOWNLOADFILE=%s,%s,%s,%s\n" % (servers.url("ftp", "/web/" + WEB_NAME),
                                                        harness.win_path(got[1]), user, password))
            sections = runkit.base_config(runkit.new_guid(), WebDownloadUrl=ftp_base, LaunchExe=0,
                                          CopyToTemp=0, TargetFolder="<TEMPTRV>", RunScript=1,
                                          ScriptFile="script.ini")
            cfg = os.path.join(self.case, "project.cfg")
            runkit.write_config(cfg, sections)
            out = os.path.join(self.case, "out")
            os.makedirs(out)
            pkg = os.path.join(out, "Sample.exe")
            r = subprocess.run([runkit.PACKER, "build", "--out", pkg, "--config", cfg,
                                "--embed-config", "--folder", payload,
                                "--web", "%s=%s" % (archive, WEB_NAME), "--web-folder", web],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=600)
            self.assertEqual(r.returncode, 0, r.stdout.decode("utf-8", "replace"))

            run = runkit.LauncherRun(pkg, "/S")
            run.run()
        lines = run.mon.lines()
        msgs = run.messages()
        # Three downloads with a login: the web record, then both script lines.
        self.assertEqual(msgs.count("DownloadFile()->End(0)"), 3, msgs)
        self.assertTrue(all(os.path.exists(g) for g in got), msgs)
        self.assertFalse([l for l in lines if password in l])
        self.assertTrue([m for m in msgs if m.startswith("DownloadFTPFile()->") and "PwdFTP=***" in m])
        read = [m for m in msgs if m.startswith("ReadScript()->Good function(")]
        self.assertEqual(len(read), 2, msgs)
        self.assertIn("://%s:***@127.0.0.1:" % user, read[0])
        self.assertTrue(read[1].endswith(",%s,***)" % user), read[1])

    def test_a_hung_monitor_does_not_hold_the_run_up(self):
        # Wine passes the low 8 bits of an exit code on.
        args = '--record "%s" --exit 37' % harness.win_path(self.record)
        pkg = runkit.beside_package(os.path.join(self.case, "pkg"), "Sample",
                                    runkit.base_config(runkit.new_guid(), cmdline=args))
        started = time.time()
        self.assertEqual(harness.run(pkg, ["/S"], timeout=120, cwd=self.case).returncode, 37)
        alone = time.time() - started

        proc, ready, release = hung_windows(self.case)
        try:
            os.remove(self.record)
            started = time.time()
            code = harness.run(pkg, ["/S"], timeout=120, cwd=self.case).returncode
            hung = time.time() - started
            # The run is over while the windows still do not answer.
            self.assertFalse(os.path.exists(release))
        finally:
            open(release, "w").close()
            out, _ = proc.communicate(timeout=90)
        self.assertEqual(code, 37)
        self.assertTrue(os.path.exists(self.record))
        report = out.decode("latin-1").splitlines()
        self.assertIn("hung windows woken by: release", report)
        # What timed out may still arrive late; nothing after it was sent.
        self.assertTrue({"hung monitor lines: 0", "hung monitor lines: 1"} & set(report), report)
        self.assertTrue({"hung list lines: 0", "hung list lines: 1"} & set(report), report)
        print("run without a monitor: %.2f s, with a hung monitor: %.2f s" % (alone, hung))


if __name__ == "__main__":
    harness.main()
