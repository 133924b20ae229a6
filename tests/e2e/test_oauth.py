"""Submission with a token quillrun gets itself, end to end: the token
request to an OAuth 2.0 endpoint (RFC 6749 4.4 client credentials, 6 a
refresh token) over verified TLS, directly or through a proxy's CONNECT, the
token cache, and the login with XOAUTH2; and what is reported when any of
that fails.

token_endpoint.py plays the endpoint at login.test (and at
login.microsoftonline.com for a tenant) with pki.py's "login" leaf, which
each sandbox's system roots trust: it checks every request's form and
answers as Microsoft's and Google's endpoints do. The mail server is
aiosmtpd as a provider's on 587 (tools/real_server.py), which takes for
XOAUTH2 the access token the endpoint minted last. Every row also checks
that no client secret, refresh token or access token shows on standard
output or error or in either log, and that nothing but the cache is left
beside them.
"""

import base64
import json
import os
import re
import time
import unittest

import pki
from token_endpoint import form_encoded
from harness import (FOREIGN, FROM, GREETING, HOST, OTHER_UID, QUILLRUN_INI, SENDER, WRAPPED, Case, Row,
                     others_folder, table, wire)

MSG = b"Subject: s\n\nhi\n"
MAILBOX = "alice@example.org"  # the XOAUTH2 user
CLIENT_ID = "0f9e8d7c-6b5a-4c3d-9e8f-7a6b5c4d3e2f"
CLIENT_SECRET = "Qx8~Zr.Pq3_kLm-9vWs7Yt2~Ab4.Cd6_Ef8-Gh"  # as Microsoft's: "~", which a form encodes
REFRESH_TOKEN = "1//0gLx-Rf3sh_T0ken/Wq9+Zy=Ab4Cd6Ef8Gh"  # as Google's: "/", which a form encodes
GOOGLE_CLIENT_SECRET = "GOCSPX-1a2B3c4D5e6F7g8H9i0J-kLmN"  # an installed app's
STALE_TOKEN = "EwBwA8l6BAAU-revoked-by-the-provider"  # a cached token the server no longer takes
OTHER_TOKEN = "EwBwA8l6BAAU-minted-for-another-client"
TENANT = "contoso.onmicrosoft.com"
TOKEN_URL = "https://login.test/token"
EXCHANGE_SCOPE = "https://outlook.office365.com/.default"  # Microsoft's for client credentials
GMAIL_SCOPE = "https://mail.google.com/"
SECRET_FILE = "secret"  # in the working directory: the client secret or the refresh token
CACHE = "token-cache.json"  # in the working directory
PRIVATE_FILE = "private"  # in the working directory, a file of the caller's a link points at
SECRETS = [CLIENT_SECRET, REFRESH_TOKEN, GOOGLE_CLIENT_SECRET, STALE_TOKEN, OTHER_TOKEN]
HOSTS = f"127.0.0.1\t{HOST.decode()} login.test login.microsoftonline.com localhost\n"
PROXY_PORT = 3128

SETTINGS = ["tls starttls", f"user {MAILBOX}", f"oauth2_client_id {CLIENT_ID}", f"password_file {SECRET_FILE}"]
MICROSOFT = SETTINGS + ["oauth2_grant client_credentials", f"oauth2_tenant {TENANT}"]
CLIENT_CREDENTIALS = SETTINGS + ["oauth2_grant client_credentials", f"oauth2_token_url {TOKEN_URL}",
                                 f"oauth2_scope {EXCHANGE_SCOPE}"]
CACHED = CLIENT_CREDENTIALS + [f"oauth2_token_cache {CACHE}"]
REFRESH = SETTINGS + ["oauth2_grant refresh_token", f"oauth2_token_url {TOKEN_URL}", f"oauth2_scope {GMAIL_SCOPE}",
                      f"oauth2_client_secret {GOOGLE_CLIENT_SECRET}", f"oauth2_token_cache {CACHE}"]
