#!/usr/bin/env python3
"""Mutation fuzzer of the launcher: damages a valid package in one of seven
places (payload table, cabinet, ZIP, PAC, configuration, install script,
language library), runs it silently under Wine in a sandbox of its own and
reports crashes, hangs and files written outside the run's target.

Bounded and reproducible: --cases and --time-limit stop it, --seed fixes
every case, and "--seed S --case N" runs case N again, keeping its sandbox.

    scripts/fuzz.py [--cases N] [--seed S] [--jobs J] [--timeout SEC]
                    [--time-limit SEC] [--kind KIND] [--case N] [--keep]

Each case runs in a fresh folder below the system's temporary folder, never
in the checkout: the package, its configuration beside it, and temp\\,
which is both the launcher's TEMP and its current folder. After the run:
  crash    exit code of an exception (0x80000000 and above), or 574: a
           fault the launcher caught outside a guarded call. Not a crash:
           the same code from the setup program the package unpacked (a
           cabinet damaged with its checksums made right delivers a damaged
           program), which the launcher's log shows it passed on
  hang     still running after --timeout seconds (ended with what it started).
           Not a launcher hang: the setup program the package unpacked
           still running (the launcher waits for it, as it must), as the
           log shows; what the ended run leaves behind does not count then
  outside  a file that appeared outside temp\\ (in the case folder, beside
           the case folders, or on the Wine C: drive outside its Windows folder)
  debris   the launcher's own scratch folder (its name, or its name and a
           process id) still in temp\\ after the run
Exit code 0 when none of these happened."""
import argparse
import collections
import hashlib
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import pkgfile  # noqa: E402

# The x86 build's programs where 32-bit code runs, else the x64 build's.
BIN = os.environ.get("STOWAWAY_BIN") or subprocess.run(
    ["bash", os.path.join(ROOT, "scripts", "arches.sh"), "--bin"],
    stdout=subprocess.PIPE, check=True).stdout.decode().strip()
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")

def lane_dir():
    """The Wine session of this run's lane (see scripts/winenv.sh)."""
    lane = os.environ.get("STOWAWAY_LANE")
    if not lane:
        m = re.search(r"id:(\d+)", os.environ.get("CTEST_RESOURCE_GROUP_0_WINE", ""))
        lane = m.group(1) if m else "1"
    base = os.path.join(ROOT, "build", "wine")
    return base if lane == "1" else os.path.join(base, "lane" + lane)


PREFIX_C = os.path.join(lane_dir(), "prefix", "drive_c")
BASE = os.path.join(ROOT, "build", "fuzz", "base")
KINDS = ["trailer", "table", "stored", "cabinet", "zip", "pac", "config", "script", "language"]
SCRATCH = "{A6E044B8-6C25-48fc-806B-002A9582C81F}"
# The scratch folder's own names: the documented one, or a private one.
SCRATCH_NAME = re.compile(re.escape(SCRATCH) + r"(\.\d+){0,2}$", re.I)
FAULT_EXIT_CODE = 574
DEVICE_PREFIXES = [b"NUL.", b"CON.", b"AUX.", b"PRN.", b"COM1", b"LPT9", b"nul.", b"com3"]
REG_KEY = r"HKCU\Software\StowawayFuzz"

SCRIPT = """[Scripttrv]
IF=<FILE_EXIST>,<TEMPTRV>\\readme.txt,<TRUE>,Found,Missing
CREATEDIR=<TEMPTRV>\\made\\deeper,,,Found
WRITEINIFILE=<TEMPTRV>\\made\\settings.ini,Main,Count,12,,,Found
CREATEKEY=<HKEY_CURRENT_USER>,Software\\StowawayFuzz,Count,<REG_DWORD>,42,,,Found
CREATEKEY=<HKEY_CURRENT_USER>,Software\\StowawayFuzz,Big,<REG_QWORD>,8589934592,,,Found
CREATEKEY=<HKEY_CURRENT_USER>,Software\\StowawayFuzz,Name,<REG_SZ>,fuzz,,,Found
IF=<INIT>
IF=<REGKEY_READ>,<HKEY_CURRENT_USER>,Software\\StowawayFuzz,Count,=,42,Read,Unread
SETFILEATTRIBUTES=<TEMPTRV>\\made\\settings.ini,<FILE_ATTRIBUTE_ARCHIVE>,,,,Read
REMOVEKEY=<HKEY_CURRENT_USER>,Software\\StowawayFuzz,Name,,,Read
EXIT=0
"""

