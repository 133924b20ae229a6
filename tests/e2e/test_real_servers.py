"""Delivery through two real mail servers, Postfix and OpenSMTPD, from
Debian's packages (unpacked by tools/fetch-mail-servers.sh; see
mail_servers.py for how each runs in its own sandbox), to local users'
maildirs. One row's caller is s-nail, a mail reader that starts quillrun
itself. Postfix also serves as a provider's submission server (STARTTLS on
587, implicit TLS on 465, Cyrus SASL): SUBMISSION_ROWS, once per port and a
refused login.

What lands in a maildir must be the message as quillrun rewrites it, byte for
byte (LF line ends, as maildirs keep them), below the trace fields the server
puts on top (Return-Path, Delivered-To, Received...). Every test message has
its own Date and Message-ID, which both servers would add otherwise.
"""

import unittest
from dataclasses import dataclass

import mail_servers
from harness import SENDER
from real_servers import (GHOST, REFUSAL, check_delivered, lines, missing_servers, run_on_every_server,
                          server_table, split_trace)

FROM = b"From: <" + SENDER + b">"


def dated(n):
    """A Date and a Message-ID of the message's own."""
    return [b"Date: Mon, 1 Jan 2024 00:00:00 +0000", b"Message-ID: <case%d@mailhost.example.org>" % n]


def refused(*more):
    return lambda server: lines(b"Recipient refused <" + GHOST + b"> (" + REFUSAL[server] + b")", *more)


