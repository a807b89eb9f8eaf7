#!/usr/bin/python3
"""Loopback servers for the download tests.

Started with a work folder; everything lives below it:
  www/          files served over HTTP, HTTPS and FTP (tests put fixtures here)
  requests.log  one line per HTTP(S) request: "<port> <method> <target> range=<..> if-range=<..>"
  ca.pem/ca.der the test CA that issued the HTTPS certificate
  servers.info  key=value lines written once every server listens
  stop          created by the client: every server stops and the folder is removed

Servers:
  http   files with Last-Modified, Content-Length, Range and If-Range
  https  the same over TLS, certificate issued by the test CA (made with openssl)
  https_untrusted  the same with a certificate of a CA that is never trusted
  https_wronghost  the test CA's certificate for another host name
  https_expired    the test CA's certificate for 127.0.0.1 that has expired
  fault  bad answers: /status/<code>, /nolength, /zerolength, /drop/<sent>/<total>,
         /redirect/<n>/<total> (n redirects, then the file), /redirectloop,
         /auth/<total> (the file for the login us@er / pa:ss only, else 401),
         /reset/<sent>/<total>,
         /late/<ms>/<total>,
         /stall/<total>[/<hold ms>], /slow/<total>[/<ms>] (a 4 KiB block every 100 ms
         or every <ms>),
         /chunked/<total>, /closed/<total> (no Content-Length: chunked, or ended
         by closing the connection), /short/<total>/<announced> (a Content-Length
         below the file's size), /ignoreifrange/<total> (ranges honoured, If-Range
         ignored), /rangerefused/<total> (416 for every range), /partialonly/<total>
         (the first half as a range answer, whatever was asked)
         A trailing name (/late/100/10/setup.bin) is ignored. Bodies are the
         pattern() bytes of the whole file, dated FIXED_DATE.
  ftp    pyftpdlib on www/ with one login, and anonymous. A file below a folder
         ftpstall/<sent>/ sends its first <sent> bytes, then nothing until the
         client goes or the server stops (at most --ftp-hold seconds).

Only 127.0.0.1 is bound. The process also ends on its own after --idle seconds
without a request, so a crashed client does not leave it behind.
"""
import argparse
import logging
import email.utils
import os
import shutil
import signal
import socket
import ssl
import struct
import subprocess
import urllib.parse
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

FTP_USER = "stowaway"
FTP_PASSWORD = "s3cret"
BLOCK = 1 << 20

_last_activity = time.monotonic()
_log_lock = threading.Lock()


def touch_activity():
    global _last_activity
    _last_activity = time.monotonic()


def http_date(ts):
    return email.utils.formatdate(int(ts), usegmt=True)


class LoopbackServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # Clients that hang up early are part of the tests.
        pass


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "StowawayTest/1"

    def log_message(self, fmt, *args):
        pass

    def record(self):
        touch_activity()
        line = "%d %s %s range=%s if-range=%s\n" % (
            self.server.server_address[1], self.command, self.path,
            self.headers.get("Range", "-"), self.headers.get("If-Range", "-"))
        with _log_lock:
            with open(self.server.log_path, "a") as f:
                f.write(line)

    def do_HEAD(self):
        self.do_GET(head=True)


class FileHandler(Handler):
    """Static files from www/ with validators and single byte ranges."""

    def do_GET(self, head=False):
        self.record()
        # %-escapes stand for the bytes of a UTF-8 name, as on any web server.
        rel = urllib.parse.unquote(self.path.split("?", 1)[0]).lstrip("/")
        path = os.path.realpath(os.path.join(self.server.root, rel))
        if not path.startswith(self.server.root + os.sep) or not os.path.isfile(path):
            self.send_error(404)
            return
        st = os.stat(path)
        size = st.st_size
        last_modified = http_date(st.st_mtime)
        start, end = 0, size - 1
        status = 200
        rng = self.headers.get("Range")
        if_range = self.headers.get("If-Range")
        if rng and (if_range is None or if_range == last_modified):
            parsed = parse_range(rng, size)
            if parsed is None:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            start, end = parsed
            status = 206
        self.send_response(status)
        self.send_header("Last-Modified", last_modified)
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(end - start + 1))
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        self.end_headers()
        if head:
            return
        with open(path, "rb") as f:
            f.seek(start)
            left = end - start + 1
            while left > 0:
                data = f.read(min(BLOCK, left))
                if not data:
                    break
                self.wfile.write(data)
                left -= len(data)
                touch_activity()


