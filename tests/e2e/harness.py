"""Runs quillrun end to end, one private sandbox per case.

    r = run_case(Case(argv=["quillrun", "-t"], stdin=b"To: a@b\n\nhi\n"))
    r.status, r.stdout, r.server["payload"], r.logs["quillrun.log"]

Bytes fields come back as bytes; the server record keeps its own keys (see
smtp_script.Session, real_server.Recorder) with byte values.
"""

import atexit
import dataclasses
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import namespaces  # noqa: E402

PYTHON = "/usr/bin/python3"  # Debian's, the one that has aiosmtpd

HOST = namespaces.HOST.encode()  # a case's host name unless it gives its own
USERNAME = "tester"             # a case's USERNAME unless it gives its own
SENDER = USERNAME.encode() + b"@" + HOST  # the sender those complete to
FROM = b"From: <" + SENDER + b">"  # the From line the program adds for it
WRAPPED = bool(os.environ.get("QUILLRUN_WRAPPER"))  # the Windows build, under Wine
# quillrun's own settings file on Linux. Under Wine, whose default is the
# quillrun.ini beside quillrun.exe, QUILLRUN_INI names this same file (Z: is
# the Linux root).
QUILLRUN_INI = "/etc/quillrun.ini"
SANITIZED = bool(os.environ.get("QUILLRUN_SANITIZED"))  # built with AddressSanitizer


def traced(text):
    """`text`, a piece of the debug log as the Linux build writes it, as the
    Windows build's reads once as_printed has undone its line ends: there
    every line ends with one CR LF, a dialogue line's CR LF too."""
    return text.replace(b"\r\n", b"\n") if WRAPPED else text


def address_space(limit):
    """An address-space limit for a case, or None where one cannot apply:
    Wine and AddressSanitizer reserve far more address space than they use."""
    return None if WRAPPED or SANITIZED else limit


# Files of another user: made before the namespaces, by real root, outside
# the sandbox's tmpfs; inside, where root alone is mapped, their owner shows
# as nobody (to Wine as well).
OTHER_UID = 12345
FOREIGN = "files of another user are made by real root outside the namespaces"


def others_folder(prefix):
    """A folder under /var/tmp for files of OTHER_UID's, open to all to read
    and removed at exit; None unless this runs as real root."""
    if os.geteuid() != 0:
        return None
    folder = tempfile.mkdtemp(prefix=prefix, dir="/var/tmp")
    atexit.register(shutil.rmtree, folder, ignore_errors=True)
    os.chmod(folder, 0o755)
    return folder


def wire(*lines):
    """Lines as they cross SMTP, each with CR LF."""
    return b"".join(line + b"\r\n" for line in lines)


def rcpt(*addrs):
    """RCPT TO for each of `addrs`, as the server reads them."""
    return b"".join(b"RCPT TO:<" + a + b">\r\n" for a in addrs)


DATA, DOT, QUIT = b"DATA\r\n", b".\r\n", b"QUIT\r\n"

# "-bs": quillrun's greeting to its client, the client's sender, a message it sends.
GREETING = [220, HOST + b" quillrun ready"]
CLIENT = b"s@example.net"
TEXT = "Subject: s\r\n\r\nhi\r\n"


def relayed(*body, to=b"undisclosed-recipients:;", sender=CLIENT):
    """A message of TEXT's header and `body` as "-bs" passes it on, "." included."""
    return wire(b"Subject: s", b"From: <" + sender + b">", b"To: " + to, b"", *(body or [b"hi"])) + DOT


def dialogue(*rcpts):
    """The commands of one delivery from SENDER to `rcpts`, as the server records them."""
    return [b"HELO " + HOST, b"MAIL FROM:<" + SENDER + b">", *[b"RCPT TO:<" + r + b">" for r in rcpts], b"DATA",
            b"QUIT"]


