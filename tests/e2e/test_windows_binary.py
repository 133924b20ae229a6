"""Binary standard input and text-mode files, end to end.

On Windows the runtime opens standard input in text mode, where a 0x1A byte
(Ctrl-Z) ends the input and CR LF becomes LF before the program sees it.
quillrun switches standard input to binary mode, so a message holding 0x1A
arrives whole and its line ends follow the program's own rules (every CR is
removed, every line goes out with CR LF). The same message must come out
the same on Linux, where there is no text mode at all.

The invocation and debug logs are text files: CR LF on disk on Windows, LF
on Linux (sandbox.as_printed turns them back into what the program wrote for
the other tests; here they are read as they lie on disk, Result.raw_logs).
"""

import unittest

import harness
from harness import FROM, WRAPPED, Case, dialogue, wire


# A message with CR LF line ends and 0x1A at the start of a line, inside a
# line, at the end of a line, alone on a line, and as the last byte.
MESSAGE = (b"Subject: ctrl-z\r\n"
           b"\r\n"
           b"\x1a at the start\r\n"
           b"before\x1aafter\r\n"
           b"at the end\x1a\r\n"
           b"\x1a\r\n"
           b"last line\r\n"
           b"\x1a")

# The lines of the spool file as the server gets them after DATA: the CRs
# removed, From and To added after the header lines of the message, every
# line sent with CR LF; the 0x1A bytes stay where they were.
PAYLOAD = wire(
    b"Subject: ctrl-z",
    FROM,
    b"To: <a@b>",
    b"",
    b"\x1a at the start",
    b"before\x1aafter",
    b"at the end\x1a",
    b"\x1a",
    b"last line",
    b"\x1a",
)


class BinaryStandardInput(unittest.TestCase):
    def check_delivered(self, r, payload=PAYLOAD):
        self.assertEqual((r.status, r.stdout), (0, b""), r.stderr)
        self.assertEqual(r.commands, dialogue(b"a@b"))
        self.assertEqual(r.payload, payload)
        self.assertEqual(r.spool_files(), [], "spool file left behind")

    def test_ctrl_z_and_crlf_arrive_whole(self):
        r = harness.run_case(Case(argv=["quillrun", "a@b"], stdin=MESSAGE))
        self.check_delivered(r)

    def test_ctrl_z_and_crlf_arrive_whole_with_i(self):
        # "-i": only the end of input ends the message, not a line ".".
        message = MESSAGE.replace(b"last line\r\n", b"last line\r\n.\r\n")
        payload = PAYLOAD.replace(b"last line\r\n", b"last line\r\n..\r\n")
        r = harness.run_case(Case(argv=["quillrun", "-i", "a@b"], stdin=message))
        self.check_delivered(r, payload)

    def test_message_of_ctrl_z_bytes_only(self):
        # A body of 0x1A bytes and nothing else: on a text-mode standard input
        # the message would be empty.
        r = harness.run_case(Case(argv=["quillrun", "a@b"], stdin=b"\r\n\x1a\x1a\x1a\r\n"))
        self.check_delivered(r, wire(FROM, b"To: <a@b>", b"", b"\x1a\x1a\x1a"))

    def test_logs_are_text_files(self):
        r = harness.run_case(Case(argv=["quillrun", "-debug", "a@b"], stdin=MESSAGE))
        self.check_delivered(r)
        log, debug = r.raw_logs["quillrun.log"], r.raw_logs["quillrun.debug"]
        self.assertIsNotNone(log)
        self.assertIsNotNone(debug)
        self.assertTrue(log.endswith(b" tester quillrun -debug a@b \r\n" if WRAPPED
                                     else b" tester quillrun -debug a@b \n"), log)
        if WRAPPED:
            # Every line ends with one CR LF on disk, the server's replies,
            # logged with their own CR LF, too: never CR CR LF.
            self.assertNotRegex(log, rb"[^\r]\n")
            self.assertNotRegex(debug, rb"[^\r]\n")
            self.assertNotIn(b"\r\r", debug)
            self.assertIn(b"Sending message\r\n", debug)
            self.assertIn(b"220 e2e.test ESMTP ready\r\n", debug)
        else:
            self.assertNotIn(b"\r\n", log)
            self.assertIn(b"Sending message\n", debug)
            self.assertIn(b"220 e2e.test ESMTP ready\r\n", debug)


if __name__ == "__main__":
    unittest.main()
