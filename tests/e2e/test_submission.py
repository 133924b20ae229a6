"""Submission to a provider's server, end to end: TLS by STARTTLS (RFC 3207)
or implicit (RFC 8314), the certificate checked against the system's trusted
roots, SMTP AUTH (RFC 4954) by PLAIN, LOGIN or XOAUTH2, and the secret kept
out of every log, all as quillrun.ini asks.

The server is aiosmtpd as a provider's (tools/real_server.py): it records the
client's bytes as it read them, decrypted after the handshake, and how the
connection went (TLS, the SNI sent, the login). The scripted server plays
what aiosmtpd cannot (an EHLO without STARTTLS, bytes after its 220 to
STARTTLS), openssl s_server a server of TLS 1.1 at most and one that asks
to renegotiate. The certificates are
pki.py's; each sandbox's /etc/ssl/certs/ca-certificates.crt trusts its root,
which both OpenSSL and Wine's crypt32 read. In the Windows tree this runs
against quillrun.exe under Wine, which finds quillrun.ini through QUILLRUN_INI.
"""

import base64
import os
import unittest

import pki
from harness import (CLIENT, FOREIGN, FROM, GREETING, HOST, OTHER_UID, QUILLRUN_INI, SENDER, TEXT, WRAPPED, Case,
                     Row, address_space, others_folder, relayed, table, traced, wire)

MSG = b"Subject: s\n\nhi\n"
PAYLOAD = wire(b"Subject: s", FROM, b"To: <a@b>", b"")  # MSG as sent after DATA, up to its body
USER, PASSWORD = b"alice", b"s3cret-Pw_7"
MAILBOX, TOKEN = b"alice@example.org", b"ya29.a0-token"  # the XOAUTH2 login, its access token
LOGINS = {USER.decode(): PASSWORD.decode(), MAILBOX.decode(): TOKEN.decode()}
SECRET_FILE = "secret"  # in the working directory, holding PASSWORD
PRIVATE_FILE = "private"  # in the working directory, another secret of the caller's
PRIVATE_CA = "private-ca.pem"  # in the working directory, holding pki's root nobody else trusts
PORT = {"starttls": 587, "implicit": 465}


def b64(data):
    return base64.b64encode(data)


def line(*words):
    return b" ".join(words) + b"\r\n"


EHLO = line(b"EHLO", HOST)  # the sender's domain, as HELO names it
STARTTLS = line(b"STARTTLS")
MAIL = line(b"MAIL FROM:<" + SENDER + b">")
AFTER_MAIL = line(b"RCPT TO:<a@b>") + line(b"DATA") + PAYLOAD + b"hi\r\n.\r\n" + line(b"QUIT")
AUTH_PLAIN = line(b"AUTH PLAIN", b64(b"\0" + USER + b"\0" + PASSWORD))
AUTH_LOGIN = line(b"AUTH LOGIN") + line(b64(USER)) + line(b64(PASSWORD))
AUTH_XOAUTH2 = line(b"AUTH XOAUTH2", b64(b"user=" + MAILBOX + b"\x01auth=Bearer " + TOKEN + b"\x01\x01"))
# Every form of PASSWORD a leak would show: as read, as LOGIN sends it, as PLAIN sends it;
# and of TOKEN, as read and as XOAUTH2 sends it.
SECRET_FORMS = [PASSWORD, b64(PASSWORD), AUTH_PLAIN.split()[2], TOKEN, AUTH_XOAUTH2.split()[2]]

TLS_FAILED = b"-ERR TLS with " + HOST + b" failed: "
STARTTLS_SETTINGS = ["tls starttls", "user alice", f"password_file {SECRET_FILE}"]


