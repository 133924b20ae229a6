"""-bs: Python's smtplib speaks SMTP to quillrun over its standard input and
output, and quillrun passes each step on to the scripted server. Each row
checks the replies the client got, the bytes the server got, the exit status,
and that nothing reached standard error (the mail libraries that start
"sendmail -bs" fail on any text there). In the Windows tree this runs
against quillrun.exe under Wine.
"""

import re

from harness import CLIENT, DATA, GREETING, HOST, QUIT, SENDER, TEXT, Case, Row, rcpt, relayed, table

# The HELO quillrun sends the server names the client's sender domain.
OPENING = b"HELO example.net\r\nMAIL FROM:<" + CLIENT + b">\r\n"
OPENING_STEPS = (("helo", "[127.0.0.1]"), ("mail", CLIENT.decode()), ("rcpt", "a@b"))


OK = [250, b"ok"]  # the scripted server's reply to most commands
BEGUN = [GREETING, [250, HOST], OK, OK]  # replies to session()'s opening steps


def row(replies, raw, status=0, steps=(), script=None, opened=True, **kw):
    """A -bs session of `steps`, after OPENING_STEPS when `opened`: the client
    must get `replies` (the greeting first; a text may be a pattern) and the
    server exactly `raw`."""
    steps = (OPENING_STEPS if opened else ()) + tuple(steps)
    case = Case(argv=["quillrun", "-bs"], session=[list(s) for s in steps], script=script or {}, **kw)

    def check(t, r):
        t.assertEqual(r.stderr, b"", "nothing on standard error")
        t.assertEqual(len(r.replies), len(replies), r.replies)
        for (code, text), (want_code, want) in zip(r.replies, replies):
            t.assertEqual(code, want_code, text)
            (t.assertRegex if isinstance(want, re.Pattern) else t.assertEqual)(text, want)
        got = r.server["raw"] if r.server else b""
        t.assertEqual(got, raw)
    return Row(case, b"", status, check=check)


