"""Sender identity, address refusals and the connection to the server, end to end."""

from harness import HOST, Case, Row, table, wire

MSG = b"Subject: s\n\nhi\n"
BARE = {"hostname": "mailhost", "hosts": "127.0.0.1\tmailhost localhost\n"}
DOMAIN = "g_quillrun_domain corp.example\n"


def q(*argv, stdin=MSG, **kw):
    return Case(argv=["quillrun", *argv], stdin=stdin, **kw)


def sender_row(case, sender, helo, mail_from=None, from_value=None):
    """Delivered to <a@b>: HELO `helo`, MAIL FROM `mail_from`, and a From line made of `from_value`."""
    mail_from = b"<" + sender + b">" if mail_from is None else mail_from
    from_value = mail_from if from_value is None else from_value
    return Row(case, b"", 0, commands=[b"HELO " + helo, b"MAIL FROM:" + mail_from, b"RCPT TO:<a@b>", b"DATA", b"QUIT"],
               payload=wire(b"Subject: s", b"From: " + from_value, b"To: <a@b>", b"", b"hi"))


def refused(message, *argv, **kw):
    """Refused after the argument loop: nothing of standard input is read and no spool file is tried.

    Standard input stays open and unwritten (daemon mode of the harness), so a program that read it
    would never print; the work directory is missing, so a program that made a spool file would
    print "Cannot create temp file".
    """
    case = q(*argv, stdin=b"", daemon=True, timeout=5, ini="g_work /tmp/missing/dir\n" + kw.pop("ini", ""), **kw)
    return Row(case, message, 1, commands=[])


def delivered(*argv, **kw):
    return sender_row(q(*argv, **kw), b"tester@" + HOST, HOST)


def no_connection(stdout, *argv, **kw):
    return Row(q(*argv, server=kw.pop("server", None), **kw), stdout, 1, commands=[])


def cannot_connect(host, port, reason):
    return b"Could not connect to SMTP server %s %d () %s\n\n" % (host, port, reason)


LINE_BREAK = b"Address contains a line break\n"
TOO_LONG = b"Address too long\n"
S497 = "s" * 491 + "@b.org"   # envelope form of 499 characters
S498 = "s" * 492 + "@b.org"   # envelope form of 500 characters

