"""The SMTP dialogue end to end: what needs the real binary and a real
socket. The dialogue's answers to each reply, refusal and break-off are rows
of the unit tables over a server in memory (tests/unit/delivery_test.cpp);
here stand the whole dialogue byte for byte, the debug trace, the message
text on the wire after the intake, the port from g_smtp_port, a server that
hangs up or resets while the message is being sent, and an endless reply in
bounded time and memory.

Each row checks the raw client stream the scripted server recorded, byte for
byte, besides stdout, the exit status and the spool file (see harness.check_row).
"""

import re

from harness import DATA, DOT, HOST, QUIT, SENDER, WRAPPED, Case, Row, address_space, rcpt, table, traced, wire

MSG = b"Subject: s\n\nhi\n"


def message(*body, to=b"<a@b>"):
    """MSG (or a message of that header and `body`) as it goes out after DATA."""
    return wire(b"Subject: s", b"From: <" + SENDER + b">", b"To: " + to, b"", *(body or [b"hi"]))


HELO = b"HELO " + HOST + b"\r\n"
MAIL = b"MAIL FROM:<" + SENDER + b">\r\n"
OPENING = HELO + MAIL
FULL = OPENING + rcpt(b"a@b") + DATA + message() + DOT + QUIT
NOBODY = b"Failed to send message to any users\n"


def raw_is(expected):
    def check(t, r):
        t.assertEqual(len(r.sessions), 1, "one connection")
        t.assertEqual(r.server["raw"], expected)
    return check


def both(*checks):
    def check(t, r):
        for c in checks:
            c(t, r)
    return check


def row(stdout, status, raw, script=None, argv=("a@b",), stdin=MSG, check=None, **kw):
    """A delivery of `stdin` to the scripted server that must send exactly `raw`."""
    case = Case(argv=["quillrun", *argv], stdin=stdin, script=script or {}, **kw)
    return Row(case, stdout, status, check=both(raw_is(raw), *([check] if check else [])))


def body_line(line):
    """A message whose one body line is `line`; the wire form is then message(...)."""
    return b"Subject: s\n\n" + line + b"\n"


def debug_is(pattern):
    def check(t, r):
        t.assertRegex(r.logs["quillrun.debug"] or b"", pattern)
    return check


TRACED = {"HELO": "250 hello\r\n", "MAIL": "250 sender ok\r\n", "RCPT": ["250 rcpt ok\r\n"], "DOT": "250 queued\r\n"}
TRACE = re.compile(
    rb"\AUsing temp file \(/tmp/tidewharf[^)/]+\) \n" + re.escape(traced(
        b"Sending message\n"
        b"Open socket to (mailhost.example.org:25)\n"
        b"Socket opened \n"
        b"Waiting for welcome\n"
        b"220 e2e.test ESMTP ready\r\n"
        b"--> HELO mailhost.example.org\r\n" b"250 hello\r\n"
        b"--> MAIL FROM:<tester@mailhost.example.org>\r\n" b"250 sender ok\r\n"
        b"--> RCPT TO:<a@b>\r\n" b"250 rcpt ok\r\n"
        b"--> DATA\r\n" b"354 go ahead\r\n"
        b"Sending data\n"
        b"Sending terminating dot\n"
        b"--> .\r\n" b"250 queued\r\n"
        b"--> QUIT\r\n" b"221 bye\r\n")) + rb"\Z")


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


ENDLESS_GREETING = {"repeat": "220-" + "x" * 70 + "\r\n", "bytes": 100_000_000, "then": "220 at last\r\n"}


def ini_port(value):
    return f"g_smtp_port {value}\n"