CLIENT_CREDENTIALS_FORM = [["grant_type", "client_credentials"], ["client_id", CLIENT_ID],
                           ["client_secret", CLIENT_SECRET], ["scope", EXCHANGE_SCOPE]]
REFRESH_FORM = [["grant_type", "refresh_token"], ["client_id", CLIENT_ID], ["refresh_token", REFRESH_TOKEN],
                ["client_secret", GOOGLE_CLIENT_SECRET], ["scope", GMAIL_SCOPE]]
TOKEN = {"kind": "token"}


def cache_record(access_token, client_id=CLIENT_ID):
    """A token cache's record, as quillrun writes it, for CACHED's settings: an hour to live."""
    return json.dumps({"url": TOKEN_URL, "client": client_id, "scope": EXCHANGE_SCOPE, "user": MAILBOX, "from": "",
                       "token": access_token, "expires": int(time.time()) + 3600, "refresh": ""})


def case(settings, answers=(TOKEN,), form=CLIENT_CREDENTIALS_FORM, secret=CLIENT_SECRET, leaf="login",
         endpoint_host="login.test", path="/token", accept="last", listening=True, cache=None, cache_mode=0o600,
         files=None, server="aiosmtpd", argv=("a@b",), hosts=HOSTS, **kw):
    """quillrun with a quillrun.ini of `settings` and `secret` in SECRET_FILE
    (`cache` in CACHE when given), to `server` on 587 by STARTTLS, after a
    token request to the endpoint at `endpoint_host`, which serves pki's
    `leaf` (nothing listens unless `listening`), expects `path` and `form`
    and gives `answers`."""
    p = pki.get()
    files = {QUILLRUN_INI: "".join(s + "\n" for s in settings), SECRET_FILE: secret + "\n", **(files or {})}
    modes = {SECRET_FILE: 0o600}
    if cache is not None:
        files[CACHE], modes[CACHE] = cache, cache_mode
    return Case(argv=["quillrun", *argv], stdin=MSG, server=server, port=587, hosts=hosts, trusted=p.root,
                tls={"mode": "starttls", "cert": p.served["good"], "key": p.keys["good"]},
                endpoint={"port": 443 if listening else None, "cert": p.served[leaf], "key": p.keys[leaf],
                          "host": endpoint_host, "path": path, "form": form, "answers": list(answers),
                          "accept": accept, "user": MAILBOX},
                files=files, modes=modes, read_back=[CACHE, PRIVATE_FILE],
                env={"QUILLRUN_INI": QUILLRUN_INI} if WRAPPED else {}, **kw)


def failed(settings, answer, **kw):
    """A run whose token request gets `answer`, to the scripted server, which it must never reach."""
    return case(settings, answers=[answer], server="script", **kw)


def b64(text):
    return base64.b64encode(text.encode("latin-1") if isinstance(text, str) else text)


def xoauth2(token):
    """XOAUTH2's initial response for `token`, base64-encoded."""
    return b64(f"user={MAILBOX}\x01auth=Bearer {token}\x01\x01")


def initial(token):
    """AUTH with the initial response: the line fits 512 octets."""
    return b"AUTH XOAUTH2 " + xoauth2(token) + b"\r\n"


def after_334(token):
    """AUTH alone, and the response after the server's 334 (RFC 4954 4)."""
    return b"AUTH XOAUTH2\r\n" + xoauth2(token) + b"\r\n"


def refused(token):
    """AUTH with a token the server refuses in a 334 challenge, which is answered with an empty line."""
    return initial(token) + b"\r\n"


EHLO = b"EHLO " + HOST + b"\r\n"
MAIL = b"MAIL FROM:<" + SENDER + b">\r\n"
AFTER_MAIL = b"RCPT TO:<a@b>\r\nDATA\r\n" + wire(b"Subject: s", FROM, b"To: <a@b>", b"", b"hi") + b".\r\nQUIT\r\n"


def minted(r, n):
    """The access token the endpoint minted n-th (from 1)."""
    return r.endpoint["minted"][n - 1].decode()


