"""Packages with a web record, run as a user would run them against loopback
servers: the file is fetched before extraction when it is not beside the
package, copied when it is (unless /FD), and a server that is down ends the
run with the lost-connection message and no temporary folder left."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

import harness
import runkit

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "servers"))
import control  # noqa: E402

PRODUCT = "Stowaway Sample"
WEB_NAME = "extra.zip"
LOST_TEXT = ("The Internet connection was lost while the files of %s were being downloaded.\n"
             "Check your connection, then run the setup again.\n\nError code: 1236" % PRODUCT)


def box_text(dump):
    statics = [c["text"] for c in runkit.parse_controls(dump)
               if c["kind"] == "control" and c.get("class", "").lower() == "static"]
    return max(statics, key=len) if statics else None


class WebPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.servers = control.NetServers(ftp=False).start()
        cls.work = tempfile.mkdtemp(prefix="stowaway-web-")
        cls.payload = runkit.sample_payload(os.path.join(cls.work, "payload"))
        cls.archive = os.path.join(cls.work, WEB_NAME)
        with zipfile.ZipFile(cls.archive, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("webdata.txt", "fetched from the web\n" * 50)
        cls.web_dir = os.path.join(cls.servers.www, "web")
        os.makedirs(cls.web_dir, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        cls.servers.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.case = tempfile.mkdtemp(prefix="case_", dir=self.work)
        self.record = os.path.join(self.case, "record.txt")
        self.guid = runkit.new_guid()

    def build(self, base_url):
        args = '--record "%s" --exit 3010' % harness.win_path(self.record)
        sections = runkit.base_config(self.guid, cmdline=args, WebDownloadUrl=base_url)
        out_dir = os.path.join(self.case, "out")
        os.makedirs(out_dir)
        cfg = os.path.join(self.case, "project.cfg")
        runkit.write_config(cfg, sections)
        out = os.path.join(out_dir, "Sample.exe")
        r = subprocess.run([runkit.PACKER, "build", "--out", out, "--config", cfg, "--embed-config",
                            "--folder", self.payload, "--web", "%s=%s" % (self.archive, WEB_NAME),
                            "--web-folder", self.web_dir],
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=600)
        self.assertEqual(r.returncode, 0, r.stdout.decode("utf-8", "replace"))
        # The upload copy is what the server gives.
        self.assertTrue(os.path.exists(os.path.join(self.web_dir, WEB_NAME)))
        return out

    def fetches(self, before):
        return [l for l in self.servers.requests()[before:] if "GET /web/" + WEB_NAME in l]

    def extracted(self):
        return runkit.read_record(self.record).get("file", [])

    def test_absent_file_is_downloaded_before_extraction(self):
        pkg = self.build(self.servers.url("http", "/web/"))
        before = len(self.servers.requests())
        run = runkit.LauncherRun(pkg, "/S")
        self.assertEqual(run.run(), 3010)
        self.assertEqual(len(self.fetches(before)), 1, self.servers.requests())
        self.assertIn("webdata.txt", self.extracted())
        msgs = run.messages()
        done = [i for i, m in enumerate(msgs) if m == "DownloadFile()->End(0)"]
        extract = [i for i, m in enumerate(msgs) if m.startswith("ReadDataStruct()->ExtractPieceOfFile(")]
        self.assertTrue(done and extract, msgs)
        self.assertLess(done[0], extract[0])
        self.assertFalse(os.path.exists(runkit.linux_path(run.value("WinMain()->TempPathTRV="))))

    def test_file_beside_is_copied_unless_forced(self):
        pkg = self.build(self.servers.url("http", "/web/"))
        shutil.copy(self.archive, os.path.join(os.path.dirname(pkg), WEB_NAME))
        for option, downloads in (("/S", 0), ("/S /FD", 1)):
            with self.subTest(option=option):
                if os.path.exists(self.record):
                    os.remove(self.record)
                before = len(self.servers.requests())
                run = runkit.LauncherRun(pkg, option)
                self.assertEqual(run.run(), 3010)
                self.assertEqual(len(self.fetches(before)), downloads, self.servers.requests())
                self.assertIn("webdata.txt", self.extracted())
                copied = any(m.startswith("ReadDataStruct()->XCopyFile(") for m in run.messages())
                self.assertEqual(copied, downloads == 0)

    def test_server_down_ends_with_the_lost_connection_message(self):
        pkg = self.build("http://127.0.0.1:%d/web/" % runkit.free_port())
        run = runkit.LauncherRun(pkg, "/NOLICENSE").start()
        # The status window carries the same title: wait for the box on top of it.
        seen = []

        def box_shown():
            rc, dump = runkit.uiauto("dump", "--title", PRODUCT, "--class", "#32770")
            seen.append(box_text(dump) if rc == 0 else None)
            return seen[-1] == LOST_TEXT

        try:
            self.assertTrue(harness.wait_for(box_shown, 120, 0.5), seen[-5:])
        finally:
            # Answer the box (or whatever is left) so that the run ends.
            runkit.uiauto("click", "--title", PRODUCT, "--class", "#32770", "--text", "OK")
            run.wait()
        msgs = run.messages()
        self.assertIn("ReadDataStruct()->End(1236)", msgs)
        self.assertFalse(os.path.exists(self.record))
        # The run's own folders are gone.
        for key in ("WinMain()->DataPath=", "WinMain()->TempPathTRV="):
            folder = run.value(key)
            self.assertTrue(folder, key)
            if key.endswith("DataPath="):
                self.assertFalse(os.path.exists(runkit.linux_path(folder)), "\n".join(msgs[-20:]))
        extract = os.path.join(runkit.linux_path(run.value("WinMain()->TempPathTRV=")),
                               runkit.EXTRACT_FOLDER)
        self.assertFalse(os.path.exists(extract))


if __name__ == "__main__":
    harness.main()
