"""Runs quillrun against a real mail server (Postfix or OpenSMTPD) from
Debian's packages, unpacked by tools/fetch-mail-servers.sh, and collects what
local delivery put into the recipients' maildirs.

    run = run_server("postfix", [{"argv": [...], "stdin": "..."}, ...])
    run["results"][i]["mailboxes"]["ann"], run["log"]

A case with "client": [command...] runs that command instead of quillrun,
with quillrun's path inside the sandbox added as its last argument: a mail
library that starts quillrun itself. A case with "settings" runs with that
quillrun.ini (private to its owner, since it may hold the password); with
such a case Postfix is also a provider's submission server: STARTTLS on 587
and implicit TLS on 465, both with pki.py's "good" certificate (its root
trusted in the sandbox) and only for a client logged in as SUBMISSION_USER
(Cyrus SASL, sasldb).

One sandbox per server: the server starts once and the cases run one after
the other against it, each waiting until the server's queue is empty again.
The sandbox is tools/namespaces.py's, with all ids mapped (both servers
switch to users of their own) and a PID namespace that ends every server
process with it; inside, the unpacked package is laid over /usr, an overlay
on /var holds the queue, and the server's users and the recipients are added
to /etc/passwd.

Byte strings travel as latin-1 text, as in sandbox.py.
"""

import json
import os
import re
import shutil
import socket
import subprocess
import sys
import time

import pki
import sandbox
from harness import HOST, PYTHON, QUILLRUN_INI, USERNAME, in_namespaces

HERE = os.path.dirname(os.path.abspath(__file__))
CACHE = os.environ.get("QUILLRUN_MAIL_SERVERS", os.path.join(HERE, "..", "..", "build", "mail-servers"))
SERVERS = ("postfix", "opensmtpd")
DOMAIN = "example.org"
RECIPIENTS = ("ann", "bob", "cat", "dan")  # local users; anything else is unknown
# A message from this sender is refused at its end, with this reply to ".".
REFUSED_SENDER = f"refused@{DOMAIN}"
REFUSED_REPLY = "550 5.7.1 refused at the end of the message"
SUBMISSION_USER, SUBMISSION_PASSWORD = "alice", "p0stfix-Secret"
SASL_REALM = "mail.test"  # smtpd_sasl_local_domain: a login without "@" is in it
HOMES = "/run/mail"


def unpacked(server):
    """The unpacked package tree, or None when tools/fetch-mail-servers.sh has not run."""
    tree = os.path.abspath(os.path.join(CACHE, server))
    return tree if os.path.isfile(os.path.join(tree, "usr", "sbin", SERVER_BINARY[server])) else None


def run_server(server, cases, timeout=120):
    submission = None
    if any("settings" in case for case in cases):
        p = pki.get()
        submission = {"cert": p.served["good"], "key": p.keys["good"], "root": p.root}
    request = json.dumps({"server": server, "tree": unpacked(server), "cases": cases, "submission": submission})
    proc = subprocess.run(in_namespaces(all_ids=True, pid=True, keep=[CACHE]) + [PYTHON, os.path.abspath(__file__)],
                          input=request.encode(), capture_output=True, timeout=timeout)
    if proc.returncode != 0:
        raise RuntimeError(f"{server} sandbox failed ({proc.returncode}):\n"
                           f"{proc.stderr.decode(errors='replace')[-5000:]}")
    return json.loads(proc.stdout)


# --- Inside: the server, the cases -------------------------------------------