def delivered(*logins):
    """One message per login, in order, each after exactly that login: a
    login is the number of the minted token sent in an initial response,
    or a function of the result giving the AUTH bytes."""
    def check(t, r):
        t.assertEqual(len(r.sessions), len(logins), "messages")
        for s, login in zip(r.sessions, logins):
            auth = login(r) if callable(login) else initial(minted(r, login))
            t.assertEqual(s["login"], [b"XOAUTH2", MAILBOX.encode()])
            t.assertEqual(s["raw"], EHLO + b"STARTTLS\r\n" + EHLO + auth + MAIL + AFTER_MAIL)
    return check


def requests(n):
    def check(t, r):
        t.assertEqual(len(r.endpoint["requests"]), n, "token requests")
    return check


def values(node):
    """Every string in a JSON value."""
    if isinstance(node, dict):
        return [s for v in node.values() for s in values(v)]
    if isinstance(node, list):
        return [s for v in node for s in values(v)]
    return [node] if isinstance(node, str) else []


def cache_holds(*wanted, path=CACHE):
    """The cache is one whole JSON object, private to its owner, holding the
    tokens `wanted` gives (functions of the result)."""
    def check(t, r):
        if path.startswith("/"):  # outside the sandbox, where the test reads it
            t.assertFalse(os.path.islink(path), "the link replaced")
            with open(path, "rb") as f:
                text, mode = f.read(), os.stat(path).st_mode & 0o777
        else:
            text, mode = r.texts[path], r.cwd_modes.get(path)
        record = json.loads(text or b"null")
        t.assertIsInstance(record, dict, text)
        for want in wanted:
            t.assertIn(want(r), values(record))
        if not WRAPPED:  # Wine gives its files the umask's bits and an access list of its own
            t.assertEqual(mode, 0o600)
    return check


def last_token(r):
    return r.endpoint["minted"][-1].decode()


def last_refresh_token(r):
    return r.endpoint["refresh_tokens"][-1].decode()


def sent_name(name):
    def check(t, r):
        t.assertEqual(r.endpoint["sni"], [name.encode()], "the endpoint's name in the TLS hello")
    return check


def debug_shows(text):
    def check(t, r):
        t.assertIn(text.encode(), r.logs["quillrun.debug"] or b"")
    return check


def within(seconds):
    def check(t, r):
        if not WRAPPED:  # under Wine the run includes Wine's own start
            t.assertLess(r.elapsed, seconds)
    return check


def all_delivered(runs):
    """`runs` runs at once, each delivered with a token the endpoint minted."""
    def check(t, r):
        t.assertEqual([(run["status"], run["stdout"]) for run in r.runs], [(0, b"")] * runs)
        t.assertEqual(len(r.sessions), runs, "messages")
        tokens = {initial(token.decode()) for token in r.endpoint["minted"]}
        for s in r.sessions:
            t.assertEqual(s["login"], [b"XOAUTH2", MAILBOX.encode()])
            t.assertIn(s["raw"][len(EHLO + b"STARTTLS\r\n" + EHLO):-len(MAIL + AFTER_MAIL)], tokens)
        t.assertLessEqual(len(r.endpoint["requests"]), runs)
    return check


def connected_through_the_proxy(t, r):
    heads = [h.split(b"\r\n")[0] for h in r.proxy["heads"]]
    t.assertEqual(heads, [b"CONNECT login.test:443 HTTP/1.1"])


def bs_answers(pattern):
    """quillrun -bs answers MAIL with a reply that matches `pattern`."""
    def check(t, r):
        t.assertEqual(r.replies[:2], [GREETING, [250, HOST]])
        t.assertRegex(r.replies[2][1], pattern)
        t.assertEqual([r.replies[2][0], r.replies[3]], [451, [221, b"2.0.0 Bye"]])
    return check


def secret_forms(r):
    """Each secret of the row and each token the endpoint handed out, as
    read, as a form carries it, and as XOAUTH2 sends it."""
    texts = SECRETS + [v.decode() for k in ("minted", "refresh_tokens") for v in (r.endpoint or {}).get(k, [])]
    return [form for s in texts for form in (s.encode(), form_encoded(s).encode(), xoauth2(s))]


