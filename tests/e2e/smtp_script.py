"""A scriptable SMTP server that records the client byte for byte.

A script maps dialogue steps to replies:

    greeting, HELO, MAIL, RCPT, DATA, DOT, QUIT, or any other verb

RCPT takes a list, one reply per RCPT TO in order, the last one repeated.
A reply is a text sent in one send, a list of texts sent one by one with
`chunk_delay` seconds between them, "close" (drop the connection instead of
replying), "reset" (drop it with a TCP reset) or "silent" (never reply
again, keep reading); "close" or "reset" may also end a list, after the texts.
{"repeat": LINE, "bytes": N, "then": TEXT} sends LINE again and again, at
least N bytes in all, then TEXT. Texts are sent as written: give them their own CR LF.

With `tls` (sandbox.tls_files's "cert" and "key") every connection is
implicit TLS (RFC 8314); "close" then ends it without close_notify, as a
plain close of the socket does.

`on_connect`, when set, is called as a connection is taken, before the
greeting.

The verb of a command line is its first word in capitals; "MAIL FROM:" is
MAIL and "RCPT TO:" is RCPT. After a DATA reply that begins with "3" the
payload is read up to CR LF "." CR LF and then DOT is answered; after any
other DATA reply the server stays in command mode.
"""

import socket
import ssl
import struct
import threading
import time

DEFAULTS = {"greeting": "220 e2e.test ESMTP ready\r\n", "DATA": "354 go ahead\r\n",
            "QUIT": "221 bye\r\n"}
OTHER = "250 ok\r\n"


class Session:
    """What one connection saw; `raw` is every byte the client sent."""

    def __init__(self):
        self.start = time.monotonic()
        self.raw = bytearray()
        self.commands = []      # command lines without their CR LF
        self.payload = None     # DATA bytes before the final ".\r\n", dots intact
        self.steps = []         # steps answered, in order
        self.client_closed = False
        self.closed_at = None   # seconds after accept at which the client closed

    def as_dict(self):
        return {"raw": self.raw.decode("latin-1"), "commands": [c.decode("latin-1") for c in self.commands],
                "payload": None if self.payload is None else self.payload.decode("latin-1"),
                "steps": self.steps, "client_closed": self.client_closed, "closed_at": self.closed_at}


def send_repeated(conn, reply):
    """LINE over and over, whole, until at least N bytes are sent; then TEXT."""
    line = reply["repeat"].encode("latin-1")
    block = line * max(1, 65536 // len(line))
    conn.settimeout(None)
    for _ in range(0, reply["bytes"], len(block)):
        conn.sendall(block)
    conn.sendall(reply["then"].encode("latin-1"))
    conn.settimeout(0.2)


def payload_end(buf):
    """Offset of the final ".\r\n" in a DATA stream, or -1."""
    if buf.startswith(b".\r\n"):
        return 0
    i = buf.find(b"\r\n.\r\n")
    return -1 if i < 0 else i + 2


class ScriptedServer:
    def __init__(self, script=None, host="127.0.0.1", port=25, tls=None):
        self.script = dict(script or {})
        self.delay = float(self.script.pop("chunk_delay", 0.2))
        self.sessions = []
        self.threads = []
        family = socket.AF_INET6 if ":" in host else socket.AF_INET
        self.sock = socket.create_server((host, port), family=family, reuse_port=False)
        self.sock.settimeout(0.2)
        self.stopping = False
        self.on_connect = None
        self.tls = None
        if tls:
            self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.tls.load_cert_chain(tls["cert"], tls["key"])
        self.acceptor = threading.Thread(target=self._accept, daemon=True)
        self.acceptor.start()

    def _accept(self):
        while not self.stopping:
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            s = Session()
            self.sessions.append(s)
            t = threading.Thread(target=self._serve, args=(conn, s, self.script), daemon=True)
            # Listed before it starts: a client may be done with the session
            # before this thread runs again, and stop() must wait for it.
            self.threads.append(t)
            t.start()

    @staticmethod
    def reply_for(script, step, rcpt_index=0):
        r = script.get(step, DEFAULTS.get(step, OTHER))
        if step == "RCPT" and isinstance(r, list):
            r = r[min(rcpt_index, len(r) - 1)] if r else OTHER
        return r

    def _serve(self, conn, s, script):
        if self.tls:
            conn.settimeout(10)  # a handshake under Wine takes about a second
            try:
                conn = self.tls.wrap_socket(conn, server_side=True)
            except OSError:
                conn.close()
                return
        conn.settimeout(0.2)
        buf = bytearray()
        silent = False
        rcpts = 0

        def recv_more():
            while True:
                try:
                    data = conn.recv(65536)
                except socket.timeout:
                    if self.stopping:
                        return False
                    continue
                except OSError:
                    data = b""
                if not data:
                    s.client_closed = True
                    s.closed_at = round(time.monotonic() - s.start, 3)
                    return False
                s.raw += data
                buf.extend(data)
                return True

        def answer(step, reply):
            nonlocal silent
            s.steps.append(step)
            if silent or reply == "silent":
                silent = True
                return True
            chunks = reply if isinstance(reply, list) else [reply]
            try:
                for i, chunk in enumerate(chunks):
                    if chunk in ("close", "reset"):
                        if chunk == "reset":  # linger 0: close sends RST
                            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                        return False
                    if i:
                        time.sleep(self.delay)
                    if isinstance(chunk, dict):
                        send_repeated(conn, chunk)
                    else:
                        conn.sendall(chunk.encode("latin-1"))
            except OSError:
                return False
            return True

        try:
            if self.on_connect:
                self.on_connect()
            if not answer("greeting", self.reply_for(script, "greeting")):
                return
            while True:
                while b"\r\n" not in buf:
                    if not recv_more():
                        return
                line, _, rest = bytes(buf).partition(b"\r\n")
                buf[:] = rest
                s.commands.append(line)
                verb = (line.split(b" ", 1)[0].split(b":", 1)[0]).decode("latin-1").upper()
                reply = self.reply_for(script, verb, rcpts)
                rcpts += verb == "RCPT"
                if not answer(verb, reply):
                    return
                if verb == "QUIT" and not silent:
                    return
                chunks = reply if isinstance(reply, list) else [reply]
                text = "".join(c if isinstance(c, str) else c["then"] for c in chunks)
                if verb == "DATA" and not silent and text.startswith("3"):
                    while payload_end(buf) < 0:
                        if not recv_more():
                            s.payload = bytes(buf)
                            return
                    end = payload_end(buf)
                    s.payload = bytes(buf[:end])
                    buf[:] = buf[end + 3:]
                    if not answer("DOT", self.reply_for(script, "DOT")):
                        return
        finally:
            # Keep noting what arrives until the client goes, unless we hung up.
            if silent:
                while recv_more():
                    pass
            conn.close()

    def stop(self, grace=2.0):
        """Wait up to `grace` seconds for open sessions, then shut down."""
        end = time.monotonic() + grace
        for t in self.threads:
            t.join(max(0.0, end - time.monotonic()))
        self.stopping = True
        self.sock.close()
        for t in self.threads:
            t.join(1.0)
        return [s.as_dict() for s in self.sessions]
