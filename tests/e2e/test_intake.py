"""Message intake end to end: the spool file as the server receives it after DATA."""

import re
import stat

from harness import FROM, WRAPPED, Case, Row, dialogue, table, wire

TO_A = b"To: <a@b>"
MARK = b"[message did not contain a body]"


def sent(argv, stdin, rcpts, *lines, stdout=b"", **kw):
    """A row delivered to `rcpts` whose DATA payload is `lines`."""
    check = kw.pop("check", None)
    case = Case(argv=["quillrun", *argv], stdin=stdin, **kw)
    return Row(case, stdout, 0, commands=dialogue(*rcpts), payload=wire(*lines), check=check)


def failed(argv, stdin, stdout, **kw):
    """A row that ends with status 1 before any connection."""
    check = kw.pop("check", None)
    case = Case(argv=["quillrun", *argv], stdin=stdin, **kw)
    return Row(case, stdout, 1, commands=[], check=check)


def continuations_logged(t, r):
    debug = r.logs["quillrun.debug"] or b""
    t.assertIn(b"Found continuation of header ( b@x)\n", debug)
    t.assertIn(b"Found continuation of header (\td@x)\n", debug)
    t.assertNotIn(b"e@x)", debug)


# On Windows the spool file's owner-only access list is the file's own; Wine
# keeps no access list and maps it to Unix permission bits, giving the Unix
# group the owner's access (0750 with umask 022). The access list itself is
# checked by the unit tests on Windows.
WINE_SPOOL_MODE = ("Wine maps the owner-only access list to Unix mode bits for owner and group "
                   "(0750 with umask 022); Windows keeps the access list itself")
SPOOL_NAME = re.compile(r"tidewharf[A-Za-z0-9]{6}\Z")
SLOW_GREETING = {"greeting": ["", "220 e2e.test ESMTP ready\r\n"], "chunk_delay": 1.0}


def private_spool_in(d):
    def check(t, r):
        spools = {n: v for n, v in r.seen.items() if "tidewharf" in n}
        t.assertEqual(len(spools), 1, r.seen)
        (name, (kind, mode, _)), = spools.items()
        t.assertRegex(name, SPOOL_NAME)
        t.assertEqual({n for n in r.after if "tidewharf" in n}, set(), "spool file left behind")
        if r.logs["quillrun.debug"] is not None:
            t.assertIn(f"Using temp file ({d}/{name}) \n".encode(), r.logs["quillrun.debug"])
        if WRAPPED:
            t.assertEqual(kind, stat.S_IFREG, f"{d}/{name}")
            t.skipTest(WINE_SPOOL_MODE)
        t.assertEqual((kind, mode), (stat.S_IFREG, 0o600), f"{d}/{name}")
    return check


PLANTED = {"/run/spool/tidewharf.1": "/run/spool/target", "/run/spool/tidewharfAAAAAA": "/run/spool/victim"}


def planted_links_untouched(t, r):
    t.assertEqual({n: (kind, extra) for n, (kind, _, extra) in r.after.items()},
                  {"target": (stat.S_IFREG, "keep\n"), "tidewharf.1": (stat.S_IFLNK, "/run/spool/target"),
                   "tidewharfAAAAAA": (stat.S_IFLNK, "/run/spool/victim")})
    made = [n for n, v in r.seen.items() if v[0] == stat.S_IFREG and n != "target"]
    t.assertEqual(len(made), 1, r.seen)
    t.assertRegex(made[0], SPOOL_NAME)


def fallback_names_pid(t, r):
    if not WRAPPED:
        t.assertEqual(r.stdout, f"Cannot create temp file (/tmp/missing/dir/tidewharf.{r.pid})\n".encode())


def nothing_left_in(d):
    return lambda t, r: t.assertEqual({n for n in r.after if "tidewharf" in n}, set(), f"spool left in {d}")


