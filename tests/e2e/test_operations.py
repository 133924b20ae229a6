"""Setting quillrun up and running it, end to end: "-bv" checks a
configuration and sends nothing; the outcome log has a line for each
message; log_directory puts the logs where the administrator wants them;
every address of the server's name is tried in turn, IPv6 as IPv4.

"-bv": quillrun connects as a delivery would (quillrun.ini, TLS, the login),
checks the sender and each recipient with MAIL FROM and RCPT TO, says what
it found one fact a line, and sends no message; standard input, held open,
is never read. aiosmtpd plays the provider (tools/real_server.py): it
records a message only at DATA, so an empty record is the proof that nothing
was sent. Under Wine, Schannel speaks TLS 1.2 at most and names the cipher
alone.

Addresses: names resolve through the sandbox's /etc/hosts alone
(tools/namespaces.py), which each row writes; under Wine through Wine's
getaddrinfo, which reads the same file. The order of the tries and which
failure is named are unit rows (connection_test.cpp); here stands the
wiring through the real resolver and sockets. A name that does not resolve
is test_sender_connection's "unresolvable_host".
"""

import base64
import re

import pki
from harness import CLIENT, HOST, QUILLRUN_INI, SENDER, TEXT, WRAPPED, Case, Row, dialogue, table

MSG = b"Subject: s\n\nhi\n"
USER, PASSWORD = "alice", "s3cret-Pw_7"
SECRET_FILE = "secret"
LOGIN = ["user " + USER, "password_file " + SECRET_FILE]
INI_ENV = {"QUILLRUN_INI": QUILLRUN_INI} if WRAPPED else {}
OWN = f"127.0.0.1\t{HOST.decode()} localhost\n"  # what the sandbox's /etc/hosts holds anyway
OUTCOMES = "outcome.log"

TLS = rb"TLS: TLSv1\.2, AES-256\n" if WRAPPED else rb"TLS: TLSv1\.3, TLS_AES_256_GCM_SHA384\n"
CERTIFICATE = (rb"Certificate: " + re.escape(HOST) + rb", 127\.0\.0\.1; issued by CN=quillrun test intermediate; "
               rb"expires \d{4}-\d\d-\d\d \((" + str(pki.DAYS - 1).encode() + b"|" + str(pki.DAYS).encode()
               + rb") days left\)\n")
AUTH_PLAIN = b"AUTH PLAIN " + base64.b64encode(b"\0" + USER.encode() + b"\0" + PASSWORD.encode())


def server(port):
    return b"Server: " + HOST + b" port " + str(port).encode() + b", address 127.0.0.1\n"


def lines(*parts):
    """The whole standard output: regex parts as they are, bytes escaped."""
    return re.compile(rb"\A" + b"".join(p.pattern if isinstance(p, re.Pattern) else re.escape(p) for p in parts)
                      + rb"\Z")


def provider(settings, argv, port=587, tls="starttls", leaf="good", server_kind="aiosmtpd", secret=PASSWORD,
             **kw):
    """quillrun `argv` with a quillrun.ini of `settings`, to `server_kind`
    on `port`, which sends pki's `leaf` and takes the login; the secret's
    file holds `secret`."""
    p = pki.get()
    return Case(argv=["quillrun", *argv], server=server_kind, port=port,
                tls={"mode": tls, "cert": p.served[leaf], "key": p.keys[leaf]}, logins={USER: PASSWORD},
                trusted=p.root, files={QUILLRUN_INI: "".join(s + "\n" for s in settings), SECRET_FILE: secret + "\n"},
                modes={SECRET_FILE: 0o600}, env=INI_ENV, **kw)


def verify(settings, argv, **kw):
    """quillrun -bv `argv`, standard input held open and never read."""
    return provider(settings, ["-bv", *argv], stdin=b"", stdin_open=True, **kw)


def nothing_sent(t, r):
    t.assertEqual(r.sessions, [], "no message reached the server")


def to(host, hosts="", argv=(), **kw):
    """quillrun -host `host` to <a@b>, with the lines `hosts` added to /etc/hosts."""
    return Case(argv=["quillrun", "-host", host, *argv, "a@b"], stdin=MSG, hosts=OWN + hosts, **kw)


def delivered(case, check=None):
    return Row(case, b"", 0, commands=dialogue(b"a@b"), check=check)


def debug_has(text):
    def check(t, r):
        t.assertIn(text, r.logs["quillrun.debug"] or b"")
    return check