def parse_range(value, size):
    """(first, last) of a single "bytes=a-b" range, None when unsatisfiable."""
    if not value.startswith("bytes=") or "," in value:
        return None
    first, _, last = value[6:].strip().partition("-")
    try:
        if first == "":
            n = int(last)
            if n <= 0:
                return None
            return max(0, size - n), size - 1
        a = int(first)
        b = int(last) if last else size - 1
    except ValueError:
        return None
    if a >= size or b < a:
        return None
    return a, min(b, size - 1)


FIXED_DATE = "Tue, 01 Dec 2026 10:20:30 GMT"


class FaultHandler(Handler):
    """Answers that a download must survive."""

    def body_headers(self, total, length=True):
        self.send_response(200)
        self.send_header("Last-Modified", FIXED_DATE)
        self.send_header("Content-Type", "application/octet-stream")
        if length:
            self.send_header("Content-Length", str(total))

    def do_GET(self, head=False):
        self.record()
        parts = self.path.split("?", 1)[0].strip("/").split("/")
        kind = parts[0]
        try:
            nums = [int(p) for p in parts[1:] if p.isdigit()]
        except ValueError:
            nums = []
        if kind == "redirect" and len(nums) == 2:
            # <n> redirects, each to the next, then the file of <total> bytes.
            left, total = nums
            if left > 0:
                self.send_response(302)
                self.send_header("Location", "/redirect/%d/%d" % (left - 1, total))
                self.send_header("Content-Length", "0")
                self.end_headers()
            else:
                self.body_headers(total)
                self.end_headers()
                if not head:
                    self.wfile.write(pattern(0, total))
        elif kind == "redirectloop":
            self.send_response(302)
            self.send_header("Location", self.path)
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif kind == "auth" and nums:
            # The file for the login "us@er" with the password "pa:ss" only.
            import base64
            expected = "Basic " + base64.b64encode(b"us@er:pa:ss").decode()
            if self.headers.get("Authorization") != expected:
                body = b"login wanted\n"
                self.send_response(401)
                self.send_header("WWW-Authenticate", 'Basic realm="stowaway"')
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if not head:
                    self.wfile.write(body)
            else:
                self.body_headers(nums[0])
                self.end_headers()
                if not head:
                    self.wfile.write(pattern(0, nums[0]))
        elif kind == "status" and nums:
            body = b"status %d\n" % nums[0]
            self.send_response(nums[0])
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if not head:
                self.wfile.write(body)
        elif kind == "nolength":
            # A body closed by the connection, without a size.
            self.body_headers(0, length=False)
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            if not head:
                self.wfile.write(b"x" * 1000)
        elif kind == "zerolength":
            self.body_headers(0)
            self.end_headers()
        elif kind == "drop" and len(nums) == 2:
            sent, total = nums
            self.body_headers(total)
            self.end_headers()
            if not head:
                self.wfile.write(pattern(0, sent))
                self.wfile.flush()
            self.hang_up()
        elif kind == "reset" and len(nums) == 2:
            # Like drop, with a connection reset instead of a clean close.
            sent, total = nums
            self.body_headers(total)
            self.end_headers()
            self.wfile.write(pattern(0, sent))
            self.wfile.flush()
            time.sleep(0.2)
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.close_connection = True
        elif kind == "stall" and nums:
            total = nums[0]
            self.body_headers(total)
            self.end_headers()
            self.wfile.write(pattern(0, min(total, 4096)))
            self.wfile.flush()
            self.note("stall-begin")
            # Keep the connection open without sending, until the client goes.
            gone = self.wait_for_client(int(nums[1]) / 1000.0 if len(nums) > 1 else 120)
            self.note("stall-end %s" % ("client-gone" if gone else "hold-expired"))
            self.hang_up()
        elif kind == "late" and len(nums) == 2:
            # Headers only after a pause, then the whole body.
            pause, total = nums
            time.sleep(pause / 1000.0)
            self.body_headers(total)
            self.end_headers()
            if not head:
                self.wfile.write(pattern(0, total))
        elif kind == "chunked" and nums:
            total = nums[0]
            self.body_headers(total, length=False)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            if not head:
                for offset in range(0, total, 4096):
                    n = min(4096, total - offset)
                    self.wfile.write(b"%x\r\n" % n + pattern(offset, n) + b"\r\n")
                self.wfile.write(b"0\r\n\r\n")
        elif kind == "closed" and nums:
            total = nums[0]
            self.body_headers(total, length=False)
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            if not head:
                self.wfile.write(pattern(0, total))
        elif kind == "short" and len(nums) == 2:
            total, announced = nums
            self.body_headers(announced)
            self.end_headers()
            if not head:
                self.wfile.write(pattern(0, announced))
        elif kind in ("ignoreifrange", "rangerefused") and nums:
            total = nums[0]
            rng = self.headers.get("Range")
            parsed = parse_range(rng, total) if rng else None
            if rng and (kind == "rangerefused" or parsed is None):
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % total)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            first, last = parsed if rng else (0, total - 1)
            self.send_response(206 if rng else 200)
            self.send_header("Last-Modified", FIXED_DATE)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(last - first + 1))
            if rng:
                self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, total))
            self.end_headers()
            if not head:
                self.wfile.write(pattern(first, last - first + 1))
        elif kind == "partialonly" and nums:
            total = nums[0]
            half = total // 2
            self.send_response(206)
            self.send_header("Last-Modified", FIXED_DATE)
            self.send_header("Content-Length", str(half))
            self.send_header("Content-Range", "bytes 0-%d/%d" % (half - 1, total))
            self.end_headers()
            if not head:
                self.wfile.write(pattern(0, half))
        elif kind == "slow" and nums:
            total = nums[0]
            pause = (nums[1] if len(nums) > 1 else 100) / 1000.0
            self.body_headers(total)
            self.end_headers()
            offset = 0
            try:
                while offset < total:
                    n = min(4096, total - offset)
                    self.wfile.write(pattern(offset, n))
                    self.wfile.flush()
                    offset += n
                    touch_activity()
                    time.sleep(pause)
            except OSError:
                pass
            self.hang_up()
        else:
            self.send_error(404)

    def wait_for_client(self, seconds):
        """True when the client hung up before the time was over."""
        sock = self.connection
        sock.settimeout(0.2)
        end = time.monotonic() + seconds
        while time.monotonic() < end and not self.server.stopping:
            try:
                if sock.recv(65536) == b"":
                    return True
            except socket.timeout:
                continue
            except OSError:
                return True
        return False

    def note(self, text):
        with _log_lock:
            with open(self.server.log_path, "a") as f:
                f.write("%d %s %s\n" % (self.server.server_address[1], text, self.path))

    def hang_up(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def pattern(offset, n):
    """Deterministic bytes: byte i of a fault body is (7 * i) % 256, like the
    files the tests serve with seed 0."""
    return bytes(((offset + i) * 7) % 256 for i in range(n))


def make_certificates(work, prefix, ca_name):
    """A CA and a server certificate for 127.0.0.1/localhost issued by it:
    <prefix>ca.pem, <prefix>ca.der, <prefix>server.pem, <prefix>server.key."""
    def run(*args):
        subprocess.run(["openssl"] + list(args), cwd=work, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ca_key, ca_pem = prefix + "ca.key", prefix + "ca.pem"
    key, csr, pem, ext = (prefix + "server.key", prefix + "server.csr",
                          prefix + "server.pem", prefix + "server.ext")
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key,
        "-out", ca_pem, "-days", "30", "-subj", "/CN=" + ca_name,
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("x509", "-in", ca_pem, "-outform", "DER", "-out", prefix + "ca.der")
    run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
        "-out", csr, "-subj", "/CN=127.0.0.1")
    with open(os.path.join(work, ext), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                "basicConstraints=CA:FALSE\n"
                "keyUsage=digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key,
        "-CAcreateserial", "-out", pem, "-days", "30", "-extfile", ext)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(work, pem), os.path.join(work, key))
    return context


