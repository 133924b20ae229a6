"""What the tables of real mail servers share (test_real_servers.py and
test_frameworks.py): each server's run of all its cases at once, and the
checks of what landed in its maildirs.
"""

import os
import re
import unittest
from concurrent.futures import ThreadPoolExecutor

import mail_servers
from harness import WRAPPED

TRACE = (b"return-path", b"delivered-to", b"x-original-to", b"received")
GHOST = b"ghost@example.org"  # no such local user
# The first line of each server's refusal of an unknown local recipient.
REFUSAL = {"postfix": b"550 5.1.1 <ghost@example.org>: Recipient address rejected: "
                      b"User unknown in local recipient table",
           "opensmtpd": b"550 Invalid recipient: <ghost@example.org>"}


def lines(*ls):
    return b"".join(line + b"\n" for line in ls)


def split_trace(message):
    """(trace fields the server put on top as {lowercase name: [values]}, the rest)."""
    trace = {}
    while True:
        m = re.match(rb"([!-9;-~]+):[ \t]*(.*\n(?:[ \t].*\n)*)", message)
        if not m or m.group(1).lower() not in TRACE:
            return trace, message
        trace.setdefault(m.group(1).lower(), []).append(m.group(2).rstrip(b"\n"))
        message = message[m.end():]


def assert_same_bytes(t, got, want, what):
    """assertEqual that points at the first difference instead of printing megabytes."""
    if got == want:
        return
    at, end = 0, min(len(got), len(want))  # the longest common start, by halving
    while at < end:
        mid = (at + end + 1) // 2
        at, end = (mid, end) if got[:mid] == want[:mid] else (at, mid - 1)
    t.fail(f"{what}: {len(got)} bytes, expected {len(want)}; first difference at {at}:\n"
           f"  got  {got[max(0, at - 60):at + 60]!r}\n  want {want[max(0, at - 60):at + 60]!r}")


def missing_servers():
    if WRAPPED:
        return "the Windows build under Wine: each case would cost a Wine start"
    missing = [s for s in mail_servers.SERVERS if not mail_servers.unpacked(s)]
    if missing:
        return (f"{' and '.join(missing)} not unpacked under {os.path.abspath(mail_servers.CACHE)}: "
                f"run tools/fetch-mail-servers.sh")
    return None


def run_on_every_server(cases, skip, more=None):
    """Runs `cases` against each server, both at once, and after them the
    cases `more` gives a server (server -> cases): server -> its run
    ({"results": [...], "log": ...}), or the exception that ended it."""
    if skip and os.environ.get("CI") and not WRAPPED:
        raise RuntimeError(f"CI must run these: {skip}")
    if skip:
        return {}

    def run(server):
        try:
            return mail_servers.run_server(server, cases + (more or {}).get(server, []))
        except Exception as e:  # reported by each of that server's tests
            return e
    with ThreadPoolExecutor(len(mail_servers.SERVERS)) as pool:
        return dict(zip(mail_servers.SERVERS, pool.map(run, mail_servers.SERVERS)))


def check_delivered(t, r, mail, sender, context):
    """The queue drained, no spool file left, and each user of `mail` (user ->
    message) holds that message alone, from `sender`, after the trace fields;
    returns user -> the message as delivered, trace fields left out."""
    t.assertTrue(r["drained"], f"still queued: {r['queue']}\n{context}")
    t.assertEqual([n for n in r["tmp"] if "tidewharf" in n], [], "spool file left behind in /tmp")
    boxes = {user: [m.encode("latin-1") for m in messages] for user, messages in r["mailboxes"].items()}
    t.assertEqual(sorted(boxes), sorted(mail), f"who received it\n{context}")
    contents = {}
    for user, want in mail.items():
        t.assertEqual(len(boxes[user]), 1, f"{user}: one message")
        trace, contents[user] = split_trace(boxes[user][0])
        # The envelope, as the server's own fields tell it.
        t.assertEqual(trace.get(b"return-path"), [b"<" + sender + b">"], f"{user}: envelope sender")
        t.assertEqual(trace.get(b"delivered-to"), [user.encode() + b"@example.org"], f"{user}: recipient")
        assert_same_bytes(t, contents[user], want, f"{user}'s message after the trace fields")
    return contents


def server_table(server, rows, check, skip):
    """A TestCase for `server` with one test per row: check(test, server, index, row)."""
    @unittest.skipIf(skip, skip)
    class Table(unittest.TestCase):
        pass
    for index, (name, row) in enumerate(rows.items()):
        setattr(Table, "test_" + name, lambda self, i=index, row=row: check(self, server, i, row))
    return Table
