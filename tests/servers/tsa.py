"""A time-stamp authority of the tests' own, on loopback: RFC 3161 requests
over HTTP answered by "openssl ts -reply" with a certificate made here.

    with TimeStampAuthority(folder) as tsa:
        tsa.url      http://127.0.0.1:PORT/ for osslsigncode sign -ts
        tsa.ca       its certificate, for osslsigncode verify -TSA-CAfile
        tsa.replies  how many requests it answered
"""
import http.server
import os
import subprocess
import tempfile
import threading

CONFIG = """\
[ tsa ]
default_tsa = tsa_config

[ tsa_config ]
dir = {dir}
serial = $dir/serial
crypto_device = builtin
signer_cert = $dir/tsa.crt
certs = $dir/tsa.crt
signer_key = $dir/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def _openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


class TimeStampAuthority:
    def __init__(self, folder):
        self.dir = os.path.join(folder, "tsa")
        os.makedirs(self.dir, exist_ok=True)
        self.ca = os.path.join(self.dir, "tsa.crt")
        self.replies = 0
        self._server = None
        self._lock = threading.Lock()

    def __enter__(self):
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                 "-subj", "/CN=Stowaway Test TSA", "-keyout", "tsa.key", "-out", "tsa.crt",
                 "-addext", "extendedKeyUsage=critical,timeStamping",
                 "-addext", "keyUsage=critical,digitalSignature", cwd=self.dir)
        with open(os.path.join(self.dir, "serial"), "w") as f:
            f.write("01\n")
        with open(os.path.join(self.dir, "tsa.cnf"), "w") as f:
            f.write(CONFIG.format(dir=self.dir))
        authority = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                reply = authority._reply(query)
                self.send_response(200 if reply else 500)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass

        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self._server.server_address[1]
        threading.Thread(target=self._server.serve_forever, daemon=True).start()
        return self

    def _reply(self, query):
        with self._lock, tempfile.TemporaryDirectory(dir=self.dir) as scratch:
            tsq, tsr = os.path.join(scratch, "q.tsq"), os.path.join(scratch, "r.tsr")
            with open(tsq, "wb") as f:
                f.write(query)
            r = subprocess.run(["openssl", "ts", "-reply", "-config", os.path.join(self.dir, "tsa.cnf"),
                                "-queryfile", tsq, "-out", tsr], stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if r.returncode != 0 or not os.path.exists(tsr):
                return b""
            self.replies += 1
            with open(tsr, "rb") as f:
                return f.read()

    def __exit__(self, *exc):
        self._server.shutdown()
        self._server.server_close()
        return False