def case(settings, tls="starttls", leaf="good", sent_with="", argv=("a@b",), stdin=MSG, modes=None,
         server="aiosmtpd", ini=QUILLRUN_INI, files=None, **kw):
    """quillrun with a quillrun.ini of the lines `settings` at `ini` (None:
    one made before), to `server` on `tls`'s port, which sends pki's `leaf`
    with its chain (and `sent_with`) and takes LOGINS; `files` besides.
    SECRET_FILE is private to its owner, as it must be."""
    p = pki.get()
    return Case(argv=["quillrun", *argv], stdin=stdin, server=server, port=PORT[tls],
                tls={"mode": tls, "cert": p.served[leaf] + sent_with, "key": p.keys[leaf]}, logins=LOGINS,
                trusted=p.root,
                files={**({} if settings is None else {ini: "".join(s + "\n" for s in settings)}),
                       SECRET_FILE: PASSWORD.decode() + "\nnot the secret: only the first line is\n",
                       PRIVATE_CA: p.other_root, **(files or {})},
                modes={SECRET_FILE: 0o600, **(modes or {})},
                env={"QUILLRUN_INI": ini} if WRAPPED or ini != QUILLRUN_INI else {}, **kw)


def scripted(settings, script, **kw):
    """quillrun with a quillrun.ini of `settings`, to the scripted server on 587."""
    return case(settings, server="script", script=script, **kw)


def both(*checks):
    def check(t, r):
        for c in checks:
            c(t, r)
    return check


def delivered(c, auth, login, tls="starttls", sni=HOST, mail=MAIL, after_mail=AFTER_MAIL, check=None):
    """Delivered over `tls` with the SNI `sni` and the login `login`
    ([mechanism, user]): the server read exactly the dialogue of `auth`."""
    raw = EHLO + (STARTTLS + EHLO if tls == "starttls" else b"") + auth + mail + after_mail

    def got(t, r):
        t.assertEqual(len(r.sessions), 1, "one message")
        t.assertEqual((r.server["tls"], r.server["sni"], r.server["login"]), (tls.encode(), sni, login))
        t.assertEqual(r.server["raw"], raw)
    return Row(c, b"", 0, check=both(got, *([check] if check else [])))


def nothing_delivered(t, r):
    t.assertEqual(r.sessions, [], "no message reached the server")


def refused(c, stdout):
    """Refused with `stdout`, status 1, nothing of the message sent."""
    return Row(c, stdout, 1, check=nothing_delivered)


def raw_is(expected):
    def check(t, r):
        t.assertEqual([s["raw"] for s in r.sessions], [expected])
    return check


def hello_alone(t, r):
    """The server got a TLS handshake record (the ClientHello) and no command."""
    raw = r.server["raw"]
    t.assertTrue(raw.startswith(b"\x16\x03"), raw[:20])
    t.assertNotIn(b"EHLO", raw)


def secret_kept(hidden):
    """No form of PASSWORD on standard output or in either log, where the
    debug log shows `hidden` in its place."""
    def check(t, r):
        debug = r.logs["quillrun.debug"]
        t.assertIsNotNone(debug, "a debug log")
        t.assertIn(traced(hidden), debug)
        for name, text in (("stdout", r.stdout), ("quillrun.log", r.logs["quillrun.log"]), ("quillrun.debug", debug)):
            for form in SECRET_FORMS:
                t.assertNotIn(form, text or b"", f"{form!r} in {name}")
    return check


def echoed(settings, replies, stdout):
    """A login in clear text to the scripted server on loopback, which refuses
    it quoting what it got: the run prints `stdout` and keeps every form of
    the secret out of it and out of both logs."""
    ehlo = {"EHLO": "250-e2e.test\r\n250 AUTH PLAIN LOGIN XOAUTH2\r\n"}
    c = case(["port 587", "tls off", *settings], server="script", script={**ehlo, **replies},
             argv=("-debug", "a@b"))
    return Row(c, b"-ERR Authentication failed (" + stdout + b")\n", 1,
               check=secret_kept(b"<hidden>"))


