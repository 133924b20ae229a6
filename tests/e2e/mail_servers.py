"""Runs quillrun against a real mail server (Postfix or OpenSMTPD) from
Debian's packages, unpacked by tools/fetch-mail-servers.sh, and collects what
local delivery put into the recipients' maildirs.

    run = run_server("postfix", [{"argv": [...], "stdin": "..."}, ...])
    run["results"][i]["mailboxes"]["ann"], run["log"]

A case with "client": [command...] runs that command instead of quillrun,
with quillrun's path inside the sandbox added as its last argument: a mail
library that starts quillrun itself.

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

import sandbox
from harness import HOST, PYTHON, USERNAME, in_namespaces

HERE = os.path.dirname(os.path.abspath(__file__))
CACHE = os.environ.get("QUILLRUN_MAIL_SERVERS", os.path.join(HERE, "..", "..", "build", "mail-servers"))
SERVERS = ("postfix", "opensmtpd")
DOMAIN = "example.org"
RECIPIENTS = ("ann", "bob", "cat", "dan")  # local users; anything else is unknown
# A message from this sender is refused at its end, with this reply to ".".
REFUSED_SENDER = f"refused@{DOMAIN}"
REFUSED_REPLY = "550 5.7.1 refused at the end of the message"
HOMES = "/run/mail"


def unpacked(server):
    """The unpacked package tree, or None when tools/fetch-mail-servers.sh has not run."""
    tree = os.path.abspath(os.path.join(CACHE, server))
    return tree if os.path.isfile(os.path.join(tree, "usr", "sbin", SERVER_BINARY[server])) else None


def run_server(server, cases, timeout=120):
    request = json.dumps({"server": server, "tree": unpacked(server), "cases": cases})
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
        SERVER_START[server](package_files, log)
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


def start_postfix(package_files, log):
    write("/etc/postfix/main.cf", POSTFIX_MAIN)
    write("/etc/postfix/master.cf", POSTFIX_MASTER)
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


def start_opensmtpd(_, log):
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
    proc = subprocess.run(args, executable=executable, cwd=sandbox.CWD,
                          env=sandbox.environment({"username": USERNAME}), input=case["stdin"].encode("latin-1"),
                          capture_output=True, timeout=60)
    drained = wait_for_empty_queue(queue_dirs)
    return {"status": proc.returncode, "stdout": proc.stdout.decode("latin-1"),
            "stderr": proc.stderr.decode("latin-1"), "drained": drained,
            "mailboxes": take_mailboxes(), "tmp": sandbox.listing("/tmp"),
            "queue": queued(queue_dirs)}


if __name__ == "__main__":
    inside()
