"""Runs one end-to-end case inside private namespaces.

Started by harness.py as

    unshare --user --map-root-user --mount --uts --net python3 sandbox.py

with the case as JSON on stdin (its "keep": the paths namespaces.set_up keeps
reachable); prints the result as JSON on stdout. Byte
strings travel as latin-1 text both ways. Everything the case writes lands
in tmpfs or in an overlay on /etc, so the host's files stay untouched.

Environment: QUILLRUN_BIN (the program), QUILLRUN_WRAPPER (a command put in
front of it, e.g. "wine"; "{argv0}" in it stands for the case's argv[0]),
QUILLRUN_PASS_ENV (names of variables handed on to the program besides PATH).
"""

import ctypes
import json
import os
import resource
import shutil
import stat
import struct
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "..", "tools")]
import namespaces  # noqa: E402
from namespaces import mount, write  # noqa: E402
from smtp_script import ScriptedServer  # noqa: E402

SCRATCH = "/run/e2e"
CWD = SCRATCH + "/cwd"
BINDIR = SCRATCH + "/bin"
PID_FILE = "/var/run/quillrun.pid"
WRITABLE = ("/tmp/", "/run/", "/var/run/", "/etc/")
_libc = ctypes.CDLL(None, use_errno=True)


def place(path):
    """Absolute path for a case path: relative ones live in the working dir."""
    if not path.startswith("/"):
        return os.path.join(CWD, path)
    if not (path + "/").startswith(WRITABLE):
        raise ValueError(f"{path}: cases may only write under {WRITABLE}")
    return path


def setup(case):
    """The case's files in the namespaces' /run, /tmp and /etc; returns the command line to run."""
    os.makedirs(CWD)
    cmd = command(case)
    if case.get("hosts") is not None:
        write("/etc/hosts", case["hosts"])
    if case.get("ini") is None:
        if os.path.lexists("/etc/tidewharf.ini"):
            os.remove("/etc/tidewharf.ini")
    else:
        write("/etc/tidewharf.ini", case["ini"])
    for d in case.get("dirs", []):
        os.makedirs(place(d), exist_ok=True)
    for d, size in case.get("tmpfs", {}).items():
        os.makedirs(place(d), exist_ok=True)
        mount("tmpfs", place(d), f"size={size}")
    for path, text in case.get("files", {}).items():
        os.makedirs(os.path.dirname(place(path)), exist_ok=True)
        write(place(path), text)
    for path, mode in case.get("modes", {}).items():
        os.chmod(place(path), mode)
    if case.get("trusted"):
        trust(case["trusted"])
    for link, target in case.get("symlinks", {}).items():
        os.symlink(target, place(link))
    for path in case.get("fifos", []):
        os.mkfifo(place(path))
    return cmd


SYSTEM_ROOTS = "/etc/ssl/certs/ca-certificates.crt"  # OpenSSL's default roots on Debian, and Wine's


def trust(pem):
    """Adds the certificates of `pem` to the system's trusted roots, in this
    sandbox's /etc, as update-ca-certificates does: to the bundle, which
    Wine's crypt32 reads, and under their subject hashes in the directory,
    where OpenSSL looks roots up."""
    write(SYSTEM_ROOTS, (read(SYSTEM_ROOTS) or "") + pem)
    end = "-----END CERTIFICATE-----\n"
    for cert in [c + end for c in pem.split(end) if c.strip()]:
        subject_hash = subprocess.run(["openssl", "x509", "-noout", "-subject_hash"], input=cert.encode(),
                                      capture_output=True, check=True).stdout.decode().strip()
        n = 0
        while os.path.lexists(f"{os.path.dirname(SYSTEM_ROOTS)}/{subject_hash}.{n}"):
            n += 1
        write(f"{os.path.dirname(SYSTEM_ROOTS)}/{subject_hash}.{n}", cert)


def pem_files(folder, pems):
    """{"cert": path, "key": path} of `pems`' PEM texts, written under SCRATCH/`folder`."""
    os.makedirs(f"{SCRATCH}/{folder}", exist_ok=True)
    files = {name: f"{SCRATCH}/{folder}/{name}.pem" for name in ("cert", "key")}
    for name, path in files.items():
        write(path, pems[name])
    return files


def tls_files(tls):
    """RealServer's or OldTlsServer's TLS arguments for a case's `tls`, its PEM texts written to files."""
    return dict(pem_files("tls", tls), tls=tls["mode"]) if tls else {}


