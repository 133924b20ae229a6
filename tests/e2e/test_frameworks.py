"""Two PHP mail libraries nobody here wrote, Debian's php-symfony-mailer
(its sendmail transport, "sendmail://default?command=QUILLRUN%20-bs") and
php-swiftmailer (Swift_SendmailTransport("QUILLRUN -bs")), start quillrun
with -bs and speak SMTP to it; quillrun passes each step on to a real mail
server, Postfix or OpenSMTPD (mail_servers.py's sandbox), which delivers to
local users' maildirs.

Each row is one run of php_client.php inside the sandbox. What lands in a
maildir must be the message as the library wrote it and quillrun's intake
rewrote it, byte for byte below the server's trace fields; what the library
reports (its send's result, its exceptions, its transcript of the session)
must carry the server's own replies.
"""

import json
import os
import shutil
import unittest
from dataclasses import dataclass, field

import mail_servers
import real_servers as real
from harness import SENDER, WRAPPED

HERE = os.path.dirname(os.path.abspath(__file__))
PHP_CLIENT = os.path.join(HERE, "php_client.php")
AUTOLOADERS = {"php-symfony-mailer": "/usr/share/php/Symfony/Component/Mailer/autoload.php",
               "php-swiftmailer": "/usr/share/php/Swift/autoload.php"}
ANN, BOB, CAT, GHOST = "ann@example.org", "bob@example.org", "cat@example.org", real.GHOST.decode()
BODY = "first line\n.\nlast line"  # a line holding only "." travels dot-stuffed twice
# Header fields in the order each library writes them; the MIME fields follow.
ORDER = {"symfony": ("From", "Subject", "Date", "Message-ID", "To", "Cc"),
         "swift": ("Message-ID", "Date", "Subject", "From", "To", "Cc")}
MIME = [b"MIME-Version: 1.0", b"Content-Type: text/plain; charset=utf-8",
        b"Content-Transfer-Encoding: quoted-printable"]
UNDISCLOSED = b"To: undisclosed-recipients:;"


def message(n, to=(), cc=(), bcc=(), sender=SENDER.decode()):
    """What php_client.php reads: message n, whose From is the envelope sender too."""
    return {"from": sender, "to": list(to), "cc": list(cc), "bcc": list(bcc), "subject": f"message {n}",
            "body": BODY, "date": "Mon, 1 Jan 2024 00:00:00 +0000", "id": f"library{n}@mailhost.example.org"}


def delivered(library, m, *added):
    """Message m as `library` writes it, with the fields quillrun adds at the
    end of the header, as the maildir keeps it (LF line ends)."""
    fields = {"From": m["from"], "Subject": m["subject"], "Date": "Mon, 01 Jan 2024 00:00:00 +0000",
              "Message-ID": f"<{m['id']}>", "To": ", ".join(m["to"]), "Cc": ", ".join(m["cc"])}
    header = [f"{name}: {fields[name]}".encode() for name in ORDER[library] if fields[name]]
    return real.lines(*header, *MIME, *added, b"", *BODY.encode().split(b"\n"))


@dataclass
class Row:
    library: str           # "symfony" or "swift"
    message: dict          # message(...)
    mail: list             # the users who must hold it; each holds delivered(library, message, *added)
    sent: object           # what the library's send returned: True (Symfony), a count (Swift), None (it threw)
    added: list = field(default_factory=list)  # fields quillrun adds to the header
    failed: list = field(default_factory=list)  # the recipients Swift reports refused
    refusal: object = None  # server -> (command, the server's reply to it) the library's one exception carries


def refused_recipient(server):
    return f"RCPT TO:<{GHOST}>", real.REFUSAL[server].decode()


def refused_message(_):
    return ".", mail_servers.REFUSED_REPLY


ROWS = {
    "symfony_to_cc_bcc": Row("symfony", message(1, to=[ANN], cc=[BOB], bcc=[CAT]), ["ann", "bob", "cat"], True),
    "swift_to_cc_bcc": Row("swift", message(2, to=[ANN], cc=[BOB], bcc=[CAT]), ["ann", "bob", "cat"], 3),
    # Symfony gives the message up at the first refused recipient; Swift
    # sends it to the others and lists the refused one.
    "symfony_refused_recipient": Row("symfony", message(3, to=[ANN, GHOST]), [], None, refusal=refused_recipient),
    "swift_refused_recipient": Row("swift", message(4, to=[ANN, GHOST]), ["ann"], 1, failed=[GHOST],
                                   refusal=refused_recipient),
    "symfony_refused_message": Row("symfony", message(5, to=[ANN], sender=mail_servers.REFUSED_SENDER), [], None,
                                   refusal=refused_message),
    "swift_refused_message": Row("swift", message(6, to=[ANN], sender=mail_servers.REFUSED_SENDER), [], None,
                                 refusal=refused_message),
    "symfony_only_bcc": Row("symfony", message(7, bcc=[ANN, BOB]), ["ann", "bob"], True, added=[UNDISCLOSED]),
    "swift_only_bcc": Row("swift", message(8, bcc=[ANN, BOB]), ["ann", "bob"], 2, added=[UNDISCLOSED]),
}


def missing():
    if WRAPPED:
        return "the Windows build under Wine: the -bs session there has a table of its own"
    if not shutil.which("php"):
        return "no php: install php-cli"
    absent = [package for package, path in AUTOLOADERS.items() if not os.path.isfile(path)]
    if absent:
        return f"{' and '.join(absent)} not installed"
    return real.missing_servers()


SKIP = missing()
RUNS = {}  # server -> {"results": [...], "log": ...}, or the exception that ended its run


def setUpModule():
    RUNS.update(real.run_on_every_server(
        [{"client": ["php", PHP_CLIENT, row.library], "stdin": json.dumps(row.message)} for row in ROWS.values()],
        SKIP))


def check(t, server, index, row):
    run = RUNS[server]
    if isinstance(run, Exception):
        raise run
    r = run["results"][index]
    context = f"php_client.php's output: {r['stdout']!r}\nstderr: {r['stderr']!r}\n" \
              f"{server}'s log (tail):\n{run['log'][-3000:]}"
    t.assertEqual((r["status"], r["stderr"]), (0, ""), context)
    report = json.loads(r["stdout"])
    t.assertEqual(report["sent"], row.sent, context)
    t.assertEqual(report["failed"], row.failed, context)
    if row.refusal is None:
        t.assertEqual(report["errors"], [], context)
    else:
        command, reply = row.refusal(server)
        t.assertEqual(len(report["errors"]), 1, context)
        t.assertEqual(report["errors"][0]["code"], int(reply[:3]), context)
        t.assertIn(reply, report["errors"][0]["message"], context)
        # The library's transcript: the server's reply answered that very command.
        transcript = [line.rstrip("\r") for line in report["debug"].split("\n")]
        t.assertIn("> " + command, transcript, context)
        t.assertEqual(transcript[transcript.index("> " + command) + 1], "< " + reply, context)
    want = delivered(row.library, row.message, *row.added)
    contents = real.check_delivered(t, r, {user: want for user in row.mail}, row.message["from"].encode(), context)
    for user, content in contents.items():
        header = content.split(b"\n\n", 1)[0]
        for bcc in row.message["bcc"]:
            t.assertNotIn(bcc.encode(), header, f"{user}: Bcc recipient {bcc} in the header")


class Postfix(real.server_table("postfix", ROWS, check, SKIP)):
    pass


class OpenSMTPD(real.server_table("opensmtpd", ROWS, check, SKIP)):
    pass


if __name__ == "__main__":
    unittest.main()