def bs_session(t, r):
    """smtplib's replies from quillrun -bs, and what it relayed through STARTTLS and AUTH."""
    t.assertEqual(r.stderr, b"", "nothing on standard error")
    t.assertEqual(r.replies, [GREETING, [250, HOST], [250, b"OK"], [250, b"OK"], [250, b"OK"], [221, b"2.0.0 Bye"]])
    ehlo = line(b"EHLO", CLIENT.split(b"@")[1])
    t.assertEqual(len(r.sessions), 1, "one message")
    t.assertEqual((r.server["tls"], r.server["login"]), (b"starttls", [b"PLAIN", USER]))
    t.assertEqual(r.server["raw"], ehlo + STARTTLS + ehlo + AUTH_PLAIN + line(b"MAIL FROM:<" + CLIENT + b">")
                  + line(b"RCPT TO:<a@b>") + line(b"DATA") + relayed() + line(b"QUIT"))


def bs_refused(reply):
    """quillrun -bs answers the client's MAIL with quillrun's own `reply`, and
    nothing reaches the server."""
    def check(t, r):
        if not WRAPPED:  # Wine's GnuTLS writes refused handshakes there itself
            t.assertEqual(r.stderr, b"", "nothing on standard error")
        t.assertEqual(r.replies, [GREETING, [250, HOST], reply, [221, b"2.0.0 Bye"]])
        nothing_delivered(t, r)
    return check


BS_MAIL = dict(argv=("-bs",), stdin=b"", session=[["helo", "[127.0.0.1]"], ["mail", CLIENT.decode()], ["quit"]])


