#!/usr/bin/env python3
"""A loopback HTTPS server for the runtime download tests, the benchmark and the demo,
with a test CA made by openssl that only a disposable Wine prefix ever trusts.

Paths (every stall is bounded by the server's stall limit):
  /NAME                      the file NAME from the served folder (query ignored)
  /status/CODE               an empty answer with that status
  /redirect/NAME             302 to https://localhost:PORT/NAME
  /redirect-http/NAME        302 to http://localhost:PLAINPORT/NAME (a plain recorder)
  /short/N/NAME              announces NAME's length, sends its first N bytes, closes
  /long/N/NAME               announces N bytes, sends all of NAME
  /nolength/NAME             no Content-Length; the body ends when the connection closes
  /silent                    reads the request and never answers
  /stall/N/NAME              announces NAME's length, sends N bytes, then goes quiet

As a program: https_server.py --root DIR [--port N] [--certs DIR] [--trust-prefix DIR]
prints the port, the CA certificate and a .reg file that trusts it (imported into the
Wine prefix DIR when given), then serves until interrupted.
"""
import argparse
import hashlib
import http.server
import os
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
from pathlib import Path

CHUNK = 256 * 1024


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Certificates:
    """A CA and a server certificate for localhost (and 127.0.0.1 as a DNS name,
    since Wine ignores IP-address names)."""

    def __init__(self, folder, name="Velmora Test CA"):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.ca = self.folder / "ca.pem"
        self.cert = self.folder / "server.pem"
        self.key = self.folder / "server.key"
        if not self.cert.exists():
            self._make(name)
        self.ca_der = ssl.PEM_cert_to_DER_cert(self.ca.read_text())
        self.thumbprint = hashlib.sha1(self.ca_der).hexdigest().upper()

    def _make(self, name):
        cwd = str(self.folder)
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
                "-days", "3", "-subj", f"/CN={name}", "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=cwd)
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
                "-subj", "/CN=localhost", cwd=cwd)
        (self.folder / "server.ext").write_text(
            "subjectAltName=DNS:localhost,DNS:127.0.0.1\nextendedKeyUsage=serverAuth\n"
            "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n")
        openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-out", "server.pem", "-days", "3", "-extfile", "server.ext", cwd=cwd)

    def trust_reg(self):
        """A .reg file that puts the CA into the LocalMachine Root store."""
        blob = (0x20).to_bytes(4, "little") + (1).to_bytes(4, "little") + len(self.ca_der).to_bytes(4, "little")
        blob += self.ca_der
        data = ",".join(f"{b:02x}" for b in blob)
        path = self.folder / "trust-ca.reg"
        path.write_text("Windows Registry Editor Version 5.00\r\n\r\n"
                        f"[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"
                        f"{self.thumbprint}]\r\n\"Blob\"=hex:{data}\r\n\r\n")
        return path

    def trust_in(self, prefix):
        """Trusts the CA inside a test prefix only (winetest.WinePrefix)."""
        result = prefix.run_raw(["reg", "import", prefix.windows_of(self.trust_reg())])
        assert result.returncode == 0, result.stderr


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.server.requests.append(self.path)
        route, *rest = urllib.parse.urlsplit(self.path).path.lstrip("/").split("/")
        try:
            if route == "status":
                self.empty(int(rest[0]))
            elif route in ("redirect", "redirect-http"):
                base = (f"https://localhost:{self.server.port}" if route == "redirect" else
                        f"http://localhost:{self.server.plain_port}")
                self.empty(302, base + "/" + "/".join(rest))
            elif route == "silent":
                self.close_connection = True
                self.server.stall()
            elif route in ("short", "long", "stall"):  # /ROUTE/N/NAME
                n = int(rest[0])
                self.send_file(rest[1:], announce=n if route == "long" else None,
                               limit=None if route == "long" else n, stall=route == "stall")
            elif route == "nolength":
                self.send_file(rest, announce="none")
            else:
                self.send_file([route, *rest])
        except (ConnectionError, ssl.SSLError, socket.timeout, OSError):
            self.close_connection = True

    def send_file(self, parts, announce=None, limit=None, stall=False):
        path = self.server.root.joinpath(*parts)
        if not path.is_file() or self.server.root not in path.resolve().parents:
            return self.empty(404)
        size = path.stat().st_size
        self.send_response(200)
        if announce != "none":
            self.send_header("Content-Length", str(size if announce is None else announce))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        remaining = size if limit is None else min(size, limit)
        with open(path, "rb") as f:
            while remaining > 0:
                block = f.read(min(CHUNK, remaining))
                if not block:
                    break
                self.wfile.write(block)
                remaining -= len(block)
        self.wfile.flush()
        if stall:
            self.server.stall()

    def empty(self, status, location=None):
        self.send_response(status)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()


class PlainRecorder(http.server.BaseHTTPRequestHandler):
    """Plain HTTP: records that a request arrived and answers 404."""

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.server.owner.plain_requests.append(self.path)
        self.send_error(404)


class TlsHttpServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False

    def finish_request(self, request, client_address):
        # The handshake runs on the connection's own thread, bounded.
        request.settimeout(20)
        try:
            request = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            super().finish_request(request, client_address)
        finally:
            request.close()


class HttpsServer:
    """Serves root on 127.0.0.1 with TLS; port 0 picks a free port."""

    def __init__(self, root, certificates, port=0, stall_limit=40):
        self.root = Path(root).resolve()
        self.plain_requests = []
        self.stall_event = threading.Event()
        self.httpd = TlsHttpServer(("127.0.0.1", port), Handler)
        self.httpd.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.httpd.context.load_cert_chain(certificates.cert, certificates.key)
        self.httpd.requests = self.requests = []
        self.httpd.root = self.root
        self.httpd.port = self.port = self.httpd.server_address[1]
        self.httpd.stall = lambda: self.stall_event.wait(stall_limit)
        self.plain = http.server.ThreadingHTTPServer(("127.0.0.1", 0), PlainRecorder)
        self.plain.daemon_threads = True
        self.plain.owner = self
        self.httpd.plain_port = self.plain_port = self.plain.server_address[1]
        self.threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in (self.httpd, self.plain)]
        for thread in self.threads:
            thread.start()

    def url(self, path):
        return f"https://localhost:{self.port}/{path}"

    def close(self):
        self.stall_event.set()
        for server in (self.httpd, self.plain):
            server.shutdown()
            server.server_close()


def trust_in_prefix(certificates, prefix_path):
    from winetest import wine_loader
    env = dict(os.environ, WINEPREFIX=str(Path(prefix_path).resolve()), WINEDEBUG="-all")
    subprocess.run([wine_loader(), "reg", "import", "Z:" + str(certificates.trust_reg().resolve()).replace("/", "\\")],
                   env=env, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", required=True, help="folder whose files are served")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (default: any free one)")
    parser.add_argument("--certs", default="build/https-certs", help="where the CA and certificate are kept")
    parser.add_argument("--trust-prefix", help="a disposable Wine prefix that is to trust the CA")
    args = parser.parse_args(argv)
    certificates = Certificates(args.certs)
    if args.trust_prefix:
        trust_in_prefix(certificates, args.trust_prefix)
    server = HttpsServer(args.root, certificates, args.port)
    print(f"port {server.port}")
    print(f"ca {certificates.ca}")
    print(f"trust {certificates.trust_reg()}   (wine reg import this into a test prefix only)")
    sys.stdout.flush()
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        server.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