def kept_and_tidy(c, t, r):
    """The check of every row: the endpoint found each request as it must
    be; no secret in any output or log; in the working directory nothing
    but the case's files, the cache and the logs."""
    if r.endpoint:
        t.assertEqual(r.endpoint["faults"], [], "the token requests")
    outputs = {"stdout": r.stdout, "stderr": r.stderr, **{k: v or b"" for k, v in r.logs.items()},
               **{f"run {i} {k}": run[k] for i, run in enumerate(r.runs or []) for k in ("stdout", "stderr")},
               "replies": repr(r.replies).encode()}
    for form in secret_forms(r):
        for name, text in outputs.items():
            t.assertNotIn(form, text, f"a secret in {name}")
    allowed = {p for p in c.files if not p.startswith("/")} | {CACHE, "quillrun.log", "quillrun.debug"}
    t.assertLessEqual(set(r.cwd_files), allowed, "files left in the working directory")


def row(c, stdout=b"", status=0, checks=(), commands=None):
    def check(t, r):
        kept_and_tidy(c, t, r)
        for one in checks:
            one(t, r)
    return Row(c, stdout, status, commands=commands, check=check)


def token_failure(words):
    """stdout of a failed token request to login.test, its reason holding `words`."""
    return re.compile(rb"\A-ERR Token request to login\.test failed: [^\n]*" + re.escape(words) + rb"[^\n]*\n\Z")


TLS_FAILED = b"-ERR TLS with login.test failed: "
BS_MAIL = dict(argv=("-bs",), session=[["helo", "[127.0.0.1]"], ["mail", "s@example.net"], ["quit"]])
DEBUG = ("-debug", "a@b")
RUNS = 8 if WRAPPED else 20  # at once; each a Wine session's process under Wine