class OldTlsServer:
    """A server that speaks TLS 1.1 and older only, and no SMTP: openssl
    s_server, which has those versions still (at security level 0). It
    records nothing, since a client that asks for TLS 1.2 or later never
    gets through the handshake."""

    def __init__(self, port, tls, cert, key):
        self.proc = subprocess.Popen(["openssl", "s_server", "-tls1_1", "-cipher", "DEFAULT:@SECLEVEL=0",
                                      "-accept", f"127.0.0.1:{port}", "-cert", cert, "-key", key],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        # Its standard input stays open: at its end s_server would hang up.
        for line in self.proc.stdout:
            if line.startswith(b"ACCEPT"):
                return
        raise RuntimeError("openssl s_server did not start")

    def stop(self, grace=0):
        self.proc.kill()
        self.proc.wait()
        return []


class RenegotiatingServer:
    """A server of implicit TLS 1.2 that greets, answers EHLO, and instead of
    answering MAIL asks to renegotiate (a HelloRequest, RFC 5246 7.4.1.1):
    openssl s_server, which does that for a line "r" on its standard input
    (Python's ssl cannot), and prints what the client sent on its standard
    output. It records nothing."""

    # What the client sent before each reply, and the reply.
    DIALOGUE = ((b"", b"220 e2e.test ESMTP ready\r\n"), (b"EHLO", b"250 e2e.test\r\n"), (b"MAIL FROM", b"r\n"))

    def __init__(self, port, tls, cert, key):
        # The leaf alone in -cert, what it is sent with in -cert_chain.
        end = "-----END CERTIFICATE-----\n"
        chain = f"{SCRATCH}/tls/chain.pem"
        write(chain, read(cert).split(end, 1)[1])
        self.proc = subprocess.Popen(["openssl", "s_server", "-tls1_2", "-accept", f"127.0.0.1:{port}",
                                      "-cert", cert, "-cert_chain", chain, "-key", key],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        for line in self.proc.stdout:
            if line.startswith(b"ACCEPT"):
                threading.Thread(target=self.serve, daemon=True).start()
                return
        raise RuntimeError("openssl s_server did not start")

    def serve(self):
        printed = b""
        for before, reply in self.DIALOGUE:
            while before not in printed:
                more = self.proc.stdout.read1(4096)
                if not more:
                    return
                printed += more
            printed = printed[printed.index(before) + len(before):]
            self.proc.stdin.write(reply)
            self.proc.stdin.flush()

    def stop(self, grace=0):
        self.proc.kill()
        self.proc.wait()
        return []


def read(path):
    """A regular file's text, through links; None for anything else (a FIFO would block)."""
    if not os.path.isfile(path):
        return None
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return None


def listing(top):
    # The build's directories that the namespaces mounted back under /tmp hold none of the case's files.
    kept = [d + "/" for d in os.environ.get("NAMESPACES_KEPT", "").split(":") if d]
    out = []
    for root, dirs, files in os.walk(top):
        dirs[:] = [n for n in dirs if not any(k.startswith(os.path.join(root, n) + "/") for k in kept)]
        rel = os.path.relpath(root, top)
        out += [os.path.normpath(os.path.join(rel, n)) + "/" for n in dirs]
        out += [os.path.normpath(os.path.join(rel, n)) for n in files]
    return sorted(out)


def command(case):
    """The command line to run, with a copy of the program under argv[0]'s name."""
    binary = os.environ.get("QUILLRUN_BIN", "/work/main/build/src/quillrun")
    wrapper = os.environ.get("QUILLRUN_WRAPPER", "").split()
    argv0 = case["argv"][0]
    # A Windows path as argv[0] names no directory here (Wine would read its
    # backslashes as separators of the copy's own path).
    copy = os.path.join(BINDIR, argv0.lstrip("/").replace("\\", "_").replace(":", "_") or "quillrun")
    if wrapper and not copy.endswith(".exe"):
        copy += ".exe"
    os.makedirs(os.path.dirname(copy), exist_ok=True)
    shutil.copy2(binary, copy)
    if wrapper:
        # "{argv0}" in the wrapper stands for argv[0] as the case gives it.
        wrapper = [w.replace("{argv0}", argv0) for w in wrapper]
        return wrapper + [copy] + case["argv"][1:], None
    return case["argv"], copy  # argv[0] reaches the program exactly as written


def environment(case):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
    passed = os.environ.get("QUILLRUN_PASS_ENV")
    if passed is None and os.environ.get("QUILLRUN_WRAPPER"):
        passed = "HOME WINEPREFIX WINEDEBUG WINEARCH"
    # SSL_CERT_FILE and SSL_CERT_DIR would put OpenSSL's trusted roots
    # elsewhere than the sandbox's /etc: never handed on.
    for name in set((passed or "").split()) - {"SSL_CERT_FILE", "SSL_CERT_DIR"}:
        if name in os.environ:
            env[name] = os.environ[name]
    if case.get("username") is not None:
        env["USERNAME"] = case["username"]
    env.update(case.get("env", {}))
    return env


# Through QUILLRUN_WRAPPER (Wine) each case starts a Wine session of its own
# before the program runs: a second when the machine is idle, far longer
# while the other trees build and fuzz beside the Windows one.
# The case's time limit counts from the program's start.
WRAPPER_START_ALLOWANCE = 60


def time_limit(case):
    allowance = WRAPPER_START_ALLOWANCE if os.environ.get("QUILLRUN_WRAPPER") else 0
    return case.get("timeout", 10) + allowance


def run_daemon(proc, case, result):
    """Waits for the first line, checks the process outlives it by a second, kills it."""
    first = []
    reader = threading.Thread(target=lambda: first.append(proc.stdout.readline()), daemon=True)
    reader.start()
    reader.join(time_limit(case))
    in_time = list(first)
    if in_time:
        time.sleep(1.0)
    result["daemon"] = {"line": in_time[0].decode("latin-1") if in_time else None,
                        "alive": proc.poll() is None, "pid": proc.pid, "pid_file": read(PID_FILE)}
    proc.kill()
    reader.join()
    out, err = proc.communicate()
    result.update(stdout=(first[0] + out).decode("latin-1"), stderr=err.decode("latin-1"),
                  status=proc.returncode, timed_out=False)


def program_pid(proc, argv0):
    """The pid of the program itself. Under Wine the launcher starts it as a
    process of its own, whose command line Wine shows as the Windows one:
    it is found among this sandbox's processes (their mount namespace is
    this one's) by its first word, the case's argv[0]."""
    if not os.environ.get("QUILLRUN_WRAPPER"):
        return proc.pid
    own = os.readlink("/proc/self/ns/mnt")
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if int(pid) == proc.pid or os.readlink(f"/proc/{pid}/ns/mnt") != own:
                continue
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                words = f.read().replace(b"\0", b" ").split()
        except OSError:
            continue
        if words[:1] == [argv0.encode("latin-1")]:
            return int(pid)
    return None


def signal_when_ready(proc, argv0, server, plan, result):
    """Sends plan["number"] to the program once the moment plan["when"] names
    has come: "spool" (a spool file exists in /tmp), "connected" (the server
    has a connection) or a dialogue step the server has answered."""
    when = plan["when"]
    deadline = time.monotonic() + 30
    while proc.poll() is None and time.monotonic() < deadline:
        if when == "spool":
            ready = any("tidewharf" in n for n in os.listdir("/tmp"))
        elif when == "connected":
            ready = bool(server.sessions)
        else:
            ready = bool(server.sessions) and when in server.sessions[0].steps
        pid = program_pid(proc, argv0) if ready else None
        if pid:
            time.sleep(plan.get("delay", 0.2))
            result["signalled"] = True
            os.kill(pid, plan["number"])
            return
        time.sleep(0.05)


def entries(d):
    """name -> [type, permission bits, link target or first 100 bytes] for each entry of d."""
    out = {}
    for n in (os.listdir(d) if os.path.isdir(d) else []):
        p = os.path.join(d, n)
        try:
            st = os.lstat(p)  # a directory's open fails, which leaves it out
            extra = os.readlink(p) if stat.S_ISLNK(st.st_mode) else open(p, "rb").read(100).decode("latin-1")
        except OSError:
            continue
        out[n] = [stat.S_IFMT(st.st_mode), stat.S_IMODE(st.st_mode), extra]
    return out


class Watcher:
    """Notes the entries of a directory every 5 ms, each as first seen."""

    def __init__(self, d):
        self.d, self.seen, self.done = d, {}, threading.Event()
        self.thread = threading.Thread(target=self.watch, daemon=True)
        self.thread.start()

    def watch(self):
        while not self.done.is_set():
            for n, v in entries(self.d).items():
                self.seen.setdefault(n, v)
            time.sleep(0.005)

    def stop(self):
        self.done.set()
        self.thread.join()
        return self.seen


class SpoolSwapper:
    """What a neighbour who may rename entries of the work directory does:
    moves the spool file away and puts a link to `secret` under its name,
    as soon as the file is closed after writing (inotify), or else when the
    program connects to the server, whichever comes first."""

    IN_CLOSE_WRITE = 0x8

    def __init__(self, secret):
        self.secret = secret
        self.lock = threading.Lock()
        self.done = False
        self.fd = _libc.inotify_init1(os.O_CLOEXEC)
        _libc.inotify_add_watch(self.fd, b"/tmp", self.IN_CLOSE_WRITE)
        threading.Thread(target=self.watch, daemon=True).start()

    def watch(self):
        while not self.done:
            events = os.read(self.fd, 4096)
            at = 0
            while at < len(events):
                _, _, _, length = struct.unpack_from("iIII", events, at)
                name = events[at + 16:at + 16 + length].rstrip(b"\0").decode()
                at += 16 + length
                if "tidewharf" in name:
                    self.swap()

    def swap(self):
        with self.lock:
            if self.done:
                return
            for name in os.listdir("/tmp"):
                if "tidewharf" in name:
                    os.rename(f"/tmp/{name}", "/tmp/moved-away")
                    os.symlink(self.secret, f"/tmp/{name}")
                    self.done = True
                    return


def start(args, executable, case, stdin=subprocess.PIPE):
    limits = [(which, case.get(name)) for which, name in ((resource.RLIMIT_AS, "rlimit_as"),
                                                          (resource.RLIMIT_FSIZE, "rlimit_fsize")) if case.get(name)]
    closed = case.get("closed_fds", [])

    def in_the_child():  # runs after Popen has set up descriptors 0, 1 and 2
        for which, limit in limits:
            resource.setrlimit(which, (limit, limit))
        for fd in closed:
            os.close(fd)
    # umask 022, the usual one: a mode the program leaves to the umask shows as group and world readable.
    return subprocess.Popen(args, executable=executable, cwd=CWD, env=environment(case), stdin=stdin,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, umask=0o022,
                            preexec_fn=in_the_child if limits or closed else None)


def finish(proc, case, stdin_bytes):
    """Feeds standard input (closing it, unless the case keeps it open) and
    waits for the program within the case's time limit."""
    kept_open = None
    if case.get("stdin_open"):
        kept_open, proc.stdin = proc.stdin, None  # communicate would close it
        kept_open.write(stdin_bytes)
        kept_open.flush()
        stdin_bytes = None
    try:
        out, err = proc.communicate(stdin_bytes, timeout=time_limit(case))
        timed_out = False
    except subprocess.TimeoutExpired:
        proc.kill()
        out, err = proc.communicate()
        timed_out = True
    if kept_open:
        kept_open.close()
    return {"stdout": out.decode("latin-1"), "stderr": err.decode("latin-1"),
            "status": None if timed_out else proc.returncode, "timed_out": timed_out}


def run_parallel(args, executable, case, stdin):
    """Every argument list of case["parallel"] at once, sharing everything."""
    base = args[:len(args) - (len(case["argv"]) - 1)]  # the command line up to argv[0]
    # Under Wine they share one session, whose processes started at once
    # need wineboot (cmake/wine-run.sh); elsewhere the variable means nothing.
    case = dict(case, env=dict(case.get("env", {}), QUILLRUN_WINE_BOOT="1"))
    procs = [start(base + more, executable, case) for more in case["parallel"]]
    results = [None] * len(procs)

    def one(i):
        results[i] = finish(procs[i], case, stdin)
    threads = [threading.Thread(target=one, args=(i,)) for i in range(len(procs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return results


def run(case):
    if case.get("server") == "aiosmtpd":
        from real_server import RealServer
    args, executable = setup(case)
    endpoint = proxy = None
    logins = dict(case.get("logins") or {})
    if case.get("endpoint"):
        from token_endpoint import ConnectProxy, TokenEndpoint
        script = case["endpoint"]
        if script.get("port"):  # none: nothing listens
            endpoint = TokenEndpoint(script, **pem_files("endpoint", script))
            logins[script["user"]] = endpoint.accepts
        if case.get("proxy"):
            proxy = ConnectProxy(**case["proxy"])
    server = None
    if case.get("server") == "script":
        server = ScriptedServer(case.get("script"), host=case.get("listen", "127.0.0.1"), port=case.get("port", 25))
        if case.get("swap_spool"):
            server.on_connect = SpoolSwapper(place(case["swap_spool"])).swap
    elif case.get("server") == "tls_script":
        server = ScriptedServer(case.get("script"), port=case.get("port", 25), tls=tls_files(case.get("tls")))
    elif case.get("server") == "aiosmtpd":
        server = RealServer(port=case.get("port", 25), logins=logins, **tls_files(case.get("tls")))
    elif case.get("server") == "tls1.1":
        server = OldTlsServer(case.get("port", 25), **tls_files(case.get("tls")))
    elif case.get("server") == "renegotiate":
        server = RenegotiatingServer(case.get("port", 25), **tls_files(case.get("tls")))
    stdin = case.get("stdin", "").encode("latin-1")
    stdin_file = open(place(case["stdin_file"]), "rb") if case.get("stdin_file") else None
    stdin_dir = os.open(CWD, os.O_RDONLY) if case.get("stdin_dir") else None  # reading it fails
    started = time.monotonic()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = {}
    if case.get("parallel"):
        result["runs"] = run_parallel(args, executable, case, stdin)
        result.update(stdout="", stderr="", status=None, timed_out=False, pid=0)
    elif case.get("repeat", 1) > 1:  # one run after another; the last one's outcome is the case's
        result["runs"] = [finish(start(args, executable, case), case, stdin) for _ in range(case["repeat"])]
        result.update(result["runs"][-1], pid=0)
    else:
        watcher = Watcher(case["watch"]) if case.get("watch") else None
        proc = start(args, executable, case, stdin=stdin_file or stdin_dir or subprocess.PIPE)
        result["pid"] = proc.pid
        if case.get("daemon"):
            run_daemon(proc, case, result)  # stdin stays open and unwritten: nothing may read it
        elif case.get("session") is not None:
            from pipe_client import speak_smtp  # smtplib costs every other case its import time
            result.update(speak_smtp(proc, case["session"], time_limit(case)))
        else:
            if case.get("signal"):
                threading.Thread(target=signal_when_ready,
                                 args=(proc, case["argv"][0], server, case["signal"], result),
                                 daemon=True).start()
            result.update(finish(proc, case, None if stdin_file else stdin))
        if watcher:
            result["seen"] = watcher.stop()
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    # CPU time only: a child forked from this process inherits its peak
    # memory figure, so peak memory is bounded with rlimit_as instead.
    result["cpu"] = round(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime, 3)
    if stdin_file:
        result["stdin_position"] = os.lseek(stdin_file.fileno(), 0, os.SEEK_CUR)
        stdin_file.close()
    result["elapsed"] = round(time.monotonic() - started, 3)
    result["server"] = server.stop() if server else None
    result["endpoint"] = endpoint.stop() if endpoint else None
    result["proxy"] = proxy.stop() if proxy else None
    result["texts"] = {path: read(place(path)) for path in case.get("read_back", [])}
    result["logs"] = {name: read(os.path.join(CWD, name)) for name in ("quillrun.log", "quillrun.debug")}
    result["raw_logs"] = dict(result["logs"])  # as_printed leaves these as they lie on disk
    if case.get("watch"):
        result["after"] = entries(case["watch"])
    dirs = ["/tmp"] + case.get("dirs", []) + list(case.get("tmpfs", {}))
    result["files"] = {d: listing(place(d)) for d in dirs}
    result["cwd_files"] = listing(CWD)
    result["cwd_modes"] = {n: stat.S_IMODE(os.lstat(os.path.join(CWD, n)).st_mode) for n in os.listdir(CWD)}
    result["pid_file"] = read(PID_FILE)
    if os.environ.get("QUILLRUN_WRAPPER"):
        as_printed(result)
    return result


def as_printed(result):
    """The Windows build (run through QUILLRUN_WRAPPER, under Wine) writes its
    standard output and error and its logs in text mode, as Windows programs
    do: each line feed it prints arrives as CR LF, and CR LF arises in no other
    way (a CR printed before a line feed arrives as CR CR LF). Undoing exactly
    that gives the text the program printed, which the tests check as on Linux.
    The pid file holds no line end."""
    def printed(text):
        return text.replace("\r\n", "\n") if text is not None else None
    result["stdout"], result["stderr"] = printed(result["stdout"]), printed(result["stderr"])
    for run in result.get("runs", []):
        run["stdout"], run["stderr"] = printed(run["stdout"]), printed(run["stderr"])
    result["logs"] = {name: printed(text) for name, text in result["logs"].items()}
    if result.get("daemon"):
        result["daemon"]["line"] = printed(result["daemon"]["line"])


if __name__ == "__main__":
    request = json.load(sys.stdin)
    namespaces.set_up(request["hostname"], request["keep"])
    json.dump(run(request), sys.stdout)
