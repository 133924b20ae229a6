"""An OAuth 2.0 token endpoint for the benchmark: every POST over TLS is
answered with the same access token, valid for an hour (RFC 6749 5.1).

    python3 token_endpoint.py PORT CERT KEY TOKEN TIMES_FILE

Listens on 127.0.0.1:PORT with the certificate CERT and its key KEY (PEM
files). Appends one line per answered request to TIMES_FILE, monotonic
seconds, the clock sink.py uses:
    accepted answered
accepted is when the TCP connection was taken, before the TLS handshake;
answered when the last byte of the answer was handed to the socket.
Answers go out at once (TCP_NODELAY), so the endpoint adds no Nagle wait.
"""
import http.server
import json
import socket
import ssl
import sys
import time

PORT, CERT, KEY, TOKEN, TIMES = sys.argv[1:6]


class Endpoint(http.server.HTTPServer):
    def server_bind(self):
        super().server_bind()
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(CERT, KEY)

    def get_request(self):
        raw, address = self.socket.accept()
        self.accepted = time.monotonic()
        raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return self.context.wrap_socket(raw, server_side=True), address

    def shutdown_request(self, request):
        # close_notify before the TCP close: the answer's end is not cut short.
        try:
            request.unwrap()
        except OSError:
            pass
        request.close()


class Token(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        body = json.dumps({"access_token": TOKEN, "token_type": "Bearer",
                           "expires_in": 3600}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        with open(TIMES, "a") as f:
            f.write(f"{self.server.accepted:.6f} {time.monotonic():.6f}\n")

    def log_message(self, *args):
        pass


Endpoint(("127.0.0.1", int(PORT)), Token).serve_forever()