CA_CONFIG = """[ca]
default_ca = test
[test]
database = %(prefix)sindex.txt
new_certs_dir = .
serial = %(prefix)sserial.txt
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
"""


def issue_certificate(work, prefix, host, san, days_from, days_to):
    """A server certificate of the test CA (made by make_certificates) for
    another name or validity: <prefix>server.pem and <prefix>server.key,
    valid from days_from to days_to days from now (negative: in the past)."""
    def run(*args):
        subprocess.run(["openssl"] + list(args), cwd=work, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stamp(days):
        return time.strftime("%Y%m%d%H%M%SZ", time.gmtime(time.time() + days * 86400))
    key, csr, pem, ext, cnf = (prefix + "server.key", prefix + "server.csr",
                               prefix + "server.pem", prefix + "server.ext", prefix + "ca.cnf")
    with open(os.path.join(work, cnf), "w") as f:
        f.write(CA_CONFIG % {"prefix": prefix})
    open(os.path.join(work, prefix + "index.txt"), "w").close()
    with open(os.path.join(work, prefix + "serial.txt"), "w") as f:
        f.write("%X\n" % (0x1000 + len(prefix)))
    with open(os.path.join(work, ext), "w") as f:
        f.write("subjectAltName=%s\n"
                "basicConstraints=CA:FALSE\n"
                "keyUsage=digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n" % san)
    run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=" + host)
    run("ca", "-batch", "-config", cnf, "-cert", "ca.pem", "-keyfile", "ca.key", "-in", csr,
        "-out", pem, "-startdate", stamp(days_from), "-enddate", stamp(days_to),
        "-extfile", ext, "-notext")
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(work, pem), os.path.join(work, key))
    return context


