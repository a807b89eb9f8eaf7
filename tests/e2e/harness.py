"""Shared helpers of the end-to-end tests: run Windows programs of the build
under the project's Wine session, and turn Linux paths into Windows ones."""
import atexit
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.environ.get("STOWAWAY_ROOT") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")


def default_bin():
    """The build whose programs this machine runs: the x86 one where 32-bit
    code executes, else the x64 one (scripts/arches.sh)."""
    return subprocess.run(["bash", os.path.join(ROOT, "scripts", "arches.sh"), "--bin"],
                          stdout=subprocess.PIPE, check=True).stdout.decode().strip()


def arches():
    """The architectures whose programs run here: ["x64"] or ["x86", "x64"]."""
    return subprocess.run(["bash", os.path.join(ROOT, "scripts", "arches.sh")],
                          stdout=subprocess.PIPE, check=True).stdout.decode().split()


BIN = os.environ.get("STOWAWAY_BIN") or default_bin()
# The architecture of the programs under test, x86 or x64.
ARCH = os.environ.get("STOWAWAY_ARCH") or ("x64" if BIN.rstrip("/").endswith("win64/bin") else "x86")


def lane():
    """The Wine session this test uses (see scripts/winenv.sh)."""
    if os.environ.get("STOWAWAY_LANE"):
        return os.environ["STOWAWAY_LANE"]
    m = re.search(r"id:(\d+)", os.environ.get("CTEST_RESOURCE_GROUP_0_WINE", ""))
    return m.group(1) if m else "1"


STATE_DIR = os.path.join(ROOT, "build", "wine") if lane() == "1" else \
    os.path.join(ROOT, "build", "wine", "lane" + lane())


def win_path(path):
    """Z:\\... form of a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def exe(name):
    return os.path.join(BIN, name)


# Programs never run with the checkout as their current folder: a package
# whose script deletes relative to it must find only scratch files there.
_SCRATCH_CWD = None


def scratch_cwd():
    global _SCRATCH_CWD
    if _SCRATCH_CWD is None or not os.path.isdir(_SCRATCH_CWD):
        _SCRATCH_CWD = tempfile.mkdtemp(prefix="stowaway-cwd-")
        atexit.register(shutil.rmtree, _SCRATCH_CWD, True)
    return _SCRATCH_CWD


def run(program, args=(), timeout=60, cwd=None, check=False):
    """Runs a program of the build under Wine; returns CompletedProcess."""
    cmd = [WINE_RUN, program if os.path.isabs(program) else exe(program)] + list(args)
    return subprocess.run(cmd, cwd=cwd or scratch_cwd(), timeout=timeout, check=check,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)


def start(program, args=(), cwd=None, stdout=subprocess.PIPE):
    cmd = [WINE_RUN, program if os.path.isabs(program) else exe(program)] + list(args)
    return subprocess.Popen(cmd, cwd=cwd or scratch_cwd(), stdin=subprocess.DEVNULL, stdout=stdout,
                            stderr=subprocess.DEVNULL)


def wait_for(predicate, timeout=20.0, step=0.05):
    end = time.time() + timeout
    while time.time() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


class TraceMonitor:
    """tracemon.exe receiving into a file, for the life of a with-block."""

    def __init__(self, workdir, options=()):
        self.options = list(options)
        self.out = os.path.join(workdir, "trace.txt")
        self.ready = os.path.join(workdir, "tracemon.ready")
        self.stop_file = os.path.join(workdir, "tracemon.stop")
        self.proc = None

    def __enter__(self):
        for f in (self.out, self.ready, self.stop_file):
            if os.path.exists(f):
                os.remove(f)
        self.proc = start("tracemon.exe", self.options + ["--out", win_path(self.out),
                                            "--ready-file", win_path(self.ready),
                                            "--until-file", win_path(self.stop_file)],
                          stdout=subprocess.DEVNULL)
        if not wait_for(lambda: os.path.exists(self.ready), 30):
            raise RuntimeError("tracemon did not start")
        return self

    def lines(self):
        if not os.path.exists(self.out):
            return []
        with open(self.out, "rb") as f:
            return [l.decode("latin-1") for l in f.read().split(b"\n") if l]

    def messages(self):
        """Lines without their "[module] " prefix."""
        out = []
        for l in self.lines():
            if l.startswith("[") and "] " in l:
                out.append(l.split("] ", 1)[1])
            else:
                out.append(l)
        return out

    def __exit__(self, *exc):
        open(self.stop_file, "w").close()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        return False


def main():
    unittest.main(verbosity=2)