ROWS = {
    # Microsoft's endpoint for a tenant, its default scope; the request's form
    # and fields as token_endpoint checks them.
    "client_credentials_delivered": row(
        case(MICROSOFT, endpoint_host="login.microsoftonline.com", path=f"/{TENANT}/oauth2/v2.0/token", argv=DEBUG),
        checks=[delivered(1), requests(1), sent_name("login.microsoftonline.com"),
                debug_shows(f"https://login.microsoftonline.com/{TENANT}/oauth2/v2.0/token")]),
    # A token of 200 seconds is past its use (5 minutes before expiry): the
    # second run asks again, with the refresh token the first got, and the
    # cache keeps the one rotated after it. The answers come chunked.
    "refresh_grant_rotated_token_kept_and_used_next": row(
        case(REFRESH, answers=[dict(TOKEN, expires_in=200, chunked=True)], form=REFRESH_FORM, secret=REFRESH_TOKEN,
             repeat=2, argv=DEBUG),
        checks=[delivered(1, 2), requests(2), cache_holds(last_token, last_refresh_token)]),
    "three_runs_one_token_request": row(
        case(CACHED, repeat=3), checks=[delivered(1, 1, 1), requests(1), cache_holds(last_token)]),
    # Microsoft's tokens run past 2,000 bytes: AUTH alone, the response after 334.
    "long_token_sent_after_334": row(
        case(CLIENT_CREDENTIALS, answers=[dict(TOKEN, long=True)]),
        checks=[delivered(lambda r: after_334(minted(r, 1))), requests(1)]),
    # The server refuses the cached token: a new one, and AUTH once more in the same session.
    "cached_token_refused_fetched_again": row(
        case(CACHED, cache=cache_record(STALE_TOKEN), argv=DEBUG),
        checks=[delivered(lambda r: refused(STALE_TOKEN) + initial(minted(r, 1))), requests(1),
                cache_holds(last_token)]),
    "fresh_token_refused_too_is_asked_for_once": row(
        case(CACHED, cache=cache_record(STALE_TOKEN), accept="none"),
        b"-ERR Authentication failed (535 5.7.8 Authentication credentials invalid)\n", 1, checks=[requests(1)]),
    # A refresh grant whose tokens come without expires_in: none is taken
    # from the cache, but the refresh token rotated with it is kept for the next run.
    "refresh_grant_without_expiry_keeps_the_rotated_token": row(
        case(REFRESH, answers=[dict(TOKEN, expires_in=0)], form=REFRESH_FORM, secret=REFRESH_TOKEN, repeat=2),
        checks=[delivered(1, 2), requests(2), cache_holds(last_refresh_token)]),
    "corrupt_cache_replaced": row(
        case(CACHED, cache='{"access_token": "EwBwA8l6'),
        checks=[delivered(1), requests(1), cache_holds(last_token)]),
    "cache_of_other_settings_replaced": row(
        case(CACHED, cache=cache_record(OTHER_TOKEN, client_id="another-client")),
        checks=[delivered(1), requests(1), cache_holds(last_token)]),
    "proxy_connect_honoured": row(
        # The name leads nowhere here (nothing listens on 127.0.0.2): only the
        # proxy, which has its own route to login.test, reaches the endpoint.
        case(CLIENT_CREDENTIALS + [f"oauth2_proxy 127.0.0.1:{PROXY_PORT}"],
             hosts=HOSTS.replace("login.test ", "") + "127.0.0.2\tlogin.test\n",
             proxy={"port": PROXY_PORT, "routes": {"login.test:443": 443}}),
        checks=[delivered(1), requests(1), connected_through_the_proxy]),
    "runs_at_once_with_an_empty_cache": row(
        case(CACHED, accept="any", parallel=[["a@b"]] * RUNS, timeout=120), status=None,
        checks=[all_delivered(RUNS), cache_holds()]),

    # Failures: status 1, one line, no SMTP connection.
    "invalid_client_aadsts7000215": row(
        failed(CLIENT_CREDENTIALS, {"kind": "invalid_client"}, argv=DEBUG),
        token_failure(b"invalid_client: AADSTS7000215: Invalid client secret provided."), 1, [requests(1)], []),
    "invalid_grant": row(
        failed(REFRESH, {"kind": "invalid_grant"}, form=REFRESH_FORM, secret=REFRESH_TOKEN),
        token_failure(b"invalid_grant"), 1, [requests(1)], []),
    # An endpoint that quotes the request shows no secret: stdout and every
    # log are checked for each form of it, as in every row.
    "endpoint_quoting_the_request": row(
        failed(CLIENT_CREDENTIALS, {"kind": "echo"}, argv=DEBUG),
        token_failure(b"client_secret=<hidden>&scope="), 1, [requests(1)], []),
    # Another file named as the cache (here one holding a client secret) is
    # refused and left as it was.
    "file_not_a_cache_refused": row(
        failed(CACHED, TOKEN, cache=CLIENT_SECRET + "\n"),
        f"-ERR Token cache: {CACHE} is not a token cache\n".encode(), 1,
        [requests(0), lambda t, r: t.assertEqual(r.texts[CACHE], (CLIENT_SECRET + "\n").encode())], []),
    # Past the size of any record quillrun writes, and still someone's file.
    "large_file_not_a_cache_refused": row(
        failed(CACHED, TOKEN, cache="line of a large file\n" * 5000),
        f"-ERR Token cache: {CACHE} is not a token cache\n".encode(), 1,
        [requests(0), lambda t, r: t.assertEqual(r.texts[CACHE], ("line of a large file\n" * 5000).encode())], []),
    "endpoint_untrusted": row(failed(CLIENT_CREDENTIALS, TOKEN, leaf="other"),
                              TLS_FAILED + b"certificate not trusted\n", 1, [requests(0)], []),
    "endpoint_for_another_name": row(
        failed(CLIENT_CREDENTIALS, TOKEN, leaf="wrong_name"),
        TLS_FAILED + b"certificate is for " + ", ".join(pki.WRONG_NAMES).encode() + b"\n", 1, [requests(0)], []),
    "endpoint_refuses_the_connection": row(failed(CLIENT_CREDENTIALS, TOKEN, listening=False),
                                           token_failure(b"(Connection Refused)"), 1, commands=[]),
    "endpoint_answers_500_in_html": row(failed(CLIENT_CREDENTIALS, {"kind": "html_500"}),
                                        token_failure(b"HTTP 500"), 1, [requests(1)], []),
    "endpoint_answers_10_mb": row(failed(CLIENT_CREDENTIALS, {"kind": "huge"}), token_failure(b"64 KiB"), 1,
                                  [requests(1)], []),
    # The token request's own limit, 30 seconds.
    "endpoint_silent": row(failed(CLIENT_CREDENTIALS, {"kind": "silent"}, timeout=40),
                           token_failure(b""), 1, [requests(1), within(35)], []),
    "bs_token_failure_is_451_4_7_0": row(
        failed(CLIENT_CREDENTIALS, {"kind": "invalid_client"}, **BS_MAIL), b"", 1,
        [bs_answers(rb"\A4\.7\.0 Token request to login\.test failed: invalid_client: AADSTS7000215: ")], []),
}

