"""Other users and other runs on the same machine: a neighbour who may
rename entries of a shared work directory cannot make the program send
another file than the message, and many runs at once in one work directory
and one working directory each deliver their own message, once.

A neighbour who may write the working directory (or the pid file's) can put
a link or a FIFO where a log or the pid file goes: nothing is written through
the link, the FIFO holds nothing up, and the message goes out as usual.
"""

import re

from harness import ANY, FROM, WRAPPED, Case, Row, dialogue, table, wire

SECRET = "a private file of the caller\n"
MSG = b"Subject: mine\n\nthe message itself\n"


def sent_the_message_not_the_file(t, r):
    t.assertEqual(r.payload, wire(b"Subject: mine", FROM, b"To: <a@b>", b"",
                                  b"the message itself"))
    t.assertEqual(r.files["/tmp"], ["moved-away", "private"], "the link went with the spool file's name")


RUNS = 8 if WRAPPED else 50


def each_delivered_once(t, r):
    t.assertEqual([run["status"] for run in r.runs], [0] * RUNS, [run["stdout"] for run in r.runs])
    got = sorted(re.search(rb"\r\nTo: <r(\d+)@x\.org>\r\n", s["payload"]).group(1) for s in r.sessions)
    t.assertEqual(got, sorted(b"%d" % i for i in range(RUNS)), "each message once")
    names = re.findall(rb"Using temp file \((.*)\) \n", r.logs["quillrun.debug"])
    t.assertEqual(len(set(names)), RUNS, "no two spool names alike")
    records = re.findall(rb"[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}\n"
                         rb" tester \S*quillrun\S* -debug r(\d+)@x\.org \n", r.logs["quillrun.log"])
    t.assertEqual(len(records), RUNS, "every invocation record whole")
    t.assertEqual(len(r.logs["quillrun.log"]), sum(len(m.group(0)) for m in re.finditer(
        rb"[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}\n [^\n]*\n", r.logs["quillrun.log"])))


ROWS = {
    "many_runs_at_once_in_one_work_and_one_working_directory": Row(
        Case(argv=["quillrun"], stdin=MSG, ini="g_work /tmp/shared\n", dirs=["/tmp/shared"],
             parallel=[["-debug", f"r{i}@x.org"] for i in range(RUNS)], timeout=120),
        b"", None, check=each_delivered_once),
}


DIALOGUE = dialogue(b"a@b")
PRIVATE = {"/tmp/private": SECRET}


def link_target_unchanged(name):
    """The log `name`, read through the link, is the private file as it was."""
    def check(t, r):
        t.assertEqual(r.logs[name], SECRET.encode())
    return check


def not_waited_on(*names):
    """The run did not wait on a FIFO, and each log FIFO is still one (the sandbox reads no FIFO)."""
    def check(t, r):
        t.assertLess(r.elapsed, 5, "the run waited on a FIFO")
        for name in names:
            t.assertEqual(r.logs[name], None, f"{name} is no longer a FIFO")
    return check


def nothing_made_through_the_link(t, r):
    t.assertEqual(r.files["/tmp"], [], "a file was created where the link points")


def daemon_with_pid_file(expected):
    def check(t, r):
        t.assertIsNotNone(r.daemon["line"], "no line within the time limit")
        t.assertTrue(r.daemon["alive"], "the daemon exited by itself")
        t.assertEqual(r.daemon["pid_file"], expected)
    return check


def owner_only(*names):
    def check(t, r):
        t.assertEqual({n: oct(r.cwd_modes.get(n, 0)) for n in names}, {n: "0o600" for n in names})
    return check


def delivered(*argv, check=None, **kw):
    """`argv` delivering MSG to <a@b> as usual, whatever the neighbour put in place."""
    return Row(Case(argv=["quillrun", *argv, "a@b"], stdin=MSG, **kw), b"", 0, commands=DIALOGUE, check=check)


def daemon(check, **kw):
    return Row(Case(argv=["quillrun", "-bd"], server=None, daemon=True, timeout=5, **kw),
               re.compile(rb"\ARunning as a fake daemon pid = \d+\n\Z"), ANY, check=check)


# Unix links and FIFOs: Wine sees through the one and has no Windows form of the other.
if not WRAPPED:
    ROWS.update({
        "log_linked_to_a_private_file": delivered(files=PRIVATE, symlinks={"quillrun.log": "/tmp/private"},
                                                  check=link_target_unchanged("quillrun.log")),
        "debug_log_linked_to_a_private_file": delivered("-debug", files=PRIVATE,
                                                        symlinks={"quillrun.debug": "/tmp/private"},
                                                        check=link_target_unchanged("quillrun.debug")),
        "log_linked_to_a_missing_file": delivered(symlinks={"quillrun.log": "/tmp/planted"},
                                                  check=nothing_made_through_the_link),
        "log_a_fifo": delivered(fifos=["quillrun.log"], check=not_waited_on("quillrun.log")),
        "debug_log_a_fifo": delivered("-debug", fifos=["quillrun.debug"],
                                      check=not_waited_on("quillrun.debug")),
        "new_logs_readable_by_their_owner_only": delivered("-debug", check=owner_only("quillrun.log",
                                                                                      "quillrun.debug")),
        "pid_file_linked_to_a_private_file": daemon(daemon_with_pid_file(SECRET.encode()), files=PRIVATE,
                                                    symlinks={"/var/run/quillrun.pid": "/tmp/private"}),
        "pid_file_a_fifo": daemon(daemon_with_pid_file(None), fifos=["/var/run/quillrun.pid"]),
        "config_file_a_fifo": delivered(fifos=["/etc/tidewharf.ini"], check=not_waited_on()),
    })

# The configuration file is the administrator's: it may be a link, and is read through it.
ROWS["config_file_linked_to_a_regular_file"] = delivered(files={"/tmp/admin.ini": "g_smtp_port 2525\n"},
                                                         symlinks={"/etc/tidewharf.ini": "/tmp/admin.ini"}, port=2525)

# On Windows the open spool file cannot be renamed at all (it is opened
# without sharing); under Wine a Linux process still can, so this runs natively.
if not WRAPPED:
    ROWS["spool_file_swapped_for_a_link_once_written"] = Row(
        Case(argv=["quillrun", "a@b"], stdin=MSG, files={"/tmp/private": SECRET}, swap_spool="/tmp/private"),
        b"", 0, check=sent_the_message_not_the_file)


class Neighbours(table(ROWS, workers=2)):
    pass


if __name__ == "__main__":
    import unittest
    unittest.main()
