"""Runs one end-to-end case inside private namespaces.

Started by harness.py as

    unshare --user --map-root-user --mount --uts --net python3 sandbox.py

with the case as JSON on stdin; prints the result as JSON on stdout. Byte
strings travel as latin-1 text both ways. Everything the case writes lands
in tmpfs or in an overlay on /etc, so the host's files stay untouched.

Environment: QUILLRUN_BIN (the program), QUILLRUN_WRAPPER (a command put in
front of it, e.g. "wine"; "{argv0}" in it stands for the case's argv[0]),
QUILLRUN_PASS_ENV (names of variables handed on to the program besides PATH).
"""

import ctypes
import json
import os
import shutil
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smtp_script import ScriptedServer  # noqa: E402

SCRATCH = "/run/e2e"
CWD = SCRATCH + "/cwd"
BINDIR = SCRATCH + "/bin"
PID_FILE = "/var/run/quillrun.pid"
WRITABLE = ("/tmp/", "/run/", "/var/run/", "/etc/")
_libc = ctypes.CDLL(None, use_errno=True)


def mount(fstype, target, data="", source=None):
    if _libc.mount((source or fstype).encode(), target.encode(), fstype.encode(), 0, data.encode()) != 0:
        err = ctypes.get_errno()
        raise OSError(err, f"mount {fstype} on {target}: {os.strerror(err)}")


def place(path):
    """Absolute path for a case path: relative ones live in the working dir."""
    if not path.startswith("/"):
        return os.path.join(CWD, path)
    if not (path + "/").startswith(WRITABLE):
        raise ValueError(f"{path}: cases may only write under {WRITABLE}")
    return path


def setup(case):
    """Private /run, /tmp and /etc; returns the command line to run."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    mount("tmpfs", "/run")
    for d in ("upper", "work", "cwd", "bin"):
        os.makedirs(f"{SCRATCH}/{d}")
    cmd = command(case)  # before /tmp is covered: the build may live there
    mount("overlay", "/etc", f"lowerdir=/etc,upperdir={SCRATCH}/upper,workdir={SCRATCH}/work")
    mount("tmpfs", "/tmp", "mode=1777")
    socket.sethostname(case["hostname"])
    hosts = case.get("hosts")
    if hosts is None:
        hosts = f"127.0.0.1\t{case['hostname']} localhost\n"
    write("/etc/hosts", hosts)
    # Name lookups that miss /etc/hosts must fail fast and stay on loopback.
    write("/etc/resolv.conf", "nameserver 127.0.0.1\n")
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
    for link, target in case.get("symlinks", {}).items():
        os.symlink(target, place(link))
    return cmd


def write(path, text):
    with open(path, "wb") as f:
        f.write(text.encode("latin-1"))


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return None


def listing(top):
    out = []
    for root, dirs, files in os.walk(top):
        rel = os.path.relpath(root, top)
        out += [os.path.normpath(os.path.join(rel, n)) + "/" for n in dirs]
        out += [os.path.normpath(os.path.join(rel, n)) for n in files]
    return sorted(out)


def command(case):
    """The command line to run, with a copy of the program under argv[0]'s name."""
    binary = os.environ.get("QUILLRUN_BIN", "/work/main/build/src/quillrun")
    wrapper = os.environ.get("QUILLRUN_WRAPPER", "").split()
    argv0 = case["argv"][0]
    copy = os.path.join(BINDIR, argv0.lstrip("/") or "quillrun")
    if wrapper and not copy.endswith(".exe"):
        copy += ".exe"
    copy_file(binary, copy)
    if wrapper:
        # "{argv0}" in the wrapper stands for argv[0] as the case gives it.
        wrapper = [carried_out_of_tmp(w).replace("{argv0}", argv0) for w in wrapper]
        return wrapper + [copy] + case["argv"][1:], None
    return case["argv"], copy  # argv[0] reaches the program exactly as written


def carried_out_of_tmp(word):
    """A wrapper file the build keeps under /tmp, copied to where the case still sees it."""
    if not (word.startswith("/tmp/") and os.path.isfile(word)):
        return word
    return copy_file(word, os.path.join(BINDIR, "wrapper", os.path.basename(word)))


def copy_file(source, copy):
    os.makedirs(os.path.dirname(copy), exist_ok=True)
    shutil.copy2(source, copy)
    return copy


def environment(case):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
    passed = os.environ.get("QUILLRUN_PASS_ENV")
    if passed is None and os.environ.get("QUILLRUN_WRAPPER"):
        passed = "HOME WINEPREFIX WINEDEBUG WINEARCH"
    for name in (passed or "").split():
        if name in os.environ:
            env[name] = os.environ[name]
    if case.get("username") is not None:
        env["USERNAME"] = case["username"]
    env.update(case.get("env", {}))
    return env


# Through QUILLRUN_WRAPPER (Wine) each case starts a Wine session of its own
# before the program runs: up to several seconds when many cases start at
# once. The case's time limit counts from the program's start.
WRAPPER_START_ALLOWANCE = 20


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


def run(case):
    if case.get("server") == "aiosmtpd":
        from real_server import RealServer
    args, executable = setup(case)
    server = None
    if case.get("server") == "script":
        server = ScriptedServer(case.get("script"), port=case.get("port", 25))
    elif case.get("server") == "aiosmtpd":
        server = RealServer(port=case.get("port", 25))
    stdin = case.get("stdin", "").encode("latin-1")
    started = time.monotonic()
    proc = subprocess.Popen(args, executable=executable, cwd=CWD, env=environment(case),
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    result = {"pid": proc.pid}
    if case.get("daemon"):
        run_daemon(proc, case, result)  # stdin stays open and unwritten: nothing may read it
    else:
        try:
            out, err = proc.communicate(stdin, timeout=time_limit(case))
            timed_out = False
        except subprocess.TimeoutExpired:
            proc.kill()
            out, err = proc.communicate()
            timed_out = True
        result.update(stdout=out.decode("latin-1"), stderr=err.decode("latin-1"),
                      status=None if timed_out else proc.returncode, timed_out=timed_out)
    result["elapsed"] = round(time.monotonic() - started, 3)
    result["server"] = server.stop() if server else None
    result["logs"] = {name: read(os.path.join(CWD, name)) for name in ("quillrun.log", "quillrun.debug")}
    dirs = ["/tmp"] + case.get("dirs", []) + list(case.get("tmpfs", {}))
    result["files"] = {d: listing(place(d)) for d in dirs}
    result["cwd_files"] = listing(CWD)
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
    result["logs"] = {name: printed(text) for name, text in result["logs"].items()}
    if result.get("daemon"):
        result["daemon"]["line"] = printed(result["daemon"]["line"])


if __name__ == "__main__":
    json.dump(run(json.load(sys.stdin)), sys.stdout)
