"""Command line, run modes and the invocation log, end to end."""

import re
import unittest

from harness import ANY, HOST, SENDER, WRAPPED, Case, Row, table, traced, wire

QUEUE = b"Use: queuelet s\n"
LINE_BREAK = b"Address contains a line break\n"
MSG = b"Subject: test\n\nhello\n"

HELP = re.compile(
    rb"\Aquillrun version \d+\.\d+\.\d+\n"
    + re.escape(b"Usage: quillrun \n"
                b"\t-host x.x.x.x  (Host to send email to)\n"
                b"\t-debug  (write debugging to quillrun.debug)\n"
                b"\t-bd\t(pretend to run as a deamon)\n"
                b"\t-bq\t(show queuelet queue)\n"
                b"\t-bs\t(run like a pipe)\n"
                b"\t-bv\t(check server, login, sender and recipients; send nothing)\n"
                b"\t-t\t(suppress argument addresses even if in message to fields)\n"
                b"\t-i\t(ignore dot stuffing, expect EOF instead)\n")
    + rb"\t-mailfrom [^\s]+\t\(set MAIL FROM envelope\)\n"
    + rb"\t-f[^\s]+\t\t\(set From header\)\n"
    + re.escape(b"\t-help\t\t(this message)\n\t-version\t(this message)\n")
    + rb"\Z")

CTIME = rb"[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}\n"


def record(line, before=b""):
    """The whole invocation log: `before`, then one record whose second line is `line`."""
    return re.compile(rb"\A" + re.escape(before) + CTIME + re.escape(line) + rb"\Z")


def dialogue(*rcpts, sender=SENDER, helo=HOST):
    return [b"HELO " + helo, b"MAIL FROM:<" + sender + b">",
            *[b"RCPT TO:" + r for r in rcpts], b"DATA", b"QUIT"]


def q(*argv, **kw):
    """A case whose argv[0] is "quillrun"."""
    return Case(argv=["quillrun", *argv], **kw)


def deliver(*argv, stdin=MSG, **kw):
    return q(*argv, stdin=stdin, **kw)


def daemon_checks(t, r):
    line = r.daemon["line"]
    t.assertIsNotNone(line, "no line from the daemon")
    m = re.fullmatch(rb"Running as a fake daemon pid = (\d+)\n", line)
    t.assertTrue(m, line)
    t.assertTrue(r.daemon["alive"], "the daemon exited by itself")
    t.assertEqual(r.daemon["pid_file"], m.group(1))
    if not WRAPPED:
        t.assertEqual(int(m.group(1)), r.pid)
    t.assertEqual(r.sessions, [])


def debug_log_written(t, r):
    debug = r.logs["quillrun.debug"]
    t.assertIsNotNone(debug)
    t.assertRegex(debug, rb"\AUsing temp file \(/tmp/tidewharf[^)]*\) \nSending message\n"
                         rb"Open socket to \(mailhost\.example\.org:25\)\nSocket opened \nWaiting for welcome\n")
    for part in (b"--> HELO mailhost.example.org\r\n", b"--> RCPT TO:<a@b>\r\n", b"Sending data\n",
                 b"Sending terminating dot\n"):
        t.assertIn(traced(part), debug)


def no_debug_log(t, r):
    t.assertIsNone(r.logs["quillrun.debug"])
    t.assertNotIn("quillrun.debug", r.cwd_files)


CAP = 30001
MANY = [f"r{i}" for i in range(CAP + 2)]


def recipient_cap(t, r):
    rcpts = [c for c in r.commands if c.startswith(b"RCPT TO:")]
    t.assertEqual(len(rcpts), CAP)
    t.assertEqual(rcpts[0], b"RCPT TO:<r0>")
    t.assertEqual(rcpts[-1], b"RCPT TO:<r30000>")
    t.assertEqual(r.commands[-2:], [b"DATA", b"QUIT"])


