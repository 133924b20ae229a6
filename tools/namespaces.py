"""Private namespaces for everything that runs quillrun against a server on
loopback: the end-to-end and real-server tests, the demo, the package test
and the benchmark.

    python3 tools/namespaces.py [--hostname NAME] [--all-ids] [--pid] [--keep PATH]... -- COMMAND [ARG...]

COMMAND runs as root of new user, mount, UTS and network namespaces, with
  - loopback up and no other network;
  - a tmpfs on /run and on /tmp and an overlay on /etc, so that what it
    writes there is gone when it ends and the machine's files stay as they were;
  - the host name NAME (HOST unless given), /etc/hosts mapping it and
    localhost to 127.0.0.1, and names looked up in /etc/hosts alone, so
    that a name it lacks is not found at once instead of leaving the
    machine (and a resolver on 127.0.0.1 for what asks DNS itself);
  - this source tree, and each PATH given with --keep, still at its own path
    even when it lies under /tmp or /run: a checkout may be anywhere.
    NAMESPACES_KEPT lists those of them (":"-separated) that were covered and
    mounted back, for a caller that lists /tmp to leave out.

--all-ids maps the ids 0-65535 onto the same ids outside (which needs real
root) instead of root alone: for servers that switch to users of their own.
--pid adds a PID namespace with its own /proc (sanitizers read their own
tasks there): whatever COMMAND leaves running ends with it.
"""

import argparse
import ctypes
import os
import socket
import subprocess
import sys

HOST = "mailhost.example.org"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRATCH = "/run/namespaces"
COVERED = ("/run/", "/tmp/")
ID_RANGE = 65536
CLONE_NEWUSER = 0x10000000
MS_BIND, MS_REC = 0x1000, 0x4000
# The namespaces with root alone mapped. A Python program started under them
# may call set_up() itself: one interpreter start instead of three, which
# counts when every end-to-end case is a sandbox of its own.
UNSHARE = ["unshare", "--user", "--map-root-user", "--mount", "--uts", "--net"]
_libc = ctypes.CDLL(None, use_errno=True)


def command(hostname=HOST, all_ids=False, pid=False, keep=()):
    """What to put in front of a command line to run it in the namespaces."""
    words = [sys.executable, os.path.abspath(__file__), "--hostname", hostname]
    words += ["--all-ids"] * all_ids + ["--pid"] * pid
    for path in keep:
        words += ["--keep", path]
    return words + ["--"]


def mount(fstype, target, data="", source=None, flags=0):
    if _libc.mount((source or fstype).encode(), target.encode(), fstype.encode(), flags, data.encode()) != 0:
        err = ctypes.get_errno()
        raise OSError(err, f"mount {fstype} on {target}: {os.strerror(err)}")


def write(path, text):
    with open(path, "wb") as f:
        f.write(text.encode("latin-1"))


def read_text(path):
    """A file's text, or "" when there is none."""
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except FileNotFoundError:
        return ""


def hosts_from_files(nsswitch):
    """nsswitch.conf's text with host names looked up in /etc/hosts alone."""
    lines = [line for line in nsswitch.splitlines() if not line.startswith("hosts:")]
    return "".join(line + "\n" for line in lines + ["hosts: files"])


def covered(paths):
    """The directories to mount back: those of `paths` under /run or /tmp
    (a file's directory), without any that lies inside another."""
    dirs = {p if os.path.isdir(p) else os.path.dirname(p)
            for p in map(os.path.realpath, paths) if os.path.exists(p)}
    dirs = {d for d in dirs if (d + "/").startswith(COVERED)}
    return sorted(d for d in dirs if not any(d.startswith(o + "/") for o in dirs))


def enter(args):
    """Runs this file again with --inside, in the new namespaces."""
    inside = [sys.executable, os.path.abspath(__file__), "--inside", "--hostname", args.hostname]
    for path in args.keep:
        inside += ["--keep", path]
    inside += ["--"] + args.command
    namespaces = ["unshare", "--mount", "--uts", "--net"]
    if args.pid:
        namespaces += ["--pid", "--fork", "--kill-child", "--mount-proc"]
    if not args.all_ids:
        os.execvp("unshare", UNSHARE + namespaces[4:] + inside)
    # unshare(1) maps more than one id only through newuidmap: the child
    # enters a user namespace and this process writes its maps.
    ready_r, ready_w = os.pipe()
    go_r, go_w = os.pipe()
    child = os.fork()
    if child == 0:
        if _libc.unshare(CLONE_NEWUSER) != 0:
            os._exit(111)
        os.write(ready_w, b"x")
        if os.read(go_r, 1) != b"x":  # the maps were not written
            os._exit(112)
        # Mapped as root now: the exec keeps every capability in the namespace.
        os.execvp("unshare", namespaces + inside)
    os.read(ready_r, 1)
    for name in ("uid_map", "gid_map"):
        with open(f"/proc/{child}/{name}", "w") as f:
            f.write(f"0 0 {ID_RANGE}\n")
    os.write(go_w, b"x")
    _, status = os.waitpid(child, 0)
    sys.exit(os.waitstatus_to_exitcode(status))


def set_up(hostname=HOST, keep=()):
    """The private /run, /etc and /tmp, loopback and host name, from inside
    new namespaces: after `enter`, or in a process started under UNSHARE."""
    kept = [(d, os.open(d, os.O_PATH | os.O_DIRECTORY)) for d in covered([ROOT] + list(keep))]
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    mount("tmpfs", "/run")
    os.makedirs(f"{SCRATCH}/etc-upper")
    os.makedirs(f"{SCRATCH}/etc-work")
    mount("overlay", "/etc", f"lowerdir=/etc,upperdir={SCRATCH}/etc-upper,workdir={SCRATCH}/etc-work")
    mount("tmpfs", "/tmp", "mode=1777")
    # What the tmpfs mounts covered comes back through the descriptors opened before.
    for path, fd in kept:
        os.makedirs(path, exist_ok=True)
        mount("none", path, source=f"/proc/self/fd/{fd}", flags=MS_BIND | MS_REC)
        os.close(fd)
    os.environ["NAMESPACES_KEPT"] = ":".join(d for d, _ in kept)
    socket.sethostname(hostname)
    write("/etc/hosts", f"127.0.0.1\t{hostname} localhost\n")
    write("/etc/resolv.conf", "nameserver 127.0.0.1\n")
    write("/etc/nsswitch.conf", hosts_from_files(read_text("/etc/nsswitch.conf")))
    try:  # a working directory under /tmp or /run: the one at that path now
        os.chdir(os.getcwd())
    except OSError:
        os.chdir("/")


def main():
    parser = argparse.ArgumentParser(description="Runs a command in private namespaces.")
    parser.add_argument("--hostname", default=HOST)
    parser.add_argument("--all-ids", action="store_true")
    parser.add_argument("--pid", action="store_true")
    parser.add_argument("--keep", action="append", default=[], metavar="PATH")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()
    if not args.inside:
        enter(args)
    set_up(args.hostname, args.keep)
    os.execvp(args.command[0], args.command)


if __name__ == "__main__":
    main()