def inside():
    request = json.load(sys.stdin)
    server, tree = request["server"], request["tree"]
    sandbox.mount("overlay", "/usr", f"lowerdir={tree}/usr:/usr")
    package_files = sandbox.read(f"{tree}/etc/postfix/postfix-files")
    args, executable = sandbox.setup({"argv": ["quillrun"]})
    for d in ("var-upper", "var-work"):
        os.makedirs(f"{sandbox.SCRATCH}/{d}")
    sandbox.mount("overlay", "/var", f"lowerdir=/var,upperdir={sandbox.SCRATCH}/var-upper,"
                                     f"workdir={sandbox.SCRATCH}/var-work")
    add_users(SERVER_USERS[server])
    log = open(f"{sandbox.SCRATCH}/server.log", "wb")

    def server_log():
        """For a failing test to show: what the server said while starting and running."""
        log.flush()
        return "".join(sandbox.read(p) or "" for p in [log.name] + SERVER_LOGS[server])
    try:
        if request["submission"]:
            sandbox.trust(request["submission"]["root"])
        SERVER_START[server](package_files, log, request["submission"])
        wait_for_greeting()
        results = [run_case(case, args, executable, QUEUE[server]) for case in request["cases"]]
    except Exception:
        sys.stderr.write(server_log())
        raise
    json.dump({"results": results, "log": server_log()}, sys.stdout)


def add_users(server_users):
    """The server's own users and groups, then one user per recipient with a
    home of its own under /run, all appended to the overlay's /etc."""
    passwd, group = [], []
    uid = 3000
    for name, groups in server_users:
        uid += 1
        passwd.append(f"{name}:x:{uid}:{uid}::/var/empty:/usr/sbin/nologin")
        group.append(f"{name}:x:{uid}:")
        group += [f"{g}:x:{uid + 100 + i}:" for i, g in enumerate(groups)]
    for i, name in enumerate(RECIPIENTS):
        uid = 4001 + i
        passwd.append(f"{name}:x:{uid}:{uid}::{HOMES}/{name}:/usr/sbin/nologin")
        group.append(f"{name}:x:{uid}:")
        os.makedirs(f"{HOMES}/{name}", mode=0o700)
        os.chown(f"{HOMES}/{name}", uid, uid)
    for path, lines in (("/etc/passwd", passwd), ("/etc/group", group)):
        with open(path, "a") as f:
            f.write("".join(line + "\n" for line in lines))