ROWS = {
    # The whole dialogue, byte for byte.
    "delivered": row(b"", 0, FULL),
    "commands_follow_sender_and_recipients": row(
        b"", 0, b"HELO x.org\r\nMAIL FROM:<me@x.org>\r\n" + rcpt(b"a@b", b"c@d") + DATA
        + wire(b"Subject: s", b"From: <me@x.org>", b"To: <a@b>,<c@d>", b"", b"hi") + DOT + QUIT,
        argv=("-fme@x.org", "a@b", "c@d")),
    "debug_trace_of_a_delivery": row(b"", 0, FULL, TRACED, argv=("-debug", "a@b"), check=debug_is(TRACE)),

    # A refusal ends the run with its message and status 1.
    "dot_refused_then_quit": row(b"-ERR Invalid smtp response (552-too big)\n", 1, FULL,
                                 {"DOT": "552-too big\r\n552 really\r\n"}),
    "header_without_addresses_no_rcpt": row(NOBODY, 1, OPENING, argv=("-t",),
                                            stdin=b"To: \nCc:  ,\nSubject: s\n\nhi\n"),

    # The message on the wire: dot-stuffing and lines of at most 998 characters.
    "dot_lines_stuffed": row(b"", 0, OPENING + rcpt(b"a@b") + DATA + message(b"..x", b"...", b" .", b"end") + DOT
                             + QUIT, stdin=b"Subject: s\n\n.x\n..\n .\nend\n"),
    "lone_dot_stuffed_with_i": row(b"", 0, OPENING + rcpt(b"a@b") + DATA + message(b"a", b"..", b"b") + DOT + QUIT,
                                   argv=("-i", "a@b"), stdin=b"Subject: s\n\na\n.\nb\n"),
    "line_of_1000_in_two": row(b"", 0, OPENING + rcpt(b"a@b") + DATA + message(b"y" * 998, b"yy") + DOT + QUIT,
                               stdin=body_line(b"y" * 1000)),
    "line_of_998_whole": row(b"", 0, OPENING + rcpt(b"a@b") + DATA + message(b"y" * 998) + DOT + QUIT,
                             stdin=body_line(b"y" * 998)),
    "line_of_1996_in_two": row(b"", 0, OPENING + rcpt(b"a@b") + DATA + message(b"y" * 998, b"y" * 998) + DOT + QUIT,
                               stdin=body_line(b"y" * 1996)),
    "piece_starting_with_dot_stuffed": row(b"", 0, OPENING + rcpt(b"a@b") + DATA + message(b"y" * 998, b"..z") + DOT
                                           + QUIT, stdin=body_line(b"y" * 998 + b".z")),

    # The port from g_smtp_port.
    "port_number": row(b"", 0, FULL, ini=ini_port("2525"), port=2525),
    "port_after_host": row(b"", 0, FULL, ini=ini_port("relay.example.org:2525"), port=2525),
    "port_word_is_25": row(b"", 0, FULL, ini=ini_port("smtp")),
    "port_zero_is_25": row(b"", 0, FULL, ini=ini_port("0")),
    "port_two_colons_is_25": row(b"", 0, FULL, ini=ini_port("a:b:26")),
    "port_low_16_bits_used_number_shown": row(
        b"", 0, FULL, ini=ini_port("65561"), argv=("-debug", "a@b"),
        check=debug_is(re.compile(rb"\nOpen socket to \(mailhost\.example\.org:65561\)\nSocket opened \n"))),
    "port_negative_low_16_bits": row(b"", 0, FULL, ini=ini_port("-63011"), port=2525),
    "port_beyond_16_bits_in_message": Row(
        Case(argv=["quillrun", "-host", "127.0.0.1", "a@b"], stdin=MSG, server=None, ini=ini_port("65561")),
        b"Could not connect to SMTP server 127.0.0.1 65561 () Connection Refused\n\n", 1, commands=[]),

    # A server that goes away in the middle of the message, at the TCP level.
    "closes_in_the_message": cut_off_in_body("close"),
    "resets_in_the_message": cut_off_in_body("reset"),
    "endless_continuation_greeting_in_linear_time_and_flat_memory": row(
        b"", 0, FULL, {"greeting": ENDLESS_GREETING}, timeout=60, rlimit_as=address_space(16 << 20),
        check=cpu_within(5)),
}


class Dialogue(table(ROWS)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
