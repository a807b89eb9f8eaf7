#!/usr/bin/env python3
"""make dist: the publisher's kit, one archive that works outside the source
tree. Takes the programs of both builds (build/win32 for x86, build/win64
for x64), as the tests ran them:

  stowaway-VERSION/
    stowaway-pack, stowaway-run   the packer and any kit program, from Linux
    exitcode.cmd                  prints a program's whole exit code
    packer.exe, tracemon.exe      x86: every Windows
    packer-x64.exe, tracemon-x64.exe
                                  x64: Windows without 32-bit support, Wine
                                  on machines that run no 32-bit code
    EnglishUS.lng ...             the language libraries (data: either launcher)
    x86/, x64/                    each launcher with its QELTRON.dll and
                                  Corvel.dll, loaded into its process
    docs/
    README.txt

VERSION is the CMake project's. Entries are sorted and stamped with one
fixed time, so the same programs give the same archive.

  dist.py [--out DIR]      writes DIR/stowaway-VERSION.zip (default build/dist)
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
STAMP = (1980, 1, 1, 0, 0, 0)
EXECUTABLE = {"stowaway-pack", "stowaway-run"}
STRIP = {"x86": "i686-w64-mingw32-strip", "x64": "x86_64-w64-mingw32-strip"}


def version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        m = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", f.read())
    if not m:
        sys.exit("dist: no project VERSION in CMakeLists.txt")
    return m.group(1)


def layout():
    """[(name in the kit, source file, architecture to strip for or None)]"""
    bins = {"x86": os.path.join(ROOT, "build", "win32", "bin"),
            "x64": os.path.join(ROOT, "build", "win64", "bin")}
    suffix = {"x86": "", "x64": "-x64"}
    files = []
    for arch, bin_dir in bins.items():
        for tool in ("packer", "tracemon"):
            files.append(("%s%s.exe" % (tool, suffix[arch]), os.path.join(bin_dir, tool + ".exe"),
                          arch))
        # The launcher is stripped by its own build, with a fixed time stamp.
        files.append((arch + "/launcher.exe", os.path.join(bin_dir, "launcher.exe"), None))
        for dll in ("QELTRON.dll", "Corvel.dll"):
            files.append((arch + "/" + dll, os.path.join(bin_dir, dll), arch))
    for name in sorted(os.listdir(bins["x86"]) if os.path.isdir(bins["x86"]) else []):
        if name.endswith(".lng"):
            files.append((name, os.path.join(bins["x86"], name), None))
    kit = os.path.join(ROOT, "tools", "kit")
    for name in sorted(os.listdir(kit)):
        files.append((name, os.path.join(kit, name), None))
    docs = os.path.join(ROOT, "docs")
    for name in sorted(os.listdir(docs)):
        files.append(("docs/" + name, os.path.join(docs, name), None))
    return files


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "dist"))
    args = parser.parse_args()
    files = layout()
    missing = [src for _, src, _ in files if not os.path.isfile(src)]
    if missing or not any(name.endswith(".lng") for name, _, _ in files):
        sys.exit("dist: not built (make build builds both architectures):\n  " +
                 "\n  ".join(missing or ["the language libraries"]))
    top = "stowaway-" + version()
    os.makedirs(args.out, exist_ok=True)
    archive = os.path.join(args.out, top + ".zip")
    partial = archive + ".partial"
    with tempfile.TemporaryDirectory(prefix="stowaway-dist-") as scratch, \
            zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as z:
        for name, src, arch in sorted(files):
            if arch:
                # Symbols stay in the build; the kit gets the programs.
                stripped = os.path.join(scratch, name.replace("/", "_"))
                subprocess.run([STRIP[arch], "-s", "-o", stripped, src], check=True)
                src = stripped
            info = zipfile.ZipInfo(top + "/" + name, STAMP)
            info.create_system = 3  # Unix: the modes below are kept by unzip
            mode = 0o755 if name in EXECUTABLE else 0o644
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(src, "rb") as f:
                z.writestr(info, f.read())
    os.replace(partial, archive)
    print("dist: %s (%d files, %d bytes)" % (archive, len(files), os.path.getsize(archive)))


if __name__ == "__main__":
    main()
