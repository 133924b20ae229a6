"""A fast discarding SMTP sink for the benchmark: 250 to every command, 354
to DATA, 221 to QUIT; the message text is counted and dropped.

    python3 sink.py PORT TIMES_FILE [TLS_PORT CERT KEY USER PASSWORD]

With TLS_PORT it also listens there for submission as a provider takes it:
EHLO offers STARTTLS (RFC 3207), and after the handshake (CERT and KEY, PEM
files) AUTH PLAIN and LOGIN for USER and PASSWORD alone (RFC 4954, 4616),
and XOAUTH2 for USER with PASSWORD as the bearer token; MAIL before both is
refused with 530.

Appends one line per message to TIMES_FILE, monotonic seconds, then how it came:
    connected data_start data_end bytes tls login
tls is 1 when the message came through TLS, login the mechanism (or "-").
Replies go out at once (TCP_NODELAY), so the sink never adds a Nagle wait.
"""
import asyncio
import base64
import socket
import ssl
import sys
import time

END = b"\r\n.\r\n"
EHLO = b"250-sink\r\n250 8BITMIME\r\n"
EHLO_BEFORE_TLS = b"250-sink\r\n250-8BITMIME\r\n250 STARTTLS\r\n"
EHLO_IN_TLS = b"250-sink\r\n250-8BITMIME\r\n250 AUTH PLAIN LOGIN XOAUTH2\r\n"
USERNAME, PASSWORD = b"VXNlcm5hbWU6", b"UGFzc3dvcmQ6"  # base64 of "Username:", "Password:"


# What arrives goes into this one buffer: over TLS, asyncio then decrypts
# straight into it instead of into new bytes for every record. One for all
# connections, since each takes its bytes out before another is read.
RECEIVED = memoryview(bytearray(256 * 1024))


class Sink(asyncio.BufferedProtocol):
    def __init__(self, tls=None, user=b"", password=b""):
        self.context, self.user, self.password = tls, user, password

    def get_buffer(self, sizehint):
        return RECEIVED

    def buffer_updated(self, nbytes):
        self.data_received(bytes(RECEIVED[:nbytes]))

    def connection_made(self, transport):
        self.t = transport
        self.t.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.connected = time.monotonic()
        self.buf = b""
        self.in_data = False
        self.tls, self.upgrading, self.login, self.answer = False, False, "-", None
        self.t.write(b"220 sink ready\r\n")

    def data_received(self, data):
        # What the client sends right after the handshake arrives before
        # start_tls has handed over the TLS transport: it waits for it, or
        # the reply would go out in clear text.
        if self.upgrading:
            self.buf += data
            return
        if self.in_data:
            return self.body(data)
        self.buf += data
        while not self.in_data and b"\n" in self.buf:
            line, self.buf = self.buf.split(b"\n", 1)
            if self.answer:  # a line of an AUTH exchange
                self.answer(line.strip())
                continue
            verb = line[:4].upper()
            if verb == b"DATA":
                self.t.write(b"354 go ahead\r\n")
                self.in_data, self.tail, self.size = True, b"\r\n", 0
                self.data_start = time.monotonic()
            elif verb == b"QUIT":
                self.t.write(b"221 bye\r\n")
                self.t.close()
                return
            elif verb == b"EHLO":
                self.t.write(EHLO_IN_TLS if self.tls else EHLO_BEFORE_TLS if self.context else EHLO)
            elif self.context and line.strip().upper() == b"STARTTLS" and not self.tls:
                self.t.write(b"220 go ahead\r\n")
                self.buf, self.upgrading = b"", True  # the client waits for the handshake
                asyncio.ensure_future(self.start_tls())
                return
            elif self.context and verb == b"AUTH":
                if self.tls:
                    self.authenticate(line.split())
                else:
                    self.t.write(b"538 5.7.11 Encryption required\r\n")
            elif self.context and verb == b"MAIL" and self.login == "-":
                self.t.write(b"530 5.7.0 Authentication required\r\n")
            else:
                self.t.write(b"250 ok\r\n")
        if self.in_data and self.buf:
            rest, self.buf = self.buf, b""
            self.body(rest)

    async def start_tls(self):
        self.t = await asyncio.get_running_loop().start_tls(self.t, self, self.context,
                                                            server_side=True)
        self.tls, self.upgrading = True, False
        self.data_received(b"")

    def authenticate(self, words):
        mechanism = words[1].upper().decode() if len(words) > 1 else ""
        given = words[2] if len(words) > 2 else None
        if mechanism == "PLAIN":
            self.ask(b"", given, lambda text: self.check("PLAIN", text.split(b"\0")[1:]))
        elif mechanism == "XOAUTH2":  # "user=" USER ^A "auth=Bearer " TOKEN ^A ^A
            self.ask(b"", given, lambda text: self.check("XOAUTH2", [
                field.split(b"=", 1)[-1].removeprefix(b"Bearer ") for field in text.split(b"\1")[:2]]))
        elif mechanism == "LOGIN":
            self.ask(USERNAME, given, lambda user: self.ask(
                PASSWORD, None, lambda password: self.check("LOGIN", [user, password])))
        else:
            self.t.write(b"504 5.5.4 Unrecognized authentication type\r\n")

    def ask(self, prompt, given, then):
        """`then` with the decoded answer: `given` (an initial response), or the next line."""
        def answered(line):
            self.answer = None
            try:
                then(base64.b64decode(line, validate=True))
            except ValueError:
                self.t.write(b"501 5.5.2 Cannot decode response\r\n")
        if given is not None:
            return answered(given)
        self.answer = answered
        self.t.write(b"334 " + prompt + b"\r\n")

    def check(self, mechanism, credentials):
        if credentials != [self.user, self.password]:
            self.t.write(b"535 5.7.8 Authentication credentials invalid\r\n")
            return
        self.login = mechanism
        self.t.write(b"235 2.7.0 Authentication successful\r\n")

    def body(self, data):
        # Only the last bytes of the previous chunk are kept to find the end,
        # and only they are joined to the start of the new one: a copy of each
        # chunk would cost the sink as much as the search.
        self.size += len(data)
        seam = self.tail + data[:4]
        if (at := seam.find(END)) >= 0:
            rest = seam[at + len(END):] + data[4:]
        elif (at := data.find(END)) >= 0:
            rest = data[at + len(END):]
        else:
            self.tail = (self.tail + data[-4:])[-4:]
            return
        self.size -= 3 + len(rest)  # the final ".\r\n" and what follows it
        self.in_data = False
        with open(sys.argv[2], "a") as f:
            f.write(f"{self.connected:.6f} {self.data_start:.6f} {time.monotonic():.6f} "
                    f"{self.size} {int(self.tls)} {self.login}\n")
        self.t.write(b"250 queued\r\n")
        if rest:
            self.data_received(rest)


async def main():
    loop = asyncio.get_running_loop()
    servers = [await loop.create_server(Sink, "127.0.0.1", int(sys.argv[1]), backlog=64)]
    if len(sys.argv) > 3:
        port, cert, key, user, password = sys.argv[3:8]
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        servers.append(await loop.create_server(
            lambda: Sink(context, user.encode(), password.encode()), "127.0.0.1", int(port),
            backlog=64))
    await asyncio.gather(*(server.serve_forever() for server in servers))


asyncio.run(main())
