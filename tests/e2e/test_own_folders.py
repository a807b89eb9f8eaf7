"""What a run deletes, kills and shares, seen from outside: a target folder
that is TEMP itself or held the user's files before, a GUID that climbs out
of the temporary folder, two packages nested in an installer chain, a
program of the same name running elsewhere, restart mode."""
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest
import uuid

import harness
import runkit

RUNONCE = r"HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce"
def write(path, text="mine"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def reg(*args):
    return subprocess.run([harness.WINE_RUN, "reg"] + list(args), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)


class OwnFoldersTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="stowaway-own-")
        self.record = os.path.join(self.work, "record.txt")
        self.tag = uuid.uuid4().hex[:8]
        self.cleanup = []

    def tearDown(self):
        for path in self.cleanup:
            if os.path.isdir(path):
                shutil.rmtree(path, ignore_errors=True)
            elif os.path.lexists(path):
                os.remove(path)
        shutil.rmtree(self.work, ignore_errors=True)

    def build(self, name, payload_files=None, cmdline=None, neutral=(), guid=True, **runtime):
        payload = runkit.sample_payload(os.path.join(self.work, name + "-payload"),
                                        extra_files=payload_files)
        sections = runkit.base_config(runkit.new_guid(),
                                      cmdline=cmdline or '--record "%s" --exit 5'
                                      % harness.win_path(self.record), **runtime)
        if guid is not True:
            general = dict(sections[0][1])
            if guid:
                general["Guid"] = guid
            else:
                del general["Guid"]
            sections[0] = ("General", list(general.items()))
        return runkit.packed_package(os.path.join(self.work, name + "-out"), name, sections,
                                     payload=payload, neutral=neutral, languages=False)

    def test_temp_as_target_folder_is_refused_when_its_files_go_at_the_end(self):
        # TEMP holds everybody's files: a run that deletes its files at the
        # end (DeleteFiles=1) does not extract into it. Nothing is written.
        temp = runkit.session_temp()
        own_file = os.path.join(temp, "users-own-%s.txt" % self.tag)
        marker = "payload-%s.txt" % self.tag
        self.cleanup += [own_file, os.path.join(temp, marker)]
        write(own_file)
        pkg = self.build("TempTarget", {marker: b"from the package"},
                         CopyToTemp=0, TargetFolder="<TEMP>")
        run = runkit.LauncherRun(pkg, "/S /SUPPRESSMSGBOXES")
        self.assertEqual(run.run(), 16, "\n".join(run.messages()[-30:]))
        msgs = run.messages()
        self.assertTrue(any(m.startswith("WinMain()->TargetFolder '") and
                            m.endswith("refused: protected folder") for m in msgs), msgs[-20:])
        self.assertFalse(os.path.exists(self.record))
        self.assertTrue(os.path.isfile(own_file))
        self.assertFalse(os.path.exists(os.path.join(temp, marker)))

    def test_existing_target_folder_loses_only_the_runs_files(self):
        target = os.path.join(self.work, "existing")
        write(os.path.join(target, "user.txt"))
        write(os.path.join(target, "docs", "user-notes.txt"))
        pkg = self.build("Existing", CopyToTemp=0, TargetFolder=harness.win_path(target))
        run = runkit.LauncherRun(pkg, "/S")
        self.assertEqual(run.run(), 5)
        self.assertIn("docs\\manual.txt", runkit.read_record(self.record)["file"])
        self.assertTrue(os.path.isfile(os.path.join(target, "user.txt")))
        self.assertTrue(os.path.isfile(os.path.join(target, "docs", "user-notes.txt")))
        for gone in ("readme.txt", "fakesetup.exe", os.path.join("docs", "manual.txt")):
            self.assertFalse(os.path.exists(os.path.join(target, gone)), gone)

    def test_a_guid_that_climbs_is_refused(self):
        victim = os.path.join(os.path.dirname(runkit.session_temp()), "victim")
        self.cleanup.append(victim)
        write(os.path.join(victim, "keep.txt"))
        pkg = self.build("Climb", guid=r"..\..\victim")
        run = runkit.LauncherRun(pkg, "/S")
        self.assertEqual(run.run(), 5)
        msgs = run.messages()
        self.assertIn(r"WinMain()->Guid '..\..\victim' refused: not a GUID", msgs)
        self.assertTrue(os.path.isfile(os.path.join(victim, "keep.txt")))
        data = run.value("WinMain()->DataPath=")
        self.assertTrue(data.endswith("\\" + runkit.TRV_GUID), data)

    def test_nested_packages_keep_to_their_own_folders(self):
        results = os.path.join(self.work, "scripts.ini")
        inner_record = os.path.join(self.work, "inner-record.txt")
        script = "[Scripttrv]\nWRITEINIFILE=%s,Scripts,%%s,<TEMPTRV>\n" % harness.win_path(results)
        scripts = {}
        for who in ("outer", "inner"):
            scripts[who] = os.path.join(self.work, who, "script.ini")
            write(scripts[who], script % who)
        # The same setup name and script name; the inner package has no GUID.
        inner = self.build("inner", {"inner-only.txt": b"inner"}, guid=None,
                           cmdline='--record "%s" --exit 21' % harness.win_path(inner_record),
                           neutral=[scripts["inner"]], RunScript=1, ScriptFile="script.ini")
        with open(inner, "rb") as f:
            inner_bytes = f.read()
        outer = self.build("outer", {"outer-only.txt": b"outer", "inner.exe": inner_bytes},
                           cmdline='--record "%s" --run "inner.exe /S" --exit 37'
                           % harness.win_path(self.record),
                           neutral=[scripts["outer"]], RunScript=1, ScriptFile="script.ini")
        run = runkit.LauncherRun(outer, "/S")
        self.assertEqual(run.run(timeout=300), 37, "\n".join(run.messages()[-40:]))
        outer_rec = runkit.read_record(self.record)
        inner_rec = runkit.read_record(inner_record)
        self.assertEqual(outer_rec["ran"], ["21"])
        # Each setup program saw its own files only; the outer one's were all
        # still there after the inner package had run.
        self.assertEqual(sorted(outer_rec["file"]),
                         ["docs\\manual.txt", "fakesetup.exe", "inner.exe", "outer-only.txt",
                          "readme.txt"])
        self.assertEqual(sorted(inner_rec["file"]),
                         ["docs\\manual.txt", "fakesetup.exe", "inner-only.txt", "readme.txt"])
        # Each ran its own script from its own scratch folder.
        with open(results) as f:
            ini = dict(l.strip().split("=", 1) for l in f if "=" in l)
        self.assertTrue(ini.get("outer") and ini.get("inner"), ini)
        self.assertNotEqual(ini["outer"].lower(), ini["inner"].lower())
        msgs = run.messages()
        self.assertFalse([m for m in msgs if "TerminateProcess" in m])
        for folder in (ini["outer"], ini["inner"]):
            self.assertFalse(os.path.exists(runkit.linux_path(folder)), folder)

    def test_a_program_of_the_same_name_elsewhere_survives(self):
        other = os.path.join(self.work, "other")
        os.makedirs(other)
        shutil.copy(harness.exe("fakesetup.exe"), other)
        started = os.path.join(self.work, "other.started")
        release = os.path.join(self.work, "other.release")
        proc = harness.start(os.path.join(other, "fakesetup.exe"),
                             ["--touch", harness.win_path(started), "--wait-file",
                              harness.win_path(release), "--exit", "9"])
        try:
            self.assertTrue(harness.wait_for(lambda: os.path.exists(started), 60))
            # The target can not take the member: a folder stands in its way.
            target = os.path.join(self.work, "target")
            os.makedirs(os.path.join(target, "fakesetup.exe"))
            pkg = self.build("Blocked", CopyToTemp=0, TargetFolder=harness.win_path(target),
                             LaunchExe=0, DeleteFiles=0)
            # The member can not be written, so the archive fails with the reason.
            run = runkit.LauncherRun(pkg, "/S /SUPPRESSMSGBOXES")
            self.assertEqual(run.run(), 5)
            msgs = run.messages()
            member = harness.win_path(os.path.join(target, "fakesetup.exe"))
            self.assertIn("KillModule(%s)->No process to end" % member, msgs)
            self.assertFalse([m for m in msgs if "TerminateProcess" in m or "WM_CLOSE posted" in m])
            self.assertIsNone(proc.poll())
        finally:
            open(release, "w").close()
        self.assertEqual(proc.wait(timeout=60), 9)

    def test_restart_mode_keeps_what_its_command_needs(self):
        product = "Stowaway Restart %s" % self.tag
        self.addCleanup(reg, "delete", RUNONCE, "/v", product, "/f")
        pkg = self.build("Restart", NeedReboot=1, product=product)
        run = runkit.LauncherRun(pkg, "/S")
        self.assertEqual(run.run(), 3010, "\n".join(run.messages()[-30:]))
        out = reg("query", RUNONCE, "/v", product).stdout.decode("latin-1")
        m = re.search(r"REG_SZ\s+(.*)$", out, re.M)
        self.assertTrue(m, out)
        command = m.group(1).strip()
        exe = command[1:command.index('"', 1)] if command.startswith('"') else command.split(" ")[0]
        self.assertTrue(exe.lower().endswith("\\fakesetup.exe"), command)
        self.assertTrue(os.path.isfile(runkit.linux_path(exe)), exe)
        scratch = runkit.linux_path(run.value("WinMain()->TempPathTRV="))
        self.cleanup.append(scratch)
        self.assertFalse(os.path.exists(self.record), "nothing runs before the restart")
        self.assertTrue(os.path.isfile(os.path.join(scratch, "restart.pending")))
        # Once the command has run (its value is gone), the next run clears it.
        reg("delete", RUNONCE, "/v", product, "/f")
        self.assertEqual(os.path.basename(scratch), runkit.TRV_GUID)
        later = runkit.LauncherRun(self.build("Later"), "/S")
        self.assertEqual(later.run(), 5)
        self.assertFalse(os.path.exists(runkit.linux_path(exe)))


if __name__ == "__main__":
    harness.main()
