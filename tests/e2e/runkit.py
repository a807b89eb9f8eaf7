"""Running packages as a user would, for the end-to-end tests of the setup
run and for the demo: exact command lines, the trace, the windows on the
screen, the files left behind."""
import glob
import os
import re
import shutil
import subprocess
import tempfile
import time

import harness

ROOT = harness.ROOT
BIN = harness.BIN
PREFIX = os.path.join(harness.STATE_DIR, "prefix")
SESSION_ENV = os.path.join(harness.STATE_DIR, "session.env")
TRV_GUID = "{A6E044B8-6C25-48fc-806B-002A9582C81F}"
EXTRACT_FOLDER = "{7B28E39C-883C-4f49-ABFB-5D16796F2DD9}"


def linux_path(win):
    """Linux path of a Windows path of the session (C:\\ in the prefix, Z:\\ = /)."""
    if len(win) < 2 or win[1] != ":":
        return win
    drive = win[0].lower()
    rest = win[2:].replace("\\", "/").lstrip("/")
    if drive == "z":
        return "/" + rest
    base = os.path.join(PREFIX, "dosdevices", drive + ":")
    # Windows paths ignore case: walk the prefix the way Wine would.
    path = os.path.realpath(base)
    for part in [p for p in rest.split("/") if p]:
        exact = os.path.join(path, part)
        if not os.path.exists(exact) and os.path.isdir(path):
            for name in os.listdir(path):
                if name.lower() == part.lower():
                    exact = os.path.join(path, name)
                    break
        path = exact
    return path


def display_env():
    env = dict(os.environ)
    if os.path.exists(SESSION_ENV):
        with open(SESSION_ENV) as f:
            for line in f:
                if "=" in line:
                    k, v = line.strip().split("=", 1)
                    env[k] = v
    return env


def uiauto(*args, timeout=60):
    r = harness.run("uiauto.exe", list(args), timeout=timeout)
    return r.returncode, r.stdout.decode("utf-8", "replace")


def parse_controls(dump):
    """uiauto dump output -> list of dicts (window first)."""
    out = []
    for line in dump.splitlines():
        m = re.match(r"(window|control) (.*?) text=(.*)$", line)
        if not m:
            continue
        d = {"kind": m.group(1), "text": m.group(3).replace("\\n", "\n").replace("\\r", "\r")}
        for kv in m.group(2).split(" "):
            if "=" in kv:
                k, v = kv.split("=", 1)
                d[k] = v
        out.append(d)
    return out