def write(path, text, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


POSTFIX_MAIN = f"""\
compatibility_level = 3.6
myhostname = {HOST.decode()}
mydomain = {DOMAIN}
mydestination = $myhostname, {DOMAIN}
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
# Local users only, no alias database to build; unknown ones are refused at RCPT.
alias_maps =
alias_database =
local_recipient_maps = unix:passwd.byname
home_mailbox = Maildir/
biff = no
message_size_limit = 40000000
mailbox_size_limit = 0
# No DNS in the namespace, no syslog: the log goes to a file.
smtp_dns_support_level = disabled
smtpd_peername_lookup = no
maillog_file = /var/log/postfix.log
# A message From REFUSED_SENDER is refused at its end (a header check
# rejects with 550 5.7.1 and its text).
header_checks = regexp:/etc/postfix/header_checks
"""
POSTFIX_HEADER_CHECKS = f"/^From:.*{re.escape(REFUSED_SENDER)}/ REJECT {REFUSED_REPLY.split(' ', 2)[2]}\n"

# Nothing chrooted (the queue lives in the /var overlay); port 25 on loopback.
POSTFIX_MASTER = """\
127.0.0.1:25 inet n - n - - smtpd
pickup    unix  n - n 60   1 pickup
cleanup   unix  n - n -    0 cleanup
qmgr      unix  n - n 300  1 qmgr
rewrite   unix  - - n -    - trivial-rewrite
bounce    unix  - - n -    0 bounce
defer     unix  - - n -    0 bounce
trace     unix  - - n -    0 bounce
verify    unix  - - n -    1 verify
flush     unix  n - n 1000? 0 flush
proxymap  unix  - - n -    - proxymap
showq     unix  n - n -    - showq
error     unix  - - n -    - error
retry     unix  - - n -    - error
discard   unix  - - n -    - discard
local     unix  - n n -    - local
anvil     unix  - - n -    1 anvil
scache    unix  - - n -    1 scache
postlog   unix-dgram n - n - 1 postlogd
"""


# Submission (RFC 6409) on 587 by STARTTLS and on 465 with implicit TLS
# (RFC 8314), mail taken only after a login. The Received line says how:
# "with ESMTPSA" (RFC 3848).
POSTFIX_SUBMISSION_MAIN = f"""\
smtpd_tls_cert_file = /etc/postfix/tls/cert.pem
smtpd_tls_key_file = /etc/postfix/tls/key.pem
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
smtpd_sasl_local_domain = {SASL_REALM}
smtpd_sasl_security_options = noanonymous
"""
LOGGED_IN_ONLY = ("-o smtpd_sasl_auth_enable=yes -o smtpd_relay_restrictions=permit_sasl_authenticated,reject"
                  " -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject")
POSTFIX_SUBMISSION_MASTER = f"""\
127.0.0.1:587 inet n - n - - smtpd -o smtpd_tls_security_level=encrypt -o smtpd_tls_auth_only=yes {LOGGED_IN_ONLY}
127.0.0.1:465 inet n - n - - smtpd -o smtpd_tls_wrappermode=yes {LOGGED_IN_ONLY}
tlsmgr    unix  - - n 1000? 1 tlsmgr
"""
# Debian's Postfix offers about ten mechanisms whatever mech_list says.
SASL_SMTPD_CONF = "pwcheck_method: auxprop\nauxprop_plugin: sasldb\nmech_list: PLAIN LOGIN\n"
SASLDB = "/etc/sasldb2"  # where Debian's Postfix looks, whatever sasldb_path says


def start_postfix(package_files, log, submission):
    main, master = POSTFIX_MAIN, POSTFIX_MASTER
    if submission:
        main, master = main + POSTFIX_SUBMISSION_MAIN, master + POSTFIX_SUBMISSION_MASTER
        write("/etc/postfix/tls/cert.pem", submission["cert"])
        write("/etc/postfix/tls/key.pem", submission["key"], 0o600)
        write("/etc/postfix/sasl/smtpd.conf", SASL_SMTPD_CONF)
        subprocess.run(["saslpasswd2", "-p", "-c", "-f", SASLDB, "-u", SASL_REALM, SUBMISSION_USER],
                       input=SUBMISSION_PASSWORD.encode(), check=True)
        shutil.chown(SASLDB, "postfix", "postfix")
        os.chmod(SASLDB, 0o640)
    write("/etc/postfix/main.cf", main)
    write("/etc/postfix/master.cf", master)
    write("/etc/postfix/header_checks", POSTFIX_HEADER_CHECKS)
    make_postfix_directories(package_files)
    # -d: in the foreground; the PID namespace ends it.
    subprocess.Popen(["/usr/lib/postfix/sbin/master", "-d"], stdout=log, stderr=log, stdin=subprocess.DEVNULL)


def make_postfix_directories(postfix_files):
    """The queue and data directories with the owners and modes the package
    lists in postfix-files (its text): what `postfix start` would make through
    the post-install script, without its seconds of postconf runs."""
    places = {"$queue_directory": "/var/spool/postfix", "$data_directory": "/var/lib/postfix"}
    owners = {"$mail_owner": "postfix", "$setgid_group": "postdrop", "root": "root", "-": "root"}
    for line in postfix_files.splitlines():
        name, kind, owner, group, mode = (line.strip().split(":") + [""] * 5)[:5]
        top, _, rest = name.partition("/")
        if kind != "d" or top not in places:
            continue
        path = os.path.join(places[top], rest)
        os.makedirs(path, exist_ok=True)
        shutil.chown(path, owners[owner], owners[group])
        os.chmod(path, int(mode, 8))


# A message from REFUSED_SENDER is refused at its end (commit).
OPENSMTPD_CONF = f"""\
table refused {{ "{REFUSED_SENDER}" }}
filter "refuse" phase commit match mail-from <refused> reject "{REFUSED_REPLY}"
listen on 127.0.0.1 port 25 filter "refuse"
smtp max-message-size 40M
action "local" maildir
match from any for domain "{DOMAIN}" action "local"
"""


# OpenSMTPD serves no submission: Debian 12's cannot finish a TLS handshake
# with OpenSSL 3 ("missing private key").
def start_opensmtpd(_, log, submission):
    write("/etc/smtpd.conf", OPENSMTPD_CONF)
    os.makedirs("/var/lib/opensmtpd/empty", exist_ok=True)  # its chroot
    # -d: in the foreground, logging to stderr; the PID namespace ends it.
    subprocess.Popen(["smtpd", "-d", "-f", "/etc/smtpd.conf"], stdout=log, stderr=log,
                     stdin=subprocess.DEVNULL)


SERVER_BINARY = {"postfix": "postfix", "opensmtpd": "smtpd"}
SERVER_USERS = {"postfix": [("postfix", ["postdrop"])],
                "opensmtpd": [("opensmtpd", []), ("opensmtpq", [])]}
SERVER_LOGS = {"postfix": ["/var/log/postfix.log"], "opensmtpd": []}  # besides their output
SERVER_START = {"postfix": start_postfix, "opensmtpd": start_opensmtpd}
# Where a message waits between acceptance and delivery.
QUEUE = {"postfix": ["/var/spool/postfix/" + d for d in ("maildrop", "incoming", "active", "deferred", "hold")],
         "opensmtpd": ["/var/spool/smtpd/" + d for d in ("incoming", "queue", "corrupt")]}


def wait_for_greeting(deadline=30):
    end = time.monotonic() + deadline
    while True:
        try:
            with socket.create_connection(("127.0.0.1", 25), timeout=5) as s:
                if s.recv(512).startswith(b"220"):
                    s.sendall(b"QUIT\r\n")
                    return
        except OSError:
            pass
        if time.monotonic() > end:
            raise RuntimeError("the server did not greet on 127.0.0.1:25")
        time.sleep(0.1)


def queued(dirs):
    return [os.path.join(root, n) for d in dirs for root, _, names in os.walk(d) for n in names]


def wait_for_empty_queue(dirs, deadline=30):
    """True once the queue has stayed empty over a few looks (a message moving
    between two queue directories can slip past a single look)."""
    end = time.monotonic() + deadline
    empty_looks = 0
    while time.monotonic() < end:
        empty_looks = empty_looks + 1 if not queued(dirs) else 0
        if empty_looks == 3:
            return True
        time.sleep(0.05)
    return False


def take_mailboxes():
    """user -> the messages in their maildir, oldest first; the files are removed."""
    boxes = {}
    for user in RECIPIENTS:
        paths = []
        for d in ("new", "cur"):
            folder = f"{HOMES}/{user}/Maildir/{d}"
            if os.path.isdir(folder):
                paths += [os.path.join(folder, n) for n in sorted(os.listdir(folder))]
        messages = []
        for path in paths:
            with open(path, "rb") as f:
                messages.append(f.read().decode("latin-1"))
            os.remove(path)
        if messages:
            boxes[user] = messages
    return boxes


def run_case(case, args, executable, queue_dirs):
    if "client" in case:
        args, executable = case["client"] + [executable], None
    else:
        args = args + case["argv"][1:]
    if "settings" in case:
        write(QUILLRUN_INI, case["settings"], 0o600)
    proc = subprocess.run(args, executable=executable, cwd=sandbox.CWD,
                          env=sandbox.environment({"username": USERNAME}), input=case["stdin"].encode("latin-1"),
                          capture_output=True, timeout=60)
    if "settings" in case:
        os.remove(QUILLRUN_INI)
    drained = wait_for_empty_queue(queue_dirs)
    return {"status": proc.returncode, "stdout": proc.stdout.decode("latin-1"),
            "stderr": proc.stderr.decode("latin-1"), "drained": drained,
            "mailboxes": take_mailboxes(), "tmp": sandbox.listing("/tmp"),
            "queue": queued(queue_dirs)}


if __name__ == "__main__":
    inside()