DIGITS = b"0123456789" * 500                      # a body line of 5000 characters
LONG_WORDS = b"Subject: " + b"a" * 900 + b" " + b"b" * 600
IDS = [b"i%02d" % n + b"d" * 17 for n in range(60)]   # 20 characters each, no blank
HEAD_IDS = b"X-Ids:" + b",".join(IDS[:47]) + b","  # 993 characters: the last comma within 998
NO_BREAK = b"X-Long:" + b"c" * 2500
RCPTS = [b"r%02d" % n + b"x" * 40 + b"@example.org" for n in range(20)]
L497 = b"l" * 491 + b"@x.org"   # envelope form of 499 characters
L498 = b"m" * 492 + b"@x.org"   # envelope form of 500 characters
W499 = b"X-Long: " + b"w" * 491  # a header line of 499 characters

ROWS = {
    # Where the header ends and what is added there.
    "empty_input": sent(["a@b"], b"", [b"a@b"], FROM, TO_A, b"", MARK),
    "first_line_empty_starts_body": sent(["a@b"], b"\nTo: x@y\nbody\n", [b"a@b"], FROM, TO_A, b"", b"To: x@y",
                                         b"body"),
    "headerless_first_line": sent(["a@b"], b"hello there\nsecond: x\n", [b"a@b"], FROM, TO_A, b"", b"hello there",
                                  b"second: x"),
    "line_with_colon_stays_header": sent(["a@b"], b"Subject: s\nnote: kept\nplain\n", [b"a@b"], b"Subject: s",
                                         b"note: kept", FROM, TO_A, b"", b"plain"),
    "header_to_end_of_input": sent(["a@b"], b"Subject: s\nX-A: b", [b"a@b"], b"Subject: s", b"X-A: b", FROM, TO_A,
                                   b"", MARK),
    "ordinary_continuations_kept": sent(["a@b"], b"Subject: s\n  more\n\tmore\nbody\n", [b"a@b"], b"Subject: s",
                                        b"  more", b"\tmore", FROM, TO_A, b"", b"body"),
    # The "." line, and dots on the wire.
    "dot_in_header_ends_message": sent(["a@b"], b"Subject: s\n.\nafter\n", [b"a@b"], b"Subject: s", FROM, TO_A, b"",
                                       MARK),
    "dot_in_header_with_i_starts_body": sent(["-i", "a@b"], b"Subject: s\n.\nafter\n", [b"a@b"], b"Subject: s",
                                             FROM, TO_A, b"", b"..", b"after"),
    "dot_first_in_body_gives_marker": sent(["a@b"], b"Subject: s\n\n.\nafter\n", [b"a@b"], b"Subject: s", FROM,
                                           TO_A, b"", MARK),
    "dot_with_crlf_ends_message": sent(["a@b"], b"S: s\r\n\r\nline\r\n.\r\nafter\r\n", [b"a@b"], b"S: s", FROM, TO_A,
                                       b"", b"line"),
    "i_keeps_dot_with_crlf": sent(["-i", "a@b"], b"S: s\r\n\r\nline\r\n.\r\nafter\r\n", [b"a@b"], b"S: s", FROM,
                                  TO_A, b"", b"line", b"..", b"after"),
    "other_dot_lines_ordinary": sent(["a@b"], b"S: s\n\n..\n. x\n.x\nend\n", [b"a@b"], b"S: s", FROM, TO_A, b"",
                                     b"...", b".. x", b"..x", b"end"),
    # Carriage returns go, the text around them stays.
    "cr_removed_text_kept": sent(["a@b"], b"Subject: a\rb\r\n\r\nabc\rdef\r\nlast\r", [b"a@b"], b"Subject: ab",
                                 FROM, TO_A, b"", b"abcdef", b"last"),
    "cr_removed_before_extraction": sent(["-t"], b"To: t@x\r\nCc: c@\rx\r\n\r\nhi\r\n", [b"t@x", b"c@x"],
                                         b"To: t@x", b"Cc: c@x", FROM, b"", b"hi"),
    # Field names: any letter case, blank after the colon optional, longer names ordinary.
    "from_and_to_any_case_no_blank": sent(["a@b"], b"fROM:me@x.org\nTO:them@x.org\n\nhi\n", [b"a@b"],
                                          b"fROM:me@x.org", b"TO:them@x.org", b"", b"hi"),
    "longer_field_names_ordinary": sent(["-t", "arg@x"], b"Resent-To: r@x\nTo-Do: d@x\nCcx: c@x\nBccx: b@x\n\nhi\n",
                                        [b"arg@x"], b"Resent-To: r@x", b"To-Do: d@x", b"Ccx: c@x", b"Bccx: b@x",
                                        FROM, b"To: <arg@x>", b"", b"hi"),
    "no_to_anywhere_gives_empty_to": sent(["-t"], b"Cc: c@x\n\nhi\n", [b"c@x"], b"Cc: c@x", FROM, b"To: ", b"",
                                          b"hi"),
    # Bcc lines leave the header, with their continuations.
    "bcc_removed_not_extracted": sent(["a@b"], b"Bcc: h@x,\n\tc@x\n  d@x\nSubject: s\n\nhi\n", [b"a@b"],
                                      b"Subject: s", FROM, TO_A, b"", b"hi"),
    "bcc_removed_and_extracted_with_t": sent(["-t"], b"To: t@x\nBcc: h@x,\n\tc@x\nSubject: s\n\nhi\n",
                                             [b"t@x", b"h@x", b"c@x"], b"To: t@x", b"Subject: s", FROM, b"", b"hi"),
    "bcc_any_case_no_blank": sent(["-t"], b"BCC: h@x\nbcc:i@x\nbCc:\tj@x\nTo: t@x\n\nhi\n",
                                  [b"h@x", b"i@x", b"j@x", b"t@x"], b"To: t@x", FROM, b"", b"hi"),
    "bcc_in_body_kept": sent(["-t"], b"To: t@x\n\nBcc: b@x\nhi\n", [b"t@x"], b"To: t@x", FROM, b"", b"Bcc: b@x",
                             b"hi"),
    # Recipients from the header.
    "to_cc_continuations_parsed": sent(["-t", "-debug"], b"To: a@x,\n b@x\nCc: c@x,\n\td@x\nSubject: s\n e@x\n\nhi\n",
                                       [b"a@x", b"b@x", b"c@x", b"d@x"], b"To: a@x,", b" b@x", b"Cc: c@x,", b"\td@x",
                                       b"Subject: s", b" e@x", FROM, b"", b"hi", check=continuations_logged),
    "continuations_not_parsed_without_t": sent(["a@b"], b"To: x@y,\n z@w\n\nhi\n", [b"a@b"], b"To: x@y,", b" z@w",
                                               FROM, b"", b"hi"),
    "header_recipients_follow_arguments": sent(["-t", "z@a", "y@a"], b"Cc: c1@x, c2@x\nTo: t@x\nBcc: b@x\n\nhi\n",
                                               [b"z@a", b"y@a", b"c1@x", b"c2@x", b"t@x", b"b@x"],
                                               b"Cc: c1@x, c2@x", b"To: t@x", FROM, b"", b"hi"),
    "t_with_arguments_to_line_from_arguments": sent(["-t", "z@a", "y@a"], b"Cc: c@x\n\nhi\n", [b"z@a", b"y@a", b"c@x"],
                                                    b"Cc: c@x", FROM, b"To: <z@a>,<y@a>", b"", b"hi"),
    "header_address_too_long_dropped": sent(["-t"], b"To: b@x.org\nCc: %s\nCc: %s\n c@x.org\n\nhi\n" % (L497, L498),
                                            [b"b@x.org", L497, b"c@x.org"], b"To: b@x.org", b"Cc: " + L497,
                                            b"Cc: " + L498, b" c@x.org", FROM, b"", b"hi",
                                            stdout=b"Address too long\n"),
    # The marker line.
    "marker_after_empty_body_lines": sent(["a@b"], b"Subject: s\n\n\n\n", [b"a@b"], b"Subject: s", FROM, TO_A, b"",
                                          b"", b"", MARK),
    "blank_body_line_is_content": sent(["a@b"], b"Subject: s\n\n   \n", [b"a@b"], b"Subject: s", FROM, TO_A, b"",
                                       b"   "),
    # Long lines: read whole; header lines folded to 998, body lines sent in 998-character pieces.
    "header_line_of_499_stays_one": sent(["-t"], W499 + b"\nTo: t@x\n\nhi\n", [b"t@x"], W499, b"To: t@x", FROM, b"",
                                         b"hi"),
    "body_line_of_998_one_line": sent(["a@b"], b"S: s\n\n" + b"q" * 998 + b"\nend\n", [b"a@b"], b"S: s", FROM, TO_A,
                                      b"", b"q" * 998, b"end"),
    "body_line_of_5000_in_pieces": sent(["a@b"], b"S: s\n\n" + DIGITS + b"\nend\n", [b"a@b"], b"S: s", FROM, TO_A,
                                        b"", *[DIGITS[i:i + 998] for i in range(0, 5000, 998)], b"end"),
    "header_folded_at_last_blank": sent(["a@b"], LONG_WORDS + b"\n\nhi\n", [b"a@b"], LONG_WORDS[:909],
                                        LONG_WORDS[909:], FROM, TO_A, b"", b"hi"),
    "header_folded_after_last_comma": sent(["a@b"], b"X-Ids:" + b",".join(IDS) + b"\n\nhi\n", [b"a@b"], HEAD_IDS,
                                           b" " + b",".join(IDS[47:]), FROM, TO_A, b"", b"hi"),
    "header_folded_at_998_without_break": sent(["a@b"], NO_BREAK + b"\n\nhi\n", [b"a@b"], NO_BREAK[:998],
                                               b" " + NO_BREAK[998:1995], b" " + NO_BREAK[1995:], FROM, TO_A, b"",
                                               b"hi"),
    "to_line_folded_between_recipients": sent([r.decode() for r in RCPTS], b"", RCPTS, FROM,
                                              b"To: " + b",".join(b"<" + r + b">" for r in RCPTS[:17]) + b",",
                                              b" " + b",".join(b"<" + r + b">" for r in RCPTS[17:]), b"", MARK),
    # The spool file itself.
    "spool_private_in_tmp": sent(["a@b"], b"S: s\n\nhi\n", [b"a@b"], b"S: s", FROM, TO_A, b"", b"hi",
                                 watch="/tmp", script=SLOW_GREETING, check=private_spool_in("/tmp")),
    "spool_in_work_dir": sent(["-debug", "a@b"], b"S: s\n\nhi\n", [b"a@b"], b"S: s", FROM, TO_A, b"", b"hi",
                              watch="/tmp/spool", ini="g_work /tmp/spool\n", dirs=["/tmp/spool"],
                              script=SLOW_GREETING, check=private_spool_in("/tmp/spool")),
    "planted_links_not_followed": sent(["a@b"], b"S: s\n\nhi\n", [b"a@b"], b"S: s", FROM, TO_A, b"", b"hi",
                                       watch="/run/spool", ini="g_work /run/spool\n", script=SLOW_GREETING,
                                       files={"/run/spool/target": "keep\n"}, symlinks=PLANTED,
                                       check=planted_links_untouched),
    "create_fails_missing_work_dir": failed(["a@b"], b"S: s\n\nhi\n",
                                            re.compile(rb"\ACannot create temp file \(/tmp/missing/dir/tidewharf"
                                                       rb"\.\d+\)\n\Z"),
                                            ini="g_work /tmp/missing/dir\n", check=fallback_names_pid),
    "read_error_on_stdin": failed(["a@b"], b"", b"Cannot read message from standard input\n", stdin_dir=True,
                                  watch="/tmp", check=nothing_left_in("/tmp")),
    "write_error_disk_full": failed(["a@b"], b"S: s\n\n" + (b"y" * 999 + b"\n") * 100,
                                    re.compile(rb"\ACannot write temp file \(/tmp/full/tidewharf[A-Za-z0-9]{6}\)\n\Z"),
                                    ini="g_work /tmp/full\n", tmpfs={"/tmp/full": "8k"}),
    "write_error_at_final_flush": failed(["a@b"], b"S: s\n\n" + b"y" * 9000 + b"\n",
                                         re.compile(rb"\ACannot write temp file \(/tmp/full/tidewharf[A-Za-z0-9]{6}\)"
                                                    rb"\n\Z"),
                                         ini="g_work /tmp/full\n", tmpfs={"/tmp/full": "8k"}),
}


class Intake(table(ROWS)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