ROWS = {
    # Delivered: the dialogue as the server read it, byte for byte. Port 587
    # when quillrun.ini names none; STARTTLS and PLAIN; a 7-bit message gets
    # no BODY parameter.
    "starttls_plain_delivered": delivered(case(STARTTLS_SETTINGS), AUTH_PLAIN, [b"PLAIN", USER]),
    # Port 465 means implicit TLS; an IP literal sends no SNI and is matched
    # to the certificate's address; LOGIN's answers stay out of the debug log.
    "implicit_tls_login_delivered": delivered(
        case(["host 127.0.0.1", "port 465", "user alice", "auth login", f"password_file {SECRET_FILE}"],
             tls="implicit", argv=("-debug", "a@b")),
        AUTH_LOGIN, [b"LOGIN", USER], tls="implicit", sni=None, check=secret_kept(b"--> <hidden>\r\n334 UGFzc3dvcmQA\r\n--> <hidden>\r\n")),
    "xoauth2_token_from_password_command": delivered(
        case(["tls starttls", "user " + MAILBOX.decode(), "auth xoauth2", "password_command echo " + TOKEN.decode()]),
        AUTH_XOAUTH2, [b"XOAUTH2", MAILBOX]),
    "eight_bit_message_body_8bitmime": delivered(
        case(STARTTLS_SETTINGS, stdin=b"Subject: s\n\ncaf\xe9\n"), AUTH_PLAIN, [b"PLAIN", USER],
        mail=line(b"MAIL FROM:<" + SENDER + b"> BODY=8BITMIME"),
        after_mail=AFTER_MAIL.replace(b"hi\r\n.", b"caf\xe9\r\n.")),
    "secret_kept_out_of_both_logs": delivered(
        case(["tls starttls", "user alice", "password " + PASSWORD.decode()], argv=("-debug", "a@b"),
             modes={QUILLRUN_INI: 0o600}),
        AUTH_PLAIN, [b"PLAIN", USER], check=secret_kept(b"--> AUTH PLAIN <hidden>\r\n")),
    # tls_ca_file: its certificates are then the only trusted roots.
    "tls_ca_file_trusts_a_private_ca": delivered(
        case(STARTTLS_SETTINGS + [f"tls_ca_file {PRIVATE_CA}"], leaf="other"), AUTH_PLAIN, [b"PLAIN", USER]),
    "tls_ca_file_replaces_the_system_roots": refused(
        case(STARTTLS_SETTINGS + [f"tls_ca_file {PRIVATE_CA}"]), TLS_FAILED + b"certificate not trusted\n"),
    "tls_ca_file_missing_fails_the_handshake": refused(
        case(STARTTLS_SETTINGS + ["tls_ca_file missing.pem"]), TLS_FAILED + b"cannot read CA file missing.pem\n"),

    # The certificate refused, the message never sent.
    "untrusted_leaf_alone": refused(case(STARTTLS_SETTINGS, leaf="other"), TLS_FAILED + b"certificate not trusted\n"),
    "untrusted_leaf_with_its_root": refused(case(STARTTLS_SETTINGS, leaf="other", sent_with=pki.get().other_root),
                                            TLS_FAILED + b"certificate not trusted\n"),
    "wrong_host": refused(case(STARTTLS_SETTINGS, leaf="wrong_name"),
                          TLS_FAILED + b"certificate is for " + ", ".join(pki.WRONG_NAMES).encode() + b"\n"),
    "expired": refused(case(STARTTLS_SETTINGS, leaf="expired"), TLS_FAILED + b"certificate expired\n"),
    # One name rule on both platforms (RFC 6125 6.4): a wildcard stands for
    # one label, never over a top-level domain; a NUL cuts no name short; an
    # IP literal matches only an iPAddress, not the same text as a DNS name.
    "wildcard_for_one_label_delivered": delivered(case(STARTTLS_SETTINGS, leaf="wildcard"), AUTH_PLAIN,
                                                  [b"PLAIN", USER]),
    "wildcard_over_a_top_level_domain": refused(
        case(STARTTLS_SETTINGS + ["host mail.test"], leaf="wildcard_tld",
             hosts=f"127.0.0.1\tmail.test {HOST.decode()} localhost\n"),
        b"-ERR TLS with mail.test failed: certificate is for *.test\n"),
    "name_with_a_nul": refused(case(STARTTLS_SETTINGS, leaf="nul_name"),
                               TLS_FAILED + b"certificate is for " + pki.NUL_NAME.replace(b"\0", b"?") + b"\n"),
    # The faults in one order on both platforms: trust, dates, then the name.
    "expired_and_for_other_names_reads_expired": refused(
        case(STARTTLS_SETTINGS + ["host mail.test"], leaf="expired",
             hosts=f"127.0.0.1\tmail.test {HOST.decode()} localhost\n"),
        b"-ERR TLS with mail.test failed: certificate expired\n"),
    "address_as_a_dns_name": refused(
        case(["host 127.0.0.1", "port 465", "user alice", f"password_file {SECRET_FILE}"], tls="implicit",
             leaf="address_as_name"),
        b"-ERR TLS with 127.0.0.1 failed: certificate is for 127.0.0.1\n"),
    # The mix-up users meet most: implicit TLS asked of a port that greets in clear text.
    "implicit_tls_to_a_plain_port": Row(case(["port 465"], tls="implicit", server="script"),
                                        TLS_FAILED + b"server answered in clear text, not TLS\n", 1,
                                        check=hello_alone),
    # A close without close_notify (RFC 8446 6.1) may have cut the text
    # short: in the middle of the reply to "." it is a TLS failure, told as
    # one, not the acceptance its first line would read as, on both platforms.
    "bare_close_in_a_reply_is_a_tls_failure": Row(
        case(["port 465"], tls="implicit", server="tls_script", script={"DOT": ["250-queued\r\n", "close"]}),
        TLS_FAILED + b"the connection closed without close_notify\n", 1, payload=PAYLOAD + b"hi\r\n"),
    # A TLS fault in the dialogue is told as one: here the server's
    # HelloRequest (RFC 5246 7.4.1.1) in place of its reply to MAIL.
    "renegotiation_asked_for_in_the_dialogue": Row(
        case(["port 465"], tls="implicit", server="renegotiate"),
        TLS_FAILED + b"the server asked to renegotiate\n", 1),
    "server_of_tls_1_1": refused(case(["port 465"], tls="implicit", server="tls1.1"),
                                 TLS_FAILED + b"server offers only TLS 1.1 or older\n"),

    # Never less than asked: no STARTTLS, no clear text but QUIT; bytes
    # after the 220 to STARTTLS, in the same packet, end the run (the
    # STARTTLS injection); a refused login.
    "starttls_not_offered": Row(
        scripted(STARTTLS_SETTINGS, {"EHLO": "250-e2e.test\r\n250 AUTH PLAIN LOGIN\r\n"}),
        b"-ERR " + HOST + b" offers no STARTTLS; nothing sent in clear text\n", 1, check=raw_is(EHLO + line(b"QUIT"))),
    "starttls_injection": Row(
        scripted(STARTTLS_SETTINGS, {"EHLO": "250-e2e.test\r\n250 STARTTLS\r\n",
                                     "STARTTLS": "220 2.0.0 Ready to start TLS\r\n250 2.0.0 injected\r\n"}),
        TLS_FAILED + b"bytes sent before the handshake\n", 1, check=raw_is(EHLO + STARTTLS)),
    # XOAUTH2's refusal comes as a 334 challenge, which quillrun answers with
    # an empty line to get the 535.
    "login_refused": refused(
        case(["tls starttls", "user " + MAILBOX.decode(), "auth xoauth2", "password_command echo expired-token"]),
        b"-ERR Authentication failed (535 5.7.8 Authentication credentials invalid)\n"),

    # No form of the secret is ever printed or logged, whatever the server quotes back.
    "plain_argument_quoted_back": echoed(
        ["user alice", f"password_file {SECRET_FILE}"],
        {"AUTH": "535 5.7.8 " + AUTH_PLAIN.split()[2].decode() + " refused\r\n"}, b"535 5.7.8 <hidden> refused"),
    "password_in_clear_on_a_second_line": echoed(
        ["user alice", f"password_file {SECRET_FILE}"],
        {"AUTH": "535-no\r\n535 the password " + PASSWORD.decode() + " is wrong\r\n"}, b"535-no"),
    "login_answers_quoted_back": echoed(
        ["user alice", "auth login", f"password_file {SECRET_FILE}"],
        {"AUTH": "334 VXNlcm5hbWU6\r\n", b64(USER).decode().upper(): "334 UGFzc3dvcmQ6\r\n",
         b64(PASSWORD).decode().upper(): "535 got " + b64(PASSWORD).decode() + "\r\n"}, b"535 got <hidden>"),
    "login_answer_echoed_without_a_reply_code": echoed(
        ["user alice", "auth login", f"password_file {SECRET_FILE}"],
        {"AUTH": "334 VXNlcm5hbWU6\r\n", b64(USER).decode().upper(): "334 UGFzc3dvcmQ6\r\n",
         b64(PASSWORD).decode().upper(): b64(PASSWORD).decode() + " rejected\r\n"}, b"<hidden> rejected"),
    "xoauth2_string_and_token_quoted_back": echoed(
        ["user " + MAILBOX.decode(), "auth xoauth2", "password_command echo " + TOKEN.decode()],
        {"AUTH": "535 " + AUTH_XOAUTH2.split()[2].decode() + " " + TOKEN.decode() + "\r\n"},
        b"535 <hidden> <hidden>"),

    # Faults of quillrun.ini: a misspelt key never means a send without the login.
    "unknown_key": Row(
        scripted(["tls starttls", "user alice", f"pasword_file {SECRET_FILE}"], {}),
        b"-ERR " + QUILLRUN_INI.encode() + b" line 3: unknown key pasword_file\n", 1, commands=[]),
    # Bounded: a file and each of its values by what they can use, in little memory.
    "ten_megabyte_host": Row(
        scripted(["host " + "h" * 10_000_000], {}, rlimit_as=address_space(64 << 20)),
        b"-ERR " + QUILLRUN_INI.encode() + b": larger than 64 KiB\n", 1, commands=[]),
    "host_past_255_bytes": Row(
        scripted(["host " + "h" * 256], {}),
        b"-ERR " + QUILLRUN_INI.encode() + b" line 1: host is longer than 255 bytes\n", 1, commands=[]),

    # "-bs": quillrun's own failures of TLS and of its settings are its 451s.
    "bs_tls_failure_is_451_4_7_0": Row(
        case(STARTTLS_SETTINGS, leaf="expired", **BS_MAIL), b"", 1,
        check=bs_refused([451, b"4.7.0 TLS with " + HOST + b" failed: certificate expired"])),
    "bs_settings_fault_is_451_4_3_5": Row(
        case(["tls starttls", "user alice", f"pasword_file {SECRET_FILE}"], server="script", **BS_MAIL), b"", 1,
        check=bs_refused([451, b"4.3.5 " + QUILLRUN_INI.encode() + b" line 3: unknown key pasword_file"])),
    "bs_session_through_starttls_and_auth": Row(
        case(STARTTLS_SETTINGS, argv=("-bs",), stdin=b"",
             session=[["helo", "[127.0.0.1]"], ["mail", CLIENT.decode()], ["rcpt", "a@b"], ["data", TEXT], ["quit"]]),
        b"", 0, check=bs_session),
}