CONFIG = """[General]
Guid={guid}
ProductName=Fuzz Sample
ProductVersion=1.0
[Runtime]
ExeFileName=fakesetup.exe
CmdLine=--exit 0 --digests "{digests}"
LaunchExe=1
DeleteFiles=1
LaunchOptions=0
CopyToTemp=0
TargetFolder=<TEMPTRV>
RunScript=1
ScriptFile=script.ini
TrayIcon=0
Percent=1
ProgressBar=1
ResumeSetup=0
RestoreFolders=1
[Dialogs]
StatusType=1
[Languages]
2057=EnglishUS.lng
1031=German.lng
"""

# Values a configuration key may take in a case. The folder keys stay in the
# case's own temporary folder whatever the case: a fuzzer must never point a
# removal at a folder outside its sandbox.
CONFIG_VALUES = {
    "TargetFolder": ["<TEMPTRV>", "<TEMPTRV>\\sub", "<TEMPTRV>\\" + "x" * 250, "", "<TEMPTRV>\\a b"],
    "ExeFileName": ["fakesetup.exe", "", "missing.exe", "nul.exe", "..\\fakesetup.exe",
                    "fakesetup.exe" + " " * 300],
    "CmdLine": ["--exit 0", "--exit 7", "", "--exit 0 " + "x" * 9000, "<PARAMS> <TEMPTRV>"],
    "ScriptFile": ["script.ini", "", "missing.ini", "..\\script.ini", "con.ini", "x" * 300],
    "Guid": ["{guid}", "", "{guid}" + "x" * 100, "{{A6E044B8-6C25-48fc-806B-002A9582C81F}}"],
    "ResumeSetup": ["0", "1", "-1", "99999999999999999999", ""],
    "StatusType": ["0", "1", "2", "-5", ""],
    "LaunchExe": ["0", "1", "7", ""],
    "DeleteFiles": ["0", "1", ""],
    "RunScript": ["0", "1", ""],
    "TotFilesSize": ["0", "18446744073709551615", "99999999999999999999999", "-1", "abc"],
    "RestoreFolders": ["0", "1"],
    "LaunchOptions": ["0", "1", "2"],
    "ProgressBar": ["0", "1"],
    "Percent": ["0", "1"],
}


def log(msg):
    print(msg, flush=True)


def fnv64(data):
    h = 14695981039346656037
    for b in data:
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def digest(path):
    """(size, FNV-1a 64) of a file, as fakesetup --digests writes them."""
    with open(path, "rb") as f:
        data = f.read()
    return len(data), fnv64(data)


def expected_digests():
    out = {}
    with open(os.path.join(BASE, "expected.txt")) as f:
        for line in f:
            name, size, fnv = line.rstrip("\n").rsplit(" ", 2)
            out[name] = (int(size), fnv)
    return out


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(args, timeout=600):
    return subprocess.run([WINE_RUN] + args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout)


# --- the base packages ------------------------------------------------------

def base_key():
    h = hashlib.sha1()
    for name in ("launcher.exe", "packer.exe", "EnglishUS.lng", "German.lng", "QELTRON.dll",
                 "fakesetup.exe"):
        h.update(open(os.path.join(BIN, name), "rb").read())
    h.update(open(__file__, "rb").read())
    return h.hexdigest()