ROWS = {
    # Completion of a sender without "@".
    "dotted_host_wins_over_domain": sender_row(q("a@b", ini=DOMAIN), b"tester@" + HOST, HOST),
    "bare_host_takes_domain": sender_row(q("a@b", ini=DOMAIN, **BARE), b"tester@corp.example", b"corp.example"),
    "bare_host_without_domain": sender_row(q("a@b", **BARE), b"tester@mailhost", b"mailhost"),
    "bare_host_empty_domain_value": sender_row(q("a@b", ini='g_quillrun_domain ""\n', **BARE), b"tester@mailhost",
                                               b"mailhost"),
    "host_name_case_kept": sender_row(q("a@b", hostname="MailHost", hosts="127.0.0.1\tmailhost localhost\n"),
                                      b"tester@MailHost", b"MailHost"),
    "username_unset_is_windows": sender_row(q("a@b", username=None), b"windows@" + HOST, HOST),
    "username_empty_begins_with_at": sender_row(q("a@b", username=""), b"@" + HOST, HOST),
    "f_without_at_completed": sender_row(q("-f", "joe", "a@b"), b"joe@" + HOST, HOST),
    "f_with_at_not_completed": sender_row(q("-fme@other.org", "a@b", ini=DOMAIN), b"me@other.org", b"other.org"),
    "f_ending_in_at_empty_helo": sender_row(q("-fme@", "a@b"), b"me@", b""),
    "f_in_brackets": sender_row(q("-f", "<me@b.org>", "a@b"), b"me@b.org", b"b.org"),
    "f_display_name": sender_row(q("-f", "Some Name <me@b.org>", "a@b"), b"me@b.org", b"b.org"),
    "f_comment_after_domain": sender_row(q("-f", "me@b.org (x)", "a@b"), b"me@b.org", b"b.org (x)"),
    "mailfrom_empty_from_line_kept": sender_row(q("-mailfrom", "a@b"), b"", HOST, mail_from=b"<>",
                                                from_value=b"<tester@" + HOST + b">"),
    "f_envelope_of_499_accepted": sender_row(q("-f", S497, "a@b"), S497.encode(), b"b.org"),
    "long_domain_unused_with_dotted_host": delivered("a@b", ini="g_quillrun_domain " + "d" * 950 + "\n"),
    # Refusals before intake: line breaks, then lengths.
    "f_line_feed": refused(LINE_BREAK, "-f", "me@x.org\nRCPT TO:<evil@x>", "a@b"),
    "f_carriage_return": refused(LINE_BREAK, "-fme@x.org\r", "a@b"),
    "mailfrom_line_break": refused(LINE_BREAK, "-mailfromme@x.org\r\nRCPT TO:<evil@x>", "a@b"),
    "recipient_line_break": refused(LINE_BREAK, "a@b\r\nDATA"),
    "recipient_line_break_with_t": refused(LINE_BREAK, "-t", "a@b", "c@d\n"),
    "username_line_break": refused(LINE_BREAK, "a@b", username="bob\nQUIT"),
    "f_envelope_of_500": refused(TOO_LONG, "-f", S498, "a@b"),
    "mailfrom_envelope_of_500": refused(TOO_LONG, "-mailfrom" + S498, "a@b"),
    "recipient_envelope_of_500": refused(TOO_LONG, S498),
    "recipient_over_work_buffer": refused(TOO_LONG, "<" + "x " * 999 + "a@b>"),
    "completed_sender_over_999": refused(TOO_LONG, "a@b", ini="g_quillrun_domain " + "d" * 950 + "\n", **BARE),
    "completed_sender_envelope_over_499": refused(TOO_LONG, "a@b", ini="g_quillrun_domain " + "d" * 600 + "\n",
                                                  **BARE),
    # The connection.
    "refused_without_server": no_connection(cannot_connect(b"127.0.0.1", 25, b"Connection Refused"), "-host",
                                            "127.0.0.1", "a@b"),
    "refused_default_host": no_connection(cannot_connect(HOST, 25, b"Connection Refused"), "a@b"),
    "host_in_capitals_printed_lower": no_connection(cannot_connect(HOST, 25, b"Connection Refused"), "-host",
                                                    "MAILHOST.EXAMPLE.ORG", "a@b"),
    "host_in_capitals_connects": delivered("-host", "LocalHost", "a@b"),
    "unresolvable_host": no_connection(cannot_connect(b"nowhere.invalid", 25, b"Host not found"),
                                       "-host", "nowhere.invalid", "a@b", server="script"),
    "network_unreachable": no_connection(cannot_connect(b"10.1.2.3", 25, b"Network Unreachable"), "-host",
                                         "10.1.2.3", "a@b", server="script"),
    "bracketed_quad_connects": delivered("-host", "[127.0.0.1]", "a@b"),
    "open_bracket_alone_connects": delivered("-host", "[127.0.0.1", "a@b"),
    "close_bracket_alone_connects": delivered("-host", "127.0.0.1]", "a@b"),
    "port_from_config": delivered("a@b", ini="g_smtp_port 2525\n", port=2525),
    "port_after_colon": delivered("a@b", ini="g_smtp_port relay:2525\n", port=2525),
    "port_after_byte_order_mark": delivered("a@b", ini="\xef\xbb\xbfg_smtp_port 2525\n", port=2525),
    "port_from_config_refused": no_connection(cannot_connect(HOST, 2525, b"Connection Refused"), "a@b",
                                              ini="g_smtp_port 2525\n", server="script"),
}


class SenderConnection(table(ROWS)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