def screenshot(path, rect=None):
    """PNG of the whole screen, or of one window rectangle (x1,y1,x2,y2)."""
    cmd = ["import", "-window", "root"]
    if rect:
        x1, y1, x2, y2 = rect
        cmd += ["-crop", "%dx%d+%d+%d" % (x2 - x1, y2 - y1, x1, y1), "+repage"]
    cmd.append(path)
    subprocess.run(cmd, env=display_env(), check=True, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


class LauncherRun:
    """One run of a package under tracemon. start() leaves it running (for a
    test that talks to its windows); wait() returns the full exit code."""

    def __init__(self, package, args="", cwd=None, work=None, watch=False, limit_ms=0,
                 temp=None):
        self.package = package
        self.args = args
        self.cwd = cwd or os.path.dirname(package)
        self.temp = temp  # TEMP and TMP of the run (a Linux folder), else the session's
        self.own_work = work is None
        self.work = work or tempfile.mkdtemp(prefix="stowaway-run-")
        self.mon = harness.TraceMonitor(self.work)
        self.proc = None
        self.exit_code = None
        self.trace = None  # the messages, kept once the run is over
        self.trace_lines = None  # the monitor's whole lines, likewise
        # With watch: every window the run showed; with limit_ms: whether it
        # had to be ended.
        self.watch = watch
        self.limit_ms = limit_ms
        self.windows = []
        self.timed_out = False
        self.elapsed_ms = None

    def command_line(self):
        exe = harness.win_path(self.package)
        line = '"%s"' % exe
        if self.args:
            line += " " + self.args
        return line

    def start(self):
        self.mon.__enter__()
        cmd = [harness.WINE_RUN, harness.exe("uiauto.exe"), "exec", self.command_line(),
               "--cwd", harness.win_path(self.cwd)]
        if self.temp:
            cmd += ["--temp", harness.win_path(self.temp)]
        if self.limit_ms:
            cmd += ["--timeout", str(self.limit_ms)]
        if self.watch:
            cmd.append("--watch")
        self.proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        return self

    def wait(self, timeout=120):
        try:
            out, _ = self.proc.communicate(timeout=timeout)
        finally:
            self.mon.__exit__(None, None, None)
            self.trace = self.mon.messages()
            self.trace_lines = self.mon.lines()
            if self.own_work:
                shutil.rmtree(self.work, ignore_errors=True)
        out = out or b""
        m = re.search(rb"exit=(\d+)", out)
        self.exit_code = int(m.group(1)) if m else None
        m = re.search(rb"exit=\d+ ms=(\d+)", out)
        self.elapsed_ms = int(m.group(1)) if m else None
        self.timed_out = b"\ntimeout" in b"\n" + out
        self.windows = [l.decode("utf-8", "replace") for l in out.splitlines()
                        if l.startswith(b"shown ")]
        return self.exit_code

    def run(self, timeout=120):
        self.start()
        return self.wait(timeout)

    def messages(self):
        return self.trace if self.trace is not None else self.mon.messages()

    def lines(self):
        """The monitor's lines, "[module] message"."""
        return self.trace_lines if self.trace_lines is not None else self.mon.lines()

    def value(self, prefix):
        """The rest of the first trace message that starts with prefix."""
        for m in self.messages():
            if m.startswith(prefix):
                return m[len(prefix):]
        return None


_session_temp = []


def session_temp():
    """The Linux path of the session's %TEMP%."""
    if not _session_temp:
        r = subprocess.run([harness.WINE_RUN, "cmd", "/c", "echo %TEMP%"], stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
        _session_temp.append(linux_path(r.stdout.decode("latin-1").strip()))
    return _session_temp[0]


def write_config(path, sections, encoding="cp1252"):
    """An INI configuration as the packaging step writes it (8-bit text, or
    another encoding: "utf-8", "utf-8-sig", "utf-16").
    sections: list of (name, [(key, value), ...]) or (name, [line, ...])."""
    lines = []
    for name, entries in sections:
        lines.append("[%s]" % name)
        for e in entries:
            lines.append("%s=%s" % e if isinstance(e, tuple) else e)
        lines.append("")
    with open(path, "w", encoding=encoding, newline="\r\n") as f:
        f.write("\n".join(lines))


def base_config(guid, exe="fakesetup.exe", cmdline="", product="Stowaway Sample", **runtime):
    """Sections of a typical package: launch the setup program, wait for it,
    remove everything afterwards."""
    rt = {"ExeFileName": exe, "CmdLine": cmdline, "LaunchExe": 1, "DeleteFiles": 1,
          "LaunchOptions": 1, "TrayIcon": 0, "Percent": 1, "ProgressBar": 1}
    rt.update(runtime)
    dialogs = {"StatusType": rt.pop("StatusType", 1), "DialogInRun": rt.pop("DialogInRun", 0)}
    if "LicenseFile" in rt:
        dialogs["LicenseFile"] = rt.pop("LicenseFile")
    languages = rt.pop("Languages", None)
    sections = [("General", [("Guid", guid), ("ProductName", product),
                             ("ProductVersion", "1.0")]),
                ("Runtime", [(k, str(v)) for k, v in rt.items()]),
                ("Dialogs", [(k, str(v)) for k, v in dialogs.items()])]
    if languages:
        sections.append(("Languages", ["%d=%s" % (i, n) for i, n in languages]))
    return sections


def beside_package(folder, name, sections, helpers=("fakesetup.exe",)):
    """A package without payload: the launcher, its NAME.cfg and the setup
    program side by side (the files lie beside the program)."""
    os.makedirs(folder, exist_ok=True)
    exe = os.path.join(folder, name + ".exe")
    shutil.copy(harness.exe("launcher.exe"), exe)
    write_config(os.path.join(folder, name + ".cfg"), sections)
    for h in helpers:
        shutil.copy(harness.exe(h), os.path.join(folder, h))
    return exe


def read_record(path):
    """fakesetup's record: dict of lists."""
    out = {}
    if not os.path.exists(path):
        return out
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            k, _, v = line.partition("=")
            out.setdefault(k, []).append(v)
    return out


def new_guid():
    import uuid
    return "{%s}" % str(uuid.uuid4()).upper()


PACKER = os.path.join(ROOT, "scripts", "packer")
LANGUAGE_FILES = ["EnglishUS.lng", "French.lng", "German.lng", "Italian.lng", "Spanish.lng"]
LANGUAGE_IDS = [(1033, "EnglishUS.lng"), (1036, "French.lng"), (1031, "German.lng"),
                (1040, "Italian.lng"), (1034, "Spanish.lng")]


def packed_package(folder, name, sections, payload=None, archive=None, neutral=(),
                   languages=True, config_beside=False, skins=(), allow_missing=(),
                   extra_args=()):
    """A package made by the packer: the configuration embedded (or, with
    config_beside, written beside it), the payload folder as one embedded
    cabinet (or a ready archive), the five language libraries and the
    language-neutral files (a license) in the language pack, and the skin
    files (Corvel.dll, Corvel.thm) in the skin pack. allow_missing names the
    keys whose files the package is meant to lack; extra_args go to the
    packer as they are (--web-stored ...)."""
    os.makedirs(folder, exist_ok=True)
    cfg = os.path.join(folder, name + ".project.cfg")
    write_config(cfg, sections)
    out = os.path.join(folder, name + ".exe")
    args = [PACKER, "build", "--out", out, "--config", cfg,
            "--config-beside" if config_beside else "--embed-config"]
    if payload:
        args += ["--folder", payload]
    if archive:
        args += ["--archive", archive]
    if languages:
        for lng in LANGUAGE_FILES:
            args += ["--language", harness.exe(lng)]
    for n in neutral:
        args += ["--neutral", n]
    for k in skins:
        args += ["--skin", k]
    for key in allow_missing:
        args += ["--allow-missing", key]
    args += list(extra_args)
    r = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, timeout=600)
    if r.returncode != 0 or not os.path.exists(out):
        raise RuntimeError("packer failed: %s" % r.stdout.decode("utf-8", "replace"))
    os.remove(cfg)
    return out


def sample_payload(folder, setup_name="fakesetup.exe", extra_files=None):
    """The payload folder of a sample package: the setup program and a few files."""
    os.makedirs(os.path.join(folder, "docs"), exist_ok=True)
    shutil.copy(harness.exe("fakesetup.exe"), os.path.join(folder, setup_name))
    with open(os.path.join(folder, "readme.txt"), "w") as f:
        f.write("Sample package.\n")
    with open(os.path.join(folder, "docs", "manual.txt"), "w") as f:
        f.write("Manual.\n" * 100)
    for rel, data in (extra_files or {}).items():
        path = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return folder


LICENSE_RTF = (r"{\rtf1\ansi\deff0{\fonttbl{\f0 Arial;}}\f0\fs20 "
               r"{\b STOWAWAY SAMPLE LICENSE AGREEMENT}\par\par "
               r"This sample package is provided as it is, for testing the launcher.\par "
               r"You may install it, run it and remove it as often as you like.\par\par "
               r"{\i By choosing I accept you agree to these terms.}\par}")


IDYES = 6


def answer_box(title, button_id, timeout=60):
    """Presses a button of the message box titled title; the status window
    carries the same title and class, but not the box's buttons (the box is
    above it, so it is met first). True when pressed."""
    return harness.wait_for(
        lambda: uiauto("click", "--title", title, "--class", "#32770",
                       "--id", str(button_id))[0] == 0, timeout, 0.3)


def confirm_cancel(title, timeout=60):
    """Answers Yes to "Are you sure you want to cancel ...?"."""
    return answer_box(title, IDYES, timeout)


def window_rect(title):
    rc, dump = uiauto("dump", "--title", title)
    for c in parse_controls(dump):
        if c["kind"] == "window":
            return tuple(int(v) for v in c["rect"].split(","))
    return None


def _sample_package(work, guid, setup_args, license=False, **runtime):
    payload = sample_payload(os.path.join(work, "payload"))
    neutral = []
    if license:
        lic = os.path.join(work, "License.rtf")
        with open(lic, "w") as f:
            f.write(LICENSE_RTF)
        neutral.append(lic)
        runtime["LicenseFile"] = "License.rtf"
    sections = base_config(guid, cmdline=setup_args, Languages=LANGUAGE_IDS, **runtime)
    return packed_package(os.path.join(work, "out"), "StowawaySample", sections,
                          payload=payload, neutral=neutral)


LANGUAGE_NAMES = [(1033, "EnglishUS"), (1036, "French"), (1031, "German"), (1040, "Italian"),
                  (1034, "Spanish")]

# A plain-text license as today's editors save it: UTF-8 without a mark.
LICENSE_UTF8 = "\r\n".join([
    "STOWAWAY SAMPLE LICENSE AGREEMENT",
    "",
    "This sample package is provided \u00ab tel quel \u00bb, as it is, for testing the launcher.",
    "You may install it, run it and remove it as often as you like.",
    "",
    "Auf Deutsch: Die Gr\u00f6\u00dfe der Datei spielt keine Rolle.",
    "En espa\u00f1ol: el se\u00f1or Pe\u00f1a lo acept\u00f3.",
    "In italiano: perch\u00e9 no? \u00c8 cos\u00ec.",
    "",
    "By choosing \u201cI accept\u201d you agree to these terms.",
]) + "\r\n"


def _resource_string(lang_file, key):
    """A string of a language's resource script (ASCII keys, UTF-8 file)."""
    path = os.path.join(ROOT, "src", "res", "lang", lang_file)
    with open(path, encoding="utf-8") as f:
        m = re.search(r"^\s*%s\s+\"(.*)\"" % key, f.read(), re.M)
    return m.group(1) if m else None


def _window(prefix=None, title=None, cls=None):
    """(rect, control ids) of the first visible window that matches, or None."""
    args = ["dump"]
    if prefix:
        args += ["--title-prefix", prefix]
    if title:
        args += ["--title", title]
    if cls:
        args += ["--class", cls]
    rc, dump = uiauto(*args)
    if rc != 0:
        return None
    controls = parse_controls(dump)
    rect = tuple(int(v) for v in controls[0]["rect"].split(","))
    return rect, {c.get("id") for c in controls[1:]}


def _shot(outdir, name, found, shots):
    if found:
        shots.append(screenshot(os.path.join(outdir, name), found[0]))
    else:
        print("screenshots: no window for %s" % name)


SAMPLE = "Stowaway Sample"
IDOK, IDNO = 1, 7


def _box_up(title):
    """(rect, control ids) of the message box titled title, once it is up:
    the status window has the same title and class, but no OK, Yes or No."""
    found = _window(title=title, cls="#32770")
    return found if found and found[1] & {str(IDOK), str(IDYES), str(IDNO)} else None


def _wait_box(title, timeout=90):
    end = time.time() + timeout
    while time.time() < end:
        found = _box_up(title)
        if found:
            time.sleep(0.3)  # drawn
            return _box_up(title) or found
        time.sleep(0.3)
    return None


def _status_shots(pkg, lang, name, outdir, started, release, shots):
    """The normal window during the pause after the file table, while the
    setup program runs and with the question that Cancel asks there (No:
    the run goes on); the small window while it runs."""
    for option, shot in (("/NORMALSTATUS", "status-normal"), ("/SMALLSTATUS", "status-small")):
        for f in (started, release):
            if os.path.exists(f):
                os.remove(f)
        run = LauncherRun(pkg, "/NOLICENSE %s /LANG:%d" % (option, lang)).start()
        if shot == "status-normal":
            # The pause after the table (one second): the step bar full, the
            # main bar at 1 %. The window is placed before the worker starts.
            harness.wait_for(lambda: "StatusProc()->WM_READY_TASK" in run.messages(), 90, 0.02)
            found = _window(title=SAMPLE)
            if harness.wait_for(lambda: any(m.startswith("GoToMaxStep()->")
                                            for m in run.messages()), 90, 0.02):
                _shot(outdir, "status-pause-%s.png" % name, found, shots)
        harness.wait_for(lambda: os.path.exists(started), 90)
        time.sleep(1.0)
        _shot(outdir, "%s-%s.png" % (shot, name), _window(title=SAMPLE), shots)
        if shot == "status-normal":
            uiauto("click", "--title", SAMPLE, "--id", "2")
            _shot(outdir, "confirm-status-%s.png" % name, _wait_box(SAMPLE), shots)
            answer_box(SAMPLE, IDNO, 30)
        open(release, "w").close()
        run.wait()


def _license_shot(pkg, lang, name, outdir, shots):
    """The license dialog as it opens, then the question its Cancel asks."""
    run = LauncherRun(pkg, "/LANG:%d" % lang).start()
    uiauto("wait", "--title-prefix", "Stowaway Sample - ", "--timeout", "60000")
    time.sleep(0.5)
    _shot(outdir, "license-%s.png" % name, _window(prefix="Stowaway Sample - "), shots)
    uiauto("click", "--title-prefix", "Stowaway Sample - ", "--id", "2")
    _shot(outdir, "confirm-license-%s.png" % name, _wait_box(SAMPLE), shots)
    confirm_cancel(SAMPLE, 30)
    run.wait()


def _wait_shot(pkg, lang, name, outdir, shots):
    """The wait window in front of a long license, then Cancel on the license."""
    run = LauncherRun(pkg, "/LANG:%d" % lang).start()
    uiauto("wait", "--title-prefix", "Stowaway Sample - ", "--timeout", "60000")
    found = _window(prefix="Stowaway Sample - ")
    _shot(outdir, "wait-%s.png" % name, found if found and "1095" not in found[1] else None,
          shots)
    harness.wait_for(lambda: "1095" in ((_window(prefix="Stowaway Sample - ") or ((), set()))[1]),
                     120, 0.5)
    uiauto("click", "--title-prefix", "Stowaway Sample - ", "--id", "2")
    confirm_cancel(SAMPLE, 30)
    run.wait()


def _box_shot(pkg, args, caption, shot, outdir, shots, cwd=None):
    """A run that shows one box (help, information, an error): the box, then OK."""
    run = LauncherRun(pkg, args, cwd=cwd).start()
    _shot(outdir, shot, _wait_box(caption), shots)
    answer_box(caption, IDOK, 30)
    run.wait()


def _cut_copy(source, target):
    """A copy of a package that lost the second half of its appended cabinet
    and its file table, as a broken download leaves it."""
    with open(source, "rb") as f:
        data = f.read()
    cab = data.rfind(b"MSCF\0\0\0\0")
    size = int.from_bytes(data[cab + 8:cab + 12], "little")
    with open(target, "wb") as f:
        f.write(data[:cab + size // 2])
    return target


def free_port():
    """A loopback port nobody listens on."""
    import socket
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def _serve(folder):
    """An HTTP server on the loopback for folder, on a thread; returns it."""
    import functools
    import http.server
    import threading
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                             functools.partial(Quiet, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


class _ErrorKit:
    """One package per failure a user can meet, each with the five
    languages, and what its run needs: (package, arguments, current folder)."""

    def __init__(self, work, payload):
        self.work = work
        self.payload = payload
        self.cases = []
        self.holder = None
        self.server = None
        self.release = os.path.join(work, "release-hold.flag")

    def build(self, name, cwd=None, args="", extra_args=(), config_beside=False, **runtime):
        sections = base_config(new_guid(), Languages=LANGUAGE_IDS, **runtime)
        pkg = packed_package(os.path.join(self.work, name), "StowawaySample", sections,
                             payload=self.payload, config_beside=config_beside,
                             extra_args=extra_args)
        return pkg

    def make(self):
        w = self.work
        # The package lost its end on the way: its payload is damaged.
        whole = self.build("whole")
        self.cases.append(("damaged", _cut_copy(whole, os.path.join(w, "damaged.exe")), "", None))
        # More than any disk has.
        self.cases.append(("diskfull", self.build("diskfull", TotFilesSize=10 ** 18), "", None))
        # The configuration kept beside the package is missing.
        beside = self.build("noconfig", config_beside=True)
        os.remove(os.path.join(os.path.dirname(beside), "StowawaySample.cfg"))
        self.cases.append(("noconfig", beside, "", None))
        # Web files: a host that does not resolve, a server that is down, a
        # server whose file has another size than the package's.
        web = os.path.join(w, "web")
        os.makedirs(web)
        source = os.path.join(w, "data.bin")
        with open(source, "wb") as f:
            f.write(b"x" * 5000)
        with open(os.path.join(web, "data.bin"), "wb") as f:
            f.write(b"y" * 4000)
        self.server = _serve(web)
        stored = ["--web-stored", "%s=data.bin" % source]
        for name, url in (("noconnection", "http://stowaway-offline.invalid/web/"),
                          ("connectionlost", "http://127.0.0.1:%d/web/" % free_port()),
                          ("serverfile", "http://127.0.0.1:%d/" % self.server.server_address[1])):
            self.cases.append((name, self.build(name, extra_args=stored, WebDownloadUrl=url),
                               "", None))
        # A file of the target folder that another program holds open.
        held = os.path.join(w, "held")
        os.makedirs(held)
        with open(os.path.join(held, "readme.txt"), "w") as f:
            f.write("in use\n")
        ready = os.path.join(w, "hold.ready")
        self.holder = harness.start("holdfile.exe", [
            "--hold", harness.win_path(os.path.join(held, "readme.txt")),
            "--ready", harness.win_path(ready), "--until", harness.win_path(self.release)])
        harness.wait_for(lambda: os.path.exists(ready), 60)
        self.cases.append(("access", self.build("access", CopyToTemp=0, DeleteFiles=0,
                                                TargetFolder=harness.win_path(held)), "", None))
        # An /X: folder that is a file.
        a_file = os.path.join(w, "a-file.txt")
        with open(a_file, "w") as f:
            f.write("not a folder\n")
        self.cases.append(("target", whole, '"/X:%s"' % harness.win_path(a_file), None))
        # The package's own target folder is the folder the run started in,
        # which DeleteFiles=1 would empty at the end.
        cwd = os.path.join(w, "cwd")
        os.makedirs(cwd)
        self.cases.append(("folder", self.build("folder", CopyToTemp=0,
                                                TargetFolder="<CURRENTDIR>"), "", cwd))
        # A user's file in a target folder that goes at the end: no other advice.
        users = os.path.join(w, "users")
        os.makedirs(users)
        with open(os.path.join(users, "readme.txt"), "w") as f:
            f.write("the user's\n")
        self.cases.append(("other", self.build("other", CopyToTemp=0,
                                               TargetFolder=harness.win_path(users)), "", None))
        return self

    def close(self):
        open(self.release, "w").close()
        if self.holder:
            self.holder.wait(timeout=60)
        if self.server:
            self.server.shutdown()


def take_screenshots(outdir):
    """Every window a user can meet, in every language, as
    outdir/<window>-<language>.png: the normal status window during the
    pause after the file table (status-pause), while the setup program runs,
    and the question its Cancel asks (confirm-status); the small status
    window; the license dialog with a UTF-8 text license and the question
    its Cancel asks (confirm-license); the wait window in front of a long
    license; the help box; the information box; and every error box
    (error-damaged, -diskfull, -noconfig, -noconnection, -connectionlost,
    -serverfile, -access, -target, -folder, -other)."""
    os.makedirs(outdir, exist_ok=True)
    work = tempfile.mkdtemp(prefix="stowaway-shots-")
    started = os.path.join(work, "started.flag")
    release = os.path.join(work, "release.flag")
    args = '--touch "%s" --wait-file "%s" --exit 0' % (harness.win_path(started),
                                                      harness.win_path(release))
    payload = sample_payload(os.path.join(work, "payload"))
    packages = {}
    for kind, text in (("short", LICENSE_UTF8),
                       ("long", LICENSE_UTF8 * 3000)):  # about 1.2 MB: loads for a while
        lic = os.path.join(work, kind, "License.txt")
        os.makedirs(os.path.dirname(lic))
        with open(lic, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        sections = base_config(new_guid(), cmdline=args, Languages=LANGUAGE_IDS, DialogInRun=1,
                               LicenseFile="License.txt")
        packages[kind] = packed_package(os.path.join(work, kind, "out"), "StowawaySample",
                                        sections, payload=payload, neutral=[lic])
    errors = _ErrorKit(os.path.join(work, "errors"), payload)
    shots = []
    try:
        errors.make()
        for lang, name in LANGUAGE_NAMES:
            _status_shots(packages["short"], lang, name, outdir, started, release, shots)
            _license_shot(packages["short"], lang, name, outdir, shots)
            _wait_shot(packages["long"], lang, name, outdir, shots)
            _box_shot(packages["short"], "/? /LANG:%d" % lang,
                      _resource_string(name + ".rc", "IDS_HELP_CAPTION"), "help-%s.png" % name,
                      outdir, shots)
            _box_shot(packages["short"], "/INFO /LANG:%d" % lang, SAMPLE, "info-%s.png" % name,
                      outdir, shots)
            for kind, pkg, extra, cwd in errors.cases:
                _box_shot(pkg, ("/NOLICENSE /LANG:%d %s" % (lang, extra)).strip(), SAMPLE,
                          "error-%s-%s.png" % (kind, name), outdir, shots, cwd=cwd)
    finally:
        errors.close()
        shutil.rmtree(work, ignore_errors=True)
    return shots


def license_bench(mib=5):
    """Opens packages whose license is an RTF and a UTF-8 text of about mib
    MiB and prints how long the user waits for the first window (the wait
    window) and for the license dialog. Figures only."""
    work = tempfile.mkdtemp(prefix="stowaway-licbench-")
    paragraph = ("This sample package is provided \u00ab tel quel \u00bb, as it is, for "
                 "testing the launcher; you may install it, run it and remove it. ")
    count = mib * 1048576 // (len(paragraph) + 12)
    texts = {
        "License.rtf": ("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 " +
                        "".join("{\\b %d.} %s\\par " % (i, paragraph.replace("\u00ab", "\\'ab")
                                                       .replace("\u00bb", "\\'bb"))
                                for i in range(count)) + "}"),
        "License.txt": "".join("%d. %s\r\n" % (i, paragraph) for i in range(count)),
    }
    for name, text in texts.items():
        lic = os.path.join(work, name)
        with open(lic, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        size = os.path.getsize(lic)
        sections = base_config(new_guid(), product="LicenseBench", LicenseFile=name)
        pkg = packed_package(os.path.join(work, name + ".out"), "LicenseBench", sections,
                             payload=sample_payload(os.path.join(work, name + ".payload")),
                             neutral=[lic])
        run = LauncherRun(pkg, "").start()
        t0 = time.time()
        first = dialog = None
        end = t0 + 600
        while time.time() < end and dialog is None:
            found = _window(prefix="LicenseBench - ")
            if found and first is None:
                first = time.time() - t0
            if found and "1095" in found[1]:
                dialog = time.time() - t0
            time.sleep(0.2)
        uiauto("click", "--title-prefix", "LicenseBench - ", "--id", "2")
        run.wait()
        print("%s, %.1f MB: first window after %s s, license dialog after %s s" % (
            name, size / 1048576.0, "%.1f" % first if first is not None else "-",
            "%.1f" % dialog if dialog is not None else "-"))
    shutil.rmtree(work, ignore_errors=True)


def run_demo(outdir):
    """Builds the sample package (a few MiB of generated files in one cabinet,
    the sample setup program, a license, five languages), runs it with the
    trace monitor attached, accepts the license, and keeps the trace and
    screenshots in outdir. Returns (exit code, trace file, screenshots)."""
    outdir = os.path.abspath(outdir)
    shutil.rmtree(outdir, ignore_errors=True)
    os.makedirs(outdir)
    work = os.path.join(outdir, "work")
    payload = os.path.join(work, "payload")
    files = {"data/random.bin": os.urandom(3 * 1024 * 1024),
             "data/catalog.txt": b"".join(b"item %06d: sample text line\r\n" % i
                                          for i in range(60000))}
    sample_payload(payload, setup_name="setup.exe", extra_files=files)
    lic = os.path.join(work, "License.rtf")
    with open(lic, "w") as f:
        f.write(LICENSE_RTF)
    started = os.path.join(work, "started.flag")
    sections = base_config(new_guid(), exe="setup.exe",
                           cmdline='--touch "%s" --sleep 3000 --exit 0 <SETUPZK>'
                                   % harness.win_path(started),
                           DialogInRun=1, LicenseFile="License.rtf", Languages=LANGUAGE_IDS)
    pkg = packed_package(outdir, "StowawaySample", sections, payload=payload, neutral=[lic])

    shots = []
    run = LauncherRun(pkg, "", work=work)
    run.mon.out = os.path.join(outdir, "trace.txt")
    run.start()
    title = "Stowaway Sample - License Agreement"
    if uiauto("wait", "--title", title, "--timeout", "60000")[0] == 0:
        uiauto("click", "--title", title, "--id", "1096")
        time.sleep(0.5)
        rect = window_rect(title)
        if rect:
            shots.append(screenshot(os.path.join(outdir, "license.png"), rect))
        uiauto("click", "--title", title, "--id", "1")
    if harness.wait_for(lambda: os.path.exists(started), 120):
        time.sleep(1.0)
        rect = window_rect("Stowaway Sample")
        if rect:
            shots.append(screenshot(os.path.join(outdir, "status.png"), rect))
        shots.append(screenshot(os.path.join(outdir, "screen.png")))
    code = run.wait(timeout=300)
    return code, pkg, run.mon.out, shots


if __name__ == "__main__":
    import sys
    if len(sys.argv) >= 3 and sys.argv[1] == "screenshots":
        for s in take_screenshots(sys.argv[2]):
            print(s)
    elif len(sys.argv) >= 2 and sys.argv[1] == "license-bench":
        license_bench(int(sys.argv[2]) if len(sys.argv) >= 3 else 5)
    elif len(sys.argv) >= 3 and sys.argv[1] == "demo":
        code, pkg, trace, shots = run_demo(sys.argv[2])
        print("package:      %s" % pkg)
        print("launcher:     %s (from %s)" % (harness.ARCH, harness.BIN))
        print("exit code:    %s" % code)
        print("trace:        %s" % trace)
        for s in shots:
            print("screenshot:   %s" % s)
        sys.exit(0 if code == 0 else 1)
    else:
        print("usage: runkit.py screenshots|demo OUTDIR | license-bench [MIB]", file=sys.stderr)
        sys.exit(2)