def logged_in_clear(case):
    """A login without TLS, which goes to loopback alone: PLAIN, then the message."""
    auth = b"AUTH PLAIN " + base64.b64encode(f"\0{USER}\0{PASSWORD}".encode())
    commands = [b"EHLO " + HOST, auth, *dialogue(b"a@b")[1:]]
    return Row(case, b"", 0, commands=commands)


def outcome_lines(*patterns):
    """The outcome log holds one line for each pattern (after its time), in
    order; on Windows each ends with CR LF on disk."""
    def check(t, r):
        text = r.texts[OUTCOMES] or b""
        if WRAPPED:
            text = text.replace(b"\r\n", b"\n")
        got = text.split(b"\n")
        t.assertEqual(got[-1], b"", "the last line ends")
        t.assertEqual(len(got) - 1, len(patterns), text)
        for line, pattern in zip(got, patterns):
            t.assertRegex(line, rb"\A\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ " + pattern + rb"\Z")
    return check


def logged(case, settings=()):
    """`case` with an outcome log, and `settings` more, in its quillrun.ini."""
    ini = case.files.get(QUILLRUN_INI, "")
    case.files = {**case.files, QUILLRUN_INI: ini + "".join(s + "\n" for s in (f"log_file {OUTCOMES}", *settings))}
    case.env = {**case.env, **INI_ENV}
    case.read_back = [OUTCOMES, "logs/quillrun.log", "logs/quillrun.debug"]
    return case


def logs_in_folder(t, r):
    """quillrun.log and quillrun.debug went to log_directory, not to the working directory."""
    t.assertNotIn("quillrun.log", r.cwd_files)
    t.assertNotIn("quillrun.debug", r.cwd_files)
    t.assertIn(b"quillrun -debug a@b", r.texts["logs/quillrun.log"] or b"")
    t.assertIn(b"Sending message", r.texts["logs/quillrun.debug"] or b"")


def no_logs(t, r):
    t.assertNotIn("quillrun.log", r.cwd_files)
    t.assertNotIn("quillrun.debug", r.cwd_files)


def both(*checks):
    def check(t, r):
        for c in checks:
            c(t, r)
    return check


FROM = re.escape(b"from=<" + SENDER + b">")
BS_LINE = (rb"server=" + re.escape(HOST) + rb":25 tls=none user=none from=<" + re.escape(CLIENT)
           + rb"> rcpt=<a@b>:\"250 ok\" size=\d+ reply=\"250 ok\" status=0")

