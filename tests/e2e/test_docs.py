"""The examples of docs/ are real: every block after a line
"<!-- example NAME: FILE -->" is written as FILE of example NAME, every
block after "<!-- example NAME: run -->" is run as it stands with bash, and
each example is built and run here, each in a scratch folder of its own,
with the result the documentation promises checked."""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

import harness
import runkit

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "servers"))
import tsa  # noqa: E402

DOCS = os.path.join(harness.ROOT, "docs")
EXAMPLE = re.compile(r"<!-- example ([\w-]+): (\S+) -->[ \t]*\n```[^\n]*\n(.*?)\n```", re.S)
PRODUCT_KEY = r"HKCU\Software\Example Corp"
HELPER_KEY = r"HKCU\Software\StowawayTestRegexe"
# The script examples share this project; each brings its own script.ini.
SCRIPT_PACKAGE = "script-package"


def read_examples():
    """{name: {"files": {path: text}, "runs": [script]}} from docs/*.md."""
    examples = {}
    for md in sorted(glob.glob(os.path.join(DOCS, "*.md"))):
        with open(md, encoding="utf-8") as f:
            text = f.read()
        for name, what, body in EXAMPLE.findall(text):
            example = examples.setdefault(name, {"files": {}, "runs": []})
            if what == "run":
                example["runs"].append(body + "\n")
            elif example["files"].get(what, body + "\n") != body + "\n":
                raise AssertionError("%s: %s is shown twice, differently" % (name, what))
            else:
                example["files"][what] = body + "\n"
    return examples


def reg_query(key, name):
    r = subprocess.run([harness.WINE_RUN, "reg", "query", key, "/v", name],
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, timeout=60)
    for line in r.stdout.decode("latin-1").splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] == name:
            return (parts[1], parts[2].strip() if len(parts) == 3 else "")
    return None


def reg_key_exists(key):
    r = subprocess.run([harness.WINE_RUN, "reg", "query", key], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    return r.returncode == 0


def reg_delete(key):
    subprocess.run([harness.WINE_RUN, "reg", "delete", key, "/f"], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def remove_installed():
    """What the examples install into the session's throw-away prefix."""
    drive = os.path.join(runkit.PREFIX, "drive_c")
    found = glob.glob(os.path.join(drive, "Program Files*", "Example Corp"))
    found += glob.glob(os.path.join(drive, "users", "*", "**", "Programs", "Example Corp"),
                       recursive=True)
    for path in found:
        shutil.rmtree(path, ignore_errors=True)
    for key in (PRODUCT_KEY, HELPER_KEY):
        reg_delete(key)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("cp1252"))


def make_cab(path, root, files):
    """A cabinet of files (relative paths, folders kept) made by gcab."""
    for rel, data in files.items():
        write(os.path.join(root, rel), data)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["gcab", "-c", "-z", path] + sorted(files), cwd=root, check=True,
                   stdout=subprocess.DEVNULL)


class DocExamplesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.examples = read_examples()

    def setUp(self):
        for tool in ("packer.exe", "launcher.exe", "fakesetup.exe", "regexe.exe"):
            if not os.path.exists(harness.exe(tool)):
                self.skipTest(tool + " is not built")
        self.work = tempfile.mkdtemp(prefix="stowaway-docs-")
        remove_installed()

    def tearDown(self):
        remove_installed()
        shutil.rmtree(self.work, ignore_errors=True)

    # -- helpers -------------------------------------------------------------

    def sandbox(self, name, extra_files=None):
        """A scratch folder holding the example's files (and extra_files)."""
        folder = os.path.join(self.work, name)
        os.makedirs(folder)
        files = dict(self.examples[name]["files"])
        files.update(extra_files or {})
        for rel, text in files.items():
            write(os.path.join(folder, rel), text)
        return folder

    def run_blocks(self, name, folder):
        """Runs the example's shell blocks in folder, under a trace monitor.
        Returns (stdout, trace messages)."""
        env = dict(os.environ, STOWAWAY_BIN=harness.BIN,
                   PATH=os.path.join(harness.ROOT, "scripts") + os.pathsep + os.environ["PATH"])
        out = ""
        with harness.TraceMonitor(folder) as monitor:
            for script in self.examples[name]["runs"]:
                r = subprocess.run(["bash", "-e", "-c", script], cwd=folder, env=env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, timeout=600)
                out += r.stdout.decode("utf-8", "replace")
                self.assertEqual(r.returncode, 0, out[-3000:])
        return out, monitor.messages()

    def packer(self, folder, *args):
        r = subprocess.run([runkit.PACKER] + list(args), cwd=folder, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600,
                           env=dict(os.environ, STOWAWAY_BIN=harness.BIN))
        self.assertEqual(r.returncode, 0, r.stdout.decode("utf-8", "replace"))

    def run_package(self, package, args, folder):
        with harness.TraceMonitor(folder) as monitor:
            r = harness.run(package, args, cwd=folder, timeout=300)
        return r.returncode, monitor.messages()

    @staticmethod
    def folder_of(messages, placeholder):
        """Linux path of a path variable, as the run traced it."""
        prefix = "InitPathVar()-><%s>=" % placeholder
        for m in messages:
            if m.startswith(prefix):
                return runkit.linux_path(m[len(prefix):])
        raise AssertionError("no trace of " + placeholder)

    def installed(self, messages, *rel):
        return os.path.join(self.folder_of(messages, "PROGRAMFILES"), "Example Corp",
                            "Example App", *rel)

    def script_package(self, name):
        """The shared script project with the example's script, its payload,
        built: returns (folder, package)."""
        files = dict(self.examples[SCRIPT_PACKAGE]["files"])
        files.update(self.examples[name]["files"])
        folder = os.path.join(self.work, name)
        for rel, text in files.items():
            write(os.path.join(folder, rel), text)
        payload = os.path.join(folder, "payload")
        shutil.copy(harness.exe("fakesetup.exe"), write_path(payload, "setup.exe"))
        write(os.path.join(payload, "readme.txt"), "Example App, read me first.\r\n")
        app = os.path.join(payload, "Example App")
        shutil.copy(harness.exe("fakesetup.exe"), write_path(app, "ExampleApp.exe"))
        write(os.path.join(app, "ExampleApp.dll"), b"MZ" + b"\0" * 510)
        write(os.path.join(app, "lang", "en.txt"), "Hello\r\n")
        write(os.path.join(app, "cache", "old.tmp"), "stale\r\n")
        for tool in ("prereq.exe", "server.exe"):
            shutil.copy(harness.exe("regexe.exe"), write_path(payload, "tools", tool))
        make_cab(os.path.join(payload, "extras", "extras.cab"), os.path.join(folder, "cab"),
                 {"docs/guide.txt": "Guide\r\n", "docs/faq.txt": "FAQ\r\n"})
        with zipfile.ZipFile(os.path.join(payload, "extras", "plugins.zip"), "w") as z:
            z.writestr("plugins/spell.dll", b"MZ spell")
        self.packer(folder, "build", "--project", "project.ini")
        return folder, os.path.join(folder, "ExampleApp-setup.exe")

    # -- the examples ---------------------------------------------------------

    def test_links_lead_somewhere(self):
        def slug(heading):
            text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
            return text.replace(" ", "-")

        pages = sorted(glob.glob(os.path.join(DOCS, "*.md"))) + [
            os.path.join(harness.ROOT, "README.md")]
        for page in pages:
            with open(page, encoding="utf-8") as f:
                text = f.read()
            for target in re.findall(r"\]\(([^)\s]+)\)", text):
                if re.match(r"\w+:", target):
                    continue
                path, _, anchor = target.partition("#")
                path = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path \
                    else page
                self.assertTrue(os.path.exists(path), "%s: %s" % (page, target))
                if anchor:
                    with open(path, encoding="utf-8") as f:
                        headings = re.findall(r"^#+ (.+)$", f.read(), re.M)
                    self.assertIn(anchor, [slug(h) for h in headings], "%s: %s" % (page, target))

    def test_every_example_is_run_here(self):
        runners = {n[len("test_example_"):].replace("_", "-")
                   for n in dir(self) if n.startswith("test_example_")}
        self.assertEqual(set(self.examples) - {SCRIPT_PACKAGE}, runners)
        for name, example in self.examples.items():
            self.assertTrue(example["files"] or example["runs"], name)

    def test_example_quickstart(self):
        """From the kit that make dist writes, unpacked in a folder outside
        the tree: a Wine folder of its own, no display, the architecture
        this machine runs, a time-stamp authority on loopback."""
        kit = os.path.join(self.work, "dist")
        r = subprocess.run([sys.executable, os.path.join(harness.ROOT, "scripts", "dist.py"),
                            "--out", kit], stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=600)
        if r.returncode != 0:
            self.skipTest("no kit: " + r.stderr.decode("utf-8", "replace")[-500:])
        folder = self.sandbox("quickstart")
        for name in os.listdir(kit):
            shutil.copy(os.path.join(kit, name), folder)
        shutil.copy(harness.exe("fakesetup.exe"), write_path(folder, "files", "setup.exe"))
        write(os.path.join(folder, "files", "readme.txt"), "MyApp\r\n")
        os.makedirs(os.path.join(folder, "files", "empty folder"))
        cache = os.path.join(self.work, "cache")
        arch = "x86" if "x86" in harness.arches() else "x64"
        path = os.pathsep.join(p for p in os.environ["PATH"].split(os.pathsep)
                               if not p.startswith(harness.ROOT))
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("STOWAWAY_", "WINE", "CTEST_", "DISPLAY"))}
        env.update(PATH=path, XDG_CACHE_HOME=cache, ARCH=arch)
        out = ""
        try:
            with tsa.TimeStampAuthority(self.work) as authority:
                env.update(TSA_URL=authority.url, TSA_CA=authority.ca)
                for script in self.examples["quickstart"]["runs"]:
                    r = subprocess.run(["bash", "-e", "-c", script], cwd=folder, env=env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT, timeout=900)
                    out += r.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
                    self.assertEqual(r.returncode, 0, out[-3000:])
                self.assertEqual(authority.replies, 1)
        finally:
            subprocess.run(["wineserver", "-k"], env=dict(env, WINEPREFIX=os.path.join(
                cache, "stowaway", "wine")), stdin=subprocess.DEVNULL, capture_output=True,
                timeout=60)
        self.assertTrue(os.path.isdir(os.path.join(cache, "stowaway", "wine", "drive_c")))
        self.assertIn("%s launcher" % arch, out)
        self.assertIn("Timestamp Server Signature verification: ok", out)
        self.assertIn("time stamp: RFC 3161, ", out)
        self.assertIn("signed by: Example Corp", out)
        self.assertIn("verify: OK", out)
        self.assertIn("exit code: 0", out)
        signed = os.path.join(folder, "MyApp", "MyApp-setup-signed.exe")
        unsigned = os.path.join(folder, "MyApp", "MyApp-setup.exe")
        self.assertGreater(os.path.getsize(signed), os.path.getsize(unsigned))
        # The project names nothing of this machine: it builds elsewhere.
        with open(os.path.join(folder, "MyApp", "project.ini"), encoding="cp1252") as f:
            project = f.read()
        self.assertNotIn(":\\", project)
        self.assertNotIn(folder, project)
        # The signed package found its payload and ran the setup program.
        with open(os.path.join(folder, "install.log"), encoding="utf-8-sig") as f:
            trace = [l.split("] ", 1)[-1] for l in f.read().splitlines()]
        exe_lines = [m for m in trace if m.startswith("WinMain()->ExeFile=")]
        self.assertTrue(exe_lines and exe_lines[-1].lower().endswith("\\setup.exe"), exe_lines)
        self.assertIn("ExecuteFile()->End(1 - 0)", trace)
        self.assertIn("WinMain()->End(0)", trace)

    def test_example_packer_full(self):
        folder = self.sandbox("packer-full")
        shutil.copy(harness.exe("fakesetup.exe"), write_path(folder, "payload", "setup.exe"))
        write(os.path.join(folder, "payload", "bin", "ExampleApp.exe"), b"MZ app")
        write(os.path.join(folder, "notes", "release-notes.txt"), "2.1: first release\r\n")
        make_cab(os.path.join(folder, "samples.cab"), os.path.join(folder, "cab"),
                 {"samples/first.txt": "1\r\n", "samples/second.txt": "2\r\n"})
        with zipfile.ZipFile(os.path.join(folder, "languagepacks.zip"), "w") as z:
            z.writestr("packs/fr.txt", "Bonjour\r\n")
        write(os.path.join(folder, "License.rtf"), runkit.LICENSE_RTF)
        for lng in ("EnglishUS.lng", "French.lng"):
            shutil.copy(harness.exe(lng), os.path.join(folder, lng))
        out, trace = self.run_blocks("packer-full", folder)
        self.assertIn("exit code: 0", out)
        for rel in ("ExampleApp-2.1-setup.exe", "ExampleApp-2.1-setup.002",
                    "upload/packs/languagepacks.zip"):
            self.assertTrue(os.path.isfile(os.path.join(folder, rel)), rel)
        for rel in (("setup.exe",), ("bin", "ExampleApp.exe"), ("docs", "release-notes.txt"),
                    ("samples", "first.txt"), ("samples", "second.txt"), ("fr.txt",)):
            self.assertTrue(os.path.isfile(self.installed(trace, *rel)), rel)
        # Copied from beside the package, not downloaded.
        self.assertFalse([m for m in trace if m.startswith("DownloadFile()")])
        self.assertIn("ExtractBinaryRes()->License=1", " ".join(trace))

    def test_example_script_files(self):
        folder, package = self.script_package("script-files")
        code, trace = self.run_package(package, ["/S"], folder)
        self.assertEqual(code, 0, trace[-40:])
        for rel in (("ExampleApp.exe",), ("ExampleApp.dll",), ("lang", "en.txt"),
                    ("Read Me.txt",), ("settings.ini",)):
            self.assertTrue(os.path.isfile(self.installed(trace, *rel)), rel)
        self.assertTrue(os.path.isdir(self.installed(trace, "logs")))
        self.assertFalse(os.path.exists(self.installed(trace, "readme.txt")))
        self.assertFalse(os.path.exists(self.installed(trace, "cache")))
        settings = self.installed(trace, "settings.ini")
        with open(settings, encoding="cp1252") as f:
            self.assertRegex(f.read(), r"\[Paths\]\s+Logs=\w:\\.*\\Example Corp\\Example App\\logs")
        self.assertEqual(os.stat(settings).st_mode & 0o222, 0, "read-only")
        self.assertIn("Delay()->Time=", " ".join(trace))

    def test_example_script_registry(self):
        folder, package = self.script_package("script-registry")
        code, trace = self.run_package(package, ["/S"], folder)
        self.assertEqual(code, 0, trace[-40:])
        key = PRODUCT_KEY + r"\Example App"
        backup = PRODUCT_KEY + r"\Example App Backup"
        install_dir = reg_query(key, "InstallDir")
        self.assertIsNotNone(install_dir)
        self.assertTrue(install_dir[1].endswith(r"\Example Corp\Example App"), install_dir)
        self.assertEqual(reg_query(key, "Version"), ("REG_SZ", "2.1"))
        self.assertEqual(reg_query(key, "Runs"), ("REG_DWORD", "0x0"))
        self.assertTrue(reg_key_exists(key + r"\Plugins"))
        self.assertEqual(reg_query(backup, "Version"), ("REG_SZ", "2.1"))
        self.assertIsNone(reg_query(backup, "Runs"))
        self.assertTrue(reg_key_exists(backup + r"\Plugins"))

    def test_example_script_system(self):
        folder, package = self.script_package("script-system")
        code, trace = self.run_package(package, ["/S"], folder)
        self.assertEqual(code, 0, trace[-40:])
        programs = os.path.join(self.folder_of(trace, "PROGRAMS_USER"), "Example Corp")
        for name in ("Example App.lnk", "Example App Folder.lnk"):
            self.assertTrue(os.path.isfile(os.path.join(programs, name)), name)
        command = reg_query(HELPER_KEY, "CommandLine")
        self.assertIsNotNone(command)
        calls = reg_query(HELPER_KEY, "Calls")
        self.assertIsNotNone(calls)
        self.assertIn("R", calls[1])  # server.exe /regserver
        self.assertTrue(any(m.startswith("ScriptExecuteFile(") and "/install /quiet" in m
                            for m in trace))
        self.assertTrue(any(m.startswith("ScriptRemoveIcon(") and m.endswith("->0")
                            for m in trace))
        self.assertIn("ScriptKillModule(ExampleApp.exe)->0", trace)
        self.assertIn("StopService()->OpenService failed", trace)
        # The shortcut an older version left goes on the next run.
        old = os.path.join(programs, "Example App 2.0.lnk")
        shutil.copy(os.path.join(programs, "Example App.lnk"), old)
        code, trace = self.run_package(package, ["/S"], folder)
        self.assertEqual(code, 0, trace[-40:])
        self.assertFalse(os.path.exists(old))
        self.assertTrue(any(m.startswith("ScriptRemoveIcon(") and m.endswith("->1")
                            for m in trace))

    def test_example_script_conditions(self):
        folder, package = self.script_package("script-conditions")
        key = PRODUCT_KEY + r"\Example App"
        code, trace = self.run_package(package, ["/S"], folder)
        self.assertEqual(code, 0, trace[-40:])
        self.assertEqual(reg_query(key, "FirstInstall"), ("REG_SZ", "2.1"))
        self.assertIsNone(reg_query(key, "Updated"))
        code, trace = self.run_package(package, ["/S"], folder)
        self.assertEqual(code, 0, trace[-40:])
        self.assertEqual(reg_query(key, "Updated"), ("REG_SZ", "2.1"))
        code, trace = self.run_package(package, ["/S", "/CHECKONLY"], folder)
        self.assertEqual(code, 3, trace[-40:])
        self.assertIn("ScriptExit(3)->TRUE", trace)
        self.assertIn("/check /exit:3", reg_query(HELPER_KEY, "CommandLine")[1])
        self.assertFalse([m for m in trace if m.startswith("ExecuteFile(")
                          and "\\setup.exe" in m.lower()])

    def test_example_script_archives(self):
        folder, package = self.script_package("script-archives")
        code, trace = self.run_package(package, ["/S"], folder)
        self.assertEqual(code, 0, trace[-40:])
        for rel in (("extras", "docs", "guide.txt"), ("extras", "docs", "faq.txt"),
                    ("plugins", "spell.dll")):
            self.assertTrue(os.path.isfile(self.installed(trace, *rel)), rel)
        with open(self.installed(trace, "settings.ini"), encoding="cp1252") as f:
            self.assertIn("Installed=yes", f.read())

    def test_example_setup_program(self):
        folder = self.sandbox("setup-program")
        out, trace = self.run_blocks("setup-program", folder)
        self.assertIn("exit code: 0", out)
        self.assertIn("StatusProc()->WM_SETUP_HIDE - wParam=0 lParam=0", trace)
        self.assertIn("StatusProc()->WM_SETUP_END", trace)

    def test_example_trace(self):
        folder = self.sandbox("trace")
        project = os.path.join(folder, "MyApp")
        os.makedirs(os.path.join(project, "payload"))
        shutil.copy(harness.exe("fakesetup.exe"), os.path.join(project, "payload", "setup.exe"))
        self.packer(folder, "init", "MyApp")
        self.packer(folder, "build", "--project", "MyApp/project.ini")
        shutil.move(os.path.join(project, "MyApp-setup.exe"), folder)
        env = dict(os.environ, STOWAWAY_BIN=harness.BIN,
                   PATH=os.path.join(harness.ROOT, "scripts") + os.pathsep + os.environ["PATH"])
        r = subprocess.run(["bash", "-e", "-c", self.examples["trace"]["runs"][0]], cwd=folder,
                           env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=600)
        out = r.stdout.decode("latin-1")
        self.assertEqual(r.returncode, 0, out[-3000:])
        self.assertIn("[MyApp-setup.exe] WinMain()->ExeFile=", out)
        self.assertIn("[MyApp-setup.exe] ExecuteFile()->End(1 - 0)", out)
        self.assertIn("[MyApp-setup.exe] WinMain()->End(0)", out)


def write_path(folder, *rel):
    """A path below folder whose parent exists."""
    path = os.path.join(folder, *rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    return path


if __name__ == "__main__":
    harness.main()
