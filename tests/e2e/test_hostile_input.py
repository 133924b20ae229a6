"""Input no caller should send, within flat memory: a line of any length in
the body streams through, a header line over 1 MiB refuses the run, and a
run that runs out of memory says so; each leaves no spool file behind. And
where the message ended in a seekable standard input, the next reader starts.

A caller's closed standard descriptors or file size limit (`ulimit -f`)
neither put the program's messages into the message or the dialogue nor
leave the spool file behind.
"""

import re
import unittest

from harness import FROM, WRAPPED, Case, Row, address_space, dialogue, run_case, table, wire

MB = 1 << 20
LIMIT = address_space(32 * MB)  # far below two copies of a 50 MB line
HUGE = b"h" * (50 * MB)


def payload_is(expected):
    def check(t, r):
        t.assertEqual(len(r.sessions), 1)
        t.assertTrue(r.payload == expected, f"payload of {len(r.payload or b'')} bytes differs")
    return check


def pieces(line, size=998):
    return [line[at:at + size] for at in range(0, len(line), size)]


STDIN_REST = b"the next message\n"


def left_at(offset):
    def check(t, r):
        t.assertEqual(r.stdin_position, offset)
    return check


def seekable(message, *argv):
    return Case(argv=["quillrun", *argv, "a@b"], stdin_file="message",
                files={"message": (message + STDIN_REST).decode("latin-1")})


BLOCK_AND_MORE = b"Subject: s\n\n" + b"x" * 100_000 + b"\n"

ROWS = {
    "body_line_of_50_mb_delivered_whole": Row(
        Case(argv=["quillrun", "a@b"], stdin=b"Subject: s\n\n" + HUGE + b"\n", rlimit_as=LIMIT, timeout=120),
        b"", 0, check=payload_is(wire(b"Subject: s", FROM, b"To: <a@b>", b"",
                                      *pieces(HUGE)))),
    "header_line_of_50_mb_refused": Row(
        Case(argv=["quillrun", "a@b"], stdin=b"Subject: s\nX-Huge: " + HUGE + b"\n\nbody\n", rlimit_as=LIMIT,
             timeout=60),
        b"Header line too long\n", 1, commands=[]),
    "header_line_of_one_mib_held": Row(
        Case(argv=["quillrun", "a@b"], stdin=b"X: " + b"v" * (MB - 3) + b"\r\n\nbody\n", timeout=30),
        b"", 0, commands=dialogue(b"a@b")),

    # Standard input is left just after the "." line: the caller reads on there.
    "seekable_input_left_after_the_dot_line": Row(
        seekable(b"Subject: s\n\nbody\n.\r\n"), b"", 0, check=left_at(len(b"Subject: s\n\nbody\n.\r\n"))),
    "seekable_input_left_after_a_dot_line_past_the_first_block": Row(
        seekable(BLOCK_AND_MORE + b".\n"), b"", 0, check=left_at(len(BLOCK_AND_MORE) + 2)),
    "seekable_input_read_to_its_end_with_i": Row(
        seekable(b"Subject: s\n\nbody\n.\n", "-i"), b"", 0,
        check=left_at(len(b"Subject: s\n\nbody\n.\n" + STDIN_REST))),
}

DIALOGUE = dialogue(b"a@b")
SMALL = b"Subject: s\n\nhi\n"
FSIZE = 64 << 10


def plain_run(argv=("a@b",), **kw):
    return Case(argv=["quillrun", *argv], stdin=SMALL, **kw)


# Natively only: under Wine the closed descriptors and the limit would first be Wine's own.
if not WRAPPED:
    ROWS.update({
        "stdin_closed": Row(plain_run(closed_fds=[0]), b"Cannot read message from standard input\n", 1, commands=[]),
        "stdin_and_stdout_closed": Row(plain_run(closed_fds=[0, 1]), b"", 1, commands=[]),
        "stdout_closed_refusal_kept_out_of_the_message": Row(
            plain_run(("a@b", "c@d"), closed_fds=[1], script={"RCPT": ["550 no\r\n", "250 ok\r\n"]}), b"", 0,
            commands=dialogue(b"a@b", b"c@d"),
            payload=wire(b"Subject: s", FROM, b"To: <a@b>,<c@d>", b"", b"hi")),
        "logs_over_the_file_size_limit_skipped": Row(
            plain_run(("-debug", "a@b"), rlimit_fsize=FSIZE,
                      files={"quillrun.log": "x" * 2 * FSIZE, "quillrun.debug": "x" * 2 * FSIZE}),
            b"", 0, commands=DIALOGUE),
        "message_over_the_file_size_limit": Row(
            Case(argv=["quillrun", "a@b"], stdin=b"Subject: s\n\n" + b"x" * 2 * FSIZE + b"\n", rlimit_fsize=FSIZE),
            re.compile(rb"\ACannot write temp file \(/tmp/tidewharf[^)/]+\)\n\Z"), 1, commands=[]),
    })


class HostileInput(table(ROWS, workers=2)):
    pass


class OutOfMemory(unittest.TestCase):
    """An allocation that fails ends the run with its message, status 1 and
    the spool file removed, wherever it fails."""

    @unittest.skipUnless(LIMIT, "no address-space limit under Wine or AddressSanitizer")
    def test_out_of_memory_is_reported_and_cleaned_up(self):
        small = b"Subject: s\n\nhi\n"
        # The least address space in which a plain delivery goes through, to
        # a quarter mebibyte; a 900 KB header line needs more than 1 MiB above it.
        def delivered(limit):
            r = run_case(Case(argv=["quillrun", "a@b"], stdin=small, rlimit_as=limit))
            return r.status == 0
        low, high = 1 * MB, 64 * MB
        self.assertTrue(delivered(high))
        while high - low > MB // 4:
            mid = (low + high) // 2
            low, high = (low, mid) if delivered(mid) else (mid, high)
        r = run_case(Case(argv=["quillrun", "a@b"], stdin=b"Subject: s\nX-Long: " + b"v" * 900_000 + b"\n\nhi\n",
                          rlimit_as=high + MB))
        self.assertEqual((r.stdout, r.status), (b"Out of memory\n", 1))
        self.assertEqual(r.spool_files(), [])
        self.assertEqual(r.sessions, [])


if __name__ == "__main__":
    unittest.main()