def build_bases():
    """Packages the cases start from, one per archive kind, each with the
    script stored in its payload and a language pack whose libraries lie in
    it byte for byte (stored cabinets), built once per build."""
    key = base_key()
    stamp = os.path.join(BASE, "key")
    if os.path.exists(stamp) and open(stamp).read() == key:
        return
    log("fuzz: building the base packages")
    shutil.rmtree(BASE, ignore_errors=True)
    work = os.path.join(BASE, "work")
    payload = os.path.join(work, "payload")
    os.makedirs(os.path.join(payload, "data"))
    shutil.copy(os.path.join(BIN, "fakesetup.exe"), payload)
    with open(os.path.join(payload, "readme.txt"), "w") as f:
        f.write("Fuzz sample.\n" * 50)
    rnd = random.Random(1)
    with open(os.path.join(payload, "data", "table.bin"), "wb") as f:
        f.write(bytes(rnd.getrandbits(8) for _ in range(40000)))
    with open(os.path.join(payload, "data", "notes.txt"), "w") as f:
        f.write("".join("note %d\n" % i for i in range(3000)))
    script = os.path.join(work, "script.ini")
    with open(script, "w", newline="\r\n") as f:
        f.write(SCRIPT)
    stored = os.path.join(work, "stored.dat")
    with open(stored, "wb") as f:
        f.write(bytes(rnd.getrandbits(8) for _ in range(30000)))
    # What every file the run unpacks must hold, byte for byte.
    expected = {}
    for folder, _, files in os.walk(payload):
        for name in files:
            full = os.path.join(folder, name)
            expected[os.path.relpath(full, payload).replace(os.sep, "\\")] = digest(full)
    expected["script.ini"] = digest(script)
    expected["stored.dat"] = digest(stored)
    cfg = os.path.join(work, "project.cfg")
    with open(cfg, "w", newline="\r\n") as f:
        f.write(CONFIG.format(guid="{11111111-2222-3333-4444-555555555555}", digests="digests.txt"))
    zipped = os.path.join(work, "payload.zip")
    with zipfile.ZipFile(zipped, "w", zipfile.ZIP_DEFLATED) as z:
        for folder, _, files in os.walk(payload):
            for name in files:
                full = os.path.join(folder, name)
                z.write(full, os.path.relpath(full, payload).replace(os.sep, "/"))
    pac = os.path.join(work, "payload.pac")
    r = wine([os.path.join(BIN, "packer.exe"), "pac", "--folder", win_path(payload), "--out",
              win_path(pac)])
    if r.returncode != 0:
        raise RuntimeError("packer pac failed: %s" % r.stdout.decode("latin-1"))
    binary = pkgfile.stored_cabinet([
        (b"EnglishUS.001", pkgfile.stored_cabinet(
            [(b"EnglishUS.lng", open(os.path.join(BIN, "EnglishUS.lng"), "rb").read())])),
        (b"German.001", pkgfile.stored_cabinet(
            [(b"German.lng", open(os.path.join(BIN, "German.lng"), "rb").read())])),
    ])
    with open(os.path.join(work, "binary.cab"), "wb") as f:
        f.write(binary)
    for kind, payload_args in (("cab", ["--folder", payload]), ("zip", ["--archive", zipped]),
                               ("pac", ["--archive", pac])):
        out = os.path.join(BASE, kind + ".exe")
        args = [os.path.join(BIN, "packer.exe"), "build", "--out", win_path(out), "--config",
                win_path(cfg), "--embed-config", "--stored", win_path(script) + "=script.ini",
                "--stored", win_path(stored) + "=stored.dat",
                "--language", win_path(os.path.join(BIN, "EnglishUS.lng")),
                "--language", win_path(os.path.join(BIN, "German.lng"))]
        args += [a if a.startswith("--") else win_path(a) for a in payload_args]
        r = wine(args)
        if r.returncode != 0 or not os.path.exists(out):
            raise RuntimeError("packer build failed (exit code %d): %s" %
                               (r.returncode, (r.stdout + r.stderr).decode("latin-1")))
        # The language pack goes into the image before the payload follows it.
        image, pieces = pkgfile.split_package(open(out, "rb").read())
        image_file = os.path.join(work, kind + ".image.exe")
        with open(image_file, "wb") as f:
            f.write(image)
        r = wine([os.path.join(BIN, "putres.exe"), win_path(image_file), "BINARY", "130",
                  win_path(os.path.join(work, "binary.cab"))])
        if r.returncode != 0:
            raise RuntimeError("putres failed (%d)" % r.returncode)
        with open(out, "wb") as f:
            f.write(pkgfile.join_package(open(image_file, "rb").read(), pieces))
    # Where each byte of German.lng lies in the packages: the language cases
    # change those bytes in place.
    for kind in ("cab",):
        data = open(os.path.join(BASE, kind + ".exe"), "rb").read()
        at = data.find(binary[:64])
        if at < 0:
            raise RuntimeError("the language pack is not in the package")
        outer = list(range(at, at + len(binary)))
        pack = pkgfile.stored_member_positions(binary, outer, b"German.001")
        inner = bytes(data[i] for i in pack)
        lng = pkgfile.stored_member_positions(inner, pack, b"German.lng")
        with open(os.path.join(BASE, kind + ".lng.pos"), "w") as f:
            f.write(" ".join(map(str, lng)))
    shutil.copy(os.path.join(BIN, "QELTRON.dll"), BASE)
    with open(os.path.join(BASE, "expected.txt"), "w") as f:
        for name, (size, fnv) in sorted(expected.items()):
            f.write("%s %d %s\n" % (name, size, fnv))
    with open(os.path.join(BASE, "script.ini"), "wb") as f:
        f.write(open(script, "rb").read())
    shutil.rmtree(work, ignore_errors=True)
    with open(stamp, "w") as f:
        f.write(key)


# --- mutations ----------------------------------------------------------------