def start_http(handler, root, log_path, context=None):
    server = LoopbackServer(("127.0.0.1", 0), handler)
    server.root = root
    server.log_path = log_path
    server.stopping = False
    if context is not None:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1},
                     daemon=True).start()
    return server


class StallingFile:
    """A served file that gives its first `sent` bytes and then blocks, like a
    data channel that stops moving."""

    def __init__(self, f, sent, hold, stopping):
        self.f = f
        self.left = sent
        self.hold = hold
        self.stopping = stopping
        self.name = f.name
        self.closed = False

    def read(self, n):
        if self.left > 0:
            data = self.f.read(min(n, self.left))
            self.left -= len(data)
            return data
        end = time.monotonic() + self.hold
        while time.monotonic() < end and not self.stopping():
            time.sleep(0.2)
        return b""

    def close(self):
        self.closed = True
        self.f.close()


def start_ftp(root, hold, stopping):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.filesystems import AbstractedFS
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import ThreadedFTPServer

    class StallingFS(AbstractedFS):
        def open(self, filename, mode):
            f = super().open(filename, mode)
            parts = os.path.relpath(filename, root).split(os.sep)
            if "r" in mode and len(parts) >= 3 and parts[0] == "ftpstall" and parts[1].isdigit():
                return StallingFile(f, int(parts[1]), hold, stopping)
            return f

    class Activity(FTPHandler):
        def on_connect(self):
            touch_activity()

        def on_file_sent(self, file):
            touch_activity()

    logging.getLogger("pyftpdlib").setLevel(logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user(FTP_USER, FTP_PASSWORD, root, perm="elr")
    authorizer.add_anonymous(root, perm="elr")
    Activity.authorizer = authorizer
    Activity.abstracted_fs = StallingFS
    Activity.masquerade_address = "127.0.0.1"
    Activity.use_sendfile = False
    server = ThreadedFTPServer(("127.0.0.1", 0), Activity)
    threading.Thread(target=server.serve_forever, kwargs={"timeout": 0.1, "handle_exit": False},
                     daemon=True).start()
    return server


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--workdir", required=True)
    ap.add_argument("--idle", type=float, default=600)
    ap.add_argument("--no-ftp", action="store_true")
    ap.add_argument("--ftp-hold", type=float, default=150)
    args = ap.parse_args()

    work = os.path.abspath(args.workdir)
    root = os.path.join(work, "www")
    os.makedirs(root, exist_ok=True)
    root = os.path.realpath(root)
    log_path = os.path.join(work, "requests.log")
    open(log_path, "a").close()
    stop_file = os.path.join(work, "stop")

    # Quiet: the clients share this console.
    out = os.open(os.path.join(work, "servers.log"), os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    os.dup2(out, 1)
    os.dup2(out, 2)
    os.close(out)

    stopping = []
    context = make_certificates(work, "", "Stowaway Test CA")
    # A second authority that nobody trusts.
    untrusted = make_certificates(work, "untrusted-", "Stowaway Untrusted CA")
    # The trusted authority's certificates with a wrong name, out of date.
    wronghost = issue_certificate(work, "wronghost-", "other.invalid", "DNS:other.invalid", -1, 30)
    expired = issue_certificate(work, "expired-", "127.0.0.1", "IP:127.0.0.1,DNS:localhost",
                                -60, -30)

    servers = {
        "http": start_http(FileHandler, root, log_path),
        "https": start_http(FileHandler, root, log_path, context),
        "https_untrusted": start_http(FileHandler, root, log_path, untrusted),
        "https_wronghost": start_http(FileHandler, root, log_path, wronghost),
        "https_expired": start_http(FileHandler, root, log_path, expired),
        "fault": start_http(FaultHandler, root, log_path),
    }
    ftp = None
    if not args.no_ftp:
        ftp = start_ftp(root, args.ftp_hold, lambda: bool(stopping))

    info = {
        "root": root,
        "log": log_path,
        "ca_pem": os.path.join(work, "ca.pem"),
        "ca_der": os.path.join(work, "ca.der"),
        "pid": str(os.getpid()),
    }
    for name, server in servers.items():
        info[name + "_port"] = str(server.server_address[1])
    if ftp is not None:
        info["ftp_port"] = str(ftp.address[1])
        info["ftp_user"] = FTP_USER
        info["ftp_password"] = FTP_PASSWORD
    tmp = os.path.join(work, "servers.info.tmp")
    with open(tmp, "w") as f:
        for k, v in info.items():
            f.write("%s=%s\n" % (k, v))
    os.replace(tmp, os.path.join(work, "servers.info"))

    signal.signal(signal.SIGTERM, lambda *a: stopping.append(1))
    signal.signal(signal.SIGHUP, lambda *a: stopping.append(1))
    touch_activity()
    try:
        while not os.path.exists(stop_file) and not stopping:
            if time.monotonic() - _last_activity > args.idle:
                break
            time.sleep(0.1)
    except KeyboardInterrupt:
        pass
    stopping.append(1)
    for server in servers.values():
        server.stopping = True
        server.shutdown()
        server.server_close()
    if ftp is not None:
        ftp.close_all()
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
