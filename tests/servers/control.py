"""Starting and stopping the loopback servers of netservers.py from a Python
test. The servers run under Debian's python3 (which has pyftpdlib) in a
fresh folder under /tmp, and go away with it."""
import os
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "netservers.py")
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else "python3"


class NetServers:
    """with NetServers() as s: s.url("http", "/web/x.cab") ..."""

    def __init__(self, ftp=True):
        self.ftp = ftp
        self.work = None
        self.proc = None
        self.info = {}

    def start(self, timeout=60):
        self.work = tempfile.mkdtemp(prefix="stowaway-net-")
        os.rmdir(self.work)  # the server makes it, and removes it at the end
        args = [PYTHON, SCRIPT, "--workdir", self.work, "--idle", "900"]
        if not self.ftp:
            args.append("--no-ftp")
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        info = os.path.join(self.work, "servers.info")
        end = time.time() + timeout
        while not os.path.exists(info):
            if self.proc.poll() is not None or time.time() > end:
                self.stop()
                raise RuntimeError("the test servers did not start")
            time.sleep(0.05)
        with open(info) as f:
            for line in f:
                key, _, value = line.strip().partition("=")
                self.info[key] = value
        return self

    def stop(self):
        if self.proc is None:
            return
        if self.work and os.path.isdir(self.work):
            open(os.path.join(self.work, "stop"), "w").close()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False

    @property
    def www(self):
        """Linux path of the served folder."""
        return self.info["root"]

    def port(self, kind):
        return int(self.info[kind + "_port"])

    def url(self, kind, path):
        scheme = {"http": "http", "https": "https", "https_untrusted": "https",
                  "https_wronghost": "https", "https_expired": "https",
                  "fault": "http", "ftp": "ftp"}[kind]
        return "%s://127.0.0.1:%d%s" % (scheme, self.port(kind), path)

    def requests(self):
        """Request log lines so far."""
        with open(self.info["log"]) as f:
            return f.read().splitlines()