# Wine turns a file's Unix permission bits into an access list of its own
# making; the Windows rule on access lists has unit rows instead.
WINE_MODES = "the permission bits of a secret file are the Linux rule; Wine has no access lists of its own"
def within(seconds):
    def check(t, r):
        nothing_delivered(t, r)
        t.assertLess(r.elapsed, seconds)
    return check


if not WRAPPED:
    # A password_command as /bin/sh reads it. One that writes 200 MB without a
    # line end is refused at 16 KiB, in little time and memory; one whose
    # line has come and that has exited is not waited for after it, though a
    # process it left keeps its output open.
    ROWS["password_command_endless_line_refused"] = Row(
        case(["tls starttls", "user alice", "password_command head -c 200000000 /dev/zero | tr '\\0' x"],
             rlimit_as=address_space(64 << 20), timeout=30),
        b"-ERR No password for alice: longer than 16 KiB\n", 1, check=within(20))
    ROWS["password_command_done_while_its_output_is_held"] = delivered(
        case(["tls starttls", "user alice", "password_command (sleep 60 &); echo " + PASSWORD.decode()], timeout=30),
        AUTH_PLAIN, [b"PLAIN", USER], check=lambda t, r: t.assertLess(r.elapsed, 20))
    ROWS["secret_file_readable_by_others_refused"] = refused(
        case(STARTTLS_SETTINGS, modes={SECRET_FILE: 0o644}),
        f"-ERR No password for alice: {SECRET_FILE} may be read by others (chmod 600 {SECRET_FILE}, or chmod 640 {SECRET_FILE} with the web server's group)\n".encode())

