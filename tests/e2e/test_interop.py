"""Delivery to a real receiving SMTP server (aiosmtpd).

The server undoes the dot-stuffing and keeps the message as received, CR LF
line ends included, so what it stores must be the rewritten message byte
for byte.
"""

from harness import FROM, HOST, SENDER, Case, Row, table, wire


def received(content, rcpts, mail_from=SENDER, helo=HOST):
    def check(t, r):
        t.assertEqual(len(r.sessions), 1, "one message received")
        t.assertEqual(r.server["helo"], helo)
        t.assertEqual(r.server["mail_from"], mail_from)
        t.assertEqual(r.server["rcpt_tos"], rcpts)
        t.assertEqual(r.server["content"], content)
    return check


def row(argv, stdin, content, rcpts, **kw):
    """A delivery that must succeed silently and store exactly `content`."""
    return Row(Case(argv=["quillrun", *argv], stdin=stdin, server="aiosmtpd"), b"", 0,
               check=received(content, rcpts, **kw))


LINES = b"".join(b"line %06d of a longer message\n" % i for i in range(20_000))

ROWS = {
    "plain_message": row(["a@x.org"], b"Subject: hi\n\nline one\n\nline three\n",
                         wire(b"Subject: hi", FROM, b"To: <a@x.org>", b"", b"line one", b"", b"line three"),
                         [b"a@x.org"]),
    "sender_and_recipients_from_options": row(
        ["-fme@y.org", "a@x.org", "b@x.org"], b"Subject: hi\n\nbody\n",
        wire(b"Subject: hi", b"From: <me@y.org>", b"To: <a@x.org>,<b@x.org>", b"", b"body"),
        [b"a@x.org", b"b@x.org"], mail_from=b"me@y.org", helo=b"y.org"),
    "t_to_cc_bcc": row(
        ["-t"], b"To: Ann <a@x.org>, b@x.org\nCc: \"C, D\" <c@x.org>\nBcc: d@x.org,\n e@x.org\nSubject: s\n\nbody\n",
        wire(b"To: Ann <a@x.org>, b@x.org", b"Cc: \"C, D\" <c@x.org>", b"Subject: s", FROM, b"", b"body"),
        [b"a@x.org", b"b@x.org", b"c@x.org", b"d@x.org", b"e@x.org"]),
    "dot_lines_come_back_unstuffed": row(
        ["-i", "a@x.org"], b"Subject: s\n\n.\n..\n.x\n .\nend\n",
        wire(b"Subject: s", FROM, b"To: <a@x.org>", b"", b".", b"..", b".x", b" .", b"end"), [b"a@x.org"]),
    "dot_line_ends_message": row(
        ["a@x.org"], b"Subject: s\n\nkept\n.\nnot sent\n",
        wire(b"Subject: s", FROM, b"To: <a@x.org>", b"", b"kept"), [b"a@x.org"]),
    "long_lines_split_at_998": row(
        ["a@x.org"], b"Subject: s\n\n" + b"x" * 998 + b"\n" + b"y" * 2000 + b"\n" + b"z" * 998 + b".dot\n",
        wire(b"Subject: s", FROM, b"To: <a@x.org>", b"", b"x" * 998, b"y" * 998, b"y" * 998, b"yyyy",
             b"z" * 998, b".dot"), [b"a@x.org"]),
    "crlf_input": row(
        ["a@x.org"], b"Subject: s\r\nTo: a@x.org\r\n\r\nline one\r\n.x\r\nlast\r\n",
        wire(b"Subject: s", b"To: a@x.org", FROM, b"", b"line one", b".x", b"last"), [b"a@x.org"]),
    "eight_bit_bytes_unchanged": row(
        ["a@x.org"], b"Subject: caf\xe9\n\n\xe0 bient\xf4t \x80\xff\n",
        wire(b"Subject: caf\xe9", FROM, b"To: <a@x.org>", b"", b"\xe0 bient\xf4t \x80\xff"), [b"a@x.org"]),
    "empty_message_gets_marker": row(
        ["a@x.org"], b"", wire(FROM, b"To: <a@x.org>", b"", b"[message did not contain a body]"), [b"a@x.org"]),
    "large_message_intact": row(
        ["a@x.org"], b"Subject: big\n\n" + LINES,
        wire(b"Subject: big", FROM, b"To: <a@x.org>", b"") + LINES.replace(b"\n", b"\r\n"), [b"a@x.org"]),
}


class Interop(table(ROWS)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