@dataclass
class Case:
    argv: list = field(default_factory=lambda: ["quillrun"])  # argv[0] included
    stdin: bytes = b""
    username: str | None = USERNAME   # None: USERNAME unset
    env: dict = field(default_factory=dict)  # more variables for the program
    hostname: str = HOST.decode()
    hosts: str | None = None          # /etc/hosts text; None maps hostname and localhost
    ini: str | None = None            # /etc/tidewharf.ini text; None: no such file
    server: str | None = "script"     # "script", "tls_script" (the same behind implicit TLS), "aiosmtpd",
    #                                   "tls1.1" (see sandbox.OldTlsServer), "renegotiate"
    #                                   (sandbox.RenegotiatingServer) or None
    script: dict = field(default_factory=dict)  # replies of the scripted server
    port: int = 25
    listen: str = "127.0.0.1"         # the scripted server's address, IPv4 or IPv6
    tls: dict | None = None           # the server's TLS: {"mode": "starttls" or "implicit",
    #                                   "cert": PEM of the leaf and the chain it sends, "key": PEM}
    logins: dict = field(default_factory=dict)  # user -> password or XOAUTH2 token; aiosmtpd then requires AUTH
    trusted: str | None = None        # PEM certificates added to the system's trusted roots (sandbox.trust)
    dirs: list = field(default_factory=list)    # made first; relative paths are in the working dir,
    #                                             absolute ones must lie under /tmp, /run or /etc
    tmpfs: dict = field(default_factory=dict)   # dir -> size, e.g. {"/tmp/full": "8k"}
    files: dict = field(default_factory=dict)   # path -> text written before the run
    modes: dict = field(default_factory=dict)   # path of `files` -> its permission bits
    symlinks: dict = field(default_factory=dict)  # link path -> target
    fifos: list = field(default_factory=list)     # paths made FIFOs, after files and symlinks
    timeout: float = 10
    daemon: bool = False   # read the first line, check it lives ~1 s, then kill it
    stdin_file: str | None = None   # standard input is this file of `files`, not a pipe
    stdin_dir: bool = False   # standard input is a directory, so reading it fails
    watch: str | None = None  # directory whose entries are noted while the program runs, and after
    stdin_open: bool = False  # the pipe stays open after `stdin` until the program ends
    signal: dict | None = None  # {"number": N, "when": "spool" | "connected" | a step}
    rlimit_as: int | None = None  # the program's address-space limit, in bytes (see address_space)
    rlimit_fsize: int | None = None  # the program's file size limit (ulimit -f), in bytes
    closed_fds: list = field(default_factory=list)  # standard descriptors the program starts without
    swap_spool: str | None = None  # once written, the spool file's name becomes a link here
    parallel: list | None = None  # argument lists after argv[0], all run at once
    session: list | None = None  # SMTP client steps spoken to the program's stdin and stdout (pipe_client.speak_smtp)
    repeat: int = 1  # runs one after another; the last one's outcome is the case's, each one's in `runs`
    endpoint: dict | None = None  # an OAuth 2.0 token endpoint on 127.0.0.1 (token_endpoint.TokenEndpoint's script)
    proxy: dict | None = None  # {"port", "routes"}: an HTTP proxy beside the endpoint (token_endpoint.ConnectProxy)
    read_back: list = field(default_factory=list)  # paths whose text comes back in `texts`


@dataclass
class Result:
    stdout: bytes
    stderr: bytes
    status: int | None     # None when it timed out; negative for a signal
    timed_out: bool
    server: dict | None    # first connection's record, or first message with aiosmtpd
    sessions: list         # every connection (or message) the server saw
    logs: dict             # "quillrun.log" / "quillrun.debug" -> bytes or None
    raw_logs: dict         # the same as they lie on disk (under Wine, with CR LF)
    files: dict            # dir -> files in it after the run ("/tmp", dirs, tmpfs)
    cwd_files: list
    cwd_modes: dict        # name -> permission bits of each entry of the working dir (not followed)
    pid_file: bytes | None
    daemon: dict | None    # {"line", "alive", "pid", "pid_file"}
    pid: int
    elapsed: float
    cpu: float             # the program's CPU time, in seconds
    stdin_position: int | None = None  # where the program left a stdin_file
    runs: list | None = None  # each parallel or repeated run's {"stdout", "stderr", "status", "timed_out"}
    endpoint: dict | None = None  # the token endpoint's record (token_endpoint.TokenEndpoint)
    proxy: dict | None = None  # the proxy's record: {"heads": [each CONNECT request's head]}
    texts: dict | None = None  # path of read_back -> its text after the run, or None
    signalled: bool = False
    replies: list | None = None  # with `session`: the greeting's and each step's (code, text)
    seen: dict | None = None   # with `watch`: name -> [type, mode, link target or first bytes], as first seen
    after: dict | None = None  # with `watch`: the same, after the run

    @property
    def payload(self):
        return self.server and self.server.get("payload")

    @property
    def commands(self):
        return self.server.get("commands") if self.server else []

    def spool_files(self):
        """Files left behind by the intake, wherever the case looked."""
        return [f"{d}/{n}" for d, names in self.files.items() for n in names if "tidewharf" in n]


def _bytes(v):
    if isinstance(v, str):
        return v.encode("latin-1")
    if isinstance(v, list):
        return [_bytes(x) for x in v]
    if isinstance(v, dict):
        return {k: (v[k] if k == "steps" else _bytes(v[k])) for k in v}
    return v


