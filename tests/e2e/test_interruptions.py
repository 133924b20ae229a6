"""A run interrupted while it waits (a caller's own time-out, Ctrl+C, a
closed terminal) removes its spool file, has printed every message it met,
and ends with status 1; or with 0 once the server has accepted the message.

Under Wine, SIGINT becomes Ctrl+C, which the program handles as on Windows;
SIGTERM and SIGHUP reach no Windows handler and end the process outright,
with a status of Wine's choosing. What must hold there is that the spool
file goes with the process however it ends (FILE_FLAG_DELETE_ON_CLOSE).
"""

import signal

from harness import ANY, SENDER, WRAPPED, Case, Row, table, wire

MSG = b"Subject: s\n\nhi\n"


def status_after(number):
    return ANY if WRAPPED and number != signal.SIGINT else 1


def interrupted(number, when, **kw):
    return Case(argv=kw.pop("argv", ["quillrun", "a@b"]), stdin=kw.pop("stdin", MSG),
                signal={"number": number, "when": when}, timeout=20, **kw)


def was_signalled(t, r):
    t.assertTrue(r.signalled, "the signal was never sent")


def signalled_once_delivered(t, r):
    was_signalled(t, r)
    t.assertEqual(len(r.sessions), 1, "one delivery")


ROWS = {
    "sigterm_while_the_greeting_is_awaited": Row(
        interrupted(signal.SIGTERM, "connected", script={"greeting": "silent"}), b"",
        status_after(signal.SIGTERM), check=was_signalled),
    "sigint_during_intake": Row(
        interrupted(signal.SIGINT, "spool", stdin=b"Subject: s\n\nthe message goes on", stdin_open=True),
        b"", status_after(signal.SIGINT), commands=[], check=was_signalled),
    "sighup_after_a_refusal_shows_the_refusal": Row(
        interrupted(signal.SIGHUP, "RCPT", argv=["quillrun", "a@b", "c@d"], script={"RCPT": ["550 no\r\n", "silent"]}),
        b"Recipient refused <a@b> (550 no)\n", status_after(signal.SIGHUP), check=was_signalled),
    "sigquit_while_the_greeting_is_awaited": Row(
        interrupted(signal.SIGQUIT, "connected", script={"greeting": "silent"}), b"", status_after(signal.SIGQUIT),
        check=was_signalled),
    # Once the server has taken the message, an interruption while QUIT is answered is still a delivery.
    "sigterm_after_the_message_was_accepted": Row(
        interrupted(signal.SIGTERM, "QUIT", script={"QUIT": "silent"}), b"", ANY if WRAPPED else 0,
        payload=wire(b"Subject: s", b"From: <" + SENDER + b">", b"To: <a@b>", b"", b"hi"),
        check=signalled_once_delivered),
}

# Wine uses SIGUSR1 itself, to suspend a thread: no Windows program could see it.
if not WRAPPED:
    ROWS["sigusr1_while_the_greeting_is_awaited"] = Row(
        interrupted(signal.SIGUSR1, "connected", script={"greeting": "silent"}), b"", 1, check=was_signalled)


class Interruptions(table(ROWS)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