if not WRAPPED:
    ROWS["cache_others_may_read_refused"] = row(
        failed(CACHED, TOKEN, cache=cache_record(STALE_TOKEN), cache_mode=0o644),
        f"-ERR Token cache: {CACHE} may be read by others (chmod 600 {CACHE}, or chmod 640 {CACHE} with the web server's group)\n".encode(), 1, [requests(0)], [])

# A link of another user's where the cache goes (others_folder). It points
# at a private file of the caller's, which must come through unwritten.
OTHERS = None if WRAPPED else others_folder("quillrun-e2e-oauth-")
if OTHERS:
    os.symlink(f"/run/e2e/cwd/{PRIVATE_FILE}", f"{OTHERS}/{CACHE}")
    os.lchown(f"{OTHERS}/{CACHE}", OTHER_UID, OTHER_UID)

    def private_file_unwritten(t, r):
        t.assertEqual(r.texts[PRIVATE_FILE], b"a private file of the caller's\n")

    ROWS["cache_linked_by_another_user_replaced"] = row(
        case(CLIENT_CREDENTIALS + [f"oauth2_token_cache {OTHERS}/{CACHE}"],
             files={PRIVATE_FILE: "a private file of the caller's\n"}),
        checks=[delivered(1), requests(1), private_file_unwritten, cache_holds(last_token, path=f"{OTHERS}/{CACHE}")])

    # A cache another account's run left in the caller's folder, which the
    # caller may not open: passed over and replaced, as an administrator's
    # test run as root leaves one for the web server's account.
    UNREADABLE = f"{OTHERS}/unreadable-{CACHE}"
    with open(UNREADABLE, "w") as f:
        f.write(cache_record(OTHER_TOKEN))
    os.chmod(UNREADABLE, 0o600)
    os.chown(UNREADABLE, OTHER_UID, OTHER_UID)
    ROWS["cache_the_caller_may_not_open_replaced"] = row(
        case(CLIENT_CREDENTIALS + [f"oauth2_token_cache {UNREADABLE}"]),
        checks=[delivered(1), requests(1), cache_holds(last_token, path=UNREADABLE)])

WINE_MODES = "the permission bits of the cache are the Linux rule; Wine has no access lists of its own"
WINE_LINKS = "Wine opens a Linux link as its target, never as a reparse point"


class OAuth(table(ROWS)):
    if WRAPPED:
        @unittest.skip(WINE_MODES)
        def test_cache_others_may_read_refused(self):
            pass

        @unittest.skip(WINE_LINKS)
        def test_cache_linked_by_another_user_replaced(self):
            pass

        @unittest.skip(WINE_MODES)
        def test_cache_the_caller_may_not_open_replaced(self):
            pass
    elif OTHERS is None:
        @unittest.skip(FOREIGN)
        def test_cache_linked_by_another_user_replaced(self):
            pass

        @unittest.skip(FOREIGN)
        def test_cache_the_caller_may_not_open_replaced(self):
            pass


if __name__ == "__main__":
    unittest.main()
