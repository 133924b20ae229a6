"""An OAuth 2.0 token endpoint over HTTPS (RFC 6749 3.2) that answers as
Microsoft's and Google's do, and an HTTP proxy that tunnels with CONNECT
(RFC 9110 9.3.6), for sandbox.py's `endpoint` and `proxy` cases.

    endpoint = TokenEndpoint(script, cert, key)  # on 127.0.0.1:script["port"]
    endpoint.accepts(token)                      # what XOAUTH2 asks of it
    endpoint.stop()                              # its record

The script: "port" (in a case, none: nothing listens), "cert" and "key" (PEM
texts, which sandbox.py writes to files), "user" (whose XOAUTH2 logins
`accepts` judges); "host", "path" and "form" (the [name, value] pairs, in
order) every request must carry, and "answers", one per request, the last
repeated. An answer is a dict whose "kind" is
  - "token": 200 with a new access token ("expires_in", default 3599; "long":
    2400 bytes, as Microsoft's are) and, when the form has a refresh_token,
    a new refresh token: each request must then carry the latest one;
  - "invalid_client": Microsoft's 401 for a wrong client secret (AADSTS7000215);
  - "invalid_grant": Google's 400 for a refresh token it no longer takes;
  - "echo": 400 invalid_request, its description quoting the request's body;
  - "html_500": a server error page;
  - "huge": 200 with a body of 10 MB;
  - "silent": no answer, the connection held open until stop();
and "chunked" sends its body in chunked transfer coding (RFC 9112 7.1)
instead of with a Content-Length. "accept" tells which tokens XOAUTH2 takes:
"last" (the one minted last, the default), "any" minted, or "none".

A request that is not what the script says is answered 400 invalid_request
and its fault noted in the record's "faults".
"""

import json
import select
import socket
import ssl
import threading

TOKEN_ANSWER_HEADERS = ("Cache-Control: no-store, no-cache", "Pragma: no-cache",
                        "Content-Type: application/json; charset=utf-8")
HTML = ("<!DOCTYPE html>\r\n<html><head><title>Service unavailable</title></head>\r\n"
        "<body><h1>Sorry, something went wrong.</h1></body></html>\r\n")
HUGE = 10 * 1024 * 1024
AADSTS7000215 = ("AADSTS7000215: Invalid client secret provided. Ensure the secret being sent in the request is "
                 "the client secret value, not the client secret ID, for a secret added to app '{client_id}'."
                 "\r\nTrace ID: 5d3c4b2a-1f0e-4d9c-8b7a-6f5e4d3c2b00\r\nCorrelation ID: "
                 "9a8b7c6d-5e4f-4a3b-2c1d-0e9f8a7b6c5d\r\nTimestamp: 2026-12-09 23:14:07Z")


def form_encoded(text):
    """application/x-www-form-urlencoded as the WHATWG URL standard writes
    it (5.2): letters, digits and "*-._" as they are, a space as "+",
    every other byte %XX."""
    return "".join(chr(b) if chr(b).isalnum() and b < 128 or chr(b) in "*-._" else "+" if b == 32 else f"%{b:02X}"
                   for b in text.encode("latin-1"))


def read_request(conn):
    """The request's head (up to the blank line) and its body by
    Content-Length, as bytes; (None, None) when it never came whole."""
    buf = b""
    while b"\r\n\r\n" not in buf:
        data = conn.recv(65536)
        if not data or len(buf) > 65536:
            return None, None
        buf += data
    head, _, body = buf.partition(b"\r\n\r\n")
    length = [int(v) for n, v in fields(head) if n == "content-length" and v.isdigit()]
    while length and len(body) < length[0]:
        data = conn.recv(65536)
        if not data:
            break
        body += data
    return head, body


def fields(head):
    """[(lower-case name, value)] of a request head's field lines."""
    out = []
    for line in head.decode("latin-1").split("\r\n")[1:]:
        name, _, value = line.partition(":")
        out.append((name.lower(), value.strip()))
    return out