def mutate_bytes(rng, blob, start, end, count=None):
    """A few random changes inside blob[start:end]."""
    blob = bytearray(blob)
    if end <= start:
        return bytes(blob)
    for _ in range(count or rng.choice([1, 1, 2, 4, 8, 16])):
        pos = rng.randrange(start, end)
        op = rng.randrange(6)
        if op == 0:
            blob[pos] ^= 1 << rng.randrange(8)
        elif op == 1:
            blob[pos] = rng.randrange(256)
        elif op == 2:
            blob[pos] = rng.choice([0, 0xFF, 0x7F, 0x80, 0x2E, 0x5C])
        elif op == 3:
            n = min(rng.choice([2, 4, 8, 16, 64]), end - pos)
            blob[pos:pos + n] = bytes(n)
        elif op == 4 and pos + 4 <= end:
            struct.pack_into("<I", blob, pos, rng.choice([0, 1, 0x7FFFFFFF, 0x80000000,
                                                          0xFFFFFFFF, rng.getrandbits(32)]))
        else:
            n = min(rng.choice([2, 4, 8]), end - pos)
            blob[pos:pos + n] = bytes(rng.getrandbits(8) for _ in range(n))
    return bytes(blob)


def payload_region(data, want_type=None):
    """(start, end, record) of the first embedded archive of the package."""
    t = pkgfile.read_table(data)
    for r in t.records:
        if r.type & pkgfile.TF_EMBEDDED and not r.type & pkgfile.TF_STORED:
            return r.offset, r.offset + r.size, r
    raise ValueError("no embedded archive")


def rename_in_place(rng, blob, start, end, names):
    """Overwrites the first bytes of one of the names found in blob[start:end]
    with a device name of the same length."""
    blob = bytearray(blob)
    found = [i for name in names for i in [blob.find(name, start, end)] if i >= 0]
    if found:
        pos = rng.choice(found)
        prefix = rng.choice(DEVICE_PREFIXES)
        blob[pos:pos + len(prefix)] = prefix
    return bytes(blob)


MEMBER_NAMES = [b"readme.txt", b"fakesetup.exe", b"table.bin", b"notes.txt"]


def mutate_trailer(rng, data):
    t = pkgfile.read_table(data)
    op = rng.randrange(8)
    if op == 0:
        return mutate_bytes(rng, data, t.start, len(data) - len(pkgfile.MAGIC))
    records = [pkgfile.Record(r.file, r.fileout, r.size, r.offset, r.type) for r in t.records]
    head = data[:t.start]
    if op == 1:
        nb = rng.choice([0, len(records) + 1, len(records) + 5, 0x7FFFFFFF, 0xFFFFFFFF, 65536])
        return head + pkgfile.table_bytes(records, nbfiles=nb)
    r = rng.choice(records)
    if op == 2:
        r.size = rng.choice([0, r.size - 1, r.size + 1, 1 << 40, 1 << 63, (1 << 64) - 1])
    elif op == 3:
        r.offset = rng.choice([0, r.offset + 1, len(data), (1 << 64) - 16, r.offset - 1])
    elif op == 4:
        r.type = rng.randrange(256)
    elif op == 5:
        name = rng.choice([b"nul.txt", b"sub\\AUX.dat", b"COM1.log", b"con.dat", b"..\\x.001",
                           b"C:\\x.001", b"a" * 259, b"", b"x.001 ", b"x."])
        if rng.random() < 0.5:
            r.file = name
        else:
            r.fileout = name
    elif op == 6:
        # Sizes of records nothing bounds, so that their sum would wrap.
        records.append(pkgfile.Record(b"TRV9998.001", b"web.002", (1 << 64) - 2, 0,
                                      pkgfile.TF_EXTERNAL | pkgfile.TF_STORED))
    else:
        return data[:rng.randrange(t.start, len(data))] + data[-len(pkgfile.MAGIC):]
    return head + pkgfile.table_bytes(records)


# The values a table field takes in a structure-aware case: the edges of
# its width and its true value moved by one.
def field_values(true, width):
    top = (1 << (8 * width)) - 1
    return [0, 1, top, 0x7FFFFFFF & top, 0x80000000 & top, (true + 1) & top, (true - 1) & top]


def mutate_table(rng, data):
    """One field of the file table, of a record or of the header, set to one
    of field_values()."""
    t = pkgfile.read_table(data)
    records = [pkgfile.Record(r.file, r.fileout, r.size, r.offset, r.type) for r in t.records]
    head = data[:t.start]
    field = rng.choice(["size", "offset", "type", "lgfile", "nbfiles", "totsize"])
    if field == "nbfiles":
        return head + pkgfile.table_bytes(records, nbfiles=rng.choice(field_values(t.nbfiles, 4)))
    if field == "totsize":
        return head + pkgfile.table_bytes(records, totsize=rng.choice(field_values(t.totsize, 8)))
    r = rng.choice(records)
    if field == "size":
        r.size = rng.choice(field_values(r.size, 8))
    elif field == "offset":
        r.offset = rng.choice(field_values(r.offset, 8))
    elif field == "type":
        r.type = rng.choice(field_values(r.type, 1))
    else:
        # A name's length field: the name itself moved by one byte either way.
        r.file = r.file + b"x" if rng.random() < 0.5 else r.file[:-1]
    # The header's sum stays the true one: the table must add up by itself.
    return head + pkgfile.table_bytes(records, totsize=t.totsize)


