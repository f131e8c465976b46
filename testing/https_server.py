"""A loopback HTTPS server for the runtime download tests, the benchmark and the demo,
with a test CA made by openssl that only a disposable Wine prefix ever trusts.

Paths (every stall ends after 40 s):
  /NAME                      the file NAME from the served folder (query ignored)
  /status/CODE               an empty answer with that status
  /redirect/NAME             302 to https://localhost:PORT/NAME
  /redirect-http/NAME        302 to http://localhost:PLAINPORT/NAME (a plain recorder)
  /silent                    reads the request and never answers
  /ROUTE/N/NAME, /nolength/NAME   NAME's body as BODIES says (ROUTE: short, long, stall)
"""
import hashlib
import http.server
import ssl
import struct
import subprocess
import threading
import urllib.parse
from pathlib import Path

# route: (Content-Length, bytes sent, stall afterwards) from the file's size and N; the
# connection closes after them (nolength: the close ends the body)
BODIES = {"short": lambda size, n: (size, n, False), "long": lambda size, n: (n, size, False),
          "stall": lambda size, n: (size, n, True), "nolength": lambda size, n: (None, size, False)}


def make_certificate(folder, out, subject, *options):
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3",
                    "-keyout", f"{out}.key", "-out", f"{out}.pem", "-subj", f"/CN={subject}", *options],
                   cwd=folder, check=True, capture_output=True)


class Certificates:
    """A CA and a certificate for localhost (127.0.0.1 too as a DNS name: Wine ignores IP names)."""

    def __init__(self, folder, name="Velmora Test CA"):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.ca, self.cert, self.key = (self.folder / file for file in ("ca.pem", "server.pem", "server.key"))
        if not self.cert.exists():
            make_certificate(folder, "ca", name, "-addext", "basicConstraints=critical,CA:TRUE",
                             "-addext", "keyUsage=critical,keyCertSign,cRLSign")
            make_certificate(folder, "server", "localhost", "-CA", "ca.pem", "-CAkey", "ca.key",
                             "-addext", "subjectAltName=DNS:localhost,DNS:127.0.0.1", "-addext",
                             "extendedKeyUsage=serverAuth", "-addext", "basicConstraints=CA:FALSE",
                             "-addext", "keyUsage=critical,digitalSignature,keyEncipherment")

    def trust_in(self, prefix):
        """Puts the CA into the LocalMachine Root store of a test prefix only (winetest.WinePrefix)."""
        der = ssl.PEM_cert_to_DER_cert(self.ca.read_text())
        thumbprint = hashlib.sha1(der).hexdigest().upper()
        prefix.reg_add(rf"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\{thumbprint}", "Blob",
                       "REG_BINARY", (struct.pack("<III", 0x20, 1, len(der)) + der).hex())


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 20  # bounds the handshake and every read

    def log_message(self, *args):
        pass

    def do_GET(self):
        owner = self.server.owner
        self.server.requests.append(self.path)
        route, *rest = urllib.parse.urlsplit(self.path).path.lstrip("/").split("/")
        if route == "status":
            return self.empty(int(rest[0]))
        if route in ("redirect", "redirect-http"):
            base = owner.url("") if route == "redirect" else f"http://localhost:{owner.plain_port}/"
            return self.empty(302, base + "/".join(rest))
        if route == "silent":
            return owner.stall()
        n = int(rest.pop(0)) if route in ("short", "long", "stall") else 0
        path = owner.root.joinpath(*(rest if route in BODIES else [route, *rest]))
        if not path.is_file() or owner.root not in path.resolve().parents:
            return self.empty(404)
        body = BODIES.get(route, lambda size, n: (size, size, False))
        announced, sent, stall = body(path.stat().st_size, n)
        self.send_response(200)
        if announced is not None:
            self.send_header("Content-Length", str(announced))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        with open(path, "rb") as f:
            self.connection.sendfile(f, 0, sent)
        if stall:
            owner.stall()

    def empty(self, status, location=None):
        self.send_response(status)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()


class Server(http.server.ThreadingHTTPServer):
    block_on_close = False

    def __init__(self, owner, port, context=None):
        super().__init__(("127.0.0.1", port), Handler)
        if context:
            # The handshake runs on the connection's own thread, at its first read.
            self.socket = context.wrap_socket(self.socket, server_side=True, do_handshake_on_connect=False)
        self.owner, self.requests = owner, []
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def handle_error(self, request, client_address):
        pass  # a client that hung up or refused the certificate


class HttpsServer:
    """Serves root on 127.0.0.1 with TLS, and a plain recorder beside it; port 0 picks a free port."""

    def __init__(self, root, certificates, port=0):
        self.root = Path(root).resolve()
        stalls = threading.Event()
        self.stall, self.release = lambda: stalls.wait(40), stalls.set
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificates.cert, certificates.key)
        self.servers = [Server(self, port, context), Server(self, 0)]
        self.requests, self.plain_requests = (server.requests for server in self.servers)
        self.port, self.plain_port = (server.server_address[1] for server in self.servers)

    def url(self, path):
        return f"https://localhost:{self.port}/{path}"

    def close(self):
        self.release()
        for server in self.servers:
            server.shutdown()
            server.server_close()