def faults_of(head, body, expected_line, expected_fields, form):
    """What in the request differs from a token request to this endpoint."""
    faults = []
    line = head.decode("latin-1").split("\r\n")[0]
    if line != expected_line:
        faults.append(f"request line {line!r}, not {expected_line!r}")
    got = fields(head)
    names = [n for n, _ in got]
    for name, want in expected_fields.items():
        values = [v for n, v in got if n == name]
        if values != [want]:
            faults.append(f"{name}: {values}, not [{want!r}]")
    if len(set(names)) != len(names) or "transfer-encoding" in names:
        faults.append(f"fields {names}")
    want_body = "&".join(f"{name}={form_encoded(value)}" for name, value in form)
    if body.decode("latin-1") != want_body:
        faults.append(f"body {body!r}, not {want_body!r}")
    return faults


def response(status, reason, headers, body, chunked=False):
    """An HTTP/1.1 answer that ends with the connection."""
    framing = "Transfer-Encoding: chunked" if chunked else f"Content-Length: {len(body)}"
    if chunked:  # chunks of 100 bytes, their sizes in lower-case hex, a last chunk of 0
        body = b"".join(b"%x\r\n%s\r\n" % (len(body[i:i + 100]), body[i:i + 100])
                        for i in range(0, len(body), 100)) + b"0\r\n\r\n"
    head = "\r\n".join([f"HTTP/1.1 {status} {reason}", *headers, framing, "Connection: close", "", ""])
    return head.encode("latin-1") + body


def serve_each(sock, serve, threads, accepted=lambda: None):
    """Accepts connections on `sock` until it is closed, each one served by
    `serve` on a thread of its own, kept in `threads`; `accepted` is told of
    each."""
    while True:
        try:
            conn, _ = sock.accept()
        except OSError:
            return
        accepted()
        t = threading.Thread(target=serve, args=(conn,), daemon=True)
        threads.append(t)
        t.start()