def mutate_stored(rng, data):
    """A few bytes changed inside a file stored in the package, in place."""
    r = stored_record(data, b"stored.dat")
    return mutate_bytes(rng, data, r.offset, r.offset + r.size, rng.choice([1, 1, 2, 4, 8]))


def mutate_archive(rng, data, kind):
    start, end, _ = payload_region(data)
    op = rng.randrange(4)
    if op == 0:
        return rename_in_place(rng, data, start, end, MEMBER_NAMES)
    if kind == "cabinet" and op == 1:
        # Damage inside the data blocks with their checksums made right, so
        # that it reaches the decoder.
        cab = bytearray(data[start:end])
        blocks = pkgfile.cabinet_blocks(cab)
        if blocks:
            pos, cb, _ = rng.choice(blocks)
            cab = bytearray(mutate_bytes(rng, cab, pos + 10, min(pos + 8 + cb, len(cab))))
            cab = pkgfile.fix_cabinet_checksums(cab)
        return data[:start] + bytes(cab) + data[end:]
    if op == 2:
        # Cut short: zeros over the archive's tail.
        cut = rng.randrange(start, end)
        return data[:cut] + bytes(end - cut) + data[end:]
    return mutate_bytes(rng, data, start, end)


def mutate_config(rng, text):
    lines = text.splitlines()
    for _ in range(rng.choice([1, 1, 2, 3])):
        op = rng.randrange(6)
        i = rng.randrange(len(lines))
        key = lines[i].split("=", 1)[0] if "=" in lines[i] else None
        if op == 0 and key in CONFIG_VALUES:
            lines[i] = key + "=" + rng.choice(CONFIG_VALUES[key]).format(guid="{%08X-1111-2222-3333-444455556666}" % rng.getrandbits(32))
        elif op == 1 and key not in ("TargetFolder",):
            lines[i] = lines[i] + rng.choice([" ", "\t", "x" * 3000, "=", "\x00", ",,,"])
        elif op == 2 and key != "TargetFolder":
            del lines[i]
        elif op == 3:
            lines.insert(i, rng.choice(["[Runtime]", "[Languages]", "[", "=", "1031", "1031=",
                                        "1031=German.lng", "0=..\\x.lng", "1036=nul.lng",
                                        "2057=" + "y" * 300]))
        elif op == 4:
            lines[i] = lines[i].upper() if key != "TargetFolder" else lines[i]
        else:
            lines.insert(i, lines[i])
    return "\r\n".join(lines) + "\r\n"


def mutate_script(rng, text):
    lines = text.splitlines()
    op = rng.randrange(8)
    if op == 0:
        # Many lines: over the stated limit or near it.
        n = rng.choice([19999, 20001, 100000])
        return "[Scripttrv]\r\n" + "IF=<INIT>\r\n" * n
    if op == 1:
        i = rng.randrange(1, len(lines))
        lines[i] = lines[i] + "," * rng.choice([1, 10, 500]) + "x" * rng.choice([0, 1500, 5000])
    elif op == 2:
        i = rng.randrange(1, len(lines))
        lines[i] = lines[i].replace(",", " , ").replace("=", " = ", 1) if rng.random() < 0.5 \
            else lines[i].replace("42", rng.choice(["99999999999999999999", "-1", " 42 ", "abc"]))
    elif op == 3:
        i = rng.randrange(len(lines))
        del lines[i]
    elif op == 4:
        i = rng.randrange(1, len(lines))
        lines.insert(i, lines[i])
    elif op == 5:
        lines.insert(rng.randrange(1, len(lines) + 1),
                     rng.choice(["IF=", "IF=<SETUPVAR_READ>", "EXIT=1 ", "CREATEKEY= ,,,,,",
                                 "=", "[Other]", "WRITEINIFILE=<TEMPTRV>\\nul.ini,a,b,c",
                                 "CREATEDIR=<TEMPTRV>\\" + "d" * 400]))
    else:
        raw = ("\r\n".join(lines) + "\r\n").encode("cp1252")
        return mutate_bytes(rng, raw, 12, len(raw)).decode("cp1252", "replace")
    return "\r\n".join(lines) + "\r\n"


