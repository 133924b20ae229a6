"""Other users and other runs on the same machine: a neighbour who may
rename entries of a shared work directory cannot make the program send
another file than the message, and many runs at once in one work directory
and one working directory each deliver their own message, once.
"""

import re

from harness import SENDER, WRAPPED, Case, Row, table, wire

SECRET = "a private file of the caller\n"
MSG = b"Subject: mine\n\nthe message itself\n"


def sent_the_message_not_the_file(t, r):
    t.assertEqual(r.payload, wire(b"Subject: mine", b"From: <" + SENDER + b">", b"To: <a@b>", b"",
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