LINE = b"line %07d of a twenty megabyte message\n"
BIG = b"".join(LINE % i for i in range(20 * 1024 * 1024 // len(LINE % 0)))

# Debian's s-nail with quillrun as its mta, which it is handed as $1; "-r" with
# a name makes it pass "-F NAME -f ADDRESS". Reproducible: SOURCE_DATE_EPOCH
# gives the Date, stealthmua=noagent leaves User-Agent out, -n the system's
# s-nail.rc, and -t takes Subject and Message-ID from the message read.
SNAIL = ["env", "SOURCE_DATE_EPOCH=1704067200", "sh", "-c",
         'exec s-nail -n -t -S stealthmua=noagent -S "mta=$1" -r "Mailx User <%s>" ann@example.org bob@example.org'
         % SENDER.decode(), "s-nail"]


@dataclass
class Row:
    argv: list                 # after argv[0]
    stdin: bytes
    mail: dict                 # user -> the one message they must hold, trace fields aside
    stdout: object = b""       # bytes, or server -> bytes
    status: int = 0
    client: list | None = None  # a caller that starts quillrun itself (mail_servers.run_case)
    settings: str | None = None  # quillrun.ini (mail_servers.run_case)


ROWS = {
    "plain_message": Row(
        ["ann@example.org", "bob@example.org"],
        lines(b"Subject: plain", *dated(1), b"", b"line one", b"", b"line three"),
        {user: lines(b"Subject: plain", *dated(1), FROM, b"To: <ann@example.org>,<bob@example.org>", b"",
                     b"line one", b"", b"line three") for user in ("ann", "bob")}),
    "t_to_cc_bcc": Row(
        ["-t"], lines(b"To: Ann <ann@example.org>", b"Cc: bob@example.org", b"Bcc: cat@example.org",
                      b"Subject: three ways", *dated(2), b"", b"body"),
        {user: lines(b"To: Ann <ann@example.org>", b"Cc: bob@example.org", b"Subject: three ways",
                     *dated(2), FROM, b"", b"body") for user in ("ann", "bob", "cat")}),
    "dot_line_with_i": Row(
        ["-i", "ann@example.org"], lines(b"Subject: dots", *dated(3), b"", b".", b"..", b".x", b"end"),
        {"ann": lines(b"Subject: dots", *dated(3), FROM, b"To: <ann@example.org>", b"",
                      b".", b"..", b".x", b"end")}),
    "eight_bit_text": Row(
        ["ann@example.org"], lines(b"Subject: caf\xe9", *dated(4), b"", b"\xe0 bient\xf4t \x80\xff"),
        {"ann": lines(b"Subject: caf\xe9", *dated(4), FROM, b"To: <ann@example.org>", b"",
                      b"\xe0 bient\xf4t \x80\xff")}),
    "long_lines_split_at_998": Row(
        ["ann@example.org"], lines(b"Subject: long", *dated(5), b"", b"x" * 998, b"y" * 2000, b"z" * 998 + b".dot"),
        {"ann": lines(b"Subject: long", *dated(5), FROM, b"To: <ann@example.org>", b"",
                      b"x" * 998, b"y" * 998, b"y" * 998, b"yyyy", b"z" * 998, b".dot")}),
    "twenty_megabytes": Row(
        ["dan@example.org"], lines(b"Subject: big", *dated(6), b"") + BIG,
        {"dan": lines(b"Subject: big", *dated(6), FROM, b"To: <dan@example.org>", b"") + BIG}),
    "unknown_recipient_beside_a_good_one": Row(
        ["ann@example.org", GHOST.decode()], lines(b"Subject: half", *dated(7), b"", b"body"),
        {"ann": lines(b"Subject: half", *dated(7), FROM, b"To: <ann@example.org>,<ghost@example.org>", b"",
                      b"body")},
        stdout=refused()),
    "only_an_unknown_recipient": Row(
        [GHOST.decode()], lines(b"Subject: none", *dated(8), b"", b"body"), {},
        stdout=refused(b"Failed to send message to any users"), status=1),
    "snail_with_full_name": Row(
        [], lines(b"Subject: from s-nail", b"Message-ID: <case9@mailhost.example.org>", b"", b"body"),
        {user: lines(b"Date: Mon, 01 Jan 2024 00:00:00 +0000", b"From: Mailx User <" + SENDER + b">",
                     b"To: ann@example.org, bob@example.org", b"Subject: from s-nail",
                     b"Message-ID: <case9@mailhost.example.org>", b"", b"body") for user in ("ann", "bob")},
        client=SNAIL),
}


def logging_in(settings, password=mail_servers.SUBMISSION_PASSWORD):
    """A quillrun.ini of `settings` that logs in as mail_servers.SUBMISSION_USER with `password`."""
    return "".join(line + "\n" for line in [*settings, "user " + mail_servers.SUBMISSION_USER, "password " + password])


SUBMISSION = lines(b"Subject: submitted", *dated(10), b"", b"body")
SUBMITTED = lines(b"Subject: submitted", *dated(10), FROM, b"To: <ann@example.org>", b"", b"body")
# The port alone asks for its TLS; PLAIN is taken among the many mechanisms
# Postfix offers, LOGIN when asked for.
SUBMISSION_ROWS = {
    "submission_587_starttls_plain": Row(["ann@example.org"], SUBMISSION, {"ann": SUBMITTED},
                                         settings=logging_in(["port 587"])),
    "submission_465_implicit_tls_login": Row(["ann@example.org"], SUBMISSION, {"ann": SUBMITTED},
                                             settings=logging_in(["port 465", "auth login"])),
    "submission_wrong_password_refused": Row(
        ["ann@example.org"], SUBMISSION, {},
        stdout=b"-ERR Authentication failed (535 5.7.8 Error: authentication failed: authentication failure)\n",
        status=1, settings=logging_in(["port 587"], "wrong")),
}


SKIP = missing_servers()
RUNS = {}  # server -> {"results": [...], "log": ...}, or the exception that ended its run


def cases(rows):
    return [{"argv": ["quillrun", *row.argv], "stdin": row.stdin.decode("latin-1"),
             **({"client": row.client} if row.client else {}),
             **({"settings": row.settings} if row.settings else {})} for row in rows.values()]


def setUpModule():
    RUNS.update(run_on_every_server(cases(ROWS), SKIP, {"postfix": cases(SUBMISSION_ROWS)}))


def check(t, server, index, row):
    run = RUNS[server]
    if isinstance(run, Exception):
        raise run
    r = {k: (v.encode("latin-1") if isinstance(v, str) else v) for k, v in run["results"][index].items()}
    context = f"stderr: {r['stderr']!r}\n{server}'s log (tail):\n{run['log'][-3000:]}"
    t.assertEqual(r["stdout"], row.stdout(server) if callable(row.stdout) else row.stdout, context)
    t.assertEqual(r["status"], row.status, context)
    check_delivered(t, r, row.mail, SENDER, context)
    for user in row.mail if row.settings else ():
        # Postfix's Received line: ESMTP with TLS and a login (RFC 3848).
        received = split_trace(r["mailboxes"][user][0].encode("latin-1"))[0][b"received"]
        t.assertRegex(received[0], rb"\bwith ESMTPSA\b", context)


class Postfix(server_table("postfix", {**ROWS, **SUBMISSION_ROWS}, check, SKIP)):
    pass


class OpenSMTPD(server_table("opensmtpd", ROWS, check, SKIP)):
    pass


if __name__ == "__main__":
    unittest.main()