ROWS = {
    # Each step answered with the server's own reply; Bcc left out, the
    # missing To line made "undisclosed-recipients", a leading dot stuffed again.
    "one_message_then_quit": row(
        BEGUN + [OK, [221, b"2.0.0 Bye"]],
        OPENING + rcpt(b"a@b") + DATA + relayed(b"..hidden", b"hi") + QUIT,
        steps=[("data", "Subject: s\r\nBcc: z@z\r\n\r\n.hidden\r\nhi\r\n"), ("quit",)]),
    "ehlo_names_8bitmime_only": row(
        [GREETING, [250, HOST + b"\n8BITMIME"], [221, b"2.0.0 Bye"]], b"",
        steps=[("ehlo", "[127.0.0.1]"), ("quit",)], opened=False),

    # The server's refusals reach the client with its code and reason.
    "refused_recipient_then_delivered_to_the_other": row(
        BEGUN + [[550, b"5.1.1 no such user"], OK, [221, b"2.0.0 Bye"]],
        OPENING + rcpt(b"a@b", b"c@d") + DATA + relayed() + QUIT,
        steps=[("rcpt", "c@d"), ("data", TEXT), ("quit",)],
        script={"RCPT": ["250 ok\r\n", "550 5.1.1 no such user\r\n"]}),
    "no_recipient_accepted_no_data_asked": row(
        [GREETING, [250, HOST], OK, [550, b"no"], [554, b"5.5.1 No valid recipients"], [221, b"2.0.0 Bye"]],
        OPENING + rcpt(b"a@b") + QUIT, status=1,
        steps=[("data", TEXT), ("quit",)], script={"RCPT": ["550 no\r\n"]}),
    "refused_data": row(
        BEGUN + [[451, b"4.3.0 busy"], [221, b"2.0.0 Bye"]],
        OPENING + rcpt(b"a@b") + DATA + QUIT, status=1,
        steps=[("data", TEXT), ("quit",)], script={"DATA": "451 4.3.0 busy\r\n"}),
    # (The scripted server refuses every message alike.)
    "refused_message_then_rset_noop_and_the_next_one": row(
        BEGUN + [[554, b"5.7.1 spam"], OK, [250, b"2.0.0 OK"], OK, OK, [554, b"5.7.1 spam"], [221, b"2.0.0 Bye"]],
        OPENING + rcpt(b"a@b") + DATA + relayed() + b"RSET\r\n" + b"MAIL FROM:<" + CLIENT + b">\r\n"
        + rcpt(b"c@d") + DATA + relayed() + QUIT, status=1,
        steps=[("data", TEXT), ("rset",), ("noop",), ("mail", CLIENT.decode()), ("rcpt", "c@d"),
               ("data", TEXT), ("quit",)],
        script={"DOT": "554 5.7.1 spam\r\n"}),
    # quillrun's own failures are unit rows of the relay (relay_test.cpp);
    # here the one that needs a real refused connection.
    "server_down_is_quillruns_own_451": row(
        [GREETING, [250, HOST], [451, b"4.4.1 Could not connect to SMTP server " + HOST + b" 25 () Connection Refused"], [221, b"2.0.0 Bye"]], b"", status=1,
        steps=[("helo", "[127.0.0.1]"), ("mail", CLIENT.decode()), ("quit",)], opened=False, server=None),

    # Two messages, the second right after "."; the null sender keeps <>.
    "two_messages_in_one_session": row(
        BEGUN + [OK, OK, OK, OK, [221, b"2.0.0 Bye"]],
        OPENING + rcpt(b"a@b") + DATA + relayed() + b"MAIL FROM:<>\r\n" + rcpt(b"e@f") + DATA
        + relayed(sender=SENDER) + QUIT,
        steps=[("data", TEXT), ("mail", "<>"), ("rcpt", "e@f"), ("data", TEXT), ("quit",)]),

    # Commands out of order, over-long or with a NUL byte never reach the
    # server. (A sender given and no message sent: status 1, nothing went.)
    "out_of_order": row(
        [GREETING, [503, b"5.5.1 Need MAIL before RCPT"], [503, b"5.5.1 Need MAIL before DATA"],
         [250, HOST], OK, [503, b"5.5.1 Sender already specified"], [503, b"5.5.1 Need RCPT before DATA"],
         [502, b"5.5.1 Command not recognized"], [221, b"2.0.0 Bye"]],
        OPENING + QUIT, status=1,
        steps=[("rcpt", "a@b"), ("docmd", "DATA"), ("helo", "[127.0.0.1]"), ("mail", CLIENT.decode()),
               ("mail", CLIENT.decode()), ("docmd", "DATA"), ("docmd", "VRFY", "a@b"), ("quit",)], opened=False),
    "long_line_and_nul_refused_whole": row(
        BEGUN + [[500, b"5.5.2 Line too long"], [500, b"5.5.2 Command holds a NUL byte"], [250, b"2.0.0 OK"],
                 [221, b"2.0.0 Bye"]],
        OPENING + rcpt(b"a@b") + QUIT, status=1,
        # The over-long line's tail reads as a command if it is not dropped with the line.
        steps=[("docmd", "NOOP " + "x" * 1000 + " RCPT TO:<leak@b>"), ("docmd", "NOOP \0"), ("noop",),
               ("quit",)]),

    # The end of input ends the session: a finished message stands, a cut one
    # never reaches the server's ".".
    "end_of_input_without_quit": row(
        BEGUN + [OK], OPENING + rcpt(b"a@b") + DATA + relayed() + QUIT,
        steps=[("data", TEXT), ("close",)]),
    "end_of_input_in_the_message": row(
        BEGUN + [[354, b"End data with <CR><LF>.<CR><LF>"]], OPENING + rcpt(b"a@b") + QUIT, status=1,
        steps=[("docmd", "DATA"), ("send", "Subject: s\r\n\r\ncut here"), ("close",)]),
}


class SmtpSession(table(ROWS)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