def stored_record(data, name):
    t = pkgfile.read_table(data)
    for r in t.records:
        if r.file == name or r.fileout == name:
            return r
    raise ValueError("no stored %r" % name)


def replace_stored(data, name, blob):
    """The package with the stored file's bytes replaced (appended anew) and
    its hashes made to match."""
    image, pieces = pkgfile.split_package(data)
    index = next(i for i, (r, _) in enumerate(pieces) if name in (r.file, r.fileout))
    pieces = [(r, blob if i == index else b) for i, (r, b) in enumerate(pieces)]
    # The package's hashes follow, as if it had been packed so: the case is
    # about what the launcher makes of the new bytes, not about the check.
    return pkgfile.rehash_record(pkgfile.join_package(image, pieces), index, blob)


# Stands for the case's own digests file in a configuration until the case
# knows its folder.
DIGESTS_MARK = "@DIGESTS@"


def make_case(seed, index, kind):
    """(package kind, package bytes, configuration text) of one case."""
    rng = random.Random(seed * 1000003 + index)
    archive = {"zip": "zip", "pac": "pac"}.get(kind, "cab")
    data = open(os.path.join(BASE, archive + ".exe"), "rb").read()
    config = CONFIG.format(guid="{%08X-F022-4C0D-9E11-%012X}" % (seed & 0xFFFFFFFF, index),
                           digests=DIGESTS_MARK)
    if kind == "trailer":
        data = mutate_trailer(rng, data)
    elif kind == "table":
        data = mutate_table(rng, data)
    elif kind == "stored":
        data = mutate_stored(rng, data)
    elif kind in ("cabinet", "zip", "pac"):
        data = mutate_archive(rng, data, kind)
    elif kind == "config":
        config = mutate_config(rng, config)
    elif kind == "script":
        script = open(os.path.join(BASE, "script.ini"), "rb").read().decode("cp1252")
        data = replace_stored(data, b"script.ini",
                              mutate_script(rng, script).encode("cp1252", "replace"))
    elif kind == "language":
        # The library's bytes, wherever the pack's blocks put them.
        positions = [int(p) for p in open(os.path.join(BASE, "cab.lng.pos")).read().split()]
        lng = bytes(data[p] for p in positions)
        changed = mutate_bytes(rng, lng, 0, len(lng), rng.choice([1, 4, 16, 64, 256]))
        data = bytearray(data)
        for p, b in zip(positions, changed):
            data[p] = b
        data = bytes(data)
    return archive, data, config


# --- running and judging ------------------------------------------------------

def snapshot(root, skip=()):
    out = set()
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.join(folder, d) not in skip]
        for name in files + dirs:
            out.add(os.path.join(folder, name))
    return out


def c_drive_snapshot():
    if not os.path.isdir(PREFIX_C):
        return set()
    return snapshot(PREFIX_C, skip={os.path.join(PREFIX_C, "windows")})