class TokenEndpoint:
    def __init__(self, script, cert, key):
        self.script = script
        self.form = [tuple(p) for p in script["form"]]
        self.refresh = dict(self.form).get("refresh_token")  # the refresh token the next request must carry
        self.record = {"connections": 0, "sni": [], "requests": [], "faults": [], "minted": [],
                       "refresh_tokens": []}
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.minimum_version = ssl.TLSVersion.TLSv1_2
        self.context.load_cert_chain(cert, key)
        self.context.sni_callback = lambda ssl_object, name, _: self.record["sni"].append(name)
        self.sock = socket.create_server(("127.0.0.1", script["port"]))
        self.threads = []
        threading.Thread(target=serve_each, args=(self.sock, self._serve, self.threads, self._accepted),
                         daemon=True).start()

    def accepts(self, token):
        """Whether the mail server takes `token` for XOAUTH2."""
        minted = self.record["minted"]
        return {"last": minted[-1:], "any": minted, "none": []}[self.script.get("accept", "last")].count(token) > 0

    def _accepted(self):
        self.record["connections"] += 1

    def _serve(self, conn):
        try:
            conn.settimeout(40)  # beyond the client's own 30 seconds
            conn = self.context.wrap_socket(conn, server_side=True)
            head, body = read_request(conn)
            if head is None:
                return
            with self.lock:
                self.record["requests"].append((head + b"\r\n\r\n" + body).decode("latin-1"))
                answer = self.script["answers"][min(len(self.record["requests"]), len(self.script["answers"])) - 1]
                out = self._answer(head, body, answer)
            if out is None:
                self.stopping.wait()
            elif answer["kind"] == "huge":
                conn.sendall(out)
                block = b"A" * 65536
                for _ in range(HUGE // len(block)):
                    conn.sendall(b"%x\r\n%s\r\n" % (len(block), block) if answer.get("chunked") else block)
            else:
                conn.sendall(out)
                conn.unwrap()  # close_notify (RFC 8446 6.1)
        except OSError:  # a client that hangs up, or refuses the handshake
            pass
        finally:
            conn.close()

    def _answer(self, head, body, answer):
        """The bytes that answer one request; None for silence."""
        expected_fields = {"host": self.script["host"], "content-type": "application/x-www-form-urlencoded",
                           "content-length": str(len(body)), "accept": "application/json", "connection": "close"}
        form = [(n, self.refresh if n == "refresh_token" else v) for n, v in self.form]
        faults = faults_of(head, body, f"POST {self.script['path']} HTTP/1.1", expected_fields, form)
        if faults:
            self.record["faults"] += faults
            return json_answer(400, "Bad Request", {"error": "invalid_request", "error_description": faults[0]})
        kind, chunked = answer["kind"], answer.get("chunked", False)
        if kind == "token":
            return json_answer(200, "OK", self._mint(answer), chunked)
        if kind == "invalid_client":
            return json_answer(401, "Unauthorized", {
                "error": "invalid_client",
                "error_description": AADSTS7000215.format(client_id=dict(self.form)["client_id"]),
                "error_codes": [7000215], "timestamp": "2026-12-09 23:14:07Z",
                "trace_id": "5d3c4b2a-1f0e-4d9c-8b7a-6f5e4d3c2b00",
                "correlation_id": "9a8b7c6d-5e4f-4a3b-2c1d-0e9f8a7b6c5d",
                "error_uri": "https://login.microsoftonline.com/error?code=7000215"}, chunked)
        if kind == "invalid_grant":
            return json_answer(400, "Bad Request", {"error": "invalid_grant", "error_description": "Bad Request"},
                               chunked)
        if kind == "echo":
            return json_answer(400, "Bad Request", {"error": "invalid_request",
                                                    "error_description": "Cannot parse " + body.decode("latin-1")},
                               chunked)
        if kind == "html_500":
            return response(500, "Internal Server Error", ["Content-Type: text/html; charset=utf-8"],
                            HTML.encode(), chunked)
        if kind == "huge":  # the head alone: the body follows in blocks
            framing = "Transfer-Encoding: chunked" if chunked else f"Content-Length: {HUGE}"
            return "\r\n".join(["HTTP/1.1 200 OK", *TOKEN_ANSWER_HEADERS, framing, "", ""]).encode()
        return None

    def _mint(self, answer):
        """A new access token (and refresh token, for a refresh grant), noted."""
        n = len(self.record["minted"]) + 1
        size = 2400 if answer.get("long") else 80
        access = (f"EwBwA8l6BAAU{n}-" + "Zm9vYmFyLmJhei5xdXV4LWV4YW1wbGU_" * 100)[:size]
        self.record["minted"].append(access)
        out = {"token_type": "Bearer", "expires_in": answer.get("expires_in", 3599),
               "ext_expires_in": answer.get("expires_in", 3599), "access_token": access}
        if self.refresh is not None:
            # As Microsoft's are: "!", "*" and "$" in them, which a form must encode.
            self.refresh = f"M.C{n}07_BAY.0.U.-Cv!Kz*3$wQpLr{n}" + "x" * 40
            self.record["refresh_tokens"].append(self.refresh)
            out["refresh_token"] = self.refresh
        return out

    def stop(self):
        self.stopping.set()
        self.sock.close()
        for t in self.threads:
            t.join(5)
        return self.record


def json_answer(status, reason, value, chunked=False):
    return response(status, reason, TOKEN_ANSWER_HEADERS, json.dumps(value).encode(), chunked)


class ConnectProxy:
    """An HTTP proxy that only tunnels: it reads a CONNECT request (RFC 9110
    9.3.6), notes its head, connects to its own address for the target
    (`routes`: "host:port" -> a port on 127.0.0.1), which needs no name
    lookup by the client, answers 200 and relays bytes both ways until
    either side closes. Any other target gets 403."""

    def __init__(self, port, routes):
        self.routes = routes
        self.heads = []
        self.sock = socket.create_server(("127.0.0.1", port))
        self.threads = []
        threading.Thread(target=serve_each, args=(self.sock, self._serve, self.threads), daemon=True).start()

    def _serve(self, conn):
        conn.settimeout(40)
        try:
            head, rest = read_request(conn)
            if head is None:
                return
            self.heads.append(head.decode("latin-1"))
            words = head.split(b"\r\n")[0].decode("latin-1").split(" ")
            port = self.routes.get(words[1]) if len(words) == 3 and words[0] == "CONNECT" else None
            if port is None:
                conn.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
                return
            with socket.create_connection(("127.0.0.1", port)) as upstream:
                conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                upstream.sendall(rest)
                relay(conn, upstream)
        except OSError:
            pass
        finally:
            conn.close()

    def stop(self):
        self.sock.close()
        for t in self.threads:
            t.join(5)
        return {"heads": self.heads}


def relay(a, b):
    """Bytes both ways between the sockets `a` and `b` until one side closes."""
    peer = {a: b, b: a}
    while True:
        ready, _, _ = select.select([a, b], [], [], 40)
        if not ready:
            return
        for s in ready:
            data = s.recv(65536)
            if not data:
                return
            peer[s].sendall(data)
