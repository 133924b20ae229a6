"""A real receiving SMTP server (aiosmtpd) on 127.0.0.1: RealServer for the
end-to-end tests, and a program that takes one message for the demo and the
package test:

    python3 tools/real_server.py OUT

creates OUT.ready once it listens on port 25, then writes to OUT the envelope
("MAIL FROM: ...", "RCPT TO: ..." and an empty line) and the message, and
ends; it fails when no message comes within 30 seconds.

aiosmtpd undoes the dot-stuffing and hands over the message as received,
CR LF line ends included; `content` is exactly those bytes.

As a provider's submission server (RFC 6409) it takes TLS, by STARTTLS
(RFC 3207) or implicit (RFC 8314), and requires a login (RFC 4954) by PLAIN,
LOGIN or XOAUTH2 when given `logins`. Each message's record then also tells
how its connection went: `raw`, everything the client sent in it as the
server read it (decrypted after STARTTLS; complete once stop() returns),
`tls`, `sni` (the name the client sent in its TLS hello, or None) and
`login` ([mechanism, user]).
"""

import base64
import json
import ssl
import sys
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult

# An OAuth 2.0 refusal as a provider words it (RFC 7628 3.2.2), which
# XOAUTH2 sends base64-encoded in a 334 challenge.
XOAUTH2_REFUSAL = {"status": "401", "schemes": "bearer", "scope": "https://mail.example.org/"}


class Recorder:
    def __init__(self, logins=None):
        self.messages = []
        # user -> password, or for XOAUTH2 an access token or a function that judges one
        self.logins = dict(logins or {})
        self.received = threading.Event()

    async def handle_DATA(self, server, session, envelope):
        self.messages.append({"helo": session.host_name, "mail_from": envelope.mail_from,
                              "rcpt_tos": list(envelope.rcpt_tos),
                              "content": envelope.original_content.decode("latin-1"),
                              "raw": server.raw, "tls": server.tls, "sni": server.sni(),
                              "login": session.auth_data})
        self.received.set()
        return "250 OK"

    def handle_STARTTLS(self, server, session, envelope):  # called, not awaited, by aiosmtpd
        server.tls = "starttls"
        return True  # the handshake is not vetted further

    def authenticate(self, server, session, envelope, mechanism, login_password):
        """PLAIN and LOGIN. handled=False: aiosmtpd itself then answers a
        refusal with 535 (1.4.3 sends no reply at all otherwise)."""
        user, password = (b.decode("latin-1") for b in login_password)
        return AuthResult(success=self.logins.get(user) == password, handled=False, auth_data=[mechanism, user])

    async def auth_XOAUTH2(self, server, args):
        """The initial response is base64("user=" U "\\x01auth=Bearer " T
        "\\x01\\x01"); a refusal is a 334 challenge the client answers with an
        empty line, then 535."""
        answer = base64.b64decode(args[1]) if len(args) > 1 else await server.challenge_auth("")
        fields = dict(f.split("=", 1) for f in answer.decode("latin-1").split("\x01") if "=" in f)
        user, token = fields.get("user"), fields.get("auth", "").removeprefix("Bearer ")
        taken = self.logins.get(user)
        if taken(token) if callable(taken) else taken == token:
            return AuthResult(success=True, auth_data=["XOAUTH2", user])
        await server.challenge_auth(json.dumps(XOAUTH2_REFUSAL))
        return AuthResult(success=False, handled=False)


class _RecordingSMTP(SMTP):
    """aiosmtpd's server, noting the client's bytes as it reads them."""

    def __init__(self, handler, tls, **kwargs):
        if kwargs.get("authenticator"):
            # RFC 4954 4: with AUTH a line may take 12288 octets, as XOAUTH2's
            # answer to 334 does with a token of 2 KB (aiosmtpd's reader takes
            # its limit from here as it is made).
            self.line_length_limit = 12288
        super().__init__(handler, **kwargs)
        self.raw = bytearray()
        self.tls = tls  # "implicit", or "starttls" once STARTTLS succeeded

    def data_received(self, data):
        self.raw += data
        super().data_received(data)

    def sni(self):
        ssl_object = self.transport.get_extra_info("ssl_object") if self.transport else None
        return getattr(ssl_object, "sent_name", None)


class _Controller(Controller):
    def __init__(self, recorder, host, port, tls_context, implicit, **options):
        super().__init__(recorder, hostname=host, port=port, ssl_context=tls_context if implicit else None)
        self.tls_context, self.implicit, self.options = tls_context, implicit, options

    def factory(self):
        # decode_data=False keeps the bytes; no host name lookup in the namespace.
        return _RecordingSMTP(self.handler, "implicit" if self.implicit else None, decode_data=False,
                              hostname="e2e.test", tls_context=None if self.implicit else self.tls_context,
                              **self.options)


def tls_context(cert, key):
    """A server context presenting `cert` (a PEM file of the leaf and the
    chain sent with it) that notes on each connection the SNI its client sent."""
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)

    def note_name(ssl_object, name, _):
        ssl_object.sent_name = name
    context.sni_callback = note_name
    return context


class RealServer:
    def __init__(self, host="127.0.0.1", port=25, tls=None, cert=None, key=None, logins=None):
        """`tls`: None, "starttls" or "implicit", with the files `cert` and
        `key`; `logins`: user -> secret, which then must log in before MAIL."""
        self.recorder = Recorder(logins)
        options = {}
        if tls == "starttls":
            options.update(require_starttls=True)
        if logins:
            # aiosmtpd 1.4.3 counts only STARTTLS as TLS: with implicit TLS it
            # would refuse every AUTH with 538.
            options.update(auth_required=True, auth_require_tls=tls == "starttls",
                           authenticator=self.recorder.authenticate)
        context = tls_context(cert, key) if tls else None
        self.controller = _Controller(self.recorder, host, port, context, tls == "implicit", **options)
        self.controller.start()

    def stop(self, grace=0):
        self.controller.stop()
        for m in self.recorder.messages:
            m["raw"] = bytes(m["raw"]).decode("latin-1")
        return self.recorder.messages


if __name__ == "__main__":
    out = sys.argv[1]
    server = RealServer()
    open(out + ".ready", "w").close()
    received = server.recorder.received.wait(30)
    time.sleep(0.2)  # the client's QUIT is answered
    messages = server.stop()
    if not received:
        sys.exit("no message within 30 seconds")
    m = messages[0]
    with open(out, "wb") as f:
        f.write(f"MAIL FROM: {m['mail_from']}\nRCPT TO: {', '.join(m['rcpt_tos'])}\n\n".encode()
                + m["content"].encode("latin-1"))
