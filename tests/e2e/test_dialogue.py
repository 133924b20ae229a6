"""The SMTP dialogue end to end: refusals, reply codes, replies in pieces,
the bytes on the wire, the port and the debug trace (a server that breaks
off or misbehaves: test_faults.py).

Each row checks the raw client stream the scripted server recorded, byte for
byte, besides stdout, the exit status and the spool file (see harness.check_row).
"""

import re

from harness import HOST, SENDER, Case, Row, table, wire

MSG = b"Subject: s\n\nhi\n"


def rcpt(*addrs):
    return b"".join(b"RCPT TO:<" + a + b">\r\n" for a in addrs)


def message(*body, to=b"<a@b>"):
    """MSG (or a message of that header and `body`) as it goes out after DATA."""
    return wire(b"Subject: s", b"From: <" + SENDER + b">", b"To: " + to, b"", *(body or [b"hi"]))


HELO = b"HELO " + HOST + b"\r\n"
MAIL = b"MAIL FROM:<" + SENDER + b">\r\n"
OPENING = HELO + MAIL
DATA = b"DATA\r\n"
DOT = b".\r\n"
QUIT = b"QUIT\r\n"
FULL = OPENING + rcpt(b"a@b") + DATA + message() + DOT + QUIT
NO_REPLY = b"-ERR Unable to read response from server\n"
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
    rb"\AUsing temp file \(/tmp/tidewharf[^)/]+\) \n" + re.escape(
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
        b"--> QUIT\r\n" b"221 bye\r\n") + rb"\Z")


# After a DATA reply that is not 3xx the server reads the message as commands:
# these lines get no answer, so that "." and QUIT each get exactly one.
IN_COMMAND_MODE = {verb: "" for verb in ("SUBJECT", "FROM", "TO", "", "HI")}


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

    # Every exit of the dialogue.
    "no_greeting": row(b"-ERR Unable to read welcome from SMTP server\n", 1, b"", {"greeting": "close"}),
    "helo_refused": row(b"-ERR Invalid smtp response (501 bad helo)\n", 1, HELO, {"HELO": "501 bad helo\r\n"}),
    "helo_refused_shows_first_line": row(b"-ERR Invalid smtp response (501-first)\n", 1, HELO,
                                         {"HELO": "501-first\r\n501 second\r\n"}),
    "mail_refused": row(b"-ERR Invalid smtp response (553 no such sender)\n", 1, OPENING,
                        {"MAIL": "553 no such sender\r\n"}),
    "only_recipient_refused": row(b"Recipient refused <a@b> (550 no such user)\n" + NOBODY, 1,
                                  OPENING + rcpt(b"a@b"), {"RCPT": ["550 no such user\r\n"]}),
    "every_recipient_refused_reported": row(
        b"Recipient refused <a@b> (550 unknown)\nRecipient refused <c@d> (452 full)\n" + NOBODY, 1,
        OPENING + rcpt(b"a@b", b"c@d"), {"RCPT": ["550 unknown\r\n", "452 full\r\n"]}, argv=("a@b", "c@d")),
    "header_without_addresses_no_rcpt": row(NOBODY, 1, OPENING, argv=("-t",),
                                            stdin=b"To: \nCc:  ,\nSubject: s\n\nhi\n"),
    "data_refused_sends_no_message": row(b"-ERR Invalid smtp response (554 no valid recipients)\n", 1,
                                         OPENING + rcpt(b"a@b") + DATA, {"DATA": "554 no valid recipients\r\n"}),
    "dot_refused_then_quit": row(b"-ERR Invalid smtp response (552-too big)\n", 1, FULL,
                                 {"DOT": "552-too big\r\n552 really\r\n"}),

    # Reply codes: above 400 refuses HELO, MAIL FROM, DATA and "."; only 250 accepts a recipient.
    "greeting_554_passes": row(b"", 0, FULL, {"greeting": "554 go away\r\n"}),
    "helo_400_passes": row(b"", 0, FULL, {"HELO": "400 hmm\r\n"}),
    "helo_401_refused": row(b"-ERR Invalid smtp response (401 hmm)\n", 1, HELO, {"HELO": "401 hmm\r\n"}),
    "code_after_blanks_counts": row(b"-ERR Invalid smtp response (  501 odd)\n", 1, HELO, {"HELO": "  501 odd\r\n"}),
    "text_only_replies_pass": row(b"", 0, FULL, {"HELO": "hello there\r\n", "MAIL": "fine\r\n"}),
    "rcpt_251_not_accepted": row(b"Recipient refused <a@b> (251 will forward)\n" + NOBODY, 1, OPENING + rcpt(b"a@b"),
                                 {"RCPT": ["251 will forward\r\n"]}),
    "rcpt_550_then_250_delivered": row(
        b"Recipient refused <a@b> (550 no)\n", 0,
        OPENING + rcpt(b"a@b", b"c@d") + DATA + message(to=b"<a@b>,<c@d>") + DOT + QUIT,
        {"RCPT": ["550 no\r\n", "250 ok\r\n"]}, argv=("a@b", "c@d")),
    "data_400_message_follows": row(b"", 0, FULL, {"DATA": "400 odd\r\n", **IN_COMMAND_MODE}),
    "dot_400_passes": row(b"", 0, FULL, {"DOT": "400 odd\r\n"}),

    # Replies in pieces and over several lines keep the dialogue in step.
    "greeting_split_mid_line": row(b"Recipient refused <a@b> (550 no)\n" + NOBODY, 1, OPENING + rcpt(b"a@b"),
                                   {"greeting": ["220 e2e", ".test ready\r\n"], "RCPT": ["550 no\r\n"]}),
    "greeting_lines_in_two_pieces": row(b"-ERR Invalid smtp response (550 sender refused)\n", 1, OPENING,
                                        {"greeting": ["220-e2e.test\r\n", "220 ready\r\n"],
                                         "MAIL": "550 sender refused\r\n"}),
    "multiline_replies_in_pieces": row(
        b"Recipient refused <a@b> (550-no)\n", 0,
        OPENING + rcpt(b"a@b", b"c@d") + DATA + message(to=b"<a@b>,<c@d>") + DOT + QUIT,
        {"HELO": ["250-a\r\n", "250 b\r\n"], "MAIL": ["250-c\r\n", "250 d\r\n"],
         "RCPT": [["550-no\r\n", "550 really\r\n"], "250-ok\r\n250 fine\r\n"],
         "DATA": ["354-x\r\n", "354 y\r\n"], "DOT": ["250-q\r\n", "250 z\r\n"]}, argv=("a@b", "c@d")),

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
}


class Dialogue(table(ROWS)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