class Case:
    def __init__(self, seed, index, kind, root):
        self.seed, self.index, self.kind = seed, index, kind
        self.dir = os.path.join(root, "case%05d" % index)
        self.temp = os.path.join(self.dir, "temp")
        self.package = os.path.join(self.dir, "setup.exe")
        self.log = os.path.join(self.dir, "run.log")
        self.digests = os.path.join(self.dir, "digests.txt")
        self.passed_on = False  # the setup program's crash code, handed back
        self.setup_hung = False  # the setup program ran on; the launcher waited
        self.result = None
        self.findings = []

    def prepare(self):
        archive, data, config = make_case(self.seed, self.index, self.kind)
        os.makedirs(self.temp)
        with open(self.package, "wb") as f:
            f.write(data)
        with open(os.path.join(self.dir, "setup.cfg"), "w", encoding="cp1252",
                  errors="replace", newline="") as f:
            f.write(config.replace(DIGESTS_MARK, win_path(self.digests)))
        if archive == "pac":
            shutil.copy(os.path.join(BASE, "QELTRON.dll"), self.dir)
        self.expected = {self.package, os.path.join(self.dir, "setup.cfg"), self.temp, self.log,
                         os.path.join(self.dir, "QELTRON.dll"), self.digests}

    def line(self):
        cmd = '"%s" /S /SUPPRESSMSGBOXES /LANG:1031 /LOG:"%s"' % (win_path(self.package),
                                                                  win_path(self.log))
        return "%d\t%s\t%s\t%s\n" % (self.index, win_path(self.temp), win_path(self.temp), cmd)

    def judge(self, result):
        self.result = result
        status = result.get("status", "missing")
        if status == "hang":
            if self.setup_program_still_ran():
                self.setup_hung = True
                return
            self.findings.append("hang")
        elif status.startswith("exit="):
            code = int(status[5:])
            if code >= 0x80000000 or code == FAULT_EXIT_CODE:
                if self.setup_program_ended_with(code):
                    self.passed_on = True
                else:
                    self.findings.append("crash %#x" % code)
        else:
            self.findings.append("not run (%s)" % status)
        if status == "exit=0":
            self.check_bytes()
        for path in snapshot(self.dir, skip={self.temp}):
            # A changed CmdLine= may rename the fake setup program's digests
            # file ("...digests.txt"xx is one argument): the setup program
            # wrote what its command line said, not the launcher.
            if self.kind == "config" and path.startswith(self.digests):
                continue
            if path not in self.expected:
                self.findings.append("outside " + os.path.relpath(path, self.dir))
        # The launcher's own scratch folder (whatever its exact name) must be
        # gone; a resume-mode data folder beside it may stay by design.
        for name in os.listdir(self.temp):
            if SCRATCH_NAME.match(name):
                scratch = os.path.join(self.temp, name)
                left = sorted(os.path.relpath(p, self.temp) for p in snapshot(scratch))
                self.findings.append("debris %s %s" % (name, " ".join(left[:5])))

    def check_bytes(self):
        """A run that ends 0 has handed the setup program every file of the
        package exactly as it was packed."""
        if not os.path.exists(self.digests):
            return
        seen = {}
        with open(self.digests, encoding="utf-8", errors="replace") as f:
            for line in f:
                name, size, fnv = line.rstrip("\n").rsplit(" ", 2)
                seen[name.lower()] = (int(size), fnv)
        for name, want in sorted(expected_digests().items()):
            if self.kind == "script" and name == "script.ini":
                continue  # packed changed, on purpose
            got = seen.get(name.lower())
            if got is None:
                # A changed configuration or script may leave a file out on purpose.
                if self.kind not in ("config", "script"):
                    self.findings.append("missing " + name)
            elif got != want:
                self.findings.append("wrong bytes " + name)

    def setup_program_ended_with(self, code):
        """Whether the log shows the setup program ending with code and the
        launcher ending with it after that."""
        lines = self.log_lines()
        ended = "ExecuteFile()->End(1 - %#x)" % code
        for i, l in enumerate(lines):
            if l.endswith(ended):
                return any(m.endswith("WinMain()->End(%#x)" % code) for m in lines[i:])
        return False

    def log_lines(self):
        try:
            with open(self.log, encoding="utf-8-sig", errors="replace") as f:
                return f.read().splitlines()
        except OSError:
            return []

    def setup_program_still_ran(self):
        """Whether the log ends waiting for the setup program it started."""
        lines = [l for l in self.log_lines() if "ExecuteFile(" in l]
        return bool(lines) and "->Begin" in lines[0] and not any(
            "ExecuteFile()->End(" in l for l in lines)

    def code(self):
        status = (self.result or {}).get("status", "")
        return status[5:] if status.startswith("exit=") else status or "?"


