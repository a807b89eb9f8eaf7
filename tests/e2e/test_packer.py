"""The packer and the payload routines against the Linux cabinet tools:
cabinets of the packer and of gcab unpack to the same tree as cabextract's,
and packages built from a project file unpack to what was put in."""
import filecmp
import os
import random
import shutil
import struct
import subprocess
import tempfile
import unittest
import uuid

import harness
import pkgfile

W = harness.win_path


def make_tree(root):
    """A small folder tree: text, noise, an empty file, nested folders."""
    rnd = random.Random(7)
    files = {
        "setup.ini": b"[Setup]\r\nName=Demo\r\n",
        "Languages/English.dll": b"english " * 9000,
        "Languages/French.dll": bytes(rnd.getrandbits(8) for _ in range(70000)),
        "bin/deep/core.dat": b"".join(b"line %d\n" % i for i in range(20000)),
        "empty.txt": b"",
    }
    for rel, data in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return sorted(files)


def tree_of(root):
    out = []
    for folder, _, names in os.walk(root):
        for name in names:
            out.append(os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/"))
    return sorted(out)


def new_guid():
    return "{%s}" % str(uuid.uuid4()).upper()


def full_tree(root):
    """Files and folders below root, folders with a trailing slash."""
    out = []
    for folder, dirs, names in os.walk(root):
        rel = os.path.relpath(folder, root).replace(os.sep, "/")
        for d in dirs:
            out.append((d if rel == "." else rel + "/" + d) + "/")
        for n in names:
            out.append(n if rel == "." else rel + "/" + n)
    return sorted(out)


def same_tree(a, b):
    if tree_of(a) != tree_of(b):
        return False
    return all(filecmp.cmp(os.path.join(a, rel), os.path.join(b, rel), shallow=False)
               for rel in tree_of(a))


class PackerTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="stowaway-packer-")
        self.src = os.path.join(self.work, "src")
        self.files = make_tree(self.src)

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def packer(self, *args):
        return harness.run("packer.exe", list(args), timeout=300)

    def unpack(self, archive, folder, tree=True):
        args = ["unpack", W(archive), W(folder)] + (["--tree"] if tree else [])
        r = harness.run("payloadtool.exe", args, timeout=300)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_packer_and_gcab_cabinets_unpack_like_cabextract(self):
        ours = self.path("ours.cab")
        r = self.packer("cab", "--folder", W(self.src), "--out", W(ours))
        self.assertEqual(r.returncode, 0, r.stderr)
        theirs = self.path("gcab.cab")
        subprocess.run(["gcab", "-c", "-z", theirs] + self.files, cwd=self.src, check=True)

        for name, cab in (("ours", ours), ("gcab", theirs)):
            ref = self.path(name + "-cabextract")
            subprocess.run(["cabextract", "-q", "-d", ref, cab], check=True)
            self.assertTrue(same_tree(ref, self.src), name)
            mine = self.path(name + "-launcher")
            self.unpack(cab, mine)
            self.assertTrue(same_tree(mine, ref), name)
            flat = self.path(name + "-flat")
            self.unpack(cab, flat, tree=False)
            self.assertEqual(tree_of(flat), sorted(os.path.basename(f) for f in self.files))

    def test_cabinet_set_and_pac(self):
        first = self.path("set", "data.cab")
        os.makedirs(os.path.dirname(first))
        r = self.packer("cab", "--folder", W(self.src), "--out", W(first),
                        "--max-size", "60000", "--store")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertGreater(len(os.listdir(self.path("set"))), 2)
        out = self.path("set-out")
        self.unpack(first, out)
        self.assertTrue(same_tree(out, self.src))

        pac = self.path("data.pac")
        r = self.packer("pac", "--folder", W(self.src), "--out", W(pac))
        self.assertEqual(r.returncode, 0, r.stderr)
        out = self.path("pac-out")
        self.unpack(pac, out)
        self.assertTrue(same_tree(out, self.src))

    def test_package_from_a_project_file(self):
        stored = self.path("readme.txt")
        with open(stored, "wb") as f:
            f.write(b"read me first")
        extra = self.path("extra")
        os.makedirs(extra)
        with open(os.path.join(extra, "plugin.dll"), "wb") as f:
            f.write(b"plugin" * 1000)
        r = self.packer("cab", "--folder", W(extra), "--out", W(self.path("extra.cab")))
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.path("setup.ini"), "w") as f:
            f.write("[General]\r\nProductName=Demo\r\n")
        out_dir = self.path("out")
        os.makedirs(out_dir)
        project = self.path("demo.ini")
        with open(project, "w") as f:
            f.write("[Package]\n"
                    "Launcher=%s\n"
                    "Output=out\\setup.exe\n"
                    "Config=setup.ini\n"
                    "[Item1]\nType=folder\nSource=src\n"
                    "[Item2]\nType=stored\nSource=readme.txt\nName=docs\\readme.txt\n"
                    "[Item3]\nType=external\nSource=extra.cab\nName=setup.002\n"
                    "[Item4]\nType=web\nName=packs/lang.cab\nSize=12345\n"
                    "[Resources]\nEmbedConfig=0\n"
                    % W(harness.exe("launcher.exe")))
        r = self.packer("--project", W(project))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"TRV0001.001", r.stdout)
        self.assertEqual(sorted(os.listdir(out_dir)), ["setup.002", "setup.cfg", "setup.exe"])
        with open(os.path.join(out_dir, "setup.exe"), "rb") as f:
            package = f.read()
        # The configuration lies beside; the package carries only its name.
        self.assertTrue(package.startswith(b"MZ"))
        self.assertIn(b"[Package]\r\nConfigFile=setup.cfg", package)
        self.assertTrue(package.endswith(b"!QD69_TRV!"))
        # Four records; the web one is not fetched here, so only the first
        # three are extracted by a table without it.
        self.assertEqual(int.from_bytes(package[-14:-10], "little"), 4)
        # The configuration lists the payload's files by their table names.
        with open(os.path.join(out_dir, "setup.cfg"), "rb") as f:
            cfg = f.read().decode("latin-1")
        self.assertIn("ProductName=Demo", cfg)
        sections = [line.strip() for line in cfg.splitlines()]
        for i, name in enumerate(["TRV0001.001", "docs\\readme.txt", "TRV0002.001", "TRV0003.001"]):
            at = sections.index("[File %d]" % (i + 1))
            self.assertEqual(sections[at + 1], "Name=" + name, cfg)

        project2 = self.path("demo2.ini")
        with open(project, "r") as f:
            text = f.read()
        with open(project2, "w") as f:
            f.write(text.split("[Item4]")[0].replace("out\\setup.exe", "out2\\setup.exe"))
        os.makedirs(self.path("out2"))
        shutil.copy(self.path("extra.cab"), self.path("out2", "setup.002"))
        r = self.packer("--project", W(project2))
        self.assertEqual(r.returncode, 0, r.stderr)
        target = self.path("target")
        r = harness.run("payloadtool.exe", ["extract", W(self.path("out2", "setup.exe")),
                                            W(target), W(self.path("data"))], timeout=300)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        expected = sorted([os.path.basename(f) for f in self.files] +
                          ["docs/readme.txt", "plugin.dll"])
        self.assertEqual(tree_of(target), expected)

    def test_names_beyond_ascii_are_utf8_and_say_so(self):
        """Cabinet members, PAC members and table records: a name beyond
        ASCII is stored in UTF-8 and marked (the cabinet's attribute 0x80,
        the layout tag QPK2, TypeOfFile 0x10); an ASCII name stays as it was."""
        names = {"plain.txt": b"plain", "donn\u00e9es/\u0141ask \u30c7\u30fc\u30bf \U0001F600.txt": b"utf"}
        src = self.path("names")
        for rel, data in names.items():
            os.makedirs(os.path.dirname(os.path.join(src, rel)), exist_ok=True)
            with open(os.path.join(src, rel), "wb") as f:
                f.write(data)
        cab = self.path("names.cab")
        self.assertEqual(self.packer("cab", "--folder", W(src), "--out", W(cab)).returncode, 0)
        with open(cab, "rb") as f:
            data = f.read()
        off, count = struct.unpack_from("<I", data, 16)[0], struct.unpack_from("<H", data, 28)[0]
        members = {}
        for _ in range(count):
            attribs = struct.unpack_from("<H", data, off + 14)[0]
            end = data.index(b"\0", off + 16)
            members[data[off + 16:end].decode("utf-8")] = attribs & 0x80
            off = end + 1
        self.assertEqual(members, {"plain.txt": 0, "donn\u00e9es\\\u0141ask \u30c7\u30fc\u30bf "
                                   "\U0001F600.txt": 0x80})
        ref = self.path("names-cabextract")
        subprocess.run(["cabextract", "-q", "-d", ref, cab], check=True)
        self.assertTrue(same_tree(ref, src))

        for folder, tag in ((self.src, b"QPK1"), (src, b"QPK2")):
            pac = self.path("names.pac")
            self.assertEqual(self.packer("pac", "--folder", W(folder), "--out", W(pac)).returncode, 0)
            with open(pac, "rb") as f:
                self.assertEqual(f.read()[94:98], tag)

        out = self.path("names-out", "setup.exe")
        os.makedirs(os.path.dirname(out))
        stored = [os.path.join(src, rel) for rel in sorted(names)]
        cfg = self.path("names.ini")
        with open(cfg, "wb") as f:
            f.write(b"[General]\r\nProductName=Names\r\n")
        r = self.packer("build", "--launcher", W(harness.exe("launcher.exe")), "--out", W(out),
                        "--config", W(cfg),
                        "--stored", "%s=%s" % (W(stored[0]), "plain.txt"),
                        "--stored", "%s=%s" % (W(stored[1]), "d\u00e9j\u00e0 \U0001F600.txt"))
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(out, "rb") as f:
            package = f.read()
        table = pkgfile.read_table(package)
        # The configuration lists the names as they are: in UTF-16.
        self.assertIn("Name=d\u00e9j\u00e0 \U0001F600.txt".encode("utf-16-le"), package)
        got = [(rec.file, rec.fileout, rec.type & pkgfile.TF_UTF8_NAMES) for rec in table.records]
        utf8 = "d\u00e9j\u00e0 \U0001F600.txt".encode("utf-8")
        self.assertEqual(got, [(b"plain.txt", b"plain.txt", 0),
                               (utf8, utf8, pkgfile.TF_UTF8_NAMES)])

    def test_texts_in_a_code_page_are_warned_of(self):
        """A configuration, install script or text license that is neither
        UTF-8 nor plain ASCII is read in the system code page: the packer
        says so and still builds; RTF and UTF-16 are fine."""
        utf8 = "MyApp \u00c9dition \u201cPro\u201d"
        cases = [
            ("ASCII everywhere", b"Demo", b"[Scripttrv]\r\nEXIT=0\r\n", b"Plain text.", []),
            ("UTF-8 everywhere", utf8.encode("utf-8"), "[Scripttrv]\r\nCREATEDIR=C:\\\u00e9\r\n"
             .encode("utf-8"), "\ufeffLicence \u00e9t\u00e9".encode("utf-8"), []),
            ("a configuration in cp1252", utf8.encode("cp1252"), b"", b"", ["setup.ini"]),
            ("a script in cp1252", b"Demo", "[Scripttrv]\r\nCREATEDIR=C:\\\u00e9\r\n"
             .encode("cp1252"), b"", ["script.ini"]),
            ("a text license in cp1252",
             b"Demo", b"", "Licence \u00e9t\u00e9".encode("cp1252"), ["License.txt"]),
            ("an RTF license with 8-bit bytes", b"Demo", b"", b"{\\rtf1\\ansi \xe9t\xe9}", []),
        ]
        for what, product, script, license, warned in cases:
            with self.subTest(what):
                case = tempfile.mkdtemp(dir=self.work)
                cfg = os.path.join(case, "setup.ini")
                lic_name = "License.rtf" if license.startswith(b"{\\rtf") else "License.txt"
                with open(cfg, "wb") as f:
                    f.write(b"[General]\r\nProductName=" + product + b"\r\n[Runtime]\r\n"
                            b"RunScript=1\r\nScriptFile=script.ini\r\n[Dialogs]\r\n"
                            b"LicenseFile=" + lic_name.encode() + b"\r\n")
                neutral = []
                # The packer refuses a package missing a file its configuration
                # names, so a case that is not about one of them gets plain ASCII.
                for name, data, plain in (("script.ini", script, b"[Scripttrv]\r\nEXIT=0\r\n"),
                                          (lic_name, license, b"Plain text.")):
                    neutral += ["--neutral", W(os.path.join(case, name))]
                    with open(os.path.join(case, name), "wb") as f:
                        f.write(data or plain)
                r = self.packer("build", "--launcher", W(harness.exe("launcher.exe")),
                                "--out", W(os.path.join(case, "setup.exe")), "--config", W(cfg),
                                "--folder", W(self.src), *neutral)
                self.assertEqual(r.returncode, 0, r.stderr)
                err = r.stderr.decode("utf-8")
                lines = [l for l in err.splitlines() if "warning" in l]
                self.assertEqual(len(lines), len(warned), err)
                for name, line in zip(warned, lines):
                    self.assertIn(name, line)
                    self.assertIn("neither UTF-8 nor plain ASCII", line)

    def test_linux_wrapper_takes_linux_paths(self):
        wrapper = os.path.join(harness.ROOT, "scripts", "packer")
        out = self.path("linux.cab")
        env = dict(os.environ, STOWAWAY_BIN=harness.BIN)
        r = subprocess.run([wrapper, "cab", "--folder", self.src, "--out", out], env=env,
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr)
        ref = self.path("linux-out")
        subprocess.run(["cabextract", "-q", "-d", ref, out], check=True)
        self.assertTrue(same_tree(ref, self.src))

    def test_empty_files_and_folders_pack_and_unpack(self):
        cases = [
            ("one empty file", ["only.txt"], []),
            ("empty folders only", [], ["a/b", "c"]),
            ("both, beside data", ["zero.bin", "sub/zero.txt"], ["sub/none", "x/y/z"]),
        ]
        for what, empty_files, empty_folders in cases:
            root = self.path(what.replace(" ", "_"))
            src = os.path.join(root, "src")
            os.makedirs(src)
            for rel in empty_files:
                os.makedirs(os.path.dirname(os.path.join(src, rel)), exist_ok=True)
                open(os.path.join(src, rel), "wb").close()
            for rel in empty_folders:
                os.makedirs(os.path.join(src, rel))
            if what.startswith("both"):
                with open(os.path.join(src, "sub", "data.txt"), "wb") as f:
                    f.write(b"data" * 100)
            cab = os.path.join(root, "t.cab")
            r = self.packer("cab", "--folder", W(src), "--out", W(cab))
            self.assertEqual(r.returncode, 0, (what, r.stderr))
            out = os.path.join(root, "tree")
            self.unpack(cab, out)
            self.assertEqual(full_tree(out), full_tree(src), what)
            # Without the folder tree, only the files arrive.
            flat = os.path.join(root, "flat")
            self.unpack(cab, flat, tree=False)
            self.assertEqual(full_tree(flat),
                             sorted(os.path.basename(f) for f in tree_of(src)), what)
            # The same folder as a package's payload, unpacked by a silent
            # run into a folder that stays.
            target = os.path.join(root, "target")
            cfg = os.path.join(root, "setup.ini")
            with open(cfg, "w", newline="\r\n") as f:
                f.write("[General]\nGuid=%s\n[Runtime]\nCopyToTemp=0\nTargetFolder=%s\n"
                        "DeleteFiles=0\nLaunchExe=0\n" % (new_guid(), W(target)))
            pkg = os.path.join(root, "setup.exe")
            r = self.packer("--out", W(pkg), "--folder", W(src), "--config", W(cfg),
                            "--embed-config", "--launcher", W(harness.exe("launcher.exe")))
            self.assertEqual(r.returncode, 0, (what, r.stderr))
            r = harness.run(pkg, ["/S"], cwd=root, timeout=180)
            self.assertEqual(r.returncode, 0, what)  # completed, nothing to launch
            self.assertEqual(full_tree(target), full_tree(src), what)

    def test_web_folder_gets_nested_names(self):
        archive = self.path("lang.cab")
        r = self.packer("cab", "--folder", W(self.src), "--out", W(archive))
        self.assertEqual(r.returncode, 0, r.stderr)
        upload = self.path("upload")
        pkg = self.path("web.exe")
        r = self.packer("--out", W(pkg), "--launcher", W(harness.exe("launcher.exe")),
                        "--web-folder", W(upload), "--web", W(archive) + "=packs/2.1/lang.cab")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(filecmp.cmp(archive, os.path.join(upload, "packs", "2.1", "lang.cab"),
                                    shallow=False))
        # A failed build takes the folders it made along.
        r = self.packer("--out", W(self.path("nowhere", "web.exe")), "--web-folder",
                        W(self.path("upload2")), "--web", W(archive) + "=a/b/lang.cab")
        self.assertNotEqual(r.returncode, 0)
        self.assertFalse(os.path.exists(self.path("upload2")))

    def test_empty_neutral_file_packs(self):
        empty = self.path("Empty.txt")
        open(empty, "wb").close()
        pkg = self.path("neutral.exe")
        r = self.packer("--out", W(pkg), "--launcher", W(harness.exe("launcher.exe")),
                        "--neutral", W(empty), "--folder", W(self.src))
        self.assertEqual(r.returncode, 0, r.stderr)

    def test_init_starts_a_project_that_builds(self):
        project = self.path("My Product")
        payload = os.path.join(project, "payload")
        os.makedirs(payload)
        shutil.copy(harness.exe("fakesetup.exe"), os.path.join(payload, "install.exe"))
        r = self.packer("init", W(project))
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(project, "setup.ini"), encoding="cp1252") as f:
            config = f.read()
        self.assertIn("ExeFileName=install.exe", config)
        self.assertIn("ProductName=My Product", config)
        self.assertRegex(config, r"Guid=\{[0-9A-F-]{36}\}")
        with open(os.path.join(project, "project.ini"), "rb") as f:
            before = f.read()
        # A second init leaves the project alone.
        r = self.packer("init", W(project))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"exists already", r.stderr)
        with open(os.path.join(project, "project.ini"), "rb") as f:
            self.assertEqual(f.read(), before)
        # The project builds as it stands, with the launcher beside the packer.
        r = self.packer("build", "--project", W(os.path.join(project, "project.ini")))
        self.assertEqual(r.returncode, 0, r.stderr)
        pkg = os.path.join(project, "My Product-setup.exe")
        self.assertTrue(os.path.exists(pkg))
        self.assertFalse(os.path.exists(os.path.join(project, "My Product-setup.cfg")))
        r = self.packer("init", W(self.path("src", "setup.ini")))
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b"not a folder", r.stderr)

    def test_bad_input_fails_cleanly(self):
        out = self.path("setup.exe")
        long_name = "n" * 260
        cases = [
            ("missing folder", ["--out", W(out), "--folder", W(self.path("nothere"))],
             b"no such folder"),
            ("missing file", ["--out", W(out), "--stored", W(self.path("none.txt"))],
             b"no such file"),
            ("name over 259 bytes", ["--out", W(out), "--stored",
                                     W(self.path("src", "setup.ini")) + "=" + long_name],
             b"longer than 259"),
            ("climbing name", ["--out", W(out), "--stored",
                               W(self.path("src", "setup.ini")) + "=..\\evil.ini"],
             b"without '..'"),
            ("not an archive", ["--out", W(out), "--archive", W(self.path("src", "setup.ini"))],
             b"is not a cabinet"),
            ("no output", ["--folder", W(self.src)], b"no output"),
            ("unknown option", ["--frobnicate"], b"unknown option"),
        ]
        for what, args, message in cases:
            r = self.packer(*args)
            self.assertNotEqual(r.returncode, 0, what)
            self.assertIn(message, r.stderr, what)
            self.assertEqual([n for n in os.listdir(self.work) if n.startswith("setup.exe")], [],
                             what)
        r = self.packer("--help")
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"Usage:", r.stdout)


if __name__ == "__main__":
    harness.main()
