"""A broken or hostile server: each way it can break off the dialogue, or
send what no server should, ends the run with its message and status, and
never leaves the spool file behind (harness.check_row checks /tmp).

The one case here that waits out a real time limit is the 30 seconds given to
the reply to QUIT; the other limits are tested with short ones in the unit
tests (session_test.cpp).
"""

from harness import SANITIZED, WRAPPED, Case, Row, address_space, table
from test_dialogue import DATA, FULL, HELO, NO_REPLY, OPENING, QUIT, message, rcpt, row

NO_HELO = b"-ERR Unable to read helo response from SMTP server\n"
UNEXPECTED = b"-ERR Unexpected reply from server "

# A body far larger than the socket buffers, so that the client is still
# sending when the server hangs up on a line near its start: with DATA
# answered 250 the server goes on reading the message as commands.
BIG = b"Subject: s\n\nCLOSE now\n" + (b"x" * 79 + b"\n") * 200_000


def cut_off_in_body(how):
    script = {"DATA": "250 go on\r\n", "CLOSE": how}
    return Row(Case(argv=["quillrun", "a@b"], stdin=BIG, script=script, timeout=60), b"", 1,
               check=lambda t, r: t.assertTrue(
                   r.server["raw"].startswith(OPENING + rcpt(b"a@b") + DATA + message(b"CLOSE now"))))


def cpu_within(seconds):
    """The run's CPU time stays small (natively; under Wine it is Wine's)."""
    def check(t, r):
        if not WRAPPED:
            t.assertLess(r.cpu, seconds, "CPU seconds")
    return check


def waited(low, high):
    def check(t, r):
        t.assertGreaterEqual(r.elapsed, low)
        t.assertLess(r.elapsed, high)
    return check


LINE = "250-" + "x" * 60 + "\r\n"
ENDLESS_GREETING = {"repeat": "220-" + "x" * 70 + "\r\n", "bytes": 100_000_000, "then": "220 at last\r\n"}

ROWS = {
    # The server hangs up after each step in turn.
    "closes_after_greeting": row(NO_HELO, 1, HELO, {"HELO": "close"}),
    "closes_after_helo": row(b"", 1, OPENING, {"MAIL": "close"}),
    "closes_after_mail_from": row(NO_REPLY, 1, OPENING + rcpt(b"a@b"), {"RCPT": ["close"]}),
    "closes_after_first_rcpt": row(
        b"Recipient refused <a@b> (550 no)\n" + NO_REPLY, 1, OPENING + rcpt(b"a@b", b"c@d"),
        {"RCPT": ["550 no\r\n", "close"]}, argv=("a@b", "c@d", "e@f")),
    "closes_after_last_rcpt": row(NO_REPLY, 1, OPENING + rcpt(b"a@b", b"c@d") + DATA, {"DATA": "close"},
                                  argv=("a@b", "c@d")),
    "closes_after_data": row(NO_REPLY, 1, OPENING + rcpt(b"a@b") + DATA, {"DATA": ["354 go\r\n", "close"]}),
    "closes_in_the_message": cut_off_in_body("close"),
    "closes_after_dot": row(NO_REPLY, 1, FULL[:-len(QUIT)], {"DOT": "close"}),
    "closes_after_accepting_the_message": row(b"", 0, FULL, {"QUIT": "close"}),

    # ... or resets the connection.
    "resets_after_helo": row(b"", 1, OPENING, {"MAIL": "reset"}),
    "resets_in_the_message": cut_off_in_body("reset"),

    # Replies no server should send.
    "reply_over_a_megabyte": row(b"", 0, FULL, {"HELO": {"repeat": LINE, "bytes": 1_200_000, "then": "250 ok\r\n"}}),
    "refusal_over_a_megabyte_shows_its_first_64_kib": row(
        b"-ERR Invalid smtp response (501 " + b"x" * (65536 - 4) + b")\n", 1, HELO,
        {"HELO": ["501 ", {"repeat": "x" * 64, "bytes": 1_200_000, "then": "\r\n"}]}),
    "nul_bytes_cut_the_shown_reply": row(b"-ERR Invalid smtp response (550 no)\n", 1, OPENING,
                                         {"HELO": "250 o\0k\r\n", "MAIL": "550 no\0 such\r\n"}),
    "greeting_without_line_feed_then_close": row(NO_HELO, 1, b"", {"greeting": ["220 no line feed", "close"]}),
    "endless_continuation_greeting_in_linear_time_and_flat_memory": row(
        b"", 0, FULL, {"greeting": ENDLESS_GREETING}, timeout=60, rlimit_as=address_space(16 << 20),
        check=cpu_within(5)),

    # A reply nobody asked for: answering the next command with it would put every later reply one
    # command late, and the 354 of DATA would pass for the answer to ".", refused here.
    "second_greeting_line_in_the_same_send": row(UNEXPECTED + b"(220 b)\n", 1, QUIT,
                                                 {"greeting": "220 a\r\n220 b\r\n", "DOT": "554 no\r\n"}),
    "empty_line_after_the_greeting": row(UNEXPECTED + b"()\n", 1, QUIT,
                                         {"greeting": "220 a\r\n\r\n", "DOT": "554 no\r\n"}),
    "second_helo_reply_line_in_the_same_send": row(UNEXPECTED + b"(250 again)\n", 1, HELO + QUIT,
                                                   {"HELO": "250 ok\r\n250 again\r\n", "DOT": "554 no\r\n"}),
}

# After the reply to "." the outcome is settled: QUIT is waited for 30 s. The
# wait is the same code in every build, so it is waited out in the native tree only.
if not (WRAPPED or SANITIZED):
    ROWS["silent_after_quit_delivered_after_30_seconds"] = row(b"", 0, FULL, {"QUIT": "silent"}, timeout=60,
                                                               check=waited(29.5, 45))


class Faults(table(ROWS)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