def run_batch(cases, jobs, timeout, root):
    listing = os.path.join(root, "batch.txt")
    results = os.path.join(root, "results.txt")
    with open(listing, "w", encoding="utf-8") as f:
        for c in cases:
            f.write(c.line())
    if os.path.exists(results):
        os.remove(results)
    wine([os.path.join(BIN, "caserun.exe"), "--jobs", str(jobs), "--timeout",
          str(int(timeout * 1000)), win_path(listing), win_path(results)],
         timeout=timeout * (len(cases) + 2) + 120)
    out = {}
    if os.path.exists(results):
        for line in open(results, encoding="utf-8", errors="replace").read().splitlines():
            parts = line.split("\t")
            if len(parts) >= 4:
                out[int(parts[0])] = {"status": parts[1], "ms": parts[2][3:],
                                      "boxes": parts[3][6:],
                                      "texts": parts[4] if len(parts) > 4 else ""}
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--cases", type=int, default=50)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--jobs", type=int, default=6)
    ap.add_argument("--timeout", type=float, default=60)
    ap.add_argument("--time-limit", type=float, default=0, help="stop starting batches after SEC")
    ap.add_argument("--kind", choices=KINDS, help="only this kind of damage")
    ap.add_argument("--case", type=int, help="run this one case and keep its folder")
    ap.add_argument("--keep", action="store_true", help="keep every case folder")
    args = ap.parse_args()

    for exe in ("launcher.exe", "packer.exe", "caserun.exe", "putres.exe", "fakesetup.exe"):
        if not os.path.exists(os.path.join(BIN, exe)):
            log("fuzz: %s is not built (make build)" % exe)
            return 2
    started = time.time()
    build_bases()
    root = tempfile.mkdtemp(prefix="stowaway-fuzz-")
    if args.case is not None:
        indices = [args.case]
        args.keep = True
    else:
        indices = list(range(args.cases))
    kind_of = (lambda i: args.kind) if args.kind else (lambda i: KINDS[i % len(KINDS)])
    c_before = c_drive_snapshot()
    batch_size = max(args.jobs * 4, 8)
    done = []
    codes = collections.Counter()
    per_kind = collections.defaultdict(collections.Counter)
    findings = []
    for b in range(0, len(indices), batch_size):
        if args.time_limit and time.time() - started > args.time_limit:
            log("fuzz: time limit reached after %d cases" % len(done))
            break
        batch = [Case(args.seed, i, kind_of(i), root) for i in indices[b:b + batch_size]]
        for c in batch:
            c.prepare()
        results = run_batch(batch, args.jobs, args.timeout, root)
        for c in batch:
            c.judge(results.get(c.index, {}))
        # The launcher keeps its scratch folder while another launcher runs
        # (they share it when they share TEMP): a case that left it beside
        # other runs is run again alone before it counts.
        again = [c for c in batch if c.findings and all(f.startswith("debris") for f in c.findings)]
        if again:
            alone_root = tempfile.mkdtemp(prefix="alone-", dir=root)
            for c in again:
                alone = Case(c.seed, c.index, c.kind, alone_root)
                alone.prepare()
                alone.judge(run_batch([alone], 1, args.timeout, alone_root).get(alone.index, {}))
                if not alone.findings:
                    log("fuzz: case %d (%s): debris only beside other runs" % (c.index, c.kind))
                    c.findings = []
            shutil.rmtree(alone_root, ignore_errors=True)
        for c in batch:
            codes[c.code()] += 1
            per_kind[c.kind][c.code()] += 1
            if c.findings:
                findings.append(c)
                log("fuzz: case %d (%s): %s" % (c.index, c.kind, "; ".join(c.findings)))
            elif not args.keep:
                shutil.rmtree(c.dir, ignore_errors=True)
            done.append(c)
        for path in sorted(c_drive_snapshot() - c_before):
            findings.append(None)
            log("fuzz: outside, on the C: drive: %s" % os.path.relpath(path, PREFIX_C))
        c_before = c_drive_snapshot()
        stray = [p for p in os.listdir(root)
                 if not p.startswith(("case", "alone-")) and p not in ("batch.txt", "results.txt")]
        for p in stray:
            findings.append(None)
            log("fuzz: outside, beside the cases: %s" % p)
        log("fuzz: %d cases, %.0f s" % (len(done), time.time() - started))
    wine(["reg", "delete", REG_KEY, "/f"], timeout=120)

    crashes = sum(1 for c in done if any(f.startswith("crash") for f in c.findings))
    hangs = sum(1 for c in done if "hang" in c.findings)
    outside = sum(1 for c in done for f in c.findings if f.startswith("outside")) + \
        sum(1 for f in findings if f is None)
    debris = sum(1 for c in done if any(f.startswith("debris") for f in c.findings))
    wrong = sum(1 for c in done if any(f.startswith(("wrong bytes", "missing")) for f in c.findings))
    log("fuzz: seed %d, %d cases in %.0f s: %d crashes, %d hangs, %d files outside the target, "
        "%d runs leaving debris, %d runs ending 0 with files unlike the packed ones" %
        (args.seed, len(done), time.time() - started, crashes, hangs, outside, debris, wrong))
    passed_on = sum(1 for c in done if c.passed_on)
    if passed_on:
        log("fuzz: %d runs handed back the crash code of a setup program the damage reached" %
            passed_on)
    setup_hung = sum(1 for c in done if c.setup_hung)
    if setup_hung:
        log("fuzz: %d runs waited for a setup program the damage reached until the time-out" %
            setup_hung)
    for kind in KINDS:
        if per_kind[kind]:
            log("fuzz:   %-8s %s" % (kind, ", ".join("%s x%d" % (k, n) for k, n in
                                                    sorted(per_kind[kind].items()))))
    if findings:
        kept = sorted({c.index for c in findings if c is not None})
        log("fuzz: cases kept in %s: %s (again: scripts/fuzz.py --seed %d --case N)" %
            (root, " ".join(map(str, kept)), args.seed))
    elif not args.keep:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if (crashes or hangs or outside or debris or wrong) else 0


if __name__ == "__main__":
    sys.exit(main())