ROWS = {
    # -bv: every fact, over STARTTLS and the login, and no message.
    "verify_starttls_and_login": Row(
        verify(["tls starttls", *LOGIN], ["a@b"]),
        lines(server(587), re.compile(TLS), re.compile(CERTIFICATE),
              b"Offers: SIZE 33554432, 8BITMIME, AUTH LOGIN PLAIN XOAUTH2, HELP\n",
              b"Login: PLAIN as alice, accepted\n", b"Sender accepted <" + SENDER + b"> (250 OK)\n",
              b"Recipient accepted <a@b> (250 OK)\n"),
        0, check=nothing_sent),
    # Implicit TLS: its facts come before the greeting's dialogue.
    "verify_refused_recipient": Row(
        verify(["port 465", *LOGIN], ["a@b", "c@d"], port=465, tls="implicit", server_kind="tls_script",
             script={"EHLO": "250-e2e.test\r\n250 AUTH PLAIN\r\n", "AUTH": "235 2.7.0 ok\r\n",
                     "RCPT": ["250 2.1.5 ok\r\n", "550 5.1.1 <c@d>: no such user\r\n"]}),
        lines(server(465), re.compile(TLS), re.compile(CERTIFICATE), b"Offers: AUTH PLAIN\n",
              b"Login: PLAIN as alice, accepted\n", b"Sender accepted <" + SENDER + b"> (250 ok)\n",
              b"Recipient accepted <a@b> (250 2.1.5 ok)\n",
              b"Recipient refused <c@d> (550 5.1.1 <c@d>: no such user)\n"),
        1, commands=[b"EHLO " + HOST, AUTH_PLAIN, b"MAIL FROM:<" + SENDER + b">", b"RCPT TO:<a@b>",
                     b"RCPT TO:<c@d>", b"RSET", b"QUIT"]),
    # The words a delivery prints for the same certificate.
    "verify_untrusted_certificate": Row(
        verify(["tls starttls", *LOGIN], ["a@b"], leaf="other"),
        server(587) + b"-ERR TLS with " + HOST + b" failed: certificate not trusted\n", 1, check=nothing_sent),
    # No quillrun.ini: HELO, and no TLS, offers or login to tell of; the
    # invocation log has its one record as for any run.
    "verify_plain_dialogue": Row(
        Case(argv=["quillrun", "-bv", "-f", "me@x.org", "a@b"], stdin=b"", stdin_open=True),
        server(25) + b"Sender accepted <me@x.org> (250 ok)\nRecipient accepted <a@b> (250 ok)\n", 0,
        commands=[b"HELO x.org", b"MAIL FROM:<me@x.org>", b"RCPT TO:<a@b>", b"RSET", b"QUIT"],
        log=re.compile(rb"\A[^\n]+\n tester quillrun -bv -f me@x\.org a@b \n\Z")),

    # The outcome log: a line for each message, with each recipient's reply
    # and the server's reply to "."; on failure the line quillrun printed.
    "outcome_of_a_delivery_with_a_refused_recipient": Row(
        logged(Case(argv=["quillrun", "a@b", "c@d"], stdin=MSG,
                    script={"RCPT": ["250 ok\r\n", "550 5.1.1 no such user\r\n"]})),
        b"Recipient refused <c@d> (550 5.1.1 no such user)\n", 0,
        check=outcome_lines(rb"server=" + re.escape(HOST) + rb":25 tls=none user=none " + FROM
                            + rb' rcpt=<a@b>:"250 ok" rcpt=<c@d>:"550 5\.1\.1 no such user" size=\d+'
                            rb' reply="250 ok" status=0')),
    "outcome_of_a_failed_login": Row(
        logged(provider(["tls starttls", *LOGIN], ["a@b"], stdin=MSG, secret="wrong")),
        re.compile(rb"\A-ERR Authentication failed \(535 [^\n]*\)\n\Z"), 1,
        check=both(nothing_sent, outcome_lines(
            rb"server=" + re.escape(HOST) + rb":587 tls=TLSv1\.[23] user=alice " + FROM
            + rb' rcpt=<a@b>:- size=\d+ reply=- status=1 error="-ERR Authentication failed \(535 [^"]*\)"'))),
    "outcome_of_a_bs_session_of_two_messages": Row(
        logged(Case(argv=["quillrun", "-bs"],
                    session=[["helo", "[127.0.0.1]"], ["mail", CLIENT.decode()], ["rcpt", "a@b"], ["data", TEXT],
                             ["mail", CLIENT.decode()], ["rcpt", "a@b"], ["data", TEXT], ["quit"]])),
        b"", 0, check=outcome_lines(BS_LINE, BS_LINE)),
    # A client gone before its "." sent no message: no line for it.
    "outcome_of_a_bs_client_gone_in_its_text": Row(
        logged(Case(argv=["quillrun", "-bs"],
                    session=[["helo", "[127.0.0.1]"], ["mail", CLIENT.decode()], ["rcpt", "a@b"], ["data", TEXT],
                             ["mail", CLIENT.decode()], ["rcpt", "a@b"], ["docmd", "DATA"],
                             ["send", "Subject: cut\r\n\r\nhalf"], ["close"]])),
        b"", 1, check=outcome_lines(BS_LINE)),

    # log_directory: the logs go there; one that cannot be used costs the
    # logs, never the message, and never puts them in the working directory.
    "log_directory_used": delivered(
        logged(Case(argv=["quillrun", "-debug", "a@b"], stdin=MSG, dirs=["logs"]), ["log_directory logs"]),
        check=logs_in_folder),
    "log_directory_unusable": delivered(
        logged(Case(argv=["quillrun", "-debug", "a@b"], stdin=MSG), ["log_directory no-such-folder"]),
        check=no_logs),

    # Every address of the name, in turn.
    "second_address_takes_it_after_first_refuses": delivered(
        to("relay.test", "127.0.0.1\trelay.test\n127.0.0.2\trelay.test\n", argv=("-debug",), listen="127.0.0.2"),
        check=debug_has(b"Open socket to (relay.test:25)\nCould not connect to 127.0.0.1 () Connection Refused\n"
                        b"Socket opened \n")),
    "name_reached_over_ipv6": delivered(to("six.test", "::1\tsix.test\n", listen="::1")),
    "ipv6_literal_is_loopback_for_a_login": logged_in_clear(
        to("[::1]", listen="::1", script={"EHLO": "250-e2e.test\r\n250 AUTH PLAIN\r\n", "AUTH": "235 ok\r\n"},
           files={QUILLRUN_INI: f"tls off\nuser {USER}\npassword_file secret\n", "secret": PASSWORD + "\n"},
           modes={"secret": 0o600}, env={"QUILLRUN_INI": QUILLRUN_INI} if WRAPPED else {})),
}


class Operations(table(ROWS)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