# Settings someone else may have written would run their password_command
# as the caller: refused, with the command that mends them.
# Wine gives mode 0666 an access list that lets Everyone write.
OPEN_FOLDER = "/tmp/open"
def ungrant(path):
    return (f'icacls "{path}" /inheritance:d /remove:g *S-1-1-0 *S-1-5-11 *S-1-5-32-545 '
            f'/grant *S-1-5-32-545:R' if WRAPPED else f"chmod go-w {path}")


ROWS["ini_others_may_write_refused"] = refused(
    case(STARTTLS_SETTINGS, modes={QUILLRUN_INI: 0o666}),
    f"-ERR {QUILLRUN_INI}: may be written by others ({ungrant(QUILLRUN_INI)})\n".encode())
# A CA file others may write would have the login sent to their server:
# refused as quillrun.ini is, though it trusts the very server here.
ROWS["tls_ca_file_others_may_write_refused"] = refused(
    case(STARTTLS_SETTINGS + [f"tls_ca_file {PRIVATE_CA}"], leaf="other", modes={PRIVATE_CA: 0o666}),
    f"-ERR {PRIVATE_CA}: may be written by others ({ungrant(PRIVATE_CA)})\n".encode())
if not WRAPPED:
    ROWS["ini_in_a_folder_others_may_write_refused"] = refused(
        case(STARTTLS_SETTINGS, ini=f"{OPEN_FOLDER}/quillrun.ini", dirs=[OPEN_FOLDER], modes={OPEN_FOLDER: 0o777}),
        f"-ERR {OPEN_FOLDER}/quillrun.ini: is in a folder others may write "
        f"(chmod go-w {OPEN_FOLDER}, or chmod +t {OPEN_FOLDER})\n".encode())

