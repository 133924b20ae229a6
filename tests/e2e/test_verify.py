""""-bv" end to end: quillrun connects as a delivery would (quillrun.ini,
TLS, the login), checks the sender and each recipient with MAIL FROM and
RCPT TO, says what it found one fact a line, and sends no message; standard
input, held open, is never read.

aiosmtpd plays the provider (tools/real_server.py): it records a message
only at DATA, so an empty record is the proof that nothing was sent. The
scripted server, behind implicit TLS, refuses a recipient. Under Wine,
Schannel speaks TLS 1.2 at most and names the cipher alone.
"""

import base64
import re

import pki
from harness import HOST, QUILLRUN_INI, SENDER, WRAPPED, Case, Row, table

USER, PASSWORD = "alice", "s3cret-Pw_7"
SECRET_FILE = "secret"
LOGIN = ["user " + USER, "password_file " + SECRET_FILE]

TLS = rb"TLS: TLSv1\.2, AES-256\n" if WRAPPED else rb"TLS: TLSv1\.3, TLS_AES_256_GCM_SHA384\n"
CERTIFICATE = (rb"Certificate: " + re.escape(HOST) + rb", 127\.0\.0\.1; issued by CN=quillrun test intermediate; "
               rb"expires \d{4}-\d\d-\d\d \((" + str(pki.DAYS - 1).encode() + b"|" + str(pki.DAYS).encode()
               + rb") days left\)\n")


def server(port):
    return b"Server: " + HOST + b" port " + str(port).encode() + b", address 127.0.0.1\n"


def lines(*parts):
    """The whole standard output: regex parts as they are, bytes escaped."""
    return re.compile(rb"\A" + b"".join(p.pattern if isinstance(p, re.Pattern) else re.escape(p) for p in parts)
                      + rb"\Z")


def case(settings, argv, port=587, tls="starttls", leaf="good", server_kind="aiosmtpd", **kw):
    """quillrun -bv `argv` with a quillrun.ini of `settings`, to `server_kind`
    on `port`, which sends pki's `leaf` and takes the login."""
    p = pki.get()
    return Case(argv=["quillrun", "-bv", *argv], stdin=b"", stdin_open=True, server=server_kind, port=port,
                tls={"mode": tls, "cert": p.served[leaf], "key": p.keys[leaf]}, logins={USER: PASSWORD},
                trusted=p.root, files={QUILLRUN_INI: "".join(s + "\n" for s in settings),
                                       SECRET_FILE: PASSWORD + "\n"},
                modes={SECRET_FILE: 0o600}, env={"QUILLRUN_INI": QUILLRUN_INI} if WRAPPED else {}, **kw)


def nothing_sent(t, r):
    t.assertEqual(r.sessions, [], "no message reached the server")


AUTH_PLAIN = b"AUTH PLAIN " + base64.b64encode(b"\0" + USER.encode() + b"\0" + PASSWORD.encode())

ROWS = {
    # Every fact, over STARTTLS and the login, and no message.
    "starttls_and_login": Row(
        case(["tls starttls", *LOGIN], ["a@b"]),
        lines(server(587), re.compile(TLS), re.compile(CERTIFICATE),
              b"Offers: SIZE 33554432, 8BITMIME, AUTH LOGIN PLAIN XOAUTH2, HELP\n",
              b"Login: PLAIN as alice, accepted\n", b"Sender accepted <" + SENDER + b"> (250 OK)\n",
              b"Recipient accepted <a@b> (250 OK)\n"),
        0, check=nothing_sent),
    # Implicit TLS: its facts come before the greeting's dialogue.
    "refused_recipient": Row(
        case(["port 465", *LOGIN], ["a@b", "c@d"], port=465, tls="implicit", server_kind="tls_script",
             script={"EHLO": "250-e2e.test\r\n250 AUTH PLAIN\r\n", "AUTH": "235 2.7.0 ok\r\n",
                     "RCPT": ["250 2.1.5 ok\r\n", "550 5.1.1 <c@d>: no such user\r\n"]}),
        lines(server(465), re.compile(TLS), re.compile(CERTIFICATE), b"Offers: AUTH PLAIN\n",
              b"Login: PLAIN as alice, accepted\n", b"Sender accepted <" + SENDER + b"> (250 ok)\n",
              b"Recipient accepted <a@b> (250 2.1.5 ok)\n",
              b"Recipient refused <c@d> (550 5.1.1 <c@d>: no such user)\n"),
        1, commands=[b"EHLO " + HOST, AUTH_PLAIN, b"MAIL FROM:<" + SENDER + b">", b"RCPT TO:<a@b>",
                     b"RCPT TO:<c@d>", b"RSET", b"QUIT"]),
    # The words a delivery prints for the same certificate.
    "untrusted_certificate": Row(
        case(["tls starttls", *LOGIN], ["a@b"], leaf="other"),
        server(587) + b"-ERR TLS with " + HOST + b" failed: certificate not trusted\n", 1, check=nothing_sent),
    # No quillrun.ini: HELO, and no TLS, offers or login to tell of; the
    # invocation log has its one record as for any run.
    "plain_dialogue": Row(
        Case(argv=["quillrun", "-bv", "-f", "me@x.org", "a@b"], stdin=b"", stdin_open=True),
        server(25) + b"Sender accepted <me@x.org> (250 ok)\nRecipient accepted <a@b> (250 ok)\n", 0,
        commands=[b"HELO x.org", b"MAIL FROM:<me@x.org>", b"RCPT TO:<a@b>", b"RSET", b"QUIT"],
        log=re.compile(rb"\A[^\n]+\n tester quillrun -bv -f me@x\.org a@b \n\Z")),
}


class Verify(table(ROWS)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
