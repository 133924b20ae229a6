"""A run interrupted while it waits (a caller's own time-out, Ctrl+C, a
closed terminal) removes its spool file, has printed every message it met,
and ends with status 1.

Under Wine, SIGINT becomes Ctrl+C, which the program handles as on Windows;
SIGTERM and SIGHUP reach no Windows handler and end the process outright,
with a status of Wine's choosing. What must hold there is that the spool
file goes with the process however it ends (FILE_FLAG_DELETE_ON_CLOSE).
"""

import signal

from harness import ANY, WRAPPED, Case, Row, table

MSG = b"Subject: s\n\nhi\n"


def status_after(number):
    return ANY if WRAPPED and number != signal.SIGINT else 1


def interrupted(number, when, **kw):
    return Case(argv=kw.pop("argv", ["quillrun", "a@b"]), stdin=kw.pop("stdin", MSG),
                signal={"number": number, "when": when}, timeout=20, **kw)


def was_signalled(t, r):
    t.assertTrue(r.signalled, "the signal was never sent")


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
}


class Interruptions(table(ROWS)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