# Files of another user (others_folder). The link points at a private file
# of the caller's in the case. Wine names its account by SID alone.
OTHERS = others_folder("quillrun-e2e-others-")
if OTHERS:
    with open(f"{OTHERS}/quillrun.ini", "w") as f:
        f.write("".join(s + "\n" for s in STARTTLS_SETTINGS))
    os.chown(f"{OTHERS}/quillrun.ini", OTHER_UID, OTHER_UID)
    OWN = (f'icacls "{OTHERS}/quillrun.ini" /setowner "*S-1-5-21-0-0-0-1000"' if WRAPPED
           else f"chown root {OTHERS}/quillrun.ini")
    ROWS["ini_of_another_user_refused"] = refused(
        case(None, ini=f"{OTHERS}/quillrun.ini"),
        f"-ERR {OTHERS}/quillrun.ini: belongs to another user ({OWN})\n".encode())
if OTHERS and not WRAPPED:
    os.symlink(f"/run/e2e/cwd/{PRIVATE_FILE}", f"{OTHERS}/secret-link")
    os.lchown(f"{OTHERS}/secret-link", OTHER_UID, OTHER_UID)
    ROWS["password_file_linked_by_another_user_refused"] = refused(
        case(["tls starttls", "user alice", f"password_file {OTHERS}/secret-link"],
             files={PRIVATE_FILE: "another secret of the caller's\n"}, modes={PRIVATE_FILE: 0o600}),
        f"-ERR No password for alice: {OTHERS}/secret-link is a link another user made "
        f"(rm {OTHERS}/secret-link)\n".encode())
    os.symlink(f"/run/e2e/cwd/{PRIVATE_CA}", f"{OTHERS}/ca-link")
    os.lchown(f"{OTHERS}/ca-link", OTHER_UID, OTHER_UID)
    ROWS["tls_ca_file_linked_by_another_user_refused"] = refused(
        case(STARTTLS_SETTINGS + [f"tls_ca_file {OTHERS}/ca-link"], leaf="other"),
        f"-ERR {OTHERS}/ca-link: is a link another user made (rm {OTHERS}/ca-link)\n".encode())

LINUX_FOLDERS = "Windows judges no folder"
WINE_LINKS = "Wine opens a Linux link as its target, never as a reparse point; owned_by_trusted has unit rows"


class Submission(table(ROWS)):
    if WRAPPED:
        @unittest.skip(WINE_MODES)
        def test_secret_file_readable_by_others_refused(self):
            pass

        @unittest.skip(LINUX_FOLDERS)
        def test_ini_in_a_folder_others_may_write_refused(self):
            pass

        @unittest.skip(WINE_LINKS)
        def test_password_file_linked_by_another_user_refused(self):
            pass

        @unittest.skip(WINE_LINKS)
        def test_tls_ca_file_linked_by_another_user_refused(self):
            pass
    if OTHERS is None:
        @unittest.skip(FOREIGN)
        def test_ini_of_another_user_refused(self):
            pass
    if OTHERS is None and not WRAPPED:
        @unittest.skip(FOREIGN)
        def test_password_file_linked_by_another_user_refused(self):
            pass

        @unittest.skip(FOREIGN)
        def test_tls_ca_file_linked_by_another_user_refused(self):
            pass


if __name__ == "__main__":
    unittest.main()
