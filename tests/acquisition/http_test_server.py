"""HTTP server for the download tests: serves the files below ROOT on 127.0.0.1, misbehaves on
request, and appends every requested path to REQUEST_LOG. Prints its port on the first line.
With --tls CERT KEY it speaks HTTPS with that certificate.

The first path segment chooses a misbehaviour for the rest of the path:
  /redirect/P  302 to /P          /silent/P  closes without any answer
  /drop/P      sends part of a body, then closes
  /stall/P     sends part of a body, then nothing     /hang/P  never answers
  /unsized/P   the file P without a Content-Length, ended by closing the connection
  /s3/P        the file P, or 403 when there is none, as an S3 bucket answers
  /goto/SCHEME/HOST/P  302 to SCHEME://HOST/P, another server
  /trickle/P   the file P in 25 pieces, one every 0.1 s: slow but never still for long
  /drip/P      the file P one byte every 0.25 s: never still, but slower than any useful rate
  /auth/P      the file P to a request with the Basic credentials orolith:s3cret, else 401
  /agent/P     the file P to a request whose User-Agent begins "Orolith/", else 403
A request through a proxy (an absolute URL) is served by its path and logged as "proxy " + URL.
Any other path is a file below ROOT (200) or not (404).
"""
import base64
import os
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROOT, REQUEST_LOG = sys.argv[1], sys.argv[2]
TLS = sys.argv[4:6] if sys.argv[3:4] == ["--tls"] else None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = self.path
        if "://" in path:
            path = "/" + path.split("://", 1)[1].partition("/")[2]
        with open(REQUEST_LOG, "a", encoding="utf-8") as log:
            log.write(("proxy " + self.path if path != self.path else path) + "\n")
        mode, _, rest = path.lstrip("/").partition("/")
        if mode == "redirect":
            self.send_response(302)
            self.send_header("Location", "/" + rest)
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif mode == "goto":
            scheme, _, target = rest.partition("/")
            self.send_response(302)
            self.send_header("Location", scheme + "://" + target)
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif mode == "silent":
            self.close_connection = True
        elif mode == "hang":
            time.sleep(120)
        elif mode in ("drop", "stall"):
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"PK" * 50)
            self.wfile.flush()
            if mode == "stall":
                time.sleep(120)
            self.close_connection = True
        elif mode == "s3":
            self.serve_file(rest, sized=True, missing=403)
        elif mode == "trickle":
            self.serve_file(rest, sized=True, pieces=25)
        elif mode == "drip":
            self.serve_file(rest, sized=True, pieces=-1)
        elif mode == "auth":
            expected = "Basic " + base64.b64encode(b"orolith:s3cret").decode()
            if self.headers.get("Authorization") == expected:
                self.serve_file(rest, sized=True)
            else:
                self.send_response(401)
                self.send_header("WWW-Authenticate", 'Basic realm="tiles"')
                self.send_header("Content-Length", "0")
                self.end_headers()
        elif mode == "agent":
            if self.headers.get("User-Agent", "").startswith("Orolith/"):
                self.serve_file(rest, sized=True)
            else:
                self.send_error(403)
        else:
            self.serve_file(rest if mode == "unsized" else path, sized=mode != "unsized")

    # pieces: how many parts the body is sent in, 0.1 s apart; -1: one byte every 0.25 s.
    def serve_file(self, path, sized, pieces=1, missing=404):
        file = os.path.join(ROOT, os.path.normpath(path).lstrip("/"))
        if not os.path.isfile(file):
            self.send_error(missing)
            return
        with open(file, "rb") as f:
            body = f.read()
        self.send_response(200)
        if sized:
            self.send_header("Content-Length", str(len(body)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        step = -(-len(body) // pieces) if body and pieces > 0 else 1
        for at in range(0, len(body), step):
            if at > 0:
                time.sleep(0.1 if pieces > 0 else 0.25)
            self.wfile.write(body[at:at + step])
            self.wfile.flush()


def exit_with_the_test():
    sys.stdin.buffer.read()
    os._exit(0)


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that refuses the certificate ends its handshake; that is a test, not a fault.
        if not isinstance(sys.exc_info()[1], (ssl.SSLError, ConnectionError)):
            super().handle_error(request, client_address)


threading.Thread(target=exit_with_the_test, daemon=True).start()
server = Server(("127.0.0.1", 0), Handler)
if TLS:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(TLS[0], TLS[1])
    # The handshake happens in the request's own thread, so a refusing client holds up no other.
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
print(server.server_address[1], flush=True)
server.serve_forever()
