"""The server's addresses end to end: each tried in turn (RFC 5321 5.1),
IPv6 as IPv4, an IPv6 literal. Names resolve through the sandbox's
/etc/hosts alone (tools/namespaces.py), which each row writes; under Wine
through Wine's getaddrinfo, which reads the same file. The order of the
tries and which failure is named are unit rows (connection_test.cpp); here
stands the wiring through the real resolver and sockets. A name that does
not resolve is test_sender_connection's "unresolvable_host".
"""

import base64

from harness import HOST, QUILLRUN_INI, WRAPPED, Case, Row, dialogue, table

MSG = b"Subject: s\n\nhi\n"
OWN = f"127.0.0.1\t{HOST.decode()} localhost\n"  # what the sandbox's /etc/hosts holds anyway
USER, PASSWORD = "alice", "s3cret-Pw_7"


def to(host, hosts="", argv=(), **kw):
    """quillrun -host `host` to <a@b>, with the lines `hosts` added to /etc/hosts."""
    return Case(argv=["quillrun", "-host", host, *argv, "a@b"], stdin=MSG, hosts=OWN + hosts, **kw)


def delivered(case, check=None):
    return Row(case, b"", 0, commands=dialogue(b"a@b"), check=check)


def debug_has(text):
    def check(t, r):
        t.assertIn(text, r.logs["quillrun.debug"] or b"")
    return check


def logged_in_clear(case):
    """A login without TLS, which goes to loopback alone: PLAIN, then the message."""
    auth = b"AUTH PLAIN " + base64.b64encode(f"\0{USER}\0{PASSWORD}".encode())
    commands = [b"EHLO " + HOST, auth, *dialogue(b"a@b")[1:]]
    return Row(case, b"", 0, commands=commands)


ROWS = {
    "second_address_takes_it_after_first_refuses": delivered(
        to("relay.test", "127.0.0.1\trelay.test\n127.0.0.2\trelay.test\n", argv=("-debug",), listen="127.0.0.2"),
        check=debug_has(b"Open socket to (relay.test:25)\nCould not connect to 127.0.0.1 () Connection Refused\n"
                        b"Socket opened \n")),
    "name_reached_over_ipv6": delivered(to("six.test", "::1\tsix.test\n", listen="::1")),
    "ipv6_literal_is_loopback_for_a_login": logged_in_clear(
        to("[::1]", listen="::1", script={"EHLO": "250-e2e.test\r\n250 AUTH PLAIN\r\n", "AUTH": "235 ok\r\n"},
           files={QUILLRUN_INI: f"tls off\nuser {USER}\npassword_file secret\n", "secret": PASSWORD + "\n"},
           modes={"secret": 0o600}, env={"QUILLRUN_INI": QUILLRUN_INI} if WRAPPED else {})),
}


class Addresses(table(ROWS)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