def real_server_got(t, r):
    t.assertEqual(r.server["helo"], HOST)
    t.assertEqual(r.server["mail_from"], SENDER)
    t.assertEqual(r.server["rcpt_tos"], [b"a@x.org", b"b@x.org", b"c@x.org"])
    t.assertEqual(r.server["content"], wire(b"To: a@x.org", b"Cc: b@x.org", b"Subject: s",
                                            b"From: <" + SENDER + b">", b"", b".dot", b"body"))


LONG_USER = "u" * 150
PLAIN = wire(b"Subject: test", b"From: <" + SENDER + b">", b"To: <a@b>", b"", b"hello")

ROWS = {
    # Program-name dispatch looks at argv[0] before any option.
    "name_mailq_gives_queue_reply": Row(Case(argv=["mailq"]), QUEUE, commands=[],
                                        log=record(b" tester mailq \n")),
    "name_mailq_in_directory": Row(Case(argv=["/x/mailq-dir/prog"]), QUEUE, commands=[]),
    "name_mailq_before_options": Row(Case(argv=["mailq", "-bd", "-help"]), QUEUE, commands=[]),
    "name_newaliases_is_silent": Row(Case(argv=["newaliases", "-help"]), b"", commands=[]),
    "name_with_both_gives_queue_reply": Row(Case(argv=["newaliases.mailq"]), QUEUE, commands=[]),
    "name_in_capitals_delivers": Row(Case(argv=["MAILQ", "a@b"], stdin=MSG), commands=dialogue(b"<a@b>"),
                                     payload=PLAIN),
    # Run modes ending in the argument loop.
    "bq_queue_reply": Row(q("-bq"), QUEUE, commands=[]),
    "bq_with_more_letters": Row(q("-bqxyz"), QUEUE, commands=[]),
    "bq_after_recipient": Row(q("a@b", "-bq"), QUEUE, commands=[]),
    "bi_silent": Row(q("-bi"), b"", commands=[]),
    "bi_with_more_letters": Row(q("-bifoo"), b"", commands=[]),
    "help": Row(q("-help"), HELP, commands=[]),
    "version": Row(q("-version"), HELP, commands=[]),
    "help_with_more_letters": Row(q("-helpxyz"), HELP, commands=[]),
    "version_with_more_letters": Row(q("-versionfoo"), HELP, commands=[]),
    "help_stops_before_bd": Row(q("-help", "-bd"), HELP, commands=[]),
    "help_after_recipients": Row(q("a@b", "-debug", "-help"), HELP, commands=[], check=no_debug_log),
    "bd_daemon": Row(q("-bd", server=None, daemon=True), re.compile(rb"\ARunning as a fake daemon pid = \d+\n\Z"),
                     status=ANY, check=daemon_checks),
    "bd_stops_before_help": Row(q("-bd", "-help", daemon=True), re.compile(rb"\ARunning as a fake daemon"),
                                status=ANY, check=daemon_checks),
    "bd_with_more_letters_ignored": Row(deliver("-bdx", "a@b"), commands=dialogue(b"<a@b>")),
    # Option values and their consumption.
    "host_consumes_bd": Row(deliver("-host", "-bd", "a@b", server=None),
                            b"Could not connect to SMTP server -bd 25 () Host not found\n\n", 1),
    "host_lower_cased_in_message": Row(deliver("-host", "NoSuch.Example", "a@b", server=None),
                                       b"Could not connect to SMTP server nosuch.example 25 "
                                       b"() Host not found\n\n", 1),
    "host_cut_to_100": Row(deliver("-host", "h" * 150, "a@b", server=None),
                           b"Could not connect to SMTP server " + b"h" * 100 + b" 25 () Host not found\n\n",
                           1),
    "host_refused": Row(deliver("-host", "127.0.0.1", "a@b", server=None),
                        b"Could not connect to SMTP server 127.0.0.1 25 () Connection Refused\n\n", 1),
    "host_with_more_letters_consumes": Row(deliver("-hostname", "127.0.0.1", "a@b"), commands=dialogue(b"<a@b>")),
    "host_later_wins": Row(deliver("-host", "nosuch", "-host", "localhost", "a@b"), commands=dialogue(b"<a@b>")),
    "host_last_is_ignored": Row(deliver("a@b", "-host"), commands=dialogue(b"<a@b>")),
    "f_attached": Row(deliver("-fme@x.org", "a@b"), commands=dialogue(b"<a@b>", sender=b"me@x.org", helo=b"x.org")),
    "f_separate": Row(deliver("-f", "me@x.org", "a@b"), commands=dialogue(b"<a@b>", sender=b"me@x.org", helo=b"x.org")),
    "f_later_wins": Row(deliver("-fme@x.org", "-fyou@y.org", "a@b"),
                        commands=dialogue(b"<a@b>", sender=b"you@y.org", helo=b"y.org")),
    "f_consumes_t": Row(deliver("-f", "-t", "a@b", stdin=b"To: c@d\n\nhi\n"),
                        commands=dialogue(b"<a@b>", sender=b"-t@" + HOST)),
    "f_empty_value": Row(deliver("-f", "", "a@b"), commands=dialogue(b"<a@b>", sender=b"@" + HOST)),
    "f_last_is_ignored": Row(deliver("a@b", "-f"), commands=dialogue(b"<a@b>")),
    "mailfrom_sets_envelope_only": Row(deliver("-mailfromenv@x.org", "a@b"), commands=[
        b"HELO " + HOST, b"MAIL FROM:<env@x.org>", b"RCPT TO:<a@b>", b"DATA", b"QUIT"], payload=PLAIN),
    "F_names_the_added_from": Row(deliver("-F", "Full Name", "-f", "a@x", "a@y"),
                                  commands=dialogue(b"<a@y>", sender=b"a@x", helo=b"x"),
                                  payload=wire(b"Subject: test", b"From: Full Name <a@x>", b"To: <a@y>", b"", b"hello"),
                                  log=record(b" tester quillrun -F Full Name -f a@x a@y \n")),
    "F_name_with_comma_quoted": Row(deliver("-F", "Doe, John", "a@b"), commands=dialogue(b"<a@b>"),
                                    payload=wire(b"Subject: test", b'From: "Doe, John" <' + SENDER + b">", b"To: <a@b>",
                                                 b"", b"hello")),
    "F_name_with_line_feed_refused": Row(deliver("-F", "Eve\nBcc: x@y", "a@b"), b"Full name contains a line break\n", 1,
                                         commands=[]),
    "F_leaves_own_from_untouched": Row(deliver("-F", "Full Name", "a@b", stdin=b"From: Own <own@x.org>\n\nhi\n"),
                                       commands=dialogue(b"<a@b>"),
                                       payload=wire(b"From: Own <own@x.org>", b"To: <a@b>", b"", b"hi")),
    "r_sets_sender": Row(deliver("-r", "joe@x.org", "a@b"),
                         commands=dialogue(b"<a@b>", sender=b"joe@x.org", helo=b"x.org")),
    "mutt_dsn_options_consume_values": Row(deliver("-N", "failure,delay", "-R", "hdrs", "-V", "id", "a@b"),
                                           commands=dialogue(b"<a@b>")),
    "mailfrom_separate_value_is_recipient": Row(deliver("-mailfrom", "env@x.org"), commands=[
        b"HELO " + HOST, b"MAIL FROM:<>", b"RCPT TO:<env@x.org>", b"DATA", b"QUIT"]),
    # Flags.
    "t_adds_header_recipients": Row(deliver("-t", "arg@x.org", stdin=b"To: h@x.org\nCc: c@x.org\n\nhi\n"),
                                    commands=dialogue(b"<arg@x.org>", b"<h@x.org>", b"<c@x.org>"),
                                    payload=wire(b"To: h@x.org", b"Cc: c@x.org", b"From: <" + SENDER + b">",
                                                 b"", b"hi")),
    "t_delivers_to_real_server": Row(q("-t", server="aiosmtpd",
                                       stdin=b"To: a@x.org\nCc: b@x.org\nBcc: c@x.org\nSubject: s\n\n.dot\nbody\n"),
                                     check=real_server_got),
    "t_with_more_letters_ignored": Row(deliver("-tx", "arg@x.org", stdin=b"To: h@x.org\n\nhi\n"),
                                       commands=dialogue(b"<arg@x.org>")),
    "no_recipient_extracts_header": Row(q(stdin=b"To: a@x.org\nCc: b@x.org\nBcc: c@x.org\nSubject: s\n\nbody\n"),
                                        commands=dialogue(b"<a@x.org>", b"<b@x.org>", b"<c@x.org>"),
                                        payload=wire(b"To: a@x.org", b"Cc: b@x.org", b"Subject: s",
                                                     b"From: <" + SENDER + b">", b"", b"body"),
                                        log=record(b" tester quillrun \n")),
    "dot_line_ends_message": Row(deliver("a@b", stdin=b"Subject: s\n\nline\n.\nafter\n"),
                                 payload=wire(b"Subject: s", b"From: <" + SENDER + b">", b"To: <a@b>", b"", b"line")),
    "i_keeps_dot_line": Row(deliver("-i", "a@b", stdin=b"Subject: s\n\nline\n.\nafter\n"),
                            payload=wire(b"Subject: s", b"From: <" + SENDER + b">", b"To: <a@b>", b"", b"line",
                                         b"..", b"after")),
    "oi_keeps_dot_line": Row(deliver("-oi", "a@b", stdin=b"Subject: s\n\nline\n.\nafter\n"),
                             payload=wire(b"Subject: s", b"From: <" + SENDER + b">", b"To: <a@b>", b"", b"line",
                                          b"..", b"after")),
    "i_with_more_letters_ignored": Row(deliver("-ix", "a@b", stdin=b"Subject: s\n\nline\n.\nafter\n"),
                                       payload=wire(b"Subject: s", b"From: <" + SENDER + b">", b"To: <a@b>", b"",
                                                    b"line")),
    "debug_writes_debug_log": Row(deliver("-debug", "a@b"), check=debug_log_written),
    "debug_with_more_letters": Row(deliver("-debugging", "a@b"), check=debug_log_written),
    "no_debug_log_without_debug": Row(deliver("a@b"), check=no_debug_log),
    # Recipient arguments.
    "recipients_in_argument_order": Row(deliver("z@z", "a@a", "m@m"), commands=dialogue(b"<z@z>", b"<a@a>", b"<m@m>")),
    "duplicate_recipients_kept": Row(deliver("a@b", "a@b"), commands=dialogue(b"<a@b>", b"<a@b>")),
    "empty_argument_is_recipient": Row(deliver("a@b", ""), commands=dialogue(b"<a@b>", b"<>")),
    "comma_argument_is_one_recipient": Row(deliver("a@b,c@d"), commands=dialogue(b"<a@b,c@d>")),
    "bracketed_argument_unchanged": Row(deliver("<x@y>"), commands=dialogue(b"<x@y>")),
    "unknown_options_ignored": Row(deliver("-v", "-oem", "-odb", "-", "-bsx", "a@b"), commands=dialogue(b"<a@b>")),
    "recipient_cap": Row(q(*MANY, stdin=b"To: list@x.org\n\nhi\n", timeout=300),
                         b"FATAL ERROR, TOO MANY RECIPIENTS\n" * 2, check=recipient_cap),
    # The invocation record: ctime line, then " USER arg0 arg1 ... \n".
    "log_record_format": Row(q("-help"), HELP, log=record(b" tester quillrun -help \n")),
    "log_username_unset": Row(q("-bq", username=None), QUEUE, log=record(b" windows quillrun -bq \n")),
    "log_username_empty": Row(q("-bq", username=""), QUEUE, log=record(b"  quillrun -bq \n")),
    "log_username_cut_to_100": Row(q("-bq", username=LONG_USER), QUEUE,
                                   log=record(b" " + b"u" * 100 + b" quillrun -bq \n")),
    "log_shows_default_sender_despite_f": Row(q("-fother@x.org", "", "-bq"), QUEUE,
                                              log=record(b" tester quillrun -fother@x.org  -bq \n")),
    "log_appends": Row(q("-bq", files={"quillrun.log": "earlier\n"}), QUEUE,
                       log=record(b" tester quillrun -bq \n", before=b"earlier\n")),
    # Control bytes are written escaped, so a record stays two lines; the line-break check then refuses.
    "log_escapes_line_feed_of_a_recipient": Row(deliver("a@b\nX: y"), LINE_BREAK, 1, commands=[],
                                                log=record(b" tester quillrun a@b\\nX: y \n")),
    "log_escapes_carriage_return_of_a_recipient": Row(deliver("a@b\r\nDATA"), LINE_BREAK, 1, commands=[],
                                                      log=record(b" tester quillrun a@b\\r\\nDATA \n")),
    "log_escapes_line_feed_of_username": Row(deliver("a@b", username="bob\nQUIT"), LINE_BREAK, 1, commands=[],
                                             log=record(b" bob\\nQUIT quillrun a@b \n")),
    # A backslash stands as typed: a Windows path reads as it was given.
    "log_escapes_other_control_bytes_keeps_backslash": Row(
        q("-bq", "a\tb\x1bc\x7fd\\e\x01"), QUEUE,
        log=record(b" tester quillrun -bq a\\x09b\\x1Bc\\x7Fd\\e\\x01 \n")),
    "log_escapes_control_bytes_of_username": Row(q("-bq", username="b\to\x1bb\\"), QUEUE,
                                                 log=record(b" b\\x09o\\x1Bb\\ quillrun -bq \n")),
    "log_shows_a_windows_path_as_typed": Row(
        Case(argv=["C:\\Program Files\\quillrun\\quillrun.exe", "-bq"]), QUEUE,
        log=record(b" tester C:\\Program Files\\quillrun\\quillrun.exe -bq \n")),
    "username_unset_sender_is_windows": Row(deliver("a@b", username=None), commands=dialogue(
        b"<a@b>", sender=b"windows@" + HOST), log=record(b" windows quillrun a@b \n")),
    "long_username_sender_cut_to_100": Row(deliver("a@b", username=LONG_USER), commands=dialogue(
        b"<a@b>", sender=b"u" * 100 + b"@" + HOST)),
}

# Windows hands a program at most 32767 characters of command line
# (CreateProcess; Wine keeps the limit): there the recipient arguments
# beyond the cap cannot reach the program at all.
WINDOWS_COMMAND_LINE = "Windows limits a command line to 32767 characters; 30003 recipient arguments cannot be passed"
SKIPPED_ON_WINDOWS = {"recipient_cap"} if WRAPPED else set()

# Bytes above 127 (here UTF-8) go into the record as they came. Under Wine an
# argument reaches the program through the ANSI code page, so this runs natively.
if not WRAPPED:
    ROWS["log_keeps_bytes_above_127"] = Row(q("-bq", "caf\u00e9"), QUEUE,
                                            log=record(b" tester quillrun -bq caf\xc3\xa9 \n"))


class CommandLine(table({n: r for n, r in ROWS.items() if n not in SKIPPED_ON_WINDOWS})):
    if WRAPPED:
        @unittest.skip(WINDOWS_COMMAND_LINE)
        def test_recipient_cap(self):
            pass

if __name__ == "__main__":
    import unittest
    unittest.main()