def _text(v):
    if isinstance(v, bytes):
        return v.decode("latin-1")
    if isinstance(v, list):
        return [_text(x) for x in v]
    if isinstance(v, dict):
        return {k: _text(x) for k, x in v.items()}
    return v


def kept_paths():
    """The program and its wrapper's files, which the namespaces keep reachable."""
    words = [os.environ.get("QUILLRUN_BIN", ""), os.environ.get("WINEPREFIX", "")]
    words += os.environ.get("QUILLRUN_WRAPPER", "").split()
    return [w for w in words if w.startswith("/")]


def in_namespaces(hostname=HOST.decode(), keep=(), **options):
    """namespaces.command, keeping kept_paths() reachable."""
    return namespaces.command(hostname, keep=kept_paths() + list(keep), **options)


def run_case(case: Case) -> Result:
    request = json.dumps(dict(_text(dataclasses.asdict(case)), keep=kept_paths()))
    # sandbox.py sets the namespaces up itself (namespaces.set_up).
    proc = subprocess.run(namespaces.UNSHARE + [PYTHON, os.path.join(HERE, "sandbox.py")],
                          input=request.encode(), capture_output=True,
                          timeout=case.timeout + 90)  # beyond sandbox.time_limit, Wine's start included
    if proc.returncode != 0:
        raise RuntimeError(f"sandbox failed ({proc.returncode}):\n{proc.stderr.decode(errors='replace')}")
    r = json.loads(proc.stdout)
    sessions = [_bytes(s) for s in (r.pop("server") or [])]
    r = {k: (v if k in ("files", "cwd_files", "cwd_modes", "seen", "after") else _bytes(v)) for k, v in r.items()}
    r.setdefault("daemon", None)
    return Result(server=sessions[0] if sessions else None, sessions=sessions, **r)


def run_cases(cases: dict, workers: int = 4) -> dict:
    """Runs name -> Case in parallel; returns name -> Result (or the exception)."""
    def one(case):
        try:
            return run_case(case)
        except Exception as e:  # reported by the test that owns the case
            return e
    with ThreadPoolExecutor(workers) as pool:
        return dict(zip(cases, pool.map(one, cases.values())))


ANY = object()  # a Row field that is not checked


@dataclass
class Row:
    """One behaviour: a case and what must come out of it."""
    case: Case
    stdout: bytes | re.Pattern = b""
    status: int | object = 0
    commands: list | None = None  # command lines the server got; [] means no connection at all
    payload: bytes | None = None  # DATA as it came over the wire
    log: re.Pattern | None = None  # the whole invocation log
    check: object = None          # check(test, result) for anything else


def check_row(t: unittest.TestCase, row: Row, r):
    if isinstance(r, Exception):
        raise r
    run = f"status {r.status}, stderr {r.stderr!r}, commands {r.commands!r}"
    if isinstance(row.stdout, re.Pattern):
        t.assertRegex(r.stdout, row.stdout, run)
    else:
        t.assertEqual(r.stdout, row.stdout, run)
    if row.status is not ANY:
        t.assertEqual(r.status, row.status, f"stdout {r.stdout!r}, {run}")
    if row.commands == []:
        t.assertEqual(r.sessions, [], "the program was not to connect")
    elif row.commands is not None:
        t.assertEqual(r.commands, row.commands)
    if row.payload is not None:
        t.assertEqual(r.payload, row.payload)
    if row.log is not None:
        t.assertRegex(r.logs["quillrun.log"] or b"", row.log)
    t.assertEqual(r.spool_files(), [], "spool file left behind")
    if row.check:
        row.check(t, r)


ONLY_ROWS = None  # the test methods asked for by name (run.py); None: every row


def run_only(names):
    """Runs only the rows of tests named "Class.test_row" (all when a name
    is not of that form, or none is given)."""
    global ONLY_ROWS
    methods = {name.rpartition(".")[2] for name in names}
    ONLY_ROWS = methods if methods and all(m.startswith("test_") for m in methods) else None


def table(rows: dict, workers: int = 4):
    """A TestCase base with one test per row; all rows run once, in parallel
    (or only those run.py was asked for).

    Use it as `class Options(table(ROWS)): pass`.
    """
    class Table(unittest.TestCase):
        @classmethod
        def setUpClass(cls):
            wanted = {name: row.case for name, row in rows.items()
                      if ONLY_ROWS is None or "test_" + name in ONLY_ROWS}
            cls.results = run_cases(wanted, workers)

    for name, row in rows.items():
        setattr(Table, "test_" + name, lambda self, n=name, row=row: check_row(self, row, self.results[n]))
    return Table
